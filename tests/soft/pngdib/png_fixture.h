// Small PNG files written with libpng's writer, for the decoder's tests.
#pragma once

#include <png.h>
#include <stdint.h>

#include <vector>

struct PngFixture {
    uint32_t width = 1;
    uint32_t height = 1;
    int bit_depth = 8;
    int color_type = PNG_COLOR_TYPE_GRAY;
    int interlace = PNG_INTERLACE_NONE;
    // Sample values, row by row, every channel of a pixel in turn (one for
    // gray and palette, two for gray with alpha, three for RGB, four for RGBA).
    std::vector<uint16_t> samples;
    std::vector<png_color> palette;
    std::vector<uint8_t> palette_alpha;  // tRNS of a palette image
    bool has_trns_colour = false;        // tRNS of a gray or RGB image
    png_color_16 trns_colour = {};
    bool has_bkgd = false;
    png_color_16 bkgd = {};
    double gamma = 0.0;  // gAMA when non-zero
    bool srgb = false;
    bool has_phys = false;
    uint32_t phys_x = 0;
    uint32_t phys_y = 0;
    int phys_unit = PNG_RESOLUTION_METER;
};

// The PNG file for `fixture`; empty when libpng refuses it.
std::vector<uint8_t> encodePng(const PngFixture& fixture);

// A PNG file with only a signature, an IHDR of the given fields, one IDAT
// holding `idat` and an IEND: for headers that no real image should need.
std::vector<uint8_t> pngWithHeader(uint32_t width, uint32_t height, int bit_depth, int color_type,
                                   const std::vector<uint8_t>& idat);

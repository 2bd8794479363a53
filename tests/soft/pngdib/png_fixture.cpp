#include "png_fixture.h"

#include <setjmp.h>
#include <string.h>
#include <zlib.h>

namespace {

int channelCount(int color_type) {
    switch (color_type) {
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        default:
            return 1;
    }
}

// Packs the samples into PNG rows: sub-byte samples most significant first,
// 16-bit samples big-endian.
std::vector<uint8_t> packRows(const PngFixture& f, size_t row_bytes) {
    std::vector<uint8_t> rows(row_bytes * f.height, 0);
    const size_t per_row = static_cast<size_t>(f.width) * channelCount(f.color_type);
    for (uint32_t y = 0; y < f.height; ++y) {
        uint8_t* row = rows.data() + y * row_bytes;
        for (size_t i = 0; i < per_row; ++i) {
            const size_t at = y * per_row + i;
            const unsigned v = at < f.samples.size() ? f.samples[at] : 0;
            if (f.bit_depth == 16) {
                row[2 * i] = static_cast<uint8_t>(v >> 8);
                row[2 * i + 1] = static_cast<uint8_t>(v);
            } else if (f.bit_depth == 8) {
                row[i] = static_cast<uint8_t>(v);
            } else {
                const size_t bit = i * f.bit_depth;
                const unsigned shift = 8 - f.bit_depth - bit % 8;
                row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (v << shift));
            }
        }
    }
    return rows;
}

void appendOut(png_structp png, png_bytep data, size_t length) {
    std::vector<uint8_t>* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushOut(png_structp) {}

// Writes with libpng; the only frame a libpng error skips is libpng's own.
bool writePng(const PngFixture& f, png_bytep* rows, std::vector<uint8_t>* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendOut, flushOut);
    png_set_IHDR(png, info, f.width, f.height, f.bit_depth, f.color_type, f.interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!f.palette.empty()) {
        png_set_PLTE(png, info, f.palette.data(), static_cast<int>(f.palette.size()));
    }
    if (!f.palette_alpha.empty()) {
        png_set_tRNS(png, info, f.palette_alpha.data(), static_cast<int>(f.palette_alpha.size()), nullptr);
    } else if (f.has_trns_colour) {
        png_set_tRNS(png, info, nullptr, 1, &f.trns_colour);
    }
    if (f.has_bkgd) {
        png_set_bKGD(png, info, &f.bkgd);
    }
    if (f.gamma != 0.0) {
        png_set_gAMA(png, info, f.gamma);
    }
    if (f.srgb) {
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    }
    if (f.has_phys) {
        png_set_pHYs(png, info, f.phys_x, f.phys_y, f.phys_unit);
    }
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void appendU32(std::vector<uint8_t>* out, uint32_t v) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    out->insert(out->end(), bytes, bytes + 4);
}

void appendChunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
    appendU32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    const uLong crc = crc32(0, out->data() + start, static_cast<uInt>(out->size() - start));
    appendU32(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::vector<uint8_t> encodePng(const PngFixture& f) {
    const size_t bits_per_pixel = static_cast<size_t>(f.bit_depth) * channelCount(f.color_type);
    const size_t row_bytes = (f.width * bits_per_pixel + 7) / 8;
    std::vector<uint8_t> pixels = packRows(f, row_bytes);
    std::vector<png_bytep> rows(f.height);
    for (uint32_t y = 0; y < f.height; ++y) {
        rows[y] = pixels.data() + y * row_bytes;
    }
    std::vector<uint8_t> out;
    if (!writePng(f, rows.data(), &out)) {
        out.clear();
    }
    return out;
}

std::vector<uint8_t> pngWithHeader(uint32_t width, uint32_t height, int bit_depth, int color_type,
                                   const std::vector<uint8_t>& idat) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    appendU32(&ihdr, width);
    appendU32(&ihdr, height);
    ihdr.push_back(static_cast<uint8_t>(bit_depth));
    ihdr.push_back(static_cast<uint8_t>(color_type));
    ihdr.push_back(0);  // compression
    ihdr.push_back(0);  // filter
    ihdr.push_back(0);  // interlace
    appendChunk(&out, "IHDR", ihdr);
    appendChunk(&out, "IDAT", idat);
    appendChunk(&out, "IEND", {});
    return out;
}

#include "soft/pngdib/pngdib.h"

#include <gtest/gtest.h>
#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "png_fixture.h"

namespace {

// A record as a caller makes it: zero-filled, type 2, a zero-filled
// 200-byte message buffer, all from the C heap. Destroying it also frees a
// bitmap from the default allocation.
struct RecordDeleter {
    void operator()(PngDibRecord* record) const {
        if (record->alloc_fn == nullptr) {
            free(record->dib);
        }
        pngdib_destroy(record);
    }
};
using Record = std::unique_ptr<PngDibRecord, RecordDeleter>;

Record newRecord() {
    PngDibRecord* record = static_cast<PngDibRecord*>(calloc(1, sizeof(PngDibRecord)));
    record->type = pngdib_record_type;
    record->message = static_cast<char*>(calloc(200, 1));
    return Record(record);
}

int32_t decodeMemory(PngDibRecord* record, const std::vector<uint8_t>& png) {
    record->input_mode = input_memory;
    record->input_buffer = png.data();
    record->input_size = static_cast<int32_t>(png.size());
    return pngdib_decode(record);
}

const uint8_t* dibBytes(const PngDibRecord* r) {
    return static_cast<const uint8_t*>(r->dib);
}

uint32_t u32At(const PngDibRecord* r, size_t offset) {
    const uint8_t* p = dibBytes(r) + offset;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t u16At(const PngDibRecord* r, size_t offset) {
    const uint8_t* p = dibBytes(r) + offset;
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t strideOf(uint32_t bit_count, uint32_t width) {
    return (bit_count * width + 31) / 32 * 4;
}

// Image row y counted from the top; the bitmap stores the bottom row first.
std::vector<uint8_t> imageRow(const PngDibRecord* r, uint32_t y) {
    const uint32_t width = u32At(r, 4);
    const uint32_t height = u32At(r, 8);
    const uint32_t stride = strideOf(u16At(r, 14), width);
    const uint8_t* row = static_cast<const uint8_t*>(r->bits) + static_cast<size_t>(height - 1 - y) * stride;
    return std::vector<uint8_t>(row, row + stride);
}

std::vector<uint8_t> paletteEntry(const PngDibRecord* r, uint32_t i) {
    const uint8_t* e = static_cast<const uint8_t*>(r->palette) + 4 * i;
    return std::vector<uint8_t>(e, e + 4);
}

// Checks the header and the layout fields of the record against one another.
void expectLayout(const PngDibRecord* r, uint32_t width, uint32_t height, uint32_t bit_count, uint32_t entries) {
    ASSERT_NE(r->dib, nullptr);
    const bool masks = bit_count == 32;
    const uint32_t stride = strideOf(bit_count, width);
    EXPECT_EQ(u32At(r, 0), 40u);
    EXPECT_EQ(u32At(r, 4), width);
    EXPECT_EQ(u32At(r, 8), height);
    EXPECT_EQ(u16At(r, 12), 1u);
    EXPECT_EQ(u16At(r, 14), bit_count);
    EXPECT_EQ(u32At(r, 16), masks ? 3u : 0u);
    EXPECT_EQ(u32At(r, 20), stride * height);
    EXPECT_EQ(u32At(r, 32), entries);
    EXPECT_EQ(u32At(r, 36), 0u);
    EXPECT_EQ(r->palette_offset, 40u);
    EXPECT_EQ(r->palette_entries, static_cast<int32_t>(entries));
    EXPECT_EQ(r->bits_offset, 40u + (masks ? 12u : 0u) + 4 * entries);
    EXPECT_EQ(r->bits_size, stride * height);
    EXPECT_EQ(r->dib_size, r->bits_offset + r->bits_size);
    EXPECT_EQ(r->palette, dibBytes(r) + 40);
    EXPECT_EQ(r->bits, dibBytes(r) + r->bits_offset);
    if (masks) {
        EXPECT_EQ(u32At(r, 40), 0x00FF0000u);
        EXPECT_EQ(u32At(r, 44), 0x0000FF00u);
        EXPECT_EQ(u32At(r, 48), 0x000000FFu);
    }
}

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

png_color rgb(int r, int g, int b) {
    return png_color{static_cast<png_byte>(r), static_cast<png_byte>(g), static_cast<png_byte>(b)};
}

png_color_16 colour16(int index, int r, int g, int b, int gray) {
    png_color_16 c;
    c.index = static_cast<png_byte>(index);
    c.red = static_cast<png_uint_16>(r);
    c.green = static_cast<png_uint_16>(g);
    c.blue = static_cast<png_uint_16>(b);
    c.gray = static_cast<png_uint_16>(gray);
    return c;
}

png_color_16 gray16(int v) {
    return colour16(0, v, v, v, v);
}

// 3 x 2 image over a three-colour palette.
PngFixture paletteImage() {
    PngFixture f;
    f.width = 3;
    f.height = 2;
    f.color_type = PNG_COLOR_TYPE_PALETTE;
    f.palette = {rgb(10, 20, 30), rgb(40, 50, 60), rgb(70, 80, 90)};
    f.samples = {0, 1, 2, 2, 0, 1};
    return f;
}

TEST(PngDibPalette, PaletteImagesWithoutCompositingKeepPlteAndIndices) {
    struct Case {
        const char* name;
        bool trns;
        bool bkgd;
        bool use_file_background;
    };
    const Case cases[] = {
        {"plain", false, false, true},
        {"tRNS without bKGD", true, false, true},
        {"bKGD without tRNS", false, true, true},
        {"tRNS and bKGD, file background not asked for", true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PngFixture f = paletteImage();
        if (c.trns) {
            f.palette_alpha = {0, 128};
        }
        if (c.bkgd) {
            f.has_bkgd = true;
            f.bkgd = colour16(1, 0, 0, 0, 0);
        }
        Record r = newRecord();
        r->use_file_background = c.use_file_background;
        ASSERT_EQ(decodeMemory(r.get(), encodePng(f)), 0) << r->message;
        expectLayout(r.get(), 3, 2, 8, 3);
        EXPECT_EQ(paletteEntry(r.get(), 0), bytes({30, 20, 10, 0}));
        EXPECT_EQ(paletteEntry(r.get(), 1), bytes({60, 50, 40, 0}));
        EXPECT_EQ(paletteEntry(r.get(), 2), bytes({90, 80, 70, 0}));
        EXPECT_EQ(imageRow(r.get(), 0), bytes({0, 1, 2, 0}));
        EXPECT_EQ(imageRow(r.get(), 1), bytes({2, 0, 1, 0}));
        EXPECT_EQ(r->png_color_type, PNG_COLOR_TYPE_PALETTE);
        EXPECT_EQ(r->png_bit_depth, 8);
        EXPECT_EQ(r->png_bits_per_pixel, 8);
        EXPECT_EQ(r->png_interlace, 0);
        const bool used = c.bkgd && c.use_file_background;
        EXPECT_EQ(r->background_valid, used ? 1 : 0);
        if (used) {
            EXPECT_EQ(r->background.red, 40);
            EXPECT_EQ(r->background.green, 50);
            EXPECT_EQ(r->background.blue, 60);
        }
        EXPECT_EQ(r->message[0], '\0');
    }
}

TEST(PngDibPalette, TrnsWithFileBackgroundCompositesTo24Bit) {
    PngFixture f = paletteImage();
    f.palette_alpha = {0, 255, 255};
    f.has_bkgd = true;
    f.bkgd = colour16(2, 0, 0, 0, 0);
    Record r = newRecord();
    r->use_file_background = 1;
    ASSERT_EQ(decodeMemory(r.get(), encodePng(f)), 0) << r->message;
    expectLayout(r.get(), 3, 2, 24, 0);
    // Entry 0 is transparent: it shows the bKGD colour, entry 2's.
    EXPECT_EQ(imageRow(r.get(), 0), bytes({90, 80, 70, 60, 50, 40, 90, 80, 70, 0, 0, 0}));
    EXPECT_EQ(imageRow(r.get(), 1), bytes({90, 80, 70, 90, 80, 70, 60, 50, 40, 0, 0, 0}));
    EXPECT_EQ(r->background_valid, 1);
    EXPECT_EQ(r->background.red, 70);
    EXPECT_EQ(r->background.green, 80);
    EXPECT_EQ(r->background.blue, 90);
}

TEST(PngDibPalette, TwoBitIndicesBecomeFourBitPixels) {
    PngFixture f;
    f.width = 5;
    f.height = 2;
    f.bit_depth = 2;
    f.color_type = PNG_COLOR_TYPE_PALETTE;
    f.palette = {rgb(1, 2, 3), rgb(4, 5, 6), rgb(7, 8, 9), rgb(10, 11, 12)};
    f.samples = {0, 1, 2, 3, 1, 3, 2, 1, 0, 2};
    Record r = newRecord();
    r->use_file_background = 1;
    ASSERT_EQ(decodeMemory(r.get(), encodePng(f)), 0) << r->message;
    expectLayout(r.get(), 5, 2, 4, 4);
    EXPECT_EQ(r->png_bits_per_pixel, 2);
    EXPECT_EQ(paletteEntry(r.get(), 3), bytes({12, 11, 10, 0}));
    EXPECT_EQ(imageRow(r.get(), 0), bytes({0x01, 0x23, 0x10, 0x00}));
    EXPECT_EQ(imageRow(r.get(), 1), bytes({0x32, 0x10, 0x20, 0x00}));
}

TEST(PngDibGray, EveryDepthGivesARampAndItsPixelValues) {
    struct Case {
        int depth;
        std::vector<uint16_t> top_row;  // five pixels; the bottom row is the same reversed
        uint32_t bit_count;
        uint32_t entries;
        std::vector<uint8_t> top_bits;
        std::vector<uint8_t> bottom_bits;
    };
    const Case cases[] = {
        {1, {1, 0, 1, 1, 0}, 1, 2, bytes({0xB0, 0, 0, 0}), bytes({0x68, 0, 0, 0})},
        // 2-bit gray is widened to 4 bits; its ramp keeps one entry per level.
        {2, {0, 1, 2, 3, 2}, 4, 4, bytes({0x01, 0x23, 0x20, 0}), bytes({0x23, 0x21, 0x00, 0})},
        {4, {0, 5, 10, 15, 1}, 4, 16, bytes({0x05, 0xAF, 0x10, 0}), bytes({0x1F, 0xA5, 0x00, 0})},
        {8,
         {0, 1, 128, 254, 255},
         8,
         256,
         bytes({0, 1, 128, 254, 255, 0, 0, 0}),
         bytes({255, 254, 128, 1, 0, 0, 0, 0})},
        {16,
         {0x0000, 0x1234, 0x80FF, 0xFEFF, 0xFFFF},
         8,
         256,
         bytes({0x00, 0x12, 0x80, 0xFE, 0xFF, 0, 0, 0}),
         bytes({0xFF, 0xFE, 0x80, 0x12, 0x00, 0, 0, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("depth " + std::to_string(c.depth));
        PngFixture f;
        f.width = 5;
        f.height = 2;
        f.bit_depth = c.depth;
        f.samples = c.top_row;
        f.samples.insert(f.samples.end(), c.top_row.rbegin(), c.top_row.rend());
        Record r = newRecord();
        r->use_file_background = 1;
        ASSERT_EQ(decodeMemory(r.get(), encodePng(f)), 0) << r->message;
        expectLayout(r.get(), 5, 2, c.bit_count, c.entries);
        EXPECT_EQ(r->png_bit_depth, c.depth);
        EXPECT_EQ(r->png_bits_per_pixel, c.depth);
        for (uint32_t i = 0; i < c.entries; ++i) {
            const int v = static_cast<int>(i * 255 / (c.entries - 1));
            ASSERT_EQ(paletteEntry(r.get(), i), bytes({v, v, v, 0})) << "entry " << i;
        }
        EXPECT_EQ(imageRow(r.get(), 0), c.top_bits);
        EXPECT_EQ(imageRow(r.get(), 1), c.bottom_bits);
        EXPECT_EQ(r->background_valid, 0);
    }
}

TEST(PngDibGray, TransparentLevelTakesTheBackgroundInTheRamp) {
    struct Case {
        const char* name;
        int depth;
        int trns;
        bool bkgd;
        int bkgd_gray;
        bool use_file;
        bool use_custom;
        std::vector<uint8_t> entry;  // the transparent entry, blue green red and the fourth byte
    };
    const Case cases[] = {
        {"8-bit, file bKGD", 8, 7, true, 200, true, false, bytes({200, 200, 200, 0})},
        {"4-bit, file bKGD scaled", 4, 3, true, 5, true, false, bytes({85, 85, 85, 0})},
        {"2-bit, file bKGD scaled", 2, 1, true, 2, true, false, bytes({170, 170, 170, 0})},
        {"8-bit, custom colour", 8, 7, false, 0, false, true, bytes({30, 20, 10, 0})},
        {"8-bit, file bKGD wins over custom", 8, 7, true, 200, true, true, bytes({200, 200, 200, 0})},
        {"8-bit, no background asked for", 8, 7, true, 200, false, false, bytes({7, 7, 7, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PngFixture f;
        f.width = 2;
        f.height = 1;
        f.bit_depth = c.depth;
        f.samples = {static_cast<uint16_t>(c.trns), 0};
        f.has_trns_colour = true;
        f.trns_colour = gray16(c.trns);
        f.has_bkgd = c.bkgd;
        f.bkgd = gray16(c.bkgd_gray);
        Record r = newRecord();
        r->use_file_background = c.use_file;
        r->use_custom_background = c.use_custom;
        r->background = PngDibColor{10, 20, 30};
        ASSERT_EQ(decodeMemory(r.get(), encodePng(f)), 0) << r->message;
        const uint32_t entries = 1u << c.depth;
        expectLayout(r.get(), 2, 1, c.depth == 2 ? 4 : c.depth, entries);
        EXPECT_EQ(paletteEntry(r.get(), c.trns), c.entry);
        for (uint32_t i = 0; i < entries; ++i) {
            if (i != static_cast<uint32_t>(c.trns)) {
                const int v = static_cast<int>(i * 255 / (entries - 1));
                ASSERT_EQ(paletteEntry(r.get(), i), bytes({v, v, v, 0})) << "entry " << i;
            }
        }
        // The pixels keep their gray levels; only the palette changes.
        const uint8_t first = imageRow(r.get(), 0)[0];
        EXPECT_EQ(c.depth == 8 ? first : first >> 4, c.trns);
        const bool used = (c.use_file && c.bkgd) || c.use_custom;
        EXPECT_EQ(r->background_valid, used ? 1 : 0);
        if (used) {
            EXPECT_EQ(r->background.blue, c.entry[0]);
            EXPECT_EQ(r->background.green, c.entry[1]);
            EXPECT_EQ(r->background.red, c.entry[2]);
        }
    }
}

// A 2 x 1 image of the given type: a first pixel that is opaque and a second
// that is transparent (alpha 0, or the tRNS colour).
struct TwoPixels {
    const char* name;
    PngFixture fixture;
};

std::vector<TwoPixels> transparentImages() {
    std::vector<TwoPixels> out;
    PngFixture f;
    f.width = 2;
    f.height = 1;

    f.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    f.samples = {10, 20, 30, 255, 40, 50, 60, 0};
    out.push_back({"RGBA 8", f});

    f.bit_depth = 16;
    f.samples = {0x0A00, 0x1400, 0x1E00, 0xFFFF, 0x2800, 0x3200, 0x3C00, 0};
    out.push_back({"RGBA 16", f});

    f.bit_depth = 8;
    f.color_type = PNG_COLOR_TYPE_RGB;
    f.samples = {10, 20, 30, 40, 50, 60};
    f.has_trns_colour = true;
    f.trns_colour = colour16(0, 40, 50, 60, 0);
    out.push_back({"RGB with tRNS", f});
    f.has_trns_colour = false;

    f.color_type = PNG_COLOR_TYPE_GRAY_ALPHA;
    f.samples = {10, 255, 40, 0};
    out.push_back({"gray with alpha", f});

    f.color_type = PNG_COLOR_TYPE_GRAY;
    f.samples = {10, 40};
    f.has_trns_colour = true;
    f.trns_colour = gray16(40);
    out.push_back({"gray with tRNS", f});

    f.bit_depth = 16;
    f.samples = {0x0A00, 0x2800};
    f.trns_colour = gray16(0x2800);
    out.push_back({"gray 16 with tRNS", f});
    f.has_trns_colour = false;

    f.bit_depth = 8;
    f.color_type = PNG_COLOR_TYPE_PALETTE;
    f.palette = {rgb(10, 20, 30), rgb(40, 50, 60)};
    f.palette_alpha = {255, 0};
    f.samples = {0, 1};
    out.push_back({"palette with tRNS", f});
    return out;
}

bool isGray(const PngFixture& f) {
    return (f.color_type & PNG_COLOR_MASK_COLOR) == 0;
}

TEST(PngDibAlpha32, TransparentImagesComeOutAsBgraWithMasks) {
    for (const TwoPixels& t : transparentImages()) {
        SCOPED_TRACE(t.name);
        Record r = newRecord();
        r->want_alpha32 = 1;
        r->use_file_background = 1;
        ASSERT_EQ(decodeMemory(r.get(), encodePng(t.fixture)), 0) << r->message;
        expectLayout(r.get(), 2, 1, 32, 0);
        const std::vector<uint8_t> first = isGray(t.fixture) ? bytes({10, 10, 10, 255}) : bytes({30, 20, 10, 255});
        const std::vector<uint8_t> second = isGray(t.fixture) ? bytes({40, 40, 40, 0}) : bytes({60, 50, 40, 0});
        std::vector<uint8_t> expected = first;
        expected.insert(expected.end(), second.begin(), second.end());
        EXPECT_EQ(imageRow(r.get(), 0), expected);
    }
}

TEST(PngDibAlpha32, OpaqueImagesKeepTheirFormat) {
    PngFixture rgb_image;
    rgb_image.width = 2;
    rgb_image.color_type = PNG_COLOR_TYPE_RGB;
    rgb_image.samples = {10, 20, 30, 40, 50, 60};
    Record r = newRecord();
    r->want_alpha32 = 1;
    ASSERT_EQ(decodeMemory(r.get(), encodePng(rgb_image)), 0) << r->message;
    expectLayout(r.get(), 2, 1, 24, 0);
    EXPECT_EQ(imageRow(r.get(), 0), bytes({30, 20, 10, 60, 50, 40, 0, 0}));

    Record p = newRecord();
    p->want_alpha32 = 1;
    ASSERT_EQ(decodeMemory(p.get(), encodePng(paletteImage())), 0) << p->message;
    expectLayout(p.get(), 3, 2, 8, 3);
}

TEST(PngDibTrueColour, AlphaAndTrnsWithoutBackgroundAreDropped) {
    for (const TwoPixels& t : transparentImages()) {
        SCOPED_TRACE(t.name);
        Record r = newRecord();
        r->use_file_background = 1;  // the fixtures have no bKGD
        ASSERT_EQ(decodeMemory(r.get(), encodePng(t.fixture)), 0) << r->message;
        if (t.fixture.color_type == PNG_COLOR_TYPE_PALETTE) {
            expectLayout(r.get(), 2, 1, 8, 2);
            EXPECT_EQ(imageRow(r.get(), 0), bytes({0, 1, 0, 0}));
        } else if (isGray(t.fixture)) {
            expectLayout(r.get(), 2, 1, 8, 256);
            EXPECT_EQ(imageRow(r.get(), 0), bytes({10, 40, 0, 0}));
        } else {
            expectLayout(r.get(), 2, 1, 24, 0);
            EXPECT_EQ(imageRow(r.get(), 0), bytes({30, 20, 10, 60, 50, 40, 0, 0}));
        }
        EXPECT_EQ(r->background_valid, 0);
    }
}

TEST(PngDibBackground, TransparentPixelsTakeTheBackgroundColour) {
    struct Setting {
        const char* name;
        bool file_bkgd;  // the file carries bKGD (200, 100, 50) and use_file_background is set
        bool custom;     // use_custom_background with `custom`
        PngDibColor custom_colour;
    };
    const Setting settings[] = {
        {"file bKGD", true, false, {0, 0, 0}},
        {"custom colour", false, true, {200, 100, 50}},
        {"file bKGD wins over custom", true, true, {1, 2, 3}},
        {"custom gray", false, true, {90, 90, 90}},
    };
    for (const Setting& s : settings) {
        for (TwoPixels t : transparentImages()) {
            SCOPED_TRACE(std::string(s.name) + ", " + t.name);
            const bool gray = isGray(t.fixture);
            const bool sixteen = t.fixture.bit_depth == 16;
            if (s.file_bkgd) {
                t.fixture.has_bkgd = true;
                const int scale = sixteen ? 257 : 1;
                t.fixture.bkgd = gray ? gray16(90 * scale) : colour16(0, 200 * scale, 100 * scale, 50 * scale, 0);
                if (t.fixture.color_type == PNG_COLOR_TYPE_PALETTE) {
                    t.fixture.palette.push_back(rgb(200, 100, 50));
                    t.fixture.bkgd = colour16(2, 0, 0, 0, 0);
                }
            }
            Record r = newRecord();
            r->use_file_background = s.file_bkgd;
            r->use_custom_background = s.custom;
            r->background = s.custom_colour;
            ASSERT_EQ(decodeMemory(r.get(), encodePng(t.fixture)), 0) << r->message;

            const PngDibColor used =
                s.file_bkgd ? (gray ? PngDibColor{90, 90, 90} : PngDibColor{200, 100, 50}) : s.custom_colour;
            EXPECT_EQ(r->background_valid, 1);
            EXPECT_EQ(r->background.red, used.red);
            EXPECT_EQ(r->background.green, used.green);
            EXPECT_EQ(r->background.blue, used.blue);

            // Gray of at most 8 bits with tRNS keeps its ramp and paints the
            // transparent level; other gray images stay gray when the colour
            // is a gray.
            const bool gray_out = gray && ((t.fixture.bit_depth <= 8 && t.fixture.has_trns_colour) ||
                                           (used.red == used.green && used.green == used.blue));
            const uint32_t bit_count = u16At(r.get(), 14);
            if (t.fixture.color_type == PNG_COLOR_TYPE_PALETTE && !s.file_bkgd) {
                // A custom colour is composited into the palette itself.
                ASSERT_EQ(bit_count, 8u);
                const uint32_t entries = u32At(r.get(), 32);
                expectLayout(r.get(), 2, 1, 8, entries);
                EXPECT_EQ(imageRow(r.get(), 0), bytes({0, 1, 0, 0}));
                EXPECT_EQ(paletteEntry(r.get(), 0), bytes({30, 20, 10, 0}));
                EXPECT_EQ(paletteEntry(r.get(), 1), bytes({used.blue, used.green, used.red, 0}));
            } else if (gray_out) {
                expectLayout(r.get(), 2, 1, 8, 256);
                const std::vector<uint8_t> row = imageRow(r.get(), 0);
                EXPECT_EQ(row[0], 10);
                // The transparent pixel shows the background, either in the
                // pixel itself or through the ramp entry of its level.
                const std::vector<uint8_t> shown = paletteEntry(r.get(), row[1]);
                EXPECT_EQ(shown, bytes({used.blue, used.green, used.red, 0}));
            } else {
                expectLayout(r.get(), 2, 1, 24, 0);
                const std::vector<uint8_t> first = gray ? bytes({10, 10, 10}) : bytes({30, 20, 10});
                std::vector<uint8_t> expected = first;
                const std::vector<uint8_t> second = bytes({used.blue, used.green, used.red, 0, 0});
                expected.insert(expected.end(), second.begin(), second.end());
                EXPECT_EQ(imageRow(r.get(), 0), expected);
            }
        }
    }
}

TEST(PngDibInterlace, Adam7GivesTheSameBitmapAsProgressive) {
    PngFixture colour;
    colour.width = 9;
    colour.height = 7;
    colour.color_type = PNG_COLOR_TYPE_RGB;
    for (uint32_t i = 0; i < 9 * 7 * 3; ++i) {
        colour.samples.push_back(static_cast<uint16_t>((i * 37) & 0xFF));
    }
    PngFixture two_bit;
    two_bit.width = 9;
    two_bit.height = 7;
    two_bit.bit_depth = 2;
    two_bit.color_type = PNG_COLOR_TYPE_PALETTE;
    two_bit.palette = {rgb(1, 2, 3), rgb(4, 5, 6), rgb(7, 8, 9), rgb(10, 11, 12)};
    for (uint32_t i = 0; i < 9 * 7; ++i) {
        two_bit.samples.push_back(static_cast<uint16_t>((i * 7 + i / 9) % 4));
    }
    for (PngFixture f : {colour, two_bit}) {
        SCOPED_TRACE(f.bit_depth);
        Record progressive = newRecord();
        ASSERT_EQ(decodeMemory(progressive.get(), encodePng(f)), 0) << progressive->message;
        f.interlace = PNG_INTERLACE_ADAM7;
        Record interlaced = newRecord();
        ASSERT_EQ(decodeMemory(interlaced.get(), encodePng(f)), 0) << interlaced->message;
        EXPECT_EQ(interlaced->png_interlace, 1);
        ASSERT_EQ(interlaced->dib_size, progressive->dib_size);
        EXPECT_EQ(memcmp(interlaced->dib, progressive->dib, progressive->dib_size), 0);
        // Spot-check the bottom-up order against the fixture.
        if (f.bit_depth == 8) {
            EXPECT_EQ(imageRow(interlaced.get(), 0)[0], f.samples[2]);
            EXPECT_EQ(imageRow(interlaced.get(), 6)[0], f.samples[6 * 27 + 2]);
        } else {
            EXPECT_EQ(imageRow(interlaced.get(), 6)[0] >> 4, f.samples[6 * 9]);
        }
    }
}

// Counts calls of the caller's allocation functions.
struct AllocLog {
    int allocs = 0;
    int frees = 0;
    uint32_t last_size = 0;
    void* block = nullptr;
    void* freed = nullptr;
    bool refuse = false;
};

void* logAlloc(void* user, uint32_t size) {
    AllocLog* log = static_cast<AllocLog*>(user);
    ++log->allocs;
    log->last_size = size;
    if (log->refuse) {
        return nullptr;
    }
    log->block = malloc(size);
    memset(log->block, 0xAA, size);
    return log->block;
}

void logFree(void* user, void* block) {
    AllocLog* log = static_cast<AllocLog*>(user);
    ++log->frees;
    log->freed = block;
    free(block);
}

TEST(PngDibFailure, TruncatedInputFailsWithLibpngText) {
    const std::vector<uint8_t> png = encodePng(paletteImage());
    // Cut inside the signature, inside IHDR, inside IDAT, and before IEND.
    const size_t cuts[] = {4, 20, png.size() - 20, png.size() - 12};
    for (size_t cut : cuts) {
        SCOPED_TRACE(cut);
        AllocLog log;
        Record r = newRecord();
        r->alloc_fn = logAlloc;
        r->free_fn = logFree;
        r->user_data = &log;
        const std::vector<uint8_t> part(png.begin(), png.begin() + static_cast<ptrdiff_t>(cut));
        EXPECT_EQ(decodeMemory(r.get(), part), pngdib_error_libpng);
        EXPECT_STREQ(r->message, "[libpng] read error: unexpected end of file");
        EXPECT_EQ(r->dib, nullptr);
        EXPECT_EQ(r->palette, nullptr);
        EXPECT_EQ(r->bits, nullptr);
        // A block allocated before the error goes back through free_fn.
        EXPECT_EQ(log.frees, log.allocs);
        if (log.allocs > 0) {
            EXPECT_EQ(log.freed, log.block);
        }
    }
}

TEST(PngDibFailure, InputProblemsGiveTheirCodes) {
    const std::vector<uint8_t> png = encodePng(paletteImage());
    struct Case {
        const char* name;
        int32_t mode;
        const char* file;
        const uint8_t* buffer;
        int32_t size;
        int32_t code;
        const char* message;
    };
    const char* eof = "[libpng] read error: unexpected end of file";
    const Case cases[] = {
        {"unknown mode", 7, nullptr, png.data(), static_cast<int32_t>(png.size()), 1, "Unknown error"},
        {"file mode without a name", input_file, nullptr, nullptr, 0, 1, "Input filename not set"},
        {"missing file", input_file, "/nonexistent/quindral/none.png", nullptr, 0, 8, "Unable to read file"},
        {"memory without a buffer", input_memory, nullptr, nullptr, 100, 5, eof},
        {"memory of size 0", input_memory, nullptr, png.data(), 0, 5, eof},
        {"memory of negative size", input_memory, nullptr, png.data(), -5, 5, eof},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Record r = newRecord();
        r->input_mode = c.mode;
        r->input_file_name = c.file != nullptr ? strdup(c.file) : nullptr;
        r->input_buffer = c.buffer;
        r->input_size = c.size;
        r->png_color_type = -3;  // outputs the decoder never reaches keep their value
        EXPECT_EQ(pngdib_decode(r.get()), c.code);
        EXPECT_STREQ(r->message, c.message);
        EXPECT_EQ(r->dib, nullptr);
        EXPECT_EQ(r->png_color_type, -3);
    }
}

TEST(PngDibFailure, HeaderTooLargeForA32BitBlockIsRefused) {
    // 1000000 RGB pixels a row: a stride of 3000000 bytes. 1431 rows still fit
    // in 32 bits and reach the allocation; 1432 rows do not and are refused
    // before it.
    struct Case {
        uint32_t height;
        int allocs;
        uint32_t size;
    };
    const Case cases[] = {{1431, 1, 40u + 3000000u * 1431u}, {1432, 0, 0}, {1000000, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        AllocLog log;
        log.refuse = true;
        Record r = newRecord();
        r->alloc_fn = logAlloc;
        r->free_fn = logFree;
        r->user_data = &log;
        EXPECT_EQ(decodeMemory(r.get(), pngWithHeader(1000000, c.height, 8, PNG_COLOR_TYPE_RGB, {0})),
                  pngdib_error_memory);
        EXPECT_STREQ(r->message, "Unable to allocate memory");
        EXPECT_EQ(log.allocs, c.allocs);
        EXPECT_EQ(log.last_size, c.size);
        EXPECT_EQ(log.frees, 0);
        EXPECT_EQ(r->dib, nullptr);
    }
}

TEST(PngDibFailure, NullMessageBufferIsNotWritten) {
    Record r = newRecord();
    free(r->message);
    r->message = nullptr;
    const std::vector<uint8_t> png = encodePng(paletteImage());
    EXPECT_EQ(decodeMemory(r.get(), std::vector<uint8_t>(png.begin(), png.begin() + 30)), pngdib_error_libpng);
    r->input_mode = 9;
    EXPECT_EQ(pngdib_decode(r.get()), pngdib_error_unknown);
}

TEST(PngDibInput, FileModeDecodesLikeMemory) {
    const std::vector<uint8_t> png = encodePng(paletteImage());
    const std::string path = ::testing::TempDir() + "pngdib_file_mode.png";
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(png.data(), 1, png.size(), file), png.size());
    fclose(file);

    Record from_memory = newRecord();
    ASSERT_EQ(decodeMemory(from_memory.get(), png), 0);
    Record from_file = newRecord();
    from_file->input_mode = input_file;
    from_file->input_file_name = strdup(path.c_str());
    ASSERT_EQ(pngdib_decode(from_file.get()), 0) << from_file->message;
    ASSERT_EQ(from_file->dib_size, from_memory->dib_size);
    EXPECT_EQ(memcmp(from_file->dib, from_memory->dib, from_memory->dib_size), 0);

    // A truncated file fails like truncated memory, and the file is closed
    // (the leak checker would report it otherwise).
    file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(png.data(), 1, png.size() - 20, file), png.size() - 20);
    fclose(file);
    Record truncated = newRecord();
    truncated->input_mode = input_file;
    truncated->input_file_name = strdup(path.c_str());
    EXPECT_EQ(pngdib_decode(truncated.get()), pngdib_error_libpng);
    EXPECT_EQ(strncmp(truncated->message, "[libpng] ", 9), 0) << truncated->message;
    EXPECT_EQ(truncated->dib, nullptr);
    remove(path.c_str());
}

TEST(PngDibAllocation, CallerBlockIsUsedAndUntouchedBytesKeepItsContent) {
    PngFixture f = paletteImage();
    AllocLog log;
    Record r = newRecord();
    r->alloc_fn = logAlloc;
    r->free_fn = logFree;
    r->user_data = &log;
    ASSERT_EQ(decodeMemory(r.get(), encodePng(f)), 0) << r->message;
    EXPECT_EQ(log.allocs, 1);
    EXPECT_EQ(log.frees, 0);
    EXPECT_EQ(r->dib, log.block);
    EXPECT_EQ(log.last_size, r->dib_size);
    expectLayout(r.get(), 3, 2, 8, 3);
    // Neither the resolution fields (no pHYs), the fourth palette byte nor
    // the row tails are written.
    EXPECT_EQ(u32At(r.get(), 24), 0xAAAAAAAAu);
    EXPECT_EQ(u32At(r.get(), 28), 0xAAAAAAAAu);
    EXPECT_EQ(paletteEntry(r.get(), 1), bytes({60, 50, 40, 0xAA}));
    EXPECT_EQ(imageRow(r.get(), 0), bytes({0, 1, 2, 0xAA}));
    free(r->dib);

    AllocLog refusing;
    refusing.refuse = true;
    Record refused = newRecord();
    refused->alloc_fn = logAlloc;
    refused->user_data = &refusing;
    EXPECT_EQ(decodeMemory(refused.get(), encodePng(f)), pngdib_error_memory);
    EXPECT_STREQ(refused->message, "Unable to allocate memory");
    EXPECT_EQ(refusing.allocs, 1);
    EXPECT_EQ(refused->dib, nullptr);
}

TEST(PngDibResolution, PhysFillsTheRecordAndTheMetreFields) {
    struct Case {
        const char* name;
        bool phys;
        uint32_t x;
        uint32_t y;
        int unit;
        int32_t res_valid;
        uint32_t header_x;
        uint32_t header_y;
    };
    const Case cases[] = {
        {"no pHYs", false, 0, 0, 0, 0, 0, 0},
        {"metre", true, 2835, 3780, PNG_RESOLUTION_METER, 1, 2835, 3780},
        {"unknown unit", true, 3, 2, PNG_RESOLUTION_UNKNOWN, 1, 0, 0},
        {"metre with a zero value", true, 0, 100, PNG_RESOLUTION_METER, 0, 0, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PngFixture f = paletteImage();
        f.has_phys = c.phys;
        f.phys_x = c.x;
        f.phys_y = c.y;
        f.phys_unit = c.unit;
        Record r = newRecord();
        ASSERT_EQ(decodeMemory(r.get(), encodePng(f)), 0) << r->message;
        EXPECT_EQ(r->res_valid, c.res_valid);
        EXPECT_EQ(r->res_x, c.res_valid ? c.x : 0u);
        EXPECT_EQ(r->res_y, c.res_valid ? c.y : 0u);
        EXPECT_EQ(r->res_unit, c.res_valid ? c.unit : 0);
        EXPECT_EQ(u32At(r.get(), 24), c.header_x);
        EXPECT_EQ(u32At(r.get(), 28), c.header_y);
    }
}

TEST(PngDibGamma, AdjustFollowsTheCombinedGamma) {
    struct Case {
        double screen;
        double file;
        uint8_t in;
        uint8_t out;
    };
    const Case cases[] = {
        {1.0, 1.0, 100, 100},                           // no correction
        {2.2, 0.45455, 100, 100},                       // product within 0.05 of 1
        {1.04, 1.0, 100, 100},    {1.0, 0.5, 128, 64},  // exponent 2: 255 * (128/255)^2 + 0.5 = 64.75
        {2.0, 1.0, 64, 128},                            // exponent 0.5: 255 * (64/255)^0.5 + 0.5 = 128.25
        {2.0, 1.0, 0, 0},         {2.0, 1.0, 255, 255}, {1e-7, 3.0, 77, 77},  // screen gamma too small: exponent 1
        {-2.0, 1.0, 77, 77},                                                  // product not positive: no correction
        {2.0, -0.5, 77, 77},  // (would raise the level to a negative power)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.screen << " x " << c.file << ", " << int(c.in));
        uint8_t red = c.in;
        uint8_t green = c.in;
        uint8_t blue = 255;
        pngdib_gamma_adjust(c.screen, c.file, &red, &green, &blue);
        EXPECT_EQ(red, c.out);
        EXPECT_EQ(green, c.out);
        EXPECT_EQ(blue, 255);
    }
}

TEST(PngDibGamma, DecodeRecordsAndAppliesTheFileGamma) {
    PngFixture gray;
    gray.width = 2;
    gray.samples = {64, 200};
    PngFixture colour;
    colour.width = 1;
    colour.color_type = PNG_COLOR_TYPE_RGB;
    colour.samples = {64, 128, 0};

    struct Case {
        const char* name;
        PngFixture fixture;
        double gamma;
        bool srgb;
        int32_t correct;
        int32_t file_gamma_valid;
        double file_gamma;
    };
    const Case cases[] = {
        {"gray, gAMA 1.0, corrected", gray, 1.0, false, 1, 1, 1.0},
        {"gray, gAMA 1.0, not corrected", gray, 1.0, false, 0, 1, 1.0},
        {"gray, sRGB", gray, 0.0, true, 0, 1, 0.45455},
        {"gray, no gamma chunk", gray, 0.0, false, 0, 0, -1.0},
        {"colour, gAMA 1.0, corrected", colour, 1.0, false, 1, 1, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PngFixture f = c.fixture;
        f.gamma = c.gamma;
        f.srgb = c.srgb;
        Record r = newRecord();
        r->gamma_correct = c.correct;
        r->screen_gamma = 2.0;
        r->file_gamma = -1.0;
        ASSERT_EQ(decodeMemory(r.get(), encodePng(f)), 0) << r->message;
        EXPECT_EQ(r->file_gamma_valid, c.file_gamma_valid);
        EXPECT_DOUBLE_EQ(r->file_gamma, c.file_gamma);
        const bool corrected = c.correct && c.gamma == 1.0;
        if (f.color_type == PNG_COLOR_TYPE_GRAY) {
            // Through the ramp; the pixels keep their levels.
            EXPECT_EQ(imageRow(r.get(), 0)[0], 64);
            EXPECT_EQ(paletteEntry(r.get(), 64)[0], corrected ? 128 : 64);
            EXPECT_EQ(paletteEntry(r.get(), 255)[0], 255);
        } else {
            // By libpng on the pixels: 0, 64 -> 128, 128 -> 181.
            EXPECT_EQ(imageRow(r.get(), 0), bytes({0, 181, 128, 0}));
        }
    }

    // The file background is corrected too.
    PngFixture trns = gray;
    trns.gamma = 1.0;
    trns.has_trns_colour = true;
    trns.trns_colour = gray16(200);
    trns.has_bkgd = true;
    trns.bkgd = gray16(64);
    Record r = newRecord();
    r->use_file_background = 1;
    r->gamma_correct = 1;
    r->screen_gamma = 2.0;
    ASSERT_EQ(decodeMemory(r.get(), encodePng(trns)), 0) << r->message;
    EXPECT_EQ(r->background.red, 128);
    EXPECT_EQ(paletteEntry(r.get(), 200), bytes({128, 128, 128, 0}));
}

TEST(PngDibRecord, DestroyFreesOwnedFieldsOnly) {
    EXPECT_EQ(pngdib_destroy(nullptr), 0);

    PngDibRecord* record = static_cast<PngDibRecord*>(calloc(1, sizeof(PngDibRecord)));
    record->type = pngdib_record_type;
    record->message = static_cast<char*>(calloc(200, 1));
    record->input_file_name = strdup("owned.png");
    EXPECT_EQ(pngdib_destroy(record), 1);  // the leak checker sees both buffers freed

    // The file name belongs to type-2 records only.
    char* name = strdup("kept.png");
    PngDibRecord* other = static_cast<PngDibRecord*>(calloc(1, sizeof(PngDibRecord)));
    other->type = 3;
    other->input_file_name = name;
    EXPECT_EQ(pngdib_destroy(other), 1);
    EXPECT_STREQ(name, "kept.png");
    free(name);

    // The bitmap outlives the record.
    Record r = newRecord();
    ASSERT_EQ(decodeMemory(r.get(), encodePng(paletteImage())), 0);
    void* dib = r->dib;
    const uint32_t size = r->dib_size;
    r->dib = nullptr;
    r.reset();
    EXPECT_EQ(static_cast<uint8_t*>(dib)[0], 40);
    EXPECT_EQ(static_cast<uint8_t*>(dib)[size - 1], 0);
    free(dib);
}

TEST(PngDibMessages, ErrorTextForEveryCode) {
    const char* const texts[] = {
        "Unknown error",
        "Incompatible library version",
        "Unable to allocate memory",
        "Invalid or unsupported image",
        "libpng reported an error",
        "Invalid BMP image",
        "Invalid PNG image",
        "Unable to read file",
        "Unable to write file",
    };
    for (int32_t code = 1; code <= 9; ++code) {
        char buffer[200];
        memset(buffer, '#', sizeof buffer);
        pngdib_error_text(code, buffer);
        EXPECT_STREQ(buffer, texts[code - 1]);
    }
    for (int32_t code : {0, 10, -1, 1000}) {
        char buffer[8];
        memset(buffer, '#', sizeof buffer);
        pngdib_error_text(code, buffer);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(8, '#')) << code;
    }
}

// Raises a libpng error with `text` through the decoder's handler and
// returns once the handler has jumped back.
void raiseThroughHandler(const char* text, char* message) {
    PngDibErrorTarget target;
    target.message = message;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &target, pngdib_on_error, pngdib_on_warning);
    if (png == nullptr) {
        return;
    }
    if (setjmp(target.return_point) == 0) {
        png_warning(png, "ignored");
        png_error(png, text);
    }
    png_destroy_read_struct(&png, nullptr, nullptr);
}

TEST(PngDibMessages, HandlerTextIsBoundedTo100Bytes) {
    char message[200];
    memset(message, '~', sizeof message);
    const std::string long_text(150, 'x');
    raiseThroughHandler(long_text.c_str(), message);
    EXPECT_EQ(strlen(message), 99u);
    EXPECT_EQ(std::string(message, 9), "[libpng] ");
    EXPECT_EQ(std::string(message + 9, 90), std::string(90, 'x'));
    EXPECT_EQ(std::string(message + 100, 100), std::string(100, '~'));

    memset(message, '~', sizeof message);
    raiseThroughHandler("short", message);
    EXPECT_STREQ(message, "[libpng] short");
}

}  // namespace

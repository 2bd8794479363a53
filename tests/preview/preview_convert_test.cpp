// Preview pictures into palette textures: decoding real PNG files written by
// the tests, the transparency walk, and the copy into the texture.
#include "preview/preview_convert.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "png_fixture.h"
#include "serving/packed_file.h"
#include "support/test_folder.h"
#include "tremix/tremix_driver.h"

namespace {

// A one-entry MultiFileBin holding one texture of width x height as created.
struct OneTexture {
    std::vector<uint8_t> bin;
    uint32_t width, height;
    OneTexture(uint32_t w, uint32_t h) : width(w), height(h) {
        uint32_t size = 0;
        EXPECT_TRUE(paletteTextureSize(w, h, &size));
        bin.assign(20 + size, 0);
        writeMultiFileBinHeader(bin.data(), uint32_t(bin.size()), 1);
        writeMultiFileBinEntry(bin.data(), uint32_t(bin.size()), 0, MultiFileBinEntry{20, size, MultiFileBinNoName});
        writePaletteTexture(bin.data(), uint32_t(bin.size()), 20, w, h);
    }
    const uint8_t* texture() const { return bin.data() + 20; }
    std::vector<uint8_t> paletteEntry(uint32_t k) const {
        return std::vector<uint8_t>(texture() + 16 + 4 * k, texture() + 20 + 4 * k);
    }
    uint8_t pixel(uint32_t x, uint32_t y) const { return texture()[1040 + y * width + x]; }
    bool asCreated() const {
        OneTexture fresh(width, height);
        return fresh.bin == bin;
    }
};

// Converts the PNG bytes `png` (written to a file) into `texture`.
void convert(const std::vector<uint8_t>& png, OneTexture& texture) {
    TestFolder folder;
    std::filesystem::path file = folder.write("preview.png", std::string(png.begin(), png.end()));
    std::u16string path = tremixUtf8ToUtf16(file.string());
    const char16_t* paths[] = {path.c_str()};
    convertPreviewImages(1, paths, texture.bin.data(), uint32_t(texture.bin.size()));
}

PngFixture palettePicture(uint32_t width, uint32_t height, int depth, uint32_t colours) {
    PngFixture f;
    f.width = width;
    f.height = height;
    f.bit_depth = depth;
    f.color_type = PNG_COLOR_TYPE_PALETTE;
    for (uint32_t k = 0; k < colours; ++k) {
        f.palette.push_back(png_color{uint8_t(10 + k), uint8_t(100 + k), uint8_t(200 - k)});
    }
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x)
            f.samples.push_back(uint16_t((x + 3 * y) % colours));
    }
    return f;
}

TEST(PreviewConvertTest, FourBitPaletteWithOneTransparentEntry) {
    PngFixture f = palettePicture(5, 3, 4, 16);
    f.palette_alpha = {0};
    OneTexture t(8, 4);
    convert(encodePng(f), t);
    EXPECT_EQ(t.paletteEntry(0), (std::vector<uint8_t>{10, 100, 200, 0})) << "red, green, blue, alpha";
    for (uint32_t k = 1; k < 16; ++k) {
        EXPECT_EQ(t.paletteEntry(k), (std::vector<uint8_t>{uint8_t(10 + k), uint8_t(100 + k), uint8_t(200 - k), 255}));
    }
    for (uint32_t k = 16; k < 256; ++k)
        EXPECT_EQ(t.paletteEntry(k), (std::vector<uint8_t>{0, 0, 0, 0}));
    // Top row first; the last (odd) column from the high nibble of the last byte.
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
            const uint8_t want = (x < 5 && y < 3) ? uint8_t((x + 3 * y) % 16) : 0;
            EXPECT_EQ(t.pixel(x, y), want) << x << "," << y;
        }
    }
}

TEST(PreviewConvertTest, EightBitWithoutTransparencyAndAnUnevenStride) {
    // 130 pixels: a bitmap row of 132 bytes.
    PngFixture f = palettePicture(130, 3, 8, 200);
    OneTexture t(130, 3);
    convert(encodePng(f), t);
    for (uint32_t k = 0; k < 200; ++k)
        EXPECT_EQ(t.paletteEntry(k)[3], 255);
    EXPECT_EQ(t.paletteEntry(200), (std::vector<uint8_t>{0, 0, 0, 0}));
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 130; ++x)
            ASSERT_EQ(t.pixel(x, y), (x + 3 * y) % 200) << x << "," << y;
    }
}

TEST(PreviewConvertTest, TwoBitPaletteIsConvertedOneBitIsNot) {
    PngFixture two = palettePicture(3, 2, 2, 4);
    OneTexture t2(4, 2);
    convert(encodePng(two), t2);
    EXPECT_FALSE(t2.asCreated());
    EXPECT_EQ(t2.pixel(2, 1), (2 + 3) % 4);

    PngFixture one = palettePicture(3, 2, 1, 2);
    OneTexture t1(4, 2);
    convert(encodePng(one), t1);
    EXPECT_TRUE(t1.asCreated()) << "a 1-bit bitmap does not reach the texture";
}

TEST(PreviewConvertTest, PicturesThatStayDarkGrey) {
    PngFixture rgb;
    rgb.width = 2;
    rgb.height = 2;
    rgb.color_type = PNG_COLOR_TYPE_RGB;
    rgb.samples = std::vector<uint16_t>(12, 90);
    PngFixture composited = palettePicture(2, 2, 8, 4);
    composited.palette_alpha = {0, 255};
    composited.has_bkgd = true;
    composited.bkgd.index = 1;
    std::vector<uint8_t> valid = encodePng(palettePicture(4, 4, 8, 4));
    struct Case {
        const char* what;
        std::vector<uint8_t> png;
    };
    const Case cases[] = {
        {"true colour", encodePng(rgb)},
        {"palette with tRNS and bKGD is composited to 24 bits", encodePng(composited)},
        {"empty file", {}},
        {"not a PNG", std::vector<uint8_t>(64, 0x5A)},
        {"truncated", std::vector<uint8_t>(valid.begin(), valid.begin() + long(valid.size() / 2))},
        {"header of 65535 x 65535", pngWithHeader(65535, 65535, 8, PNG_COLOR_TYPE_PALETTE, {})},
        {"header of 1000000 x 1", pngWithHeader(1000000, 1, 8, PNG_COLOR_TYPE_GRAY, {0x78, 0x9C})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OneTexture t(4, 4);
        convert(c.png, t);
        EXPECT_TRUE(t.asCreated());
    }

    // Missing file, empty path, and a folder where the picture should be.
    TestFolder folder;
    std::filesystem::create_directories(folder.path() / "preview.png");
    std::u16string missing = tremixUtf8ToUtf16((folder.path() / "none.png").string());
    std::u16string asFolder = tremixUtf8ToUtf16((folder.path() / "preview.png").string());
    const char16_t* paths[] = {missing.c_str(), u"", asFolder.c_str()};
    for (const char16_t* path : paths) {
        OneTexture t(4, 4);
        convertPreviewImages(1, &path, t.bin.data(), uint32_t(t.bin.size()));
        EXPECT_TRUE(t.asCreated());
    }
}

TEST(PreviewConvertTest, ClippedToTheTexture) {
    PngFixture big = palettePicture(10, 6, 8, 16);
    OneTexture small(4, 3);
    convert(encodePng(big), small);
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ(small.pixel(x, y), (x + 3 * y) % 16) << "top-left corner";
    }
    PngFixture tiny = palettePicture(2, 1, 8, 16);
    OneTexture large(5, 3);
    convert(encodePng(tiny), large);
    EXPECT_EQ(large.pixel(1, 0), 1);
    EXPECT_EQ(large.pixel(2, 0), 0);
    EXPECT_EQ(large.pixel(0, 2), 0);
}

// A bitmap block with a palette of `entries`, for the chunk walk.
std::vector<uint8_t> paletteBitmap(uint32_t entries) {
    std::vector<uint8_t> dib(40 + 4 * entries + 4, 0);
    const uint32_t header[] = {40, 1, 1};
    memcpy(dib.data(), header, sizeof header);
    dib[12] = 1;  // planes
    dib[14] = 8;  // bits per pixel
    memcpy(dib.data() + 32, &entries, 4);
    return dib;
}

std::vector<uint8_t> chunk(uint32_t length, const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(uint8_t(length >> shift));
    for (int i = 0; i < 4; ++i)
        bytes.push_back(uint8_t(type[i]));
    for (uint8_t b : data)
        bytes.push_back(b);
    return bytes;
}

std::vector<uint8_t> alphas(const std::vector<uint8_t>& dib, uint32_t entries) {
    std::vector<uint8_t> out;
    for (uint32_t k = 0; k < entries; ++k)
        out.push_back(dib[40 + 4 * k + 3]);
    return out;
}

TEST(PreviewConvertTest, TransparencyChunkWalkStaysInsideTheFile) {
    const std::vector<uint8_t> signature(8, 0x89);
    struct Case {
        const char* what;
        std::vector<std::vector<uint8_t>> chunks;
        std::vector<uint8_t> alphas;  // of 4 palette entries
    };
    const Case cases[] = {
        {"no tRNS", {chunk(0, "IEND", {})}, {255, 255, 255, 255}},
        {"tRNS of two", {chunk(2, "tRNS", {0, 7, 0, 0, 0, 0})}, {0, 7, 255, 255}},
        {"tRNS longer than the palette", {chunk(6, "tRNS", {1, 2, 3, 4, 5, 6})}, {1, 2, 3, 4}},
        {"tRNS cut by the end of the file", {chunk(100, "tRNS", {9, 8})}, {9, 8, 255, 255}},
        {"skips other chunks", {chunk(3, "PLTE", {1, 1, 1}), {0, 0, 0, 0}, chunk(1, "tRNS", {5})}, {5, 255, 255, 255}},
        {"length near 4 GiB does not wrap",
         {chunk(0xFFFFFFF0u, "IDAT", {}), chunk(1, "tRNS", {5})},
         {255, 255, 255, 255}},
        {"header cut short", {{0, 0, 0, 1, 't', 'R'}}, {255, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> file = signature;
        for (const auto& piece : c.chunks)
            file.insert(file.end(), piece.begin(), piece.end());
        // An exact-size heap copy: reading past its end is caught.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[file.size()]);
        memcpy(exact.get(), file.data(), file.size());
        std::vector<uint8_t> dib = paletteBitmap(4);
        copyPngAlphaToPalette(exact.get(), uint32_t(file.size()), dib.data(), uint32_t(dib.size()));
        EXPECT_EQ(alphas(dib, 4), c.alphas);
    }
}

// A PNG start of signature, IHDR and the named chunks: enough to judge the
// bitmap's size before decoding.
std::vector<uint8_t> pngStart(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType,
                              const std::vector<const char*>& chunks) {
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    for (uint32_t v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(uint8_t(v >> shift));
    for (uint8_t b : {depth, colourType, uint8_t(0), uint8_t(0), uint8_t(0)})
        header.push_back(b);
    for (const std::vector<uint8_t>& piece : {chunk(13, "IHDR", header), std::vector<uint8_t>(4, 0)})
        file.insert(file.end(), piece.begin(), piece.end());
    for (const char* type : chunks) {
        std::vector<uint8_t> piece = chunk(1, type, {0, 0, 0, 0, 0});
        file.insert(file.end(), piece.begin(), piece.end());
    }
    return file;
}

TEST(PreviewConvertTest, BitmapSizeJudgedBeforeDecoding) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        bool acceptable;
    };
    const Case cases[] = {
        {"8-bit palette of 16000 x 16000 (244 MiB at 8 bits)", pngStart(16000, 16000, 8, 3, {"PLTE"}), true},
        {"8-bit palette of 16500 x 16500 (260 MiB)", pngStart(16500, 16500, 8, 3, {"PLTE"}), false},
        {"65535 x 65535", pngStart(65535, 65535, 8, 3, {"PLTE"}), false},
        {"palette composited onto bKGD counts 24 bits", pngStart(9500, 9500, 8, 3, {"PLTE", "tRNS", "bKGD"}), false},
        {"palette with tRNS only stays 8 bits", pngStart(9500, 9500, 8, 3, {"PLTE", "tRNS"}), true},
        {"16-bit gray becomes 8 bits", pngStart(16000, 16000, 16, 0, {}), true},
        {"true colour of 9500 x 9500 (258 MiB at 24 bits)", pngStart(9500, 9500, 8, 2, {}), false},
        {"1,000,000 x 1 gray", pngStart(1000000, 1, 8, 0, {}), true},
        {"not a PNG header: left to the decoder", std::vector<uint8_t>(40, 0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(previewBitmapAcceptable(c.file.data(), uint32_t(c.file.size())), c.acceptable);
    }
}

}  // namespace

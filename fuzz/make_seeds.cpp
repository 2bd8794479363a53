// Writes the seed corpora of the fuzz targets into OUT/<target>/: map.txt and
// balls.txt texts like the tests' fixtures, PNG pictures made with libpng's
// writer, and the PNG suite images of libpng's source tree (when its folder is
// given), each followed by the option bytes its harness reads at the end.
//
// Usage: make_fuzz_seeds OUT [LIBPNG_SOURCE_DIR]
#include <png.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "png_fixture.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

fs::path Out;

void writeSeed(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path folder = Out / target;
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
        exit(1);
    }
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes withOptions(Bytes bytes, const Bytes& options) {
    bytes.insert(bytes.end(), options.begin(), options.end());
    return bytes;
}

// UTF-8 text (code points below U+10000) as UTF-16 little-endian bytes.
Bytes utf16le(const std::string& utf8) {
    Bytes out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t unit = c;
        size_t taken = 1;
        if (c >= 0xE0 && i + 2 < utf8.size()) {
            unit = (c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
            taken = 3;
        } else if (c >= 0xC0 && i + 1 < utf8.size()) {
            unit = (c & 0x1F) << 6 | (utf8[i + 1] & 0x3F);
            taken = 2;
        }
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
        i += taken;
    }
    return out;
}

void mapSeeds() {
    const char* const texts[] = {
        "[ball]\nball.count=3\npreview.width=256\npreview.heigh=256\n[ball name]\n1=Adidas\n2=Nike\n3=Puma\n",
        "[BALL]\r\nBALL.COUNT = 0x10\r\n\r\n[ball name]\r\n001=not one\r\n1 = \"Quoted\"\r\n1=Later\r\n2=\r\n",
        "; comment\n# another\nball.count=5\n[ball]\nball.count=2 ; not a number\npreview.width=-1\n",
        "\xEF\xBB\xBF[ball]\nball.count=1\n[ball name]\n1=Caf\xE9 \x80\n",
        "[ball]\nball.count=255\npreview.width=65536\npreview.heigh=0\n[ball name\n254=Last\n",
        "[ball]\nball.count=-2\n[ball]\nball.count=2147483648\npreview.width=0x\n",
        "[ball]\rball.count=2\r[ball name]\r0=Zero\r1=One\r2=Two\r",
        "",
    };
    int n = 0;
    for (const char* text : texts)
        writeSeed("map_txt", "seed-" + std::to_string(n++), bytesOf(text));
}

void ballsSeeds() {
    const std::string names =
        "[names]\n1,Golden Ball\n2, Silver # comment\n3,\"Quoted\"\r\n0x0A,Match ball\n0X0B,Upper\n"
        "  -1,Minus\n65540,Wraps to four\n5,Team A, home\n7,\n8,\r\n4,First\n4,Second\n"
        "6,Caf\xC3\xA9 \xE2\x82\xAC\n9,a\x80"
        "b\n10,ab\xF0\x9F\x98\x80\n";
    // The last byte chooses the mark (0 none, 1 UTF-8, 2 UTF-16) and, with
    // its high bit, the write into a ball table.
    writeSeed("balls_txt", "utf8", withOptions(bytesOf(names), {0}));
    writeSeed("balls_txt", "utf8-mark-table", withOptions(bytesOf(names), {0x81}));
    writeSeed("balls_txt", "utf16", withOptions(utf16le(names), {2}));
    writeSeed("balls_txt", "utf16-table", withOptions(utf16le(names), {0x82}));
    writeSeed("balls_txt", "long-line", withOptions(bytesOf("1," + std::string(5000, 'x') + "\n2,y\n"), {0}));
    writeSeed("balls_txt", "odd-utf16", withOptions(Bytes{'1', 0, ',', 0, 'a', 0, '\n'}, {2}));
}

// PNG pictures of the kinds the decoder and the conversion tell apart.
std::vector<std::pair<std::string, Bytes>> fixturePngs() {
    std::vector<std::pair<std::string, Bytes>> out;
    auto add = [&](const std::string& name, const PngFixture& f) {
        Bytes png = encodePng(f);
        if (!png.empty())
            out.emplace_back(name, png);
    };
    for (int depth : {1, 2, 4, 8}) {
        PngFixture f;
        f.width = 5;
        f.height = 3;
        f.bit_depth = depth;
        f.color_type = PNG_COLOR_TYPE_PALETTE;
        const int colours = 1 << depth;
        for (int i = 0; i < colours && i < 16; ++i)
            f.palette.push_back(png_color{uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i)});
        for (uint32_t i = 0; i < f.width * f.height; ++i)
            f.samples.push_back(static_cast<uint16_t>(i % f.palette.size()));
        add("palette" + std::to_string(depth), f);
        f.palette_alpha = {0, 128};
        add("palette" + std::to_string(depth) + "-trns", f);
        f.has_bkgd = true;
        f.bkgd.index = 1;
        add("palette" + std::to_string(depth) + "-trns-bkgd", f);
    }
    for (int depth : {2, 8, 16}) {
        PngFixture f;
        f.width = 4;
        f.height = 4;
        f.bit_depth = depth;
        f.color_type = PNG_COLOR_TYPE_GRAY;
        for (uint32_t i = 0; i < 16; ++i)
            f.samples.push_back(static_cast<uint16_t>(i % (1u << (depth > 8 ? 8 : depth))));
        f.has_trns_colour = true;
        f.trns_colour.gray = 1;
        f.has_bkgd = true;
        f.bkgd.gray = 2;
        f.gamma = 0.5;
        add("gray" + std::to_string(depth) + "-trns-bkgd", f);
    }
    {
        PngFixture f;
        f.width = 3;
        f.height = 2;
        f.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
        f.samples = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        f.srgb = true;
        f.has_phys = true;
        f.phys_x = 2835;
        f.phys_y = 2835;
        add("rgba-srgb-phys", f);
        f.interlace = PNG_INTERLACE_ADAM7;
        f.srgb = false;
        add("rgba-interlaced", f);
    }
    out.emplace_back("header-65535x65535", pngWithHeader(65535, 65535, 8, PNG_COLOR_TYPE_GRAY, {0x78, 0x9C, 3, 0}));
    out.emplace_back("header-1000000x1", pngWithHeader(1000000, 1, 8, PNG_COLOR_TYPE_GRAY, {0x78, 0x9C, 3, 0}));
    return out;
}

void pngSeeds(const fs::path& libpngSource) {
    std::vector<std::pair<std::string, Bytes>> pngs = fixturePngs();
    if (!libpngSource.empty()) {
        for (const char* folder : {"contrib/pngsuite", "contrib/testpngs", "contrib/testpngs/crashers"}) {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(libpngSource / folder, error)) {
                if (entry.path().extension() != ".png")
                    continue;
                std::ifstream in(entry.path(), std::ios::binary);
                Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                pngs.emplace_back(entry.path().stem().string(), bytes);
            }
        }
    }
    // preview_png: texture width and height, then the mode; pngdib: flags,
    // background red, green, blue, screen gamma, unused.
    for (const auto& png : pngs) {
        writeSeed("preview_png", png.first, withOptions(png.second, {63, 15, 0}));
        writeSeed("pngdib", png.first, withOptions(png.second, {0x01, 0, 0, 0, 0, 0}));
    }
    static const uint8_t Flags[] = {0x00, 0x02, 0x05, 0x08, 0x12, 0x27, 0x2E};
    for (size_t i = 0; i < sizeof Flags && i < pngs.size(); ++i) {
        for (size_t k = i; k < pngs.size(); k += sizeof Flags) {
            writeSeed("pngdib", pngs[k].first + "-options",
                      withOptions(pngs[k].second, {Flags[i], 200, 100, 50, uint8_t(k), 0}));
        }
    }
    // A bitmap block handed straight to the conversion: a 2 x 2, 8-bit
    // bitmap with a two-entry palette.
    Bytes dib(40 + 8 + 8, 0);
    dib[0] = 40;
    dib[4] = 2;
    dib[8] = 2;
    dib[12] = 1;
    dib[14] = 8;
    dib[32] = 2;
    writeSeed("preview_png", "bitmap-block", withOptions(dib, {2, 2, 1}));
    writeSeed("preview_png", "bitmap-block-short-texture", withOptions(dib, {7, 9, 3}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s OUT [LIBPNG_SOURCE_DIR]\n", argv[0]);
        return 2;
    }
    Out = argv[1];
    mapSeeds();
    ballsSeeds();
    pngSeeds(argc > 2 ? fs::path(argv[2]) : fs::path());
    return 0;
}

#include "contact_sheet.h"

#include <png.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    if (at + 4 > bytes.size())
        return 0;
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

uint32_t le16(const std::vector<uint8_t>& bytes, size_t at) {
    if (at + 2 > bytes.size())
        return 0;
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8;
}

// A 3 x 5 pixel font: one row per byte, the low three bits, leftmost pixel
// in bit 2. Lower-case letters are drawn as capitals; anything else as '?'.
struct Glyph {
    char c;
    uint8_t rows[5];
};
const Glyph Font[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 3, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 2, 2}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'A', {2, 5, 7, 5, 5}}, {'B', {6, 5, 6, 5, 6}},
    {'C', {3, 4, 4, 4, 3}}, {'D', {6, 5, 5, 5, 6}}, {'E', {7, 4, 6, 4, 7}}, {'F', {7, 4, 6, 4, 4}},
    {'G', {3, 4, 5, 5, 3}}, {'H', {5, 5, 7, 5, 5}}, {'I', {7, 2, 2, 2, 7}}, {'J', {1, 1, 1, 5, 2}},
    {'K', {5, 5, 6, 5, 5}}, {'L', {4, 4, 4, 4, 7}}, {'M', {5, 7, 7, 5, 5}}, {'N', {6, 5, 5, 5, 5}},
    {'O', {2, 5, 5, 5, 2}}, {'P', {6, 5, 6, 4, 4}}, {'Q', {2, 5, 5, 6, 3}}, {'R', {6, 5, 6, 5, 5}},
    {'S', {3, 4, 2, 1, 6}}, {'T', {7, 2, 2, 2, 2}}, {'U', {5, 5, 5, 5, 7}}, {'V', {5, 5, 5, 5, 2}},
    {'W', {5, 5, 7, 7, 5}}, {'X', {5, 5, 2, 5, 5}}, {'Y', {5, 5, 2, 2, 2}}, {'Z', {7, 1, 2, 4, 7}},
    {'_', {0, 0, 0, 0, 7}}, {'.', {0, 0, 0, 0, 2}}, {'-', {0, 0, 7, 0, 0}}, {' ', {0, 0, 0, 0, 0}},
    {':', {0, 2, 0, 2, 0}}, {'?', {7, 1, 3, 0, 2}},
};

const Glyph& glyphFor(char c) {
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    for (const Glyph& g : Font) {
        if (g.c == c)
            return g;
    }
    return Font[sizeof Font / sizeof Font[0] - 1];
}

enum : uint32_t {
    Scale = 2,  // font pixels per glyph pixel
    LabelHeight = 5 * Scale + 6,
    Gap = 8,
    Columns = 4,
};

struct Canvas {
    uint32_t width, height;
    std::vector<uint8_t> rgba;
    void put(uint32_t x, uint32_t y, const uint8_t* pixel) {
        if (x < width && y < height)
            memcpy(&rgba[(size_t(y) * width + x) * 4], pixel, 4);
    }
};

void drawText(Canvas& canvas, uint32_t x, uint32_t y, const std::string& text, uint32_t maxWidth) {
    const uint8_t ink[4] = {20, 20, 20, 255};
    uint32_t column = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80 && byte < 0xC0)
            continue;  // one glyph per UTF-8 character
        const uint32_t left = x + column++ * 4 * Scale;
        if (left + 3 * Scale > x + maxWidth)
            break;
        const Glyph& g = glyphFor(byte < 0x80 ? text[i] : '?');
        for (uint32_t row = 0; row < 5; ++row) {
            for (uint32_t col = 0; col < 3; ++col) {
                if (!(g.rows[row] & (4 >> col)))
                    continue;
                for (uint32_t dy = 0; dy < Scale; ++dy) {
                    for (uint32_t dx = 0; dx < Scale; ++dx)
                        canvas.put(left + col * Scale + dx, y + row * Scale + dy, ink);
                }
            }
        }
    }
}

// libpng reports errors by longjmp back here: nothing in this frame has a
// destructor or changes after setjmp.
bool writePng(FILE* file, const uint8_t* rgba, uint32_t width, uint32_t height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y)
        png_write_row(png, rgba + size_t(y) * width * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<SheetTile> previewTiles(const std::vector<uint8_t>& payload) {
    std::vector<SheetTile> tiles;
    const uint32_t count = le32(payload, 0);
    if (le32(payload, 4) != 8 || count == 0 || count > 4096 || 8 + uint64_t(count) * 12 > payload.size())
        return tiles;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = le32(payload, 8 + 12 * i);
        const uint32_t size = le32(payload, 12 + 12 * i);
        const uint32_t nameOffset = le32(payload, 16 + 12 * i);
        if (uint64_t(offset) + size > payload.size() || size < 1040)
            continue;
        SheetTile tile;
        tile.width = le16(payload, offset + 8);
        tile.height = le16(payload, offset + 10);
        if (uint64_t(tile.width) * tile.height > size - 1040)
            continue;
        if (nameOffset < payload.size()) {
            const char* name = reinterpret_cast<const char*>(payload.data() + nameOffset);
            tile.label = std::string(name, strnlen(name, std::min<size_t>(32, payload.size() - nameOffset)));
        }
        const uint8_t* palette = payload.data() + offset + 16;
        const uint8_t* pixels = payload.data() + offset + 1040;
        tile.rgba.resize(size_t(tile.width) * tile.height * 4);
        for (size_t p = 0; p < size_t(tile.width) * tile.height; ++p)
            memcpy(&tile.rgba[p * 4], palette + 4 * pixels[p], 4);
        tiles.push_back(std::move(tile));
    }
    return tiles;
}

bool writeContactSheet(const std::vector<SheetTile>& tiles, const std::string& path) {
    uint32_t cellWidth = 120;
    uint32_t cellHeight = 1;
    for (const SheetTile& t : tiles) {
        cellWidth = std::max(cellWidth, t.width);
        cellHeight = std::max(cellHeight, t.height);
    }
    const uint32_t columns = tiles.empty() ? 1 : std::min<uint32_t>(Columns, uint32_t(tiles.size()));
    const uint32_t rows = tiles.empty() ? 1 : (uint32_t(tiles.size()) + columns - 1) / columns;
    Canvas canvas;
    canvas.width = Gap + columns * (cellWidth + Gap);
    canvas.height = Gap + rows * (LabelHeight + cellHeight + Gap);
    if (uint64_t(canvas.width) * canvas.height > (uint64_t(1) << 28))
        return false;
    // A light background, opaque, so that transparent texels show as such.
    canvas.rgba.assign(size_t(canvas.width) * canvas.height * 4, 0);
    for (size_t p = 0; p < size_t(canvas.width) * canvas.height; ++p) {
        uint8_t* px = &canvas.rgba[p * 4];
        px[0] = px[1] = px[2] = 235;
        px[3] = 255;
    }
    for (size_t i = 0; i < tiles.size(); ++i) {
        const SheetTile& t = tiles[i];
        const uint32_t x0 = Gap + uint32_t(i % columns) * (cellWidth + Gap);
        const uint32_t y0 = Gap + uint32_t(i / columns) * (LabelHeight + cellHeight + Gap);
        drawText(canvas, x0, y0, t.label, cellWidth);
        for (uint32_t y = 0; y < t.height; ++y) {
            for (uint32_t x = 0; x < t.width; ++x) {
                const uint8_t* src = &t.rgba[(size_t(y) * t.width + x) * 4];
                // The texel as the game holds it, blended over the sheet by its alpha.
                uint8_t* dst = &canvas.rgba[((size_t(y0) + LabelHeight + y) * canvas.width + x0 + x) * 4];
                for (int c = 0; c < 3; ++c)
                    dst[c] = uint8_t((src[c] * src[3] + dst[c] * (255 - src[3])) / 255);
            }
        }
    }

    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = writePng(file, canvas.rgba.data(), canvas.width, canvas.height);
    return fclose(file) == 0 && written;
}

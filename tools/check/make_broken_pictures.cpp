// Writes the preview pictures of the broken sample loader folder
// (examples/broken) with libpng: one picture for each way a preview can go
// wrong, and good palette pictures for the balls whose fault lies elsewhere.
//
// usage: quindral-make-broken-pictures LOADER_FOLDER
#include <png.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

enum : uint32_t { Side = 128 };  // the sample's preview size

struct Picture {
    const char* file;  // under GDB/balls
    uint32_t width;
    uint32_t height;
    int bitDepth;
    int colorType;
    bool transparency;  // tRNS: palette entry 0 transparent
    bool background;    // bKGD: palette entry 0
    bool truncate;      // keep only the first half of the file
};

const Picture Pictures[] = {
    {"\xE2\x82\xACuro/preview.png", Side, Side, 8, PNG_COLOR_TYPE_PALETTE, false, false, false},
    {"A ball folder whose name runs past the sixty-three characters the list keeps/preview.png", Side, Side, 4,
     PNG_COLOR_TYPE_PALETTE, true, false, false},
    {"No Model/preview.png", Side, Side, 8, PNG_COLOR_TYPE_PALETTE, false, false, false},
    {"True Colour/preview.png", Side, Side, 8, PNG_COLOR_TYPE_RGB, false, false, false},
    {"RGBA/preview.png", Side, Side, 8, PNG_COLOR_TYPE_RGB_ALPHA, false, false, false},
    {"One Bit/preview.png", Side, Side, 1, PNG_COLOR_TYPE_PALETTE, false, false, false},
    {"Composited/preview.png", Side, Side, 8, PNG_COLOR_TYPE_PALETTE, true, true, false},
    {"Corrupt/preview.png", Side, Side, 8, PNG_COLOR_TYPE_PALETTE, false, false, true},
    {"Large/preview.png", 200, 150, 8, PNG_COLOR_TYPE_PALETTE, false, false, false},
    {"Small/preview.png", 8, 8, 4, PNG_COLOR_TYPE_PALETTE, false, false, false},
    {"ball_random.png", Side, Side, 8, PNG_COLOR_TYPE_PALETTE, false, false, false},
};

void appendBytes(png_structp png, png_bytep data, size_t length) {
    std::vector<uint8_t>* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// A ball: a disc of colour 1 on colour 0 with a band of colour 2.
uint32_t ballColour(const Picture& picture, uint32_t x, uint32_t y) {
    const int64_t cx = picture.width / 2;
    const int64_t cy = picture.height / 2;
    const int64_t r = (picture.width < picture.height ? picture.width : picture.height) * 2 / 5;
    const int64_t dx = int64_t(x) - cx;
    const int64_t dy = int64_t(y) - cy;
    if (dx * dx + dy * dy > r * r)
        return 0;
    return (dy > -r / 6 && dy < r / 6) ? 2 : 1;
}

bool encode(const Picture& picture, std::vector<uint8_t>* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendBytes, flushNothing);
    png_set_IHDR(png, info, picture.width, picture.height, picture.bitDepth, picture.colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Grass green, ball white, band orange.
    const uint8_t colours[3][3] = {{0x2E, 0x7D, 0x32}, {0xF5, 0xF5, 0xF5}, {0xEF, 0x6C, 0x00}};
    png_color palette[3];
    for (int i = 0; i < 3; ++i)
        palette[i] = png_color{colours[i][0], colours[i][1], colours[i][2]};
    const bool paletted = picture.colorType == PNG_COLOR_TYPE_PALETTE;
    if (paletted)
        png_set_PLTE(png, info, palette, picture.bitDepth == 1 ? 2 : 3);
    png_byte alpha[1] = {0};
    if (picture.transparency)
        png_set_tRNS(png, info, alpha, 1, nullptr);
    png_color_16 background = {};
    if (picture.background) {
        background.index = 0;
        png_set_bKGD(png, info, &background);
    }
    png_write_info(png, info);

    const uint32_t channels = paletted ? 1 : picture.colorType == PNG_COLOR_TYPE_RGB ? 3 : 4;
    std::vector<png_byte> row((picture.width * channels * picture.bitDepth + 7) / 8 + 1);
    for (uint32_t y = 0; y < picture.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (uint32_t x = 0; x < picture.width; ++x) {
            uint32_t index = ballColour(picture, x, y);
            if (paletted) {
                if (picture.bitDepth == 1 && index > 1)
                    index = 1;
                const uint32_t bit = x * picture.bitDepth;
                row[bit / 8] |= static_cast<png_byte>(index << (8 - picture.bitDepth - bit % 8));
            } else {
                for (uint32_t c = 0; c < 3; ++c)
                    row[x * channels + c] = colours[index][c];
                if (channels == 4)
                    row[x * channels + 3] = index == 0 ? 0 : 255;
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: quindral-make-broken-pictures LOADER_FOLDER\n");
        return 2;
    }
    const std::filesystem::path balls = std::filesystem::u8path(argv[1]) / "GDB" / "balls";
    for (const Picture& picture : Pictures) {
        std::vector<uint8_t> bytes;
        if (!encode(picture, &bytes)) {
            fprintf(stderr, "quindral-make-broken-pictures: libpng refused %s\n", picture.file);
            return 1;
        }
        if (picture.truncate)
            bytes.resize(bytes.size() / 2);
        const std::filesystem::path file = balls / std::filesystem::u8path(picture.file);
        std::error_code error;
        std::filesystem::create_directories(file.parent_path(), error);
        FILE* out = fopen(file.string().c_str(), "wb");
        if (!out || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || fclose(out) != 0) {
            fprintf(stderr, "quindral-make-broken-pictures: cannot write %s\n", file.string().c_str());
            return 1;
        }
        printf("%s (%zu bytes)\n", file.string().c_str(), bytes.size());
    }
    return 0;
}

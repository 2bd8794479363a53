#include "soft/pngdib/pngdib.h"

#include <math.h>
#include <png.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// libpng errors come back to the decoder by longjmp. Every function whose
// frame a longjmp can skip (decodeSteps, pngdib_read_memory,
// pngdib_on_error) holds plain data only, and the state that must survive the
// jump lives in a DecodeState outside the frame that calls setjmp.

static_assert(SIZE_MAX >= UINT32_MAX, "block sizes are 32-bit");

namespace {

constexpr uint32_t kHeaderSize = 40;
constexpr uint32_t kMasksSize = 12;
constexpr double kDefaultFileGamma = 0.45455;
// bKGD, gAMA, sRGB and pHYs, as libpng lists chunk names.
constexpr png_byte kChunksUsed[] = {'b', 'K', 'G', 'D', 0, 'g', 'A', 'M', 'A', 0,
                                    's', 'R', 'G', 'B', 0, 'p', 'H', 'Y', 's', 0};

// Everything the clean-up needs, whether the decode finished or jumped out.
struct DecodeState {
    PngDibRecord* record;
    PngDibErrorTarget error;
    png_structp png;
    png_infop info;
    FILE* file;
    uint8_t* block;
    png_bytep* rows;
    uint8_t* scratch;
};

const char* const kStatusTexts[] = {
    "Unknown error",                 // 1
    "Incompatible library version",  // 2
    "Unable to allocate memory",     // 3
    "Invalid or unsupported image",  // 4
    "libpng reported an error",      // 5
    "Invalid BMP image",             // 6
    "Invalid PNG image",             // 7
    "Unable to read file",           // 8
    "Unable to write file",          // 9
};

void setMessage(char* message, const char* text) {
    if (message != nullptr) {
        snprintf(message, pngdib_message_limit, "%s", text);
    }
}

void putU16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void putU32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

uint8_t low8(png_uint_16 v) {
    return static_cast<uint8_t>(v & 0xFF);
}
uint8_t high8(png_uint_16 v) {
    return static_cast<uint8_t>(v >> 8);
}

png_uint_16 widen16(uint8_t v) {
    return static_cast<png_uint_16>(v | (v << 8));
}

// Rewrites a row of 2-bit pixels as 4-bit pixels with the same values, the
// left pixel of each pair in the high nibble. `scratch` holds (width + 3) / 4
// bytes.
void widenRow2To4(uint8_t* row, uint8_t* scratch, uint32_t width) {
    memcpy(scratch, row, (static_cast<size_t>(width) + 3) / 4);
    memset(row, 0, (static_cast<size_t>(width) + 1) / 2);
    for (uint32_t i = 0; i < width; ++i) {
        const unsigned value = (scratch[i / 4] >> (6 - 2 * (i % 4))) & 3u;
        row[i / 2] = static_cast<uint8_t>(row[i / 2] | (i % 2 == 0 ? value << 4 : value));
    }
}

// Steps of the decode from the creation of libpng's structures to the
// finished bitmap. Returns the result code; a libpng error leaves it by
// longjmp instead.
int32_t decodeSteps(DecodeState* s) {
    PngDibRecord* const r = s->record;

    PngDibColor background = {0, 0, 0};
    if (r->use_custom_background) {
        background = r->background;
    }

    s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s->error, pngdib_on_error, pngdib_on_warning);
    if (s->png == nullptr) {
        return pngdib_error_memory;
    }
    s->info = png_create_info_struct(s->png);
    if (s->info == nullptr) {
        return pngdib_error_memory;
    }
    png_structp const png = s->png;
    png_infop const info = s->info;
    // Only the ancillary chunks the decoder reads are handled; libpng skips
    // the others without buffering them. Debian's libpng buffers a tEXt,
    // zTXt, iTXt, eXIf, sPLT, pCAL or sCAL chunk of whatever length its
    // header claims (the length check is only a warning when reading): a
    // 57-byte file whose zTXt chunk claims 1 GiB made it allocate 1 GiB.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kChunksUsed, 4);

    if (r->input_mode == input_memory) {
        r->input_pos = 0;
        png_set_read_fn(png, r, pngdib_read_memory);
    } else if (r->input_mode == input_file) {
        if (r->input_file_name == nullptr) {
            setMessage(r->message, "Input filename not set");
            return pngdib_error_unknown;
        }
        s->file = fopen(r->input_file_name, "rb");
        if (s->file == nullptr) {
            return pngdib_error_read_file;
        }
        png_init_io(png, s->file);
    } else {
        return pngdib_error_unknown;
    }

    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bit_depth = 0;
    int color_type = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bit_depth, &color_type, &interlace, nullptr, nullptr);
    r->png_color_type = color_type;
    r->png_bit_depth = bit_depth;
    r->png_interlace = interlace;
    switch (color_type) {
        case PNG_COLOR_TYPE_RGB:
            r->png_bits_per_pixel = bit_depth * 3;
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            r->png_bits_per_pixel = bit_depth * 2;
            break;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            r->png_bits_per_pixel = bit_depth * 4;
            break;
        default:
            r->png_bits_per_pixel = bit_depth;
            break;
    }

    const bool has_trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const bool is_colour = (color_type & PNG_COLOR_MASK_COLOR) != 0;
    const bool has_alpha = (color_type & PNG_COLOR_MASK_ALPHA) != 0;
    const bool alpha32 = r->want_alpha32 != 0 && (has_alpha || has_trns);
    const bool custom_background = r->use_custom_background != 0;
    bool file_background = false;
    int transparent_gray = -1;  // palette entry to paint with the background

    if (alpha32) {
        if (!is_colour) {
            png_set_gray_to_rgb(png);
        }
        if (color_type == PNG_COLOR_TYPE_PALETTE) {
            png_set_palette_to_rgb(png);
        }
        if (has_trns) {
            png_set_tRNS_to_alpha(png);
        }
    } else {
        png_color_16p file_colour = nullptr;
        if (r->use_file_background && png_get_bKGD(png, info, &file_colour) && file_colour != nullptr) {
            file_background = true;
            if (!is_colour && bit_depth < 8) {
                const uint32_t max = (1u << bit_depth) - 1;
                uint32_t gray = file_colour->gray * 255u / max;
                if (gray > 255) {
                    gray = 255;
                }
                background.red = background.green = background.blue = static_cast<uint8_t>(gray);
            } else if (bit_depth == 16) {
                background.red = high8(file_colour->red);
                background.green = high8(file_colour->green);
                background.blue = high8(file_colour->blue);
            } else {
                background.red = low8(file_colour->red);
                background.green = low8(file_colour->green);
                background.blue = low8(file_colour->blue);
            }
        }

        if (has_alpha || has_trns) {
            if (file_background && (bit_depth == 16 || is_colour || has_alpha)) {
                // libpng composites a palette image into its palette; the
                // bitmap is RGB, so the palette is expanded first.
                if (color_type == PNG_COLOR_TYPE_PALETTE) {
                    png_set_palette_to_rgb(png);
                }
                png_set_background(png, file_colour, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
            } else if (!is_colour && bit_depth <= 8 && has_trns && (file_background || custom_background)) {
                // The gray ramp carries the transparency: its transparent
                // entry is painted with the background below.
                int trans_count = 0;
                png_color_16p trans_colour = nullptr;
                if (png_get_tRNS(png, info, nullptr, &trans_count, &trans_colour) && trans_count >= 1 &&
                    trans_colour != nullptr) {
                    transparent_gray = trans_colour->gray;
                }
            } else if (custom_background) {
                // With expansion on, libpng takes the colour in the file's
                // depth; with expansion off, in the output's (8 bits, since
                // 16-bit images are stripped), and widens it itself.
                png_color_16 colour;
                colour.index = 0;
                colour.red = background.red;
                colour.green = background.green;
                colour.blue = background.blue;
                colour.gray = colour.red;
                if (!is_colour && background.red == background.green && background.green == background.blue) {
                    if (bit_depth == 16) {
                        colour.red = colour.green = colour.blue = colour.gray = widen16(background.red);
                    }
                    png_set_background(png, &colour, PNG_BACKGROUND_GAMMA_SCREEN, 1, 1.0);
                } else {
                    if (!is_colour) {
                        png_set_gray_to_rgb(png);
                        if (has_trns) {
                            png_set_tRNS_to_alpha(png);
                        }
                    }
                    png_set_background(png, &colour, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
                }
            }
        }
        if (has_alpha && !file_background && !custom_background) {
            png_set_strip_alpha(png);
        }
    }

    if (bit_depth == 16) {
        png_set_strip_16(png);
    }

    double file_gamma = kDefaultFileGamma;
    int srgb_intent = 0;
    if (png_get_sRGB(png, info, &srgb_intent)) {
        r->file_gamma = file_gamma;
        r->file_gamma_valid = 1;
    } else if (png_get_gAMA(png, info, &file_gamma)) {
        r->file_gamma = file_gamma;
        r->file_gamma_valid = 1;
    } else {
        file_gamma = kDefaultFileGamma;
    }
    bool palette_gamma = false;
    if (r->gamma_correct) {
        if (!is_colour && bit_depth <= 8 && !has_alpha && !alpha32) {
            palette_gamma = true;
        } else {
            png_set_gamma(png, r->screen_gamma, file_gamma);
        }
        if (file_background) {
            pngdib_gamma_adjust(r->screen_gamma, file_gamma, &background.red, &background.green, &background.blue);
        }
    }

    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int out_type = png_get_color_type(png, info);
    const int out_depth = png_get_bit_depth(png, info);
    uint32_t bit_count = 0;
    uint32_t entries = 0;
    png_colorp plte = nullptr;
    switch (out_type) {
        case PNG_COLOR_TYPE_GRAY:
            if (out_depth > 8 || alpha32) {
                return pngdib_error_png;
            }
            bit_count = static_cast<uint32_t>(out_depth);
            // One ramp entry per gray level of the rows as libpng writes them;
            // widening 2-bit rows to 4 bits keeps the values 0 to 3.
            entries = 1u << out_depth;
            break;
        case PNG_COLOR_TYPE_RGB:
            if (out_depth != 8 || alpha32) {
                return pngdib_error_png;
            }
            bit_count = 24;
            png_set_bgr(png);
            break;
        case PNG_COLOR_TYPE_PALETTE: {
            int count = 0;
            if (out_depth > 8 || alpha32 || !png_get_PLTE(png, info, &plte, &count) || plte == nullptr || count <= 0) {
                return pngdib_error_png;
            }
            bit_count = static_cast<uint32_t>(out_depth);
            entries = static_cast<uint32_t>(count);
            if (entries > (1u << out_depth)) {
                entries = 1u << out_depth;
            }
            break;
        }
        case PNG_COLOR_TYPE_RGB_ALPHA:
            if (out_depth != 8 || !alpha32) {
                return pngdib_error_png;
            }
            bit_count = 32;
            png_set_bgr(png);
            break;
        default:
            return pngdib_error_png;
    }
    const bool widen_2bit = bit_count == 2;
    if (widen_2bit) {
        bit_count = 4;
    }

    bool metre_resolution = false;
    png_uint_32 res_x = 0;
    png_uint_32 res_y = 0;
    if (png_get_valid(png, info, PNG_INFO_pHYs)) {
        int unit = 0;
        png_get_pHYs(png, info, &res_x, &res_y, &unit);
        if (res_x != 0 && res_y != 0) {
            r->res_x = res_x;
            r->res_y = res_y;
            r->res_unit = unit;
            r->res_valid = 1;
        }
        metre_resolution = unit == PNG_RESOLUTION_METER;
    }

    // Sizes, each checked in 32 bits before use.
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) {
        return pngdib_error_png;
    }
    const uint64_t stride64 = (static_cast<uint64_t>(bit_count) * width + 31) / 32 * 4;
    if (stride64 > UINT32_MAX / height) {
        return pngdib_error_memory;
    }
    const uint32_t stride = static_cast<uint32_t>(stride64);
    // libpng writes rowbytes into each row; never more than the row holds.
    if (png_get_rowbytes(png, info) > stride) {
        return pngdib_error_png;
    }
    const uint32_t bits_size = stride * height;
    const uint32_t bits_offset = kHeaderSize + (alpha32 ? kMasksSize : 0) + 4 * entries;
    if (bits_size > UINT32_MAX - bits_offset) {
        return pngdib_error_memory;
    }
    const uint32_t dib_size = bits_offset + bits_size;
    if (height > SIZE_MAX / sizeof(png_bytep)) {
        return pngdib_error_memory;
    }

    s->block =
        static_cast<uint8_t*>(r->alloc_fn != nullptr ? r->alloc_fn(r->user_data, dib_size) : calloc(1, dib_size));
    if (s->block == nullptr) {
        return pngdib_error_memory;
    }
    s->rows = static_cast<png_bytep*>(malloc(height * sizeof(png_bytep)));
    if (s->rows == nullptr) {
        return pngdib_error_memory;
    }
    uint8_t* const block = s->block;
    uint8_t* const bits = block + bits_offset;
    r->dib = block;
    r->dib_size = dib_size;
    r->palette_offset = kHeaderSize;
    r->bits_offset = bits_offset;
    r->bits_size = bits_size;
    r->palette = block + kHeaderSize;
    r->palette_entries = static_cast<int32_t>(entries);
    r->bits = bits;

    uint8_t* const palette = block + kHeaderSize;
    if (out_type == PNG_COLOR_TYPE_GRAY) {
        for (uint32_t i = 0; i < entries; ++i) {
            uint8_t red = static_cast<uint8_t>(i * 255 / (entries - 1));
            uint8_t green = red;
            uint8_t blue = red;
            if (palette_gamma) {
                pngdib_gamma_adjust(r->screen_gamma, file_gamma, &red, &green, &blue);
            }
            palette[4 * i] = blue;
            palette[4 * i + 1] = green;
            palette[4 * i + 2] = red;
        }
        if (transparent_gray >= 0 && static_cast<uint32_t>(transparent_gray) < entries) {
            uint8_t* const entry = palette + 4 * transparent_gray;
            entry[0] = background.blue;
            entry[1] = background.green;
            entry[2] = background.red;
        }
    } else if (out_type == PNG_COLOR_TYPE_PALETTE) {
        for (uint32_t i = 0; i < entries; ++i) {
            palette[4 * i] = plte[i].blue;
            palette[4 * i + 1] = plte[i].green;
            palette[4 * i + 2] = plte[i].red;
        }
    }
    if (alpha32) {
        putU32(block + kHeaderSize, 0x00FF0000u);
        putU32(block + kHeaderSize + 4, 0x0000FF00u);
        putU32(block + kHeaderSize + 8, 0x000000FFu);
    }

    // Bottom-up: the top image row is stored last.
    for (uint32_t i = 0; i < height; ++i) {
        s->rows[i] = bits + static_cast<size_t>(height - 1 - i) * stride;
    }
    png_read_image(png, s->rows);

    if (widen_2bit) {
        s->scratch = static_cast<uint8_t*>(malloc((static_cast<size_t>(width) + 3) / 4));
        if (s->scratch == nullptr) {
            return pngdib_error_memory;
        }
        for (uint32_t i = 0; i < height; ++i) {
            widenRow2To4(s->rows[i], s->scratch, width);
        }
    }

    free(s->rows);
    s->rows = nullptr;
    png_read_end(png, nullptr);

    putU32(block + 0, kHeaderSize);         // biSize
    putU32(block + 4, width);               // biWidth
    putU32(block + 8, height);              // biHeight, positive: bottom-up rows
    putU16(block + 12, 1);                  // biPlanes
    putU16(block + 14, bit_count);          // biBitCount
    putU32(block + 16, alpha32 ? 3u : 0u);  // biCompression: BI_BITFIELDS or BI_RGB
    putU32(block + 20, bits_size);          // biSizeImage
    if (metre_resolution) {
        putU32(block + 24, res_x);  // biXPelsPerMeter
        putU32(block + 28, res_y);  // biYPelsPerMeter
    }
    putU32(block + 32, entries);  // biClrUsed
    putU32(block + 36, 0);        // biClrImportant

    if (file_background || custom_background) {
        r->background = background;
        r->background_valid = 1;
    }
    return pngdib_ok;
}

// The only frame that calls setjmp: it modifies no local of its own, so
// nothing in it is indeterminate after the jump.
int32_t runDecode(DecodeState* s) {
    if (setjmp(s->error.return_point) != 0) {
        // An error raised while the read structure was being made counts as
        // a failure to create it.
        return s->png == nullptr ? pngdib_error_memory : pngdib_error_libpng;
    }
    return decodeSteps(s);
}

}  // namespace

int32_t pngdib_decode(PngDibRecord* record) {
    if (record == nullptr) {
        return pngdib_error_unknown;
    }
    if (record->message != nullptr) {
        record->message[0] = '\0';
    }

    DecodeState state;
    memset(&state, 0, sizeof state);
    state.record = record;
    state.error.message = record->message;

    const int32_t code = runDecode(&state);

    if (state.png != nullptr) {
        png_destroy_read_struct(&state.png, &state.info, nullptr);
    }
    if (state.file != nullptr) {
        fclose(state.file);
    }
    free(state.rows);
    free(state.scratch);
    if (code != pngdib_ok) {
        if (state.block != nullptr) {
            record->dib = nullptr;
            record->palette = nullptr;
            record->bits = nullptr;
            if (record->free_fn != nullptr) {
                record->free_fn(record->user_data, state.block);
            } else {
                free(state.block);
            }
        }
        if (record->message != nullptr && record->message[0] == '\0') {
            pngdib_error_text(code, record->message);
        }
    }
    return code;
}

int32_t pngdib_destroy(PngDibRecord* record) {
    if (record == nullptr) {
        return 0;
    }
    free(record->message);
    if (record->type == pngdib_record_type) {
        free(record->input_file_name);
    }
    free(record);
    return 1;
}

void pngdib_error_text(int32_t code, char* buffer) {
    if (buffer == nullptr || code < 1 || code > 9) {
        return;
    }
    setMessage(buffer, kStatusTexts[code - 1]);
}

void pngdib_gamma_adjust(double screen_gamma, double file_gamma, uint8_t* red, uint8_t* green, uint8_t* blue) {
    const double combined = screen_gamma * file_gamma;
    // A product that is not positive (or not a number) has no meaningful
    // correction; the bytes stay as they are.
    if (!(combined > 0.0) || fabs(combined - 1.0) <= 0.05) {
        return;
    }
    const double exponent = screen_gamma > 1e-6 ? 1.0 / combined : 1.0;
    uint8_t* const channels[3] = {red, green, blue};
    for (uint8_t* channel : channels) {
        const double corrected = 255.0 * pow(*channel / 255.0, exponent) + 0.5;
        *channel = corrected >= 255.0 ? 255 : static_cast<uint8_t>(corrected);
    }
}

void pngdib_on_error(png_struct_def* png, const char* text) {
    PngDibErrorTarget* const target = static_cast<PngDibErrorTarget*>(png_get_error_ptr(png));
    if (target->message != nullptr) {
        snprintf(target->message, pngdib_message_limit, "[libpng] %s", text != nullptr ? text : "");
    }
    longjmp(target->return_point, 1);
}

void pngdib_on_warning(png_struct_def*, const char*) {}

void pngdib_read_memory(png_struct_def* png, unsigned char* out, size_t length) {
    PngDibRecord* const r = static_cast<PngDibRecord*>(png_get_io_ptr(png));
    size_t available = 0;
    if (r->input_buffer != nullptr && r->input_size > 0 && r->input_pos >= 0 && r->input_pos <= r->input_size) {
        available = static_cast<size_t>(r->input_size - r->input_pos);
    }
    if (length > available) {
        png_error(png, "read error: unexpected end of file");
    }
    if (length == 0) {
        return;
    }
    memcpy(out, r->input_buffer + r->input_pos, length);
    r->input_pos += static_cast<int32_t>(length);
}

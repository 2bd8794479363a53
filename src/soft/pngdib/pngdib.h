// pngdib: decodes one PNG image, through libpng, into a Windows
// device-independent bitmap held in a single memory block: a
// BITMAPINFOHEADER (40 bytes), three colour masks for 32-bit output, a
// palette of RGBQUAD entries, and the pixel rows, bottom row first, each
// padded to a multiple of 4 bytes. Transparency is flattened onto a
// background colour unless 32-bit output with alpha is asked for and applies.
//
// Use: make a zero-filled record from the C heap, set `type` to 2 and
// `message` to a zero-filled C-heap buffer (at least 100 bytes), set the
// inputs, call pngdib_decode, take `dib` and any other output, then call
// pngdib_destroy. The decoder keeps no state between calls and uses only the
// C heap and, for file input, the C runtime's fopen.
#pragma once

#include <setjmp.h>
#include <stddef.h>
#include <stdint.h>

// Result of pngdib_decode. The texts are those of pngdib_error_text.
enum PngDibStatus : int32_t {
    pngdib_ok = 0,
    pngdib_error_unknown = 1,      // "Unknown error"
    pngdib_error_version = 2,      // "Incompatible library version" (never returned)
    pngdib_error_memory = 3,       // "Unable to allocate memory"
    pngdib_error_unsupported = 4,  // "Invalid or unsupported image" (never returned)
    pngdib_error_libpng = 5,       // "libpng reported an error"; the message holds libpng's text
    pngdib_error_bmp = 6,          // "Invalid BMP image" (never returned)
    pngdib_error_png = 7,          // "Invalid PNG image"
    pngdib_error_read_file = 8,    // "Unable to read file"
    pngdib_error_write_file = 9,   // "Unable to write file" (never returned)
};

// Where pngdib_decode reads the PNG from.
enum PngDibInputMode : int32_t {
    input_file = 0,    // the file named by input_file_name
    input_memory = 1,  // input_size bytes at input_buffer
};

// The decoder writes at most this many bytes into `message`, terminating zero
// included.
constexpr size_t pngdib_message_limit = 100;

constexpr int32_t pngdib_record_type = 2;

// Allocates the bitmap block of `size` bytes; null when it cannot.
typedef void* (*PngDibAllocFn)(void* user_data, uint32_t size);
// Releases a block from the matching PngDibAllocFn.
typedef void (*PngDibFreeFn)(void* user_data, void* block);

struct PngDibColor {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

struct PngDibRecord {
    int32_t type;  // 2 for a decoder record

    // Inputs.
    void* user_data;  // passed to alloc_fn and free_fn
    char* message;    // failure text; owned by the record
    // Optional: allocates the bitmap block (else a zero-filled C-heap block)
    // and releases it when a decode fails after allocating it (else free).
    PngDibAllocFn alloc_fn;
    PngDibFreeFn free_fn;
    int32_t want_alpha32;           // 32-bit output with alpha for images with alpha or tRNS
    int32_t input_mode;             // PngDibInputMode
    char* input_file_name;          // input_file: the file to read; owned by the record
    const uint8_t* input_buffer;    // input_memory: the PNG bytes; not owned
    int32_t input_size;             // input_memory: byte count of input_buffer
    int32_t input_pos;              // input_memory: read position, set by the decoder
    int32_t use_file_background;    // flatten transparency onto the file's bKGD colour
    int32_t use_custom_background;  // flatten transparency onto `background`
    PngDibColor background;         // in: the custom colour; out: the colour used
    int32_t gamma_correct;          // apply gamma correction for screen_gamma
    double screen_gamma;

    // Outputs.
    void* dib;                   // the bitmap block; null after any failure; the caller's after success
    uint32_t dib_size;           // byte size of the block
    uint32_t palette_offset;     // 40: offset of the masks or the palette
    uint32_t bits_offset;        // offset of the pixel rows
    uint32_t bits_size;          // stride x height
    void* palette;               // dib + palette_offset
    int32_t palette_entries;     // 0 for 24- and 32-bit output
    void* bits;                  // dib + bits_offset
    int32_t png_color_type;      // from IHDR
    int32_t png_bit_depth;       // from IHDR
    int32_t png_bits_per_pixel;  // bits per stored pixel of the file
    int32_t png_interlace;       // from IHDR
    uint32_t res_x;              // pHYs pixels per unit, written only when res_valid becomes 1
    uint32_t res_y;
    int32_t res_unit;          // pHYs unit (1 = metre)
    int32_t res_valid;         // pHYs present with both values non-zero
    double file_gamma;         // written only when file_gamma_valid becomes 1
    int32_t file_gamma_valid;  // sRGB or gAMA present
    int32_t background_valid;  // `background` holds the colour that was used
};

// Decodes the PNG that the record's inputs name into a new bitmap block and
// fills the outputs. Returns 0, or a PngDibStatus code with the failure text
// in `message`; after a failure `dib` is null and nothing stays allocated.
int32_t pngdib_decode(PngDibRecord* record);

// Frees `message`, `input_file_name` (type-2 record) and the record itself,
// all with the C heap's free; never the bitmap block. Returns 1, or 0 for null.
int32_t pngdib_destroy(PngDibRecord* record);

// Copies the text of codes 1 to 9 into `buffer` (at most pngdib_message_limit
// bytes with the zero); other codes leave the buffer untouched.
void pngdib_error_text(int32_t code, char* buffer);

// Corrects three colour bytes in place for the given screen and file gamma.
// Nothing changes when their product is within 0.05 of 1, or not positive.
void pngdib_gamma_adjust(double screen_gamma, double file_gamma, uint8_t* red, uint8_t* green, uint8_t* blue);

// The error pointer that pngdib_decode gives libpng: where pngdib_on_error
// returns to, and the message buffer it writes into (may be null).
struct PngDibErrorTarget {
    jmp_buf return_point;
    char* message;
};

// Handed to libpng by pngdib_decode. pngdib_on_error writes "[libpng] <text>"
// into the target's message, at most pngdib_message_limit bytes with the
// zero, and longjmps to its return point; it never returns to libpng.
// Warnings are ignored. pngdib_read_memory reads from the record that is the
// I/O pointer and raises "read error: unexpected end of file" when a request
// goes past input_size.
struct png_struct_def;
[[noreturn]] void pngdib_on_error(png_struct_def* png, const char* text);
void pngdib_on_warning(png_struct_def* png, const char* text);
void pngdib_read_memory(png_struct_def* png, unsigned char* out, size_t length);

// The PNG decoder, pngdib_decode, with every option of its record.
//
// The last six input bytes are options. Byte 0 holds flags: bit 0 use the
// file's background, bit 1 a custom background (bytes 1 to 3 its red, green
// and blue), bit 2 gamma correction (byte 4 chooses the screen gamma), bit 3
// 32-bit output with alpha, bit 4 input from a file instead of memory, bit 5
// the bitmap block from the caller's allocator. Byte 5 is unused.
#include <stdlib.h>
#include <string.h>

#include "fuzz_support.h"
#include "soft/pngdib/pngdib.h"

namespace {

enum : size_t {
    MaxInput = 1 << 20,
    OptionBytes = 6,
    // The bitmap blocks this harness lets the decoder have. The caller's
    // allocator refuses larger ones; with the C heap, inputs whose header
    // asks for more go to the allocator instead.
    BitmapLimit = 64u << 20,
};

struct Allocations {
    void* block;
    uint32_t size;
    int live;
};

void* allocateBitmap(void* user, uint32_t size) {
    Allocations* a = static_cast<Allocations*>(user);
    if (size > BitmapLimit)
        return nullptr;
    a->block = calloc(1, size);
    a->size = size;
    a->live += a->block != nullptr;
    return a->block;
}

void freeBitmap(void* user, void* block) {
    Allocations* a = static_cast<Allocations*>(user);
    fuzzCheck(block == a->block && a->live == 1, "the decoder frees the block it allocated");
    a->live = 0;
    free(block);
}

uint32_t loadBe32(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

uint32_t loadLe32(const uint8_t* at) {
    return uint32_t(at[3]) << 24 | uint32_t(at[2]) << 16 | uint32_t(at[1]) << 8 | at[0];
}

// The size of the largest bitmap the header could ask for (32 bits a pixel).
uint64_t headerBitmapBytes(const uint8_t* data, size_t size) {
    if (size < 24 || memcmp(data + 12, "IHDR", 4) != 0)
        return 0;
    return (uint64_t(loadBe32(data + 16)) * 32 + 31) / 32 * 4 * loadBe32(data + 20);
}

void checkBitmap(const PngDibRecord& r) {
    const uint8_t* dib = static_cast<const uint8_t*>(r.dib);
    const uint32_t bitCount = dib[14] | dib[15] << 8;
    const bool alpha32 = loadLe32(dib + 16) == 3;
    fuzzCheck(loadLe32(dib) == 40 && r.palette_offset == 40, "header size");
    fuzzCheck(bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 24 || bitCount == 32, "bit count");
    fuzzCheck(r.palette_entries >= 0 && r.palette_entries <= 256, "palette entries");
    fuzzCheck(r.bits_offset == 40 + (alpha32 ? 12u : 0u) + 4u * uint32_t(r.palette_entries), "bits offset");
    fuzzCheck(uint64_t(r.bits_offset) + r.bits_size == r.dib_size, "block size");
    const uint64_t stride = (uint64_t(bitCount) * loadLe32(dib + 4) + 31) / 32 * 4;
    fuzzCheck(stride * loadLe32(dib + 8) == r.bits_size, "rows size");
    fuzzCheck(r.palette == dib + 40 && r.bits == dib + r.bits_offset, "pointers into the block");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < OptionBytes || size > MaxInput)
        return 0;
    const size_t pngSize = size - OptionBytes;
    const uint8_t* option = data + pngSize;
    static const double ScreenGammas[] = {0.0, 1.0, 2.2, 1.8, 0.45455, 1e-7, 100.0, -1.0};

    PngDibRecord* r = static_cast<PngDibRecord*>(calloc(1, sizeof(PngDibRecord)));
    fuzzCheck(r != nullptr, "record allocation");
    r->type = pngdib_record_type;
    r->message = static_cast<char*>(calloc(1, 200));
    r->use_file_background = option[0] & 1;
    r->use_custom_background = (option[0] >> 1) & 1;
    r->background = PngDibColor{option[1], option[2], option[3]};
    r->gamma_correct = (option[0] >> 2) & 1;
    r->screen_gamma = ScreenGammas[option[4] % 8];
    r->want_alpha32 = (option[0] >> 3) & 1;

    Allocations allocations = {nullptr, 0, 0};
    if ((option[0] & 0x20) || headerBitmapBytes(data, pngSize) > BitmapLimit) {
        r->user_data = &allocations;
        r->alloc_fn = allocateBitmap;
        r->free_fn = freeBitmap;
    }
    if (option[0] & 0x10) {
        writeScratchFile(nullptr, 0, data, pngSize);
        r->input_mode = input_file;
        r->input_file_name = strdup(scratchFilePath());
    } else {
        r->input_mode = input_memory;
        r->input_buffer = data;
        r->input_size = static_cast<int32_t>(pngSize);
    }

    const int32_t code = pngdib_decode(r);
    if (code == pngdib_ok) {
        fuzzCheck(r->dib != nullptr, "a decoded bitmap");
        fuzzCheck(r->alloc_fn == nullptr || (r->dib == allocations.block && r->dib_size == allocations.size),
                  "the block comes from the caller's allocator");
        checkBitmap(*r);
        free(r->dib);
    } else {
        fuzzCheck(r->dib == nullptr && allocations.live == 0, "a failed decode keeps no block");
        fuzzCheck(code >= 1 && code <= 9 && r->message[0] != 0, "a failure carries its code and text");
    }
    pngdib_destroy(r);
    return 0;
}

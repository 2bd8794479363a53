#include "preview/preview_convert.h"

#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "serving/packed_file.h"
#include "soft/pngdib/pngdib.h"

namespace {

enum : uint32_t {
    BitmapHeaderBytes = 40,
    MessageBytes = 200,
    PngSignatureBytes = 8,
};

uint32_t loadBe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 | static_cast<uint32_t>(at[2]) << 8 |
           static_cast<uint32_t>(at[3]);
}

int32_t loadLe32Signed(const uint8_t* at) {
    return static_cast<int32_t>(loadLe32(at));
}

uint16_t loadLe16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

// The parts of a bitmap block this code reads, each checked against the
// block's size.
struct BitmapView {
    uint32_t width;
    uint32_t height;
    uint32_t bitCount;
    uint32_t paletteEntries;  // 0 for bitmaps without a palette
    const uint8_t* palette;
    uint32_t stride;
    const uint8_t* bits;
};

bool viewBitmap(const uint8_t* dib, uint32_t dibSize, BitmapView* view) {
    if (!dib || dibSize < BitmapHeaderBytes)
        return false;
    const uint32_t headerSize = loadLe32(dib);
    const int32_t width = loadLe32Signed(dib + 4);
    const int32_t height = loadLe32Signed(dib + 8);
    const uint32_t bitCount = loadLe16(dib + 14);
    const uint32_t colorsUsed = loadLe32(dib + 32);
    if (headerSize < BitmapHeaderBytes || headerSize > dibSize || width <= 0 || height <= 0)
        return false;
    uint32_t entries = 0;
    if (bitCount <= 8)
        entries = colorsUsed != 0 ? colorsUsed : 1u << bitCount;
    uint32_t paletteBytes = 0;
    if (!mulU32(entries, 4, &paletteBytes) || !rangeFits(dibSize, headerSize, paletteBytes))
        return false;
    uint32_t rowBits = 0;
    if (!mulU32(bitCount, static_cast<uint32_t>(width), &rowBits) || rowBits > UINT32_MAX - 31)
        return false;
    const uint32_t stride = (rowBits + 31) / 32 * 4;
    uint32_t bitsSize = 0;
    if (!mulU32(stride, static_cast<uint32_t>(height), &bitsSize))
        return false;
    const uint32_t bitsOffset = headerSize + paletteBytes;
    if (!rangeFits(dibSize, bitsOffset, bitsSize))
        return false;
    *view = BitmapView{static_cast<uint32_t>(width),
                       static_cast<uint32_t>(height),
                       bitCount,
                       entries,
                       dib + headerSize,
                       stride,
                       dib + bitsOffset};
    return true;
}

// Offset of the first chunk of `type` within the file, or 0 when there is
// none. Positions are 64-bit: a chunk length near 4 GiB must not wrap around.
uint64_t findChunk(const uint8_t* bytes, uint32_t count, const char* type) {
    for (uint64_t at = PngSignatureBytes; at + 8 <= count;) {
        if (memcmp(bytes + at + 4, type, 4) == 0)
            return at;
        at += uint64_t(loadBe32(bytes + at)) + 12;
    }
    return 0;
}

}  // namespace

bool previewBitmapAcceptable(const uint8_t* bytes, uint32_t count) {
    // Signature, then the IHDR chunk: length, "IHDR", width, height, depth, colour type.
    if (count < 26 || memcmp(bytes + 12, "IHDR", 4) != 0)
        return true;  // the decoder rejects it
    const uint64_t width = loadBe32(bytes + 16);
    const uint64_t height = loadBe32(bytes + 20);
    const uint8_t colourType = bytes[25];
    // The widest bitmap the decoder makes of it with the file's background:
    // gray and palette pictures stay at 8 bits or fewer, except a palette
    // whose transparency is composited onto its bKGD colour; the rest is 24.
    uint64_t bits = 24;
    if (colourType == 0 || (colourType == 3 && !(findChunk(bytes, count, "tRNS") && findChunk(bytes, count, "bKGD"))))
        bits = 8;
    const uint64_t stride = (bits * width + 31) / 32 * 4;
    const uint64_t header = 40 + 4 * 256;
    return stride * height + header <= PreviewBitmapByteLimit;
}

bool readFileBytes(const char16_t* path, uint8_t** bytes, uint32_t* count) {
    if (!path || path[0] == 0)
        return false;
    PlatformHandle file = platformOpenRead(path);
    if (file == PLATFORM_INVALID_HANDLE)
        return false;
    uint32_t size = 0;
    uint8_t* block = nullptr;
    bool ok = platformFileSize(file, &size) && size != 0 && size <= PreviewFileByteLimit;
    if (ok) {
        block = static_cast<uint8_t*>(platformHeapAlloc(size));
        ok = block != nullptr;
    }
    uint32_t held = 0;
    while (ok && held < size) {
        uint32_t got = 0;
        if (!platformReadFile(file, block + held, size - held, &got) || got == 0)
            break;
        held += got;
    }
    platformCloseHandle(file);
    if (ok && held == size) {
        *bytes = block;
        *count = size;
        return true;
    }
    if (block)
        platformHeapFree(block);
    return false;
}

void* decodePreviewPng(const char16_t* path, uint32_t* size) {
    *size = 0;
    PngDibRecord* record = static_cast<PngDibRecord*>(calloc(1, sizeof(PngDibRecord)));
    if (!record)
        return nullptr;
    record->type = pngdib_record_type;
    record->message = static_cast<char*>(calloc(1, MessageBytes));
    uint8_t* bytes = nullptr;
    uint32_t count = 0;
    if (!record->message || !readFileBytes(path, &bytes, &count)) {
        pngdib_destroy(record);
        return nullptr;
    }
    void* dib = nullptr;
    uint32_t dibSize = 0;
    if (count <= INT32_MAX && previewBitmapAcceptable(bytes, count)) {
        record->input_mode = input_memory;
        record->input_buffer = bytes;
        record->input_size = static_cast<int32_t>(count);
        record->use_file_background = 1;
        pngdib_decode(record);
        dib = record->dib;
        dibSize = record->dib_size;
    }
    pngdib_destroy(record);
    if (dib)
        copyPngAlphaToPalette(bytes, count, static_cast<uint8_t*>(dib), dibSize);
    platformHeapFree(bytes);
    if (dib)
        *size = dibSize;
    return dib;
}

void copyPngAlphaToPalette(const uint8_t* bytes, uint32_t count, uint8_t* dib, uint32_t dibSize) {
    BitmapView view;
    if (!viewBitmap(dib, dibSize, &view) || view.paletteEntries == 0)
        return;
    uint8_t* palette = const_cast<uint8_t*>(view.palette);  // inside `dib`, which is ours to write
    uint32_t given = 0;                                     // entries whose alpha the chunk gives
    const uint64_t at = findChunk(bytes, count, "tRNS");
    if (at != 0) {
        const uint64_t available = count - (at + 8);
        const uint32_t length = loadBe32(bytes + at);
        uint64_t usable = length < available ? length : available;
        if (usable > view.paletteEntries)
            usable = view.paletteEntries;
        for (uint32_t k = 0; k < usable; ++k)
            palette[4 * k + 3] = bytes[at + 8 + k];
        given = static_cast<uint32_t>(usable);
    }
    for (uint32_t k = given; k < view.paletteEntries; ++k)
        palette[4 * k + 3] = 255;
}

void blitBitmapToTexture(const uint8_t* dib, uint32_t dibSize, uint8_t* texture, uint32_t textureSize) {
    BitmapView view;
    if (!viewBitmap(dib, dibSize, &view) || (view.bitCount != 4 && view.bitCount != 8))
        return;
    if (textureSize < PaletteTexturePixelOffset)
        return;
    const uint32_t textureWidth = loadLe16(texture + 8);
    const uint32_t textureHeight = loadLe16(texture + 10);
    if (uint64_t(textureWidth) * textureHeight > textureSize - PaletteTexturePixelOffset)
        return;

    uint8_t* palette = texture + PaletteTexturePaletteOffset;
    memset(palette, 0, PaletteTexturePaletteSize);
    const uint32_t entries = view.paletteEntries < 256 ? view.paletteEntries : 256;
    for (uint32_t k = 0; k < entries; ++k) {
        const uint8_t* quad = view.palette + 4 * k;  // blue, green, red, alpha
        palette[4 * k + 0] = quad[2];
        palette[4 * k + 1] = quad[1];
        palette[4 * k + 2] = quad[0];
        palette[4 * k + 3] = quad[3];
    }

    const uint32_t w = textureWidth < view.width ? textureWidth : view.width;
    const uint32_t h = textureHeight < view.height ? textureHeight : view.height;
    uint8_t* pixels = texture + PaletteTexturePixelOffset;
    for (uint32_t r = 0; r < h; ++r) {
        const uint8_t* row = view.bits + size_t(view.height - 1 - r) * view.stride;  // rows are stored bottom-up
        uint8_t* out = pixels + size_t(r) * textureWidth;
        if (view.bitCount == 8) {
            memcpy(out, row, w);
        } else {
            // Two pixels a byte, the left one in the high nibble.
            for (uint32_t b = 0; b < w / 2; ++b) {
                out[2 * b] = row[b] >> 4;
                out[2 * b + 1] = row[b] & 0x0F;
            }
            if (w % 2 != 0)
                out[w - 1] = row[w / 2] >> 4;
        }
    }
}

void convertPreviewImages(uint32_t count, const char16_t* const* paths, uint8_t* payload, uint32_t payloadSize) {
    uint32_t tableEnd = 0;
    if (!multiFileBinTableEnd(count, &tableEnd) || tableEnd > payloadSize)
        return;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = payload + MultiFileBinTableOffset + MultiFileBinEntrySize * i;
        const uint32_t offset = loadLe32(entry);
        const uint32_t size = loadLe32(entry + 4);
        if (!rangeFits(payloadSize, offset, size))
            continue;
        uint32_t dibSize = 0;
        void* dib = decodePreviewPng(paths[i], &dibSize);
        if (!dib)
            continue;
        blitBitmapToTexture(static_cast<const uint8_t*>(dib), dibSize, payload + offset, size);
        free(dib);
    }
}

// The preview conversion: decodePreviewPng (file read, decode with the file's
// background, the tRNS chunk walk of copyPngAlphaToPalette) and
// blitBitmapToTexture into a palette texture.
//
// The last three input bytes are options: the texture's width and height (1
// to 64 each), and a mode byte. Mode bit 0 hands the input itself to
// copyPngAlphaToPalette and blitBitmapToTexture as both the PNG bytes and
// the bitmap block, for blocks the decoder would never make; bit 1 gives the
// texture fewer bytes than its header's size asks for.
#include <stdlib.h>
#include <string.h>

#include "fuzz_support.h"
#include "preview/preview_convert.h"
#include "serving/packed_file.h"

namespace {

enum : size_t {
    MaxInput = 1 << 20,
    OptionBytes = 3,
};

struct Texture {
    uint8_t* bytes;
    uint32_t size;
};

// A texture as the preview file builder creates it, in a block of exactly
// its size so that a write past it is caught.
Texture makeTexture(uint32_t width, uint32_t height, bool shortBlock) {
    uint32_t size = PaletteTexturePixelOffset + width * height;
    if (shortBlock)
        size -= 1 + (width * height) / 2;
    uint8_t* bytes = static_cast<uint8_t*>(calloc(1, size));
    fuzzCheck(bytes != nullptr, "texture allocation");
    memcpy(bytes, "WE00", 4);
    bytes[6] = 3;
    bytes[7] = 8;
    storeLe16(bytes + 8, static_cast<uint16_t>(width));
    storeLe16(bytes + 10, static_cast<uint16_t>(height));
    storeLe16(bytes + 12, PaletteTexturePaletteOffset);
    storeLe16(bytes + 14, PaletteTexturePixelOffset);
    return Texture{bytes, size};
}

// The header of a converted texture is never touched; palette and pixels are.
void checkHeader(const Texture& texture, uint32_t width, uint32_t height) {
    fuzzCheck(memcmp(texture.bytes, "WE00", 4) == 0 && texture.bytes[7] == 8, "texture magic and kind stay");
    fuzzCheck(texture.bytes[8] == (width & 0xFF) && texture.bytes[10] == (height & 0xFF), "texture size stays");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < OptionBytes || size > MaxInput)
        return 0;
    const size_t bodySize = size - OptionBytes;
    const uint32_t width = data[bodySize] % 64 + 1;
    const uint32_t height = data[bodySize + 1] % 64 + 1;
    const uint8_t mode = data[bodySize + 2];
    Texture texture = makeTexture(width, height, (mode & 2) != 0);

    if (mode & 1) {
        // The input block stands for both the file and the bitmap.
        uint8_t* block = static_cast<uint8_t*>(malloc(bodySize ? bodySize : 1));
        fuzzCheck(block != nullptr, "block allocation");
        memcpy(block, data, bodySize);
        copyPngAlphaToPalette(data, static_cast<uint32_t>(bodySize), block, static_cast<uint32_t>(bodySize));
        blitBitmapToTexture(block, static_cast<uint32_t>(bodySize), texture.bytes, texture.size);
        free(block);
    } else {
        const char16_t* path = writeScratchFile(nullptr, 0, data, bodySize);
        uint32_t dibSize = 0;
        void* dib = decodePreviewPng(path, &dibSize);
        fuzzCheck((dib == nullptr) == (dibSize == 0), "a bitmap comes with its size");
        if (dib) {
            fuzzCheck(dibSize >= 40 && dibSize <= PreviewBitmapByteLimit + (1u << 12), "bitmap size in bounds");
            blitBitmapToTexture(static_cast<const uint8_t*>(dib), dibSize, texture.bytes, texture.size);
            free(dib);
        }
    }
    checkHeader(texture, width, height);
    free(texture.bytes);
    return 0;
}

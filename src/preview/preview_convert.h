// Turning the preview pictures (PNG files) into the palette textures of the
// preview file: decode, carry the transparency into the palette, copy.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : uint32_t {
    // A PNG file larger than this is not read: no preview needs it, and the
    // game's 32-bit address space is short.
    PreviewFileByteLimit = 64u << 20,
    // A picture whose bitmap would exceed this is refused before decoding.
    PreviewBitmapByteLimit = 256u << 20,
};

// Converts entry i's picture, paths[i], into the texture at the dataOffset of
// table entry i of `payload` (a MultiFileBin of `payloadSize` bytes whose
// table and texture headers are written). An empty path, a missing picture
// or one that cannot be converted leaves its texture as it is.
void convertPreviewImages(uint32_t count, const char16_t* const* paths, uint8_t* payload, uint32_t payloadSize);

// False when the bitmap the decoder would make of this PNG file (judged
// from its header and chunks) could exceed PreviewBitmapByteLimit: such a
// picture is refused before anything is allocated for it.
bool previewBitmapAcceptable(const uint8_t* bytes, uint32_t count);

// Decodes the PNG file at `path` into a bitmap block (release with the C
// heap's free) and its size; null and a size of 0 on failure.
void* decodePreviewPng(const char16_t* path, uint32_t* size);

// The whole file at `path` in a new process-heap block (release with
// platformHeapFree); false when it cannot be opened, is empty, larger than
// PreviewFileByteLimit, or not read whole.
bool readFileBytes(const char16_t* path, uint8_t** bytes, uint32_t* count);

// Sets the fourth byte of each palette entry of the bitmap from the PNG's
// tRNS chunk (255 where it gives none). Bitmaps without a palette are left
// as they are.
void copyPngAlphaToPalette(const uint8_t* bytes, uint32_t count, uint8_t* dib, uint32_t dibSize);

// Copies a 4- or 8-bit bitmap's palette (as red, green, blue, alpha) and
// pixels (top row first, clipped to the texture) into the texture of
// `textureSize` bytes. Other bitmaps leave the texture untouched.
void blitBitmapToTexture(const uint8_t* dib, uint32_t dibSize, uint8_t* texture, uint32_t textureSize);

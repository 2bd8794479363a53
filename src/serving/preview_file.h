// The generated preview texture file (archive 11, file 36): one palette
// texture per catalogue ball and one for the random entry.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

enum : uint32_t { PreviewNameSlotBytes = 32 };

// Answers a read of the preview file: serves the cached file or builds it
// from the pictures on disk.
bool buildPreviewFile(uint32_t archive, uint32_t file, PlatformHandle* outHandle, uint32_t* outSize);

// The sizes of the preview payload for `entries` textures of width x height:
// one texture, the textures with header and table (P), and the whole payload
// with its name slots. False when a size is not positive, a side exceeds
// 65535, or a length does not fit in 32 bits.
bool previewPayloadSizes(uint32_t entries, int32_t width, int32_t height, uint32_t* texture, uint32_t* texturesEnd,
                         uint32_t* payload);

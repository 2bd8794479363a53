// The ball catalogue read from GDB\balls\map.txt at start-up.
#pragma once

#include <stdint.h>

enum : uint32_t {
    FolderSlotCount = 255,  // slots 0 to 254; ball number n uses slot n
    PathUnits = 1024,       // the module's UTF-16 path buffers
};

struct BallCatalogue {
    int32_t ballCount;
    int32_t previewWidth;
    int32_t previewHeight;
    char16_t* folderNames[FolderSlotCount];  // owned heap copies, or null
};

// Written once during start-up, read-only afterwards.
extern BallCatalogue Catalogue;
extern char16_t CataloguePath[PathUnits];

// Reads CataloguePath; returns the ball count, or 0 when there is no ball.
// Fills previewWidth, previewHeight and folderNames; the caller stores the
// count.
int32_t loadBallCatalogue();

// Frees the folder-name copies and empties the catalogue. Run when the module
// is unloaded.
void releaseBallCatalogue();

// The ball catalogue read from GDB\balls\map.txt at start-up.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : uint32_t {
    FolderSlotCount = 255,  // slots 0 to 254; ball number n uses slot n
    PathUnits = 1024,       // the module's UTF-16 path buffers
    // Slots 0 to the count are filled, so at most 254 balls; a larger count
    // is cut to this and logged.
    CatalogueMaximumBalls = FolderSlotCount - 1,
};

// The sections and keys of map.txt that the catalogue reads. The height key
// is exactly "preview.heigh", without a final t.
inline constexpr wchar_t CatalogueBallSection[] = L"ball";
inline constexpr wchar_t CatalogueNameSection[] = L"ball name";
inline constexpr wchar_t CatalogueCountKey[] = L"ball.count";
inline constexpr wchar_t CatalogueWidthKey[] = L"preview.width";
inline constexpr wchar_t CatalogueHeightKey[] = L"preview.heigh";

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

// The catalogue's reading of an integer value: the whole text must be the
// number (an optional sign and decimal digits, or "0x"/"0X" and hexadecimal
// digits) and at most 63 characters long; anything else is unusable (false)
// and the key's default applies. Out-of-range numbers saturate to the 32-bit
// limits.
bool parseCatalogueInteger(const wchar_t* text, int32_t* result);

// The text of the file at `path` as the INI reader is given it: a line break
// of the module's own, then the file's bytes. A process-heap block (release
// with platformHeapFree) of *length bytes; null when the file does not open
// or the block cannot be had.
char* readCatalogueText(const char16_t* path, size_t* length);

// Frees the folder-name copies and empties the catalogue. Run when the module
// is unloaded.
void releaseBallCatalogue();

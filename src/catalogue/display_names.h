// Display names of the balls, read once from GDB\balls\balls.txt and written
// over the names in the game's ball table by the afsReadBalls export.
#pragma once

#include <stdint.h>

#include <string>
#include <unordered_map>

#include "platform/platform.h"

struct DisplayNameEntry {
    uint16_t ballNumber;
    char* name;  // UTF-8, zero-terminated, from the process heap; owned by the entry
};

typedef std::unordered_map<uint16_t, DisplayNameEntry> DisplayNameMap;

// Ball number to UTF-16 name, as read from a names file before it is merged.
typedef std::unordered_map<uint16_t, std::u16string> NamesFileMap;

// Creates the module-wide map, empty, and merges the loader folder's
// GDB\balls\balls.txt into it. Run once, as the last step of start-up.
void loadDisplayNames();

// Merges the names file at `path` into the module-wide map (created when it
// does not exist yet): quotes around a name are removed and the name stored
// as UTF-8; a name already held for a number is replaced. A missing file is
// skipped silently; one that cannot be read is logged.
void mergeNamesFile(const char16_t* path);

// Reads the names file at `path` into `names`; the first line that gives a
// number wins. False when the file cannot be opened, a read fails or memory
// runs out.
bool readNamesFile(NamesFileMap& names, const char16_t* path);

// The module-wide map, or null before loadDisplayNames (or mergeNamesFile)
// created it.
const DisplayNameMap* displayNameMap();

// Frees every name and the map itself; afterwards the map does not exist.
// Called by a static destructor when the module is unloaded.
void releaseDisplayNames();

// Writes the mapped names into the game's ball table: for record i (stride 72
// bytes, the first 64 being the name field) with a name for ball i + 1, the
// name field is zeroed and takes at most 63 bytes of the name. The table's
// memory is made read-write first; when that is refused, or before the map
// exists, nothing is written. Always returns 0.
extern "C" int32_t QD_CDECL afsReadBalls(uint8_t* table);

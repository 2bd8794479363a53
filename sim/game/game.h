// The simulated game: its memory at the running build's addresses, with
// plausible original bytes at every patch site and call point.
#pragma once

#include <stdint.h>

#include <vector>

enum : uint32_t {
    SimGameBase = 0x00400000,
    SimGameEnd = 0x01A00000,
    // Code pages are mapped execute-read, data pages read-write, as in the game.
    SimGameDataBase = 0x01900000,
};

struct SimGameSites {
    uint32_t ballLoadCallPoint;
    uint32_t ballListIdSite;
    uint32_t selectionCallPoint;
    uint32_t ballListSizeSite;
    uint32_t previewIdSite;
    uint32_t selectionRecordPointer;
    uint32_t ballTableCallPoint;
    uint32_t selectionRecord;  // where the game keeps its SelectionRecord
};

// The sites of a build (0 or 1).
SimGameSites simGameSites(int32_t build);

// Maps the game of `build` (unmapping any earlier one). False when the
// addresses are taken or the build is not 0 or 1.
bool simGameMap(int32_t build);
void simGameUnmap();
bool simGameMapped();
int32_t simGameBuild();

// A copy of the whole mapped region, and the addresses where a copy and the
// current memory differ.
std::vector<uint8_t> simGameSnapshot();
std::vector<uint32_t> simGameDifferences(const std::vector<uint8_t>& snapshot);

// Reads and writes game memory, whatever its protection (the simulation's
// own access, not the module's).
void simGameRead(uint32_t address, void* out, uint32_t length);
void simGameWrite(uint32_t address, const void* bytes, uint32_t length);
uint32_t simGameRead32(uint32_t address);

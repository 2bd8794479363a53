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
    // The game's exit function: every call-point sequence of the simulation
    // ends with a call to it, which hands control back to simGameRun.
    SimGameExit = 0x018F0000,
    SimGameExitPointer = 0x019F0000,
    SimGameCpuBlock = 0x019F0100,
    // The game's stack for simGameRun grows down from here.
    SimGameStackTop = 0x019EFF00,
    SimGameStackBottom = 0x019E0000,
};

// The game's registers on entry to, and at the exit of, a run.
struct SimCpu {
    uint32_t eax, ebx, ecx, edx, esi, edi, ebp, esp, eflags;
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

// True where the game's 32-bit code can run (the i386 build).
bool simGameCanRun();
// Runs the game's code from `entry` with the registers, stack pointer and
// flags of `in` until it calls the exit function; `out` receives the
// registers there, its esp pointing at the return address of that call.
// False when the code cannot run here.
bool simGameRun(uint32_t entry, const SimCpu& in, SimCpu* out);

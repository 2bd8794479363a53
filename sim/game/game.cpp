#include "game/game.h"

#include <string.h>
#include <sys/mman.h>

namespace {

bool mapped = false;
int32_t mappedBuild = -1;

const SimGameSites Sites[2] = {
    {0x0119C5F1, 0x010F32C0, 0x0051DF03, 0x010F2DEF, 0x01530374, 0x01932678, 0x00431553, 0x01980000},
    {0x01214571, 0x0116A0E0, 0x00529073, 0x01169C3F, 0x015B629C, 0x019BCFF0, 0x00430B23, 0x01980000},
};

uint8_t* at(uint32_t address) {
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
}

void put(uint32_t address, const uint8_t* bytes, size_t length) {
    memcpy(at(address), bytes, length);
}

void put32(uint32_t address, uint32_t value) {
    memcpy(at(address), &value, 4);
}

// A relative call at `address` to `target`: E8 rel32.
void putCall(uint32_t address, uint32_t target) {
    at(address)[0] = 0xE8;
    put32(address + 1, target - (address + 5));
}

// A relative jump at `address` to `target`: E9 rel32.
void putJump(uint32_t address, uint32_t target) {
    at(address)[0] = 0xE9;
    put32(address + 1, target - (address + 5));
}

#if defined(__i386__)
extern "C" void simGameEnterStub();
extern "C" void simGameExitStub();
uint32_t exitStubAddress() {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&simGameExitStub));
}
#else
uint32_t exitStubAddress() {
    return 0;
}
#endif

// The game's own bytes around every place the module patches or hooks.
void writeOriginalBytes(const SimGameSites& s) {
    // Ball-load call point: a call the host replaces, 13 bytes of the game's
    // instructions that become filler, the push of the game's own ball file
    // id (archive 11, file 17), then the call that loads it.
    const uint32_t c = s.ballLoadCallPoint;
    putCall(c, c + 0x200);
    const uint8_t filler[13] = {
        0x8B, 0x4C, 0x24, 0x14,              // mov ecx, [esp+0x14]
        0x89, 0x81, 0xB4, 0x00, 0x00, 0x00,  // mov [ecx+0xB4], eax
        0x56,                                // push esi
        0x8B, 0xC6,                          // mov eax, esi
    };
    put(c + 5, filler, sizeof filler);
    const uint8_t pushDefaultBall[5] = {0x68, 0x11, 0x00, 0x00, 0x0B};  // push 0x0B000011
    put(c + 18, pushDefaultBall, sizeof pushDefaultBall);
    putCall(c + 23, c + 0x300);
    putJump(c + 0x300, SimGameExit);  // the game's load function ends the run

    // Ball-list file ids: two pushes of 32-bit file ids; the one at S + 1
    // holds 5, the one at S - 57 has 0x2A in its byte 2.
    at(s.ballListIdSite)[0] = 0x68;  // push imm32
    put32(s.ballListIdSite + 1, 0x00000005);
    at(s.ballListIdSite - 58)[0] = 0x68;
    put32(s.ballListIdSite - 57, 0x072A0013);

    // Ball-list buffer size: push 3528.
    at(s.ballListSizeSite)[0] = 0x68;
    put32(s.ballListSizeSite + 1, 3528);

    // Preview file id, the immediate of mov dword [esp+8], 0x0B000019.
    const uint8_t movToStack[4] = {0xC7, 0x44, 0x24, 0x08};
    put(s.previewIdSite - 4, movToStack, sizeof movToStack);
    put32(s.previewIdSite, 0x0B000019);

    // Selection call point: a call the host replaces.
    putCall(s.selectionCallPoint, s.selectionCallPoint + 0x400);
    putCall(s.selectionCallPoint + 5, SimGameExit);

    // Ball-table call point: mov byte [esi+0x3C], 1; mov esi, [esi+0x34].
    const uint8_t tableSite[7] = {0xC6, 0x46, 0x3C, 0x01, 0x8B, 0x76, 0x34};
    put(s.ballTableCallPoint, tableSite, sizeof tableSite);
    putCall(s.ballTableCallPoint + 7, SimGameExit);

    // The exit function: jmp dword [SimGameExitPointer].
    const uint8_t jumpIndirect[2] = {0xFF, 0x25};
    put(SimGameExit, jumpIndirect, 2);
    put32(SimGameExit + 2, SimGameExitPointer);
    put32(SimGameExitPointer, exitStubAddress());

    // The pointer to the game's selection record, whose byte 25 is the ball.
    put32(s.selectionRecordPointer, s.selectionRecord);
    memset(at(s.selectionRecord), 0, 64);
}

}  // namespace

SimGameSites simGameSites(int32_t build) {
    return Sites[build == 1 ? 1 : 0];
}

bool simGameMap(int32_t build) {
    simGameUnmap();
    if (build != 0 && build != 1)
        return false;
    void* want = at(SimGameBase);
    void* got = mmap(want, SimGameEnd - SimGameBase, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED)
        return false;
    if (got != want) {
        munmap(got, SimGameEnd - SimGameBase);
        return false;
    }
    memset(want, 0xCC, SimGameDataBase - SimGameBase);  // int3 everywhere in the code
    writeOriginalBytes(Sites[build]);
    mprotect(want, SimGameDataBase - SimGameBase, PROT_READ | PROT_EXEC);
    mapped = true;
    mappedBuild = build;
    return true;
}

void simGameUnmap() {
    if (!mapped)
        return;
    munmap(at(SimGameBase), SimGameEnd - SimGameBase);
    mapped = false;
    mappedBuild = -1;
}

bool simGameMapped() {
    return mapped;
}

int32_t simGameBuild() {
    return mappedBuild;
}

std::vector<uint8_t> simGameSnapshot() {
    if (!mapped)
        return {};
    return std::vector<uint8_t>(at(SimGameBase), at(SimGameEnd));
}

std::vector<uint32_t> simGameDifferences(const std::vector<uint8_t>& snapshot) {
    std::vector<uint32_t> out;
    if (!mapped || snapshot.size() != SimGameEnd - SimGameBase)
        return out;
    const uint8_t* now = at(SimGameBase);
    for (size_t i = 0; i < snapshot.size(); ++i) {
        if (now[i] != snapshot[i])
            out.push_back(SimGameBase + static_cast<uint32_t>(i));
    }
    return out;
}

void simGameRead(uint32_t address, void* out, uint32_t length) {
    memcpy(out, at(address), length);
}

void simGameWrite(uint32_t address, const void* bytes, uint32_t length) {
    // The simulation writes code pages as the loader host would: opened up
    // for the write, closed again after.
    uintptr_t first = address & ~uintptr_t(0xFFF);
    uintptr_t last = (uintptr_t(address) + length + 0xFFF) & ~uintptr_t(0xFFF);
    bool code = address < SimGameDataBase;
    if (code)
        mprotect(reinterpret_cast<void*>(first), last - first, PROT_READ | PROT_WRITE | PROT_EXEC);
    memcpy(at(address), bytes, length);
    if (code)
        mprotect(reinterpret_cast<void*>(first), last - first, PROT_READ | PROT_EXEC);
}

uint32_t simGameRead32(uint32_t address) {
    uint32_t v;
    simGameRead(address, &v, 4);
    return v;
}

bool simGameCanRun() {
#if defined(__i386__)
    return true;
#else
    return false;
#endif
}

bool simGameRun(uint32_t entry, const SimCpu& in, SimCpu* out) {
#if defined(__i386__)
    if (!mapped)
        return false;
    const uint32_t block[10] = {entry, in.eax, in.ebx, in.ecx, in.edx, in.esi, in.edi, in.ebp, in.esp, in.eflags};
    memcpy(at(SimGameCpuBlock), block, sizeof block);
    simGameEnterStub();
    uint32_t result[9];
    memcpy(result, at(SimGameCpuBlock + 40), sizeof result);
    *out = SimCpu{result[0], result[1], result[2], result[3], result[4], result[5], result[6], result[7], result[8]};
    return true;
#else
    (void)entry;
    (void)in;
    (void)out;
    return false;
#endif
}

#include "module/game_patch.h"

#include <string.h>

#include "module/log.h"
#include "module/selection.h"
#include "module/version_table.h"

namespace {

// "0x" and eight hexadecimal digits, for the log.
void hexText(uint32_t value, char16_t (&out)[11]) {
    static const char16_t Digits[] = u"0123456789ABCDEF";
    out[0] = u'0';
    out[1] = u'x';
    for (int i = 0; i < 8; ++i)
        out[2 + i] = Digits[(value >> (28 - 4 * i)) & 0xF];
    out[10] = 0;
}

uint32_t column(const uint32_t (&row)[SupportedBuildCount]) {
    return row[GameVersion];
}

}  // namespace

bool patchGame(uint32_t target, const void* bytes, uint32_t width) {
    if (platformPatch(target, bytes, width))
        return true;
    char16_t address[11];
    hexText(target, address);
    logLine(u"Patch at %s skipped: the memory cannot be made writable", address);
    return false;
}

void applyFileIdPatches() {
    const uint32_t s = column(VersionAddresses.ballListIdSite);
    const uint32_t p = column(VersionAddresses.previewIdSite);
    const uint8_t listFile[2] = {BallListFileIndex, 0x00};  // low 16 bits of a file id: file 34
    const uint8_t archive[1] = {BallArchive};               // top byte of a file id: archive 11
    const uint8_t previewFile[2] = {PreviewFileIndex, 0x00};
    patchGame(s + 1, listFile, 2);   // A1: push imm32 at S, its low half
    patchGame(s - 57, listFile, 2);  // A2: the immediate at S - 57, its low half
    patchGame(s + 4, archive, 1);    // A3: top byte of the immediate at S + 1
    patchGame(s - 54, archive, 1);   // A4: top byte of the immediate at S - 57
    patchGame(p, previewFile, 2);    // B: low half of the preview file id
}

void applyBallLoadPatches() {
    const uint32_t c = column(VersionAddresses.ballLoadCallPoint);
    const uint8_t storeAndPush[7] = {
        0x89, 0x81, 0xB4, 0x00, 0x00, 0x00,  // mov [ecx+0xB4], eax
        0x56,                                // push esi
    };
    patchGame(c + 10, storeAndPush, sizeof storeAndPush);  // C1
    setBallFileId(gameFileId(BallArchive, BallModelFileIndex));
    const uint8_t pushMemory[2] = {0xFF, 0x35};        // push dword [imm32]
    patchGame(c + 17, pushMemory, sizeof pushMemory);  // C2
    const uint32_t operand = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&BallFileId));
    uint8_t operandBytes[4];
    memcpy(operandBytes, &operand, 4);                     // little-endian, as the game reads it
    patchGame(c + 19, operandBytes, sizeof operandBytes);  // C3: &BallFileId
}

extern "C" uint32_t QD_CDECL hookVtableFunction(uint32_t* table, int32_t index, uint32_t value) {
    uint32_t* slot = table + index;
    const uint32_t old = *slot;
    uint32_t previous = 0;
    if (platformProtect(reinterpret_cast<uintptr_t>(slot), sizeof *slot, PlatformReadWrite, &previous))
        *slot = value;
    return old;
}

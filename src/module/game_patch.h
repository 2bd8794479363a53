// Writing the game's memory: the start-up code patches and the one way any
// byte of the game is written.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

// File numbers in the game's archives. A game file id holds the archive in
// its top byte and the file in its low bytes.
enum : uint32_t {
    BallArchive = 11,
    BallModelFileIndex = 0,
    DefaultBallFileIndex = 17,
    BallListFileIndex = 34,
    PreviewFileIndex = 36,
};

// Writes `width` bytes at `target` in the game: the bytes are made
// execute-read-write, written, and given their earlier protection back. When
// the protection cannot be changed nothing is written; the skipped write is
// logged and false returned.
bool patchGame(uint32_t target, const void* bytes, uint32_t width);

// A1 to A4 (the ball list is read from archive 11, file 34) and B (the
// preview textures from file 36), at the running build's sites.
void applyFileIdPatches();

// C1 to C3 behind the ball-load call point: the game stores the ball number
// the hook returns, pushes esi and then pushes the current BallFileId as the
// id of the model to load. BallFileId is set to archive 11, file 0 between C1
// and C2.
void applyBallLoadPatches();

// Exported for other modules: stores `value` in slot `index` of `table` when
// the slot can be made read-write (it stays so), and returns the slot's old
// content either way.
extern "C" uint32_t QD_CDECL hookVtableFunction(uint32_t* table, int32_t index, uint32_t value);

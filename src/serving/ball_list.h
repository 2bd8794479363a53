// The generated ball list file (archive 11, file 34): one 72-byte record per
// catalogue ball.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

enum : uint32_t {
    BallRecordBytes = 72,
    BallNameBytes = 64,
    BallListHeaderBytes = 20,        // MultiFileBin header and its one table entry
    GameBallListBufferBytes = 3528,  // what the game's buffer holds unpatched: 49 records
};

// Answers a read of the ball list: extends the archive's slots, then serves
// the cached file or builds it (enlarging the game's buffer when needed).
bool buildBallListFile(uint32_t archive, uint32_t file, PlatformHandle* outHandle, uint32_t* outSize);

// Writes the payload of the ball list for the catalogue into `payload` of
// `capacity` bytes; returns its length, or 0 when it does not fit.
uint32_t writeBallListPayload(uint8_t* payload, uint32_t capacity);

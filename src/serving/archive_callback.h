// The archive-I/O host's callback: which of the game's archive reads the
// module answers, and how.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

enum : uint32_t { MenuArchive = 6 };

// Returns 1 when the module answers the read of `file` in `archive`: the
// host then reads *outSize bytes from *outHandle and owns the handle.
extern "C" uint8_t QD_CDECL ArchiveReadCallback(uint32_t archive, uint32_t file, PlatformHandle* outHandle,
                                                uint32_t* outSize);

// Puts `length` bytes into a new pipe and hands back its read end; archive
// and file serve only the message.
bool serveMemoryAsPipe(uint32_t archive, uint32_t file, PlatformHandle* outHandle, uint32_t* outSize,
                       const uint8_t* bytes, uint32_t length);

// Opens the file named in BallModelPath for the host.
bool OpenFileIfExists(PlatformHandle* outHandle, uint32_t* outSize);

// The per-generator cache of a built PackedFile, and the serving of files
// held in memory through a pre-filled pipe.
#pragma once

#include <stdint.h>

#include "platform/platform.h"
#include "serving/packed_file.h"

struct GeneratedFileCache {
    uint32_t keyArchive;  // request of the file held or last built; 0 at load
    uint32_t keyFileId;
    uint32_t packedLength;  // 16 + compressedSize of the held file
    uint8_t* packedFile;    // owned, from the process heap; null when nothing is held
    // Held by the generator from its cache lookup to the end of serving, so
    // that reads on several threads build the file once and share it.
    PlatformLock lock;
};

// Holds a cache's lock for one scope.
struct CacheLockScope {
    explicit CacheLockScope(GeneratedFileCache& cache) : held(&cache.lock) { platformLock(held); }
    ~CacheLockScope() { platformUnlock(held); }
    CacheLockScope(const CacheLockScope&) = delete;
    CacheLockScope& operator=(const CacheLockScope&) = delete;
    PlatformLock* held;
};

// The caches of the ball list file and of the preview texture file.
extern GeneratedFileCache BallListCache;
extern GeneratedFileCache PreviewCache;

enum PipeFill { PipeFilled, PipeNotCreated, PipeNotWritten };

// Creates a pipe with room for twice `length` bytes, writes them into it in
// one write and hands back the read end, the host's from then on. Nothing is
// left open when it fails.
PipeFill fillNewPipe(const uint8_t* bytes, uint32_t length, PlatformHandle* readEnd);

// Cache protocol, first half: on a hit (same request, a file held) stores the
// held length in *outSize, logs `hitMessage` when the descriptor's debug field
// is set, and returns true. On a miss drops a file held for another request,
// sets the keys to this request with nothing held, and returns false.
bool cacheLookup(GeneratedFileCache& cache, uint32_t archive, uint32_t file, uint32_t* outSize,
                 const char16_t* hitMessage);

// Releases the held file, if any, with its log lines.
void cacheDrop(GeneratedFileCache& cache);

// Serves `length` bytes of a generated file (already in *outSize) through a
// new pipe. `built` is a file just built and owned by the caller's cache
// request: on success the cache keeps it, on failure it is freed. For a hit
// pass the cache's own file with built = false.
bool serveGeneratedFile(GeneratedFileCache& cache, uint8_t* bytes, uint32_t length, bool built,
                        PlatformHandle* outHandle);

// Serves the file the cache holds (after a hit).
bool serveCachedFile(GeneratedFileCache& cache, PlatformHandle* outHandle);

// Packs a just-built payload at `level`, stores the packed length in
// *outSize and serves the file, which the cache then keeps. The payload is
// released in every case. False when packing or serving fails.
bool packAndServe(GeneratedFileCache& cache, uint8_t* payload, uint32_t length, PackLevel level,
                  PlatformHandle* outHandle, uint32_t* outSize);

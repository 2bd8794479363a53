#include "serving/generated_file_cache.h"

#include "module/log.h"

GeneratedFileCache BallListCache = {0, 0, 0, nullptr, {nullptr}};
GeneratedFileCache PreviewCache = {0, 0, 0, nullptr, {nullptr}};

namespace {

bool debugLines() {
    return *static_cast<volatile uint32_t*>(&Descriptor.debug) != 0;
}

// A cache lives as long as the module and drops its file at unload. The
// preview cache is released first, the reverse of construction.
struct CacheRelease {
    GeneratedFileCache* cache;
    ~CacheRelease() { cacheDrop(*cache); }
};
CacheRelease ReleaseBallList{&BallListCache};
CacheRelease ReleasePreview{&PreviewCache};

}  // namespace

PipeFill fillNewPipe(const uint8_t* bytes, uint32_t length, PlatformHandle* readEnd) {
    // Room for twice the file, so that one write never waits for a reader.
    const uint32_t room = length <= UINT32_MAX / 2 ? length * 2 : UINT32_MAX;
    PlatformHandle read = PLATFORM_INVALID_HANDLE;
    PlatformHandle write = PLATFORM_INVALID_HANDLE;
    if (!platformCreatePipe(room, &read, &write))
        return PipeNotCreated;
    const bool written = platformWriteAll(write, bytes, length);
    // The host reads the announced length from the read end; the write end
    // is of no further use, and neither is the read end of a failed write.
    platformCloseHandle(write);
    if (!written) {
        platformCloseHandle(read);
        return PipeNotWritten;
    }
    *readEnd = read;
    return PipeFilled;
}

void cacheDrop(GeneratedFileCache& cache) {
    if (!cache.packedFile)
        return;
    if (debugLines())
        logLine(u"freeing cached buffers");
    platformHeapFree(cache.packedFile);
    cache.packedFile = nullptr;
    cache.packedLength = 0;
    logLine(u"buffers deallocated.");
}

bool cacheLookup(GeneratedFileCache& cache, uint32_t archive, uint32_t file, uint32_t* outSize,
                 const char16_t* hitMessage) {
    const bool sameRequest = cache.keyArchive == archive && cache.keyFileId == file;
    if (sameRequest && cache.packedFile) {
        *outSize = cache.packedLength;
        if (debugLines())
            logLine(hitMessage);
        return true;
    }
    if (!sameRequest)
        cacheDrop(cache);
    cache.keyArchive = archive;
    cache.keyFileId = file;
    return false;
}

bool serveGeneratedFile(GeneratedFileCache& cache, uint8_t* bytes, uint32_t length, bool built,
                        PlatformHandle* outHandle) {
    const PipeFill fill = fillNewPipe(bytes, length, outHandle);
    if (fill == PipeNotCreated)
        logLine(u"Unable to create a pipe");
    if (fill == PipeNotWritten)
        logLine(u"Unable to write to a pipe");
    const bool served = fill == PipeFilled;
    if (built) {
        if (served) {
            cache.packedFile = bytes;
            cache.packedLength = length;
        } else {
            platformHeapFree(bytes);
        }
    }
    return served;
}

bool serveCachedFile(GeneratedFileCache& cache, PlatformHandle* outHandle) {
    return serveGeneratedFile(cache, cache.packedFile, cache.packedLength, false, outHandle);
}

bool packAndServe(GeneratedFileCache& cache, uint8_t* payload, uint32_t length, PackLevel level,
                  PlatformHandle* outHandle, uint32_t* outSize) {
    uint8_t* packed = nullptr;
    uint32_t packedLength = 0;
    const int32_t result = packPayload(payload, length, level, &packed, &packedLength);
    platformHeapFree(payload);
    if (result != 0)
        return false;
    *outSize = packedLength;
    return serveGeneratedFile(cache, packed, packedLength, true, outHandle);
}

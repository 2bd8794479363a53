#include "fuzz_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

char ScratchFolder[64];
char ScratchPath[96];
char16_t ScratchPath16[96];

void removeScratch() {
    unlink(ScratchPath);
    rmdir(ScratchFolder);
}

// One folder per process, in memory when /dev/shm is there, so parallel
// fuzzing jobs never share a file.
void makeScratch() {
    if (ScratchPath[0] != 0)
        return;
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(ScratchFolder, sizeof ScratchFolder, "%s/quindral-fuzz-XXXXXX", base);
    if (!mkdtemp(ScratchFolder)) {
        perror("mkdtemp");
        abort();
    }
    snprintf(ScratchPath, sizeof ScratchPath, "%s/input", ScratchFolder);
    for (size_t i = 0; i < sizeof ScratchPath && ScratchPath[i] != 0; ++i)
        ScratchPath16[i] = static_cast<char16_t>(static_cast<unsigned char>(ScratchPath[i]));
    atexit(removeScratch);
}

}  // namespace

const char16_t* writeScratchFile(const uint8_t* prefix, size_t prefixSize, const uint8_t* data, size_t size) {
    makeScratch();
    FILE* file = fopen(ScratchPath, "wb");
    if (!file) {
        perror(ScratchPath);
        abort();
    }
    bool written = (prefixSize == 0 || fwrite(prefix, 1, prefixSize, file) == prefixSize) &&
                   (size == 0 || fwrite(data, 1, size, file) == size);
    if (fclose(file) != 0 || !written) {
        perror(ScratchPath);
        abort();
    }
    return ScratchPath16;
}

const char* scratchFilePath() {
    makeScratch();
    return ScratchPath;
}

void fuzzCheck(bool condition, const char* what) {
    if (condition)
        return;
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
}

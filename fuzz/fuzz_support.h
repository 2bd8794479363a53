// What the fuzz harnesses share: the libFuzzer entry point, and a scratch
// file through which an input reaches the module's file-reading code.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Writes `size` bytes (after the `prefixSize` bytes of `prefix`) to this
// process's scratch file and returns its path as UTF-16, valid until the next
// call. Aborts when the file cannot be written: a harness that silently read
// nothing would report coverage it never reached.
const char16_t* writeScratchFile(const uint8_t* prefix, size_t prefixSize, const uint8_t* data, size_t size);

// The same path as narrow text.
const char* scratchFilePath();

// Stops the run with a message when an invariant of the code under test does
// not hold; libFuzzer saves the input as a crash.
void fuzzCheck(bool condition, const char* what);

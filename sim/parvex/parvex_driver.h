// Driver side of the simulated archive-I/O host.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct ParvexRead {
    bool answered = false;       // a module answered the read (else: the game's own file)
    uint32_t announcedSize = 0;  // the size the module announced
    bool handleValid = false;    // the handle it gave could be read
    std::vector<uint8_t> bytes;  // exactly what was read through the handle
};

// The game reads archive `archive`, file `file`: every registered callback is
// asked in turn until one answers; the host then reads the announced number
// of bytes from the handle and closes it.
ParvexRead parvexGameRead(uint32_t archive, uint32_t file);

// Forgets the callbacks and the recorded calls.
void parvexReset();
int parvexCallbackCount();

struct ParvexExtendCall {
    int32_t archive;
    int32_t slots;
};
const std::vector<ParvexExtendCall>& parvexExtendCalls();

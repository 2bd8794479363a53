// Counting the heap use of the module's code in the benchmark process.
//
// The benchmark executable defines malloc, calloc, realloc and free (and the
// global operator new and delete), forwarding to glibc. A block is counted
// when tracking is on and the code that asked for it lies in one of the
// attributed images: the module's shared object (with the PNG decoder linked
// in), libpng and zlib. The call's return address tells which code asked, so
// the process heap of the module (platformHeapAlloc), the decoder's bitmaps,
// libpng's structures and zlib's deflate state are counted, and the
// simulated hosts' own allocations (their logs, the host's read buffer) are
// not. Sizes are the sizes asked for. Single-threaded use only.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct HeapFigures {
    uint64_t live;    // bytes of counted blocks still held
    uint64_t peak;    // high-water mark of `live` since heapTrackerStart
    uint64_t blocks;  // counted blocks still held
    uint64_t calls;   // counted allocations since heapTrackerStart
};

// Attributes the image (shared object or executable) that holds `address`.
// False when no loaded image holds it or the table of images is full.
bool heapTrackerAttributeImageOf(const void* address);
// Forgets the attributed images (before the module is unloaded).
void heapTrackerForgetImages();

// Counts from now on, with the high-water mark starting at what is held.
void heapTrackerStart();
void heapTrackerStop();
HeapFigures heapTrackerFigures();

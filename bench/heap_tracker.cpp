#include "heap_tracker.h"

#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {

struct CodeRange {
    uintptr_t begin;
    uintptr_t end;
};

enum : size_t {
    MaxRanges = 32,
    SlotCount = size_t(1) << 17,  // counted blocks held at once: a few thousand at most
};

// Open addressing with linear probing; a freed slot becomes a tombstone.
const uintptr_t EmptySlot = 0;
const uintptr_t DeletedSlot = 1;

struct Slot {
    uintptr_t block;
    size_t size;
};

CodeRange Ranges[MaxRanges];
size_t RangeCount;
Slot Slots[SlotCount];
size_t SlotsUsed;  // held and tombstones
bool Tracking;
HeapFigures Figures;

bool attributed(const void* caller) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(caller);
    for (size_t i = 0; i < RangeCount; ++i) {
        if (at >= Ranges[i].begin && at < Ranges[i].end)
            return true;
    }
    return false;
}

size_t slotIndex(uintptr_t block) {
    return (block >> 4) * 0x9E3779B97F4A7C15ull >> (64 - 17);
}

void fail(const char* what) {
    fputs(what, stderr);
    abort();
}

void record(void* block, size_t size) {
    const uintptr_t key = reinterpret_cast<uintptr_t>(block);
    if (SlotsUsed + 1 >= SlotCount / 2)
        fail("heap tracker: table full\n");
    size_t i = slotIndex(key);
    while (Slots[i].block != EmptySlot && Slots[i].block != DeletedSlot)
        i = (i + 1) & (SlotCount - 1);
    if (Slots[i].block == EmptySlot)
        ++SlotsUsed;
    Slots[i] = Slot{key, size};
    Figures.live += size;
    ++Figures.blocks;
    ++Figures.calls;
    if (Figures.live > Figures.peak)
        Figures.peak = Figures.live;
}

// Removes a counted block; blocks that were never counted are ignored.
void forget(void* block) {
    if (!block || Figures.blocks == 0)
        return;
    const uintptr_t key = reinterpret_cast<uintptr_t>(block);
    for (size_t i = slotIndex(key);; i = (i + 1) & (SlotCount - 1)) {
        if (Slots[i].block == EmptySlot)
            return;
        if (Slots[i].block == key) {
            Figures.live -= Slots[i].size;
            --Figures.blocks;
            Slots[i].block = DeletedSlot;
            return;
        }
    }
}

void* allocate(size_t size, const void* caller) {
    void* block = __libc_malloc(size);
    if (block && Tracking && attributed(caller))
        record(block, size);
    return block;
}

void release(void* block) {
    forget(block);
    __libc_free(block);
}

struct ImageSearch {
    uintptr_t address;
    bool found;
};

int addImageRanges(dl_phdr_info* info, size_t, void* data) {
    ImageSearch* search = static_cast<ImageSearch*>(data);
    bool holds = false;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_LOAD && search->address >= begin && search->address < begin + segment.p_memsz)
            holds = true;
    }
    if (!holds)
        return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X))
            continue;
        if (RangeCount == MaxRanges)
            return 1;
        const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        Ranges[RangeCount++] = CodeRange{begin, begin + segment.p_memsz};
        search->found = true;
    }
    return 1;
}

}  // namespace

bool heapTrackerAttributeImageOf(const void* address) {
    ImageSearch search{reinterpret_cast<uintptr_t>(address), false};
    dl_iterate_phdr(addImageRanges, &search);
    return search.found;
}

void heapTrackerForgetImages() {
    RangeCount = 0;
}

void heapTrackerStart() {
    if (Figures.blocks == 0) {
        memset(Slots, 0, sizeof Slots);  // drops the tombstones
        SlotsUsed = 0;
    }
    Figures.peak = Figures.live;
    Figures.calls = 0;
    Tracking = true;
}

void heapTrackerStop() {
    Tracking = false;
}

HeapFigures heapTrackerFigures() {
    return Figures;
}

// ---- The allocator entry points of the process. ----

extern "C" void* malloc(size_t size) {
    return allocate(size, __builtin_return_address(0));
}

extern "C" void* calloc(size_t count, size_t size) {
    void* block = __libc_calloc(count, size);
    if (block && Tracking && attributed(__builtin_return_address(0)))
        record(block, count * size);  // glibc has refused a product that overflows
    return block;
}

extern "C" void* realloc(void* block, size_t size) {
    const void* caller = __builtin_return_address(0);
    if (!block)
        return allocate(size, caller);
    if (size == 0) {
        release(block);
        return nullptr;
    }
    // Look the block up before glibc may release it.
    const uint64_t blocksBefore = Figures.blocks;
    forget(block);
    const bool wasCounted = Figures.blocks != blocksBefore;
    void* moved = __libc_realloc(block, size);
    if (moved && (wasCounted || (Tracking && attributed(caller))))
        record(moved, size);
    return moved;
}

extern "C" void free(void* block) {
    release(block);
}

void* operator new(size_t size) {
    void* block = allocate(size ? size : 1, __builtin_return_address(0));
    if (!block)
        throw std::bad_alloc();
    return block;
}

void* operator new[](size_t size) {
    void* block = allocate(size ? size : 1, __builtin_return_address(0));
    if (!block)
        throw std::bad_alloc();
    return block;
}

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return allocate(size ? size : 1, __builtin_return_address(0));
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return allocate(size ? size : 1, __builtin_return_address(0));
}

void operator delete(void* block) noexcept {
    release(block);
}

void operator delete[](void* block) noexcept {
    release(block);
}

void operator delete(void* block, size_t) noexcept {
    release(block);
}

void operator delete[](void* block, size_t) noexcept {
    release(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    release(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    release(block);
}

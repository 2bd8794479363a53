// The platform seam on Linux: our own layer in place of the Win32 calls the
// DLL makes, written from what the module expects of them.
#include "platform/platform.h"

#if !QD_OS_WINDOWS

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/embedded_resources.h"

// Counting of the process heap, for the benchmark build only.
#ifndef QUINDRAL_HEAP_COUNTER
#define QUINDRAL_HEAP_COUNTER 0
#endif
#if QUINDRAL_HEAP_COUNTER
#include <malloc.h>
#endif

namespace {

// UTF-16 path to a UTF-8 path with '\' read as '/'. False when it does not fit.
bool toNativePath(const char16_t* path, char* out, size_t capacity) {
    size_t n = 0;
    for (size_t i = 0; path[i] != 0; ++i) {
        uint32_t c = path[i];
        if (c >= 0xD800 && c <= 0xDBFF && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
            ++i;
        }
        if (c == u'\\')
            c = '/';
        char bytes[4];
        size_t len;
        if (c < 0x80) {
            bytes[0] = (char)c;
            len = 1;
        } else if (c < 0x800) {
            bytes[0] = (char)(0xC0 | (c >> 6));
            bytes[1] = (char)(0x80 | (c & 0x3F));
            len = 2;
        } else if (c < 0x10000) {
            bytes[0] = (char)(0xE0 | (c >> 12));
            bytes[1] = (char)(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = (char)(0x80 | (c & 0x3F));
            len = 3;
        } else {
            bytes[0] = (char)(0xF0 | (c >> 18));
            bytes[1] = (char)(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = (char)(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = (char)(0x80 | (c & 0x3F));
            len = 4;
        }
        if (n + len >= capacity)
            return false;
        memcpy(out + n, bytes, len);
        n += len;
    }
    out[n] = 0;
    return true;
}

enum : size_t { NativePathBytes = 4096 * 4 };

int handleToFd(PlatformHandle handle) {
    return (int)(intptr_t)handle;
}
PlatformHandle fdToHandle(int fd) {
    return (PlatformHandle)(intptr_t)fd;
}

uint32_t protectionFromPosix(bool r, bool w, bool x) {
    if (x)
        return w ? PlatformExecuteReadWrite : (r ? PlatformExecuteRead : PlatformExecute);
    if (w)
        return PlatformReadWrite;
    return r ? PlatformReadOnly : PlatformNoAccess;
}

int protectionToPosix(uint32_t protection) {
    switch (protection) {
        case PlatformReadOnly:
            return PROT_READ;
        case PlatformReadWrite:
            return PROT_READ | PROT_WRITE;
        case PlatformExecute:
            return PROT_EXEC;
        case PlatformExecuteRead:
            return PROT_READ | PROT_EXEC;
        case PlatformExecuteReadWrite:
            return PROT_READ | PROT_WRITE | PROT_EXEC;
        case PlatformNoAccess:
            return PROT_NONE;
        default:
            return -1;
    }
}

// The current protection of the page holding `address`, from the process's
// memory map. False when the address is not mapped.
bool queryProtection(uintptr_t address, uint32_t* protection) {
    FILE* maps = fopen("/proc/self/maps", "re");
    if (!maps)
        return false;
    char line[512];
    bool found = false;
    while (fgets(line, sizeof line, maps)) {
        unsigned long long begin = 0, end = 0;
        char perms[8] = {0};
        if (sscanf(line, "%llx-%llx %7s", &begin, &end, perms) != 3)
            continue;
        if (address >= begin && address < end) {
            *protection = protectionFromPosix(perms[0] == 'r', perms[1] == 'w', perms[2] == 'x');
            found = true;
            break;
        }
    }
    fclose(maps);
    return found;
}

}  // namespace

PlatformHandle platformOpenRead(const char16_t* path) {
    char native[NativePathBytes];
    if (!path || !toNativePath(path, native, sizeof native))
        return PLATFORM_INVALID_HANDLE;
    int fd = open(native, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return PLATFORM_INVALID_HANDLE;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        // CreateFileW does not open a folder for reading file data either.
        close(fd);
        return PLATFORM_INVALID_HANDLE;
    }
    return fdToHandle(fd);
}

bool platformFileSize(PlatformHandle file, uint32_t* size) {
    struct stat st;
    if (fstat(handleToFd(file), &st) != 0)
        return false;
    *size = (uint32_t)(uint64_t)st.st_size;
    return true;
}

bool platformReadFile(PlatformHandle file, void* buffer, uint32_t length, uint32_t* got) {
    *got = 0;
    ssize_t n;
    do {
        n = read(handleToFd(file), buffer, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return false;
    *got = (uint32_t)n;
    return true;
}

void platformCloseHandle(PlatformHandle handle) {
    if (handle != PLATFORM_INVALID_HANDLE)
        close(handleToFd(handle));
}

bool platformPathExists(const char16_t* path) {
    char native[NativePathBytes];
    if (!path || !toNativePath(path, native, sizeof native))
        return false;
    struct stat st;
    return stat(native, &st) == 0;
}

bool platformProtect(uintptr_t address, size_t length, uint32_t protection, uint32_t* previous) {
    int prot = protectionToPosix(protection);
    if (prot < 0 || length == 0)
        return false;
    uint32_t before;
    if (!queryProtection(address, &before))
        return false;
    uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    uintptr_t first = address & ~(page - 1);
    if (address + length < address)
        return false;
    uintptr_t last = (address + length + page - 1) & ~(page - 1);
    if (mprotect((void*)first, last - first, prot) != 0)
        return false;
    if (previous)
        *previous = before;
    return true;
}

bool platformPatch(uintptr_t target, const void* bytes, size_t width) {
    uint32_t previous = 0;
    if (!platformProtect(target, width, PlatformExecuteReadWrite, &previous))
        return false;
    memcpy((void*)target, bytes, width);
    uint32_t ignored;
    platformProtect(target, width, previous, &ignored);
    return true;
}

#if QUINDRAL_HEAP_COUNTER
// Benchmark builds only: the usable bytes of the process-heap blocks the
// module holds, and their high-water mark, read by the benchmark through
// dlsym. The module is single-threaded while it builds a file (its cache lock
// is held), and the benchmark reads the counter between builds.
namespace {
uint64_t HeapLiveBytes;
uint64_t HeapPeakBytes;
}  // namespace

extern "C" __attribute__((visibility("default"))) void quindralHeapCounter(uint64_t* live, uint64_t* peak) {
    *live = HeapLiveBytes;
    *peak = HeapPeakBytes;
}

// Starts a new high-water mark from what is held now.
extern "C" __attribute__((visibility("default"))) void quindralHeapCounterResetPeak() {
    HeapPeakBytes = HeapLiveBytes;
}
#endif

// Failure injection for the tests: once armed, the process heap refuses
// `count` requests of at least `minimum` bytes after letting `skip` of them
// through, as an exhausted heap would. Never armed outside the tests.
namespace {
uint32_t FailMinimum = 0;
uint32_t FailSkip = 0;
uint32_t FailCount = 0;

bool injectedFailure(size_t bytes) {
    if (__atomic_load_n(&FailCount, __ATOMIC_RELAXED) == 0 || bytes < FailMinimum)
        return false;
    if (FailSkip > 0) {
        --FailSkip;
        return false;
    }
    --FailCount;
    return true;
}
}  // namespace

extern "C" __attribute__((visibility("default"))) void platformFailHeapRequests(uint32_t minimum, uint32_t skip,
                                                                                uint32_t count) {
    FailMinimum = minimum;
    FailSkip = skip;
    __atomic_store_n(&FailCount, count, __ATOMIC_RELAXED);
}

void* platformHeapAlloc(size_t bytes) {
    if (injectedFailure(bytes))
        return nullptr;
    void* block = calloc(1, bytes ? bytes : 1);
#if QUINDRAL_HEAP_COUNTER
    if (block) {
        HeapLiveBytes += malloc_usable_size(block);
        if (HeapLiveBytes > HeapPeakBytes)
            HeapPeakBytes = HeapLiveBytes;
    }
#endif
    return block;
}

void platformHeapFree(void* block) {
#if QUINDRAL_HEAP_COUNTER
    if (block)
        HeapLiveBytes -= malloc_usable_size(block);
#endif
    free(block);
}

bool platformCreatePipe(uint32_t suggestedSize, PlatformHandle* readEnd, PlatformHandle* writeEnd) {
    (void)suggestedSize;
    // An anonymous in-memory file stands for the pipe: the host reads it only
    // after the callback has returned, so a write never waits for a reader.
    int fd = memfd_create("quindral-pipe", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    int reader = open(self, O_RDONLY | O_CLOEXEC);
    if (reader < 0) {
        close(fd);
        return false;
    }
    *readEnd = fdToHandle(reader);
    *writeEnd = fdToHandle(fd);
    return true;
}

bool platformWriteAll(PlatformHandle handle, const void* bytes, uint32_t length) {
    const char* p = (const char*)bytes;
    uint32_t left = length;
    while (left > 0) {
        ssize_t n = write(handleToFd(handle), p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= (uint32_t)n;
    }
    return true;
}

PlatformModule platformModuleFromAddress(const void* address) {
    Dl_info info;
    if (dladdr(address, &info) == 0)
        return nullptr;
    return info.dli_fbase;
}

void platformLoadResource(PlatformModule module, const char16_t* type, uint32_t id, uint16_t language,
                          const void** data, uint32_t* size) {
    *data = nullptr;
    *size = 0;
    if (!module)
        return;
    // The resources of type RCBALL are compiled into this module.
    static const char16_t rcball[] = u"RCBALL";
    for (size_t i = 0; i < sizeof rcball / sizeof rcball[0]; ++i) {
        if (type[i] != rcball[i])
            return;
    }
    for (uint32_t i = 0; i < EmbeddedResourceCount; ++i) {
        const EmbeddedResource& r = EmbeddedResources[i];
        if (r.id == id && r.language == language) {
            *data = r.data;
            *size = r.size;
            return;
        }
    }
}

void* platformFindModuleExport(const char16_t* moduleName, const char* exportName) {
    char name[256];
    char file[300];
    if (!toNativePath(moduleName, name, sizeof name))
        return nullptr;
    snprintf(file, sizeof file, "lib%s.so", name);
    // Only a module that is loaded already: the lookup never loads one.
    void* library = dlopen(file, RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return nullptr;
    void* symbol = dlsym(library, exportName);
    dlclose(library);
    return symbol;
}

// A spin lock that yields while it waits: the module holds its locks only
// while it builds or serves one file.
void platformLock(PlatformLock* lock) {
    uintptr_t expected = 0;
    while (!__atomic_compare_exchange_n(reinterpret_cast<uintptr_t*>(&lock->word), &expected, uintptr_t(1), false,
                                        __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
        expected = 0;
        sched_yield();
    }
}

void platformUnlock(PlatformLock* lock) {
    __atomic_store_n(reinterpret_cast<uintptr_t*>(&lock->word), uintptr_t(0), __ATOMIC_RELEASE);
}

void platformConsoleWrite(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

#endif

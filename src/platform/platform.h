// The operating-system services the module uses. Nothing outside src/platform
// (and the simulated hosts) talks to the operating system; everything else
// goes through these calls.
//
// Two implementations: platform_win32.cpp (the DLL) and platform_posix.cpp
// (the shared object loaded by the simulated hosts on Linux).
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define QD_OS_WINDOWS 1
#else
#define QD_OS_WINDOWS 0
#endif

#if defined(__i386__)
#define QD_ARCH_X86_32 1
#else
#define QD_ARCH_X86_32 0
#endif

// The hosts call the module with the 32-bit x86 conventions of the DLL; the
// i386 Linux build keeps them so that one hook and call discipline serves both.
#if QD_ARCH_X86_32
#define QD_STDCALL __attribute__((stdcall))
#define QD_CDECL __attribute__((cdecl))
#else
#define QD_STDCALL
#define QD_CDECL
#endif

// A handle as the hosts see it: a Win32 HANDLE, or a file descriptor cast to a
// pointer on POSIX.
typedef void* PlatformHandle;
#define PLATFORM_INVALID_HANDLE ((PlatformHandle)(intptr_t)-1)

// Opaque module identity (an HMODULE, or the base address of a shared object).
typedef void* PlatformModule;

// Page protection values, as Win32 numbers them.
enum : uint32_t {
    PlatformNoAccess = 0x01,
    PlatformReadOnly = 0x02,
    PlatformReadWrite = 0x04,
    PlatformExecute = 0x10,
    PlatformExecuteRead = 0x20,
    PlatformExecuteReadWrite = 0x40,
};

// ---- Files. Paths are zero-terminated UTF-16; '\' separates folders. ----

// Opens an existing file for reading, others may read it too.
// Returns PLATFORM_INVALID_HANDLE on failure.
PlatformHandle platformOpenRead(const char16_t* path);
// Low 32 bits of the file's length; false when the size cannot be read.
bool platformFileSize(PlatformHandle file, uint32_t* size);
// One read of up to `length` bytes; *got receives the count actually read.
bool platformReadFile(PlatformHandle file, void* buffer, uint32_t length, uint32_t* got);
void platformCloseHandle(PlatformHandle handle);
// True when the path's attributes can be read (file or folder exists).
bool platformPathExists(const char16_t* path);

// ---- Memory protection and the writes into game memory. ----

// Changes the protection of the pages holding [address, address + length).
// *previous receives the protection the first page had. False when the
// change was refused; nothing changed then.
bool platformProtect(uintptr_t address, size_t length, uint32_t protection, uint32_t* previous);
// Writes game memory the one permitted way: make exactly these bytes
// execute-read-write, copy, put the earlier protection back. When the
// protection cannot be changed nothing is written and false is returned.
bool platformPatch(uintptr_t target, const void* bytes, size_t width);

// ---- Process heap. Blocks come back zero-filled; null on failure. ----
void* platformHeapAlloc(size_t bytes);
void platformHeapFree(void* block);

// ---- Pipes ----

// Creates an anonymous pipe whose handles are not inherited, with room for
// at least `suggestedSize` bytes. A write of up to that many bytes never has
// to wait for a reader.
bool platformCreatePipe(uint32_t suggestedSize, PlatformHandle* readEnd, PlatformHandle* writeEnd);
// Writes all `length` bytes in one synchronous write.
bool platformWriteAll(PlatformHandle handle, const void* bytes, uint32_t length);

// ---- Modules and resources ----

// The module that contains `address` (without taking a reference).
PlatformModule platformModuleFromAddress(const void* address);
// Finds resource (type, id, language) in `module`. On failure *data is null
// and *size is whatever the system reports (0).
void platformLoadResource(PlatformModule module, const char16_t* type, uint32_t id, uint16_t language,
                          const void** data, uint32_t* size);
// The address of export `exportName` of the already loaded module
// `moduleName` (no extension), or null when either is missing.
void* platformFindModuleExport(const char16_t* moduleName, const char* exportName);

// ---- Locks ----

// A lock for data the game's threads share through the module's callbacks.
// Zero-initialised means unlocked, so a static lock needs no construction
// (on Windows the word is an SRWLOCK).
struct PlatformLock {
    void* word;
};
void platformLock(PlatformLock* lock);
void platformUnlock(PlatformLock* lock);

// ---- Console ----

// Writes narrow text to the process's standard output, as it is.
void platformConsoleWrite(const char* text);

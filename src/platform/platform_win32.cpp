// The platform seam on Windows: the Win32 calls of the DLL.
#include "platform/platform.h"

#if QD_OS_WINDOWS

#include <stdio.h>
#include <string.h>
#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");

namespace {
const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
}  // namespace

PlatformHandle platformOpenRead(const char16_t* path) {
    HANDLE h =
        CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? PLATFORM_INVALID_HANDLE : (PlatformHandle)h;
}

bool platformFileSize(PlatformHandle file, uint32_t* size) {
    DWORD s = GetFileSize((HANDLE)file, nullptr);
    if (s == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    *size = s;
    return true;
}

bool platformReadFile(PlatformHandle file, void* buffer, uint32_t length, uint32_t* got) {
    DWORD n = 0;
    BOOL ok = ReadFile((HANDLE)file, buffer, length, &n, nullptr);
    *got = n;
    return ok != 0;
}

void platformCloseHandle(PlatformHandle handle) {
    if (handle != PLATFORM_INVALID_HANDLE)
        CloseHandle((HANDLE)handle);
}

bool platformPathExists(const char16_t* path) {
    return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool platformProtect(uintptr_t address, size_t length, uint32_t protection, uint32_t* previous) {
    DWORD old = 0;
    if (!VirtualProtect((void*)address, length, protection, &old))
        return false;
    if (previous)
        *previous = old;
    return true;
}

bool platformPatch(uintptr_t target, const void* bytes, size_t width) {
    DWORD previous = 0;
    if (!VirtualProtect((void*)target, width, PAGE_EXECUTE_READWRITE, &previous))
        return false;
    memcpy((void*)target, bytes, width);
    DWORD ignored = 0;
    VirtualProtect((void*)target, width, previous, &ignored);
    return true;
}

void* platformHeapAlloc(size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes ? bytes : 1);
}

void platformHeapFree(void* block) {
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

bool platformCreatePipe(uint32_t suggestedSize, PlatformHandle* readEnd, PlatformHandle* writeEnd) {
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, nullptr, suggestedSize))
        return false;
    // A write that does not fit the pipe's buffer fails at once instead of
    // waiting for a reader that only comes after the callback has returned.
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    SetNamedPipeHandleState(w, &mode, nullptr, nullptr);
    *readEnd = (PlatformHandle)r;
    *writeEnd = (PlatformHandle)w;
    return true;
}

bool platformWriteAll(PlatformHandle handle, const void* bytes, uint32_t length) {
    DWORD written = 0;
    if (!WriteFile((HANDLE)handle, bytes, length, &written, nullptr))
        return false;
    return written == length;
}

PlatformModule platformModuleFromAddress(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCWSTR)address, &module)) {
        return nullptr;
    }
    return (PlatformModule)module;
}

void platformLoadResource(PlatformModule module, const char16_t* type, uint32_t id, uint16_t language,
                          const void** data, uint32_t* size) {
    *data = nullptr;
    *size = 0;
    // The resource script gives the language; FindResourceW takes the one there is.
    (void)language;
    HRSRC info = FindResourceW((HMODULE)module, MAKEINTRESOURCEW(id), wide(type));
    *size = SizeofResource((HMODULE)module, info);
    HGLOBAL loaded = info ? LoadResource((HMODULE)module, info) : nullptr;
    *data = loaded ? LockResource(loaded) : nullptr;
}

void* platformFindModuleExport(const char16_t* moduleName, const char* exportName) {
    HMODULE module = GetModuleHandleW(wide(moduleName));
    if (!module)
        return nullptr;
    return (void*)GetProcAddress(module, exportName);
}

void platformConsoleWrite(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

static_assert(sizeof(PlatformLock) == sizeof(SRWLOCK), "a PlatformLock is an SRWLOCK");

void platformLock(PlatformLock* lock) {
    AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(lock));
}

void platformUnlock(PlatformLock* lock) {
    ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(lock));
}

#endif

// What the module imports from the loader host (tremix) and the archive-I/O
// host (parvex). Every call passes its arguments on the stack and the caller
// removes them.
#pragma once

#include <stdint.h>

#include "module/descriptor.h"
#include "platform/platform.h"

// The archive-I/O host asks this about every archive entry the game reads.
// Returns 1 when the module answers the read through *outHandle / *outSize.
typedef uint8_t(QD_CDECL* ArchiveReadCallbackFn)(uint32_t archive, uint32_t file, PlatformHandle* outHandle,
                                                 uint32_t* outSize);

extern "C" {
// tremix
uint32_t QD_CDECL RegisterTModule(ModuleDescriptor* descriptor);
void* QD_CDECL getPesInfo(void);
uint32_t QD_CDECL hookFunction(int32_t event, void* callback);
uint32_t QD_CDECL unhookFunction(int32_t event, void* callback);
uint32_t QD_CDECL HookCallPoint(uint32_t address, void* hook, int32_t entryOffset, int32_t extraBytes, int32_t flag);
void QD_CDECL _LogX(const ModuleDescriptor* descriptor, const char16_t* format, ...);

// parvex
void QD_CDECL parvexAddCallback(ArchiveReadCallbackFn callback);
void QD_CDECL parvexExtendSlots(int32_t archive, int32_t slots);
}

// Byte offsets of the fields the module reads in the host's record.
enum : uint32_t {
    HostInfoGameVersionOffset = 57344,
    HostInfoLoaderDirOffset = 40960,
};

// Read anew from getPesInfo() at every use; the record is the host's.
int32_t hostGameVersion();
const char16_t* hostLoaderDir();

// Module entry and the start-up that the loader host triggers with event 1.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

enum : uint32_t {
    MinimumLoaderVersion = 0xC0002,  // 12.2: major in the upper 16 bits
    StartupEvent = 1,
    EmbeddedFileCount = 3,
};

struct EmbeddedFile {
    uint32_t id;
    const uint8_t* data;  // read-only view into the module's resources
    uint32_t size;
};

// Resources 269, 127 and 833, in the order start-up loads them.
extern EmbeddedFile EmbeddedFiles[EmbeddedFileCount];
extern PlatformModule ModuleInstance;

extern "C" {
int32_t QD_STDCALL DllMain(void* instance, uint32_t reason, void* reserved);
uint32_t QD_STDCALL DeferredStartup(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
}

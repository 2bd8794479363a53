// The module's registration record. Its address is the module's identity
// towards the loader host: it is registered once and passed with every log line.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : uint32_t { ModuleNameUnits = 4096 };

struct ModuleDescriptor {
    uint32_t id;                          // 111
    char16_t longName[ModuleNameUnits];   // "Quindral Module 13.0.1.0"
    char16_t shortName[ModuleNameUnits];  // "QUINDRAL"
    uint32_t debug;                       // nonzero: extra cache log lines; set only by the host
};

// The host reads the record by these offsets.
static_assert(offsetof(ModuleDescriptor, id) == 0, "id offset");
static_assert(offsetof(ModuleDescriptor, longName) == 4, "longName offset");
static_assert(offsetof(ModuleDescriptor, shortName) == 8196, "shortName offset");
static_assert(offsetof(ModuleDescriptor, debug) == 16388, "debug offset");
static_assert(sizeof(ModuleDescriptor) == 16392, "descriptor size");

extern ModuleDescriptor Descriptor;

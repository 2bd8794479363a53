// The module's resources of type RCBALL, for builds without a Win32 resource
// section: a table compiled into the module.
#pragma once

#include <stdint.h>

struct EmbeddedResource {
    uint32_t id;
    uint16_t language;
    const void* data;
    uint32_t size;
};

extern const EmbeddedResource EmbeddedResources[];
extern const uint32_t EmbeddedResourceCount;

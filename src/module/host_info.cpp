// The two fields of the loader host's record that the module reads.
#include <string.h>

#include "module/host_api.h"

int32_t hostGameVersion() {
    const uint8_t* info = static_cast<const uint8_t*>(getPesInfo());
    int32_t version;
    memcpy(&version, info + HostInfoGameVersionOffset, sizeof version);
    return version;
}

const char16_t* hostLoaderDir() {
    const uint8_t* info = static_cast<const uint8_t*>(getPesInfo());
    return reinterpret_cast<const char16_t*>(info + HostInfoLoaderDirOffset);
}

// Loading the built module into the simulated loader host and game.
#pragma once

#include <dlfcn.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "parvex/parvex_driver.h"
#include "tremix/tremix_driver.h"

// Starts from a clean host and archive host with the given game build and
// loader folder, then loads the module. True when it stayed loaded.
inline bool loadModuleFor(int32_t build, const std::string& loaderDir, int32_t loaderVersion = 0x000D0000) {
    if (tremixModuleLoaded())
        tremixUnloadModule();
    tremixReset();
    parvexReset();
    tremixSetGameBuild(build);
    tremixSetLoaderDirUtf8(loaderDir);
    tremixSetLoaderVersion(loaderVersion);
    return tremixLoadModule(QUINDRAL_MODULE_PATH);
}

inline void unloadModule() {
    if (tremixModuleLoaded())
        tremixUnloadModule();
    parvexReset();
}

// The log lines from `from` on.
inline std::vector<std::string> logFrom(size_t from) {
    const std::vector<std::string>& log = tremixLog();
    if (from >= log.size())
        return {};
    return std::vector<std::string>(log.begin() + static_cast<long>(from), log.end());
}

// The address of one of the loaded module's own symbols, or null.
inline void* moduleSymbol(const char* name) {
    void* library = dlopen(QUINDRAL_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return nullptr;
    void* address = dlsym(library, name);
    dlclose(library);
    return address;
}

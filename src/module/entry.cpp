// The module's entry point: registration, the build and loader checks, and
// the request for the start-up event.
#include "module/descriptor.h"
#include "module/host_api.h"
#include "module/log.h"
#include "module/startup.h"
#include "module/version_table.h"
#include "quindral_version.h"

ModuleDescriptor Descriptor = {111, u"Quindral Module " QUINDRAL_VERSION_TEXT16, u"QUINDRAL", 0};

// Found during static construction, before the entry point first runs; used
// only to find the embedded files.
PlatformModule ModuleInstance = platformModuleFromAddress(reinterpret_cast<const void*>(&DeferredStartup));

namespace {

enum : uint32_t {
    ReasonProcessDetach = 0,
    ReasonProcessAttach = 1,
};

typedef int32_t(QD_CDECL* GetLoaderVersionFn)(void);

bool gameBuildSupported(int32_t version) {
    for (uint8_t supported : SupportedGameVersions) {
        if (version == static_cast<int32_t>(supported))
            return true;
    }
    return false;
}

bool loaderRecentEnough() {
    void* address = platformFindModuleExport(u"tremix", "GetLoaderVersion");
    if (!address)
        return false;
    GetLoaderVersionFn getLoaderVersion = reinterpret_cast<GetLoaderVersionFn>(address);
    return getLoaderVersion() >= static_cast<int32_t>(MinimumLoaderVersion);
}

int32_t attach() {
    RegisterTModule(&Descriptor);
    int32_t version = hostGameVersion();
    if (!gameBuildSupported(version)) {
        logLine(u"Sorry, your game version isn't supported!");
        return 0;
    }
    if (!loaderRecentEnough()) {
        logLine(u"ERROR: This module requires tremix.dll %d.%d.0 or newer.", 12, 2);
        return 0;
    }
    selectVersionRow(version);
    hookFunction(StartupEvent, reinterpret_cast<void*>(&DeferredStartup));
    return 1;
}

}  // namespace

extern "C" int32_t QD_STDCALL DllMain(void* instance, uint32_t reason, void* reserved) {
    (void)instance;
    (void)reserved;
    switch (reason) {
        case ReasonProcessAttach:
            return attach();
        case ReasonProcessDetach:
            logLine(u"Shutting down this module...");
            return 1;
        default:
            return 1;
    }
}

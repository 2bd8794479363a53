// Start-up, run once when the loader host delivers event 1: it brings up
// every subsystem in a fixed order.
#include "module/startup.h"
#include "catalogue/catalogue.h"
#include "catalogue/display_names.h"
#include "module/game_patch.h"
#include "module/hooks.h"
#include "module/host_api.h"
#include "module/log.h"
#include "module/paths.h"
#include "serving/archive_callback.h"

EmbeddedFile EmbeddedFiles[EmbeddedFileCount] = {{269, nullptr, 0}, {127, nullptr, 0}, {833, nullptr, 0}};

namespace {

enum : uint16_t { EmbeddedLanguage = 1041 };

void loadEmbeddedFiles() {
    for (EmbeddedFile& file : EmbeddedFiles) {
        const void* data = nullptr;
        uint32_t size = 0;
        platformLoadResource(ModuleInstance, u"RCBALL", file.id, EmbeddedLanguage, &data, &size);
        file.data = static_cast<const uint8_t*>(data);
        file.size = size;
    }
}

// The catalogue is read only from a path that fits its buffer whole: a cut
// path could name another, existing file.
int32_t readCatalogue() {
    const char16_t* pieces[] = {hostLoaderDir(), u"GDB\\balls\\", u"map.txt"};
    if (!joinPath(CataloguePath, pieces)) {
        logLine(u"Ball ini config : loader path too long, catalogue not read\n");
        return 0;
    }
    return loadBallCatalogue();
}

}  // namespace

extern "C" uint32_t QD_STDCALL DeferredStartup(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
    unhookFunction(StartupEvent, reinterpret_cast<void*>(&DeferredStartup));
    logLine(u"Initializing Quindral Module");
    loadEmbeddedFiles();

    Catalogue.ballCount = readCatalogue();
    if (Catalogue.ballCount <= 0) {
        logLine(u"Ball not found! unload quindral.");
        return 0;
    }

    applyFileIdPatches();
    parvexAddCallback(&ArchiveReadCallback);
    installBallLoadHook();
    applyBallLoadPatches();
    installSelectionHooks();
    loadDisplayNames();
    logLine(u"Initialization complete.");
    return 0;
}

// map.txt, the catalogue: loadBallCatalogue over SimpleIni, with CataloguePath
// naming a file that holds the input.
#include "catalogue/catalogue.h"
#include "fuzz_support.h"

namespace {

enum : size_t { MaxInput = 1 << 20 };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > MaxInput)
        return 0;
    const char16_t* path = writeScratchFile(nullptr, 0, data, size);
    size_t i = 0;
    for (; path[i] != 0 && i + 1 < PathUnits; ++i)
        CataloguePath[i] = path[i];
    CataloguePath[i] = 0;

    const int32_t count = loadBallCatalogue();
    fuzzCheck(count >= 0 && count < int32_t(FolderSlotCount), "the count fits the folder slots");
    for (int32_t n = 0; n < int32_t(FolderSlotCount); ++n) {
        if (count > 0 && n <= count)
            fuzzCheck(Catalogue.folderNames[n] != nullptr, "slots 0 to the count hold a name");
        else
            fuzzCheck(Catalogue.folderNames[n] == nullptr, "slots above the count stay empty");
    }
    releaseBallCatalogue();
    return 0;
}

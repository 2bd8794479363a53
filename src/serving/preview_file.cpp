#include "serving/preview_file.h"

#include <stdio.h>
#include <string.h>

#include "catalogue/catalogue.h"
#include "module/host_api.h"
#include "module/log.h"
#include "module/paths.h"
#include "preview/preview_convert.h"
#include "serving/generated_file_cache.h"
#include "serving/packed_file.h"

namespace {

// The n picture paths, PathUnits units each, in one heap block.
char16_t* buildPaths(uint32_t entries) {
    char16_t* paths = static_cast<char16_t*>(platformHeapAlloc(size_t(entries) * PathUnits * sizeof(char16_t)));
    if (!paths)
        return nullptr;
    const char16_t* loaderDir = hostLoaderDir();
    for (uint32_t i = 0; i < entries; ++i) {
        char16_t* path = paths + size_t(i) * PathUnits;
        bool formed;
        if (i + 1 < entries) {
            const char16_t* folder = Catalogue.folderNames[i + 1];
            const char16_t* pieces[] = {loaderDir, u"GDB\\balls\\", folder, u"\\preview.png"};
            formed = folder && joinPath(path, PathUnits, pieces, 4);
        } else {
            const char16_t* pieces[] = {loaderDir, u"GDB\\balls\\ball_random.png"};
            formed = joinPath(path, PathUnits, pieces, 2);
        }
        if (formed) {
            logLine(u"Ball preview added : %s", path);
        } else {
            // A cut path could name another picture: this one counts as missing.
            path[0] = 0;
            logLine(u"Ball preview of entry %d not added: its path is too long", static_cast<int32_t>(i));
        }
    }
    return paths;
}

// Lays out the file as created in the zero-filled payload: table, texture
// headers, then (after the conversion) the name slots.
void writeLayout(uint8_t* payload, uint32_t payloadSize, uint32_t entries, uint32_t texture, uint32_t texturesEnd,
                 uint32_t width, uint32_t height) {
    writeMultiFileBinHeader(payload, payloadSize, entries);
    uint32_t tableEnd = 0;
    multiFileBinTableEnd(entries, &tableEnd);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t offset = tableEnd + i * texture;
        writeMultiFileBinEntry(payload, payloadSize, i,
                               MultiFileBinEntry{offset, texture, texturesEnd + PreviewNameSlotBytes * i});
        writePaletteTextureHeader(payload, payloadSize, offset, width, height);
    }
}

void writeNames(uint8_t* payload, uint32_t payloadSize, uint32_t entries, uint32_t texturesEnd) {
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t slot = texturesEnd + PreviewNameSlotBytes * i;
        if (i + 1 < entries) {
            char name[PreviewNameSlotBytes];
            snprintf(name, sizeof name, "ball_%03u.tex", i);
            consolePrint("Ball %d = %s\n", static_cast<int32_t>(i), name);
            writeMultiFileBinName(payload, payloadSize, slot, PreviewNameSlotBytes, name);
        } else {
            writeMultiFileBinName(payload, payloadSize, slot, PreviewNameSlotBytes, "ball_random.tex");
        }
    }
}

}  // namespace

bool previewPayloadSizes(uint32_t entries, int32_t width, int32_t height, uint32_t* texture, uint32_t* texturesEnd,
                         uint32_t* payload) {
    if (width <= 0 || height <= 0 || entries == 0)
        return false;
    uint32_t one = 0;
    uint32_t perEntry = 0;
    uint32_t textures = 0;
    uint32_t end = 0;
    uint32_t names = 0;
    uint32_t total = 0;
    if (!paletteTextureSize(static_cast<uint32_t>(width), static_cast<uint32_t>(height), &one))
        return false;
    if (!addU32(one, MultiFileBinEntrySize, &perEntry) || !mulU32(perEntry, entries, &textures) ||
        !addU32(textures, MultiFileBinTableOffset, &end) || !mulU32(entries, PreviewNameSlotBytes, &names) ||
        !addU32(end, names, &total)) {
        return false;
    }
    *texture = one;
    *texturesEnd = end;
    *payload = total;
    return true;
}

bool buildPreviewFile(uint32_t archive, uint32_t file, PlatformHandle* outHandle, uint32_t* outSize) {
    CacheLockScope locked(PreviewCache);
    if (cacheLookup(PreviewCache, archive, file, outSize, u"using cached buffers")) {
        return serveCachedFile(PreviewCache, outHandle);
    }

    const uint32_t entries = static_cast<uint32_t>(Catalogue.ballCount) + 1;
    uint32_t texture = 0;
    uint32_t texturesEnd = 0;
    uint32_t payloadSize = 0;
    uint8_t* payload = nullptr;
    if (Catalogue.ballCount > 0 && previewPayloadSizes(entries, Catalogue.previewWidth, Catalogue.previewHeight,
                                                       &texture, &texturesEnd, &payloadSize)) {
        payload = static_cast<uint8_t*>(platformHeapAlloc(payloadSize));
    }
    if (!payload) {
        logLine(u"Unable to allocate buffer for binId=%d", static_cast<int32_t>(file));
        return false;
    }
    writeLayout(payload, payloadSize, entries, texture, texturesEnd, static_cast<uint32_t>(Catalogue.previewWidth),
                static_cast<uint32_t>(Catalogue.previewHeight));

    char16_t* paths = buildPaths(entries);
    if (paths) {
        const char16_t* pointers[FolderSlotCount];
        for (uint32_t i = 0; i < entries; ++i)
            pointers[i] = paths + size_t(i) * PathUnits;
        convertPreviewImages(entries, pointers, payload, texturesEnd);
        platformHeapFree(paths);
    }
    writeNames(payload, payloadSize, entries, texturesEnd);

    return packAndServe(PreviewCache, payload, payloadSize, PackStored, outHandle, outSize);
}

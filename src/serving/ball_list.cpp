#include "serving/ball_list.h"

#include <string.h>

#include "catalogue/catalogue.h"
#include "module/game_patch.h"
#include "module/host_api.h"
#include "module/log.h"
#include "module/version_table.h"
#include "serving/generated_file_cache.h"
#include "serving/packed_file.h"

namespace {

enum : int32_t { ExtendedSlots = 1024 };

// The folder name in 8-bit characters: units up to 255 become the byte of the
// same value, any other unit '?'. At most 63 characters and the NUL.
void writeBallName(uint8_t* field, const char16_t* folder) {
    memset(field, 0, BallNameBytes);
    for (uint32_t i = 0; folder && folder[i] != 0 && i < BallNameBytes - 1; ++i) {
        field[i] = folder[i] <= 0xFF ? static_cast<uint8_t>(folder[i]) : static_cast<uint8_t>('?');
    }
}

}  // namespace

uint32_t writeBallListPayload(uint8_t* payload, uint32_t capacity) {
    const int32_t count = Catalogue.ballCount;
    if (count <= 0 || count >= int32_t(FolderSlotCount))
        return 0;
    const uint32_t records = static_cast<uint32_t>(count) * BallRecordBytes;
    const uint32_t length = BallListHeaderBytes + records;
    if (length > capacity)
        return 0;
    memset(payload, 0, length);
    writeMultiFileBinHeader(payload, length, 1);
    writeMultiFileBinEntry(payload, length, 0, MultiFileBinEntry{BallListHeaderBytes, records, MultiFileBinNoName});
    for (int32_t i = 0; i < count; ++i) {
        uint8_t* record = payload + BallListHeaderBytes + static_cast<uint32_t>(i) * BallRecordBytes;
        writeBallName(record, Catalogue.folderNames[i + 1]);
        storeLe16(record + 64, static_cast<uint16_t>(i));  // listIndex
        storeLe16(record + 66, 4);
        storeLe16(record + 68, 1023);
    }
    return length;
}

bool buildBallListFile(uint32_t archive, uint32_t file, PlatformHandle* outHandle, uint32_t* outSize) {
    parvexExtendSlots(BallArchive, ExtendedSlots);
    consolePrint("Read ball stat! %03d\n", 10);
    CacheLockScope locked(BallListCache);
    if (cacheLookup(BallListCache, archive, file, outSize, u"load ball stats from cached buffers")) {
        return serveCachedFile(BallListCache, outHandle);
    }

    const uint32_t capacity = BallListHeaderBytes + (FolderSlotCount - 1) * BallRecordBytes;
    uint8_t* payload = static_cast<uint8_t*>(platformHeapAlloc(capacity));
    if (!payload)
        return false;
    const uint32_t length = writeBallListPayload(payload, capacity);
    if (length == 0) {
        platformHeapFree(payload);
        return false;
    }

    if (length > GameBallListBufferBytes) {
        consolePrint("Modify buffer size : %X\n", length);
        uint8_t size[4];
        storeLe32(size, length);
        patchGame(VersionAddresses.ballListSizeSite[GameVersion] + 1, size, sizeof size);
    }

    return packAndServe(BallListCache, payload, length, PackDefault, outHandle, outSize);
}

// Following the player's choice of ball: what the selection hooks run.
#include "module/selection.h"

#include <stdlib.h>

#include "module/game_patch.h"
#include "module/host_api.h"
#include "module/log.h"
#include "module/paths.h"
#include "module/version_table.h"
#include "platform/platform.h"

int32_t SelectedBall = 0;
uint32_t BallFileId = 0;
char16_t BallModelPath[PathUnits] = {};
PlatformLock BallModelPathLock = {nullptr};

static_assert(sizeof(SelectedBall) == 4 && sizeof(BallFileId) == 4, "the game and the hooks use 32-bit words");

namespace {

// -1 reaches folder slot 0; lower numbers would index before the folder list
// and are treated as outside the catalogue.
bool inCatalogue(int32_t ball, int32_t count) {
    return ball >= -1 && ball < count;
}

// The address of the game's selection record, or 0 when it has none.
uint32_t selectionRecord() {
    if (GameVersion < 0)
        return 0;
    const uint32_t pointer = VersionAddresses.selectionRecordPointer[GameVersion];
    return *reinterpret_cast<const volatile uint32_t*>(static_cast<uintptr_t>(pointer));
}

uint8_t recordBall(uint32_t record) {
    return *reinterpret_cast<const volatile uint8_t*>(static_cast<uintptr_t>(record + SelectionBallOffset));
}

void storeRecordBall(uint32_t record, int32_t ball) {
    const uint8_t low = static_cast<uint8_t>(ball & 0xFF);
    patchGame(record + SelectionBallOffset, &low, 1);
}

bool modelFileOpens(int32_t ball) {
    if (!formBallModelPath(ball)) {
        // A cut path could name another file: the model counts as missing.
        logLine(u"FileExists:: no usable path for ball %d (too long for its buffer)", ball);
        return false;
    }
    logLine(u"FileExists:: %s", BallModelPath);
    PlatformHandle file = platformOpenRead(BallModelPath);
    if (file == PLATFORM_INVALID_HANDLE)
        return false;
    platformCloseHandle(file);
    return true;
}

}  // namespace

bool formBallModelPath(int32_t ball) {
    const int32_t slot = ball + 1;
    if (slot < 0 || slot >= int32_t(FolderSlotCount) || !Catalogue.folderNames[slot]) {
        BallModelPath[0] = 0;
        return false;
    }
    const char16_t* pieces[] = {hostLoaderDir(), u"GDB\\balls\\", Catalogue.folderNames[slot], u"\\ball.bin"};
    return joinPath(BallModelPath, pieces);
}

bool BallFileExists() {
    const int32_t ball = selectedBall();
    platformLock(&BallModelPathLock);
    const bool exists = modelFileOpens(ball);
    platformUnlock(&BallModelPathLock);
    return exists;
}

void ChooseBall() {
    const int32_t count = Catalogue.ballCount;
    if (count <= 0) {
        setBallFileId(gameFileId(BallArchive, DefaultBallFileIndex));
        return;
    }
    int32_t ball = selectedBall();
    if (!inCatalogue(ball, count)) {
        // The game's stored choice, then a random ball. Without a record
        // there is no stored choice to read or to write.
        const uint32_t record = selectionRecord();
        if (record != 0)
            ball = recordBall(record);
        if (record == 0 || !inCatalogue(ball, count)) {
            ball = rand() % count;
            consolePrint("Random generate : %d\n", ball);
            if (record != 0)
                storeRecordBall(record, ball);
        }
        setSelectedBall(ball);
    }
    consolePrint("Get ball ID : %d\n", ball);
    const bool exists = BallFileExists();
    setBallFileId(gameFileId(BallArchive, exists ? BallModelFileIndex : DefaultBallFileIndex));
}

void StoreSelection() {
    const uint32_t record = selectionRecord();
    if (record == 0)
        return;
    storeRecordBall(record, selectedBall());
}

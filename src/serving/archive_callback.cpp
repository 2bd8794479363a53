#include "serving/archive_callback.h"

#include "catalogue/catalogue.h"
#include "module/game_patch.h"
#include "module/log.h"
#include "module/selection.h"
#include "module/startup.h"
#include "serving/ball_list.h"
#include "serving/generated_file_cache.h"
#include "serving/preview_file.h"

namespace {

const EmbeddedFile* embeddedFile(uint32_t id) {
    for (const EmbeddedFile& file : EmbeddedFiles) {
        if (file.id == id)
            return &file;
    }
    return nullptr;
}

// Archive 6: the menu files replaced by the embedded ones when the previews
// are square.
bool serveMenuFile(uint32_t file, PlatformHandle* outHandle, uint32_t* outSize) {
    if (Catalogue.previewWidth != Catalogue.previewHeight)
        return false;
    const char* message = nullptr;
    switch (file) {
        case 269:
            message = "Ball preview load\n";
            break;
        case 127:
        case 833:
            message = "Ball edit mode load\n";
            break;
        default:
            return false;
    }
    const EmbeddedFile* embedded = embeddedFile(file);
    if (!embedded)
        return false;
    consolePrint("%s", message);
    return serveMemoryAsPipe(MenuArchive, file, outHandle, outSize, embedded->data, embedded->size);
}

bool serveBallModel(PlatformHandle* outHandle, uint32_t* outSize) {
    const int32_t ball = selectedBall();
    consolePrint("Select ball : %d\n", ball);
    platformLock(&BallModelPathLock);
    bool opened = false;
    if (!formBallModelPath(ball)) {
        // No folder for this index, or a path too long for its buffer: a cut
        // path could name another file, so the game keeps its own.
        logLine(u"Select ball : %d -> no usable path", ball);
        *outHandle = PLATFORM_INVALID_HANDLE;
    } else {
        logLine(u"Select ball : %d -> %s", ball, BallModelPath);
        opened = OpenFileIfExists(outHandle, outSize);
    }
    platformUnlock(&BallModelPathLock);
    return opened;
}

}  // namespace

bool serveMemoryAsPipe(uint32_t archive, uint32_t file, PlatformHandle* outHandle, uint32_t* outSize,
                       const uint8_t* bytes, uint32_t length) {
    const PipeFill fill = fillNewPipe(bytes, length, outHandle);
    if (fill == PipeNotCreated)
        consolePrint("Unable to create a pipe\n");
    if (fill == PipeNotWritten)
        consolePrint("Unable to write a pipe\n");
    if (fill != PipeFilled)
        return false;
    *outSize = length;
    consolePrint("Load resource to 0x%02x -> 0x%02x\n", archive, file);
    return true;
}

bool OpenFileIfExists(PlatformHandle* outHandle, uint32_t* outSize) {
    logLine(u"OpenFileIfExists:: %s", BallModelPath);
    PlatformHandle file = platformOpenRead(BallModelPath);
    *outHandle = file;
    if (file == PLATFORM_INVALID_HANDLE)
        return false;
    uint32_t size = 0;
    platformFileSize(file, &size);
    *outSize = size;
    return true;
}

extern "C" uint8_t QD_CDECL ArchiveReadCallback(uint32_t archive, uint32_t file, PlatformHandle* outHandle,
                                                uint32_t* outSize) {
    if (archive == MenuArchive)
        return serveMenuFile(file, outHandle, outSize) ? 1 : 0;
    if (archive != BallArchive)
        return 0;
    switch (file) {
        case PreviewFileIndex:
            return buildPreviewFile(archive, file, outHandle, outSize) ? 1 : 0;
        case BallListFileIndex:
            return buildBallListFile(archive, file, outHandle, outSize) ? 1 : 0;
        case BallModelFileIndex:
            return serveBallModel(outHandle, outSize) ? 1 : 0;
        default:
            return 0;
    }
}

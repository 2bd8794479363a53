// The ball folders: the names the ball list gets (writeBallListPayload), the
// model file the match loads (BallFileExists), and what each preview picture
// becomes (decodePreviewPng, blitBitmapToTexture), with the decoder's own
// account of the pictures that stay dark grey.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "catalogue/catalogue.h"
#include "catalogue/display_names.h"
#include "check.h"
#include "module/host_api.h"
#include "module/paths.h"
#include "module/selection.h"
#include "platform/platform.h"
#include "preview/preview_convert.h"
#include "serving/ball_list.h"
#include "serving/packed_file.h"
#include "soft/pngdib/pngdib.h"

namespace {

enum : uint32_t {
    DecoderMessageBytes = 200,
    // Textures larger than this are not tried: the checker would need the memory.
    TextureTrialLimit = 256u << 20,
};

struct Picture {
    std::string file;  // shown path
    int32_t ball;      // ball number or RandomEntry
    const char* name;  // "preview.png" or "ball_random.png"
};

// The decoder's account of a picture: the same decode the module asks for,
// kept for its status, message and the format it chose.
struct DecoderAccount {
    int32_t status;
    std::string message;
    int32_t colorType;
    int32_t bitDepth;
    int32_t bitCount;
    bool composited;  // transparency flattened onto the file's bKGD colour
};

DecoderAccount decodeForAccount(const uint8_t* bytes, uint32_t count) {
    DecoderAccount account{0, std::string(), 0, 0, 0, false};
    PngDibRecord* record = static_cast<PngDibRecord*>(calloc(1, sizeof(PngDibRecord)));
    if (!record) {
        account.status = pngdib_error_memory;
        return account;
    }
    record->type = pngdib_record_type;
    record->message = static_cast<char*>(calloc(1, DecoderMessageBytes));
    record->input_mode = input_memory;
    record->input_buffer = bytes;
    record->input_size = count <= INT32_MAX ? static_cast<int32_t>(count) : INT32_MAX;
    record->use_file_background = 1;
    account.status = record->message ? pngdib_decode(record) : pngdib_error_memory;
    if (record->message)
        account.message.assign(record->message, strnlen(record->message, DecoderMessageBytes));
    account.colorType = record->png_color_type;
    account.bitDepth = record->png_bit_depth;
    account.composited = record->background_valid != 0;
    if (record->dib && record->dib_size >= 16) {
        const uint8_t* header = static_cast<const uint8_t*>(record->dib);
        account.bitCount = header[14] | header[15] << 8;
    }
    free(record->dib);
    pngdib_destroy(record);
    return account;
}

const char* colorTypeName(int32_t type) {
    switch (type) {
        case 0:
            return "gray";
        case 2:
            return "true colour (RGB)";
        case 3:
            return "palette";
        case 4:
            return "gray with alpha";
        case 6:
            return "true colour with alpha (RGBA)";
        default:
            return "unknown";
    }
}

const char* const GreyOutcome = ": the preview stays dark grey";
const char* const PaletteAdvice = "; save it as a 16- or 256-colour palette PNG";

void reportGrey(CheckReport& report, const Picture& picture, const DecoderAccount& account, const char* reason,
                const std::string& why) {
    Finding& finding =
        addFinding(report, SeverityWarning, "preview-grey", picture.file, 0, picture.ball, why + GreyOutcome);
    addDetail(finding, "reason", reason);
    addDetail(finding, "status", account.status);
    addDetail(finding, "decoderMessage", account.message);
    addDetail(finding, "bitCount", account.bitCount);
    addDetail(finding, "pngColorType", account.colorType);
    addDetail(finding, "pngBitDepth", account.bitDepth);
}

// Why the module's conversion left the texture as created.
void explainGrey(CheckReport& report, const Picture& picture, const uint8_t* bytes, uint32_t count, bool decoded) {
    const DecoderAccount account = decodeForAccount(bytes, count);
    const std::string type = std::string(colorTypeName(account.colorType)) + " PNG of " +
                             std::to_string(account.bitDepth) + " bits per sample";
    if (account.status != pngdib_ok) {
        reportGrey(report, picture, account, "decode-error",
                   "the decoder fails with code " + std::to_string(account.status) + " (" + account.message + ")");
    } else if (!decoded) {
        reportGrey(report, picture, account, "too-large",
                   "the picture is too large for the module (its bitmap would exceed " +
                       std::to_string(PreviewBitmapByteLimit >> 20) + " MiB) and is not decoded");
    } else if (account.bitCount == 24 && account.colorType == 3 && account.composited) {
        reportGrey(report, picture, account, "composited",
                   "a palette PNG with both transparency (tRNS) and a background colour (bKGD) is composited onto "
                   "the bKGD colour into a 24-bit bitmap; only 4- and 8-bit bitmaps are converted (drop the bKGD "
                   "chunk to keep the palette)");
    } else if (account.bitCount == 24 && account.colorType == 6) {
        reportGrey(report, picture, account, "rgba",
                   "an RGBA picture decodes to a 24-bit bitmap; only 4- and 8-bit bitmaps are converted" +
                       std::string(PaletteAdvice));
    } else if (account.bitCount == 24 && account.colorType == 2) {
        reportGrey(report, picture, account, "true-colour",
                   "a true-colour picture decodes to a 24-bit bitmap; only 4- and 8-bit bitmaps are converted" +
                       std::string(PaletteAdvice));
    } else if (account.bitCount == 1) {
        reportGrey(report, picture, account, "one-bit",
                   "a 1-bit picture (" + type +
                       ") decodes to a 1-bit bitmap; only 4- and 8-bit bitmaps are converted " +
                       "(save it with 2 bits or more per pixel)");
    } else {
        reportGrey(report, picture, account, "bit-count",
                   "the " + type + " decodes to a " + std::to_string(account.bitCount) +
                       "-bit bitmap; only 4- and 8-bit bitmaps are converted");
    }
}

// Converts one picture as the preview file does and reports what the
// texture shows. Returns "converted", "grey" or "missing".
std::string checkPicture(CheckReport& report, const Picture& picture, const char16_t* path) {
    uint8_t* bytes = nullptr;
    uint32_t count = 0;
    if (!readFileBytes(path, &bytes, &count)) {
        if (!platformPathExists(path)) {
            addFinding(report, SeverityWarning, "preview-missing", picture.file, 0, picture.ball,
                       std::string("there is no ") + picture.name + GreyOutcome);
            return "missing";
        }
        uint32_t size = 0;
        const PlatformHandle file = platformOpenRead(path);
        const bool sized = file != PLATFORM_INVALID_HANDLE && platformFileSize(file, &size);
        if (file != PLATFORM_INVALID_HANDLE)
            platformCloseHandle(file);
        const char* reason = !sized                        ? "unreadable"
                             : size == 0                   ? "empty"
                             : size > PreviewFileByteLimit ? "file-too-large"
                                                           : "unreadable";
        const std::string why =
            std::string(reason) == "empty" ? "the file is empty"
            : std::string(reason) == "file-too-large"
                ? "the file is larger than " + std::to_string(PreviewFileByteLimit >> 20) + " MiB and is not read"
                : "the file cannot be read";
        Finding& finding =
            addFinding(report, SeverityWarning, "preview-grey", picture.file, 0, picture.ball, why + GreyOutcome);
        addDetail(finding, "reason", reason);
        return "grey";
    }

    uint32_t dibSize = 0;
    void* dib = decodePreviewPng(path, &dibSize);
    const uint32_t width = static_cast<uint32_t>(report.previewWidth);
    const uint32_t height = static_cast<uint32_t>(report.previewHeight);
    uint32_t textureSize = 0;
    paletteTextureSize(width, height, &textureSize);
    uint8_t* texture = textureSize <= TextureTrialLimit ? new (std::nothrow) uint8_t[textureSize] : nullptr;
    std::string result = "grey";
    if (!texture) {
        addFinding(report, SeverityNote, "not-checked", picture.file, 0, picture.ball,
                   "the checker has no memory for a texture of this size; the picture was not tried");
        result = "not checked";
    } else {
        memset(texture, 0, textureSize);
        writePaletteTexture(texture, textureSize, 0, width, height);
        std::vector<uint8_t> created(texture, texture + textureSize);
        if (dib)
            blitBitmapToTexture(static_cast<const uint8_t*>(dib), dibSize, texture, textureSize);
        const uint8_t* header = static_cast<const uint8_t*>(dib);
        const uint32_t bitCount = dib && dibSize >= 40 ? (header[14] | header[15] << 8) : 0;
        const bool converted = memcmp(created.data(), texture, textureSize) != 0 || bitCount == 4 || bitCount == 8;
        if (!converted) {
            explainGrey(report, picture, bytes, count, dib != nullptr);
        } else {
            result = "converted";
            const int32_t pictureWidth = static_cast<int32_t>(loadLe32(header + 4));
            const int32_t pictureHeight = static_cast<int32_t>(loadLe32(header + 8));
            const std::string sizes =
                "the picture is " + std::to_string(pictureWidth) + " x " + std::to_string(pictureHeight) +
                ", the previews " + std::to_string(report.previewWidth) + " x " + std::to_string(report.previewHeight);
            if (pictureWidth > report.previewWidth || pictureHeight > report.previewHeight) {
                addFinding(report, SeverityWarning, "preview-clipped", picture.file, 0, picture.ball,
                           sizes + ": only its top-left corner is shown");
            }
            if (pictureWidth < report.previewWidth || pictureHeight < report.previewHeight) {
                const uint8_t* entry0 = texture + PaletteTexturePaletteOffset;
                char colour[16];
                snprintf(colour, sizeof colour, "#%02X%02X%02X", entry0[0], entry0[1], entry0[2]);
                addFinding(report, SeverityWarning, "preview-filled", picture.file, 0, picture.ball,
                           sizes + ": the rest of the texture shows palette entry 0 (" + colour + ")");
            }
        }
        delete[] texture;
    }
    free(dib);
    platformHeapFree(bytes);
    return result;
}

std::string folderPath(const char16_t* folder) {
    return "GDB/balls/" + toUtf8(folder, text16Length(folder));
}

// The ball list's 8-bit name against the folder name it comes from.
void checkListName(CheckReport& report, BallSummary& ball, const char16_t* folder, const uint8_t* record) {
    const char* listName = reinterpret_cast<const char*>(record);
    const size_t listLength = strnlen(listName, BallNameBytes);
    const std::string name(listName, listLength);
    ball.listName = latin1ToUtf8(name.c_str());
    const size_t folderLength = text16Length(folder);
    bool replaced = false;
    for (size_t i = 0; i < listLength && i < folderLength; ++i)
        replaced = replaced || (listName[i] == '?' && folder[i] != u'?');
    // The ball table's name is replaced by a display name when there is one.
    const Severity severity = ball.hasDisplayName ? SeverityNote : SeverityWarning;
    const std::string shown = ball.hasDisplayName ? " (balls.txt names the ball, so the menu shows that name)" : "";
    if (replaced) {
        addFinding(report, severity, "folder-name-not-8bit", "GDB/balls/map.txt", 0, ball.number,
                   "the folder name " + quoted(ball.folder) +
                       " has characters beyond U+00FF, which the ball list writes as '?': " + quoted(ball.listName) +
                       shown);
    }
    if (listLength < folderLength) {
        addFinding(report, severity, "folder-name-cut", "GDB/balls/map.txt", 0, ball.number,
                   "the folder name is " + std::to_string(folderLength) + " characters long: the ball list keeps " +
                       std::to_string(listLength) + ", " + quoted(ball.listName) + shown);
    }
}

void checkBall(CheckReport& report, int32_t number, const uint8_t* record) {
    const char16_t* folder = Catalogue.folderNames[number];
    BallSummary ball{number,   folder ? toUtf8(folder, text16Length(folder)) : std::string(), "", false, "", false,
                     "missing"};
    const DisplayNameMap* names = displayNameMap();
    if (names) {
        const DisplayNameMap::const_iterator found = names->find(static_cast<uint16_t>(number));
        if (found != names->end() && found->second.name) {
            ball.hasDisplayName = true;
            ball.displayName = std::string(found->second.name, strnlen(found->second.name, BallNameBytes - 1));
        }
    }
    if (!folder) {
        report.balls.push_back(ball);
        return;
    }
    checkListName(report, ball, folder, record);

    const std::string shownFolder = folderPath(folder);
    char16_t path[PathUnits];
    const char16_t* folderPieces[] = {hostLoaderDir(), u"GDB\\balls\\", folder};
    if (joinPath(path, folderPieces) && !platformPathExists(path)) {
        addFinding(report, SeverityWarning, "folder-missing", shownFolder, 0, number,
                   "the folder does not exist: the game plays its own ball and the preview stays dark grey" +
                       std::string(ball.folder.find_first_of(";#") != std::string::npos
                                       ? " (a comment after a value is part of the value: put comments on lines of "
                                         "their own)"
                                       : ""));
        report.balls.push_back(ball);
        return;
    }

    setSelectedBall(number - 1);
    ball.model = BallFileExists();
    if (!ball.model && !formBallModelPath(number - 1)) {
        addFinding(report, SeverityWarning, "path-too-long", shownFolder + "/ball.bin", 0, number,
                   "the path of ball.bin does not fit the module's 1024-unit buffer: the game plays its own ball");
    } else if (!ball.model) {
        addFinding(report, SeverityWarning, "model-missing", shownFolder + "/ball.bin", 0, number,
                   "there is no ball.bin: the game plays its own ball when this ball is chosen");
    }

    if (report.previewSizeUsable) {
        const char16_t* previewPieces[] = {hostLoaderDir(), u"GDB\\balls\\", folder, u"\\preview.png"};
        const Picture picture{shownFolder + "/preview.png", number, "preview.png"};
        if (!joinPath(path, previewPieces)) {
            addFinding(report, SeverityWarning, "path-too-long", picture.file, 0, number,
                       "the path of preview.png does not fit the module's 1024-unit buffer: the preview stays dark "
                       "grey");
            ball.preview = "grey";
        } else {
            ball.preview = checkPicture(report, picture, path);
        }
    }
    report.balls.push_back(ball);
}

}  // namespace

void checkBalls(CheckReport& report) {
    const int32_t count = report.ballCount;
    if (count <= 0)
        return;
    const uint32_t capacity = BallListHeaderBytes + CatalogueMaximumBalls * BallRecordBytes;
    std::vector<uint8_t> list(capacity, 0);
    const uint32_t length = writeBallListPayload(list.data(), capacity);
    for (int32_t n = 1; n <= count; ++n) {
        const uint32_t offset = BallListHeaderBytes + static_cast<uint32_t>(n - 1) * BallRecordBytes;
        static const uint8_t none[BallRecordBytes] = {};
        checkBall(report, n, offset + BallRecordBytes <= length ? list.data() + offset : none);
    }

    report.random = BallSummary{0, "", "", false, "", false, "missing"};
    if (!report.previewSizeUsable)
        return;
    const char16_t* pieces[] = {hostLoaderDir(), u"GDB\\balls\\ball_random.png"};
    char16_t path[PathUnits];
    const Picture picture{"GDB/balls/ball_random.png", RandomEntry, "ball_random.png"};
    if (!joinPath(path, pieces)) {
        addFinding(report, SeverityWarning, "path-too-long", picture.file, 0, RandomEntry,
                   "the path of ball_random.png does not fit the module's 1024-unit buffer: the random entry's "
                   "preview stays dark grey");
        report.random.preview = "grey";
        return;
    }
    report.random.preview = checkPicture(report, picture, path);
}

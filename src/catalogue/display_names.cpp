#include "catalogue/display_names.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/text_convert.h"
#include "module/host_api.h"
#include "module/log.h"
#include "module/paths.h"
#include "platform/platform.h"

namespace {

enum : uint32_t {
    LineReadLimit = NamesLineReadLimit,
    ChunkBytes = 4096,
    RecordBytes = 72,  // stride of the game's ball table
    NameFieldBytes = 64,
};

DisplayNameMap* Names = nullptr;

struct ReleaseAtUnload {
    ~ReleaseAtUnload() { releaseDisplayNames(); }
} ReleaseNames;

struct FileCloser {
    PlatformHandle file;
    ~FileCloser() { platformCloseHandle(file); }
};

struct HeapText {
    char16_t* text;
    ~HeapText() {
        if (text != nullptr) {
            platformHeapFree(text);
        }
    }
};

// The bytes of an open file, read in chunks.
class FileBytes {
  public:
    explicit FileBytes(PlatformHandle file) : file_(file) {}

    // Reads until the first `count` bytes (at most a chunk) are held or the
    // file ends; returns the number held. Used once, before any next().
    uint32_t fillStart(uint32_t count) {
        while (end_ < count && !ended_) {
            readInto(end_);
        }
        return end_ < count ? end_ : count;
    }
    const unsigned char* start() const { return chunk_; }
    void skip(uint32_t count) { pos_ = count <= end_ ? count : end_; }

    // The next byte, or -1 at the end of the file or after a failed read.
    int next() {
        if (pos_ == end_) {
            pos_ = 0;
            end_ = 0;
            if (ended_ || !readInto(0)) {
                return -1;
            }
        }
        return chunk_[pos_++];
    }
    bool failed() const { return failed_; }

  private:
    // One read appending at `offset`; false (and ended) at the end or on failure.
    bool readInto(uint32_t offset) {
        uint32_t room = ChunkBytes - offset;
        uint32_t got = 0;
        if (!platformReadFile(file_, chunk_ + offset, room, &got)) {
            failed_ = true;
            ended_ = true;
            return false;
        }
        if (got == 0) {
            ended_ = true;
            return false;
        }
        end_ = offset + (got < room ? got : room);
        return true;
    }

    PlatformHandle file_;
    unsigned char chunk_[ChunkBytes];
    uint32_t pos_ = 0;
    uint32_t end_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

bool isHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

uint32_t hexValue(char16_t c) {
    if (c <= u'9') {
        return c - u'0';
    }
    if (c <= u'F') {
        return c - u'A' + 10;
    }
    return c - u'a' + 10;
}

bool isDecimalDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The blanks a base-10 wcstol skips in the C locale.
bool isBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Reads a ball number: "0x" at the very start followed by hex digits is hex,
// anything else a decimal with leading blanks and a sign. Characters after the
// digits are ignored; *end receives where the digits stop. The value is kept
// modulo 65536; 32-bit unsigned wrap-around preserves that residue, so large
// numbers reduce exactly. *wrapped tells that the number written is outside
// 0 to 65535.
bool parseBallNumber(const char16_t* text, uint16_t* number, const char16_t** end, bool* wrapped) {
    uint32_t value = 0;
    bool large = false;
    if (text[0] == u'0' && text[1] == u'x' && isHexDigit(text[2])) {
        const char16_t* p = text + 2;
        for (; isHexDigit(*p); ++p) {
            value = value * 16 + hexValue(*p);
            large = large || value > 0xFFFF;
        }
        *number = static_cast<uint16_t>(value);
        *end = p;
        *wrapped = large;
        return true;
    }
    const char16_t* p = text;
    while (isBlank(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == u'+' || *p == u'-') {
        negative = *p == u'-';
        ++p;
    }
    if (!isDecimalDigit(*p)) {
        return false;
    }
    for (; isDecimalDigit(*p); ++p) {
        value = value * 10 + static_cast<uint32_t>(*p - u'0');
        large = large || value > 0xFFFF;
    }
    if (negative) {
        large = large || value != 0;
        value = 0u - value;
    }
    *number = static_cast<uint16_t>(value);
    *end = p;
    *wrapped = large;
    return true;
}

// Adds the pair a line gives, unless the number already has a name.
void takeLine(char16_t* line, NamesFileMap& names) {
    const NamesLine parsed = parseNamesLine(line);
    if (parsed.outcome == NamesLinePair && names.find(parsed.number) == names.end()) {
        names.emplace(parsed.number, std::u16string(parsed.name, parsed.nameLength));
    }
}

void collectLine(void* context, NamesFileLine& line) {
    takeLine(line.text, *static_cast<NamesFileMap*>(context));
}

// Reads one line of bytes (ending after LF, at most LineReadLimit bytes) into
// `raw`, zero-terminated. Returns the number of bytes read, 0 when the file
// has no more; *newline tells that the read ended at an LF.
uint32_t readByteLine(FileBytes& bytes, char* raw, bool* newline) {
    uint32_t length = 0;
    while (length < LineReadLimit) {
        const int b = bytes.next();
        if (b < 0) {
            break;
        }
        raw[length++] = static_cast<char>(b);
        if (b == '\n') {
            *newline = true;
            break;
        }
    }
    raw[length] = 0;
    return length;
}

// As readByteLine, in little-endian 16-bit units. A last odd byte is dropped.
uint32_t readUnitLine(FileBytes& bytes, char16_t* line, bool* newline) {
    uint32_t length = 0;
    while (length < LineReadLimit) {
        const int low = bytes.next();
        if (low < 0) {
            break;
        }
        const int high = bytes.next();
        if (high < 0) {
            break;
        }
        const char16_t unit = static_cast<char16_t>(low | (high << 8));
        line[length++] = unit;
        if (unit == u'\n') {
            *newline = true;
            break;
        }
    }
    line[length] = 0;
    return length;
}

struct LineBuffers {
    char raw[LineReadLimit + 1];
    char16_t wide[LineReadLimit + 1];
};

// Strips one leading and then one trailing double quote and stores the name
// as UTF-8, replacing a name the map already holds for the number.
void mergeEntry(DisplayNameMap& map, uint16_t number, std::u16string& name) {
    if (!name.empty() && name.front() == u'"') {
        name.erase(0, 1);
    }
    if (!name.empty() && name.back() == u'"') {
        name.pop_back();
    }
    char* utf8 = utf16ToUtf8(name.c_str());
    if (utf8 == nullptr) {
        return;
    }
    DisplayNameMap::iterator found = map.find(number);
    if (found != map.end()) {
        platformHeapFree(found->second.name);
        found->second.name = utf8;
        return;
    }
    try {
        map.emplace(number, DisplayNameEntry{number, utf8});
    } catch (...) {
        platformHeapFree(utf8);
        throw;
    }
}

bool ensureMap() {
    if (Names == nullptr) {
        Names = new (std::nothrow) DisplayNameMap();
    }
    return Names != nullptr;
}

}  // namespace

NamesLine parseNamesLine(char16_t* line) {
    NamesLine parsed = {NamesLineEmpty, false, 0, false, false, nullptr, 0};
    if (line[0] == 0) {
        return parsed;
    }
    if (line[0] == u'[') {
        parsed.outcome = NamesLineSection;
        return parsed;
    }
    for (char16_t* p = line; *p != 0; ++p) {
        if (*p == u'#') {
            *p = 0;
            parsed.commentCut = true;
            break;
        }
    }
    char16_t* name = line;
    while (*name != 0 && *name != u',') {
        ++name;
    }
    if (*name == 0) {
        parsed.outcome = NamesLineNoSeparator;
        return parsed;
    }
    if (name[1] == 0) {
        parsed.outcome = NamesLineNoName;
        return parsed;
    }
    *name++ = 0;
    const char16_t* numberEnd = nullptr;
    if (!parseBallNumber(line, &parsed.number, &numberEnd, &parsed.numberWrapped)) {
        parsed.outcome = NamesLineNoNumber;
        return parsed;
    }
    for (const char16_t* p = numberEnd; *p != 0; ++p) {
        parsed.numberTail = parsed.numberTail || !isBlank(*p);
    }
    while (*name == u' ') {
        ++name;
    }
    size_t length = std::char_traits<char16_t>::length(name);
    while (length > 0 && (name[length - 1] == u'\r' || name[length - 1] == u'\n')) {
        --length;
    }
    parsed.outcome = NamesLinePair;
    parsed.name = name;
    parsed.nameLength = length;
    return parsed;
}

bool readNamesLines(const char16_t* path, NamesLineSink sink, void* context, NamesEncoding* encoding) {
    const PlatformHandle file = platformOpenRead(path);
    if (file == PLATFORM_INVALID_HANDLE) {
        return false;
    }
    FileCloser closer{file};
    try {
        std::unique_ptr<FileBytes> bytes(new FileBytes(file));
        std::unique_ptr<LineBuffers> buffers(new LineBuffers());

        const uint32_t held = bytes->fillStart(3);
        const unsigned char* mark = bytes->start();
        NamesEncoding chosen = NamesUtf8;
        if (held >= 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
            bytes->skip(3);
            chosen = NamesUtf8Mark;
        } else if (held >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
            bytes->skip(2);
            chosen = NamesUtf16;
        }
        if (encoding != nullptr) {
            *encoding = chosen;
        }

        bool newline = false;
        if (chosen == NamesUtf16) {
            while (const uint32_t length = readUnitLine(*bytes, buffers->wide, &newline)) {
                NamesFileLine line{buffers->wide, nullptr, length, newline};
                sink(context, line);
                newline = false;
            }
        } else {
            while (const uint32_t length = readByteLine(*bytes, buffers->raw, &newline)) {
                HeapText text{utf8ToUtf16(buffers->raw)};
                if (text.text == nullptr) {
                    return false;
                }
                NamesFileLine line{text.text, buffers->raw, length, newline};
                sink(context, line);
                newline = false;
            }
        }
        return !bytes->failed();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool readNamesFile(NamesFileMap& names, const char16_t* path) {
    return readNamesLines(path, collectLine, &names, nullptr);
}

void mergeNamesFile(const char16_t* path) {
    if (path == nullptr || !platformPathExists(path) || !ensureMap()) {
        return;
    }
    NamesFileMap names;
    if (!readNamesFile(names, path)) {
        logLine(u"Unable to read balls map (%s)", path);
        return;
    }
    try {
        for (NamesFileMap::value_type& item : names) {
            mergeEntry(*Names, item.first, item.second);
        }
    } catch (const std::bad_alloc&) {
        // Out of memory part way: keep what was merged, report the file unread.
        logLine(u"Unable to read balls map (%s)", path);
        return;
    }
    logLine(u"Balls-map (%s) read", path);
}

void loadDisplayNames() {
    releaseDisplayNames();
    if (!ensureMap()) {
        return;
    }
    const char16_t* loaderDir = hostLoaderDir();
    if (loaderDir == nullptr) {
        return;
    }
    char16_t path[PathUnits];
    const char16_t* const pieces[] = {loaderDir, u"GDB\\balls\\balls.txt"};
    // A path too long for the buffer names no file the module could open.
    if (!joinPath(path, pieces)) {
        return;
    }
    mergeNamesFile(path);
}

const DisplayNameMap* displayNameMap() {
    return Names;
}

void releaseDisplayNames() {
    if (Names == nullptr) {
        return;
    }
    for (DisplayNameMap::value_type& item : *Names) {
        platformHeapFree(item.second.name);
    }
    delete Names;
    Names = nullptr;
}

extern "C" int32_t QD_CDECL afsReadBalls(uint8_t* table) {
    const int32_t count = Catalogue.ballCount;
    if (Names == nullptr || table == nullptr || count <= 0) {
        return 0;
    }
    if (static_cast<size_t>(count) > SIZE_MAX / RecordBytes) {
        return 0;
    }
    const size_t length = static_cast<size_t>(count) * RecordBytes;
    const uintptr_t address = reinterpret_cast<uintptr_t>(table);
    if (address > UINTPTR_MAX - length) {
        return 0;
    }
    uint32_t previous = 0;
    if (!platformProtect(address, length, PlatformReadWrite, &previous)) {
        return 0;
    }
    // Keys are 16-bit, so only the first 65535 records can have a name.
    const uint32_t last = count < 0xFFFF ? static_cast<uint32_t>(count) : 0xFFFFu;
    for (uint32_t number = 1; number <= last; ++number) {
        DisplayNameMap::const_iterator found = Names->find(static_cast<uint16_t>(number));
        if (found == Names->end() || found->second.name == nullptr) {
            continue;
        }
        uint8_t* field = table + static_cast<size_t>(number - 1) * RecordBytes;
        memset(field, 0, NameFieldBytes);
        const char* name = found->second.name;
        for (size_t i = 0; i < NameFieldBytes - 1 && name[i] != 0; ++i) {
            field[i] = static_cast<uint8_t>(name[i]);
        }
    }
    return 0;
}

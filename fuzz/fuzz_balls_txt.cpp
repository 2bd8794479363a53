// balls.txt, the display names: the reader (readNamesFile), the merge into
// the module-wide map (mergeNamesFile) and the export that writes the names
// into the game's ball table (afsReadBalls).
//
// The last input byte is an option: its low seven bits modulo 3 choose what
// precedes the rest in the file: nothing (UTF-8 without a mark), the UTF-8
// mark EF BB BF, or the UTF-16 mark FF FE; its high bit has afsReadBalls
// write the names into a table (each call reads the process's memory map, so
// it runs only for the inputs that ask).
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/display_names.h"
#include "fuzz_support.h"

namespace {

enum : size_t {
    MaxInput = 1 << 20,
    TableRecords = 300,  // more than the catalogue holds, fewer than a page run of 72-byte records
    RecordBytes = 72,
    NameFieldBytes = 64,
};

// The game's ball table: mapped pages with an inaccessible page right after
// the last record, so a write past the table faults.
uint8_t* gameTable() {
    static uint8_t* table = nullptr;
    if (table)
        return table;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t bytes = TableRecords * RecordBytes;
    const size_t mapped = (bytes + page - 1) / page * page;
    uint8_t* base =
        static_cast<uint8_t*>(mmap(nullptr, mapped + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    fuzzCheck(base != MAP_FAILED, "table mapping");
    mprotect(base + mapped, page, PROT_NONE);
    table = base + mapped - bytes;
    return table;
}

void checkNames(const NamesFileMap& names) {
    for (const NamesFileMap::value_type& item : names) {
        const std::u16string& name = item.second;
        fuzzCheck(name.find(u'#') == std::u16string::npos, "a name keeps no comment");
        fuzzCheck(name.empty() || (name.back() != u'\r' && name.back() != u'\n'), "a name ends without CR or LF");
        fuzzCheck(name.empty() || name.front() != u' ', "a name starts without a space");
        fuzzCheck(name.find(u'\0') == std::u16string::npos, "a name holds no zero unit");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > MaxInput)
        return 0;
    static const uint8_t Utf8Mark[] = {0xEF, 0xBB, 0xBF};
    static const uint8_t Utf16Mark[] = {0xFF, 0xFE};
    const uint8_t option = data[size - 1];
    const uint8_t* mark = nullptr;
    size_t markSize = 0;
    if ((option & 0x7F) % 3 == 1) {
        mark = Utf8Mark;
        markSize = sizeof Utf8Mark;
    } else if ((option & 0x7F) % 3 == 2) {
        mark = Utf16Mark;
        markSize = sizeof Utf16Mark;
    }
    const char16_t* path = writeScratchFile(mark, markSize, data, size - 1);

    NamesFileMap names;
    fuzzCheck(readNamesFile(names, path), "a readable file is read");
    checkNames(names);

    mergeNamesFile(path);
    const DisplayNameMap* map = displayNameMap();
    fuzzCheck(map != nullptr && map->size() == names.size(), "every name read is merged");
    for (const DisplayNameMap::value_type& item : *map)
        fuzzCheck(item.first == item.second.ballNumber && item.second.name != nullptr, "merged entry");

    if ((option & 0x80) == 0) {
        releaseDisplayNames();
        return 0;
    }
    uint8_t* table = gameTable();
    memset(table, 0xAA, TableRecords * RecordBytes);
    Catalogue.ballCount = TableRecords;
    afsReadBalls(table);
    for (size_t i = 0; i < TableRecords; ++i) {
        const uint8_t* record = table + i * RecordBytes;
        const bool named = map->count(static_cast<uint16_t>(i + 1)) != 0;
        if (named)
            fuzzCheck(memchr(record, 0, NameFieldBytes) != nullptr, "a written name ends inside its field");
        for (size_t k = named ? size_t(NameFieldBytes) : 0; k < RecordBytes; ++k)
            fuzzCheck(record[k] == 0xAA, "bytes outside the name fields stay");
    }
    Catalogue.ballCount = 0;
    releaseDisplayNames();
    return 0;
}

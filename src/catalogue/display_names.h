// Display names of the balls, read once from GDB\balls\balls.txt and written
// over the names in the game's ball table by the afsReadBalls export.
#pragma once

#include <stdint.h>

#include <string>
#include <unordered_map>

#include "platform/platform.h"

struct DisplayNameEntry {
    uint16_t ballNumber;
    char* name;  // UTF-8, zero-terminated, from the process heap; owned by the entry
};

typedef std::unordered_map<uint16_t, DisplayNameEntry> DisplayNameMap;

// Ball number to UTF-16 name, as read from a names file before it is merged.
typedef std::unordered_map<uint16_t, std::u16string> NamesFileMap;

enum : uint32_t {
    // Bytes (UTF-8 file) or units (UTF-16 file) taken by one line read; a
    // longer line is cut and its rest read as a line of its own.
    NamesLineReadLimit = 4094,
};

// What the line rules make of one line of the names file.
enum NamesLineOutcome : int32_t {
    NamesLinePair = 0,     // a ball number and its name
    NamesLineEmpty,        // length zero: ignored
    NamesLineSection,      // first character '[': ignored
    NamesLineNoSeparator,  // no ',' before the end or the comment: ignored
    NamesLineNoName,       // nothing after the first ',': ignored
    NamesLineNoNumber,     // no number before the ',': ignored
};

struct NamesLine {
    NamesLineOutcome outcome;
    bool commentCut;  // a '#' ended the line early
    // Pairs only.
    uint16_t number;       // the number modulo 65536
    bool numberWrapped;    // the number written is outside 0 to 65535
    bool numberTail;       // characters other than blanks follow the digits (they are ignored)
    const char16_t* name;  // within the line, nameLength units, leading spaces and final CR/LF removed
    size_t nameLength;
};

// Applies the line rules, in their order (empty, section, comment, separator,
// number, name), to one zero-terminated line, which is changed in place.
NamesLine parseNamesLine(char16_t* line);

// How the first bytes of the names file decide its encoding.
enum NamesEncoding : int32_t {
    NamesUtf8 = 0,  // no mark: the whole file is UTF-8
    NamesUtf8Mark,  // EF BB BF, skipped
    NamesUtf16,     // FF FE, skipped; little-endian units
};

// One line as the names file reader takes it, before the line rules.
struct NamesFileLine {
    char16_t* text;       // UTF-16, zero-terminated (a UTF-8 line decoded by utf8ToUtf16); may be changed
    const char* bytes;    // UTF-8 file: the readLength bytes read; null for a UTF-16 file
    uint32_t readLength;  // bytes or units taken by the read, at most NamesLineReadLimit
    bool endedAtNewline;  // the read stopped after an LF (else at the limit or the end of the file)
};

typedef void (*NamesLineSink)(void* context, NamesFileLine& line);

// Reads the names file at `path` as readNamesFile does and hands each line,
// in file order, to `sink`; *encoding (when not null) receives the encoding
// the first bytes chose. False when the file cannot be opened, a read fails
// or memory runs out.
bool readNamesLines(const char16_t* path, NamesLineSink sink, void* context, NamesEncoding* encoding);

// Creates the module-wide map, empty, and merges the loader folder's
// GDB\balls\balls.txt into it. Run once, as the last step of start-up.
void loadDisplayNames();

// Merges the names file at `path` into the module-wide map (created when it
// does not exist yet): quotes around a name are removed and the name stored
// as UTF-8; a name already held for a number is replaced. A missing file is
// skipped silently; one that cannot be read is logged.
void mergeNamesFile(const char16_t* path);

// Reads the names file at `path` into `names`; the first line that gives a
// number wins. False when the file cannot be opened, a read fails or memory
// runs out.
bool readNamesFile(NamesFileMap& names, const char16_t* path);

// The module-wide map, or null before loadDisplayNames (or mergeNamesFile)
// created it.
const DisplayNameMap* displayNameMap();

// Frees every name and the map itself; afterwards the map does not exist.
// Called by a static destructor when the module is unloaded.
void releaseDisplayNames();

// Writes the mapped names into the game's ball table: for record i (stride 72
// bytes, the first 64 being the name field) with a name for ball i + 1, the
// name field is zeroed and takes at most 63 bytes of the name. The table's
// memory is made read-write first; when that is refused, or before the map
// exists, nothing is written. Always returns 0.
extern "C" int32_t QD_CDECL afsReadBalls(uint8_t* table);

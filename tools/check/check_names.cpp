// balls.txt: the display names as the module loads them (loadDisplayNames)
// and writes them into the game's ball table (afsReadBalls), and what the
// module's line rules make of every line.
#include <stdio.h>
#include <string.h>

#include <map>

#include "catalogue/catalogue.h"
#include "catalogue/display_names.h"
#include "catalogue/text_convert.h"
#include "check.h"
#include "module/host_api.h"
#include "module/paths.h"
#include "platform/platform.h"
#include "serving/ball_list.h"

namespace {

const char* const NamesFile = "GDB/balls/balls.txt";

struct NamesWalk {
    CheckReport* report;
    int32_t lineNumber = 1;
    bool continued = false;  // the previous read stopped at the read limit
    bool firstRead = true;
    bool bigEndianMark = false;
    std::map<uint16_t, int32_t> firstLine;  // ball number to the line that names it
};

// How many bytes of `bytes` utf8ToUtf16 decodes before it stops: the
// shortest prefix that decodes to as many units as the whole.
uint32_t decodedBytes(const char* bytes, uint32_t length) {
    std::vector<char> prefix(bytes, bytes + length);
    prefix.push_back(0);
    const int32_t whole = utf8CharCount(prefix.data());
    uint32_t low = 0;
    uint32_t high = length;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        std::vector<char> part(bytes, bytes + middle);
        part.push_back(0);
        if (utf8CharCount(part.data()) >= whole)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

// Whether the bytes are well-formed UTF-8 (the module decodes any bytes, and
// makes other characters of what is not).
bool wellFormedUtf8(const char* text, uint32_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (uint32_t i = 0; i < length;) {
        const unsigned c = p[i];
        uint32_t extra = 0;
        if (c < 0x80)
            extra = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            extra = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (i + extra >= length && extra > 0)
            return false;
        for (uint32_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        }
        if ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0) || (c == 0xF0 && p[i + 1] < 0x90) ||
            (c == 0xF4 && p[i + 1] >= 0x90))
            return false;
        i += extra + 1;
    }
    return true;
}

bool onlyBlanks(const std::u16string& text) {
    for (char16_t c : text) {
        if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n')
            return false;
    }
    return true;
}

std::string shown(const std::u16string& text) {
    std::u16string cut = text;
    while (!cut.empty() && (cut.back() == u'\r' || cut.back() == u'\n'))
        cut.pop_back();
    return quoted(toUtf8(cut));
}

void ignored(CheckReport& report, int32_t line, const char* reason, const std::string& why) {
    Finding& finding =
        addFinding(report, SeverityWarning, "names-line-ignored", NamesFile, line, NoBall, "line ignored: " + why);
    addDetail(finding, "reason", reason);
}

void takeLine(void* context, NamesFileLine& read) {
    NamesWalk& walk = *static_cast<NamesWalk*>(context);
    CheckReport& report = *walk.report;
    const int32_t line = walk.lineNumber;
    const bool continuation = walk.continued;
    if (walk.firstRead && read.bytes && read.readLength >= 2 && static_cast<unsigned char>(read.bytes[0]) == 0xFE &&
        static_cast<unsigned char>(read.bytes[1]) == 0xFF) {
        walk.bigEndianMark = true;
        addFinding(report, SeverityWarning, "names-encoding", NamesFile, 1, NoBall,
                   "balls.txt starts with FE FF (big-endian UTF-16), which the module does not read: it reads the "
                   "file as UTF-8 and finds no names; save it as UTF-8 or as UTF-16 little-endian");
    }
    walk.firstRead = false;
    walk.continued = !read.endedAtNewline && read.readLength == NamesLineReadLimit;
    if (read.endedAtNewline)
        ++walk.lineNumber;
    if (walk.continued && !continuation) {
        addFinding(report, SeverityWarning, "names-line-split", NamesFile, line, NoBall,
                   "the line is longer than " + std::to_string(NamesLineReadLimit) +
                       (read.bytes ? " bytes" : " units") +
                       ": it is cut there and its rest is read as a line of its own");
    }
    if (walk.bigEndianMark)
        return;

    const size_t held = text16Length(read.text);
    const std::u16string original(read.text, held);
    if (read.bytes) {
        const uint32_t decoded = decodedBytes(read.bytes, read.readLength);
        if (decoded < read.readLength) {
            const unsigned char stop = static_cast<unsigned char>(read.bytes[decoded]);
            char byte[8];
            snprintf(byte, sizeof byte, "%02X", stop);
            const std::string what = stop == 0      ? "a zero byte"
                                     : stop >= 0xF0 ? std::string("a character beyond U+FFFF (byte ") + byte +
                                                          ", a four-byte form such as an emoji), which the module "
                                                          "does not decode,"
                                                    : std::string("byte ") + byte +
                                                          ", which cannot start a character (is the file saved in "
                                                          "an ANSI code page?),";
            Finding& finding = addFinding(
                report, SeverityWarning, "names-undecodable", NamesFile, line, NoBall,
                what + " at column " + std::to_string(decoded + 1) + " ends the line: it reads " + shown(original));
            addDetail(finding, "column", static_cast<int64_t>(decoded) + 1);
        } else if (!wellFormedUtf8(read.bytes, read.readLength)) {
            addFinding(report, SeverityWarning, "names-not-utf8", NamesFile, line, NoBall,
                       "the line is not well-formed UTF-8 (is the file saved in an ANSI code page?): the module reads "
                       "it as " +
                           shown(original));
        }
    } else if (held < read.readLength) {
        Finding& finding = addFinding(report, SeverityWarning, "names-undecodable", NamesFile, line, NoBall,
                                      "a zero unit at column " + std::to_string(held + 1) + " ends the line");
        addDetail(finding, "column", static_cast<int64_t>(held) + 1);
    }

    const NamesLine parsed = parseNamesLine(read.text);
    switch (parsed.outcome) {
        case NamesLineEmpty:
            return;
        case NamesLineSection:
            ignored(report, line, "section", "a line starting with [ is skipped as a whole");
            return;
        case NamesLineNoSeparator: {
            const size_t hash = original.find(u'#');
            if (onlyBlanks(original.substr(0, hash)))
                return;  // a blank or comment line
            if (hash != std::u16string::npos && original.find(u',', hash) != std::u16string::npos)
                ignored(report, line, "no-comma", "the '#' starts a comment before the first ',': " + shown(original));
            else
                ignored(report, line, "no-comma", "there is no ',' between a number and a name: " + shown(original));
            return;
        }
        case NamesLineNoName:
            ignored(report, line, "nothing-after-comma", "nothing follows the ',': " + shown(original));
            return;
        case NamesLineNoNumber:
            ignored(report, line, "no-number", "no ball number before the ',': " + shown(original));
            return;
        case NamesLinePair:
            break;
    }

    const int32_t number = parsed.number;
    const std::u16string before = original.substr(0, original.find(u','));
    if (parsed.numberTail) {
        addFinding(report, SeverityWarning, "names-number-tail", NamesFile, line, number,
                   "the text before the ',', " + quoted(toUtf8(before)) + ", is read as ball " +
                       std::to_string(number) +
                       ": what follows the digits is ignored (hexadecimal needs a lower-case 0x at the very start)");
    }
    if (parsed.numberWrapped) {
        addFinding(report, SeverityWarning, "names-number-wrapped", NamesFile, line, number,
                   quoted(toUtf8(before)) + " is outside 0 to 65535 and is taken modulo 65536: it names ball " +
                       std::to_string(number));
    }
    const std::map<uint16_t, int32_t>::const_iterator first = walk.firstLine.find(parsed.number);
    if (first != walk.firstLine.end()) {
        addFinding(report, SeverityWarning, "names-duplicate", NamesFile, line, number,
                   "ball " + std::to_string(number) + " is already named on line " + std::to_string(first->second) +
                       ": the first line counts, this one is ignored");
        return;
    }
    walk.firstLine[parsed.number] = line;
    const std::string name = toUtf8(parsed.name, parsed.nameLength);
    if (parsed.commentCut) {
        addFinding(report, SeverityNote, "name-comment", NamesFile, line, number,
                   "'#' starts a comment, also inside a name: the name is " + quoted(name));
    }
    if (number == 0 || number > report.ballCount) {
        addFinding(report, SeverityWarning, "names-outside-catalogue", NamesFile, line, number,
                   "ball " + std::to_string(number) + " is not in the catalogue (balls 1 to " +
                       std::to_string(report.ballCount) + "): the name " + quoted(name) + " is never shown");
    }
}

// The names the game's ball table receives, through afsReadBalls.
void checkWrittenNames(CheckReport& report, const NamesWalk& walk) {
    const DisplayNameMap* names = displayNameMap();
    const int32_t count = report.ballCount;
    if (!names || count <= 0)
        return;
    std::vector<uint8_t> table(static_cast<size_t>(count) * BallRecordBytes, 0);
    afsReadBalls(table.data());
    for (int32_t n = 1; n <= count; ++n) {
        const DisplayNameMap::const_iterator found = names->find(static_cast<uint16_t>(n));
        if (found == names->end() || !found->second.name)
            continue;
        const std::map<uint16_t, int32_t>::const_iterator line = walk.firstLine.find(static_cast<uint16_t>(n));
        const int32_t lineNumber = line == walk.firstLine.end() ? 0 : line->second;
        const char* name = found->second.name;
        const size_t length = strlen(name);
        const char* field = reinterpret_cast<const char*>(table.data()) + static_cast<size_t>(n - 1) * BallRecordBytes;
        const std::string written(field, strnlen(field, BallNameBytes));
        if (length == 0) {
            addFinding(report, SeverityWarning, "name-empty", NamesFile, lineNumber, n,
                       "the name is empty: the game shows no name for this ball");
        } else if (written.size() < length) {
            const bool split = (static_cast<unsigned char>(name[written.size()]) & 0xC0) == 0x80;
            addFinding(report, SeverityWarning, "name-cut", NamesFile, lineNumber, n,
                       "the name is " + std::to_string(length) + " bytes in UTF-8: the game shows its first " +
                           std::to_string(written.size()) + " bytes" +
                           (split ? ", which ends inside a character," : "") + " " + quoted(written));
        }
    }
}

}  // namespace

void checkNames(CheckReport& report) {
    if (report.ballCount <= 0)
        return;
    const char16_t* pieces[] = {hostLoaderDir(), u"GDB\\balls\\balls.txt"};
    char16_t path[PathUnits];
    if (!joinPath(path, pieces)) {
        addFinding(report, SeverityWarning, "path-too-long", NamesFile, 0, NoBall,
                   "the path of balls.txt does not fit the module's 1024-unit buffer: no display names are read");
        return;
    }
    if (!platformPathExists(path)) {
        addFinding(report, SeverityNote, "names-absent", NamesFile, 0, NoBall,
                   "there is no balls.txt: the game shows the folder names");
        return;
    }
    loadDisplayNames();
    NamesWalk walk;
    walk.report = &report;
    NamesEncoding encoding = NamesUtf8;
    if (!readNamesLines(path, takeLine, &walk, &encoding)) {
        addFinding(report, SeverityWarning, "names-unreadable", NamesFile, 0, NoBall,
                   "balls.txt cannot be read (\"Unable to read balls map\"): the game shows the folder names");
        return;
    }
    checkWrittenNames(report, walk);
}

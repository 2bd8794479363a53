// map.txt: the catalogue as the module reads it (loadBallCatalogue), and the
// lines behind each value. Lines are told apart by the module's own INI
// reader, given one line at a time as the module gives it the whole file.
#include <string.h>

#include <map>

#include "catalogue/catalogue.h"
#include "catalogue/ini_reader.h"
#include "check.h"
#include "module/host_api.h"
#include "module/paths.h"
#include "platform/platform.h"
#include "serving/preview_file.h"

namespace {

const char* const MapFile = "GDB/balls/map.txt";

enum SectionKind { SectionNone, SectionBall, SectionNames, SectionOther };

// What the reader makes of one line on its own.
struct MapLine {
    int32_t number;
    bool header;
    bool key;
    std::wstring name;  // the section's name for a header, else the key
    std::wstring value;
    SectionKind section;  // the section the line stands in
};

bool sameName(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        wchar_t x = a[i];
        wchar_t y = b[i];
        if (x >= L'A' && x <= L'Z')
            x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z')
            y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == 0;
}

std::string lowered(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return toUtf8(out);
}

// One line through the reader, preceded by the line break the module puts
// before the file's first byte.
MapLine readLine(const char* start, size_t length, int32_t number) {
    MapLine line{number, false, false, std::wstring(), std::wstring(), SectionNone};
    std::string text = "\n";
    text.append(start, length);
    CatalogueIni ini;
    ini.LoadData(text.data(), text.size());
    CatalogueIni::TNamesDepend sections;
    ini.GetAllSections(sections);
    for (const CatalogueIni::Entry& section : sections) {
        CatalogueIni::TNamesDepend keys;
        ini.GetAllKeys(section.pItem, keys);
        if (keys.empty() && section.pItem[0] != 0) {
            line.header = true;
            line.name = section.pItem;
        } else if (keys.empty()) {
            line.header = true;  // "[ ]": the nameless section again
        }
        for (const CatalogueIni::Entry& key : keys) {
            line.key = true;
            line.name = key.pItem;
            const wchar_t* value = ini.GetValue(section.pItem, key.pItem, L"");
            line.value = value ? value : L"";
        }
    }
    return line;
}

// The file's lines (ending at CR, LF or CR LF) as the reader sees them.
std::vector<MapLine> readLines(const char* text, size_t length) {
    std::vector<MapLine> lines;
    SectionKind section = SectionNone;
    size_t start = 0;
    int32_t number = 1;
    while (start < length) {
        size_t end = start;
        while (end < length && text[end] != '\r' && text[end] != '\n')
            ++end;
        MapLine line = readLine(text + start, end - start, number);
        if (line.header) {
            if (line.name.empty())
                section = SectionNone;
            else if (sameName(line.name, CatalogueBallSection))
                section = SectionBall;
            else if (sameName(line.name, CatalogueNameSection))
                section = SectionNames;
            else
                section = SectionOther;
        }
        line.section = section;
        lines.push_back(line);
        if (end < length && text[end] == '\r' && end + 1 < length && text[end + 1] == '\n')
            ++end;
        start = end + 1;
        ++number;
    }
    return lines;
}

struct KeyLines {
    std::map<std::string, int32_t> last;  // "section\nkey" in lower case to its last line
};

int32_t lastLine(const KeyLines& keys, SectionKind section, const wchar_t* key) {
    const std::map<std::string, int32_t>::const_iterator found =
        keys.last.find(std::to_string(section) + "\n" + lowered(key));
    return found == keys.last.end() ? 0 : found->second;
}

void checkLines(CheckReport& report, const std::vector<MapLine>& lines, bool utf8Mark, KeyLines& keys) {
    if (utf8Mark && !lines.empty()) {
        std::string what =
            "map.txt starts with a UTF-8 mark (EF BB BF); the module reads map.txt in the ANSI code "
            "page, so the three bytes are the start of line 1";
        std::string line1;
        if (lines[0].header)
            line1 = " (the reader still sees a section header there)";
        else
            line1 = ", and a section header on that line is not seen: the keys under it belong to no section";
        addFinding(report, SeverityWarning, "utf8-mark", MapFile, 1, NoBall,
                   what + line1 + "; save map.txt without the mark (ANSI)");
    }
    for (const MapLine& line : lines) {
        if (line.header && line.section == SectionOther) {
            addFinding(
                report, SeverityWarning, "unknown-section", MapFile, line.number, NoBall,
                "section [" + toUtf8(line.name) + "] is not read: the catalogue reads only [ball] and [ball name]");
        }
        if (!line.key)
            continue;
        const std::string key = toUtf8(line.name);
        if (line.section == SectionNone) {
            addFinding(report, SeverityWarning, "outside-section", MapFile, line.number, NoBall,
                       "key " + quoted(key) + " stands before any section header and is not read");
            continue;
        }
        const std::string id = std::to_string(line.section) + "\n" + lowered(line.name);
        const std::map<std::string, int32_t>::iterator earlier = keys.last.find(id);
        if (earlier != keys.last.end()) {
            addFinding(report, SeverityWarning, "replaced-key", MapFile, earlier->second, NoBall,
                       "key " + quoted(key) + " is given again on line " + std::to_string(line.number) +
                           ", whose value replaces this one");
        }
        keys.last[id] = line.number;
        if (line.section != SectionBall)
            continue;
        if (sameName(line.name, L"preview.height")) {
            addFinding(report, SeverityWarning, "preview-height-key", MapFile, line.number, NoBall,
                       "the module reads the height from \"preview.heigh\" (no final t): this line is not read and "
                       "the height stays " +
                           std::to_string(report.previewHeight));
        } else if (!sameName(line.name, CatalogueCountKey) && !sameName(line.name, CatalogueWidthKey) &&
                   !sameName(line.name, CatalogueHeightKey)) {
            addFinding(report, SeverityWarning, "unknown-key", MapFile, line.number, NoBall,
                       "key " + quoted(key) + " in [ball] is not read (the keys are ball.count, preview.width and " +
                           "preview.heigh)");
        }
    }
}

std::string commentHint(const std::string& value) {
    if (value.find(';') != std::string::npos || value.find('#') != std::string::npos)
        return " (a comment after a value is part of the value: put comments on lines of their own)";
    return "";
}

void checkCount(CheckReport& report, const CatalogueIni& ini, const KeyLines& keys, int32_t count) {
    const int32_t line = lastLine(keys, SectionBall, CatalogueCountKey);
    const wchar_t* text = ini.GetValue(CatalogueBallSection, CatalogueCountKey, nullptr);
    const std::string stop =
        ": the catalogue holds no ball, and the module unloads itself (\"Ball not found! "
        "unload quindral.\")";
    if (!text) {
        addFinding(report, SeverityError, "count-missing", MapFile, 0, NoBall,
                   "there is no ball.count in section [ball]" + stop);
        return;
    }
    const std::string value = toUtf8(std::wstring(text));
    int32_t parsed = 0;
    if (!parseCatalogueInteger(text, &parsed)) {
        addFinding(report, SeverityError, "count-unusable", MapFile, line, NoBall,
                   "ball.count value " + quoted(value) + " is not wholly a number" + commentHint(value) + stop);
    } else if (parsed <= 0) {
        addFinding(report, SeverityError, "count-not-positive", MapFile, line, NoBall,
                   "ball.count is " + std::to_string(parsed) + stop);
    } else if (parsed > count) {
        addFinding(report, SeverityWarning, "count-capped", MapFile, line, NoBall,
                   "ball.count is " + std::to_string(parsed) + ", more than the " + std::to_string(count) +
                       " balls the catalogue holds: only balls 1 to " + std::to_string(count) + " are offered");
    }
}

void checkPreviewSize(CheckReport& report, const CatalogueIni& ini, const KeyLines& keys) {
    const wchar_t* const names[2] = {CatalogueWidthKey, CatalogueHeightKey};
    const int32_t values[2] = {report.previewWidth, report.previewHeight};
    int32_t lines[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        lines[i] = lastLine(keys, SectionBall, names[i]);
        const wchar_t* text = ini.GetValue(CatalogueBallSection, names[i], nullptr);
        int32_t parsed = 0;
        if (text && !parseCatalogueInteger(text, &parsed)) {
            const std::string value = toUtf8(std::wstring(text));
            addFinding(report, SeverityWarning, "preview-size-unusable", MapFile, lines[i], NoBall,
                       toUtf8(std::wstring(names[i])) + " value " + quoted(value) + " is not wholly a number" +
                           commentHint(value) + ": " + std::to_string(values[i]) + " is used");
        }
    }
    uint32_t texture = 0;
    uint32_t texturesEnd = 0;
    uint32_t payload = 0;
    report.previewSizeUsable = previewPayloadSizes(static_cast<uint32_t>(report.ballCount) + 1, report.previewWidth,
                                                   report.previewHeight, &texture, &texturesEnd, &payload);
    const std::string size = std::to_string(report.previewWidth) + " x " + std::to_string(report.previewHeight);
    if (!report.previewSizeUsable) {
        addFinding(report, SeverityError, "preview-size-invalid", MapFile, lines[0] ? lines[0] : lines[1], NoBall,
                   "previews of " + size +
                       " cannot be laid out (each side must be 1 to 65535 and the file must fit "
                       "in 4 GiB): the module serves no preview file (\"Unable to allocate buffer for binId=36\") and "
                       "the menu shows the game's own pictures");
    } else if (report.previewWidth == report.previewHeight) {
        addFinding(report, SeverityWarning, "preview-square", MapFile, lines[0] ? lines[0] : lines[1], NoBall,
                   "the previews are square (" + size +
                       "): the module then replaces three menu files of the game (archive 6, files 127, 269 and "
                       "833) with the ones it carries");
    }
}

// The [ball name] keys: which ones the module asks for, and what it gets.
void checkFolderKeys(CheckReport& report, const std::vector<MapLine>& lines, const CatalogueIni& ini,
                     const KeyLines& keys) {
    const int32_t count = report.ballCount;
    for (const MapLine& line : lines) {
        if (!line.key || line.section != SectionNames)
            continue;
        bool asked = false;
        for (int32_t n = 0; n <= count && !asked; ++n)
            asked = line.name == std::to_wstring(n);
        if (asked)
            continue;
        const std::string key = toUtf8(line.name);
        int32_t number = 0;
        if (parseCatalogueInteger(line.name.c_str(), &number) && number > count && line.name[0] >= L'1' &&
            line.name[0] <= L'9') {
            addFinding(report, SeverityWarning, "folder-beyond-count", MapFile, line.number, NoBall,
                       "ball " + key + " is beyond ball.count (" + std::to_string(count) + "): folder " +
                           quoted(toUtf8(line.value)) + " is not offered");
        } else if (parseCatalogueInteger(line.name.c_str(), &number) && number >= 0 && number <= count) {
            addFinding(report, SeverityWarning, "folder-key-unread", MapFile, line.number, NoBall,
                       "key " + quoted(key) + " is not the key " + std::to_string(number) +
                           ": the module asks for the ball number in decimal, without leading zeros or sign");
        } else {
            addFinding(report, SeverityWarning, "folder-key-unread", MapFile, line.number, NoBall,
                       "key " + quoted(key) + " in [ball name] is not a ball number of the catalogue and is not read");
        }
    }
    for (int32_t n = 1; n <= count; ++n) {
        const std::wstring key = std::to_wstring(n);
        const wchar_t* value = ini.GetValue(CatalogueNameSection, key.c_str(), nullptr);
        const char16_t* folder = Catalogue.folderNames[n];
        const std::string folderText = folder ? toUtf8(folder, text16Length(folder)) : std::string();
        if (!value) {
            addFinding(
                report, SeverityWarning, "folder-default", MapFile, 0, n,
                "[ball name] has no key " + std::to_string(n) + ": the folder " + quoted(folderText) + " is used");
        } else if (value[0] == 0) {
            addFinding(report, SeverityWarning, "folder-empty", MapFile, lastLine(keys, SectionNames, key.c_str()), n,
                       "the folder name is empty: the module looks for ball.bin and preview.png in GDB\\balls "
                       "itself");
        } else if (value[0] == L'"' || value[wcslen(value) - 1] == L'"') {
            addFinding(
                report, SeverityWarning, "folder-quoted", MapFile, lastLine(keys, SectionNames, key.c_str()), n,
                "quotes are part of the folder name " + quoted(folderText) + ": map.txt values are taken literally");
        }
    }
}

}  // namespace

void checkCatalogue(CheckReport& report) {
    const char16_t* pieces[] = {hostLoaderDir(), u"GDB\\balls\\map.txt"};
    report.catalogueRead = false;
    if (!joinPath(CataloguePath, pieces)) {
        addFinding(report, SeverityError, "path-too-long", MapFile, 0, NoBall,
                   "the path of map.txt does not fit the module's 1024-unit buffer: the module reads no catalogue");
        return;
    }
    Catalogue.ballCount = loadBallCatalogue();
    report.ballCount = Catalogue.ballCount;
    report.previewWidth = Catalogue.previewWidth;
    report.previewHeight = Catalogue.previewHeight;

    size_t length = 0;
    char* text = readCatalogueText(CataloguePath, &length);
    if (!text) {
        addFinding(report, SeverityError, "catalogue-missing", MapFile, 0, NoBall,
                   "map.txt cannot be opened: the catalogue holds no ball, and the module unloads itself (\"Ball "
                   "not found! unload quindral.\")");
        return;
    }
    report.catalogueRead = true;
    // The module's own line break comes first; the file starts after it.
    const char* file = length > 0 ? text + 1 : text;
    const size_t fileLength = length > 0 ? length - 1 : 0;
    const bool utf8Mark = fileLength >= 3 && memcmp(file, "\xEF\xBB\xBF", 3) == 0;
    const std::vector<MapLine> lines = readLines(file, fileLength);

    CatalogueIni ini;
    ini.LoadData(text, length);
    platformHeapFree(text);

    KeyLines keys;
    checkLines(report, lines, utf8Mark, keys);
    checkCount(report, ini, keys, static_cast<int32_t>(CatalogueMaximumBalls));
    if (report.ballCount <= 0)
        return;
    checkPreviewSize(report, ini, keys);
    checkFolderKeys(report, lines, ini, keys);
}

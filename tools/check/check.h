// quindral-check: what the module will make of a GDB\balls folder, found by
// running the module's own reading code over it, and every place where it
// falls back or cuts.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

enum Severity : int32_t {
    SeverityNote = 0,     // worth knowing; the game gets what was written
    SeverityWarning = 1,  // the module falls back or cuts for one ball, line or picture
    SeverityError = 2,    // the module offers no balls, or cannot build a whole file
};

// Finding.ball when the finding is about no ball, or about the random entry.
enum : int32_t {
    NoBall = -1,
    RandomEntry = -2,
};

// An extra field of a finding, shown in the JSON output.
struct Detail {
    std::string name;
    std::string text;  // used when !isNumber
    int64_t number;
    bool isNumber;
};

struct Finding {
    Severity severity;
    std::string kind;
    std::string file;  // relative to the loader folder, '/' between folders
    int32_t line;      // 1-based; 0 when the finding has no line
    int32_t ball;      // ball number, NoBall or RandomEntry
    std::string message;
    std::vector<Detail> details;
};

// What the game gets for one ball of the catalogue.
struct BallSummary {
    int32_t number;
    std::string folder;    // UTF-8
    std::string listName;  // the 8-bit name of the ball list, shown as UTF-8
    bool hasDisplayName;
    std::string displayName;  // what the ball table's name field receives
    bool model;               // ball.bin opens: the game plays this ball
    std::string preview;      // "converted", "grey" or "missing"
};

struct CheckReport {
    std::string folder;     // the loader folder as given on the command line, made absolute
    std::string loaderDir;  // as given to the module, UTF-8
    bool catalogueRead;     // map.txt opened
    int32_t ballCount;      // as the module holds it (after its cap)
    int32_t previewWidth;
    int32_t previewHeight;
    bool previewSizeUsable;  // the preview file can be laid out at this size
    std::vector<Finding> findings;
    std::vector<BallSummary> balls;
    BallSummary random;
    std::vector<std::string> log;  // the module's log lines, UTF-8
};

// Records a finding without details.
Finding& addFinding(CheckReport& report, Severity severity, const char* kind, const std::string& file, int32_t line,
                    int32_t ball, const std::string& message);
void addDetail(Finding& finding, const char* name, const std::string& text);
void addDetail(Finding& finding, const char* name, int64_t number);

// The host the module's code talks to: a record with the loader folder, and
// the module's log lines kept in memory.
bool setHostLoaderDir(const std::u16string& loaderDir);
std::vector<std::string>& hostLog();

// UTF-16 to UTF-8 for output (surrogate pairs joined, lone surrogates as
// U+FFFD); UTF-8 to UTF-16 for the paths handed to the module.
std::string toUtf8(const char16_t* text, size_t length);
std::string toUtf8(const std::u16string& text);
std::string toUtf8(const std::wstring& text);
std::u16string toUtf16(const std::string& text);
// 8-bit text whose bytes are the code points U+0000 to U+00FF, as UTF-8.
std::string latin1ToUtf8(const char* text);
std::string quoted(const std::string& text);

// The checks, in the order the module meets the files. The loader folder is
// the host's (setHostLoaderDir).
void checkCatalogue(CheckReport& report);
void checkBalls(CheckReport& report);
void checkNames(CheckReport& report);

int32_t exitStatus(const CheckReport& report);
void printText(const CheckReport& report, bool withLog, FILE* out);
void printJson(const CheckReport& report, FILE* out);

// The whole checker: options and folder as on the command line (without the
// program's name), the report written to `out`. Returns the exit status:
// 0 clean (notes at most), 1 warnings only, 2 errors, 3 a usage error.
int runCheck(const std::vector<std::string>& args, FILE* out);

// quindral-check: reports, for a loader folder (or its GDB/balls), every place
// where the module will fall back or cut, by running the module's own
// reading code over the files: the catalogue, the ball list names, the model
// files, the preview pictures and the display names.
//
// Exit status: 0 clean (notes at most), 1 warnings, 2 errors, 3 usage.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "catalogue/catalogue.h"
#include "check.h"

namespace {

struct Options {
    std::string folder = QUINDRAL_CHECK_DEFAULT_FOLDER;
    bool json = false;
    bool log = false;
};

void usage(FILE* out) {
    fputs(
        "usage: quindral-check [--json] [--log] [FOLDER]\n"
        "  FOLDER   the loader folder, or its GDB/balls (default: " QUINDRAL_CHECK_DEFAULT_FOLDER_SHOWN
        ")\n"
        "  --json   the report as JSON, for scripts\n"
        "  --log    the module's log lines after the report\n"
        "Exit status: 0 clean, 1 warnings only, 2 errors, 3 usage.\n",
        out);
}

// 0 to go on, 1 for a usage error, 2 when help was asked for.
int parseOptions(const std::vector<std::string>& args, Options* options) {
    bool folderGiven = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h")
            return 2;
        if (arg == "--json") {
            options->json = true;
        } else if (arg == "--log") {
            options->log = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            fprintf(stderr, "quindral-check: unknown option %s\n", arg.c_str());
            return 1;
        } else if (folderGiven) {
            fprintf(stderr, "quindral-check: one folder only\n");
            return 1;
        } else {
            options->folder = arg;
            folderGiven = true;
        }
    }
    return 0;
}

bool sameText(const std::string& a, const char* b) {
    if (a.size() != strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (x != b[i])
            return false;
    }
    return true;
}

// The loader folder for a loader folder or its GDB/balls, absolute.
std::filesystem::path loaderFolder(const std::string& given) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(std::filesystem::u8path(given), error).lexically_normal();
    if (!path.has_filename())
        path = path.parent_path();
    if (std::filesystem::is_directory(path / "GDB" / "balls", error))
        return path;
    const std::filesystem::path parent = path.parent_path();
    if (sameText(path.filename().u8string(), "balls") && sameText(parent.filename().u8string(), "gdb"))
        return parent.parent_path();
    return path;
}

// As the host gives it: UTF-16, '\' between folders, ending in '\'.
std::u16string hostPath(const std::filesystem::path& folder) {
    std::u16string text = toUtf16(folder.u8string());
    for (char16_t& c : text) {
        if (c == u'/')
            c = u'\\';
    }
    while (!text.empty() && text.back() == u'\\')
        text.pop_back();
    return text + u"\\";
}

// Findings in reading order: map.txt, then ball by ball, the random entry,
// balls.txt; by line within a file.
int32_t group(const Finding& finding) {
    if (finding.file == "GDB/balls/balls.txt")
        return 3;
    if (finding.ball == RandomEntry)
        return 2;
    return finding.ball == NoBall ? 0 : 1;
}

}  // namespace

int runCheck(const std::vector<std::string>& args, FILE* out) {
    Options options;
    const int parsed = parseOptions(args, &options);
    if (parsed != 0) {
        usage(parsed == 2 ? out : stderr);
        return parsed == 2 ? 0 : 3;
    }
    const std::filesystem::path folder = loaderFolder(options.folder);
    const std::u16string loaderDir = hostPath(folder);
    if (!setHostLoaderDir(loaderDir)) {
        fprintf(stderr, "quindral-check: the folder's path is too long for the loader's record\n");
        return 3;
    }
    // The module's state from an earlier run in this process goes first.
    releaseBallCatalogue();
    hostLog().clear();
    CheckReport report{};
    report.folder = folder.u8string();
    report.loaderDir = toUtf8(loaderDir);
    checkCatalogue(report);
    checkNames(report);
    checkBalls(report);
    report.log = hostLog();
    std::stable_sort(report.findings.begin(), report.findings.end(), [](const Finding& a, const Finding& b) {
        const int32_t ga = group(a);
        const int32_t gb = group(b);
        if (ga != gb)
            return ga < gb;
        if (ga == 1 && a.ball != b.ball)
            return a.ball < b.ball;
        return ga != 1 && a.line < b.line;
    });
    if (options.json)
        printJson(report, out);
    else
        printText(report, options.log, out);
    fflush(out);
    return exitStatus(report);
}

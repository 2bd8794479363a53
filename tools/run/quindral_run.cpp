// quindral-run: loads the real module into the simulated loader host and game
// over a loader folder, as the game process would, and prints what the
// loader's log and the console show.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "parvex/parvex_driver.h"
#include "tremix/tremix_driver.h"

namespace {

struct Options {
    std::string loader = QUINDRAL_SAMPLE_LOADER;
    std::string module = QUINDRAL_MODULE_PATH;
    int32_t gameBuild = 0;
};

void usage(FILE* out) {
    fputs(
        "usage: quindral-run [--loader DIR] [--game-build N] [--module FILE]\n"
        "  --loader DIR      loader folder holding GDB/balls (default: the bundled sample)\n"
        "  --game-build N    game build the host reports (default 0; only 0 and 1 are supported)\n"
        "  --module FILE     the module to load (default: the one built with this runner)\n",
        out);
}

bool parseInt(const char* text, int32_t* value) {
    char* end = nullptr;
    long parsed = strtol(text, &end, 0);
    if (end == text || *end != 0 || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

// 0 on success, 1 to stop with the usage text, 2 when --help was asked.
int parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0)
            return 2;
        if (!value) {
            fprintf(stderr, "quindral-run: %s needs a value\n", arg);
            return 1;
        }
        if (strcmp(arg, "--loader") == 0) {
            options->loader = value;
        } else if (strcmp(arg, "--module") == 0) {
            options->module = value;
        } else if (strcmp(arg, "--game-build") == 0) {
            if (!parseInt(value, &options->gameBuild)) {
                fprintf(stderr, "quindral-run: --game-build takes an integer, not '%s'\n", value);
                return 1;
            }
        } else {
            fprintf(stderr, "quindral-run: unknown option %s\n", arg);
            return 1;
        }
        ++i;
    }
    return 0;
}

// The loader folder as the host hands it over: absolute, ending in one
// backslash.
std::string hostLoaderDir(const std::string& folder) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    std::string text = error ? folder : absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text + "\\";
}

void printLog(size_t from) {
    const std::vector<std::string>& log = tremixLog();
    for (size_t i = from; i < log.size(); ++i) {
        std::string line = log[i];
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        printf("  log | %s\n", line.c_str());
    }
}

void printConsole(const std::string& console) {
    size_t start = 0;
    while (start < console.size()) {
        size_t end = console.find('\n', start);
        if (end == std::string::npos)
            end = console.size();
        printf("  out | %s\n", console.substr(start, end - start).c_str());
        start = end + 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int parsed = parseOptions(argc, argv, &options);
    if (parsed != 0) {
        usage(parsed == 2 ? stdout : stderr);
        return parsed == 2 ? 0 : 2;
    }

    std::string loaderDir = hostLoaderDir(options.loader);
    tremixSetGameBuild(options.gameBuild);
    tremixSetLoaderDirUtf8(loaderDir);
    printf("quindral-run: loader folder %s, game build %d\n", loaderDir.c_str(), options.gameBuild);
    fflush(stdout);

    printf("attach:\n");
    tremixConsoleBegin();
    bool loaded = tremixLoadModule(options.module);
    std::string console = tremixConsoleEnd();
    printLog(0);
    printConsole(console);
    size_t logged = tremixLog().size();
    if (!loaded) {
        printf("summary: the module refused to load\n");
        return 1;
    }

    printf("event 1 (start-up):\n");
    tremixConsoleBegin();
    int delivered = tremixDeliverEvent(1);
    console = tremixConsoleEnd();
    printLog(logged);
    printConsole(console);
    logged = tremixLog().size();

    printf("unload:\n");
    tremixConsoleBegin();
    tremixUnloadModule();
    console = tremixConsoleEnd();
    printLog(logged);
    printConsole(console);

    bool active = false;
    for (const std::string& line : tremixLog()) {
        if (line == "Initialization complete.")
            active = true;
    }
    printf("summary: start-up %s, %d call-point hook(s) installed, archive callback %s\n",
           delivered == 0 ? "never ran" : (active ? "complete" : "stopped idle"),
           static_cast<int>(tremixHookRequests().size()), parvexCallbackCount() > 0 ? "registered" : "not registered");
    return active ? 0 : 1;
}

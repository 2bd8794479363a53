// quindral-run: loads the real module into the simulated loader host and game
// over a loader folder and plays the typical road of a game session: start-up,
// the menu files, the ball list and previews, the ball table, a selection and
// the match ball. It prints the loader log and the console as the game would
// show them and writes what the game received into an output folder.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "contact_sheet.h"
#include "game/game.h"
#include "parvex/parvex_driver.h"
#include "tremix/tremix_driver.h"

namespace {

namespace fs = std::filesystem;

enum : uint32_t {
    GameObject = 0x01985000,  // the object the game hands the ball-load and ball-table code
    GameBallTable = 0x01990000,
    BallRecordBytes = 72,
    MaxTableRecords = (SimGameStackBottom - GameBallTable) / BallRecordBytes,
};

struct Options {
    std::string loader = QUINDRAL_SAMPLE_LOADER;
    std::string module = QUINDRAL_MODULE_PATH;
    std::string out;
    int32_t gameBuild = 0;
    int32_t select = 0;
    int32_t load = 0;
    bool loadGiven = false;
};

void usage(FILE* to) {
    fputs(
        "usage: quindral-run [--loader DIR] [--game-build N] [--select N] [--load N] [--out DIR]\n"
        "  --loader DIR      loader folder holding GDB/balls (default: the bundled sample)\n"
        "  --game-build N    game build the host reports (default 0; only 0 and 1 are supported)\n"
        "  --select N        ball index the game holds at the selection call point (default 0)\n"
        "  --load N          ball index at the ball-load call point (default: --select);\n"
        "                    the number of balls or more is the random entry\n"
        "  --out DIR         write log.txt, console.txt, the served files, ball-table.bin, previews.png\n"
        "  --module FILE     the module to load (default: the one built with this runner)\n",
        to);
}

bool parseInt(const char* text, int32_t* value) {
    char* end = nullptr;
    long long parsed = strtoll(text, &end, 0);
    if (end == text || *end != 0 || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

// 0: go on; 1: bad usage; 2: help was asked for.
int parseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return 2;
        if (i + 1 >= argc) {
            fprintf(stderr, "quindral-run: %s needs a value\n", arg.c_str());
            return 1;
        }
        const char* value = argv[++i];
        int32_t* number = nullptr;
        if (arg == "--loader") {
            o->loader = value;
        } else if (arg == "--module") {
            o->module = value;
        } else if (arg == "--out") {
            o->out = value;
        } else if (arg == "--game-build") {
            number = &o->gameBuild;
        } else if (arg == "--select") {
            number = &o->select;
        } else if (arg == "--load") {
            number = &o->load;
            o->loadGiven = true;
        } else {
            fprintf(stderr, "quindral-run: unknown option %s\n", arg.c_str());
            return 1;
        }
        if (number && !parseInt(value, number)) {
            fprintf(stderr, "quindral-run: %s takes an integer, not '%s'\n", arg.c_str(), value);
            return 1;
        }
    }
    if (!o->loadGiven)
        o->load = o->select;
    return 0;
}

// The loader folder as the host hands it over: absolute, one backslash at the end.
std::string hostLoaderDir(const std::string& folder) {
    std::error_code error;
    fs::path absolute = fs::absolute(folder, error);
    std::string text = error ? folder : absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text + "\\";
}

struct Road {
    Options options;
    std::vector<std::string> console;  // the module's console lines, in order
    size_t logShown = 0;
    std::vector<std::string> summary;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;  // what to write to --out
};

void showNew(Road& road, const std::string& printed) {
    const std::vector<std::string>& log = tremixLog();
    for (; road.logShown < log.size(); ++road.logShown) {
        std::string line = log[road.logShown];
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        printf("  log | %s\n", line.c_str());
    }
    size_t start = 0;
    while (start < printed.size()) {
        size_t end = printed.find('\n', start);
        const bool complete = end != std::string::npos;
        if (!complete)
            end = printed.size();
        printf("  out | %s\n", printed.substr(start, end - start).c_str());
        road.console.push_back(printed.substr(start, end - start) + (complete ? "\n" : ""));
        start = end + 1;
    }
    fflush(stdout);
}

// Runs `step` with the module's console captured, then shows what it logged and printed.
template <typename Step>
void phase(Road& road, const char* title, Step step) {
    printf("%s\n", title);
    fflush(stdout);
    tremixConsoleBegin();
    step();
    showNew(road, tremixConsoleEnd());
}

bool hooked(uint32_t address) {
    for (const TremixHookRequest& r : tremixHookRequests()) {
        if (r.address == address)
            return true;
    }
    return false;
}

std::vector<uint8_t> unpack(const std::vector<uint8_t>& file) {
    if (file.size() < 16 || memcmp(file.data(), "\x00\x01\x01WESYS", 8) != 0)
        return {};
    uint32_t compressed = 0, size = 0;
    memcpy(&compressed, file.data() + 8, 4);
    memcpy(&size, file.data() + 12, 4);
    if (16 + uint64_t(compressed) > file.size() || size > (1u << 30))
        return {};
    std::vector<uint8_t> payload(size);
    uLongf got = size;
    if (uncompress(payload.data(), &got, file.data() + 16, compressed) != Z_OK || got != size)
        return {};
    return payload;
}

// One read of the game, kept for --out when the module answered it.
ParvexRead gameRead(Road& road, uint32_t archive, uint32_t file, const char* what) {
    ParvexRead result = parvexGameRead(archive, file);
    char name[64];
    snprintf(name, sizeof name, "archive-%u-file-%u.bin", archive, file);
    std::string line =
        std::string(what) + " (archive " + std::to_string(archive) + ", file " + std::to_string(file) + "): ";
    if (result.answered && result.handleValid) {
        road.files.push_back({name, result.bytes});
        line += "served, " + std::to_string(result.bytes.size()) + " bytes";
    } else if (result.answered) {
        line += "answered without a readable handle";
    } else {
        line += "the game's own file";
    }
    road.summary.push_back(line);
    return result;
}

bool writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bool(out);
}

bool writeText(const fs::path& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line.empty() || line.back() != '\n' ? line + "\n" : line;
    return writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool writeOutputs(Road& road, const std::vector<SheetTile>& tiles) {
    const fs::path out = road.options.out;
    std::error_code error;
    fs::create_directories(out, error);
    if (error) {
        fprintf(stderr, "quindral-run: cannot create %s: %s\n", out.c_str(), error.message().c_str());
        return false;
    }
    // Nothing stale: remove every file this runner writes before writing anew.
    for (const fs::directory_entry& entry : fs::directory_iterator(out, error)) {
        const std::string name = entry.path().filename().string();
        if (name == "log.txt" || name == "console.txt" || name == "ball-table.bin" || name == "previews.png" ||
            (name.rfind("archive-", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".bin")) {
            fs::remove(entry.path(), error);
        }
    }
    bool ok = writeText(out / "log.txt", tremixLog()) && writeText(out / "console.txt", road.console);
    for (const auto& file : road.files)
        ok = writeFile(out / file.first, file.second) && ok;
    if (!tiles.empty())
        ok = writeContactSheet(tiles, (out / "previews.png").string()) && ok;
    return ok;
}

// The game's ball table, copied from the records of the served ball list.
uint32_t fillBallTable(const std::vector<uint8_t>& payload) {
    if (payload.size() < 20 || payload[0] != 1)
        return 0;
    uint32_t offset = 0, size = 0;
    memcpy(&offset, payload.data() + 8, 4);
    memcpy(&size, payload.data() + 12, 4);
    if (uint64_t(offset) + size > payload.size())
        return 0;
    uint32_t records = size / BallRecordBytes;
    if (records > MaxTableRecords)
        records = MaxTableRecords;
    simGameWrite(GameBallTable, payload.data() + offset, records * BallRecordBytes);
    return records;
}

}  // namespace

int main(int argc, char** argv) {
    Road road;
    const int parsed = parseOptions(argc, argv, &road.options);
    if (parsed != 0) {
        usage(parsed == 2 ? stdout : stderr);
        return parsed == 2 ? 0 : 2;
    }
    const Options& o = road.options;
    const std::string loaderDir = hostLoaderDir(o.loader);
    tremixSetGameBuild(o.gameBuild);
    tremixSetLoaderDirUtf8(loaderDir);
    printf("quindral-run: loader folder %s, game build %d\n", loaderDir.c_str(), o.gameBuild);

    bool loaded = false;
    phase(road, "attach:", [&] { loaded = tremixLoadModule(o.module); });
    if (!loaded)
        road.summary.push_back("the module refused to load");

    std::vector<SheetTile> tiles;
    if (loaded) {
        phase(road, "event 1 (start-up):", [&] { tremixDeliverEvent(1); });
        const SimGameSites sites = simGameSites(o.gameBuild);
        const bool canRun = simGameCanRun();

        phase(road, "menu files (archive 6):", [&] {
            gameRead(road, 6, 269, "ball select menu");
            gameRead(road, 6, 127, "ball edit menu");
            gameRead(road, 6, 833, "ball edit settings");
        });

        std::vector<uint8_t> listPayload;
        phase(road, "ball list and previews (archive 11):", [&] {
            ParvexRead list = gameRead(road, 11, 34, "ball list");
            if (list.answered)
                listPayload = unpack(list.bytes);
            ParvexRead previews = gameRead(road, 11, 36, "preview textures");
            if (previews.answered)
                tiles = previewTiles(unpack(previews.bytes));
        });

        uint32_t records = 0;
        if (!listPayload.empty()) {
            phase(road, "ball table:", [&] {
                records = fillBallTable(listPayload);
                if (hooked(sites.ballTableCallPoint) && canRun) {
                    const uint32_t next = GameObject + 0x100;
                    simGameWrite(GameObject + 0x34, &next, 4);
                    SimCpu in{GameBallTable, 0, 0, 0, GameObject, 0, 0, SimGameStackTop, 0x202};
                    SimCpu out{};
                    simGameRun(sites.ballTableCallPoint, in, &out);
                }
            });
            std::vector<uint8_t> table(size_t(records) * BallRecordBytes);
            if (records)
                simGameRead(GameBallTable, table.data(), uint32_t(table.size()));
            road.files.push_back({"ball-table.bin", table});
            std::string names;
            for (uint32_t i = 0; i < records; ++i) {
                const char* name = reinterpret_cast<const char*>(table.data() + i * BallRecordBytes);
                const std::string shown(name, strnlen(name, 64));
                names += (i ? ", " : "") + shown;
                if (i < tiles.size())
                    tiles[i].label = std::to_string(i) + " " + shown;
            }
            road.summary.push_back("ball table: " + std::to_string(records) + " balls: " + names);
        }
        if (!tiles.empty())
            tiles.back().label = "random";

        if (hooked(sites.selectionCallPoint) && canRun) {
            phase(road, "selection:", [&] {
                SimCpu in{0, 0, 0, 0, 0, 0, uint32_t(o.select), SimGameStackTop, 0x202};
                SimCpu out{};
                simGameRun(sites.selectionCallPoint, in, &out);
            });
            road.summary.push_back("selected ball " + std::to_string(o.select));
        }
        if (hooked(sites.ballLoadCallPoint) && canRun) {
            SimCpu out{};
            phase(road, "match ball:", [&] {
                SimCpu in{uint32_t(o.load), 0, GameObject, 0, 0, 0, 0, SimGameStackTop, 0x202};
                simGameRun(sites.ballLoadCallPoint, in, &out);
            });
            const uint32_t fileId = simGameRead32(out.esp + 4);
            char pushed[16];
            snprintf(pushed, sizeof pushed, "0x%08X", fileId);
            road.summary.push_back("match ball " + std::to_string(int32_t(out.eax)) + ", file id pushed " + pushed);
            phase(road, "match ball model:", [&] { gameRead(road, fileId >> 24, fileId & 0xFFFFFF, "ball model"); });
        } else if (!canRun) {
            road.summary.push_back("the game's 32-bit code cannot run in this build: call points not entered");
        }

        phase(road, "unload:", [&] { tremixUnloadModule(); });
    }

    printf("summary:\n");
    for (const std::string& line : road.summary)
        printf("  %s\n", line.c_str());
    if (!o.out.empty() && !writeOutputs(road, tiles))
        return 1;
    return 0;
}

// Benchmarks of the module as the game meets it: start-up, the first read of
// the preview texture file (decode, convert, pack, serve), a cached read and
// the ball list, through the simulated loader and archive hosts, over
// generated catalogues of palette PNGs. The baseline is plain libpng decoding
// of the same files plus one copy of the payload. After the timings the heap
// use of the first preview build is measured, and one line per goal is
// printed: "goal NAME: X (limit Y) ok|missed".
//
// Options besides Google Benchmark's: --dump-served=DIR writes every served
// preview and ball list file to DIR (to compare builds byte for byte).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "heap_tracker.h"
#include "parvex/parvex_driver.h"
#include "tremix/tremix_driver.h"

namespace {

namespace fs = std::filesystem;

enum : uint32_t {
    PreviewWidth = 512,
    PreviewHeight = 128,
    BallArchive = 11,
    BallListFile = 34,
    PreviewFile = 36,
};

const int BallCounts[] = {10, 64, 254};

// ---- Generated catalogues ----

struct Catalogue {
    int balls = 0;
    fs::path loaderDir;              // ends without the separator
    std::vector<fs::path> pictures;  // entry order: the balls, then ball_random.png
    uint64_t pictureBytes = 0;
};

std::map<int, Catalogue> Catalogues;
fs::path Scratch;

// A ball picture as modders make them: a shaded ball with panels on a
// transparent background (palette index 0, alpha 0 in tRNS), and a banner
// with the ball's colours across the rest, dithered; 256 colours at 8 bits or
// 16 colours at 4 bits.
std::vector<uint8_t> ballPixels(uint32_t seed, int depth) {
    std::mt19937 random(seed);
    const int levels = depth == 8 ? 255 : 15;  // indices 1..levels
    std::vector<uint8_t> pixels(PreviewWidth * PreviewHeight, 0);
    const double cx = 64 + seed % 16;
    const double cy = 64;
    const double radius = 56 + seed % 6;
    std::uniform_real_distribution<double> noise(-0.5, 0.5);
    for (uint32_t y = 0; y < PreviewHeight; ++y) {
        for (uint32_t x = 0; x < PreviewWidth; ++x) {
            double shade = -1;
            const double dx = (x - cx) / radius;
            const double dy = (y - cy) / radius;
            const double d2 = dx * dx + dy * dy;
            if (d2 <= 1.0) {
                // Lit from the upper left; darker panel seams in a pattern.
                const double dz = std::sqrt(1.0 - d2);
                double light = 0.25 + 0.75 * std::max(0.0, (-0.5 * dx - 0.5 * dy + 0.7 * dz));
                const double seam = std::sin(dx * 9 + seed) * std::cos(dy * 7 - seed);
                if (seam > 0.85)
                    light *= 0.5;
                shade = light;
            } else if (x > 140 && y > 40 && y < 88) {
                shade = 0.3 + 0.5 * (x - 140) / (PreviewWidth - 140.0);
            }
            if (shade >= 0) {
                const double level = shade * (levels - 1) + 1 + noise(random);
                pixels[y * PreviewWidth + x] = static_cast<uint8_t>(std::clamp(level, 1.0, double(levels)));
            }
        }
    }
    return pixels;
}

// The only frame a libpng error skips: it changes no local after setjmp.
bool encodePalettePng(png_structp png, png_infop info, FILE* out, int depth, std::vector<png_color>& palette,
                      png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    png_byte alpha[1] = {0};
    png_init_io(png, out);
    png_set_IHDR(png, info, PreviewWidth, PreviewHeight, depth, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_set_tRNS(png, info, alpha, 1, nullptr);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

bool writePalettePng(const fs::path& file, uint32_t seed, int depth) {
    const std::vector<uint8_t> pixels = ballPixels(seed, depth);
    const int colours = 1 << depth;
    std::vector<png_color> palette(colours);
    for (int i = 0; i < colours; ++i) {
        const double t = double(i) / (colours - 1);
        palette[i] = png_color{static_cast<png_byte>(40 + 200 * t), static_cast<png_byte>((seed * 37 + i * 3) % 256),
                               static_cast<png_byte>(255 * (1 - t))};
    }
    // Rows packed at the picture's depth.
    const uint32_t rowBytes = (PreviewWidth * depth + 7) / 8;
    std::vector<uint8_t> rows(rowBytes * PreviewHeight, 0);
    for (uint32_t y = 0; y < PreviewHeight; ++y) {
        for (uint32_t x = 0; x < PreviewWidth; ++x) {
            const uint8_t v = pixels[y * PreviewWidth + x];
            if (depth == 8)
                rows[y * rowBytes + x] = v;
            else
                rows[y * rowBytes + x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? v << 4 : v);
        }
    }
    std::vector<png_bytep> rowPointers(PreviewHeight);
    for (uint32_t y = 0; y < PreviewHeight; ++y)
        rowPointers[y] = rows.data() + y * rowBytes;

    FILE* out = fopen(file.c_str(), "wb");
    if (!out)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool written = info && encodePalettePng(png, info, out, depth, palette, rowPointers.data());
    png_destroy_write_struct(&png, &info);
    return fclose(out) == 0 && written;
}

bool makeCatalogue(int balls) {
    Catalogue& c = Catalogues[balls];
    c.balls = balls;
    c.loaderDir = Scratch / ("loader-" + std::to_string(balls));
    const fs::path ballsDir = c.loaderDir / "GDB" / "balls";
    fs::create_directories(ballsDir);
    std::ofstream(ballsDir / "map.txt") << "[ball]\nball.count=" << balls << "\n";
    for (int i = 0; i <= balls; ++i) {
        fs::path picture;
        if (i < balls) {
            char folder[16];
            snprintf(folder, sizeof folder, "Ball %03d", i + 1);
            fs::create_directories(ballsDir / folder);
            std::ofstream(ballsDir / folder / "ball.bin") << "model";
            picture = ballsDir / folder / "preview.png";
        } else {
            picture = ballsDir / "ball_random.png";
        }
        // Every other picture has 16 colours, as many previews do.
        if (!writePalettePng(picture, static_cast<uint32_t>(1000 * balls + i), i % 2 == 0 ? 8 : 4))
            return false;
        c.pictureBytes += fs::file_size(picture);
        c.pictures.push_back(picture);
    }
    return true;
}

// n entries of 1040 + W x H bytes, the table and the name slots.
uint32_t payloadBytes(int balls) {
    const uint32_t entries = static_cast<uint32_t>(balls) + 1;
    return 8 + entries * (12 + 1040 + PreviewWidth * PreviewHeight) + 32 * entries;
}

// ---- The module in the simulated hosts ----

// The module prints its console lines to standard output; while it runs
// they go to /dev/null, as in a game process without a console.
struct Quiet {
    Quiet() {
        fflush(stdout);
        saved = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~Quiet() {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
    int saved;
};

void prepareHost(const Catalogue& c) {
    if (tremixModuleLoaded())
        tremixUnloadModule();
    tremixReset();
    parvexReset();
    tremixSetGameBuild(0);
    tremixSetLoaderDirUtf8(c.loaderDir.string() + "\\");
    tremixSetLoaderVersion(0x000D0000);
}

bool startModule() {
    return tremixLoadModule(QUINDRAL_MODULE_PATH) && tremixDeliverEvent(1) == 1 && !tremixLog().empty() &&
           tremixLog().back() == "Initialization complete.";
}

void stopModule() {
    if (tremixModuleLoaded())
        tremixUnloadModule();
    parvexReset();
}

// ---- Plain libpng, the baseline ----

struct Decoded {
    uint8_t* image = nullptr;
    std::vector<png_bytep> rows;
};

// The only frame a libpng error skips: what it allocates lives in `out`.
bool decodeRows(png_structp png, png_infop info, FILE* in, Decoded* out) {
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    png_init_io(png, in);
    png_read_info(png, info);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const uint32_t height = png_get_image_height(png, info);
    out->image = static_cast<uint8_t*>(malloc(rowBytes * height));
    if (!out->image)
        return false;
    out->rows.resize(height);
    for (uint32_t y = 0; y < height; ++y)
        out->rows[y] = out->image + y * rowBytes;
    png_read_image(png, out->rows.data());
    png_read_end(png, nullptr);
    benchmark::DoNotOptimize(out->image[0]);
    return true;
}

// Decodes the file into memory with libpng, no transformation; false on any
// error.
bool decodeWithLibpng(const fs::path& file) {
    FILE* in = fopen(file.c_str(), "rb");
    if (!in)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    Decoded decoded;
    const bool ok = info && decodeRows(png, info, in, &decoded);
    png_destroy_read_struct(&png, &info, nullptr);
    free(decoded.image);
    fclose(in);
    return ok;
}

// One copy of `length` bytes into new memory, as every copy of a served file
// goes: into a new pipe, into the host's new buffer.
void copyIntoNewBlock(const uint8_t* source, size_t length) {
    uint8_t* target = static_cast<uint8_t*>(malloc(length));
    if (!target)
        abort();
    memcpy(target, source, length);
    benchmark::DoNotOptimize(target[length - 1]);
    free(target);
}

std::vector<uint8_t> CopySource;

const uint8_t* copySource(size_t length) {
    if (CopySource.size() < length)
        CopySource.assign(length, 0x5A);
    return CopySource.data();
}

// ---- Benchmarks ----

void BM_StartUp(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    Quiet quiet;
    for (auto _ : state) {
        state.PauseTiming();
        prepareHost(c);
        state.ResumeTiming();
        const bool started = startModule();
        state.PauseTiming();
        stopModule();
        state.ResumeTiming();
        if (!started) {
            state.SkipWithError("start-up failed");
            break;
        }
    }
}

void BM_FirstPreviewRead(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    Quiet quiet;
    for (auto _ : state) {
        state.PauseTiming();
        prepareHost(c);
        const bool started = startModule();
        state.ResumeTiming();
        const ParvexRead read = started ? parvexGameRead(BallArchive, PreviewFile) : ParvexRead{};
        state.PauseTiming();
        stopModule();
        state.ResumeTiming();
        if (!read.answered || read.bytes.size() != read.announcedSize) {
            state.SkipWithError("preview file not served");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * payloadBytes(c.balls));
}

void BM_CachedPreviewRead(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    Quiet quiet;
    prepareHost(c);
    if (!startModule() || !parvexGameRead(BallArchive, PreviewFile).answered) {
        state.SkipWithError("preview file not served");
        return;
    }
    for (auto _ : state) {
        const ParvexRead read = parvexGameRead(BallArchive, PreviewFile);
        if (!read.answered) {
            state.SkipWithError("cached preview file not served");
            break;
        }
    }
    stopModule();
}

// The module's own share of a read: its callback answers and the handle is
// closed unread, so the host's copy out of the pipe is left out.
using CallbackFn = uint8_t (*)(uint32_t, uint32_t, void**, uint32_t*);

CallbackFn moduleCallback() {
    void* module = dlopen(QUINDRAL_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (!module)
        return nullptr;
    CallbackFn callback = reinterpret_cast<CallbackFn>(dlsym(module, "ArchiveReadCallback"));
    dlclose(module);  // the loader host keeps its own reference
    return callback;
}

bool answerUnread(CallbackFn callback, uint32_t file) {
    void* handle = nullptr;
    uint32_t size = 0;
    if (!callback || callback(BallArchive, file, &handle, &size) == 0)
        return false;
    close(static_cast<int>(reinterpret_cast<intptr_t>(handle)));
    return true;
}

void BM_FirstPreviewCallback(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    Quiet quiet;
    for (auto _ : state) {
        state.PauseTiming();
        prepareHost(c);
        const CallbackFn callback = startModule() ? moduleCallback() : nullptr;
        state.ResumeTiming();
        const bool answered = answerUnread(callback, PreviewFile);
        state.PauseTiming();
        stopModule();
        state.ResumeTiming();
        if (!answered) {
            state.SkipWithError("preview file not served");
            break;
        }
    }
}

void BM_CachedPreviewCallback(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    Quiet quiet;
    prepareHost(c);
    const CallbackFn callback = startModule() ? moduleCallback() : nullptr;
    if (!answerUnread(callback, PreviewFile)) {
        state.SkipWithError("preview file not served");
        return;
    }
    for (auto _ : state) {
        if (!answerUnread(callback, PreviewFile)) {
            state.SkipWithError("cached preview file not served");
            break;
        }
    }
    stopModule();
}

void BM_FirstBallListRead(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    Quiet quiet;
    for (auto _ : state) {
        state.PauseTiming();
        prepareHost(c);
        const bool started = startModule();
        state.ResumeTiming();
        const ParvexRead read = started ? parvexGameRead(BallArchive, BallListFile) : ParvexRead{};
        state.PauseTiming();
        stopModule();
        state.ResumeTiming();
        if (!read.answered) {
            state.SkipWithError("ball list not served");
            break;
        }
    }
}

void BM_CachedBallListRead(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    Quiet quiet;
    prepareHost(c);
    if (!startModule() || !parvexGameRead(BallArchive, BallListFile).answered) {
        state.SkipWithError("ball list not served");
        return;
    }
    for (auto _ : state) {
        if (!parvexGameRead(BallArchive, BallListFile).answered) {
            state.SkipWithError("cached ball list not served");
            break;
        }
    }
    stopModule();
}

// The baseline of the first read: every picture decoded by plain libpng,
// plus one copy of the payload.
void BM_BaselineDecodeAndCopy(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    const uint32_t payload = payloadBytes(c.balls);
    const uint8_t* source = copySource(payload);
    for (auto _ : state) {
        for (const fs::path& picture : c.pictures) {
            if (!decodeWithLibpng(picture)) {
                state.SkipWithError("libpng failed");
                return;
            }
        }
        copyIntoNewBlock(source, payload);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * payload);
}

// The baseline of a cached read: one copy of the packed file.
void BM_CopyPackedFile(benchmark::State& state) {
    const Catalogue& c = Catalogues.at(static_cast<int>(state.range(0)));
    // A stored stream: the zlib header and Adler-32, 5 bytes per block of at
    // most 65535 bytes.
    const uint32_t payload = payloadBytes(c.balls);
    const size_t packed = 16 + 6 + size_t(payload) + 5 * ((payload + 65534) / 65535);
    const uint8_t* source = copySource(packed);
    for (auto _ : state)
        copyIntoNewBlock(source, packed);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(packed));
}

void registerBenchmarks() {
    // Fixed iteration counts keep the run short (every first read loads and
    // unloads the module, outside the timing); the median of five
    // repetitions tempers the noise of a shared machine.
    struct Entry {
        const char* name;
        void (*function)(benchmark::State&);
        int64_t iterations;
    };
    const Entry benchmarks[] = {
        {"StartUp", BM_StartUp, 40},
        {"FirstPreviewRead", BM_FirstPreviewRead, 8},
        {"BaselineDecodeAndCopy", BM_BaselineDecodeAndCopy, 8},
        {"CachedPreviewRead", BM_CachedPreviewRead, 20},
        {"FirstPreviewCallback", BM_FirstPreviewCallback, 8},
        {"CachedPreviewCallback", BM_CachedPreviewCallback, 20},
        {"CopyPackedFile", BM_CopyPackedFile, 20},
        {"FirstBallListRead", BM_FirstBallListRead, 40},
        {"CachedBallListRead", BM_CachedBallListRead, 200},
    };
    for (int balls : BallCounts) {
        for (const Entry& entry : benchmarks) {
            benchmark::RegisterBenchmark(entry.name, entry.function)
                ->Arg(balls)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(entry.iterations)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true);
        }
    }
}

// Keeps the median of every benchmark's repetitions, in milliseconds.
class CaptureReporter : public benchmark::ConsoleReporter {
  public:
    CaptureReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred)
                medians[run.run_name.function_name + "/" + run.run_name.args] =
                    run.GetAdjustedRealTime() * toMilliseconds(run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;

  private:
    static double toMilliseconds(benchmark::TimeUnit unit) {
        switch (unit) {
            case benchmark::kNanosecond:
                return 1e-6;
            case benchmark::kMicrosecond:
                return 1e-3;
            case benchmark::kMillisecond:
                return 1;
            case benchmark::kSecond:
                return 1e3;
        }
        return 1;
    }
};

// ---- Heap use of the first preview build ----

struct MemoryFigures {
    bool measured = false;
    uint32_t payload = 0;
    uint32_t packed = 0;
    HeapFigures build;         // counted during the first preview read
    uint64_t liveAfterUnload;  // counted bytes still held once the module is unloaded
    bool counterPresent = false;
    uint64_t processHeapPeakDelta = 0;  // platformHeapAlloc, usable bytes
    uint64_t processHeapKeptDelta = 0;
    bool servedIsCompress2 = false;  // the served file is the header plus compress2 level 0 of its payload
};

// The served file, unpacked, packed again in one compress2 call: the bytes
// must come out the same.
bool servedIsCompress2OfItsPayload(const std::vector<uint8_t>& file) {
    if (file.size() < 16)
        return false;
    uint32_t compressed = 0;
    uint32_t size = 0;
    memcpy(&compressed, &file[8], 4);
    memcpy(&size, &file[12], 4);
    if (16 + uint64_t(compressed) != file.size())
        return false;
    std::vector<uint8_t> payload(size);
    uLongf got = size;
    if (uncompress(payload.data(), &got, &file[16], compressed) != Z_OK || got != size)
        return false;
    std::vector<uint8_t> again(compressBound(size));
    uLongf length = again.size();
    if (compress2(again.data(), &length, payload.data(), size, 0) != Z_OK || length != compressed)
        return false;
    return memcmp(again.data(), &file[16], length) == 0;
}

MemoryFigures measureFirstBuild(int balls) {
    MemoryFigures m;
    const Catalogue& c = Catalogues.at(balls);
    Quiet quiet;
    prepareHost(c);
    if (!startModule())
        return m;
    // The game reads the ball list before the previews.
    parvexGameRead(BallArchive, BallListFile);

    void* module = dlopen(QUINDRAL_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    using CounterFn = void (*)(uint64_t*, uint64_t*);
    using ResetFn = void (*)();
    CounterFn counter = module ? reinterpret_cast<CounterFn>(dlsym(module, "quindralHeapCounter")) : nullptr;
    ResetFn resetPeak = module ? reinterpret_cast<ResetFn>(dlsym(module, "quindralHeapCounterResetPeak")) : nullptr;
    void* moduleCode = module ? dlsym(module, "ArchiveReadCallback") : nullptr;
    if (module)
        dlclose(module);
    if (!moduleCode || !heapTrackerAttributeImageOf(moduleCode) ||
        !heapTrackerAttributeImageOf(dlsym(RTLD_DEFAULT, "png_create_read_struct")) ||
        !heapTrackerAttributeImageOf(dlsym(RTLD_DEFAULT, "deflateInit_"))) {
        stopModule();
        return m;
    }
    m.counterPresent = counter && resetPeak;
    uint64_t liveBefore = 0;
    uint64_t peak = 0;
    if (m.counterPresent) {
        resetPeak();
        counter(&liveBefore, &peak);
    }

    heapTrackerStart();
    ParvexRead read = parvexGameRead(BallArchive, PreviewFile);
    heapTrackerStop();
    m.build = heapTrackerFigures();
    if (m.counterPresent) {
        uint64_t live = 0;
        counter(&live, &peak);
        m.processHeapPeakDelta = peak - liveBefore;
        m.processHeapKeptDelta = live - liveBefore;
    }
    m.measured = read.answered && read.bytes.size() == read.announcedSize && read.bytes.size() >= 16;
    if (m.measured) {
        m.packed = static_cast<uint32_t>(read.bytes.size());
        memcpy(&m.payload, &read.bytes[12], 4);
        m.servedIsCompress2 = servedIsCompress2OfItsPayload(read.bytes);
    }
    stopModule();
    m.liveAfterUnload = heapTrackerFigures().live;
    heapTrackerForgetImages();
    return m;
}

// ---- Served bytes, for comparing builds ----

bool dumpServed(const fs::path& dir) {
    fs::create_directories(dir);
    Quiet quiet;
    for (int balls : BallCounts) {
        prepareHost(Catalogues.at(balls));
        if (!startModule())
            return false;
        const std::pair<uint32_t, const char*> files[] = {{BallListFile, "ball_list"}, {PreviewFile, "preview"}};
        for (const auto& [file, name] : files) {
            const ParvexRead read = parvexGameRead(BallArchive, file);
            if (!read.answered)
                return false;
            std::ofstream out(dir / (std::string(name) + "-" + std::to_string(balls) + ".bin"), std::ios::binary);
            out.write(reinterpret_cast<const char*>(read.bytes.data()), std::streamsize(read.bytes.size()));
        }
        stopModule();
    }
    return true;
}

// ---- Goals ----

struct Goal {
    const char* name;
    double value;
    double limit;
    bool strict;  // "under" rather than "at most"
};

void printGoal(const Goal& g, bool measured) {
    if (!measured) {
        printf("goal %s: not measured (limit %.4g) missed\n", g.name, g.limit);
        return;
    }
    const bool ok = g.strict ? g.value < g.limit : g.value <= g.limit;
    printf("goal %s: %.4f (limit %.4g) %s\n", g.name, g.value, g.limit, ok ? "ok" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
    // Large blocks come straight from the system, as the Windows heap takes
    // blocks above about 512 KiB from VirtualAlloc; glibc would otherwise move
    // its threshold as blocks are freed, and runs would differ.
    mallopt(M_MMAP_THRESHOLD, 512 * 1024);

    std::string dumpDir;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (strncmp(argv[i], "--dump-served=", 14) == 0)
            dumpDir = argv[i] + 14;
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());

    char pattern[] = "/tmp/quindral-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        perror("mkdtemp");
        return 1;
    }
    Scratch = pattern;
    for (int balls : BallCounts) {
        if (!makeCatalogue(balls)) {
            fprintf(stderr, "cannot write the catalogue of %d balls\n", balls);
            return 1;
        }
    }
    if (!dumpDir.empty()) {
        const bool dumped = dumpServed(dumpDir);
        fs::remove_all(Scratch);
        if (!dumped)
            fprintf(stderr, "a file was not served\n");
        return dumped ? 0 : 1;
    }

    benchmark::Initialize(&count, args.data());
    registerBenchmarks();
    CaptureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const MemoryFigures m = measureFirstBuild(254);
    fs::remove_all(Scratch);

    const Catalogue& largest = Catalogues.at(254);
    printf("\ncatalogue: 254 balls + random entry at %ux%u, palette PNGs of 8 and 4 bits, %.1f KiB of PNG files\n",
           PreviewWidth, PreviewHeight, largest.pictureBytes / 1024.0);
    auto median = [&](const std::string& name) {
        auto found = reporter.medians.find(name);
        return found == reporter.medians.end() ? -1.0 : found->second;
    };
    printf(
        "(a read goes through the archive host, which copies the file out of the pipe into a buffer of its own; "
        "a callback is the module's share alone, the handle closed unread)\n");
    for (int balls : BallCounts) {
        const std::string n = "/" + std::to_string(balls);
        printf(
            "figures %3d balls (ms, medians): start-up %.3f, first preview read %.3f, baseline %.3f (ratio %.3f), "
            "cached preview read %.3f, one copy of the packed file %.3f (ratio %.3f), first ball list read %.3f, "
            "cached ball list read %.3f\n",
            balls, median("StartUp" + n), median("FirstPreviewRead" + n), median("BaselineDecodeAndCopy" + n),
            median("FirstPreviewRead" + n) / median("BaselineDecodeAndCopy" + n), median("CachedPreviewRead" + n),
            median("CopyPackedFile" + n), median("CachedPreviewRead" + n) / median("CopyPackedFile" + n),
            median("FirstBallListRead" + n), median("CachedBallListRead" + n));
    }
    for (int balls : BallCounts) {
        const std::string n = "/" + std::to_string(balls);
        printf(
            "figures %3d balls (ms, medians): first preview callback %.3f (ratio to baseline %.3f), cached preview "
            "callback %.3f (ratio to one copy %.3f)\n",
            balls, median("FirstPreviewCallback" + n),
            median("FirstPreviewCallback" + n) / median("BaselineDecodeAndCopy" + n),
            median("CachedPreviewCallback" + n), median("CachedPreviewCallback" + n) / median("CopyPackedFile" + n));
    }
    // Serving alone (a cached read) is part of every first read: what the
    // first read costs beyond the baseline even with nothing else done.
    printf(
        "floor of the first read at 254 balls: baseline + a cached read = %.3f x baseline\n",
        (median("BaselineDecodeAndCopy/254") + median("CachedPreviewRead/254")) / median("BaselineDecodeAndCopy/254"));
    if (m.measured) {
        printf("memory of the first preview build, 254 balls: payload %u bytes, packed file %u bytes\n", m.payload,
               m.packed);
        printf(
            "  module heap (its code, libpng, zlib): peak %llu bytes (%.4f x payload, %.4f x packed), kept %llu "
            "bytes (%.4f x packed), %llu allocations\n",
            (unsigned long long)m.build.peak, double(m.build.peak) / m.payload, double(m.build.peak) / m.packed,
            (unsigned long long)m.build.live, double(m.build.live) / m.packed, (unsigned long long)m.build.calls);
        if (m.counterPresent)
            printf("  of it process heap (platformHeapAlloc, usable bytes): peak +%llu, kept +%llu\n",
                   (unsigned long long)m.processHeapPeakDelta, (unsigned long long)m.processHeapKeptDelta);
        printf("  counted bytes still held after unloading the module: %llu\n", (unsigned long long)m.liveAfterUnload);
        printf("  served file is the header and compress2 level 0 of its payload: %s\n",
               m.servedIsCompress2 ? "yes" : "NO");
    } else {
        printf("memory of the first preview build: not measured (module or images not found)\n");
    }

    const double first = median("FirstPreviewRead/254");
    const double baseline = median("BaselineDecodeAndCopy/254");
    const double cached = median("CachedPreviewRead/254");
    const double copy = median("CopyPackedFile/254");
    const double startup = median("StartUp/254");
    printGoal({"first_read_vs_baseline", first / baseline, 1.15, false}, first > 0 && baseline > 0);
    printGoal({"peak_heap_vs_payload", m.measured ? double(m.build.peak) / m.payload : 0, 2.05, false}, m.measured);
    printGoal({"kept_vs_packed", m.measured ? double(m.build.live) / m.packed : 0, 1.01, false}, m.measured);
    printGoal({"cached_read_vs_copy", cached / copy, 2.0, false}, cached > 0 && copy > 0);
    printGoal({"startup_vs_first_read", startup / first, 0.05, true}, startup > 0 && first > 0);
    benchmark::Shutdown();
    return 0;
}

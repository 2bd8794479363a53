// Hostile inputs through the simulated loader, archive host and game: files a
// modder could make by hand (huge, cut, garbage, lying headers), paths and
// names too long for the module's buffers, and counts and sizes beyond what
// the module holds. Each row states its outcome: the module stays up, gives
// a defined result, and leaves game memory alone where it must not write.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "game/game.h"
#include "platform/platform.h"
#include "png_fixture.h"
#include "support/module_run.h"
#include "support/packed_reader.h"
#include "support/test_folder.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocation hooks (GCC ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
#endif

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t Table = SimGameBase + 0x10000;  // where the game's ball table is put
typedef int32_t(QD_CDECL* AfsReadBallsFn)(uint8_t*);

std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string garbage(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

bool logged(const std::string& line) {
    const std::vector<std::string>& log = tremixLog();
    return std::find(log.begin(), log.end(), line) != log.end();
}

bool loggedPrefix(const std::string& prefix) {
    for (const std::string& line : tremixLog()) {
        if (line.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

// A PNG chunk: length, type, data, CRC.
void appendChunk(Bytes* png, const char* type, const Bytes& data, uint32_t length) {
    for (int shift = 24; shift >= 0; shift -= 8)
        png->push_back(static_cast<uint8_t>(length >> shift));
    const size_t start = png->size();
    png->insert(png->end(), type, type + 4);
    png->insert(png->end(), data.begin(), data.end());
    const uint32_t crc = static_cast<uint32_t>(crc32(0, png->data() + start, static_cast<uInt>(png->size() - start)));
    for (int shift = 24; shift >= 0; shift -= 8)
        png->push_back(static_cast<uint8_t>(crc >> shift));
}

// A 4 x 2, 8-bit palette PNG of indices 1, with `extra` chunks after PLTE.
Bytes palettePng(const std::vector<std::pair<std::string, Bytes>>& extra = {}) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    appendChunk(&png, "IHDR", {0, 0, 0, 4, 0, 0, 0, 2, 8, 3, 0, 0, 0}, 13);
    appendChunk(&png, "PLTE", {10, 20, 30, 200, 100, 50}, 6);
    for (const auto& chunk : extra)
        appendChunk(&png, chunk.first.c_str(), chunk.second, static_cast<uint32_t>(chunk.second.size()));
    Bytes rows = {0, 1, 1, 1, 1, 0, 1, 1, 1, 1};
    Bytes idat(compressBound(static_cast<uLong>(rows.size())));
    uLongf idatSize = idat.size();
    compress(idat.data(), &idatSize, rows.data(), static_cast<uLong>(rows.size()));
    idat.resize(idatSize);
    appendChunk(&png, "IDAT", idat, static_cast<uint32_t>(idat.size()));
    appendChunk(&png, "IEND", {}, 0);
    return png;
}

// The largest single allocation of the process while `watching` is set, as
// AddressSanitizer reports them (0 where there is no sanitizer to ask).
std::atomic<bool> watching{false};
std::atomic<size_t> largestAllocation{0};

void noteAllocation(const volatile void*, size_t size) {
    if (watching.load() && size > largestAllocation.load())
        largestAllocation.store(size);
}
void noteFree(const volatile void*) {}

void watchAllocations() {
#if defined(__SANITIZE_ADDRESS__)
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(noteAllocation, noteFree) != 0;
    (void)installed;
#else
    (void)noteAllocation;
    (void)noteFree;
#endif
    largestAllocation.store(0);
    watching.store(true);
}

class HostileInputTest : public ::testing::Test {
  protected:
    void TearDown() override { unloadModule(); }

    // Loads the module over the folder and runs start-up; true when it came up
    // active ("Initialization complete.").
    bool start() {
        if (!loadModuleFor(0, folder.loaderDir()))
            return false;
        tremixDeliverEvent(1);
        return !tremixLog().empty() && tremixLog().back() == "Initialization complete.";
    }

    static std::string catalogue(int64_t balls, const std::string& extra = "") {
        return "[ball]\nball.count=" + std::to_string(balls) + "\n" + extra;
    }

    // The game's table of `records` balls, each name field holding "orig".
    void writeTable(uint32_t records) {
        uint8_t record[72] = {'o', 'r', 'i', 'g'};
        for (uint32_t i = 0; i < records; ++i)
            simGameWrite(Table + 72 * i, record, sizeof record);
    }

    std::string tableName(uint32_t record) {
        char name[65] = {};
        simGameRead(Table + 72 * record, name, 64);
        return name;
    }

    void fillTable() {
        AfsReadBallsFn afsReadBalls = reinterpret_cast<AfsReadBallsFn>(moduleSymbol("afsReadBalls"));
        ASSERT_NE(afsReadBalls, nullptr);
        EXPECT_EQ(afsReadBalls(reinterpret_cast<uint8_t*>(uintptr_t(Table))), 0);
    }

    // The payload of a served file; fails the test when it was not served.
    Bytes served(uint32_t archive, uint32_t file) {
        tremixConsoleBegin();
        ParvexRead read = parvexGameRead(archive, file);
        tremixConsoleEnd();
        EXPECT_TRUE(read.answered);
        std::string error;
        Bytes payload = unpack(read.bytes, &error);
        EXPECT_EQ(error, "");
        return payload;
    }

    // The texture of entry `entry` in a preview payload.
    static Bytes texture(const Bytes& payload, uint32_t entry) {
        const uint32_t offset = readLe32(payload, 8 + 12 * entry);
        const uint32_t size = readLe32(payload, 12 + 12 * entry);
        if (uint64_t(offset) + size > payload.size())
            return {};
        return Bytes(payload.begin() + offset, payload.begin() + offset + size);
    }

    // A texture as the builder creates it: palette entry 0 dark grey, the
    // rest of the palette and every pixel 0.
    static bool asCreated(const Bytes& tex) {
        if (tex.size() < 1040 || tex[16] != 0x28 || tex[17] != 0x28 || tex[18] != 0x28 || tex[19] != 0xFF)
            return false;
        return std::all_of(tex.begin() + 20, tex.end(), [](uint8_t b) { return b == 0; });
    }

    TestFolder folder;
};

// Big and broken text files: start-up comes through with what the files
// hold, and nothing outside the table's name fields changes.
TEST_F(HostileInputTest, TextFilesHugeCutOrGarbage) {
    struct Row {
        const char* what;
        std::string map;
        std::string balls;  // empty: no balls.txt
        std::vector<std::string> names;
        const char* line;  // a log line the row must show, or null
    };
    std::string bigMap = catalogue(2);
    bigMap.reserve(50u << 20);
    const std::string comment = "; " + std::string(1021, 'c') + "\n";
    while (bigMap.size() < (50u << 20))
        bigMap += comment;
    bigMap += "[ball name]\n2=Last\n";

    std::string manyLines;
    for (int n = 1; n <= 200000; ++n)
        manyLines += std::to_string(n) + ",Name " + std::to_string(n) + "\n";

    const Row rows[] = {
        {"map.txt of 50 MB, its last key read", bigMap, "", {"orig", "orig"}, "Ball 2 : Last\n"},
        {"balls.txt of 200,000 lines, the first of each number counts",
         catalogue(3),
         manyLines,
         {"Name 1", "Name 2", "Name 3"},
         nullptr},
        {"balls.txt line of 1 MB, cut into reads of 4094 bytes",
         catalogue(2),
         "1," + std::string(1u << 20, 'x') + "\n2,Two\n",
         {std::string(63, 'x'), "Two"},
         nullptr},
        {"balls.txt of one byte", catalogue(2), "1", {"orig", "orig"}, nullptr},
        {"UTF-16 balls.txt of odd length: the last byte is dropped",
         catalogue(2),
         std::string("\xFF\xFE"
                     "1\0,\0A\0\n\0"
                     "2\0,\0B\0",
                     16) +
             "\x43",
         {"A", "B"},
         nullptr},
        {"balls.txt of binary garbage", catalogue(3), garbage(1u << 20, 7), {}, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        folder.write("GDB/balls/map.txt", row.map);
        if (!row.balls.empty())
            folder.write("GDB/balls/balls.txt", row.balls);
        ASSERT_TRUE(start());
        if (row.line) {
            EXPECT_TRUE(logged(row.line));
        }
        if (!row.balls.empty()) {
            EXPECT_TRUE(loggedPrefix("Balls-map ("));
        }
        const uint32_t records = static_cast<uint32_t>(std::max<size_t>(row.names.size(), 3));
        writeTable(records + 1);
        std::vector<uint8_t> before = simGameSnapshot();
        fillTable();
        for (size_t i = 0; i < row.names.size(); ++i)
            EXPECT_EQ(tableName(static_cast<uint32_t>(i)), row.names[i]) << "record " << i;
        for (uint32_t address : simGameDifferences(before)) {
            const uint32_t offset = address - Table;
            EXPECT_TRUE(address >= Table && offset < 72 * records && offset % 72 < 64) << std::hex << address;
        }
        unloadModule();
        std::filesystem::remove(folder.path() / "GDB/balls/balls.txt");
    }
}

// A catalogue the module cannot use leaves it idle: no patch, no hook, no
// byte of the game written.
TEST_F(HostileInputTest, UnusableCatalogueLeavesTheGameUntouched) {
    struct Row {
        const char* what;
        std::string map;
        std::string loaderSuffix;  // appended to the loader folder
        const char* line;
    };
    const Row rows[] = {
        {"map.txt of binary garbage", garbage(1u << 20, 3), "", "Ball count : 0\n"},
        {"loader folder of 2,000 characters", catalogue(2), std::string(2000 - folder.loaderDir().size(), 'L'),
         "Ball ini config : loader path too long, catalogue not read\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        folder.write("GDB/balls/map.txt", row.map);
        std::string loader = folder.loaderDir();
        if (!row.loaderSuffix.empty())
            loader = loader.substr(0, loader.size() - 1) + row.loaderSuffix + "\\";
        ASSERT_TRUE(loadModuleFor(0, loader));
        if (!row.loaderSuffix.empty()) {
            ASSERT_EQ(loader.size(), 2000u);
        }
        std::vector<uint8_t> before = simGameSnapshot();
        tremixDeliverEvent(1);
        EXPECT_TRUE(logged(row.line));
        EXPECT_EQ(tremixLog().back(), "Ball not found! unload quindral.");
        EXPECT_TRUE(simGameDifferences(before).empty());
        EXPECT_EQ(parvexCallbackCount(), 0);
        EXPECT_TRUE(tremixHookRequests().empty());
        unloadModule();
    }
}

// Pictures that lie, are cut or are not pictures: the preview file is still
// served, and each such texture is either left as created or converted as
// its valid part says.
TEST_F(HostileInputTest, PreviewPicturesThatLie) {
    Bytes wideRows(1 + 1000000, 0);
    Bytes wideIdat(compressBound(static_cast<uLong>(wideRows.size())));
    uLongf wideSize = wideIdat.size();
    compress(wideIdat.data(), &wideSize, wideRows.data(), static_cast<uLong>(wideRows.size()));
    wideIdat.resize(wideSize);

    Bytes truncated = palettePng();
    truncated.resize(truncated.size() - 12 - 8);  // into the IDAT data

    Bytes hugeChunk = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    appendChunk(&hugeChunk, "IHDR", {0, 0, 0, 4, 0, 0, 0, 2, 8, 3, 0, 0, 0}, 13);
    appendChunk(&hugeChunk, "tEXt", {'a', 0, 'b'}, 0xFFFFFFF0u);

    // libpng's own crasher: a text chunk whose header claims 1 GiB.
    Bytes hugeText = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    appendChunk(&hugeText, "IHDR", {0, 0, 0, 4, 0, 0, 0, 2, 8, 3, 0, 0, 0}, 13);
    appendChunk(&hugeText, "zTXt", {'k', 0, 0, 0x78, 0x9C}, 0x3FFFFFFFu);

    struct Row {
        const char* what;
        Bytes png;
        bool folderInstead;
        bool converted;  // else left as created
    };
    const Row rows[] = {
        {"header claims 65535 x 65535", pngWithHeader(65535, 65535, 8, PNG_COLOR_TYPE_GRAY, {0x78, 0x9C, 3, 0}), false,
         false},
        {"1,000,000 x 1 gray, clipped to the texture", pngWithHeader(1000000, 1, 8, PNG_COLOR_TYPE_GRAY, wideIdat),
         false, true},
        {"IDAT cut short", truncated, false, false},
        {"tRNS longer than the palette", palettePng({{"tRNS", Bytes{7, 9, 11, 13, 15, 17, 19, 21, 23, 25}}}), false,
         true},
        {"chunk length 0xFFFFFFF0", hugeChunk, false, false},
        {"zTXt chunk claiming 1 GiB", hugeText, false, false},
        {"PNG of zero bytes", {}, false, false},
        {"a folder where preview.png should be", {}, true, false},
    };
    std::string map = catalogue(int64_t(sizeof rows / sizeof rows[0]), "preview.width=4\npreview.heigh=2\n");
    folder.write("GDB/balls/map.txt", map);
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        char name[16];
        snprintf(name, sizeof name, "Ball %03zu", i + 1);
        const std::string picture = "GDB/balls/" + std::string(name) + "/preview.png";
        if (rows[i].folderInstead)
            std::filesystem::create_directories(folder.path() / picture);
        else
            folder.write(picture, text(rows[i].png));
    }
    folder.write("GDB/balls/ball_random.png", text(palettePng()));
    ASSERT_TRUE(start());
    std::vector<uint8_t> before = simGameSnapshot();
    watchAllocations();
    const Bytes payload = served(11, 36);
    watching.store(false);
    // Nothing near the sizes the headers claim was asked of the heap.
    EXPECT_LT(largestAllocation.load(), size_t(16) << 20);
    ASSERT_EQ(readLe32(payload, 0), sizeof rows / sizeof rows[0] + 1);
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        SCOPED_TRACE(rows[i].what);
        const Bytes tex = texture(payload, static_cast<uint32_t>(i));
        ASSERT_EQ(tex.size(), 1048u);
        EXPECT_EQ(asCreated(tex), !rows[i].converted);
    }
    // The gray picture: a 256-entry ramp, pixels 0; the long tRNS: the
    // palette's two entries take its first two bytes, the rest stays 0.
    const Bytes gray = texture(payload, 1);
    EXPECT_EQ(Bytes(gray.begin() + 16, gray.begin() + 24), (Bytes{0, 0, 0, 255, 1, 1, 1, 255}));
    const Bytes alpha = texture(payload, 3);
    EXPECT_EQ(Bytes(alpha.begin() + 16, alpha.begin() + 28), (Bytes{10, 20, 30, 7, 200, 100, 50, 9, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(alpha.begin() + 1040, alpha.end()), Bytes(8, 1));
    EXPECT_FALSE(asCreated(texture(payload, sizeof rows / sizeof rows[0])));
    EXPECT_TRUE(simGameDifferences(before).empty());
}

// Preview sizes the texture format cannot hold: the preview file is refused
// with its message, every other file is still served, the game is not
// written.
TEST_F(HostileInputTest, PreviewSizesOutOfRange) {
    const std::pair<std::string, std::string> rows[] = {
        {"0", "0"}, {"-1", "-1"}, {"65536", "128"}, {"70000", "70000"}, {"65535", "65535"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first + " x " + row.second);
        folder.write("GDB/balls/map.txt",
                     catalogue(1, "preview.width=" + row.first + "\npreview.heigh=" + row.second + "\n"));
        ASSERT_TRUE(start());
        std::vector<uint8_t> before = simGameSnapshot();
        tremixConsoleBegin();
        ParvexRead previews = parvexGameRead(11, 36);
        tremixConsoleEnd();
        EXPECT_FALSE(previews.answered);
        EXPECT_TRUE(logged("Unable to allocate buffer for binId=36"));
        const Bytes list = served(11, 34);
        EXPECT_EQ(readLe32(list, 12), 72u);
        EXPECT_TRUE(simGameDifferences(before).empty());
        unloadModule();
    }
}

// Folder names and counts beyond the buffers and slots: names are cut or
// refused, never written past their buffers; counts stop at 254 balls.
TEST_F(HostileInputTest, LongFolderNamesAndLargeCounts) {
    const std::string longName(1000, 'n');
    folder.write("GDB/balls/map.txt", catalogue(2, "[ball name]\n1=" + longName + "\n2=Short\n"));
    folder.write("GDB/balls/Short/ball.bin", "model");
    ASSERT_TRUE(start());
    std::vector<uint8_t> before = simGameSnapshot();
    const Bytes list = served(11, 34);
    ASSERT_EQ(list.size(), 20u + 2 * 72);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(list.data() + 20)), std::string(63, 'n'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(list.data() + 92)), "Short");
    EXPECT_EQ(readLe32(served(11, 36), 0), 3u);
    EXPECT_TRUE(logged("Ball preview of entry 0 not added: its path is too long"));
    tremixConsoleBegin();
    void* selected = moduleSymbol("SelectedBall");
    ASSERT_NE(selected, nullptr);
    *static_cast<volatile int32_t*>(selected) = 0;
    EXPECT_FALSE(parvexGameRead(11, 0).answered);
    *static_cast<volatile int32_t*>(selected) = 1;
    ParvexRead model = parvexGameRead(11, 0);
    tremixConsoleEnd();
    EXPECT_EQ(text(model.bytes), "model");
    EXPECT_TRUE(logged("Select ball : 0 -> no usable path"));
    EXPECT_TRUE(simGameDifferences(before).empty());
    unloadModule();

    const uint32_t sizeSite = simGameSites(0).ballListSizeSite;
    for (int64_t count : {254, 255, 100000}) {
        SCOPED_TRACE(count);
        folder.write("GDB/balls/map.txt", catalogue(count));
        ASSERT_TRUE(start());
        EXPECT_EQ(loggedPrefix("Ball count " + std::to_string(count) + " is more than"), count > 254);
        EXPECT_TRUE(logged("Ball 254 : Ball 254\n"));
        EXPECT_FALSE(loggedPrefix("Ball 255 :"));
        before = simGameSnapshot();
        const Bytes balls = served(11, 34);
        EXPECT_EQ(readLe32(balls, 12), 254u * 72);
        EXPECT_EQ(readLe32(served(11, 36), 0), 255u);
        // The ball list's buffer size in the game's code is the only write.
        for (uint32_t address : simGameDifferences(before))
            EXPECT_TRUE(address >= sizeSite + 1 && address < sizeSite + 5) << std::hex << address;
        EXPECT_EQ(simGameRead32(sizeSite + 1), 20u + 254 * 72);
        unloadModule();
    }
}

}  // namespace

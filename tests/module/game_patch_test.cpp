// The code patches and hook installation of start-up, as they land in the
// simulated game of each build.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "game/game.h"
#include "support/module_run.h"
#include "support/test_folder.h"

namespace {

std::vector<uint8_t> bytesAt(uint32_t address, uint32_t length) {
    std::vector<uint8_t> bytes(length);
    simGameRead(address, bytes.data(), length);
    return bytes;
}

std::vector<uint8_t> le32(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

std::vector<uint8_t> callTo(uint32_t site, const void* hook) {
    std::vector<uint8_t> bytes = {0xE8};
    uint32_t entry = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hook)) + 3;
    std::vector<uint8_t> rel = le32(entry - (site + 5));
    bytes.insert(bytes.end(), rel.begin(), rel.end());
    return bytes;
}

std::vector<uint8_t> join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class GamePatchTest : public ::testing::Test {
  protected:
    void SetUp() override { folder.write("GDB/balls/map.txt", "[ball]\nball.count=2\n"); }
    void TearDown() override { unloadModule(); }

    // Loads the module for `build`, starts it and returns what changed.
    std::vector<uint32_t> start(int32_t build) {
        EXPECT_TRUE(loadModuleFor(build, folder.loaderDir()));
        std::vector<uint8_t> before = simGameSnapshot();
        tremixDeliverEvent(1);
        return simGameDifferences(before);
    }

    TestFolder folder;
};

TEST_F(GamePatchTest, EveryPatchSiteAfterStartUp) {
    for (int32_t build : {0, 1}) {
        SCOPED_TRACE(build);
        const SimGameSites s = simGameSites(build);
        const std::vector<uint8_t> originalLoadCall = [&] {
            simGameMap(build);
            return bytesAt(s.ballLoadCallPoint + 23, 5);
        }();
        std::vector<uint32_t> changed = start(build);
        ASSERT_EQ(tremixLog().back(), "Initialization complete.");

        // The three hooks, in order, with their entry offsets, filler and flag.
        const std::vector<TremixHookRequest>& hooks = tremixHookRequests();
        ASSERT_EQ(hooks.size(), 3u);
        EXPECT_EQ(hooks[0].address, s.ballLoadCallPoint);
        EXPECT_EQ(hooks[1].address, s.selectionCallPoint);
        EXPECT_EQ(hooks[2].address, s.ballTableCallPoint);
        const int32_t expected[3][3] = {{3, 13, 0}, {3, 0, 1}, {3, 2, 0}};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(hooks[i].entryOffset, expected[i][0]);
            EXPECT_EQ(hooks[i].extraBytes, expected[i][1]);
            EXPECT_EQ(hooks[i].flag, expected[i][2]);
            // The preamble the host skips: push ebx, push esi, push edi.
            const uint8_t* hook = static_cast<const uint8_t*>(hooks[i].hook);
            EXPECT_EQ(std::vector<uint8_t>(hook, hook + 3), (std::vector<uint8_t>{0x53, 0x56, 0x57}));
        }

        // A1 with A3: the immediate that held 5 now reads archive 11, file 34.
        EXPECT_EQ(simGameRead32(s.ballListIdSite + 1), 0x0B000022u);
        // A2 with A4: byte 2 of the immediate is the game's.
        EXPECT_EQ(simGameRead32(s.ballListIdSite - 57), 0x0B2A0022u);
        // B: the preview file id names file 36.
        EXPECT_EQ(simGameRead32(s.previewIdSite), 0x0B000024u);

        const void* ballFileId = moduleSymbol("BallFileId");
        ASSERT_NE(ballFileId, nullptr);
        EXPECT_EQ(*static_cast<const uint32_t*>(ballFileId), 0x0B000000u);
        const uint32_t c = s.ballLoadCallPoint;
        std::vector<uint8_t> loadSite = callTo(c, hooks[0].hook);
        loadSite = join(loadSite, {0x90, 0x90, 0x90, 0x90, 0x90});                           // filler left by the host
        loadSite = join(loadSite, {0x89, 0x81, 0xB4, 0x00, 0x00, 0x00, 0x56});               // C1
        loadSite = join(loadSite, {0xFF, 0x35});                                             // C2
        loadSite = join(loadSite, le32(uint32_t(reinterpret_cast<uintptr_t>(ballFileId))));  // C3
        loadSite = join(loadSite, originalLoadCall);  // the game's call that loads the file
        EXPECT_EQ(bytesAt(c, 28), loadSite);

        EXPECT_EQ(bytesAt(s.selectionCallPoint, 5), callTo(s.selectionCallPoint, hooks[1].hook));
        EXPECT_EQ(bytesAt(s.ballTableCallPoint, 7), join(callTo(s.ballTableCallPoint, hooks[2].hook), {0x90, 0x90}));

        // Nothing else in the game was written.
        struct Range {
            uint32_t from, to;
        };
        const Range written[] = {
            {s.ballListIdSite + 1, s.ballListIdSite + 2},     {s.ballListIdSite + 4, s.ballListIdSite + 4},
            {s.ballListIdSite - 57, s.ballListIdSite - 56},   {s.ballListIdSite - 54, s.ballListIdSite - 54},
            {s.previewIdSite, s.previewIdSite + 1},           {c, c + 22},
            {s.selectionCallPoint, s.selectionCallPoint + 4}, {s.ballTableCallPoint, s.ballTableCallPoint + 6},
        };
        for (uint32_t address : changed) {
            bool known = false;
            for (const Range& r : written)
                known = known || (address >= r.from && address <= r.to);
            EXPECT_TRUE(known) << std::hex << "unexpected write at 0x" << address;
        }
        unloadModule();
    }
}

TEST_F(GamePatchTest, UnwritableSiteIsSkippedAndLogged) {
    ASSERT_TRUE(loadModuleFor(0, folder.loaderDir()));
    const SimGameSites s = simGameSites(0);
    // Take the page of the preview site away: its protection cannot change.
    const uintptr_t page = s.previewIdSite & ~uintptr_t(0xFFF);
    ASSERT_EQ(munmap(reinterpret_cast<void*>(page), 0x1000), 0);
    tremixDeliverEvent(1);
    const std::vector<std::string>& log = tremixLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "Patch at 0x01530374 skipped: the memory cannot be made writable"),
              log.end());
    EXPECT_EQ(log.back(), "Initialization complete.");
    EXPECT_EQ(simGameRead32(s.ballListIdSite + 1), 0x0B000022u) << "the other patches still apply";
}

TEST_F(GamePatchTest, HookVtableFunction) {
    ASSERT_TRUE(loadModuleFor(0, folder.loaderDir()));
    typedef uint32_t (*HookVtableFn)(uint32_t*, int32_t, uint32_t);
    HookVtableFn hookVtable = reinterpret_cast<HookVtableFn>(moduleSymbol("hookVtableFunction"));
    ASSERT_NE(hookVtable, nullptr);

    // A table in the game's execute-read code pages: made writable, and left so.
    const uint32_t table = SimGameBase + 0x20000;
    const uint32_t slots[3] = {0x11111111, 0x22222222, 0x33333333};
    simGameWrite(table, slots, sizeof slots);
    uint32_t* tablePointer = reinterpret_cast<uint32_t*>(uintptr_t(table));
    EXPECT_EQ(hookVtable(tablePointer, 1, 0xAAAA0001), 0x22222222u);
    EXPECT_EQ(hookVtable(tablePointer, 1, 0xAAAA0002), 0xAAAA0001u);
    EXPECT_EQ(simGameRead32(table + 4), 0xAAAA0002u);
    EXPECT_EQ(simGameRead32(table), 0x11111111u);
    EXPECT_EQ(simGameRead32(table + 8), 0x33333333u);

    // A read-only view of a file opened for reading cannot be made writable.
    TestFolder files;
    std::filesystem::path path = files.write("slots.bin", std::string("\x44\x33\x22\x11\x88\x77\x66\x55", 8));
    FILE* file = fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    void* view = mmap(nullptr, 8, PROT_READ, MAP_SHARED, fileno(file), 0);
    ASSERT_NE(view, MAP_FAILED);
    EXPECT_EQ(hookVtable(static_cast<uint32_t*>(view), 1, 0xDEADBEEF), 0x55667788u);
    EXPECT_EQ(static_cast<const uint32_t*>(view)[1], 0x55667788u);
    munmap(view, 8);
    fclose(file);
}

}  // namespace

// The three hooks run for real: the game's code at each call point is
// entered with chosen registers in the simulated game (32-bit build only),
// through the host's call into the module's machine code and back.
#include <gtest/gtest.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "game/game.h"
#include "support/module_run.h"
#include "support/test_folder.h"

namespace {

enum : uint32_t {
    FlagsIn = 0x00000ED7,  // CF PF AF ZF SF IF DF OF set (not TF)
    DirectionFlag = 0x400,
    GameObject = 0x01985000,  // an object of the game in its data pages
    BallTable = 0x01986000,
};

// The flags a hook might disturb: CF PF AF ZF SF DF OF.
constexpr uint32_t FlagsChecked = 0xCD5;

// Every general register but those named, and the flags, as on entry.
void expectKeptExcept(const SimCpu& in, const SimCpu& out, std::initializer_list<const char*> changed) {
    struct Register {
        const char* name;
        uint32_t SimCpu::*field;
    };
    const Register registers[] = {{"eax", &SimCpu::eax}, {"ebx", &SimCpu::ebx}, {"ecx", &SimCpu::ecx},
                                  {"edx", &SimCpu::edx}, {"esi", &SimCpu::esi}, {"edi", &SimCpu::edi},
                                  {"ebp", &SimCpu::ebp}};
    for (const Register& r : registers) {
        bool mayChange = false;
        for (const char* name : changed)
            mayChange = mayChange || strcmp(name, r.name) == 0;
        if (!mayChange) {
            EXPECT_EQ(out.*r.field, in.*r.field) << r.name;
        }
    }
    EXPECT_EQ(out.eflags & FlagsChecked, in.eflags & FlagsChecked);
}

class HooksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!simGameCanRun())
            GTEST_SKIP() << "the game's 32-bit code runs only in the i386 build";
    }
    void TearDown() override { unloadModule(); }

    // Starts the module over `balls` catalogue balls; the balls listed in
    // `withModel` (0-based) get a ball.bin.
    void start(int32_t build, int balls, std::vector<int> withModel, const std::string& names = "") {
        std::string map = "[ball]\nball.count=" + std::to_string(balls) + "\n";
        folder.write("GDB/balls/map.txt", map);
        for (int ball : withModel) {
            char name[48];
            snprintf(name, sizeof name, "GDB/balls/Ball %03d/ball.bin", ball + 1);
            folder.write(name, "model");
        }
        if (!names.empty())
            folder.write("GDB/balls/balls.txt", names);
        ASSERT_TRUE(loadModuleFor(build, folder.loaderDir()));
        tremixDeliverEvent(1);
        ASSERT_EQ(tremixLog().back(), "Initialization complete.");
        sites = simGameSites(build);
    }

    SimCpu registers(uint32_t stackOffset = 0) const {
        return SimCpu{0xA1A1A1A1, 0xB2B2B2B2, 0xC3C3C3C3, 0xD4D4D4D4,
                      0xE5E5E5E5, 0xF6F6F6F6, 0x17171717, SimGameStackTop - stackOffset,
                      FlagsIn};
    }

    uint8_t recordBall() {
        uint8_t ball = 0;
        simGameRead(sites.selectionRecord + 25, &ball, 1);
        return ball;
    }
    void setRecordBall(uint8_t ball) { simGameWrite(sites.selectionRecord + 25, &ball, 1); }

    int32_t selectedBall() { return *static_cast<const int32_t*>(moduleSymbol("SelectedBall")); }

    // Runs the ball-load call point with `ball` in eax and returns the
    // registers at the game's load call; `console` gets the printed lines.
    SimCpu loadBall(uint32_t ball, std::string* console, uint32_t stackOffset = 0) {
        SimCpu in = registers(stackOffset);
        in.eax = ball;
        in.ecx = GameObject;
        SimCpu out{};
        tremixConsoleBegin();
        EXPECT_TRUE(simGameRun(sites.ballLoadCallPoint, in, &out));
        *console = tremixConsoleEnd();
        // Only eax changes; the stack holds what the patched code pushed.
        expectKeptExcept(in, out, {"eax"});
        EXPECT_EQ(out.esp, in.esp - 12);
        EXPECT_EQ(simGameRead32(out.esp), sites.ballLoadCallPoint + 28) << "return address of the game's load call";
        EXPECT_EQ(simGameRead32(out.esp + 8), in.esi) << "push esi of C1";
        EXPECT_EQ(simGameRead32(GameObject + 0xB4), out.eax) << "mov [ecx+0xB4], eax of C1";
        return out;
    }

    uint32_t pushedFileId(const SimCpu& out) { return simGameRead32(out.esp + 4); }

    TestFolder folder;
    SimGameSites sites{};
};

TEST_F(HooksTest, BallInTheCatalogueWithItsModel) {
    for (int32_t build : {0, 1}) {
        SCOPED_TRACE(build);
        start(build, 5, {3});
        setRecordBall(1);
        std::string console;
        size_t logged = tremixLog().size();
        SimCpu out = loadBall(3, &console);
        EXPECT_EQ(out.eax, 3u);
        EXPECT_EQ(selectedBall(), 3);
        EXPECT_EQ(pushedFileId(out), 0x0B000000u) << "archive 11, file 0: the module's model";
        EXPECT_EQ(console, "Get ball ID : 3\n");
        EXPECT_EQ(logFrom(logged),
                  std::vector<std::string>{"FileExists:: " + folder.loaderDir() + "GDB\\balls\\Ball 004\\ball.bin"});
        EXPECT_EQ(recordBall(), 1) << "the record is not written";
        unloadModule();
    }
}

TEST_F(HooksTest, MissingModelLoadsTheGamesOwnBall) {
    start(0, 5, {});
    std::string console;
    SimCpu out = loadBall(2, &console);
    EXPECT_EQ(out.eax, 2u);
    EXPECT_EQ(pushedFileId(out), 0x0B000011u) << "archive 11, file 17";
    EXPECT_EQ(selectedBall(), 2);
}

TEST_F(HooksTest, OutOfRangeTakesTheStoredChoiceThenARandomBall) {
    start(1, 5, {0, 1, 2, 3, 4});
    std::string console;
    setRecordBall(2);
    SimCpu out = loadBall(7, &console);
    EXPECT_EQ(out.eax, 2u);
    EXPECT_EQ(console, "Get ball ID : 2\n") << "no random draw";
    EXPECT_EQ(recordBall(), 2);

    setRecordBall(9);
    out = loadBall(7, &console);
    ASSERT_LT(out.eax, 5u);
    const uint32_t drawn = out.eax;
    EXPECT_EQ(console,
              "Random generate : " + std::to_string(drawn) + "\nGet ball ID : " + std::to_string(drawn) + "\n");
    EXPECT_EQ(recordBall(), drawn) << "the draw is stored in the game's record";
    EXPECT_EQ(pushedFileId(out), 0x0B000000u);

    // The next load with an out-of-range number takes the stored ball.
    out = loadBall(7, &console);
    EXPECT_EQ(out.eax, drawn);
    EXPECT_EQ(console, "Get ball ID : " + std::to_string(drawn) + "\n");

    // -1 counts as inside (folder slot 0); lower numbers never index before
    // the folder list.
    out = loadBall(uint32_t(-1), &console);
    EXPECT_EQ(out.eax, uint32_t(-1));
    EXPECT_EQ(console, "Get ball ID : -1\n");
    setRecordBall(3);
    out = loadBall(uint32_t(-2), &console);
    EXPECT_EQ(out.eax, 3u);
}

TEST_F(HooksTest, NoSelectionRecordIsNeverReadOrWritten) {
    start(0, 4, {0, 1, 2, 3});
    const uint32_t zero = 0;
    simGameWrite(sites.selectionRecordPointer, &zero, 4);
    std::vector<uint8_t> before = simGameSnapshot();
    std::string console;
    SimCpu out = loadBall(200, &console);
    EXPECT_LT(out.eax, 4u) << "a random ball";
    EXPECT_EQ(console.rfind("Random generate : ", 0), 0u);

    SimCpu in = registers();
    in.ebp = 2;
    SimCpu after{};
    ASSERT_TRUE(simGameRun(sites.selectionCallPoint, in, &after));
    EXPECT_EQ(selectedBall(), 2);
    // Only the game's stack and the object the patched code writes changed.
    for (uint32_t address : simGameDifferences(before)) {
        bool stackOrObject = (address >= SimGameStackBottom && address < SimGameStackTop) ||
                             (address >= GameObject + 0xB4 && address < GameObject + 0xB8) ||
                             address >= SimGameCpuBlock;
        EXPECT_TRUE(stackOrObject) << std::hex << address;
    }
}

TEST_F(HooksTest, SelectionHookStoresTheBallAndPreservesEverything) {
    for (int32_t build : {0, 1}) {
        SCOPED_TRACE(build);
        start(build, 5, {});
        SimCpu in = registers();
        in.ebp = 4;
        SimCpu out{};
        ASSERT_TRUE(simGameRun(sites.selectionCallPoint, in, &out));
        EXPECT_EQ(selectedBall(), 4);
        EXPECT_EQ(recordBall(), 4);
        expectKeptExcept(in, out, {});
        EXPECT_EQ(out.esp, in.esp - 4) << "only the return address of the exit call";
        unloadModule();
    }
}

TEST_F(HooksTest, BallTableHookWritesNamesAndDoesTheGamesTwoInstructions) {
    start(0, 3, {}, "1,Gold\n3,Silver\n");
    for (uint32_t i = 0; i < 3; ++i) {
        char record[72];
        memset(record, 0x5A, sizeof record);
        snprintf(record, 64, "game %u", i);
        simGameWrite(BallTable + 72 * i, record, sizeof record);
    }
    const uint32_t next = 0xCAFEB0B0;
    simGameWrite(GameObject + 0x34, &next, 4);
    SimCpu in = registers();
    in.eax = BallTable;
    in.esi = GameObject;
    SimCpu out{};
    ASSERT_TRUE(simGameRun(sites.ballTableCallPoint, in, &out));
    char name[64];
    simGameRead(BallTable, name, 64);
    EXPECT_STREQ(name, "Gold");
    simGameRead(BallTable + 72, name, 64);
    EXPECT_STREQ(name, "game 1");
    simGameRead(BallTable + 144, name, 64);
    EXPECT_STREQ(name, "Silver");
    uint8_t flag = 0;
    simGameRead(GameObject + 0x3C, &flag, 1);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(out.esi, next) << "mov esi, [esi+0x34]";
    expectKeptExcept(in, out, {"esi"});
}

TEST_F(HooksTest, AnyStackAlignmentAndDirectionFlag) {
    // GCC's 32-bit code assumes a 16-byte aligned stack and a clear direction
    // flag; the game promises neither. The hooks must cope with every offset.
    start(0, 3, {1}, "2,Aligned name that is long enough to be copied in blocks\n");
    for (uint32_t offset : {0u, 1u, 2u, 4u, 8u, 12u, 13u}) {
        SCOPED_TRACE(offset);
        std::string console;
        SimCpu out = loadBall(1, &console, offset);
        EXPECT_EQ(out.eax, 1u);
        EXPECT_EQ(pushedFileId(out), 0x0B000000u);
        EXPECT_TRUE(out.eflags & DirectionFlag) << "the direction flag is the game's again";
        EXPECT_EQ(tremixMisalignedLogCalls(), 0) << "the module's code ran on a misaligned stack";

        SimCpu in = registers(offset);
        in.eax = BallTable;
        in.esi = GameObject;
        ASSERT_TRUE(simGameRun(sites.ballTableCallPoint, in, &out));
        char name[64];
        simGameRead(BallTable + 72, name, 64);
        EXPECT_STREQ(name, "Aligned name that is long enough to be copied in blocks");
        EXPECT_TRUE(out.eflags & DirectionFlag);
    }
}

}  // namespace

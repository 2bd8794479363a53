// The module's entry point and start-up, run as the loader runs them: the
// built module loaded into the simulated host and game.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "game/game.h"
#include "module/descriptor.h"
#include "support/module_run.h"
#include "support/test_folder.h"

namespace {

using Lines = std::vector<std::string>;

const char* const Refusal = "Shutting down this module...";

class StartupTest : public ::testing::Test {
  protected:
    void TearDown() override { unloadModule(); }

    // A loader folder whose catalogue offers `count` balls.
    void writeCatalogue(int count) {
        folder.write("GDB/balls/map.txt", "[ball]\nball.count = " + std::to_string(count) + "\n");
    }

    std::string mapPath() const { return folder.loaderDir() + "GDB\\balls\\map.txt"; }

    TestFolder folder;
};

TEST_F(StartupTest, AcceptsBothSupportedBuilds) {
    for (int32_t build : {0, 1}) {
        SCOPED_TRACE(build);
        ASSERT_TRUE(loadModuleFor(build, folder.loaderDir()));
        EXPECT_TRUE(tremixLog().empty());
        EXPECT_EQ(tremixHookedCount(1), 1);
        unloadModule();
        EXPECT_EQ(tremixLog(), Lines{Refusal});
    }
}

TEST_F(StartupTest, RefusesOtherBuildsWithTwoLines) {
    // 256 has the low byte 0: the whole 32-bit value is compared.
    for (int32_t build : {2, 256, -1, 0x100000}) {
        SCOPED_TRACE(build);
        EXPECT_FALSE(loadModuleFor(build, folder.loaderDir()));
        EXPECT_EQ(tremixLog(), (Lines{"Sorry, your game version isn't supported!", Refusal}));
        EXPECT_EQ(tremixHookedCount(1), 0);
    }
}

TEST_F(StartupTest, LoaderVersionCheck) {
    struct Case {
        int32_t version;
        bool accepted;
    };
    const Case cases[] = {
        {0x000C0002, true},  {0x000C0003, true},  {0x000D0000, true}, {0x7FFFFFFF, true}, {0x000C0001, false},
        {0x000B0009, false}, {0x000C0000, false}, {-1, false},        {INT32_MIN, false}, {0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(loadModuleFor(0, folder.loaderDir(), c.version), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(tremixLog().empty());
        } else {
            EXPECT_EQ(tremixLog(), (Lines{"ERROR: This module requires tremix.dll 12.2.0 or newer.", Refusal}));
        }
        unloadModule();
    }
}

TEST_F(StartupTest, RegistersItsDescriptor) {
    ASSERT_TRUE(loadModuleFor(1, folder.loaderDir()));
    const uint8_t* record = static_cast<const uint8_t*>(tremixRegisteredDescriptor());
    ASSERT_NE(record, nullptr);
    uint32_t id = 0;
    uint32_t debug = 1;
    memcpy(&id, record, 4);
    memcpy(&debug, record + 16388, 4);
    EXPECT_EQ(id, 111u);
    EXPECT_EQ(debug, 0u);
    EXPECT_EQ(tremixUtf16ToUtf8(reinterpret_cast<const char16_t*>(record + 4)), "Quindral Module 13.0.1.0");
    EXPECT_EQ(tremixUtf16ToUtf8(reinterpret_cast<const char16_t*>(record + 8196)), "QUINDRAL");
}

TEST_F(StartupTest, NoCatalogueLeavesTheModuleIdleAndTheGameUntouched) {
    for (int32_t build : {0, 1}) {
        SCOPED_TRACE(build);
        ASSERT_TRUE(loadModuleFor(build, folder.loaderDir()));
        std::vector<uint8_t> before = simGameSnapshot();
        EXPECT_EQ(tremixDeliverEvent(1), 1);
        EXPECT_EQ(tremixLog(), (Lines{"Initializing Quindral Module", "Ball ini config :  " + mapPath() + "\n",
                                      "Ball count : 0\n", "Ball preview width : 512\n", "Ball preview heigh : 128\n",
                                      "Ball not found! unload quindral."}));
        EXPECT_TRUE(simGameDifferences(before).empty());
        EXPECT_TRUE(tremixHookRequests().empty());
        EXPECT_EQ(parvexCallbackCount(), 0);
        // Idle, yet still loaded until the process ends.
        EXPECT_TRUE(tremixModuleLoaded());
        unloadModule();
    }
}

TEST_F(StartupTest, ZeroBallsStopsAfterTheCatalogueLines) {
    writeCatalogue(0);
    ASSERT_TRUE(loadModuleFor(0, folder.loaderDir()));
    tremixDeliverEvent(1);
    ASSERT_FALSE(tremixLog().empty());
    EXPECT_EQ(tremixLog().front(), "Initializing Quindral Module");
    EXPECT_EQ(tremixLog().back(), "Ball not found! unload quindral.");
    EXPECT_EQ(tremixLog().size(), 6u);
}

TEST_F(StartupTest, RunsOnceFirstLineToLastLine) {
    writeCatalogue(2);
    ASSERT_TRUE(loadModuleFor(0, folder.loaderDir()));
    EXPECT_EQ(tremixDeliverEvent(1), 1);
    const Lines log = tremixLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front(), "Initializing Quindral Module");
    EXPECT_EQ(log.back(), "Initialization complete.");
    EXPECT_EQ(log[2], "Ball count : 2\n");
    // It unhooked itself: a second event 1 does not reach it.
    EXPECT_EQ(tremixHookedCount(1), 0);
    EXPECT_EQ(tremixDeliverEvent(1), 0);
    EXPECT_EQ(tremixLog(), log);
}

TEST_F(StartupTest, FullStartUpLog) {
    folder.write("GDB/balls/map.txt", "[ball]\nball.count=2\npreview.width=256\n[ball name]\n1=Gold\n");
    folder.write("GDB/balls/balls.txt", "1,Golden Ball\n");
    ASSERT_TRUE(loadModuleFor(1, folder.loaderDir()));
    tremixDeliverEvent(1);
    const std::string names = folder.loaderDir() + "GDB\\balls\\balls.txt";
    EXPECT_EQ(tremixLog(), (Lines{"Initializing Quindral Module", "Ball ini config :  " + mapPath() + "\n",
                                  "Ball count : 2\n", "Ball preview width : 256\n", "Ball preview heigh : 128\n",
                                  "Ball 0 : Ball 000\n", "Ball 1 : Gold\n", "Ball 2 : Ball 002\n",
                                  "Balls-map (" + names + ") read", "Initialization complete."}));
    // Every patch, the callback and the three hooks came between the two.
    EXPECT_EQ(tremixHookRequests().size(), 3u);
    EXPECT_EQ(parvexCallbackCount(), 1);
}

TEST_F(StartupTest, LoaderFolderTooLongForTheCataloguePath) {
    // 1024 units hold the whole path or nothing: this folder alone takes 1100.
    std::string longDir = folder.loaderDir() + std::string(1100, 'd') + "\\";
    ASSERT_TRUE(loadModuleFor(0, longDir));
    tremixDeliverEvent(1);
    EXPECT_EQ(tremixLog(),
              (Lines{"Initializing Quindral Module", "Ball ini config : loader path too long, catalogue not read\n",
                     "Ball not found! unload quindral."}));
}

TEST_F(StartupTest, LoadsAndUnloadsRepeatedly) {
    // Static objects are built and destroyed at each load: the served ball
    // list of one round is released at its unload and never seen again.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        writeCatalogue(round + 1);
        ASSERT_TRUE(loadModuleFor(round % 2, folder.loaderDir()));
        tremixDeliverEvent(1);
        EXPECT_EQ(tremixLog().back(), "Initialization complete.");
        EXPECT_EQ(tremixLog()[2], "Ball count : " + std::to_string(round + 1) + "\n");
        ParvexRead list = parvexGameRead(11, 34);
        ASSERT_TRUE(list.answered);
        ASSERT_GE(list.bytes.size(), 16u);
        uint32_t payload = 0;
        memcpy(&payload, list.bytes.data() + 12, 4);
        EXPECT_EQ(payload, 20u + 72u * (round + 1)) << "a list built for this round's catalogue";
        size_t lines = tremixLog().size();
        unloadModule();
        EXPECT_EQ(logFrom(lines), (Lines{Refusal, "buffers deallocated."}));
    }
}

}  // namespace

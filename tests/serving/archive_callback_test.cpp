// The archive read callback through the simulated archive host: which reads
// the module answers, with which bytes, and the ball list it generates.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "game/game.h"
#include "support/module_run.h"
#include "support/packed_reader.h"
#include "support/test_folder.h"

namespace {

using Lines = std::vector<std::string>;

class ArchiveCallbackTest : public ::testing::Test {
  protected:
    void TearDown() override { unloadModule(); }

    void start(const std::string& map, int32_t build = 0) {
        folder.write("GDB/balls/map.txt", map);
        ASSERT_TRUE(loadModuleFor(build, folder.loaderDir()));
        tremixDeliverEvent(1);
        ASSERT_EQ(tremixLog().back(), "Initialization complete.");
        ASSERT_EQ(parvexCallbackCount(), 1);
    }

    static std::string catalogue(int balls, const std::string& extra = "") {
        return "[ball]\nball.count=" + std::to_string(balls) + "\n" + extra;
    }

    // A read, with what the module printed and logged during it.
    ParvexRead read(uint32_t archive, uint32_t file, std::string* console = nullptr, Lines* log = nullptr) {
        size_t logged = tremixLog().size();
        tremixConsoleBegin();
        ParvexRead result = parvexGameRead(archive, file);
        std::string printed = tremixConsoleEnd();
        if (console)
            *console = printed;
        if (log)
            *log = logFrom(logged);
        return result;
    }

    TestFolder folder;
};

TEST_F(ArchiveCallbackTest, DeclinesEverythingElseSilently) {
    start(catalogue(3));
    const uint32_t declined[][2] = {{11, 17}, {11, 1}, {11, 35}, {11, 33}, {11, 1024}, {7, 0},
                                    {0, 34},  {12, 0}, {6, 0},   {6, 270}, {10, 36}};
    for (const auto& request : declined) {
        SCOPED_TRACE(std::to_string(request[0]) + "/" + std::to_string(request[1]));
        std::string console;
        Lines log;
        ParvexRead result = read(request[0], request[1], &console, &log);
        EXPECT_FALSE(result.answered);
        EXPECT_EQ(console, "");
        EXPECT_TRUE(log.empty());
    }
}

TEST_F(ArchiveCallbackTest, MenuFilesOnlyWithSquarePreviews) {
    start(catalogue(2));  // 512 x 128
    std::string console;
    for (uint32_t file : {269u, 127u, 833u}) {
        EXPECT_FALSE(read(6, file, &console).answered);
        EXPECT_EQ(console, "");
    }
}

TEST_F(ArchiveCallbackTest, MenuFilesServedWholeWithSquarePreviews) {
    start(catalogue(2, "preview.width=256\npreview.heigh=256\n"));
    struct Case {
        uint32_t file;
        const char* console;
    };
    const Case cases[] = {
        {269, "Ball preview load\nLoad resource to 0x06 -> 0x10d\n"},
        {127, "Ball edit mode load\nLoad resource to 0x06 -> 0x7f\n"},
        {833, "Ball edit mode load\nLoad resource to 0x06 -> 0x341\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string console;
        ParvexRead result = read(6, c.file, &console);
        EXPECT_TRUE(result.answered);
        EXPECT_TRUE(result.handleValid);
        EXPECT_EQ(console, c.console);
        EXPECT_EQ(result.bytes.size(), result.announcedSize);
        // The same bytes as the module's own resource, however it was made.
        const std::vector<uint8_t> again = read(6, c.file).bytes;
        EXPECT_EQ(again, result.bytes);
    }
}

TEST_F(ArchiveCallbackTest, SelectedBallModelFromItsFolder) {
    start(catalogue(3, "[ball name]\n3=Third Ball\n"));
    folder.write("GDB/balls/Third Ball/ball.bin", "the third model");
    // The hooks would set the ball; here the module's variable is set directly.
    int32_t* selected = static_cast<int32_t*>(moduleSymbol("SelectedBall"));
    ASSERT_NE(selected, nullptr);
    *selected = 2;
    std::string console;
    Lines log;
    ParvexRead result = read(11, 0, &console, &log);
    const std::string path = folder.loaderDir() + "GDB\\balls\\Third Ball\\ball.bin";
    EXPECT_TRUE(result.answered);
    EXPECT_EQ(std::string(result.bytes.begin(), result.bytes.end()), "the third model");
    EXPECT_EQ(result.announcedSize, 15u);
    EXPECT_EQ(console, "Select ball : 2\n");
    EXPECT_EQ(log, (Lines{"Select ball : 2 -> " + path, "OpenFileIfExists:: " + path}));

    // Ball 2 has no model: declined after the same two lines.
    *selected = 1;
    result = read(11, 0, &console, &log);
    EXPECT_FALSE(result.answered);
    EXPECT_EQ(log.size(), 2u);

    // An index without a folder slot is never used to index the folder list.
    for (int32_t outside : {3, 254, 1000, -2, -100000}) {
        SCOPED_TRACE(outside);
        *selected = outside;
        result = read(11, 0, &console, &log);
        EXPECT_FALSE(result.answered);
        EXPECT_EQ(console, "Select ball : " + std::to_string(outside) + "\n");
        EXPECT_EQ(log, Lines{"Select ball : " + std::to_string(outside) + " -> no usable path"});
    }
}

std::vector<uint8_t> bytes(std::initializer_list<uint8_t> list) {
    return std::vector<uint8_t>(list);
}

TEST_F(ArchiveCallbackTest, BallListOfOneBall) {
    start(catalogue(1));
    std::string console;
    ParvexRead result = read(11, 34, &console);
    ASSERT_TRUE(result.answered);
    EXPECT_EQ(console, "Read ball stat! 010\n");
    ASSERT_EQ(parvexExtendCalls().size(), 1u);
    EXPECT_EQ(parvexExtendCalls()[0].archive, 11);
    EXPECT_EQ(parvexExtendCalls()[0].slots, 1024);

    ASSERT_GE(result.bytes.size(), 16u);
    EXPECT_EQ(result.announcedSize, 16 + readLe32(result.bytes, 8)) << "exactly 16 + compressedSize";
    EXPECT_EQ(result.bytes.size(), result.announcedSize);
    std::string error;
    std::vector<uint8_t> payload = unpack(result.bytes, &error);
    ASSERT_EQ(payload.size(), 92u) << error;
    EXPECT_EQ(std::vector<uint8_t>(payload.begin(), payload.begin() + 20),
              bytes({1, 0, 0, 0, 8, 0, 0, 0, 20, 0, 0, 0, 72, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF}));
    EXPECT_STREQ(reinterpret_cast<const char*>(payload.data() + 20), "Ball 001");
    EXPECT_EQ(std::vector<uint8_t>(payload.begin() + 84, payload.begin() + 90), bytes({0, 0, 4, 0, 0xFF, 0x03}));
}

TEST_F(ArchiveCallbackTest, BallListRecordsAndNames) {
    // Windows-1252 E9 is U+00E9: one byte E9 in the record. A unit above 255
    // (the euro sign, 1252 byte 80) has no 8-bit form and becomes '?'; a name
    // longer than 63 characters is cut.
    start(catalogue(3, "[ball name]\n1=Caf\xE9\n2=\x80uro\n3=" + std::string(70, 'n') + "\n"));
    ParvexRead result = read(11, 34);
    std::string error;
    std::vector<uint8_t> payload = unpack(result.bytes, &error);
    ASSERT_EQ(payload.size(), 20u + 3 * 72) << error;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload.data() + 20)), "Caf\xE9");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload.data() + 92)), "?uro");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload.data() + 164)), std::string(63, 'n'));
    for (uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(payload[20 + 72 * i + 63], 0);
        EXPECT_EQ(readLe32(payload, 20 + 72 * i + 64), i | (4u << 16));
        EXPECT_EQ(payload[20 + 72 * i + 68], 0xFF);
        EXPECT_EQ(payload[20 + 72 * i + 69], 0x03);
    }
}

TEST_F(ArchiveCallbackTest, BufferSizePatchFrom49Balls) {
    for (int32_t build : {0, 1}) {
        for (int balls : {48, 49, 254}) {
            SCOPED_TRACE(std::to_string(build) + " " + std::to_string(balls));
            start(catalogue(balls), build);
            const uint32_t site = simGameSites(build).ballListSizeSite + 1;
            std::vector<uint8_t> before = simGameSnapshot();
            std::string console;
            ParvexRead result = read(11, 34, &console);
            ASSERT_TRUE(result.answered);
            const uint32_t n = 20 + 72 * balls;
            std::string error;
            EXPECT_EQ(unpack(result.bytes, &error).size(), n) << error;
            if (balls == 48) {
                EXPECT_EQ(console, "Read ball stat! 010\n");
                EXPECT_EQ(simGameRead32(site), 3528u);
                EXPECT_TRUE(simGameDifferences(before).empty());
            } else {
                char line[64];
                snprintf(line, sizeof line, "Read ball stat! 010\nModify buffer size : %X\n", n);
                EXPECT_EQ(console, line);
                EXPECT_EQ(simGameRead32(site), n);
                for (uint32_t address : simGameDifferences(before)) {
                    EXPECT_TRUE(address >= site && address < site + 4) << std::hex << address;
                }
            }
            unloadModule();
        }
    }
}

TEST_F(ArchiveCallbackTest, SecondReadServesTheCachedFile) {
    start(catalogue(49));
    ParvexRead first = read(11, 34);
    std::vector<uint8_t> before = simGameSnapshot();
    std::string console;
    Lines log;
    ParvexRead second = read(11, 34, &console, &log);
    EXPECT_TRUE(second.answered);
    EXPECT_EQ(second.bytes, first.bytes);
    EXPECT_EQ(console, "Read ball stat! 010\n") << "no build, no buffer patch";
    EXPECT_TRUE(log.empty()) << "the hit message is a debug line";
    EXPECT_TRUE(simGameDifferences(before).empty());
    EXPECT_EQ(parvexExtendCalls().size(), 2u) << "the slots are extended on every read";

    tremixSetDebug(1);
    read(11, 34, &console, &log);
    EXPECT_EQ(log, Lines{"load ball stats from cached buffers"});
    tremixSetDebug(0);
}

TEST_F(ArchiveCallbackTest, UnloadReleasesServedFiles) {
    start(catalogue(2));
    size_t logged = tremixLog().size();
    unloadModule();
    EXPECT_EQ(logFrom(logged), Lines{"Shutting down this module..."}) << "nothing served, nothing released";

    start(catalogue(2));
    read(11, 34);
    logged = tremixLog().size();
    unloadModule();
    EXPECT_EQ(logFrom(logged), (Lines{"Shutting down this module...", "buffers deallocated."}));

    // Both files served, with the host's debug switch on: the release lines
    // of both caches, the preview cache first.
    start(catalogue(2));
    read(11, 34);
    read(11, 36);
    tremixSetDebug(1);
    logged = tremixLog().size();
    unloadModule();
    EXPECT_EQ(logFrom(logged), (Lines{"Shutting down this module...", "freeing cached buffers", "buffers deallocated.",
                                      "freeing cached buffers", "buffers deallocated."}));
}

}  // namespace

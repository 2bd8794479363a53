// The generated preview texture file, read through the simulated archive
// host from a loader folder with real pictures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "png_fixture.h"
#include "support/module_run.h"
#include "support/packed_reader.h"
#include "support/test_folder.h"

namespace {

using Lines = std::vector<std::string>;

std::string palettePng(uint32_t width, uint32_t height, uint8_t index) {
    PngFixture f;
    f.width = width;
    f.height = height;
    f.color_type = PNG_COLOR_TYPE_PALETTE;
    f.palette = {png_color{1, 2, 3}, png_color{200, 100, 50}};
    f.samples.assign(width * height, index);
    std::vector<uint8_t> bytes = encodePng(f);
    return std::string(bytes.begin(), bytes.end());
}

class PreviewFileTest : public ::testing::Test {
  protected:
    void TearDown() override { unloadModule(); }

    void start(int balls, const std::string& sizes) {
        folder.write("GDB/balls/map.txt", "[ball]\nball.count=" + std::to_string(balls) + "\n" + sizes);
        ASSERT_TRUE(loadModuleFor(0, folder.loaderDir()));
        tremixDeliverEvent(1);
        ASSERT_EQ(tremixLog().back(), "Initialization complete.");
    }

    ParvexRead readPreviews(std::string* console = nullptr, Lines* log = nullptr) {
        size_t logged = tremixLog().size();
        tremixConsoleBegin();
        ParvexRead result = parvexGameRead(11, 36);
        std::string printed = tremixConsoleEnd();
        if (console)
            *console = printed;
        if (log)
            *log = logFrom(logged);
        return result;
    }

    TestFolder folder;
};

TEST_F(PreviewFileTest, OneBallOfFourByTwo) {
    start(1, "preview.width=4\npreview.heigh=2\n");
    folder.write("GDB/balls/Ball 001/preview.png", palettePng(4, 2, 1));
    std::string console;
    Lines log;
    ParvexRead result = readPreviews(&console, &log);
    ASSERT_TRUE(result.answered);
    EXPECT_EQ(result.bytes.size(), result.announcedSize);
    EXPECT_EQ(result.announcedSize, 16 + readLe32(result.bytes, 8));
    std::string error;
    std::vector<uint8_t> payload = unpack(result.bytes, &error);
    ASSERT_EQ(payload.size(), 2192u) << error;
    const uint32_t table[] = {2, 8, 32, 1048, 2128, 1080, 1048, 2160};
    for (uint32_t i = 0; i < 8; ++i)
        EXPECT_EQ(readLe32(payload, 4 * i), table[i]) << "word " << i;
    EXPECT_STREQ(reinterpret_cast<const char*>(payload.data() + 2128), "ball_000.tex");
    EXPECT_STREQ(reinterpret_cast<const char*>(payload.data() + 2160), "ball_random.tex");
    // Ball 1's texture converted: colour 1 as red, green, blue, alpha; index 1 everywhere.
    EXPECT_EQ(std::vector<uint8_t>(payload.begin() + 32 + 20, payload.begin() + 32 + 24),
              (std::vector<uint8_t>{200, 100, 50, 255}));
    EXPECT_EQ(std::vector<uint8_t>(payload.begin() + 32 + 1040, payload.begin() + 32 + 1048),
              std::vector<uint8_t>(8, 1));
    // The random entry has no picture: dark grey as created.
    const uint8_t header[16] = {'W', 'E', '0', '0', 0, 0, 3, 8, 4, 0, 2, 0, 16, 0, 0x10, 0x04};
    EXPECT_EQ(std::vector<uint8_t>(payload.begin() + 1080, payload.begin() + 1096),
              std::vector<uint8_t>(header, header + 16));
    EXPECT_EQ(std::vector<uint8_t>(payload.begin() + 1096, payload.begin() + 1100),
              (std::vector<uint8_t>{0x28, 0x28, 0x28, 0xFF}));
    EXPECT_EQ(std::vector<uint8_t>(payload.begin() + 1100, payload.begin() + 2128), std::vector<uint8_t>(1028, 0));

    const std::string balls = folder.loaderDir() + "GDB\\balls\\";
    EXPECT_EQ(log, (Lines{"Ball preview added : " + balls + "Ball 001\\preview.png",
                          "Ball preview added : " + balls + "ball_random.png"}));
    EXPECT_EQ(console, "Ball 0 = ball_000.tex\n");
    // Level 0: the stream stores the payload as it is.
    EXPECT_GT(readLe32(result.bytes, 8), 2192u);
}

TEST_F(PreviewFileTest, TenBallsAtTheDefaultSizeAndTheCache) {
    start(10, "");
    folder.write("GDB/balls/ball_random.png", palettePng(512, 128, 0));
    ParvexRead first = readPreviews();
    ASSERT_TRUE(first.answered);
    std::string error;
    std::vector<uint8_t> payload = unpack(first.bytes, &error);
    ASSERT_EQ(payload.size(), 732828u) << error;
    EXPECT_EQ(readLe32(payload, 0), 11u);
    EXPECT_STREQ(reinterpret_cast<const char*>(payload.data() + 732476 + 32 * 9), "ball_009.tex");
    EXPECT_STREQ(reinterpret_cast<const char*>(payload.data() + 732476 + 32 * 10), "ball_random.tex");
    const uint32_t randomTexture = 8 + 12 * 11 + 10 * 66576;
    EXPECT_EQ(payload[randomTexture + 16], 1) << "the random entry's picture was converted";

    std::string console;
    Lines log;
    ParvexRead second = readPreviews(&console, &log);
    EXPECT_EQ(second.bytes, first.bytes);
    EXPECT_EQ(console, "") << "nothing built or decoded again";
    EXPECT_TRUE(log.empty());
    tremixSetDebug(1);
    readPreviews(&console, &log);
    EXPECT_EQ(log, Lines{"using cached buffers"});
    tremixSetDebug(0);

    size_t logged = tremixLog().size();
    unloadModule();
    EXPECT_EQ(logFrom(logged), (Lines{"Shutting down this module...", "buffers deallocated."}));
}

// The process heap refuses requests through the platform layer's test seam.
void failHeapRequests(uint32_t minimum, uint32_t skip, uint32_t count) {
    typedef void (*FailFn)(uint32_t, uint32_t, uint32_t);
    FailFn fail = reinterpret_cast<FailFn>(moduleSymbol("platformFailHeapRequests"));
    ASSERT_NE(fail, nullptr);
    fail(minimum, skip, count);
}

TEST_F(PreviewFileTest, FailedBuildsAreTriedAgain) {
    // Two balls at 4 x 2: a payload of 3284 bytes, then the pack block.
    start(2, "preview.width=4\npreview.heigh=2\n");
    Lines log;
    failHeapRequests(3000, 0, 1);  // the payload
    EXPECT_FALSE(readPreviews(nullptr, &log).answered);
    EXPECT_EQ(log, Lines{"Unable to allocate buffer for binId=36"});

    failHeapRequests(3000, 2, 1);  // past the payload and the picture paths: the pack block
    EXPECT_FALSE(readPreviews(nullptr, &log).answered);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "BIN re-compression failed. retval=-4");

    failHeapRequests(0, 0, 0);
    ParvexRead served = readPreviews(nullptr, &log);
    EXPECT_TRUE(served.answered);
    for (const std::string& line : log)
        EXPECT_NE(line, "buffers deallocated.") << "nothing was cached before";
    std::string error;
    EXPECT_EQ(unpack(served.bytes, &error).size(), 3284u) << error;

    // The ball list the same way: past its payload, the pack block refused once.
    failHeapRequests(100, 1, 1);
    size_t logged = tremixLog().size();
    EXPECT_FALSE(parvexGameRead(11, 34).answered);
    EXPECT_EQ(logFrom(logged), Lines{"BIN re-compression failed. retval=-4"});
    failHeapRequests(0, 0, 0);
    EXPECT_TRUE(parvexGameRead(11, 34).answered);
}

TEST_F(PreviewFileTest, UnusableSizesAreRefused) {
    const char* sizes[] = {"preview.width=0\n", "preview.heigh=-1\n", "preview.width=65536\n",
                           "preview.width=70000\npreview.heigh=70000\n",
                           "preview.width=65535\npreview.heigh=65535\n"};  // 255 of these overflow 32 bits
    for (const char* size : sizes) {
        SCOPED_TRACE(size);
        start(254, size);
        Lines log;
        ParvexRead result = readPreviews(nullptr, &log);
        EXPECT_FALSE(result.answered);
        EXPECT_EQ(log, Lines{"Unable to allocate buffer for binId=36"});
        // Nothing was kept: the next read tries again.
        readPreviews(nullptr, &log);
        EXPECT_EQ(log, Lines{"Unable to allocate buffer for binId=36"});
        unloadModule();
    }
}

TEST_F(PreviewFileTest, TooLongPicturePathCountsAsMissing) {
    const std::string longName(1100, 'f');
    start(2, "preview.width=4\npreview.heigh=2\n[ball name]\n1=" + longName + "\n");
    folder.write("GDB/balls/Ball 002/preview.png", palettePng(4, 2, 1));
    Lines log;
    ParvexRead result = readPreviews(nullptr, &log);
    ASSERT_TRUE(result.answered);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "Ball preview of entry 0 not added: its path is too long");
    std::string error;
    std::vector<uint8_t> payload = unpack(result.bytes, &error);
    const uint32_t second = 8 + 12 * 3 + 1048;
    EXPECT_EQ(payload[second + 1040], 1) << "ball 2 converted";
    EXPECT_EQ(payload[8 + 12 * 3 + 16 + 4], 0) << "ball 1 as created";
}

}  // namespace

// Reads of the ball list, the preview file and the ball model from eight
// threads at once while other threads change the selected ball: every served
// ball list and preview file must equal a single-threaded read byte for byte,
// and every served model must be the ball.bin of one of the balls selected.
#include <gtest/gtest.h>

#include <stdio.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "game/game.h"
#include "png_fixture.h"
#include "support/module_run.h"
#include "support/test_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int Balls = 6;
constexpr int Readers = 8;
constexpr int ReadsPerThread = 30;
constexpr int MinSelections = 1000;
// The balls the selecting threads choose from (0-based); the others have
// models too, so serving one of them would show.
const int32_t Chosen[] = {1, 3, 4};

std::string modelOf(int ball) {
    return "model of ball " + std::to_string(ball) + std::string(size_t(100 + 37 * ball), char('a' + ball));
}

std::string previewOf(int ball) {
    PngFixture f;
    f.width = 8;
    f.height = 8;
    f.color_type = PNG_COLOR_TYPE_PALETTE;
    f.palette = {png_color{uint8_t(ball), 2, 3}, png_color{200, 100, uint8_t(50 + ball)}};
    for (int i = 0; i < 64; ++i)
        f.samples.push_back(static_cast<uint16_t>((i + ball) % 2));
    const Bytes png = encodePng(f);
    return std::string(png.begin(), png.end());
}

class StressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string map = "[ball]\nball.count=" + std::to_string(Balls) + "\npreview.width=8\npreview.heigh=8\n";
        for (int ball = 0; ball < Balls; ++ball) {
            char folderName[16];
            snprintf(folderName, sizeof folderName, "Ball %03d", ball + 1);
            folder.write(std::string("GDB/balls/") + folderName + "/ball.bin", modelOf(ball));
            folder.write(std::string("GDB/balls/") + folderName + "/preview.png", previewOf(ball));
        }
        folder.write("GDB/balls/ball_random.png", previewOf(9));
        folder.write("GDB/balls/map.txt", map);
    }
    void TearDown() override { unloadModule(); }

    void start() {
        ASSERT_TRUE(loadModuleFor(0, folder.loaderDir()));
        tremixDeliverEvent(1);
        ASSERT_EQ(tremixLog().back(), "Initialization complete.");
        selected = static_cast<int32_t*>(moduleSymbol("SelectedBall"));
        ASSERT_NE(selected, nullptr);
        __atomic_store_n(selected, Chosen[0], __ATOMIC_SEQ_CST);
    }

    TestFolder folder;
    int32_t* selected = nullptr;
};

TEST_F(StressTest, ConcurrentReadsWhileTheSelectionChanges) {
    // The reference: one thread, a fresh module.
    start();
    tremixConsoleBegin();
    const Bytes ballList = parvexGameRead(11, 34).bytes;
    const Bytes previews = parvexGameRead(11, 36).bytes;
    tremixConsoleEnd();
    ASSERT_FALSE(ballList.empty());
    ASSERT_FALSE(previews.empty());
    unloadModule();

    // Again from empty caches, with every thread starting at once.
    start();
    std::atomic<bool> go{false};
    std::atomic<bool> readersDone{false};
    std::atomic<int> listMismatches{0}, previewMismatches{0}, modelMismatches{0}, unanswered{0}, reads{0};
    std::atomic<int> selections{0};

    auto reader = [&](int index) {
        while (!go.load())
            std::this_thread::yield();
        // At least ReadsPerThread reads, and more until the selection has
        // changed often enough to interleave with them.
        for (int i = 0; i < ReadsPerThread || (selections.load() < MinSelections && i < 20 * ReadsPerThread); ++i) {
            const uint32_t files[3] = {34, 36, 0};
            const uint32_t file = files[(i + index) % 3];
            ParvexRead read = parvexGameRead(11, file);
            reads.fetch_add(1);
            if (!read.answered || !read.handleValid) {
                unanswered.fetch_add(1);
                continue;
            }
            if (file == 34 && read.bytes != ballList)
                listMismatches.fetch_add(1);
            if (file == 36 && read.bytes != previews)
                previewMismatches.fetch_add(1);
            if (file == 0) {
                const std::string model(read.bytes.begin(), read.bytes.end());
                bool known = false;
                for (int32_t ball : Chosen)
                    known = known || model == modelOf(ball);
                if (!known)
                    modelMismatches.fetch_add(1);
            }
        }
    };
    auto selector = [&](uint32_t seed) {
        std::mt19937 random(seed);
        while (!go.load())
            std::this_thread::yield();
        while (!readersDone.load()) {
            __atomic_store_n(selected, Chosen[random() % 3], __ATOMIC_SEQ_CST);
            selections.fetch_add(1);
        }
    };
    // In the i386 build the game's own selection hook runs too, from one
    // thread only: the simulated game has one CPU block.
    auto gameThread = [&](uint32_t seed) {
        std::mt19937 random(seed);
        const SimGameSites sites = simGameSites(0);
        while (!go.load())
            std::this_thread::yield();
        while (!readersDone.load()) {
            SimCpu in{};
            in.ebp = static_cast<uint32_t>(Chosen[random() % 3]);
            in.esp = SimGameStackTop;
            in.eflags = 0x202;
            SimCpu out{};
            if (!simGameRun(sites.selectionCallPoint, in, &out) || out.ebp != in.ebp) {
                modelMismatches.fetch_add(1000);
                return;
            }
            selections.fetch_add(1);
        }
    };

    tremixConsoleBegin();
    std::vector<std::thread> threads;
    for (int i = 0; i < Readers; ++i)
        threads.emplace_back(reader, i);
    std::thread selectors[2] = {std::thread(selector, 1u), std::thread(selector, 2u)};
    std::thread game;
    if (simGameCanRun())
        game = std::thread(gameThread, 3u);
    go.store(true);
    for (std::thread& t : threads)
        t.join();
    readersDone.store(true);
    for (std::thread& t : selectors)
        t.join();
    if (game.joinable())
        game.join();
    tremixConsoleEnd();

    printf("%d reads on %d threads, %d selections (the game's hook ran: %s)\n", reads.load(), Readers,
           selections.load(), simGameCanRun() ? "yes" : "no");
    EXPECT_GE(reads.load(), Readers * ReadsPerThread);
    EXPECT_EQ(unanswered.load(), 0);
    EXPECT_EQ(listMismatches.load(), 0);
    EXPECT_EQ(previewMismatches.load(), 0);
    EXPECT_EQ(modelMismatches.load(), 0);
    EXPECT_GT(selections.load(), 0);
    // Built once each, however many threads asked first.
    int builds = 0;
    for (const std::string& line : tremixLog())
        builds += line.rfind("Ball preview added : ", 0) == 0;
    EXPECT_EQ(builds, Balls + 1);
}

}  // namespace

// Load and unload cycles of the module over a full loader folder, with every
// file served: nothing stays behind. The handles given to the archive host
// are the host's, and it closes them; the module keeps no other open file,
// and (under LeakSanitizer) no heap block.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>

#include "png_fixture.h"
#include "support/module_run.h"
#include "support/test_folder.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

int openDescriptors() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds)
        return -1;
    while (dirent* entry = readdir(fds))
        count += entry->d_name[0] != '.';
    closedir(fds);
    return count;
}

std::string palettePng() {
    PngFixture f;
    f.width = 4;
    f.height = 4;
    f.color_type = PNG_COLOR_TYPE_PALETTE;
    f.palette = {png_color{1, 2, 3}, png_color{4, 5, 6}};
    f.palette_alpha = {128};
    f.samples.assign(16, 1);
    std::vector<uint8_t> png = encodePng(f);
    return std::string(png.begin(), png.end());
}

TEST(LeakTest, LoadUnloadCyclesLeaveNothingBehind) {
    TestFolder folder;
    folder.write("GDB/balls/map.txt",
                 "[ball]\nball.count=3\npreview.width=4\npreview.heigh=4\n[ball name]\n1=One\n2=Two\n3=Three\n");
    folder.write("GDB/balls/balls.txt", "1,First\n2,\"Second\"\n3,Third # comment\n");
    for (const char* name : {"One", "Two", "Three"}) {
        folder.write(std::string("GDB/balls/") + name + "/ball.bin", std::string("model ") + name);
        folder.write(std::string("GDB/balls/") + name + "/preview.png", palettePng());
    }
    folder.write("GDB/balls/ball_random.png", palettePng());

    int before = -1;
    for (int cycle = 0; cycle < 4; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(loadModuleFor(0, folder.loaderDir()));
        tremixDeliverEvent(1);
        ASSERT_EQ(tremixLog().back(), "Initialization complete.");
        tremixConsoleBegin();
        for (uint32_t file : {34u, 36u, 0u, 34u, 36u})
            EXPECT_TRUE(parvexGameRead(11, file).answered) << file;
        for (uint32_t file : {269u, 127u, 833u})
            EXPECT_TRUE(parvexGameRead(6, file).answered) << file;
        tremixConsoleEnd();
        unloadModule();
        // The first cycle settles what the process keeps for good (the
        // libraries the module pulls in); later cycles must add nothing.
        if (cycle == 0)
            before = openDescriptors();
        else
            EXPECT_EQ(openDescriptors(), before);
    }
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace

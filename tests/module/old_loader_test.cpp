// A loader host without the GetLoaderVersion export is refused like an old one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/module_run.h"
#include "support/test_folder.h"

namespace {

TEST(OldLoaderTest, MissingVersionExportIsRefused) {
    ASSERT_FALSE(tremixHasLoaderVersionExport());
    TestFolder folder;
    for (int32_t build : {0, 1}) {
        EXPECT_FALSE(loadModuleFor(build, folder.loaderDir()));
        EXPECT_EQ(tremixLog(), (std::vector<std::string>{"ERROR: This module requires tremix.dll 12.2.0 or newer.",
                                                         "Shutting down this module..."}));
        EXPECT_EQ(tremixHookedCount(1), 0);
    }
}

}  // namespace

// Reading GDB\balls\map.txt: the values, defaults and log lines of the
// catalogue, over the real INI reader.
#include "catalogue/catalogue.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <optional>
#include <string>
#include <vector>

#include "module/paths.h"
#include "support/test_folder.h"
#include "tremix/tremix_driver.h"

namespace {

using Lines = std::vector<std::string>;

struct Loaded {
    int32_t count;
    int32_t width;
    int32_t height;
    std::vector<std::string> folders;  // slots 0 to count, as UTF-8
    Lines log;
};

// Loads the catalogue from a map.txt holding `text` (none when absent).
Loaded load(const TestFolder& folder, const std::optional<std::string>& text) {
    if (text)
        folder.write("GDB/balls/map.txt", *text);
    std::u16string dir = tremixUtf8ToUtf16(folder.loaderDir());
    const char16_t* pieces[] = {dir.c_str(), u"GDB\\balls\\", u"map.txt"};
    EXPECT_TRUE(joinPath(CataloguePath, pieces));
    releaseBallCatalogue();
    tremixClearLog();
    Loaded result;
    result.count = loadBallCatalogue();
    result.width = Catalogue.previewWidth;
    result.height = Catalogue.previewHeight;
    for (int32_t n = 0; n < int32_t(FolderSlotCount); ++n) {
        const char16_t* name = Catalogue.folderNames[n];
        if (n <= result.count && result.count > 0) {
            result.folders.push_back(name ? tremixUtf16ToUtf8(name) : "<empty slot>");
        } else {
            EXPECT_EQ(name, nullptr) << "slot " << n << " beyond the count was written";
        }
    }
    result.log = tremixLog();
    releaseBallCatalogue();
    return result;
}

struct Case {
    const char* what;
    std::optional<std::string> text;
    int32_t count;
    int32_t width;
    int32_t height;
    std::vector<std::string> folders;
};

TEST(CatalogueTest, ValuesDefaultsAndFolderNames) {
    const std::vector<std::string> defaults3 = {"Ball 000", "Ball 001", "Ball 002", "Ball 003"};
    const Case cases[] = {
        {"no file", std::nullopt, 0, 512, 128, {}},
        {"empty file", std::string(), 0, 512, 128, {}},
        {"count without names", "[ball]\nball.count=3\n", 3, 512, 128, defaults3},
        {"sizes",
         "[ball]\nball.count=1\npreview.width=256\npreview.heigh=256\n",
         1,
         256,
         256,
         {"Ball 000", "Ball 001"}},
        {"height key with a final t is not read",
         "[ball]\nball.count=1\npreview.height=64\n",
         1,
         512,
         128,
         {"Ball 000", "Ball 001"}},
        {"hexadecimal", "[ball]\nball.count=0x10\npreview.width=0X100\n", 16, 256, 128, {}},
        {"hexadecimal digits in either case", "[ball]\nball.count=1\npreview.width=0xfF\n", 1, 255, 128, {}},
        {"0x alone", "[ball]\nball.count=0x\n", 0, 512, 128, {}},
        {"inline comment", "[ball]\nball.count=3 ;three\n", 0, 512, 128, {}},
        {"unit after the number", "[ball]\nball.count=1\npreview.width=256px\n", 1, 512, 128, {"Ball 000", "Ball 001"}},
        {"negative count", "[ball]\nball.count=-2\n", 0, 512, 128, {}},
        {"negative width kept", "[ball]\nball.count=1\npreview.width=-5\n", 1, -5, 128, {"Ball 000", "Ball 001"}},
        {"plus sign", "[ball]\nball.count=+2\n", 2, 512, 128, {"Ball 000", "Ball 001", "Ball 002"}},
        {"sign alone", "[ball]\nball.count=1\npreview.width=-\n", 1, 512, 128, {"Ball 000", "Ball 001"}},
        {"sign inside hex", "[ball]\nball.count=1\npreview.width=0x-5\n", 1, 512, 128, {"Ball 000", "Ball 001"}},
        {"empty value is the default", "[ball]\nball.count=1\npreview.width=\n", 1, 512, 128, {"Ball 000", "Ball 001"}},
        {"63 characters", "[ball]\nball.count=" + std::string(62, '0') + "1\n", 1, 512, 128, {"Ball 000", "Ball 001"}},
        {"64 characters", "[ball]\nball.count=" + std::string(63, '0') + "1\n", 0, 512, 128, {}},
        {"capitals", "[BALL]\nBALL.COUNT=2\n[Ball Name]\n1=one\n", 2, 512, 128, {"Ball 000", "one", "Ball 002"}},
        {"key 001 is not key 1",
         "[ball]\nball.count=1\n[ball name]\n001=padded\n",
         1,
         512,
         128,
         {"Ball 000", "Ball 001"}},
        {"blanks trimmed around, kept inside",
         "[ball]\nball.count=1\n[ ball name ]\n \t1 \t=  Red  Ball \t\n",
         1,
         512,
         128,
         {"Ball 000", "Red  Ball"}},
        {"quotes kept", "[ball]\nball.count=1\n[ball name]\n1=\"Quoted\"\n", 1, 512, 128, {"Ball 000", "\"Quoted\""}},
        {"empty folder name", "[ball]\nball.count=1\n[ball name]\n1=\n", 1, 512, 128, {"Ball 000", ""}},
        {"repeated key takes the later value",
         "[ball]\nball.count=1\n[ball name]\n1=first\n1=second\n",
         1,
         512,
         128,
         {"Ball 000", "second"}},
        {"section named twice",
         "[ball]\nball.count=2\n[ball name]\n1=a\n[ball]\npreview.width=64\n[ball name]\n2=b\n",
         2,
         64,
         128,
         {"Ball 000", "a", "b"}},
        {"slot 0 is read too", "[ball]\nball.count=1\n[ball name]\n0=zero\n1=one\n", 1, 512, 128, {"zero", "one"}},
        {"comments and blank lines",
         "; a comment\n\n# another\n[ball]\n  ;ball.count=9\nball.count=1\n",
         1,
         512,
         128,
         {"Ball 000", "Ball 001"}},
        {"keys before a header are not read", "ball.count=4\n[ball]\n", 0, 512, 128, {}},
        {"header without ]", "[ball]\nball.count=1\n[ball name\n1=lost\n", 1, 512, 128, {"Ball 000", "Ball 001"}},
        {"line endings CR, LF, CR LF",
         "[ball]\rball.count=2\r\n[ball name]\n1=a\r2=b",
         2,
         512,
         128,
         {"Ball 000", "a", "b"}},
        {"UTF-8 mark hides the first header", "\xEF\xBB\xBF[ball]\nball.count=2\n", 0, 512, 128, {}},
        {"UTF-8 mark before a comment line",
         "\xEF\xBB\xBF\n[ball]\nball.count=1\n",
         1,
         512,
         128,
         {"Ball 000", "Ball 001"}},
        {"Windows-1252 folder name",
         "[ball]\nball.count=1\n[ball name]\n1=Caf\xE9 \x80 \x9F\n",
         1,
         512,
         128,
         {"Ball 000", "Caf\xC3\xA9 \xE2\x82\xAC \xC5\xB8"}},
        {"saturates like a 32-bit strtol",
         "[ball]\nball.count=1\npreview.width=99999999999\npreview.heigh=0xFFFFFFFF\n",
         1,
         INT32_MAX,
         INT32_MAX,
         {"Ball 000", "Ball 001"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestFolder folder;
        Loaded got = load(folder, c.text);
        EXPECT_EQ(got.count, c.count);
        EXPECT_EQ(got.width, c.width);
        EXPECT_EQ(got.height, c.height);
        std::vector<std::string> folders = c.folders;
        // A case that lists no folders expects the default name in every slot.
        const bool allDefault = folders.empty() && c.count > 0;
        for (int32_t n = 0; allDefault && n <= c.count; ++n) {
            char name[16];
            snprintf(name, sizeof name, "Ball %03d", n);
            folders.push_back(name);
        }
        EXPECT_EQ(got.folders, folders);
    }
}

TEST(CatalogueTest, LogLines) {
    TestFolder folder;
    const std::string path = folder.loaderDir() + "GDB\\balls\\map.txt";
    Loaded none = load(folder, std::nullopt);
    EXPECT_EQ(none.log, (Lines{"Ball ini config :  " + path + "\n", "Ball count : 0\n", "Ball preview width : 512\n",
                               "Ball preview heigh : 128\n"}));

    Loaded two = load(folder, "[ball]\nball.count=2\npreview.width=300\n[ball name]\n2=Gold\n");
    EXPECT_EQ(two.log,
              (Lines{"Ball ini config :  " + path + "\n", "Ball count : 2\n", "Ball preview width : 300\n",
                     "Ball preview heigh : 128\n", "Ball 0 : Ball 000\n", "Ball 1 : Ball 001\n", "Ball 2 : Gold\n"}));
}

TEST(CatalogueTest, CountsAboveTheSlotsAreCappedAt254) {
    for (int32_t count : {254, 255, 100000}) {
        SCOPED_TRACE(count);
        TestFolder folder;
        Loaded got =
            load(folder, "[ball]\nball.count=" + std::to_string(count) + "\n[ball name]\n254=last\n255=over\n");
        EXPECT_EQ(got.count, 254);
        ASSERT_EQ(got.folders.size(), 255u);
        EXPECT_EQ(got.folders[7], "Ball 007");
        EXPECT_EQ(got.folders[254], "last");
        EXPECT_EQ(got.log[1], "Ball count : " + std::to_string(count) + "\n");
        const bool capped = count > 254;
        const std::string capLine =
            "Ball count " + std::to_string(count) +
            " is more than the 254 balls the catalogue holds: only balls 1 to 254 are offered\n";
        EXPECT_EQ(got.log[4] == capLine, capped);
        EXPECT_EQ(got.log.size(), 4u + (capped ? 1u : 0u) + 255u);
        EXPECT_EQ(got.log.back(), "Ball 254 : last\n");
    }
}

}  // namespace

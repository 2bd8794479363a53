// The display names of GDB\balls\balls.txt and their export into the game's
// ball table.
#include "catalogue/display_names.h"

#include <gtest/gtest.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "game/game.h"
#include "support/test_folder.h"
#include "tremix/tremix_driver.h"

namespace {

using Names = std::map<uint16_t, std::string>;

std::u16string namesPath(const TestFolder& folder) {
    return tremixUtf8ToUtf16(folder.loaderDir() + "GDB\\balls\\balls.txt");
}

// Merges a balls.txt holding `bytes` into a fresh map and returns its content.
Names mergeFile(const std::string& bytes) {
    TestFolder folder;
    folder.write("GDB/balls/balls.txt", bytes);
    releaseDisplayNames();
    mergeNamesFile(namesPath(folder).c_str());
    Names names;
    const DisplayNameMap* map = displayNameMap();
    EXPECT_NE(map, nullptr);
    if (!map)
        return names;
    for (const auto& item : *map) {
        EXPECT_EQ(item.first, item.second.ballNumber);
        names[item.first] = item.second.name;
    }
    return names;
}

std::string utf16File(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// The same text saved as UTF-8 without and with its mark, and as UTF-16 LE.
std::vector<std::string> encodings(const std::string& utf8) {
    return {utf8, "\xEF\xBB\xBF" + utf8, utf16File(tremixUtf8ToUtf16(utf8))};
}

TEST(DisplayNamesTest, LineRulesInEveryEncoding) {
    struct Case {
        const char* what;
        std::string text;
        Names names;
    };
    const Case cases[] = {
        {"plain", "3,Golden Ball\n", {{3, "Golden Ball"}}},
        {"leading spaces removed", "3,   Golden Ball\n", {{3, "Golden Ball"}}},
        {"CR LF removed", "3,Golden Ball\r\n", {{3, "Golden Ball"}}},
        {"last line without LF", "1,a\n2,b", {{1, "a"}, {2, "b"}}},
        {"tabs and trailing spaces stay", "3,\tGold  \n", {{3, "\tGold  "}}},
        {"hexadecimal", "0x0A,Match ball\n", {{10, "Match ball"}}},
        {"upper-case X is decimal 0", "0X0A,Match ball\n", {{0, "Match ball"}}},
        {"blank before 0x is decimal 0", " 0x0A,Match ball\n", {{0, "Match ball"}}},
        {"0x without a digit reads decimal 0", "0xg,zero\n", {{0, "zero"}}},
        {"decimal with blanks and sign", "  +7,seven\n", {{7, "seven"}}},
        {"characters after the digits ignored", "8th,eight\n", {{8, "eight"}}},
        {"no number", "ball,none\n- 1,none\n", {}},
        {"first comma separates", "5,Team A, home\n", {{5, "Team A, home"}}},
        {"comment cut first", "5,Ball #5\n", {{5, "Ball "}}},
        {"comment before the comma", "6 # six,x\n", {}},
        {"nothing after the comma", "1,a\n7,", {{1, "a"}}},
        {"only LF after the comma", "7,\n", {{7, ""}}},
        {"only CR LF after the comma", "7,\r\n", {{7, ""}}},
        {"no comma", "7 Golden\n", {}},
        {"section line", "[4,Name]\n", {}},
        {"empty lines", "\n\n\r\n9,x\n", {{9, "x"}}},
        {"quotes removed", "1,\"Gold\"\n", {{1, "Gold"}}},
        {"opening quote only", "1,\"Gold\n", {{1, "Gold"}}},
        {"closing quote only", "1,Gold\"\n", {{1, "Gold"}}},
        {"quote then trailing space keeps the closing quote", "1,\"Gold\" \n", {{1, "Gold\" "}}},
        {"a lone quote", "1,\"\n", {{1, ""}}},
        {"first line wins", "4,first\n4,second\n", {{4, "first"}}},
        {"16-bit wrap", "65540,four\n65537,one\n-1,last\n", {{4, "four"}, {1, "one"}, {65535, "last"}}},
        {"wrap keeps the first line", "4,first\n65540,second\n", {{4, "first"}}},
        {"non-ASCII name", "2,Caf\xC3\xA9 \xE2\x82\xAC\n", {{2, "Caf\xC3\xA9 \xE2\x82\xAC"}}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> files = encodings(c.text);
        const char* const names[] = {"UTF-8", "UTF-8 with mark", "UTF-16 LE"};
        for (size_t e = 0; e < files.size(); ++e) {
            SCOPED_TRACE(std::string(c.what) + ", " + names[e]);
            EXPECT_EQ(mergeFile(files[e]), c.names);
        }
    }
    releaseDisplayNames();
}

TEST(DisplayNamesTest, EncodingSpecifics) {
    struct Case {
        const char* what;
        std::string file;
        Names names;
    };
    const Case cases[] = {
        {"undecodable byte ends the line",
         "2,ab\x80"
         "cd\n3,ok\n",
         {{2, "ab"}, {3, "ok"}}},
        {"UTF-8 mark then section line", "\xEF\xBB\xBF[x]\n1,a\n", {{1, "a"}}},
        {"UTF-16 surrogate pair kept as two units", utf16File(u"1,\xD83D\xDE00\n"), {{1, "\xED\xA0\xBD\xED\xB8\x80"}}},
        {"odd UTF-16 byte dropped", utf16File(u"1,a\n") + "x", {{1, "a"}}},
        {"one byte", "5", {}},
        {"big-endian mark is not recognised",
         std::string("\xFE\xFF\0"
                     "1\0,\0a",
                     8),
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(mergeFile(c.file), c.names);
    }
    releaseDisplayNames();
}

TEST(DisplayNamesTest, LongLinesAreCutAt4094) {
    // The first read takes 4094 bytes; the rest of the line is a line of its own.
    std::string name(4094 - 2, 'n');
    std::string file = "1," + name + "2,tail\n";
    Names names = mergeFile(file);
    EXPECT_EQ(names, (Names{{1, name}, {2, "tail"}}));

    std::u16string wide(4094 - 2, u'w');
    Names wideNames = mergeFile(utf16File(u"1," + wide + u"3,rest\n"));
    EXPECT_EQ(wideNames, (Names{{1, std::string(4092, 'w')}, {3, "rest"}}));
    releaseDisplayNames();
}

TEST(DisplayNamesTest, LoadAndLogLines) {
    TestFolder folder;
    tremixSetLoaderDirUtf8(folder.loaderDir());
    const std::string path = folder.loaderDir() + "GDB\\balls\\balls.txt";

    tremixClearLog();
    loadDisplayNames();
    ASSERT_NE(displayNameMap(), nullptr);
    EXPECT_TRUE(displayNameMap()->empty());
    EXPECT_TRUE(tremixLog().empty()) << "a missing names file is not logged";

    folder.write("GDB/balls/balls.txt", "1,One\n");
    loadDisplayNames();
    EXPECT_EQ(tremixLog(), std::vector<std::string>{"Balls-map (" + path + ") read"});
    EXPECT_EQ(displayNameMap()->size(), 1u);

    // A folder where the file should be cannot be read.
    std::filesystem::remove(folder.path() / "GDB/balls/balls.txt");
    std::filesystem::create_directories(folder.path() / "GDB/balls/balls.txt");
    tremixClearLog();
    loadDisplayNames();
    EXPECT_EQ(tremixLog(), std::vector<std::string>{"Unable to read balls map (" + path + ")"});
    EXPECT_TRUE(displayNameMap()->empty());
    releaseDisplayNames();
}

// The game's ball table inside the simulated game's code pages, which are
// mapped execute-read like the game's: the export must make them writable.
class BallTableTest : public ::testing::Test {
  protected:
    static constexpr uint32_t Table = SimGameBase + 0x10000;

    void SetUp() override {
        ASSERT_TRUE(simGameMap(0));
        for (uint32_t i = 0; i < 4; ++i) {
            uint8_t record[72];
            memset(record, 0xA0 + i, sizeof record);
            snprintf(reinterpret_cast<char*>(record), 64, "game %u", i);
            simGameWrite(Table + 72 * i, record, sizeof record);
        }
        before = simGameSnapshot();
    }
    void TearDown() override {
        releaseDisplayNames();
        Catalogue.ballCount = 0;
        simGameUnmap();
    }

    std::vector<uint8_t> record(uint32_t i) {
        std::vector<uint8_t> bytes(72);
        simGameRead(Table + 72 * i, bytes.data(), 72);
        return bytes;
    }

    std::vector<uint8_t> before;
};

TEST_F(BallTableTest, WritesMappedNamesOnly) {
    std::string name63(63, 'x');
    std::string name64 = std::string(63, 'y') + "z";
    mergeFile("1,Gold\n3," + name63 + "\n4," + name64 + "\n");
    Catalogue.ballCount = 3;
    EXPECT_EQ(afsReadBalls(reinterpret_cast<uint8_t*>(uintptr_t(Table))), 0);

    std::vector<uint8_t> first = record(0);
    EXPECT_STREQ(reinterpret_cast<const char*>(first.data()), "Gold");
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 4, first.begin() + 64), std::vector<uint8_t>(60, 0));
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 64, first.end()), std::vector<uint8_t>(8, 0xA0))
        << "the bytes after the name field are left alone";
    EXPECT_STREQ(reinterpret_cast<const char*>(record(1).data()), "game 1") << "no name for ball 2";
    std::vector<uint8_t> third = record(2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(third.data())), name63);
    EXPECT_EQ(third[63], 0);
    // Ball 4 is beyond the count: its record is not touched.
    EXPECT_STREQ(reinterpret_cast<const char*>(record(3).data()), "game 3");

    std::vector<uint32_t> changed = simGameDifferences(before);
    for (uint32_t address : changed) {
        EXPECT_TRUE((address >= Table && address < Table + 64) || (address >= Table + 144 && address < Table + 208))
            << std::hex << address;
    }
}

TEST_F(BallTableTest, CutsLongNamesAt63Bytes) {
    std::string name64 = std::string(62, 'y') + "\xC3\xA9";
    mergeFile("1," + name64 + "\n");
    Catalogue.ballCount = 1;
    afsReadBalls(reinterpret_cast<uint8_t*>(uintptr_t(Table)));
    std::vector<uint8_t> first = record(0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.data())), name64.substr(0, 63))
        << "cut after the 63rd byte, inside the two-byte character";
    EXPECT_EQ(first[63], 0);
    EXPECT_EQ(displayNameMap()->at(1).name, name64) << "the map keeps the whole name";
}

TEST_F(BallTableTest, WritesNothingWithoutMapOrWritableMemory) {
    Catalogue.ballCount = 2;
    releaseDisplayNames();
    EXPECT_EQ(afsReadBalls(reinterpret_cast<uint8_t*>(uintptr_t(Table))), 0);
    EXPECT_TRUE(simGameDifferences(before).empty()) << "called before the map exists";

    mergeFile("1,Gold\n");
    // Memory the platform cannot make writable: outside every mapping.
    EXPECT_EQ(afsReadBalls(reinterpret_cast<uint8_t*>(uintptr_t(SimGameEnd + 0x100000))), 0);
    EXPECT_TRUE(simGameDifferences(before).empty());
}

}  // namespace

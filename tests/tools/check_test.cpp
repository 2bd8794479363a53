// quindral-check over the two sample loader folders and small fixtures: its
// findings are read from its JSON report (kind, file, line, ball).
#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#include "check.h"
#include "json_value.h"
#include "support/test_folder.h"

namespace {

const std::string Source = QUINDRAL_SOURCE_DIR;

struct CheckRun {
    int status;
    JsonValue report;
};

CheckRun check(const std::string& folder) {
    FILE* out = tmpfile();
    EXPECT_NE(out, nullptr);
    const int status = runCheck({"--json", folder}, out);
    std::string text;
    rewind(out);
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, out)) > 0)
        text.append(chunk, got);
    fclose(out);
    CheckRun run{status, JsonReader(text).document()};
    EXPECT_EQ(run.report.kind, JsonValue::Object) << text.substr(0, 2000);
    return run;
}

std::string describe(const JsonValue& f) {
    std::string line = f["line"].kind == JsonValue::Number ? std::to_string(int(f["line"].number)) : "-";
    std::string ball = f["ball"].kind == JsonValue::Number   ? std::to_string(int(f["ball"].number))
                       : f["ball"].kind == JsonValue::String ? f["ball"].text
                                                             : "-";
    return f["severity"].text + " " + f["kind"].text + " " + f["file"].text + ":" + line + " ball " + ball + ": " +
           f["message"].text;
}

std::string allFindings(const CheckRun& run) {
    std::string out;
    for (const JsonValue& f : run.report["findings"].items)
        out += "  " + describe(f) + "\n";
    return out;
}

// One expected finding; line 0 and NoBall stand for JSON null, RandomEntry
// for "random"; an empty reason is not compared.
struct Expected {
    const char* kind;
    const char* file;
    int line;
    int ball;
    const char* reason;
};

bool matches(const JsonValue& f, const Expected& e) {
    if (f["kind"].text != e.kind || f["file"].text != e.file)
        return false;
    const JsonValue& line = f["line"];
    if (e.line == 0 ? line.kind != JsonValue::Null : (line.kind != JsonValue::Number || int(line.number) != e.line))
        return false;
    const JsonValue& ball = f["ball"];
    if (e.ball == NoBall && ball.kind != JsonValue::Null)
        return false;
    if (e.ball == RandomEntry && (ball.kind != JsonValue::String || ball.text != "random"))
        return false;
    if (e.ball >= 0 && (ball.kind != JsonValue::Number || int(ball.number) != e.ball))
        return false;
    return e.reason[0] == 0 || f["reason"].text == e.reason;
}

void expectFindings(const CheckRun& run, const std::vector<Expected>& expected) {
    for (const Expected& e : expected) {
        bool found = false;
        for (const JsonValue& f : run.report["findings"].items)
            found = found || matches(f, e);
        EXPECT_TRUE(found) << "no " << e.kind << " at " << e.file << ":" << e.line << " ball " << e.ball << " "
                           << e.reason << "\nfindings:\n"
                           << allFindings(run);
    }
}

const JsonValue* findKind(const CheckRun& run, const std::string& kind) {
    for (const JsonValue& f : run.report["findings"].items) {
        if (f["kind"].text == kind)
            return &f;
    }
    return nullptr;
}

TEST(CheckTest, BrokenSampleNamesEachPlantedFault) {
    const CheckRun run = check(Source + "/examples/broken");
    const char* map = "GDB/balls/map.txt";
    const char* names = "GDB/balls/balls.txt";
    expectFindings(run, {
                            {"utf8-mark", map, 1, NoBall, ""},
                            {"outside-section", map, 2, NoBall, ""},
                            {"preview-square", map, 5, NoBall, ""},
                            {"preview-height-key", map, 6, NoBall, ""},
                            {"folder-key-unread", map, 12, NoBall, ""},
                            {"folder-beyond-count", map, 22, NoBall, ""},
                            {"folder-default", map, 0, 1, ""},
                            {"folder-missing", "GDB/balls/Ball 001", 0, 1, ""},
                            {"folder-missing", "GDB/balls/Winter Orange ; the orange one", 0, 2, ""},
                            {"folder-name-not-8bit", map, 0, 3, ""},
                            {"folder-name-cut", map, 0, 4, ""},
                            {"folder-default", map, 0, 5, ""},
                            {"model-missing", "GDB/balls/No Model/ball.bin", 0, 6, ""},
                            {"preview-missing", "GDB/balls/No Preview/preview.png", 0, 7, ""},
                            {"preview-grey", "GDB/balls/True Colour/preview.png", 0, 8, "true-colour"},
                            {"preview-grey", "GDB/balls/RGBA/preview.png", 0, 9, "rgba"},
                            {"preview-grey", "GDB/balls/One Bit/preview.png", 0, 10, "one-bit"},
                            {"preview-grey", "GDB/balls/Composited/preview.png", 0, 11, "composited"},
                            {"preview-grey", "GDB/balls/Corrupt/preview.png", 0, 12, "decode-error"},
                            {"preview-clipped", "GDB/balls/Large/preview.png", 0, 13, ""},
                            {"preview-filled", "GDB/balls/Small/preview.png", 0, 14, ""},
                            {"names-line-ignored", names, 2, NoBall, "section"},
                            {"names-line-ignored", names, 3, NoBall, "no-comma"},
                            {"names-line-ignored", names, 4, NoBall, "no-number"},
                            {"names-number-tail", names, 5, 0, ""},
                            {"names-outside-catalogue", names, 5, 0, ""},
                            {"names-duplicate", names, 7, 6, ""},
                            {"names-outside-catalogue", names, 8, 99, ""},
                            {"names-number-wrapped", names, 9, 7, ""},
                            {"name-cut", names, 10, 8, ""},
                            {"names-undecodable", names, 11, NoBall, ""},
                            {"names-not-utf8", names, 12, NoBall, ""},
                            {"name-comment", names, 13, 10, ""},
                            {"name-empty", names, 14, 11, ""},
                            {"names-line-split", names, 15, NoBall, ""},
                            {"names-line-ignored", names, 16, NoBall, "nothing-after-comma"},
                        });
    // Every fault is one the module gets over: warnings, no error.
    EXPECT_EQ(run.status, 1) << allFindings(run);
    EXPECT_EQ(run.report["errors"].number, 0) << allFindings(run);

    // The decoder's own account comes with a grey picture.
    const JsonValue* corrupt = nullptr;
    for (const JsonValue& f : run.report["findings"].items) {
        if (f["reason"].text == "decode-error")
            corrupt = &f;
    }
    ASSERT_NE(corrupt, nullptr);
    EXPECT_EQ((*corrupt)["status"].number, 5);
    EXPECT_EQ((*corrupt)["decoderMessage"].text, "[libpng] read error: unexpected end of file");

    // What the game gets: the ball list's '?', the cut display name, the
    // first of two names, and the pictures the module converts.
    const std::vector<JsonValue>& balls = run.report["balls"].items;
    ASSERT_EQ(balls.size(), 15u);
    EXPECT_EQ(balls[2]["listName"].text, "?uro");
    EXPECT_EQ(balls[5]["displayName"].text, "No Model Ball");
    EXPECT_FALSE(balls[5]["model"].boolean);
    EXPECT_EQ(balls[7]["displayName"].text.size(), 63u);
    EXPECT_EQ(balls[12]["preview"].text, "converted");
    EXPECT_EQ(balls[7]["preview"].text, "grey");
    EXPECT_EQ(balls[14]["number"].text, "random");
    EXPECT_EQ(balls[14]["preview"].text, "converted");

    // Given its GDB/balls, the checker finds the same loader folder.
    const CheckRun again = check(Source + "/examples/broken/GDB/balls");
    EXPECT_EQ(again.report["findings"].items.size(), run.report["findings"].items.size());
}

TEST(CheckTest, FaultsThatLeaveNoCatalogueAreErrors) {
    const struct {
        const char* folder;
        Expected finding;
        int status;
    } cases[] = {
        {"no-catalogue", {"catalogue-missing", "GDB/balls/map.txt", 0, NoBall, ""}, 2},
        {"utf8-mark", {"count-missing", "GDB/balls/map.txt", 0, NoBall, ""}, 2},
        {"utf8-mark", {"outside-section", "GDB/balls/map.txt", 2, NoBall, ""}, 2},
        {"count-comment", {"count-unusable", "GDB/balls/map.txt", 2, NoBall, ""}, 2},
        {"count-over", {"count-capped", "GDB/balls/map.txt", 2, NoBall, ""}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const CheckRun run = check(Source + "/examples/broken/errors/" + c.folder);
        expectFindings(run, {c.finding});
        EXPECT_EQ(run.status, c.status) << allFindings(run);
    }
    const CheckRun capped = check(Source + "/examples/broken/errors/count-over");
    EXPECT_EQ(capped.report["catalogue"]["ballCount"].number, 254);
}

TEST(CheckTest, GoodSampleIsClean) {
    const CheckRun run = check(Source + "/examples/loader");
    EXPECT_EQ(run.status, 0) << allFindings(run);
    EXPECT_TRUE(run.report["findings"].items.empty()) << allFindings(run);
    EXPECT_GE(run.report["catalogue"]["ballCount"].number, 1);
}

// map.txt faults beside the samples' ones, each in a folder of its own.
TEST(CheckTest, CatalogueLines) {
    const struct {
        const char* map;
        Expected finding;
        const char* severity;
    } cases[] = {
        {"[ball]\nball.count = 1\nball.count = 2\n", {"replaced-key", "GDB/balls/map.txt", 2, NoBall, ""}, "warning"},
        {"[balls]\nball.count = 1\n", {"unknown-section", "GDB/balls/map.txt", 1, NoBall, ""}, "warning"},
        {"[balls]\nball.count = 1\n", {"count-missing", "GDB/balls/map.txt", 0, NoBall, ""}, "error"},
        {"[ball]\nball.count = 1\nballs.count = 2\n", {"unknown-key", "GDB/balls/map.txt", 3, NoBall, ""}, "warning"},
        {"[BALL]\nBall.Count = -2\n", {"count-not-positive", "GDB/balls/map.txt", 2, NoBall, ""}, "error"},
        {"[ball]\nball.count = 1\npreview.width = 256px\n",
         {"preview-size-unusable", "GDB/balls/map.txt", 3, NoBall, ""},
         "warning"},
        {"[ball]\nball.count = 1\npreview.width = 0\n",
         {"preview-size-invalid", "GDB/balls/map.txt", 3, NoBall, ""},
         "error"},
        {"[ball]\nball.count = 1\n[ball name]\n1 =\n", {"folder-empty", "GDB/balls/map.txt", 4, 1, ""}, "warning"},
        {"[ball]\nball.count = 1\n[ball name]\n1 = \"Classic\"\n",
         {"folder-quoted", "GDB/balls/map.txt", 4, 1, ""},
         "warning"},
        // Lines that end in CR alone are lines too.
        {"[ball]\rball.count = 0x1\r[ball name]\r+1 = Classic\r",
         {"folder-key-unread", "GDB/balls/map.txt", 4, NoBall, ""},
         "warning"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.map);
        TestFolder folder;
        folder.write("GDB/balls/map.txt", c.map);
        const CheckRun run = check(folder.path().string());
        expectFindings(run, {c.finding});
        for (const JsonValue& f : run.report["findings"].items) {
            if (matches(f, c.finding)) {
                EXPECT_EQ(f["severity"].text, c.severity);
            }
        }
    }
}

// The three encodings of balls.txt give the same names; big-endian UTF-16
// gives none, and says so.
TEST(CheckTest, NamesFileEncodings) {
    const std::string utf8 = "1,Caf\xC3\xA9\n";
    const std::string utf16le = std::string("\xFF\xFE", 2) + std::string("1\0,\0C\0a\0f\0\xE9\0\n\0", 14);
    const std::string utf16be = std::string("\xFE\xFF", 2) + std::string(
                                                                 "\0"
                                                                 "1\0,\0C\0a\0f\0\xE9\0\n",
                                                                 14);
    const struct {
        const char* label;
        std::string bytes;
        bool named;
    } cases[] = {
        {"UTF-8", utf8, true},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + utf8, true},
        {"UTF-16 little-endian", utf16le, true},
        {"UTF-16 big-endian", utf16be, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TestFolder folder;
        folder.write("GDB/balls/map.txt", "[ball]\nball.count = 1\n[ball name]\n1 = Classic\n");
        folder.write("GDB/balls/balls.txt", c.bytes);
        const CheckRun run = check(folder.path().string());
        ASSERT_EQ(run.report["balls"].items.size(), 2u);
        const JsonValue& ball = run.report["balls"].items[0];
        if (c.named) {
            EXPECT_EQ(ball["displayName"].text, "Caf\xC3\xA9");
            EXPECT_EQ(findKind(run, "names-encoding"), nullptr);
        } else {
            EXPECT_EQ(ball["displayName"].kind, JsonValue::Null);
            expectFindings(run, {{"names-encoding", "GDB/balls/balls.txt", 1, NoBall, ""}});
        }
    }
}

// A loader folder whose path is not ASCII reaches the module as UTF-16 and
// its files are found.
TEST(CheckTest, FolderPathBeyondAscii) {
    TestFolder scratch;
    const std::filesystem::path loader = scratch.path() / std::filesystem::u8path(
                                                              "L\xC3\xA4"
                                                              "der \xE2\x82\xAC");
    std::filesystem::copy(Source + "/examples/loader", loader, std::filesystem::copy_options::recursive);
    const CheckRun run = check(loader.u8string());
    EXPECT_EQ(run.status, check(Source + "/examples/loader").status) << allFindings(run);
    ASSERT_FALSE(run.report["balls"].items.empty());
    EXPECT_TRUE(run.report["balls"].items[0]["model"].boolean) << allFindings(run);
}

// The text report: "file:line: severity: message [kind]", and the exit
// status without --json.
TEST(CheckTest, TextReport) {
    FILE* out = tmpfile();
    ASSERT_NE(out, nullptr);
    const int status = runCheck({Source + "/examples/broken/errors/count-comment"}, out);
    std::string text;
    rewind(out);
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, out)) > 0)
        text.append(chunk, got);
    fclose(out);
    EXPECT_EQ(status, 2);
    EXPECT_NE(text.find("GDB/balls/map.txt:2: error: ball.count value \"3 ; three\" is not wholly a number"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("1 error, 0 warnings, 0 notes"), std::string::npos) << text;
}

}  // namespace

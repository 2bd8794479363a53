// The behaviours of the INI reader (SimpleIni as Debian ships it, with the
// module's converter off Windows) that the catalogue relies on, and the one
// it works around.
#include "catalogue/ini_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Loaded {
    CatalogueIni ini;
    explicit Loaded(const std::string& text) { ini.LoadData(text.data(), text.size()); }
    std::wstring value(const wchar_t* section, const wchar_t* key) const {
        const wchar_t* got = ini.GetValue(section, key, L"<default>");
        return got ? got : L"<null>";
    }
};

TEST(IniReaderTest, BehavioursTheCatalogueUses) {
    Loaded a("[Ball Name]\n 1 = a b \n1=later\nEMPTY=\n\"q\"=\"v\"\n[ball name]\n2=second place\n");
    EXPECT_EQ(a.value(L"ball name", L"1"), L"later") << "one value per key, the later one wins";
    EXPECT_EQ(a.value(L"BALL NAME", L"2"), L"second place") << "names fold A-Z; a section named twice merges";
    EXPECT_EQ(a.value(L"ball name", L"empty"), L"") << "a present empty value is empty";
    EXPECT_EQ(a.value(L"ball name", L"\"q\""), L"\"v\"") << "quotes are kept";
    EXPECT_EQ(a.value(L"ball name", L"01"), L"<default>");

    Loaded b("; comment\n# comment\n[ball\nk=v\n[ball] trailing\nk2 = v2 ;not a comment\n=empty key\nnoequals\n");
    // A line with [ but no ] is not a header. The library then files the keys
    // up to the next header under a section no name can reach, not under the
    // section before.
    EXPECT_EQ(b.value(L"ball", L"k"), L"<default>");
    EXPECT_EQ(b.value(L"", L"k"), L"<default>");
    EXPECT_EQ(b.value(L"ball", L"k2"), L"v2 ;not a comment");
}

TEST(IniReaderTest, Windows1252AndTheUtf8Mark) {
    Loaded latin("[s]\nk=\xE9\x80\x81\x9F\xFF\n");
    EXPECT_EQ(latin.value(L"s", L"k"), std::wstring(L"\u00E9\u20AC\u0081\u0178\u00FF"));
    // Names fold only A-Z: E9 (é) and C9 (É) stay different keys.
    Loaded fold("[s]\n\xC9=upper\n");
    EXPECT_EQ(fold.value(L"s", L"\u00E9"), L"<default>");

    // The library takes a leading UTF-8 mark as a switch to UTF-8 and drops
    // it: on its own the header after it would be found. The catalogue puts
    // a line break first, so the mark stays text of the first line.
    Loaded marked("\xEF\xBB\xBF[ball]\nk=v\n");
    EXPECT_EQ(marked.value(L"ball", L"k"), L"v");
    Loaded shielded("\n\xEF\xBB\xBF[ball]\nk=v\n");
    EXPECT_EQ(shielded.value(L"ball", L"k"), L"<default>");
    EXPECT_EQ(shielded.value(L"", L"k"), L"v");
}

}  // namespace

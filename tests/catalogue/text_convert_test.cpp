#include "catalogue/text_convert.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>

#include "platform/platform.h"

namespace {

// The input is copied into a heap block of exactly its size, so that a read
// past the terminating zero is caught by the address sanitizer.
template <typename Char>
std::unique_ptr<Char[]> exactCopy(const std::basic_string<Char>& text) {
    std::unique_ptr<Char[]> copy(new Char[text.size() + 1]);
    memcpy(copy.get(), text.data(), text.size() * sizeof(Char));
    copy[text.size()] = 0;
    return copy;
}

// Decodes `bytes` and returns the units the count says were produced,
// checking that the terminating unit follows them.
std::u16string decode(const std::string& bytes) {
    std::unique_ptr<char[]> input = exactCopy(bytes);
    const int32_t count = utf8CharCount(input.get());
    char16_t* out = utf8ToUtf16(input.get());
    EXPECT_NE(out, nullptr);
    if (out == nullptr) {
        return u"<null>";
    }
    std::u16string units(out, static_cast<size_t>(count));
    EXPECT_EQ(out[count], 0) << "no terminating unit after " << count << " units";
    platformHeapFree(out);
    return units;
}

std::string encode(const std::u16string& units) {
    std::unique_ptr<char16_t[]> input = exactCopy(units);
    char* out = utf16ToUtf8(input.get());
    EXPECT_NE(out, nullptr);
    if (out == nullptr) {
        return "<null>";
    }
    std::string bytes(out);
    platformHeapFree(out);
    return bytes;
}

std::string hex(const std::string& bytes) {
    std::string text;
    char piece[4];
    for (unsigned char b : bytes) {
        snprintf(piece, sizeof piece, "%02X ", b);
        text += piece;
    }
    return text;
}

std::string hex(const std::u16string& units) {
    std::string text;
    char piece[6];
    for (char16_t u : units) {
        snprintf(piece, sizeof piece, "%04X ", static_cast<unsigned>(u));
        text += piece;
    }
    return text;
}

TEST(Utf8ToUtf16, DecodesByLeadByte) {
    struct Case {
        const char* label;
        std::string bytes;
        std::u16string units;
    };
    const Case cases[] = {
        {"empty", "", u""},
        {"ascii", "Ball 1", u"Ball 1"},
        {"two-byte form", "\xC3\xA9", u"\u00E9"},
        {"three-byte form", "\xE2\x82\xAC", u"\u20AC"},
        {"largest three-byte form", "\xEF\xBF\xBF", u"\uFFFF"},
        {"mixed",
         "a\xC3\xA9\xE2\x82\xAC"
         "b",
         u"a\u00E9\u20AC"
         "b"},
        {"stray continuation byte ends the text",
         "a\x80"
         "b",
         u"a"},
        {"continuation byte first",
         "\xBF"
         "abc",
         u""},
        {"four-byte form ends the text",
         "ab\xF0\x9F\x98\x80"
         "cd",
         u"ab"},
        {"lead byte 0xF8 ends the text", "a\xF8\x88\x80\x80\x80", u"a"},
        {"lead byte 0xFF ends the text",
         "a\xFF"
         "b",
         u"a"},
        {"trailing byte taken whatever its high bits", "\xC3\x41", u"\u00C1"},
        {"both trailing bytes taken unchecked",
         "\xE2\x41\x42"
         "c",
         u"\u2042"
         "c"},
        {"overlong two-byte form", "\xC0\xAF", u"/"},
        {"overlong three-byte form", "\xE0\x80\xAF", u"/"},
        {"overlong zero is a unit of its own", std::string("\xC0\x80x", 3), std::u16string(u"\0x", 2)},
        {"surrogates spelled in three bytes each", "\xED\xA0\xBD\xED\xB8\x80", u"\xD83D\xDE00"},
        // A form cut off by the zero byte ends the text: nothing past the zero is read.
        {"two-byte form cut off", "a\xC3", u"a"},
        {"three-byte form cut after one byte", "a\xE2", u"a"},
        {"three-byte form cut after two bytes", "a\xE2\x82", u"a"},
        {"cut form alone", "\xDF", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::u16string got = decode(c.bytes);
        EXPECT_EQ(got, c.units) << "got " << hex(got) << "want " << hex(c.units);
    }
}

TEST(Utf8CharCount, CountsTheUnitsTheDecoderProduces) {
    struct Case {
        const char* bytes;
        int32_t count;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 3},
        {"\xC3\xA9\xE2\x82\xAC", 2},
        {"a\x80"
         "b",
         1},
        {"ab\xF0\x9F\x98\x80", 2},
        {"\xC3\x41", 1},
        {"a\xE2\x82", 1},
        {"a\xC3", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(std::string(c.bytes)));
        EXPECT_EQ(utf8CharCount(exactCopy(std::string(c.bytes)).get()), c.count);
    }
}

TEST(Utf16ToUtf8, EncodesEachUnitByItself) {
    struct Case {
        const char* label;
        std::u16string units;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", u"", ""},
        {"ascii", u"Golden Ball", "Golden Ball"},
        {"largest one-byte unit", u"\x7F", "\x7F"},
        {"smallest two-byte unit", u"\x80", "\xC2\x80"},
        {"e acute", u"\u00E9", "\xC3\xA9"},
        {"largest two-byte unit", u"\u07FF", "\xDF\xBF"},
        {"smallest three-byte unit", u"\u0800", "\xE0\xA0\x80"},
        {"euro sign", u"\u20AC", "\xE2\x82\xAC"},
        {"largest unit", u"\uFFFF", "\xEF\xBF\xBF"},
        {"surrogate pair is not paired", u"\xD83D\xDE00", "\xED\xA0\xBD\xED\xB8\x80"},
        {"mixed", u"a\u00E9\u20AC", "a\xC3\xA9\xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string got = encode(c.units);
        EXPECT_EQ(got, c.bytes) << "got " << hex(got) << "want " << hex(c.bytes);
    }
}

// Every nonzero unit, in one text, goes through both conversions unchanged.
TEST(TextConvert, EveryUnitRoundTrips) {
    std::u16string all;
    for (uint32_t u = 1; u <= 0xFFFF; ++u) {
        all += static_cast<char16_t>(u);
    }
    const std::string bytes = encode(all);
    EXPECT_EQ(bytes.size(), 0x7Fu * 1 + (0x800u - 0x80u) * 2 + (0x10000u - 0x800u) * 3);
    const std::u16string back = decode(bytes);
    ASSERT_EQ(back.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        if (back[i] != all[i]) {
            ADD_FAILURE() << "unit " << hex(all.substr(i, 1)) << "came back as " << hex(back.substr(i, 1));
            break;
        }
    }
}

TEST(TextConvert, NullTextGivesNoResult) {
    EXPECT_EQ(utf8CharCount(nullptr), 0);
    EXPECT_EQ(utf8ToUtf16(nullptr), nullptr);
    EXPECT_EQ(utf16ToUtf8(nullptr), nullptr);
}

}  // namespace

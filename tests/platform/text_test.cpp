// The ANSI code page conversions must read and write archive names exactly
// as Japanese Windows does: the same table runs against CP_ACP under Wine
// (LANG=ja_JP.UTF-8) and against the iconv back end.

#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

struct AnsiCase {
    const char* fault;
    std::string ansi;
    std::u16string wide;
};

const AnsiCase kRoundTrips[] = {
    {"ASCII changed", "readme.txt", u"readme.txt"},
    {"katakana misread", "\x83\x65\x83\x58\x83\x67", u"テスト"},
    {"0x5C trail byte of 表 taken as a separator", "\x95\x5C", u"表"},
    {"0x5C trail byte of ソ taken as a separator", "\x83\x5C\x2F\x61", u"ソ/a"},
    {"backslash read as yen sign", "a\\b", u"a\\b"},
    {"half-width katakana lost", "\xB1\xB2", u"ｱｲ"},
    {"wave dash mapped to the wrong code point", "\x81\x60", u"～"},
    {"NEC circled digit missing", "\x87\x40", u"①"},
    {"kanji path", "\x83\x66\x81\x5B\x83\x5E\x5C\x8E\xCA\x90\x5E", u"データ\\写真"},
};

TEST(AnsiCodePage, IsJapanese) { EXPECT_EQ(platform::AnsiCodePage(), 932u); }

TEST(AnsiCodePage, ConvertsBothWays) {
    for (const auto& c : kRoundTrips) {
        EXPECT_EQ(platform::AnsiToUtf16(c.ansi), c.wide) << c.fault;
        bool usedDefault = true;
        EXPECT_EQ(platform::Utf16ToAnsi(c.wide, &usedDefault), c.ansi) << c.fault;
        EXPECT_FALSE(usedDefault) << c.fault;
    }
}

TEST(AnsiCodePage, UnmappableCharactersBecomeTheDefaultCharacter) {
    struct Case {
        const char* fault;
        std::u16string wide;
        std::string ansi;
    };
    const Case cases[] = {
        {"Hangul not defaulted", u"a\uD55Cb", "a?b"},
        // Each half of a surrogate pair is one unit without a mapping.
        {"emoji (surrogate pair) not defaulted", u"x\U0001F600y", "x??y"},
        {"Devanagari not defaulted", u"\u0915", "?"},
        {"accented letter given a look-alike", u"caf\u00E9", "caf?"},
        {"wave dash (U+301C) taken for the full-width tilde", u"\u301C", "?"},
        {"double vertical line mapped", u"\u2016", "?"},
        {"minus sign taken for the full-width hyphen-minus", u"\u2212", "?"},
        {"overline taken for a tilde", u"\u203E", "?"},
        {"yen sign taken for a backslash", u"\u00A5", "?"},
        {"cent, pound and not signs mapped", u"\u00A2\u00A3\u00AC", "???"},
        {"broken bar given a look-alike", u"\u00A6", "?"},
    };
    for (const auto& c : cases) {
        bool usedDefault = false;
        EXPECT_EQ(platform::Utf16ToAnsi(c.wide, &usedDefault), c.ansi) << c.fault;
        EXPECT_TRUE(usedDefault) << c.fault;
    }
}

TEST(AnsiCodePage, BrokenMultiByteTextReadsAsWindowsReadsIt) {
    struct Case {
        const char* fault;
        std::string ansi;
        std::u16string wide;
    };
    const Case cases[] = {
        {"lead byte at the end swallowed", "ab\x8C", u"ab\u30FB"},
        {"lead byte and a space not taken as one", "\x81\x20z", u"\u30FBz"},
        {"lead byte and DEL not taken as one", "\x81\x7Fz", u"\u30FBz"},
        {"0x80 not kept", "\x80", u"\u0080"},
        {"0xA0 not kept", "\xA0", u"\uF8F0"},
        {"0xFD to 0xFF not kept", "\xFD\xFE\xFF", u"\uF8F1\uF8F2\uF8F3"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::AnsiToUtf16(c.ansi), c.wide) << c.fault;
}

// Windows may run with UTF-8 as its ANSI code page: the conversions must
// use only what that code page accepts, and still convert.
TEST(AnsiCodePage, Utf8AsTheSystemCodePageConverts) {
    const struct {
        const char* fault;
        std::u16string wide;
        std::string bytes;
        bool usedDefault;
    } cases[] = {
        {"Japanese path refused", u"D:\\データ\\写真", "D:\\\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\\\xE5\x86\x99\xE7\x9C\x9F", false},
        {"accented letter defaulted where UTF-8 has it", u"caf\u00E9", "caf\xC3\xA9", false},
        {"emoji split", u"\U0001F600", "\xF0\x9F\x98\x80", false},
        {"lone surrogate passed as a character", u"a\xD800" u"b", "a\xEF\xBF\xBD" "b", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        bool usedDefault = !c.usedDefault;
        EXPECT_EQ(platform::Utf16ToCodePage(c.wide, 65001, &usedDefault), c.bytes);
        EXPECT_EQ(usedDefault, c.usedDefault);
        if (!c.usedDefault) {
            EXPECT_EQ(platform::CodePageToUtf16(c.bytes, 65001), c.wide);
        }
    }
    // The same calls for 932 keep refusing what that code page lacks.
    bool usedDefault = false;
    EXPECT_EQ(platform::Utf16ToCodePage(u"caf\u00E9", 932, &usedDefault), "caf?");
    EXPECT_TRUE(usedDefault);
}

TEST(Utf8, RoundTripsAndRepairsIllFormedInput) {
    const std::u16string text = u"Photos/写真\U0001F600.txt";
    EXPECT_EQ(platform::Utf8ToUtf16(platform::Utf16ToUtf8(text)), text);
    EXPECT_EQ(platform::Utf8ToUtf16("a\xC3"), u"a\uFFFD") << "truncated sequence";
    EXPECT_EQ(platform::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD") << "overlong slash accepted";
    EXPECT_EQ(platform::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD") << "encoded surrogate accepted";
}

}  // namespace

// The limits of POSIX paths are counted in UTF-8 bytes without making the
// text: the count must be the length of the text made.
TEST(Utf8, LengthIsThatOfTheConversion) {
    const std::u16string cases[] = {
        u"readme.txt", u"写真/データ", u"\u00E9\u07FF\u0800", u"\U0001F600 smile", u"lone \xD800 high", u"lone \xDC00 low",
        u"\xD800",
    };
    for (const auto& text : cases) EXPECT_EQ(platform::Utf8Length(text), platform::Utf16ToUtf8(text).size());
}

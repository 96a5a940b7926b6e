#include <gtest/gtest.h>

#include <string>

#include "codec/percent.h"

namespace tessaly {
namespace {

struct Case {
    std::u16string text;
    bool option;
    std::u16string encoded;
};

TEST(Encode, WorkedExamples) {
    const Case cases[] = {
        {u"テスト", false, u"%83e%83X%83g"},  // 83 65 83 58 83 67
        {u"テスト", true, u"%83e%83X%83g"},
        {u"あ", false, u"%82%A0"},
        {u"あ", true, u"%82%A0"},
        {u"a b", false, u"a b"},
        {u"a b", true, u"a b"},
        {u"A\r\nB", false, u"A%0D%0AB"},
        {u"A\r\nB", true, u"A&B"},
        {u"A\r", true, u"A\r"},
        {u"A\t", false, u"A%09"},
        {u"A\t", true, u"A%09"},
        {u"漢字テスト\r\n", false, u"%8A%BF%8E%9A%83e%83X%83g%0D%0A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Encode(c.text, c.option), c.encoded) << "option " << c.option;
    }
}

TEST(Encode, EmptyAndPrintableAsciiAreUnchanged) {
    std::u16string printable;
    for (char16_t c = 0x20; c <= 0x7E; ++c) printable += c;  // "%", "&", "+" included
    for (const bool option : {false, true}) {
        EXPECT_EQ(Encode(u"", option), u"");
        EXPECT_EQ(Encode(printable, option), printable);
    }
}

TEST(Encode, ControlAndHighBytesAreEscapedWithTwoUppercaseDigits) {
    EXPECT_EQ(Encode(std::u16string(1, u'\0'), false), u"%00");
    EXPECT_EQ(Encode(u"\x1F\x7F", false), u"%1F%7F");
    EXPECT_EQ(Encode(u"\uF8F3", false), u"%FF");  // the single byte 0xFF
    EXPECT_EQ(Encode(u"\uF8F0\u0080", false), u"%A0%80");
    EXPECT_EQ(Encode(u"ｱ", false), u"%B1");  // half-width katakana, one byte
    EXPECT_EQ(Encode(u"\n", true), u"%0A");  // a lone LF, whatever the option
}

TEST(Encode, TrailByteIsLiteralExactlyWhenPrintable) {
    EXPECT_EQ(Encode(u"\u3000", false), u"%81@");   // 81 40, lowest trail byte
    EXPECT_EQ(Encode(u"\u00D7", false), u"%81~");   // 81 7E
    EXPECT_EQ(Encode(u"\u00F7", false), u"%81%80");  // 81 80
    EXPECT_EQ(Encode(u"ソ", false), u"%83\\");       // 83 5C
}

TEST(Encode, CrLfOption) {
    EXPECT_EQ(Encode(u"a\r\n\tb\r\n", true), u"a&%09b&");  // the byte after LF is escaped as usual
    EXPECT_EQ(Encode(u"a\r\n\tb\r\n", false), u"a%0D%0A%09b%0D%0A");
    EXPECT_EQ(Encode(u"\r\n\r\n", true), u"&&");
    EXPECT_EQ(Encode(u"\r", true), u"\r");
    EXPECT_EQ(Encode(u"\r", false), u"%0D");
}

TEST(Encode, LoneCrCopiesItsPartnerRaw) {
    EXPECT_EQ(Encode(u"\rA%", true), u"\rA%");
    EXPECT_EQ(Encode(u"\r\tx", true), u"\r\tx");        // the TAB is not escaped
    EXPECT_EQ(Encode(u"\r\r\n", true), u"\r\r%0A");     // the second CR is the partner
    EXPECT_EQ(Encode(u"\rｱ\t", true), u"\rｱ%09");       // raw 0xB1, then encoding resumes
    EXPECT_EQ(Encode(u"\r\u0080", true), u"\r\u0080");  // raw 0x80
    EXPECT_EQ(Encode(u"\r\u00C0", true), u"\rA");       // raw byte of a best-fit character
}

TEST(Encode, LoneCrKeepsADoubleByteCharacterWhole) {
    EXPECT_EQ(Encode(u"\rエ", true), u"\rエ");
    EXPECT_EQ(Encode(u"\rあい", true), u"\rあ%82%A2");
    EXPECT_EQ(Encode(u"\r\u2212", true), u"\r\uFF0D");  // look-alike: its twin's bytes come back
}

TEST(Encode, UnmappableCharactersBecomeOneQuestionMark) {
    EXPECT_EQ(Encode(u"€", false), u"?");
    EXPECT_EQ(Encode(u"a😀b", false), u"a?b");                  // a pair gives one '?'
    EXPECT_EQ(Encode(u"\xD83D", false), u"?");                  // lone high surrogate
    EXPECT_EQ(Encode(u"\xDE00x", false), u"?x");                // lone low surrogate
    EXPECT_EQ(Encode(u"\xD83D\xD83D\xDE00", false), u"??");     // lone high, then a pair
    EXPECT_EQ(Encode(u"\r😀x", true), u"\r?x");
}

TEST(Encode, BestFitAndLookAlikes) {
    EXPECT_EQ(Encode(u"Àé", false), u"Ae");
    EXPECT_EQ(Encode(u"\u00A5", false), u"\\");
    EXPECT_EQ(Encode(u"\u2014", false), u"%81\\");  // as U+2015
    EXPECT_EQ(Encode(u"\u2016", false), u"%81a");   // as U+2225
    EXPECT_EQ(Encode(u"\u2212", false), u"%81|");   // as U+FF0D
    EXPECT_EQ(Encode(u"\u301C", false), u"%81`");   // as U+FF5E
}

TEST(Encode, EncodingTwiceKeepsTheEscapes) {
    EXPECT_EQ(Encode(Encode(u"あ\t", false), false), u"%82%A0%09");
}

}  // namespace
}  // namespace tessaly

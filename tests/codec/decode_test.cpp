#include <gtest/gtest.h>

#include <string>

#include "codec/percent.h"

namespace tessaly {
namespace {

struct Case {
    std::u16string text;
    std::u16string decoded;
};

template <std::size_t N>
void ExpectDecodes(const Case (&cases)[N], bool option) {
    for (const Case& c : cases) EXPECT_EQ(Decode(c.text, option), c.decoded) << "option " << option;
}

template <std::size_t N>
void ExpectDecodesEither(const Case (&cases)[N]) {
    ExpectDecodes(cases, false);
    ExpectDecodes(cases, true);
}

TEST(Decode, WorkedExamples) {
    const Case either[] = {
        {u"%83e%83X%83g", u"テスト"}, {u"%82%A0", u"あ"}, {u"A%0D%0AB", u"A\r\nB"},
        {u"50%", u"50%"},             {u"x%4", u"x%4"},   {u"x%41", u"x%41"},
        {u"%41B", u"AB"},
    };
    ExpectDecodesEither(either);
    EXPECT_EQ(Decode(u"A&B", true), u"A\r\nB");
    EXPECT_EQ(Decode(u"A&B", false), u"A&B");
}

TEST(Decode, TextWithoutEscapesIsUnchanged) {
    const Case either[] = {{u"", u""}, {u"plain テキスト\r\n+=?/#", u"plain テキスト\r\n+=?/#"}};
    ExpectDecodesEither(either);
    EXPECT_EQ(Decode(u"a&&b", false), u"a&&b");
    EXPECT_EQ(Decode(u"a&&b", true), u"a\r\n\r\nb");
}

TEST(Decode, EscapesAtTheEndOfTheText) {
    const Case either[] = {
        {u"x%82%A0", u"xあ"},      // a full pair at the end is decoded
        {u"x%0D%0A", u"x\r\n"},
        {u"%", u"%"},
        {u"%&", u"%&"},            // copied, even with the option on
        {u"%4&", u"%4&"},
        {u"A%09", u"A%09"},        // a lone escape has no partner
        {u"%41%42%43", u"AB%43"},  // units never overlap
        {u"%41%4", u"%41%4"},
        {u"%41%", u"A%"},          // "%" as the literal partner
    };
    ExpectDecodesEither(either);
}

TEST(Decode, UnitsPairALoneByteWithTheNextLeadByte) {
    const Case either[] = {
        {u"%09%82%A0", u"\t\u30FB%A0"},
        {u"%B1%82%A0", u"ｱ\u30FB%A0"},
        {u"x%41y", u"xAy"},
        {u"%0D%0A%82%A0", u"\r\nあ"},
    };
    ExpectDecodesEither(either);
}

TEST(Decode, InvalidPiecesGiveTheDefaultCharacter) {
    const Case either[] = {
        {u"%82%20", u"\u30FB "},       // 0x20 cannot trail
        {u"%82%7F", u"\u30FB\x7F"},    // nor can 0x7F
        {u"%82%FD", u"\u30FB\uF8F1"},  // nor 0xFD, which then stands alone
        {u"%85%40", u"\u30FB"},        // a valid pair without a character
        {u"%82&", u"\u30FB&"},         // "&" inside a unit stays literal
    };
    ExpectDecodesEither(either);
}

TEST(Decode, LiteralPartnerIsConvertedWithItsBytes) {
    const Case either[] = {
        {u"%41あ", u"Aあ"},           // 41 | 82 A0
        {u"%82あ", u"\uFF42\uF8F0"},  // 82 82 is "ｂ", then A0 alone
        {u"%83ア", u"ャA"},           // 83 83 is "ャ", then 41 alone
        {u"%82!", u"\u30FB!"},
    };
    ExpectDecodesEither(either);
}

TEST(Decode, UnrepresentableLiteralPartnerIsKept) {
    const Case either[] = {
        {u"%82€", u"\u30FB€"},
        {u"%41€x", u"A€x"},
        {u"%41😀", u"A😀"},        // the pair stays whole
        {u"%41\xDE00", u"A\xDE00"},
        {u"%41À", u"AÀ"},          // one-way best fit: not decoded either
        {u"%41\u2212", u"A\u2212"},
    };
    ExpectDecodesEither(either);
}

TEST(Decode, LowercaseDigits) {
    const Case either[] = {{u"%82%a0", u"あ"}, {u"%8a%bf%8e%9a", u"漢字"}, {u"%83e", u"テ"}};
    ExpectDecodesEither(either);
}

TEST(Decode, NonDigitsEndTheEscape) {
    const Case either[] = {
        {u"%G1B", u"%G1B"},
        {u"%4GA", u"%4GA"},
        {u"%4G%41B", u"%4GAB"},       // decoding resumes right after the "%"
        {u"%%41B", u"%AB"},
        {u"%あ1x", u"%あ1x"},
        {u"%41%G1", u"A%G1"},         // the second "%" is the first escape's partner
        {u"%82%4G", u"\u30FB%4G"},
        {u"%41%%42x", u"A%Bx"},
    };
    ExpectDecodesEither(either);
    EXPECT_EQ(Decode(u"%4&x", true), u"%4\r\nx");  // the "&" is not inside a unit
    EXPECT_EQ(Decode(u"%41%&2x", true), u"A%\r\n2x");
}

}  // namespace
}  // namespace tessaly

#include <gtest/gtest.h>

#include <string>

#include "codec/codepage.h"
#include "codec/fidelity.h"
#include "codec/utf8.h"

#include <random>

namespace tessaly {
namespace {

TEST(CodePageToText, SingleBytes) {
    EXPECT_EQ(CodePageBridge::ToText(std::string("a\0~\x7F", 4)), std::u16string(u"a\0~\x7F", 4));
    EXPECT_EQ(CodePageBridge::ToText("\x80\xA0\xA1\xB1\xDF"), u"\u0080\uF8F0｡ｱﾟ");
    EXPECT_EQ(CodePageBridge::ToText("\xFD\xFE\xFF"), u"\uF8F1\uF8F2\uF8F3");
}

TEST(CodePageToText, LeadAndTrailBytes) {
    EXPECT_EQ(CodePageBridge::ToText("\x82\xA0\x83\x47\x81\x40"), u"あエ\u3000");
    EXPECT_EQ(CodePageBridge::ToText("\x88\x9F\xFC\x4B"), u"亜\u9ED1");  // first and last kanji
}

TEST(CodePageToText, LeadByteWithoutValidTrail) {
    EXPECT_EQ(CodePageBridge::ToText("\x82"), u"\u30FB");              // at the end
    EXPECT_EQ(CodePageBridge::ToText("\x82 A"), u"\u30FB A");          // the next byte stands alone
    EXPECT_EQ(CodePageBridge::ToText("\x82\x7F"), u"\u30FB\x7F");
    EXPECT_EQ(CodePageBridge::ToText("\x82\xFD"), u"\u30FB\uF8F1");
    EXPECT_EQ(CodePageBridge::ToText("\x82\x0A\x82"), u"\u30FB\n\u30FB");
    EXPECT_EQ(CodePageBridge::ToText("\x82\x82\xA0"), u"\uFF42\uF8F0");  // a lead byte can trail
}

TEST(CodePageToText, ValidPairWithoutCharacterConsumesBothBytes) {
    EXPECT_EQ(CodePageBridge::ToText("\x85\x40" "A"), u"\u30FBA");
    EXPECT_EQ(CodePageBridge::ToText("\xEB\x9F" "A"), u"\u30FBA");
    EXPECT_EQ(CodePageBridge::ToText("\x82\x40" "A"), u"\u30FBA");  // 82 40 is unassigned
}

TEST(CodePageToBytes, Characters) {
    EXPECT_EQ(CodePageBridge::ToBytes(u"A あ\r\n"), "A \x82\xA0\r\n");
    EXPECT_EQ(CodePageBridge::ToBytes(u"ｱ\uF8F0\u0080"), "\xB1\xA0\x80");
    EXPECT_EQ(CodePageBridge::ToBytes(u"・"), "\x81\x45");
    EXPECT_EQ(CodePageBridge::ToBytes(u"\uE000"), "\xF0\x40");  // user-defined area
}

TEST(CodePageToBytes, DuplicateCodesUseThePreferredOne) {
    EXPECT_EQ(CodePageBridge::ToBytes(u"∵"), "\x81\xE6");  // not 87 9A or FA 5B
    EXPECT_EQ(CodePageBridge::ToBytes(u"ⅰ"), "\xFA\x40");  // not EE EF
    EXPECT_EQ(CodePageBridge::ToBytes(u"Ⅰ"), "\x87\x54");  // not FA 4A
    EXPECT_EQ(CodePageBridge::ToBytes(u"￢"), "\x81\xCA");  // not EE F9 or FA 54
    EXPECT_EQ(CodePageBridge::ToText("\xEE\xEF\x87\x9A"), u"ⅰ∵");  // both still decode
}

TEST(CodePageToBytes, UnmappableAndSurrogates) {
    EXPECT_EQ(CodePageBridge::ToBytes(u"€\u00BF"), "??");
    EXPECT_EQ(CodePageBridge::ToBytes(u"😀"), "?");
    EXPECT_EQ(CodePageBridge::ToBytes(u"\xD83Dx\xDE00"), "?x?");
    EXPECT_EQ(CodePageBridge::ToBytes(u"\xDE00\xD83D"), "??");  // reversed: two lone halves
}

TEST(CodePageToBytes, BestFitAndLookAlikes) {
    EXPECT_EQ(CodePageBridge::ToBytes(u"ÀçÑßÿ"), "AcNsy");
    EXPECT_EQ(CodePageBridge::ToBytes(u"\u00A5\u00B5\u3094"), "\\\x83\xCA\x83\x94");
    EXPECT_EQ(CodePageBridge::ToBytes(u"\u2014\u2016\u2212\u301C"), "\x81\x5C\x81\x61\x81\x7C\x81\x60");
    EXPECT_EQ(CodePageBridge::ToText("\x81\x5C\x81\x61\x81\x7C\x81\x60"), u"\u2015\u2225\uFF0D\uFF5E");
}

TEST(CodePageBridge, AppendKeepsWhatIsThere) {
    std::u16string text = u"x";
    CodePageBridge::AppendText(text, "\x82");
    CodePageBridge::AppendText(text, "\xA0");  // separate pieces are not joined
    EXPECT_EQ(text, u"x\u30FB\uF8F0");
    std::string bytes = "y";
    CodePageBridge::AppendBytes(bytes, u"あ");
    EXPECT_EQ(bytes, "y\x82\xA0");
    EXPECT_EQ(CodePageBridge::ToText(""), u"");
    EXPECT_EQ(CodePageBridge::ToBytes(u""), "");
}

// AppendUtf8 against the text AppendText gives, as UTF-8: every byte pair
// after every byte, ASCII runs around them, and random bytes, whole and in
// pieces (a lead byte that ends a piece waits for the next).
TEST(CodePageBridge, Utf8IsTheTextsUtf8) {
    std::string every = "0123456789abcdefghij";
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        for (unsigned b1 = 0; b1 < 256; ++b1) every += {static_cast<char>(b0), static_cast<char>(b1), ' '};
    }
    std::mt19937 rng(3);
    std::string random;
    for (int i = 0; i < 200000; ++i) random += static_cast<char>(rng() % 3 == 0 ? 'a' + rng() % 26 : rng() % 256);
    // A pair whose trail byte is ASCII across every alignment, ASCII after.
    std::string across;
    for (std::size_t at = 0; at < 140; ++at) across += std::string(at, 'a') + "\x83\x58" + std::string(140 - at, 'b');
    for (const std::string& bytes : {every, random, across, std::string("\x82"), std::string()}) {
        const std::string want = Utf16ToUtf8(CodePageBridge::ToText(bytes));
        std::string whole = "x";
        EXPECT_EQ(CodePageBridge::AppendUtf8(whole, bytes), bytes.size());
        ASSERT_EQ(whole, "x" + want);
        std::string pieces, held;
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t next = std::min(bytes.size(), at + rng() % 40);
            held += bytes.substr(at, next - at);
            at = next;
            held.erase(0, CodePageBridge::AppendUtf8(pieces, held, at == bytes.size()));
        }
        EXPECT_TRUE(held.empty());
        ASSERT_EQ(pieces, want);
    }
}

}  // namespace
}  // namespace tessaly

namespace tessaly {
namespace {

// FindByteLoss against a plain reading: each character as the reader splits
// the bytes, through the text and back.
ByteLoss PlainByteLoss(std::string_view bytes) {
    ByteLoss loss;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t n = i + 1 < bytes.size() && CodePageBridge::ToText(bytes.substr(i, 2)).size() == 1 ? 2 : 1;
        if (CodePageBridge::ToBytes(CodePageBridge::ToText(bytes.substr(i, n))) != bytes.substr(i, n)) {
            if (loss.count == 0) loss.first = i;
            loss.count += n;
        }
        i += n;
    }
    return loss;
}

TEST(Fidelity, ByteLossMatchesAPlainReading) {
    std::mt19937 rng(932);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        const int n = static_cast<int>(rng() % 64);
        for (int i = 0; i < n; ++i) {
            // ASCII runs (the fast path) mixed with any byte.
            bytes += rng() % 2 ? static_cast<char>('a' + rng() % 26) : static_cast<char>(rng());
        }
        const ByteLoss want = PlainByteLoss(bytes);
        const ByteLoss got = FindByteLoss(bytes);
        ASSERT_EQ(got.count, want.count) << testing::PrintToString(bytes);
        ASSERT_EQ(got.first, want.first) << testing::PrintToString(bytes);
    }
}

}  // namespace
}  // namespace tessaly

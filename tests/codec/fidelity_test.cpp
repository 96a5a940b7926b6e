// What a trip through the code page loses, checked against the plain
// conversions of CodePageBridge: a text (or bytes) is clean exactly when the
// round trip gives it back, and every character (or byte) counted is one the
// round trip changes.
#include "codec/fidelity.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codec/codepage.h"

namespace tessaly {
namespace {

// The text with each intended look-alike replaced by what its bytes give.
std::u16string WithTwins(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        if (IsIntendedLookAlike(c)) c = CodePageBridge::ToText(CodePageBridge::ToBytes(std::u16string(1, c)))[0];
    }
    return out;
}

// The reference: one character (a surrogate pair or one unit) at a time.
TextLoss ReferenceTextLoss(std::u16string_view text) {
    TextLoss loss;
    for (std::size_t i = 0; i < text.size();) {
        const bool pair = i + 1 < text.size() && (text[i] & 0xFC00) == 0xD800 && (text[i + 1] & 0xFC00) == 0xDC00;
        const std::u16string one(text.substr(i, pair ? 2 : 1));
        const std::u16string back = CodePageBridge::ToText(CodePageBridge::ToBytes(one));
        if (back != WithTwins(one) && loss.count++ == 0) {
            loss.first = i;
            loss.firstBecomes = back;
        }
        i += one.size();
    }
    return loss;
}

TEST(FindTextLoss, CountsWhatTheBytesCannotHold) {
    const TextLoss loss = FindTextLoss(u"A\U0001F600B€C");
    EXPECT_EQ(loss.count, 2u);  // the emoji counts once
    EXPECT_EQ(loss.first, 1u);
    EXPECT_EQ(loss.firstBecomes, u"?");
    EXPECT_EQ(CodePageBridge::ToBytes(u"A\U0001F600B€C"), "A?B?C");

    const TextLoss bestFit = FindTextLoss(u"caf\u00E9");  // é is written as e
    EXPECT_EQ(bestFit.count, 1u);
    EXPECT_EQ(bestFit.first, 3u);
    EXPECT_EQ(bestFit.firstBecomes, u"e");

    // Lone surrogates, at the end and before another character.
    const TextLoss lone = FindTextLoss(u"x\xD800y\xDC00");
    EXPECT_EQ(lone.count, 2u);
    EXPECT_EQ(lone.first, 1u);
    EXPECT_EQ(lone.firstBecomes, u"?");
}

TEST(FindTextLoss, CleanTextLineBreaksAndLookAlikesCountNothing) {
    for (const char16_t* clean : {u"", u"テスト\r\nabc\r\n", u"\r\n\r\n", u"日本語、表ソ～", u"\t\x01\x7F"}) {
        const TextLoss loss = FindTextLoss(clean);
        EXPECT_EQ(loss.count, 0u);
        EXPECT_EQ(loss.first, TextLoss::npos);
    }
    // The four look-alikes do change on the way (to their Windows twins),
    // yet they are written that way on purpose.
    const std::u16string lookAlikes = u"\u2014\u2016\u2212\u301C";
    EXPECT_NE(CodePageBridge::ToText(CodePageBridge::ToBytes(lookAlikes)), lookAlikes);
    EXPECT_EQ(FindTextLoss(lookAlikes).count, 0u);
    int count = 0;
    for (char32_t c = 0; c < 0x10000; ++c) count += IsIntendedLookAlike(static_cast<char16_t>(c));
    EXPECT_EQ(count, 4);
}

TEST(FindTextLoss, AgreesWithTheRoundTripOnRandomTexts) {
    std::mt19937 random(932);
    for (int round = 0; round < 3000; ++round) {
        std::u16string text;
        const int length = static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) {
            switch (random() % 5) {
            case 0: text += static_cast<char16_t>(random() % 0x80); break;
            case 1: text += static_cast<char16_t>(0xD800 + random() % 0x800); break;  // surrogates
            case 2: text += u"\u2014\u2016\u2212\u301C\r\n"[random() % 6]; break;
            default: text += static_cast<char16_t>(random() % 0x10000); break;
            }
        }
        SCOPED_TRACE(::testing::Message() << "round " << round);
        const TextLoss loss = FindTextLoss(text);
        const TextLoss reference = ReferenceTextLoss(text);
        ASSERT_EQ(loss.count, reference.count);
        ASSERT_EQ(loss.first, reference.first);
        ASSERT_EQ(loss.firstBecomes, reference.firstBecomes);
        // Clean exactly when the whole text comes back (look-alikes as twins).
        ASSERT_EQ(loss.count == 0, CodePageBridge::ToText(CodePageBridge::ToBytes(text)) == WithTwins(text));
    }
}

TEST(FindByteLoss, ValidShiftJisIsCleanInvalidBytesAndTheNecRowsAreNot) {
    EXPECT_EQ(FindByteLoss("").count, 0u);
    EXPECT_EQ(FindByteLoss("\x83\x65\x83\x58\x83\x67\r\nabc\t\x80\xA0\xFD").count, 0u);
    EXPECT_EQ(FindByteLoss("").first, ByteLoss::npos);

    // UTF-8 "é" (C3 A9): C3 and A9 are half-width kana, clean on their own;
    // "日" (E6 97 A5): E6 97 is a pair, A5 a kana.
    const ByteLoss utf8 = FindByteLoss("ab\xE3\x81\x82");  // "あ": E3 81 is a pair, 82 a lead at the end
    EXPECT_EQ(utf8.count, 1u);
    EXPECT_EQ(utf8.first, 4u);

    // NEC-selected IBM rows ED and EE are written back as FA to FC.
    const ByteLoss nec = FindByteLoss("a\xED\x40" "b\xEE\xFC");
    EXPECT_EQ(nec.count, 4u);
    EXPECT_EQ(nec.first, 1u);
    EXPECT_EQ(CodePageBridge::ToBytes(CodePageBridge::ToText("\xED\x40")), "\xFA\x5C");

    // A lead byte whose next byte cannot trail stands alone and is lost.
    const ByteLoss lone = FindByteLoss("\x81\x20\x81");
    EXPECT_EQ(lone.count, 2u);
    EXPECT_EQ(lone.first, 0u);
}

TEST(FindByteLoss, AgreesWithTheRoundTripOnRandomBytes) {
    std::mt19937 random(1252);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        const int length = static_cast<int>(random() % 8);
        for (int i = 0; i < length; ++i) bytes += static_cast<char>(random() % 256);
        SCOPED_TRACE(::testing::Message() << "round " << round);
        const ByteLoss loss = FindByteLoss(bytes);
        const std::string back = CodePageBridge::ToBytes(CodePageBridge::ToText(bytes));
        ASSERT_EQ(loss.count == 0, back == bytes);
        ASSERT_LE(loss.count, bytes.size());
        ASSERT_EQ(loss.count == 0, loss.first == ByteLoss::npos);
        if (loss.count) {
            // Everything before the first one comes back as it was.
            const std::string head = bytes.substr(0, loss.first);
            ASSERT_EQ(CodePageBridge::ToBytes(CodePageBridge::ToText(head)), head);
            ASSERT_EQ(back.compare(0, loss.first, head), 0);
        }
    }
}

TEST(FindByteLoss, CountsEveryByteOfEachCharacterThatChanges) {
    // Pieces whose fate is known on their own: clean pairs and bytes, pairs
    // of the NEC rows, and lone lead bytes before a byte that cannot trail.
    std::vector<std::string> clean, lost;
    for (unsigned b = 0; b < 0x100; ++b) {
        for (unsigned t = 0x40; t <= 0xFC; ++t) {
            const std::string pair{static_cast<char>(b), static_cast<char>(t)};
            const std::u16string text = CodePageBridge::ToText(pair);
            if (text.size() != 1) continue;
            (CodePageBridge::ToBytes(text) == pair ? clean : lost).push_back(pair);
        }
        const std::string one(1, static_cast<char>(b));
        if (CodePageBridge::ToText(one + "\r").size() == 2) {
            (CodePageBridge::ToBytes(CodePageBridge::ToText(one)) == one ? clean : lost).push_back(one + "\r");
        }
    }
    ASSERT_GT(lost.size(), 2u * 188);  // the rows ED and EE at least
    std::mt19937 random(65001);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        std::uint64_t expected = 0;
        std::size_t first = ByteLoss::npos;
        for (int i = static_cast<int>(random() % 10); i > 0; --i) {
            const bool isLost = random() % 4 == 0;
            const std::string& piece = isLost ? lost[random() % lost.size()] : clean[random() % clean.size()];
            if (isLost) {
                if (first == ByteLoss::npos) first = bytes.size();
                expected += piece.back() == '\r' ? 1 : piece.size();
            }
            bytes += piece;
        }
        const ByteLoss loss = FindByteLoss(bytes);
        ASSERT_EQ(loss.count, expected) << round;
        ASSERT_EQ(loss.first, first) << round;
    }
}

}  // namespace
}  // namespace tessaly

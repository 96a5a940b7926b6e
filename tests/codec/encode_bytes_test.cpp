// The byte route of Encode against the text route it stands for:
// ToBytes(Encode(ToText(bytes))), with the loss FindByteLoss finds, on random
// bytes whole and cut into random pieces.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codec/codepage.h"
#include "codec/fidelity.h"
#include "codec/percent.h"

namespace tessaly {
namespace {

std::string Reference(std::string_view bytes, bool option) {
    return CodePageBridge::ToBytes(Encode(CodePageBridge::ToText(bytes), option));
}

// Bytes where every kind of character is common: ASCII, CR and LF, lead
// bytes with and without valid trails, invalid and one-way pairs.
std::string RandomBytes(std::mt19937& rng, std::size_t size) {
    static const unsigned char kPicks[] = {'\r', '\n', 'a', '%', '&', 0x00, 0x7F, 0x80, 0xA0, 0xFD,
                                           0xFF, 0x81, 0x82, 0x87, 0xED, 0xEE, 0xFA, 0xFC, 0x40, 0x7E,
                                           0x5C, 0xA1, 0xDF, 0xE0, 0x9F};
    std::string bytes(size, '\0');
    for (char& b : bytes) {
        const unsigned r = rng() % 4;
        b = static_cast<char>(r == 0 ? rng() % 256 : r == 1 ? 0x20 + rng() % 0x5F : kPicks[rng() % sizeof kPicks]);
    }
    return bytes;
}

TEST(EncodeBytes, MatchesTheTextRouteWholeAndInPieces) {
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        const std::string bytes = RandomBytes(rng, rng() % (round < 2900 ? 64 : 9000));
        for (const bool option : {false, true}) {
            const std::string want = Reference(bytes, option);
            const ByteLoss wantLoss = FindByteLoss(bytes);

            std::string whole = "x";  // appends, keeping what is there
            ByteLoss loss;
            EXPECT_EQ(EncodeBytesAppend(whole, bytes, option, true, &loss), bytes.size());
            ASSERT_EQ(whole, "x" + want) << "option " << option << " round " << round;
            EXPECT_EQ(loss.count, wantLoss.count);
            EXPECT_EQ(loss.first, wantLoss.first);

            // Random pieces, the unconverted rest put in front of the next.
            std::string out, pending;
            ByteLoss pieceLoss;
            std::size_t at = 0, offset = 0;
            while (at < bytes.size()) {
                const std::size_t n = std::min<std::size_t>(bytes.size() - at, rng() % 8);
                pending += bytes.substr(at, n);
                at += n;
                ByteLoss here;
                const std::size_t used = EncodeBytesAppend(out, pending, option, false, &here);
                ASSERT_LE(used, pending.size());
                EXPECT_LE(pending.size() - used, 2u);  // a lead byte, a CR
                // What is converted is decided: the text route agrees on it.
                EXPECT_EQ(here.count, FindByteLoss(pending.substr(0, used)).count);
                if (pieceLoss.count == 0 && here.count > 0) pieceLoss.first = offset + here.first;
                pieceLoss.count += here.count;
                pending.erase(0, used);
                offset += used;
            }
            ByteLoss here;
            EXPECT_EQ(EncodeBytesAppend(out, pending, option, true, &here), pending.size());
            if (pieceLoss.count == 0 && here.count > 0) pieceLoss.first = offset + here.first;
            pieceLoss.count += here.count;
            ASSERT_EQ(out, want) << "option " << option << " round " << round;
            EXPECT_EQ(pieceLoss.count, wantLoss.count);
            EXPECT_EQ(pieceLoss.first, wantLoss.first);
        }
    }
}

TEST(EncodeBytes, EveryByteAndPairAlone) {
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        for (unsigned b1 = 0; b1 < 256; ++b1) {
            const char two[] = {static_cast<char>(b0), static_cast<char>(b1), '\r', static_cast<char>(b0)};
            for (std::size_t n : {1, 2, 4}) {
                if (n == 1 && b1 != 0) continue;
                const std::string_view bytes(two, n);
                for (const bool option : {false, true}) {
                    std::string out;
                    EncodeBytesAppend(out, bytes, option, true);
                    ASSERT_EQ(out, Reference(bytes, option)) << std::hex << b0 << " " << b1 << " " << n;
                }
            }
        }
    }
}

}  // namespace
}  // namespace tessaly

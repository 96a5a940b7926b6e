// The byte route of Encode, and of the escape sets, on text-like bytes (long
// stretches of characters that write back their own bytes, which the route
// takes many at a time) against the text route, at every alignment and
// length, whole and in pieces, with the loss counts.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codec/codepage.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"

namespace tessaly {
namespace {

std::string Reference(std::string_view bytes, bool option) {
    return CodePageBridge::ToBytes(Encode(CodePageBridge::ToText(bytes), option));
}

// Mostly characters that come back as their bytes (ASCII runs, kana, kanji,
// half-width kana, controls, CR LF), now and then one that does not: a
// lone lead byte, a pair the code page lacks or maps one way, a stray byte.
std::string TextLikeBytes(std::mt19937& rng, std::size_t size) {
    const std::string good = CodePageBridge::ToBytes(u"漢字テストあいうえおソ表能ｱｲｳﾞ\t\r\n、。");
    static const char* const kBad[] = {"\x81", "\x82\x40", "\xED\x40", "\xFA\x40", "\x87\x90", "\xFD", "\x80",
                                       "\xA0", "\x81\x7F", "\xFF\xFF", "\x88\x40", "\xEA\xA5",
                                       // just past the ranges of whole rows, kana and punctuation
                                       "\x89\x7F", "\x83\x97", "\x82\xF2", "\x82\x9E", "\x81\xAD", "\x98\x73"};
    std::string bytes;
    const unsigned badOdds = 2 + rng() % 400;
    while (bytes.size() < size) {
        const unsigned r = rng() % 16;
        if (rng() % badOdds == 0) {
            bytes += kBad[rng() % std::size(kBad)];
        } else if (r < 3) {
            bytes.append(rng() % 80, static_cast<char>(0x20 + rng() % 0x5F));
        } else if (r < 6) {  // bytes that may each lead and trail: pairs split by parity
            for (unsigned n = rng() % 70; n > 0; --n) bytes += static_cast<char>(rng() % 2 ? 0x88 + rng() % 8 : 0xE0 + rng() % 8);
        } else {
            const std::size_t at = rng() % good.size();
            bytes += good.substr(at, 1 + rng() % 12);
        }
    }
    bytes.resize(size);
    return bytes;
}

// The printable route, and the escape sets of EncodeUrlFromBytesAppend in
// turn, against the text route.
void CheckTextLikeBytes(int rounds) {
    std::mt19937 rng(932);
    for (int round = 0; round < rounds; ++round) {
        const std::size_t size = round < 400 ? static_cast<std::size_t>(round) : rng() % 3000;
        const std::size_t offset = rng() % 16;
        const std::string buffer = std::string(offset, 'x') + TextLikeBytes(rng, size);
        const std::string_view bytes = std::string_view(buffer).substr(offset);
        const bool option = rng() % 2;
        const EncodeOptions set{Charset::kShiftJis, round % 2 ? EscapeSet::kComponent : EscapeSet::kForm, option};
        const ByteLoss wantLoss = FindByteLoss(bytes);
        for (const bool printable : {true, false}) {
            SCOPED_TRACE(testing::Message() << "round " << round << " option " << option << " printable "
                                            << printable << " set " << static_cast<int>(set.escape));
            const std::string want = printable ? Reference(bytes, option)
                                               : CodePageBridge::ToBytes(EncodeUrl(CodePageBridge::ToText(bytes), set));
            const auto encode = [&](std::string& out, std::string_view piece, bool final, ByteLoss* loss) {
                return printable ? EncodeBytesAppend(out, piece, option, final, loss)
                                 : EncodeUrlFromBytesAppend(out, piece, set, final, loss);
            };
            std::string whole;
            ByteLoss loss;
            EXPECT_EQ(encode(whole, bytes, true, &loss), bytes.size());
            ASSERT_EQ(whole, want);
            EXPECT_EQ(loss.count, wantLoss.count);
            EXPECT_EQ(loss.first, wantLoss.first);

            std::string out, pending;
            ByteLoss pieceLoss;
            std::size_t at = 0;
            do {
                const std::size_t n = std::min<std::size_t>(bytes.size() - at, rng() % 300);
                pending += bytes.substr(at, n);
                at += n;
                const bool final = at == bytes.size();
                ByteLoss here;
                const std::size_t used = encode(out, pending, final, &here);
                if (pieceLoss.count == 0 && here.count > 0) pieceLoss.first = at - pending.size() + here.first;
                pieceLoss.count += here.count;
                pending.erase(0, used);
            } while (at < bytes.size() || !pending.empty());
            ASSERT_EQ(out, want);
            EXPECT_EQ(pieceLoss.count, wantLoss.count);
            EXPECT_EQ(pieceLoss.first, wantLoss.first);
        }
    }
}

TEST(EncodeBytes, TextLikeBytesAtEveryAlignmentWholeAndInPieces) { CheckTextLikeBytes(1500); }

// The slower ways to take blocks that other processors run (the test above
// runs the fastest this one has).
TEST(EncodeBytes, TextLikeBytesInEveryWayOfThisProcessor) {
    for (int way = 1; way < detail::EncodeBlockWays(); ++way) {
        SCOPED_TRACE(way);
        detail::UseEncodeBlockWay(way);
        CheckTextLikeBytes(800);
    }
    detail::UseEncodeBlockWay(0);
}

}  // namespace
}  // namespace tessaly

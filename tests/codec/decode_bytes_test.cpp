// Decoding straight from bytes against decoding their text: DecodeLatin1Append
// against DecodeAppend on the widened bytes, and DecodeAsciiToBytesAppend
// against ToBytes(Decode(ToText(...))), on random escape-heavy input, whole
// and in random pieces. The bytes that do not read back, as the byte route
// counts them while it writes, against the separate walk that counts them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "codec/codepage.h"
#include "codec/percent.h"
#include "codec/url_internal.h"

namespace tessaly {
namespace {

std::u16string Widen(std::string_view bytes) {
    std::u16string text;
    for (const char b : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(b));
    return text;
}

// Escapes of every byte value (both cases of digits), broken escapes, "%",
// "&", plain ASCII in short and long runs and, unless asciiOnly, bytes from 0x80 up.
std::string RandomEncoded(std::mt19937& rng, std::size_t size, bool asciiOnly) {
    static const char kHex[] = "0123456789ABCDEFabcdef";
    std::string s;
    while (s.size() < size) {
        switch (rng() % 9) {
            case 0:
            case 1:
            case 2: {
                const unsigned b = rng() % 256;
                s += '%';
                s += "0123456789ABCDEF"[b >> 4];
                s += (rng() % 4 == 0 ? "0123456789abcdef" : "0123456789ABCDEF")[b & 0xF];
                break;
            }
            case 3: s += '%'; s += kHex[rng() % 22]; break;
            case 4: s += rng() % 2 ? '&' : '%'; break;
            case 5: s += static_cast<char>(asciiOnly ? rng() % 0x80 : rng() % 256); break;
            case 6:  // a run longer than a copied block
                for (unsigned n = rng() % 40; n > 0; --n) s += static_cast<char>(0x30 + rng() % 0x40);
                break;
            default: s += static_cast<char>(0x20 + rng() % 0x5F); break;
        }
    }
    s.resize(size);
    return s;
}

// Feeds bytes in random pieces to append, each time with what the previous
// call left in front; returns the whole output.
template <class String, class Append>
String InPieces(std::mt19937& rng, std::string_view bytes, Append append) {
    String out;
    std::string pending;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t n = std::min<std::size_t>(bytes.size() - at, rng() % 9);
        pending += bytes.substr(at, n);
        at += n;
        const std::size_t used = append(out, pending, false);
        EXPECT_LE(pending.size() - used, 5u);  // "%hh%h" at most
        pending.erase(0, used);
    }
    EXPECT_EQ(append(out, pending, true), pending.size());
    return out;
}

TEST(DecodeBytes, Latin1MatchesDecodingTheWidenedText) {
    std::mt19937 rng(1101);
    for (int round = 0; round < 2000; ++round) {
        const std::string bytes = RandomEncoded(rng, rng() % (round < 1950 ? 80 : 9000), false);
        for (const bool option : {false, true}) {
            const std::u16string want = Decode(Widen(bytes), option);
            std::u16string whole = u"x";
            EXPECT_EQ(DecodeLatin1Append(whole, bytes, option, true), bytes.size());
            ASSERT_EQ(whole, u"x" + want) << "option " << option << " round " << round;
            const auto pieces = InPieces<std::u16string>(rng, bytes, [&](std::u16string& o, std::string_view b, bool f) {
                return DecodeLatin1Append(o, b, option, f);
            });
            ASSERT_EQ(pieces, want) << "option " << option << " round " << round;
        }
    }
}

TEST(DecodeBytes, AsciiToBytesMatchesTheTextRoute) {
    std::mt19937 rng(1102);
    for (int round = 0; round < 2000; ++round) {
        const std::string bytes = RandomEncoded(rng, rng() % (round < 1950 ? 80 : 9000), true);
        for (const bool option : {false, true}) {
            const std::string want =
                CodePageBridge::ToBytes(Decode(CodePageBridge::ToText(bytes), option));
            std::string whole = "x";
            EXPECT_EQ(DecodeAsciiToBytesAppend(whole, bytes, option, true), bytes.size());
            ASSERT_EQ(whole, "x" + want) << "option " << option << " round " << round;
            const auto pieces = InPieces<std::string>(rng, bytes, [&](std::string& o, std::string_view b, bool f) {
                return DecodeAsciiToBytesAppend(o, b, option, f);
            });
            ASSERT_EQ(pieces, want) << "option " << option << " round " << round;
        }
    }
}

TEST(DecodeBytes, EveryEscapePairAndEscapeWithPartner) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned b1 = 0; b1 < 256; ++b1) {
        for (unsigned b2 = 0; b2 < 256; ++b2) {
            const std::string two = {'%', kHex[b1 >> 4], kHex[b1 & 15], '%', kHex[b2 >> 4], kHex[b2 & 15]};
            const std::string partner = {'%', kHex[b1 >> 4], kHex[b1 & 15], static_cast<char>(b2 & 0x7F)};
            for (const std::string& bytes : {two, partner}) {
                std::string out;
                DecodeAsciiToBytesAppend(out, bytes, false, true);
                ASSERT_EQ(out, CodePageBridge::ToBytes(Decode(CodePageBridge::ToText(bytes), false))) << bytes;
            }
        }
    }
}

// The count folded into the byte route against the separate walk, on one
// piece: same output and units converted as without the count, same count
// and first offset (added to what loss holds).
void ExpectCountsLikeTheWalk(std::string_view bytes, bool option, bool final, const ByteLoss& before) {
    detail::Invalid walk;
    const std::size_t walked = detail::CountCp932Invalid(bytes, option, final, walk);
    std::string plain, counted;
    const std::size_t used = DecodeAsciiToBytesAppend(plain, bytes, option, final);
    ByteLoss loss = before;
    ASSERT_EQ(DecodeAsciiToBytesAppend(counted, bytes, option, final, loss), used);
    ASSERT_EQ(counted, plain);
    ASSERT_EQ(walked, used);
    ASSERT_EQ(loss.count, before.count + walk.count) << bytes;
    ASSERT_EQ(loss.first, before.count != 0 ? before.first : walk.first) << bytes;
}

// Escapes from 0x80 up, most of them in pairs, with the rest of RandomEncoded
// between them.
std::string RandomHighEscapes(std::mt19937& rng, std::size_t size) {
    std::string s;
    while (s.size() < size) {
        if (rng() % 3 == 0) {
            s += RandomEncoded(rng, 1 + rng() % 6, true);
            continue;
        }
        const unsigned b = 0x80 + rng() % 0x80;
        s += '%';
        s += "0123456789ABCDEF"[b >> 4];
        s += (rng() % 4 == 0 ? "0123456789abcdef" : "0123456789ABCDEF")[b & 0xF];
    }
    s.resize(size);
    return s;
}

TEST(DecodeBytes, LossCountedWhileWritingMatchesTheSeparateWalk) {
    std::mt19937 rng(1103);
    for (int round = 0; round < 1500; ++round) {
        // Some longer than a chunk, so chunk ends fall inside escape units.
        const std::size_t size = rng() % (round < 1450 ? 80 : 12000);
        const std::string bytes = round % 2 ? RandomHighEscapes(rng, size) : RandomEncoded(rng, size, true);
        for (const bool option : {false, true}) {
            SCOPED_TRACE(testing::Message() << "option " << option << " round " << round);
            ExpectCountsLikeTheWalk(bytes, option, true, ByteLoss{});
            ExpectCountsLikeTheWalk(bytes, option, true, ByteLoss{2, 7});
            // In pieces, each with what the last left undecided in front:
            // each piece as the walk counts it, and all of them as the whole.
            detail::Invalid whole;
            detail::CountCp932Invalid(bytes, option, true, whole);
            ByteLoss total;
            std::string pending, out;
            std::size_t offset = 0;  // of pending[0] in bytes
            std::size_t at = 0;
            for (bool final = false; !final;) {
                const std::size_t n = std::min<std::size_t>(bytes.size() - at, rng() % 40);
                pending += bytes.substr(at, n);
                at += n;
                final = at == bytes.size();
                ExpectCountsLikeTheWalk(pending, option, final, ByteLoss{});
                ByteLoss here;
                const std::size_t used = DecodeAsciiToBytesAppend(out, pending, option, final, here);
                if (here.count != 0) {
                    if (total.count == 0) total.first = offset + here.first;
                    total.count += here.count;
                }
                pending.erase(0, used);
                offset += used;
            }
            ASSERT_EQ(total.count, whole.count);
            ASSERT_EQ(total.first, whole.first);
        }
    }
}

// "+" as a space is decoding the text with a space for each "+", losses
// included, over texts that span several of the blocks it is copied in, and
// with the first loss in a later block.
TEST(DecodeBytes, PlusAsSpaceIsDecodingTheSpacedText) {
    std::mt19937 rng(1105);
    for (int round = 0; round < 8; ++round) {
        std::string bytes = RandomEncoded(rng, 40000 + rng() % 100, true);
        for (char& b : bytes) {
            if (rng() % 8 == 0) b = '+';
        }
        if (round % 2 != 0) std::fill_n(bytes.begin(), 20000, 'a');
        std::string spaced = bytes;
        std::replace(spaced.begin(), spaced.end(), '+', ' ');
        for (const bool amp : {false, true}) {
            SCOPED_TRACE(testing::Message() << "amp " << amp << " round " << round);
            ByteLoss want, got;
            std::string wantBytes, gotBytes = "x";
            DecodeAsciiToBytesAppend(wantBytes, spaced, amp, true, want);
            EXPECT_EQ(DecodeAsciiPlusAsSpaceToBytesAppend(gotBytes, bytes, amp, true, &got), bytes.size());
            ASSERT_EQ(gotBytes, "x" + wantBytes);
            EXPECT_EQ(got.count, want.count);
            EXPECT_EQ(got.first, want.first);
            std::u16string wantText, gotText;
            ByteLoss gotInText;
            DecodeAppend(wantText, Widen(spaced), amp, true);
            EXPECT_EQ(DecodePlusAsSpaceAppend(gotText, Widen(bytes), amp, true, &gotInText), bytes.size());
            ASSERT_EQ(gotText, wantText);
            EXPECT_EQ(gotInText.count, want.count);
            EXPECT_EQ(gotInText.first, want.first);
            const auto pieces = InPieces<std::string>(rng, bytes, [&](std::string& o, std::string_view b, bool f) {
                return DecodeAsciiPlusAsSpaceToBytesAppend(o, b, amp, f);
            });
            ASSERT_EQ(pieces, wantBytes);
        }
    }
}

TEST(DecodeBytes, LossOfEveryEscapePairAndEscapeWithPartner) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned b1 = 0; b1 < 256; ++b1) {
        for (unsigned b2 = 0; b2 < 256; ++b2) {
            const std::string two = {'%', kHex[b1 >> 4], kHex[b1 & 15], '%', kHex[b2 >> 4], kHex[b2 & 15]};
            const std::string partner = {'%', kHex[b1 >> 4], kHex[b1 & 15], static_cast<char>(b2 & 0x7F)};
            for (const std::string& bytes : {two, partner, "a" + two + "%", two + two}) {
                ExpectCountsLikeTheWalk(bytes, false, true, ByteLoss{});
            }
        }
    }
}

TEST(DecodeBytes, EveryPieceAmongLongRunsMatchesTheTextRoute) {
    // Every escape pair and escape with partner, each between pairs that
    // are a character, in runs long enough for the decoder's steps over
    // several units at once, with plain units and lone "%" here and there;
    // each run at every offset of a step. Output and count as the text route
    // and the walk give.
    static const char kHex[] = "0123456789ABCDEF";
    const std::string character = "%82%A0";
    for (unsigned b1 = 0; b1 < 256; ++b1) {
        const std::string escape = {'%', kHex[b1 >> 4], kHex[b1 & 15]};
        std::string run;
        for (unsigned b2 = 0; b2 < 256; ++b2) {
            run += escape + '%' + kHex[b2 >> 4] + kHex[b2 & 15] + character;
            run += escape + static_cast<char>(b2 & 0x7F) + character;
            if (b2 % 7 == 0) run += "a%";
        }
        for (std::size_t offset = 0; offset < 14; ++offset) {
            const std::string bytes = std::string(offset, 'x') + run;
            std::string out;
            DecodeAsciiToBytesAppend(out, bytes, false, true);
            ASSERT_EQ(out, CodePageBridge::ToBytes(Decode(CodePageBridge::ToText(bytes), false))) << b1 << " " << offset;
            ExpectCountsLikeTheWalk(bytes, false, true, ByteLoss{});
        }
    }
}

}  // namespace
}  // namespace tessaly

// The decoder's block pass (bits of 64 units at a time, plain units copied a
// block at a time) against a scalar loop that takes one unit at a time, on
// escape-heavy text of every length up to a few words, starting at every
// alignment, whole and in pieces, with "&" plain and as CR LF, on the text
// route and both byte routes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "codec/codepage.h"
#include "codec/percent.h"

namespace tessaly {
namespace {

int Hex(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if ((c | 0x20) >= u'a' && (c | 0x20) <= u'f') return (c | 0x20) - u'a' + 10;
    return -1;
}

bool EscapeAt(std::u16string_view t, std::size_t i) {
    return i + 2 < t.size() && t[i] == u'%' && Hex(t[i + 1]) >= 0 && Hex(t[i + 2]) >= 0;
}

char Byte(std::u16string_view t, std::size_t i) { return static_cast<char>(Hex(t[i + 1]) << 4 | Hex(t[i + 2])); }

// One unit at a time: an escape with a second escape or with the character
// after it, through the code page as one piece.
std::u16string ScalarDecode(std::u16string_view t, bool amp) {
    std::u16string out;
    std::size_t i = 0;
    while (i < t.size()) {
        const std::size_t left = t.size() - i;
        if (amp && t[i] == u'&') {
            out += u"\r\n";
            ++i;
        } else if (t[i] != u'%') {
            out += t[i++];
        } else if (left <= 3 || (left == 5 && EscapeAt(t, i) && t[i + 3] == u'%')) {
            out += t.substr(i);  // an escape cut off by the end stays as it is
            i = t.size();
        } else if (!EscapeAt(t, i)) {
            out += t[i++];
        } else if (EscapeAt(t, i + 3)) {
            out += CodePageBridge::ToText(std::string{Byte(t, i), Byte(t, i + 3)});
            i += 6;
        } else {
            const std::u16string c3(1, t[i + 3]);
            const std::string partner = CodePageBridge::ToBytes(c3);
            out += CodePageBridge::ToText(partner) == c3
                       ? CodePageBridge::ToText(std::string(1, Byte(t, i)) + partner)
                       : CodePageBridge::ToText(std::string(1, Byte(t, i))) + c3;
            i += 4;
        }
    }
    return out;
}

// Mostly runs of escapes (long chains of pairs, odd chains whose last escape
// takes "%", "&" or a letter), some broken escapes, "&", letters, and unless
// ascii a few units above 0x7F (bytes for the Latin-1 route).
std::string EscapeHeavy(std::mt19937& rng, std::size_t size, bool ascii) {
    static const char kHex[] = "0123456789ABCDEFabcdef";
    std::string s;
    while (s.size() < size) {
        const unsigned kind = rng() % 16;
        if (kind < 9) {
            for (unsigned n = 1 + rng() % (kind < 3 ? 30 : 4); n > 0; --n) {
                const unsigned b = rng() % 3 ? 0x81 + rng() % 0x7C : rng() % 256;
                s += {'%', "0123456789ABCDEF"[b >> 4], (rng() % 5 ? "0123456789ABCDEF" : "0123456789abcdef")[b & 15]};
            }
        } else if (kind < 11) {
            s += "%&?"[rng() % 3];
        } else if (kind == 11) {
            s += {'%', kHex[rng() % 22]};
        } else if (kind == 12 && !ascii) {
            s += static_cast<char>(0x80 + rng() % 0x80);
        } else {
            for (unsigned n = rng() % 24; n > 0; --n) s += static_cast<char>(0x21 + rng() % 0x5E);
        }
    }
    s.resize(size);
    return s;
}

std::u16string Widen(std::string_view bytes) {
    std::u16string t;
    for (const char b : bytes) t += static_cast<char16_t>(static_cast<unsigned char>(b));
    return t;
}

// Whole (from a buffer at the given alignment) and in random pieces.
template <class Out, class Input, class Append>
void CheckRoute(std::mt19937& rng, const Input& input, std::size_t align, const Out& want, Append append) {
    using Unit = typename Input::value_type;
    std::vector<Unit> buffer(align + input.size() + 1);
    std::copy(input.begin(), input.end(), buffer.begin() + static_cast<std::ptrdiff_t>(align));
    Out whole;
    ASSERT_EQ(append(whole, std::basic_string_view<Unit>(buffer.data() + align, input.size()), true), input.size());
    ASSERT_EQ(whole, want) << "whole, length " << input.size() << ", alignment " << align;
    Out pieces;
    Input pending;
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t n = std::min<std::size_t>(input.size() - at, 1 + rng() % 97);
        pending += input.substr(at, n);
        at += n;
        pending.erase(0, append(pieces, pending, false));
        ASSERT_LE(pending.size(), 5u);
    }
    ASSERT_EQ(append(pieces, pending, true), pending.size());
    ASSERT_EQ(pieces, want) << "in pieces, length " << input.size();
}

TEST(DecodeBlocks, EveryLengthAndAlignmentMatchesTheScalarLoop) {
    std::mt19937 rng(6417);
    for (std::size_t length = 0; length <= 300; ++length) {
        for (std::size_t align = 0; align < 16; align += 1 + length % 3) {
            for (const bool amp : {false, true}) {
                const std::string latin1 = EscapeHeavy(rng, length, false);
                const std::u16string text = Widen(latin1);
                const std::u16string want = ScalarDecode(text, amp);
                CheckRoute(rng, text, align, want, [&](std::u16string& o, std::u16string_view t, bool f) {
                    return DecodeAppend(o, t, amp, f);
                });
                CheckRoute(rng, latin1, align, want, [&](std::u16string& o, std::string_view b, bool f) {
                    return DecodeLatin1Append(o, b, amp, f);
                });
                const std::string ascii = EscapeHeavy(rng, length, true);
                CheckRoute(rng, ascii, align, CodePageBridge::ToBytes(ScalarDecode(Widen(ascii), amp)),
                           [&](std::string& o, std::string_view b, bool f) {
                               return DecodeAsciiToBytesAppend(o, b, amp, f);
                           });
                if (HasFatalFailure()) return;
            }
        }
    }
}

}  // namespace
}  // namespace tessaly

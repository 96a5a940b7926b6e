// Decode against a plain reading of its rules, one unit at a time, on many
// random texts built from the characters that matter to those rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "codec/codepage.h"
#include "codec/percent.h"

namespace tessaly {
namespace {

bool IsHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

unsigned HexValue(char16_t c) {
    if (c <= u'9') return c - u'0';
    return (c | 0x20) - u'a' + 10;
}

// Whether text[i] starts "%hh".
bool EscapeAt(std::u16string_view text, std::size_t i) {
    return i + 2 < text.size() && text[i] == u'%' && IsHexDigit(text[i + 1]) &&
           IsHexDigit(text[i + 2]);
}

char EscapedByte(std::u16string_view text, std::size_t i) {
    return static_cast<char>(HexValue(text[i + 1]) << 4 | HexValue(text[i + 2]));
}

std::u16string ReferenceDecode(std::u16string_view text, bool crLfAsAmp) {
    std::u16string out;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char16_t c = text[i];
        if (crLfAsAmp && c == u'&') {
            out += u"\r\n";
            ++i;
            continue;
        }
        if (c != u'%') {
            out += c;
            ++i;
            continue;
        }
        if (n - i <= 3) {  // "%" among the last three units: the rest as it is
            out += text.substr(i);
            break;
        }
        if (!EscapeAt(text, i)) {
            out += u'%';
            ++i;
            continue;
        }
        std::string piece(1, EscapedByte(text, i));
        const char16_t c3 = text[i + 3];
        if (c3 == u'%' && n - (i + 4) == 1) {  // "%hh%h" ends the text
            out += text.substr(i);
            break;
        }
        if (EscapeAt(text, i + 3)) {
            piece += EscapedByte(text, i + 3);
            out += CodePageBridge::ToText(piece);
            i += 6;
            continue;
        }
        const std::string partner = CodePageBridge::ToBytes(std::u16string(1, c3));
        if (CodePageBridge::ToText(partner) == std::u16string(1, c3)) {
            out += CodePageBridge::ToText(piece + partner);
        } else {
            out += CodePageBridge::ToText(piece);
            out += c3;
        }
        i += 4;
    }
    return out;
}

std::string Describe(std::u16string_view text) {
    std::string s;
    char buffer[8];
    for (const char16_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != u'\\') {
            s += static_cast<char>(c);
        } else {
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
            s += buffer;
        }
    }
    return s;
}

// Pieces random text is made of; some are several units long.
const std::vector<std::u16string>& Pieces() {
    static const std::vector<std::u16string> pieces = [] {
        std::vector<std::u16string> p;
        for (const char16_t* s : {u"%", u"%", u"%", u"&", u"&"}) p.emplace_back(s);
        for (const char16_t c : std::u16string_view(u"0123456789ABCDEFabcdef")) p.emplace_back(1, c);
        // Other ASCII, "\" and "~" included.
        for (const char16_t c : std::u16string_view(u"Gg x?\\~\r\n\x7F")) p.emplace_back(1, c);
        p.emplace_back(1, u'\0');
        // Double-byte characters, a trail byte 0x5C among them, and half-width katakana.
        for (const char16_t c : std::u16string_view(u"あ漢アソ表ー、ｱﾟ")) p.emplace_back(1, c);
        // Single bytes above ASCII, and characters the code page lacks or maps one way.
        for (const char16_t c : std::u16string_view(u"\u0080\uF8F0\u00E9\u4E02\u2014\u20AC\xD83D\xDE00")) {
            p.emplace_back(1, c);
        }
        p.emplace_back(u"\U0001F600");
        return p;
    }();
    return pieces;
}

// "%hh" with digits of either case, mostly bytes that lead or trail.
std::u16string RandomEscape(std::mt19937& random) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF0123456789abcdef";
    static constexpr unsigned kBytes[] = {0x82, 0x83, 0x88, 0x9F, 0xE0, 0xFC, 0x81, 0xA0,
                                          0x40, 0x5C, 0x7F, 0xFD, 0x0D, 0x0A, 0xB1, 0x00};
    const unsigned byte = random() % 2 ? kBytes[random() % 16] : random() % 256;
    const unsigned upper = random() % 2 * 16;
    return {u'%', kDigits[upper + (byte >> 4)], kDigits[upper + (byte & 0xF)]};
}

// Random text of exactly length units. escapePercent and plainPercent set how
// much of it is escapes and how much plain ASCII letters.
std::u16string RandomText(std::mt19937& random, std::size_t length, unsigned escapePercent,
                          unsigned plainPercent) {
    const std::vector<std::u16string>& pieces = Pieces();
    std::u16string text;
    while (text.size() < length) {
        const unsigned kind = random() % 100;
        if (kind < escapePercent) {
            text += RandomEscape(random);
        } else if (kind < escapePercent + plainPercent) {
            text += static_cast<char16_t>(u'g' + random() % 20);
        } else {
            text += pieces[random() % pieces.size()];
        }
    }
    text.resize(length);  // may cut a surrogate pair or an escape: both are wanted
    return text;
}

class DecodeReference : public ::testing::TestWithParam<bool> {
protected:
    // Compares one text; gives up the test after a few mismatches.
    bool Check(const std::u16string& text) {
        const bool option = GetParam();
        const std::u16string expected = ReferenceDecode(text, option);
        // Decoded from a copy of exactly its size, so that the sanitizer
        // build catches any read past the end.
        const std::vector<char16_t> exact(text.begin(), text.end());
        const std::u16string actual = Decode({exact.data(), exact.size()}, option);
        if (actual == expected) return true;
        ADD_FAILURE() << "option " << option << ", input (" << text.size() << " units) \""
                      << Describe(text) << "\"\n  expected \"" << Describe(expected)
                      << "\"\n  actual   \"" << Describe(actual) << '"';
        return ++failures_ < 5;
    }

    std::mt19937 random_{20240611};
    int failures_ = 0;
};

TEST_P(DecodeReference, ShortTexts) {
    for (int i = 0; i < 60000; ++i) {
        const std::size_t length = random_() % 41;
        const unsigned escapes = random_() % 60;
        if (!Check(RandomText(random_, length, escapes, random_() % (100 - escapes)))) return;
    }
}

// Lengths near multiples of the 2048 units Decode handles at a time, so that
// escapes straddle the end of a chunk; also long plain runs and dense escapes.
TEST_P(DecodeReference, TextsAroundChunkEnds) {
    for (const std::size_t base : {2048u, 4096u}) {
        for (std::size_t length = base - 10; length <= base + 10; ++length) {
            for (int i = 0; i < 6; ++i) {
                const unsigned escapes = i % 3 == 0 ? 70 : i % 3 == 1 ? 5 : random_() % 40;
                const unsigned plain = i % 3 == 1 ? 90 : random_() % (100 - escapes);
                if (!Check(RandomText(random_, length, escapes, plain))) return;
            }
        }
    }
}

// Texts shaped like encoded text: runs of plain letters, up to 20 long,
// between one to four escapes, now and then one of the other pieces.
TEST_P(DecodeReference, EncodedLikeTexts) {
    for (int i = 0; i < 3000; ++i) {
        std::u16string text;
        const std::size_t length = 20 + random_() % 300;
        while (text.size() < length) {
            const unsigned run = random_() % 21;
            for (unsigned k = 0; k < run; ++k) text += static_cast<char16_t>(u'a' + random_() % 26);
            const unsigned escapes = 1 + random_() % 4;
            for (unsigned k = 0; k < escapes; ++k) text += RandomEscape(random_);
            if (random_() % 3 == 0) text += Pieces()[random_() % Pieces().size()];
        }
        if (!Check(text)) return;
    }
}

INSTANTIATE_TEST_SUITE_P(BothOptions, DecodeReference, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "AmpIsCrLf" : "AmpIsPlain";
                         });

}  // namespace
}  // namespace tessaly

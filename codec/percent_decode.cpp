// Decode: escapes are decoded in units of two escapes, or of one escape and
// the character after it, each unit converted through the code page as one
// piece. Other characters are copied as they are.
#include <algorithm>
#include <array>

#include "codec/chunked_output.h"
#include "codec/cp932.h"
#include "codec/percent.h"

namespace tessaly {
namespace {

// Digit values (either case); 0x100 marks a character that is no digit.
constexpr std::array<std::uint16_t, 256> MakeDigitValues() {
    std::array<std::uint16_t, 256> values{};
    for (auto& v : values) v = 0x100;
    for (unsigned i = 0; i < 10; ++i) values['0' + i] = static_cast<std::uint16_t>(i);
    for (unsigned i = 0; i < 6; ++i) {
        values['A' + i] = static_cast<std::uint16_t>(10 + i);
        values['a' + i] = static_cast<std::uint16_t>(10 + i);
    }
    return values;
}
constexpr std::array<std::uint16_t, 256> kDigitValues = MakeDigitValues();

unsigned DigitValue(char16_t c) { return kDigitValues[c & 0xFF] | unsigned{c > 0xFF} << 8; }

// The byte of two hexadecimal digits, or a value above 0xFF when either is
// no digit. Branch-free: it is also tried on whatever follows a literal
// partner.
unsigned HexByte(char16_t high, char16_t low) { return DigitValue(high) << 4 | DigitValue(low); }

constexpr unsigned kNoByte = 0x100;

// The piece of two bytes: one character, or each byte on its own.
char16_t* PutBytePair(std::uint8_t b1, std::uint8_t b2, char16_t* out) {
    if (cp932::IsLeadByte(b1)) {
        if (const char16_t c = cp932::PairToText(b1, b2)) {
            *out = c;
            return out + 1;
        }
    }
    out[0] = cp932::SingleByteToText(b1);
    out[1] = cp932::SingleByteToText(b2);
    return out + 2;
}

// The piece of byte b1 and the code-page bytes of c. A character that does
// not survive the trip through the code page is not decoded: b1 is converted
// alone and c kept as it is.
char16_t* PutByteAndChar(std::uint8_t b1, char16_t c, char16_t* out) {
    const std::uint16_t bytes = cp932::UnitToBytes(c);
    if (!cp932::IsDoubleByte(bytes)) {
        if (cp932::SingleByteToText(static_cast<std::uint8_t>(bytes)) == c) {
            return PutBytePair(b1, static_cast<std::uint8_t>(bytes), out);
        }
    } else if (cp932::BytesToChar(bytes) == c) {
        unsigned char piece[3] = {b1};
        return cp932::AppendBytesAsText(piece, cp932::PutBytes(bytes, piece + 1), out);
    }
    out[0] = cp932::SingleByteToText(b1);
    out[1] = c;
    return out + 2;
}

}  // namespace

std::u16string Decode(std::u16string_view text, bool crLfAsAmp) {
    // Only "&" makes the text longer (one unit to two).
    const std::size_t growth = crLfAsAmp ? 2 : 1;
    std::u16string out;
    // A unit that starts in a chunk may run up to five units past it.
    constexpr std::size_t kOverrun = 5;
    detail::ChunkedOutput<char16_t> output(out, growth * (text.size() + kOverrun));
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    const char16_t amp = crLfAsAmp ? u'&' : u'%';  // with the option off, "&" is plain
    while (p != end) {
        const char16_t* const chunkEnd = p + std::min<std::size_t>(end - p, detail::kChunkUnits);
        char16_t* o = output.Room(growth * (static_cast<std::size_t>(chunkEnd - p) + kOverrun));
        while (p < chunkEnd) {
            const char16_t c = *p++;
            if (c != u'%' && c != amp) {
                *o++ = c;
                continue;
            }
            if (c == u'&') {
                *o++ = u'\r';
                *o++ = u'\n';
                continue;
            }
            const char16_t* const escape = p - 1;
            if (end - p <= 2) {  // "%", "%h" or "%hh" ends the text: copied as it is
                o = std::copy(escape, end, o);
                p = end;
                break;
            }
            const unsigned b1 = HexByte(p[0], p[1]);
            if (b1 > 0xFF) {  // not an escape: keep the "%", go on after it
                *o++ = u'%';
                continue;
            }
            const char16_t c3 = p[2];
            p += 3;
            const std::ptrdiff_t left = end - p;
            if ((c3 == u'%') & (left == 1)) {  // "%hh%h" ends the text: copied as it is
                o = std::copy(escape, end, o);
                p = end;
                break;
            }
            // With two escapes the piece is b1 b2. Otherwise c3 is b1's literal
            // partner, the "%" included when no hexadecimal digits follow it.
            // Whether c3 is "%" is as good as random in encoded Japanese, so
            // both cases share one branch-free path while c3 is ASCII.
            const unsigned b2 = left >= 2 ? HexByte(p[0], p[1]) : kNoByte;
            const unsigned twoEscapes = unsigned{c3 == u'%'} & unsigned{b2 <= 0xFF};
            if (!twoEscapes & (c3 >= 0x80)) {
                o = PutByteAndChar(static_cast<std::uint8_t>(b1), c3, o);
                continue;
            }
            const unsigned mask = 0u - twoEscapes;  // selects without a branch
            const unsigned second = (b2 & mask) | (c3 & ~mask);  // ASCII is its own byte
            p += 2 * twoEscapes;
            o = PutBytePair(static_cast<std::uint8_t>(b1), static_cast<std::uint8_t>(second), o);
        }
        output.Commit(o);
    }
    output.Finish();
    return out;
}

}  // namespace tessaly

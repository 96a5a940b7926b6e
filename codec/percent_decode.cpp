// Decode: escapes are decoded in units of two escapes, or of one escape and
// the character after it, each unit converted through the code page as one
// piece. Other characters are copied as they are.
//
// The text goes through in chunks. Each chunk is first classified, one bit
// per UTF-16 unit, into where a "%" or "&" is and where an escape or two
// escapes in a row start. The decoding pass then finds the next escape and
// the length of its unit in those bits rather than by branching on every
// character, which would go wrong about as often as plain characters and
// escapes take turns; plain characters between escapes are copied a block
// at a time. Near the end of the text, where an escape may be cut off, a
// plain loop takes over.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TESSALY_SHUFFLED_UNITS 1
#endif

#include "codec/chunked_output.h"
#include "codec/cp932.h"
#include "codec/eucjp.h"
#include "codec/hex_digits.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url_internal.h"

namespace tessaly {
namespace {

// ---------------------------------------------------------------------------
// Escapes and pieces

using detail::kHighDigits;
using detail::kLowDigits;

// The byte of two units known to be hexadecimal digits.
unsigned DigitsByte(char16_t high, char16_t low) {
    return kHighDigits[high & 0xFF] | kLowDigits[low & 0xFF];
}

// The byte of two hexadecimal digits, or a value above 0xFF when either is
// no digit (a unit above 0xFF keeps some of its high bits).
unsigned HexByte(char16_t high, char16_t low) {
    return DigitsByte(high, low) | ((high | low) & 0xFF00u);
}

bool IsHexDigit(char16_t c) { return HexByte(u'0', c) <= 0xFF; }

// The pair table's entries are written to the output as two units at once.
static_assert(std::endian::native == std::endian::little, "the pair table assumes little-endian units");

// The text of every byte pair, as the two units a piece of those two bytes
// writes: the pair's character and then 0xFFFF, which no byte converts to,
// when the pair is one character; else each byte's own character (worked
// out with the code page tables, at compile time).
class PairTable {
public:
    static constexpr std::uint32_t kOneCharacter = 0xFFFF0000;

    static const PairTable& Get() {
        static constexpr PairTable table;
        return table;
    }

    std::uint32_t Units(unsigned b1, unsigned b2) const { return cp932::kPairUnits[b1 << 8 | b2]; }
};

// The piece of bytes b1 b2: one character, or each byte on its own. Two
// units are written either way; the second is scratch after one character.
char16_t* PutBytePair(const PairTable& pairs, unsigned b1, unsigned b2, char16_t* out) {
    const std::uint32_t units = pairs.Units(b1, b2);
    std::memcpy(out, &units, sizeof units);
    return out + 2 - unsigned{units >= PairTable::kOneCharacter};
}

// The piece of byte b1 and the code-page bytes of c. A character that does
// not survive the trip through the code page is not decoded: b1 is converted
// alone and c kept as it is.
char16_t* PutByteAndChar(const PairTable& pairs, unsigned b1, char16_t c, char16_t* out) {
    const std::uint16_t bytes = cp932::UnitToBytes(c);
    if (!cp932::IsDoubleByte(bytes)) {
        if (cp932::SingleByteToText(static_cast<std::uint8_t>(bytes)) == c) {
            return PutBytePair(pairs, b1, bytes, out);
        }
    } else if (cp932::BytesToChar(bytes) == c) {
        unsigned char piece[3] = {static_cast<unsigned char>(b1)};
        return cp932::AppendBytesAsText(piece, cp932::PutBytes(bytes, piece + 1), out);
    }
    out[0] = cp932::SingleByteToText(static_cast<std::uint8_t>(b1));
    out[1] = c;
    return out + 2;
}

unsigned PutUnitsAsBytes(const char16_t* text, std::size_t n, unsigned char* out);

// The same pieces written as the code-page bytes of their text: what
// CodePageBridge::ToBytes gives for the units above, and what of the two
// bytes does not read back (worked out with the code page tables, at
// compile time).
class BytePairTable {
public:
    static const BytePairTable& Get() {
        static constexpr BytePairTable table;
        return table;
    }

    const PairTable& units() const { return PairTable::Get(); }
    std::uint32_t Bytes(unsigned b1, unsigned b2) const { return cp932::kPairBytes[b1 << 8 | b2]; }
    unsigned Length(unsigned b1, unsigned b2) const { return cp932::kPairLengthAndLoss[b1 << 8 | b2] & kLengthMask; }
    // How many of the pair's bytes do not read back as themselves (bits
    // 0-1), and whether the first of them is the second byte (bit 2), as
    // FindByteLoss counts the two bytes; 0 for most pairs.
    unsigned Loss(unsigned b1, unsigned b2) const { return cp932::kPairLengthAndLoss[b1 << 8 | b2] >> kLossShift; }
    // 1 when the piece of the bytes b1 b2, given as b1 | b2 << 8, is those
    // same two bytes with nothing lost, else 0.
    unsigned Same(unsigned pair) const { return cp932::kPairSame[pair]; }

private:
    static constexpr unsigned kLengthMask = 7;
    static constexpr unsigned kLossShift = 3;
};

// The code-page bytes of n units (not surrogates) at text, at most 2 a unit.
unsigned PutUnitsAsBytes(const char16_t* text, std::size_t n, unsigned char* out) {
    unsigned char* o = out;
    for (std::size_t i = 0; i < n; ++i) o = cp932::PutBytes(cp932::UnitToBytes(text[i]), o);
    return static_cast<unsigned>(o - out);
}

unsigned char* PutBytePair(const BytePairTable& pairs, unsigned b1, unsigned b2, unsigned char* out) {
    const std::uint32_t bytes = pairs.Bytes(b1, b2);
    std::memcpy(out, &bytes, sizeof bytes);
    return out + pairs.Length(b1, b2);
}

unsigned char* PutByteAndChar(const BytePairTable& pairs, unsigned b1, char16_t c, unsigned char* out) {
    char16_t text[4];
    const std::size_t n = static_cast<std::size_t>(PutByteAndChar(pairs.units(), b1, c, text) - text);
    return out + PutUnitsAsBytes(text, n, out);
}

// ---------------------------------------------------------------------------
// Counting what does not read back

// Counts nothing: the decoders that only decode.
struct NoCount {
    template <class Pairs, class Char>
    void Pair(const Pairs&, unsigned, unsigned, const Char*) {}
    template <class Char>
    void ByteAndChar(unsigned, char16_t, const Char*) {}
};

// Counts the decoded bytes that code page 932 does not read back as
// themselves, each piece as it is written: the bytes of every character
// the reader splits the piece into, at the index of the escape (or of the
// literal partner) that gave the character's first byte.
template <class Char>
struct LossCounter {
    ByteLoss& loss;
    const Char* begin;
    const BytePairTable& table = BytePairTable::Get();

    void Add(std::uint64_t n, const Char* at) {
        if (loss.count == 0) loss.first = static_cast<std::size_t>(at - begin);
        loss.count += n;
    }
    // The piece of bytes b1 b2, b1 from the escape at escape (whichever
    // table the decoder writes it from).
    template <class Pairs>
    void Pair(const Pairs&, unsigned b1, unsigned b2, const Char* escape) {
        if (const unsigned bits = table.Loss(b1, b2)) [[unlikely]] {
            Add(bits & 3, escape + 3 * (bits >> 2));
        }
    }
    // The piece of b1 and the character c (0x80 and up) after its escape:
    // c's bytes when c survives the code page, else b1 alone.
    void ByteAndChar(unsigned b1, char16_t c, const Char* escape) {
        char piece[3] = {static_cast<char>(b1)};
        const std::uint16_t bytes = cp932::UnitToBytes(c);
        std::size_t length = 1;
        if (cp932::BytesToChar(bytes) == c) {
            auto* const start = reinterpret_cast<unsigned char*>(piece);
            length = static_cast<std::size_t>(cp932::PutBytes(bytes, start + 1) - start);
        }
        const ByteLoss here = FindByteLoss({piece, length});
        if (here.count != 0) Add(here.count, escape + (here.first == 0 ? 0 : 3));
    }
};

// ---------------------------------------------------------------------------
// Classifying a chunk

constexpr std::size_t kWordBits = 64;
// Units classified past the part of a chunk the fast pass decodes: a unit
// that starts there needs the bits of the five units after it.
constexpr std::size_t kLookahead = kWordBits;

// One bit per unit of the text from a chunk's start.
struct UnitBits {
    // The chunk, the lookahead, and a zero word read when joining neighbours.
    static constexpr std::size_t kWords = (detail::kChunkUnits + kLookahead) / kWordBits + 1;
    std::uint64_t special[kWords];     // "%", or "&" with the option on
    std::uint64_t escape[kWords];      // "%hh" starts here
    std::uint64_t twoEscapes[kWords];  // "%hh%hh" starts here
};

// The bits of words[k] and on, from bit `shift` of word k (shift 1..63).
std::uint64_t BitsFrom(const std::uint64_t* words, std::size_t k, unsigned shift) {
    return words[k] >> shift | words[k + 1] << (kWordBits - shift);
}

// Bits of some units: "%", "&", hexadecimal digit.
struct Bits {
    std::uint64_t percent;
    std::uint64_t amp;
    std::uint64_t hex;
};

#ifdef __SSE2__
__m128i Repeat(char c) { return _mm_set1_epi8(c); }

// All ones in the lanes of bytes in [first, last].
__m128i InRange(__m128i bytes, char first, char last) {
    const __m128i above = _mm_subs_epu8(_mm_sub_epi8(bytes, Repeat(first)), Repeat(last - first));
    return _mm_cmpeq_epi8(above, _mm_setzero_si128());
}

std::uint64_t LaneBits(__m128i lanes) { return static_cast<unsigned>(_mm_movemask_epi8(lanes)); }

// The 16 units at in as bytes. Units above 0xFF, none of them a character
// looked for, saturate to 0xFF, or to 0 from 0x8000 up: neither is one either.
__m128i Load16(const char16_t* in) {
    return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8)));
}
__m128i Load16(const unsigned char* in) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)); }

// The bits of the 16 units at in; "&" only when withAmp.
template <bool withAmp, class Char>
Bits Classify16(const Char* in) {
    const __m128i bytes = Load16(in);
    const __m128i folded = _mm_or_si128(bytes, Repeat(0x20));  // "A".."F" to "a".."f"
    const __m128i hex = _mm_or_si128(InRange(bytes, '0', '9'), InRange(folded, 'a', 'f'));
    return {LaneBits(_mm_cmpeq_epi8(bytes, Repeat('%'))),
            withAmp ? LaneBits(_mm_cmpeq_epi8(bytes, Repeat('&'))) : 0, LaneBits(hex)};
}
#else
template <bool withAmp, class Char>
Bits Classify16(const Char* in) {
    Bits bits{0, 0, 0};
    for (unsigned i = 0; i < 16; ++i) {
        bits.percent |= std::uint64_t{in[i] == u'%'} << i;
        bits.amp |= std::uint64_t{withAmp && in[i] == u'&'} << i;
        bits.hex |= std::uint64_t{IsHexDigit(in[i])} << i;
    }
    return bits;
}
#endif

template <bool withAmp, class Char>
Bits ClassifyWord(const Char* in) {
    Bits word{0, 0, 0};
    for (unsigned part = 0; part < kWordBits; part += 16) {
        const Bits b = Classify16<withAmp>(in + part);
        word.percent |= b.percent << part;
        word.amp |= b.amp << part;
        word.hex |= b.hex << part;
    }
    return word;
}

// The bits of fewer units than a word holds.
template <class Char>
Bits ClassifyPartWord(const Char* in, std::size_t n, bool withAmp) {
    Bits word{0, 0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        word.percent |= std::uint64_t{in[i] == u'%'} << i;
        word.amp |= std::uint64_t{withAmp && in[i] == u'&'} << i;
        word.hex |= std::uint64_t{IsHexDigit(in[i])} << i;
    }
    return word;
}

// Classifies the n units at text (at most the chunk and its lookahead); the
// bits past them are 0.
template <bool withAmp, class Char>
void Classify(const Char* text, std::size_t n, UnitBits& bits) {
    std::uint64_t percent[UnitBits::kWords];
    std::uint64_t hex[UnitBits::kWords];
    for (std::size_t k = 0; k < UnitBits::kWords; ++k) {
        const std::size_t first = k * kWordBits;
        const Bits word = first + kWordBits <= n ? ClassifyWord<withAmp, Char>(text + first)
                          : first < n            ? ClassifyPartWord(text + first, n - first, withAmp)
                                                 : Bits{0, 0, 0};
        percent[k] = word.percent;
        bits.special[k] = word.percent | word.amp;
        hex[k] = word.hex;
    }
    constexpr std::size_t kLast = UnitBits::kWords - 1;
    for (std::size_t k = 0; k < kLast; ++k) {
        bits.escape[k] = percent[k] & BitsFrom(hex, k, 1) & BitsFrom(hex, k, 2);
    }
    bits.escape[kLast] = 0;
    for (std::size_t k = 0; k < kLast; ++k) {
        bits.twoEscapes[k] = bits.escape[k] & BitsFrom(bits.escape, k, 3);
    }
    bits.twoEscapes[kLast] = 0;
}

template <class Char>
void Classify(const Char* text, std::size_t n, bool crLfAsAmp, UnitBits& bits) {
    if (crLfAsAmp) {
        Classify<true, Char>(text, n, bits);
    } else {
        Classify<false, Char>(text, n, bits);
    }
}

// ---------------------------------------------------------------------------
// The fast pass

// Plain units are copied this many at a time, whether or not all are wanted.
constexpr std::size_t kCopyBlock = 16;
// The fast pass stops this many units before the end of the text: no escape
// unit it decodes is cut off by the end, and its copies read no further.
constexpr std::size_t kFastMargin = kCopyBlock;
// A unit that starts in a chunk may end five units past it. The copies may
// write up to a block past what they keep.
constexpr std::size_t kOverrun = 5;
constexpr std::size_t kScratchUnits = kCopyBlock;

// Where decoding stands: a position in the chunk and in the output.
template <class Out>
struct Cursor {
    std::size_t in;
    Out* out;
};

// Bytes below 0x80 as their own code-page bytes.
void CopyBlock(const unsigned char* in, unsigned char* out) { std::memcpy(out, in, kCopyBlock); }

#ifdef __SSE2__
// Bytes as the units of the same value.
void CopyBlock(const unsigned char* in, char16_t* out) {
    static_assert(kCopyBlock == 16);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, _mm_setzero_si128()));
}
#else
void CopyBlock(const unsigned char* in, char16_t* out) { std::copy(in, in + kCopyBlock, out); }
#endif

void CopyBlock(const char16_t* in, char16_t* out) {
#ifdef __SSE2__
    static_assert(kCopyBlock == 16);
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), high);
#else
    std::copy(in, in + kCopyBlock, out);
#endif
}

// Copies the units [from, to) of text in whole blocks, at least one even
// when there is nothing to copy: whether plain units come between two
// escapes is as good as random, and a branch on it would often go wrong.
template <class Char, class Out>
Out* CopyPlain(const Char* text, std::size_t from, std::size_t to, Out* out) {
    CopyBlock(text + from, out);
    if (to - from > kCopyBlock) {  // a longer run, the rarer case
        for (std::size_t i = from + kCopyBlock; i < to; i += kCopyBlock) {
            CopyBlock(text + i, out + (i - from));
        }
    }
    return out + (to - from);
}

// Decodes the "&" or "%" at text[j], which starts no escape: "&" gives CR
// LF, the "%" stays.
template <class Char, class Out>
Cursor<Out> PutNonEscape(const Char* text, std::size_t j, Out* out) {
    if (text[j] == u'&') {
        out[0] = u'\r';
        out[1] = u'\n';
        return {j + 1, out + 2};
    }
    out[0] = u'%';
    return {j + 1, out + 1};
}

// Decodes the escape unit at text[j]; twoEscapes tells whether it is
// "%hh%hh".
template <class Pairs, class Char, class Out, class Counter>
Cursor<Out> PutEscapeUnit(const Pairs& pairs, const Char* text, std::size_t j,
                          unsigned twoEscapes, Out* out, Counter& counter) {
    const Char* const p = text + j;
    const unsigned b1 = DigitsByte(p[1], p[2]);
    const char16_t c3 = p[3];
    if (c3 >= 0x80) {  // a literal partner
        counter.ByteAndChar(b1, c3, p);
        return {j + 4, PutByteAndChar(pairs, b1, c3, out)};
    }
    // With two escapes the piece is b1 b2. Otherwise the ASCII c3 is b1's
    // literal partner and its own byte, the "%" included when no
    // hexadecimal digits follow it. Which one it is is as good as random in
    // encoded Japanese, so both share one path without branches.
    const unsigned mask = 0u - twoEscapes;
    const unsigned second = c3 ^ ((DigitsByte(p[4], p[5]) ^ c3) & mask);
    counter.Pair(pairs, b1, second, p);
    return {j + 4 + 2 * twoEscapes, PutBytePair(pairs, b1, second, out)};
}

// The bits of word from bit n on, or none when n is past the word.
std::uint64_t BitsFromOn(std::uint64_t word, std::size_t n) {
    return n < kWordBits ? word >> n << n : 0;
}

// Decodes the units [at.in, stop) of the chunk at text, and the rest of the
// last escape unit, at most kOverrun units more.
template <class Pairs, class Char, class Out, class Counter>
Cursor<Out> DecodeFast(const Pairs& pairs, const Char* text, Cursor<Out> at, std::size_t stop,
                  const UnitBits& bits, Counter& counter) {
    while (at.in < stop) {
        const std::size_t k = at.in / kWordBits;
        const std::size_t base = k * kWordBits;
        const std::size_t wordEnd = std::min(base + kWordBits, stop);
        const std::uint64_t escape = bits.escape[k];
        const std::uint64_t twoEscapes = bits.twoEscapes[k];
        std::uint64_t pending = BitsFromOn(bits.special[k], at.in - base) &
                                (~std::uint64_t{0} >> (base + kWordBits - wordEnd));
        while (pending != 0) {
            const auto bit = static_cast<unsigned>(std::countr_zero(pending));
            const std::size_t j = base + bit;
            at.out = CopyPlain(text, at.in, j, at.out);
            if (escape >> bit & 1) {
                at = PutEscapeUnit(pairs, text, j, twoEscapes >> bit & 1, at.out, counter);
            } else {
                at = PutNonEscape(text, j, at.out);
            }
            pending = BitsFromOn(pending, at.in - base);
        }
        if (at.in < wordEnd) {
            at.out = CopyPlain(text, at.in, wordEnd, at.out);
            at.in = wordEnd;
        }
    }
    return at;
}

// ---------------------------------------------------------------------------
// Units by shuffle (bytes to bytes, SSSE3)
//
// In the byte route most pieces are their own two bytes, and plain units
// are their own byte: what a run of units writes is then a shuffle of the
// bytes at hand, each escape's "%" standing for the byte of its digits. The
// units that start in the next kWindow units follow from where escapes start
// there, so a step looks up that pattern of escape bits in a table of
// shuffles, writes the units it decides with one shuffle, and checks their
// pieces in the table of pairs; a step with a piece that is not its own bytes
// decodes one unit the usual way instead.

constexpr unsigned kWindow = 12;
// A step reads 16 units from where it starts and decides units up to 14
// units on.
constexpr std::size_t kStepReach = 16;

// For each pattern of escape starts in the window: the shuffle that writes
// its units, the shuffle that gathers their pieces (three pairs at most, the
// rest the pair 0 0, which is its own bytes), and how many units it reads and
// bytes it writes.
class ShuffleSteps {
public:
    static constexpr std::size_t kPatterns = std::size_t{1} << kWindow;
    static constexpr std::uint8_t kNone = 0x80;

    static const ShuffleSteps& Get() {
        static const ShuffleSteps steps;
        return steps;
    }

    const std::uint8_t* Output(unsigned pattern) const { return output_[pattern].data(); }
    const std::uint8_t* Pieces(unsigned pattern) const { return pieces_[pattern].data(); }
    unsigned Read(unsigned pattern) const { return read_[pattern]; }
    unsigned Written(unsigned pattern) const { return written_[pattern]; }

private:
    ShuffleSteps() {
        for (unsigned pattern = 0; pattern < kPatterns; ++pattern) {
            auto& output = output_[pattern];
            auto& pieces = pieces_[pattern];
            output.fill(kNone);
            pieces.fill(kNone);
            unsigned at = 0, written = 0, piece = 0;
            while (at < kWindow) {
                if ((pattern >> at & 1) == 0) {  // a plain unit
                    output[written++] = static_cast<std::uint8_t>(at++);
                    continue;
                }
                if (at + 3 >= kWindow) break;  // whether a second escape follows is not in the window
                // The escape's byte and either the next escape's byte or the
                // unit after the escape.
                output[written++] = pieces[2 * piece] = static_cast<std::uint8_t>(at);
                output[written++] = pieces[2 * piece + 1] = static_cast<std::uint8_t>(at + 3);
                ++piece;
                at += (pattern >> (at + 3) & 1) != 0 ? 6 : 4;
            }
            read_[pattern] = static_cast<std::uint8_t>(at);
            written_[pattern] = static_cast<std::uint8_t>(written);
        }
    }

    alignas(16) std::array<std::array<std::uint8_t, 16>, kPatterns> output_;
    alignas(16) std::array<std::array<std::uint8_t, 16>, kPatterns> pieces_;
    std::array<std::uint8_t, kPatterns> read_;
    std::array<std::uint8_t, kPatterns> written_;
};

#ifdef TESSALY_SHUFFLED_UNITS
// Whether the processor has SSSE3 and the steps can be used (checked once).
bool CanShuffleUnits() {
    static const bool can = __builtin_cpu_supports("ssse3") && BytePairTable::Get().Same(0) != 0;
    return can;
}

// The values of the hexadecimal digits among the 16 bytes (others: junk
// below 0x20).
__attribute__((target("ssse3"))) inline __m128i DigitValues(__m128i bytes) {
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(bytes, Repeat('9')), Repeat(9));
    return _mm_add_epi8(_mm_and_si128(bytes, Repeat(0x0F)), letter);
}

// The 16 units at a step's start (plain) with the escapes that start in its
// window (the bits of pattern) decoded: the lane of each escape's "%" takes
// the byte of its digits, the other lanes keep their unit.
__attribute__((target("ssse3"))) inline __m128i WindowValues(__m128i plain, unsigned pattern) {
    const __m128i spread = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1);
    const __m128i bitOfLane = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    // In each lane, the byte of the digits in the two lanes after it (right
    // for the escapes of the window, which end by lane 13).
    const __m128i digits = DigitValues(plain);
    const __m128i high = _mm_and_si128(_mm_slli_epi16(_mm_srli_si128(digits, 1), 4), Repeat(static_cast<char>(0xF0)));
    const __m128i escaped = _mm_or_si128(high, _mm_srli_si128(digits, 2));
    const __m128i starts =
        _mm_and_si128(_mm_shuffle_epi8(_mm_cvtsi32_si128(static_cast<int>(pattern)), spread), bitOfLane);
    const __m128i isEscape = _mm_cmpeq_epi8(starts, bitOfLane);
    return _mm_or_si128(_mm_and_si128(isEscape, escaped), _mm_andnot_si128(isEscape, plain));
}

// The escape bits of a chunk from where the steps stand on, a word read
// ahead: 64 - used of them are still right, 16 at least at each step.
class EscapesAhead {
public:
    EscapesAhead(const UnitBits& bits, std::size_t in) : bits_(bits) { Read(in); }
    // The bits from unit in on, where the steps have come to.
    std::uint64_t From(std::size_t in) {
        if (used_ > kWordBits - 16) Read(in);
        return escapes_;
    }
    // The steps have gone on n units.
    void Skip(unsigned n) {
        escapes_ >>= n;
        used_ += n;
    }

private:
    void Read(std::size_t in) {
        const std::size_t k = in / kWordBits;
        const auto shift = static_cast<unsigned>(in % kWordBits);
        escapes_ = bits_.escape[k] >> shift | bits_.escape[k + 1] << 1 << (kWordBits - 1 - shift);
        used_ = 0;
    }
    const UnitBits& bits_;
    std::uint64_t escapes_ = 0;
    unsigned used_ = 0;
};

// Decodes units from at.in while a step's reach stays before stop; "&" is
// plain. Returns where it stopped.
template <class Counter>
__attribute__((target("ssse3"))) Cursor<unsigned char> DecodeShuffled(
    const BytePairTable& pairs, const ShuffleSteps& steps, const unsigned char* text, Cursor<unsigned char> at,
    std::size_t stop, const UnitBits& bits, Counter& counter) {
    EscapesAhead ahead(bits, at.in);
    while (at.in + kStepReach <= stop) {
        const std::uint64_t escapes = ahead.From(at.in);
        if ((escapes & 0xFFFF) == 0) {  // 16 plain units: as they are
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at.out),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at.in)));
            at.in += 16;
            at.out += 16;
            ahead.Skip(16);
            continue;
        }
        const auto pattern = static_cast<unsigned>(escapes & (ShuffleSteps::kPatterns - 1));
        const unsigned char* const p = text + at.in;
        const __m128i plain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i values = WindowValues(plain, pattern);
        const __m128i output = _mm_shuffle_epi8(values, _mm_load_si128(reinterpret_cast<const __m128i*>(steps.Output(pattern))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at.out), output);
        const auto pieces = static_cast<std::uint64_t>(_mm_cvtsi128_si64(
            _mm_shuffle_epi8(values, _mm_load_si128(reinterpret_cast<const __m128i*>(steps.Pieces(pattern))))));
        const unsigned same = pairs.Same(pieces & 0xFFFF) & pairs.Same(pieces >> 16 & 0xFFFF) &
                              pairs.Same(pieces >> 32 & 0xFFFF);
        if (same == 0) [[unlikely]] {
            // One unit the usual way.
            const std::size_t from = at.in;
            if (pattern & 1) {
                at = PutEscapeUnit(pairs, text, at.in, pattern >> 3 & 1, at.out, counter);
            } else {
                *at.out++ = text[at.in++];
            }
            const auto read = static_cast<unsigned>(at.in - from);
            ahead.Skip(read);
            continue;
        }
        const unsigned read = steps.Read(pattern);
        at.in += read;
        at.out += steps.Written(pattern);
        ahead.Skip(read);
    }
    return at;
}
#else
bool CanShuffleUnits() { return false; }
template <class Counter>
Cursor<unsigned char> DecodeShuffled(const BytePairTable&, const ShuffleSteps&, const unsigned char*,
                                     Cursor<unsigned char> at, std::size_t, const UnitBits&, Counter&) {
    return at;
}
#endif

// ---------------------------------------------------------------------------
// The plain loop

// Decodes from p to chunkEnd (and the rest of a unit that starts before it)
// one unit at a time, with every case at the end of the text. When end is
// not the end of the input (final false), an escape that the units before
// end do not decide stops the loop with p on its "%".
template <class Pairs, class Char, class Out, class Counter>
Out* DecodePlainly(const Pairs& pairs, const Char*& p, const Char* chunkEnd,
                   const Char* end, char16_t amp, bool final, Out* o, Counter& counter) {
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
        const Char* const escape = p - 1;
        if (!final && end - p <= 2) {  // "%", "%h" or "%hh" may go on
            p = escape;
            return o;
        }
        if (end - p <= 2) {  // "%", "%h" or "%hh" ends the text: copied as it is
            p = end;
            return std::copy(escape, end, o);
        }
        const unsigned b1 = HexByte(p[0], p[1]);
        if (b1 > 0xFF) {  // not an escape: keep the "%", go on after it
            *o++ = u'%';
            continue;
        }
        const char16_t c3 = p[2];
        p += 3;
        const std::ptrdiff_t left = end - p;
        if (!final && c3 == u'%' && left < 2) {  // "%hh%" or "%hh%h" may go on
            p = escape;
            return o;
        }
        if (c3 == u'%' && left == 1) {  // "%hh%h" ends the text: copied as it is
            p = end;
            return std::copy(escape, end, o);
        }
        // Two escapes, or c3 as b1's literal partner ("%" included).
        const unsigned b2 = left >= 2 ? HexByte(p[0], p[1]) : 0x100;
        if (c3 == u'%' && b2 <= 0xFF) {
            counter.Pair(pairs, b1, b2, escape);
            o = PutBytePair(pairs, b1, b2, o);
            p += 2;
        } else {
            // An ASCII partner is counted as its own byte.
            if (c3 < 0x80) {
                counter.Pair(pairs, b1, c3, escape);
            } else {
                counter.ByteAndChar(b1, c3, escape);
            }
            o = PutByteAndChar(pairs, b1, c3, o);
        }
    }
    return o;
}

// Out is char16_t for text, or unsigned char for its code-page bytes when
// every unit of text is below 0x80 (they are their own bytes).
template <class Pairs, class Out, class Char, class String, class Counter = NoCount>
std::size_t DecodeAppendImpl(String& out, std::basic_string_view<Char> text, bool crLfAsAmp,
                             bool final, Counter&& counter = {}) {
    const Pairs& pairs = Pairs::Get();
    // Only "&" makes the text longer (one unit to two).
    const std::size_t growth = crLfAsAmp ? 2 : 1;
    detail::ChunkedOutput<typename String::value_type> output(out, growth * (text.size() + kOverrun) + kScratchUnits);
    const Char* const begin = text.data();
    const Char* p = begin;
    const Char* const end = p + text.size();
    const char16_t amp = crLfAsAmp ? u'&' : u'%';  // with the option off, "&" is plain
    UnitBits bits;
    constexpr bool kBytes = std::is_same_v<Pairs, BytePairTable> && std::is_same_v<Out, unsigned char>;
    const bool shuffled = kBytes && !crLfAsAmp && CanShuffleUnits();
    while (p != end) {
        const std::size_t left = static_cast<std::size_t>(end - p);
        const std::size_t chunk = std::min(left, detail::kChunkUnits);
        const Char* const chunkEnd = p + chunk;
        Out* o = reinterpret_cast<Out*>(output.Room(growth * (chunk + kOverrun) + kScratchUnits));
        if (left > kFastMargin) {
            const std::size_t fast = std::min(chunk, left - kFastMargin);
            Classify(p, std::min(left, fast + kLookahead), crLfAsAmp, bits);
            Cursor<Out> at{0, o};
            if constexpr (kBytes) {
                if (shuffled) at = DecodeShuffled(pairs, ShuffleSteps::Get(), p, at, fast, bits, counter);
            }
            at = DecodeFast(pairs, p, at, fast, bits, counter);
            p += at.in;
            o = at.out;
        }
        o = DecodePlainly(pairs, p, chunkEnd, end, amp, final, o, counter);
        output.Commit(reinterpret_cast<typename String::value_type*>(o));
        if (p < chunkEnd) break;  // an escape held back at the end
    }
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

std::basic_string_view<unsigned char> AsUnsigned(std::string_view bytes) {
    return {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
}

// ---------------------------------------------------------------------------
// "+" as a space

#ifdef TESSALY_SHUFFLED_UNITS
// CopySpaced's bytes 32 at a time while 32 are left; returns how many.
__attribute__((target("avx2"))) std::size_t CopySpacedAvx2(const unsigned char* in, std::size_t n,
                                                           unsigned char* out) {
    std::size_t i = 0;
    const __m256i plus = _mm256_set1_epi8('+');
    const __m256i flip = _mm256_set1_epi8('+' ^ ' ');
    for (; i + 32 <= n; i += 32) {
        const __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_xor_si256(units, _mm256_and_si256(_mm256_cmpeq_epi8(units, plus), flip)));
    }
    return i;
}

// CopySpaced's units 64 bytes at a time while 64 bytes are left.
template <class Char>
__attribute__((target("avx512f,avx512bw"))) std::size_t CopySpacedAvx512(const Char* in, std::size_t n, Char* out) {
    constexpr std::size_t kPerLoad = 64 / sizeof(Char);
    std::size_t i = 0;
    for (; i + kPerLoad <= n; i += kPerLoad) {
        const __m512i units = _mm512_loadu_si512(in + i);
        if constexpr (sizeof(Char) == 1) {
            const __mmask64 plus = _mm512_cmpeq_epi8_mask(units, _mm512_set1_epi8('+'));
            _mm512_storeu_si512(out + i, _mm512_mask_blend_epi8(plus, units, _mm512_set1_epi8(' ')));
        } else {
            const __mmask32 plus = _mm512_cmpeq_epi16_mask(units, _mm512_set1_epi16(u'+'));
            _mm512_storeu_si512(out + i, _mm512_mask_blend_epi16(plus, units, _mm512_set1_epi16(u' ')));
        }
    }
    return i;
}
#endif

// Copies n units from in to out, each "+" a space.
template <class Char>
void CopySpaced(const Char* in, std::size_t n, Char* out) {
    std::size_t i = 0;
#ifdef TESSALY_SHUFFLED_UNITS
    static const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    if (avx512) {
        i = CopySpacedAvx512(in, n, out);
    } else if constexpr (sizeof(Char) == 1) {
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (avx2) i = CopySpacedAvx2(in, n, out);
    }
#endif
#ifdef __SSE2__
    constexpr std::size_t kPerLoad = 16 / sizeof(Char);
    for (; i + kPerLoad <= n; i += kPerLoad) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i plus = sizeof(Char) == 1 ? _mm_cmpeq_epi8(units, _mm_set1_epi8('+'))
                                               : _mm_cmpeq_epi16(units, _mm_set1_epi16(u'+'));
        const __m128i flip = sizeof(Char) == 1 ? _mm_set1_epi8('+' ^ ' ') : _mm_set1_epi16('+' ^ ' ');
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_xor_si128(units, _mm_and_si128(plus, flip)));
    }
#endif
    for (; i < n; ++i) out[i] = in[i] == u'+' ? static_cast<Char>(u' ') : in[i];
}

// DecodeAppendImpl on the text with each "+" a space: a block at a time,
// copied with its "+" replaced; the undecided end of a block (an escape that
// may go on) goes in front of the next. Losses are counted at offsets in
// text.
template <class Pairs, class Out, class Char, class String>
std::size_t DecodeSpaced(String& out, std::basic_string_view<Char> text, bool crLfAsAmp, bool final,
                         ByteLoss* loss) {
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    // The whole result at once, as a single call would reserve it.
    const std::size_t growth = crLfAsAmp ? 2 : 1;
    const detail::ChunkedOutput<typename String::value_type> whole(out, growth * (text.size() + kOverrun) +
                                                                            kScratchUnits);
    // Room for a block and what the block before left undecided ("%hh%h"
    // at most), filled before it is read.
    constexpr std::size_t kHeldMost = 8;
    std::size_t room = std::min(kBlock, text.size()) + kHeldMost;
    auto block = std::make_unique_for_overwrite<Char[]>(room);
    std::size_t held = 0;  // units at the block's start from the block before
    std::size_t pos = 0;   // where in text the block starts
    for (std::size_t next = 0;;) {
        const std::size_t take = std::min(kBlock, text.size() - next);
        if (held + take > room) {  // more left undecided than ever expected
            room = held + take;
            auto bigger = std::make_unique_for_overwrite<Char[]>(room);
            std::copy_n(block.get(), held, bigger.get());
            block = std::move(bigger);
        }
        CopySpaced(text.data() + next, take, block.get() + held);
        next += take;
        const std::basic_string_view<Char> piece(block.get(), held + take);
        const bool last = final && next == text.size();
        std::size_t used;
        if (loss != nullptr) {
            ByteLoss here;
            used = DecodeAppendImpl<Pairs, Out>(out, piece, crLfAsAmp, last, LossCounter<Char>{here, piece.data()});
            if (here.count != 0 && loss->count == 0) loss->first = pos + here.first;
            loss->count += here.count;
        } else {
            used = DecodeAppendImpl<Pairs, Out>(out, piece, crLfAsAmp, last);
        }
        pos += used;
        held = piece.size() - used;
        if (next == text.size()) return pos;
        std::memmove(block.get(), block.get() + used, held * sizeof(Char));
    }
}

}  // namespace

std::size_t DecodeAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp,
                         bool final) {
    return DecodeAppendImpl<PairTable, char16_t>(out, text, crLfAsAmp, final);
}

std::size_t DecodeAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp, bool final,
                         ByteLoss& loss) {
    return DecodeAppendImpl<PairTable, char16_t>(out, text, crLfAsAmp, final,
                                                 LossCounter<char16_t>{loss, text.data()});
}

std::size_t DecodeLatin1Append(std::u16string& out, std::string_view bytes, bool crLfAsAmp,
                               bool final) {
    return DecodeAppendImpl<PairTable, char16_t>(out, AsUnsigned(bytes), crLfAsAmp, final);
}

std::size_t DecodeAsciiToBytesAppend(std::string& out, std::string_view ascii, bool crLfAsAmp,
                                     bool final) {
    return DecodeAppendImpl<BytePairTable, unsigned char>(out, AsUnsigned(ascii), crLfAsAmp, final);
}

std::size_t DecodeAsciiToBytesAppend(std::string& out, std::string_view ascii, bool crLfAsAmp, bool final,
                                     ByteLoss& loss) {
    const auto text = AsUnsigned(ascii);
    return DecodeAppendImpl<BytePairTable, unsigned char>(out, text, crLfAsAmp, final,
                                                          LossCounter<unsigned char>{loss, text.data()});
}

std::size_t DecodePlusAsSpaceAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp, bool final,
                                   ByteLoss* loss) {
    return DecodeSpaced<PairTable, char16_t>(out, text, crLfAsAmp, final, loss);
}

std::size_t DecodeAsciiPlusAsSpaceToBytesAppend(std::string& out, std::string_view ascii, bool crLfAsAmp, bool final,
                                               ByteLoss* loss) {
    return DecodeSpaced<BytePairTable, unsigned char>(out, AsUnsigned(ascii), crLfAsAmp, final, loss);
}

#ifdef TESSALY_SHUFFLED_UNITS
namespace {

// ---------------------------------------------------------------------------
// EUC-JP escapes into code page 932 bytes by the same steps
//
// EUC-JP puts a kanji or kana into two escapes, as code page 932 does, so
// the steps above find its pieces where they find code page 932's. A piece
// of two escapes that is an EUC-JP character whose code page 932 form has
// two bytes is written as those bytes, and a piece of two ASCII bytes (an
// escaped one and the escape or plain unit after it) as they are. A step
// with any other piece (a lead byte before a plain unit or an ASCII byte, a
// half-width katakana) decodes one character the usual way instead, and a
// character the steps do not decode at all ends them. Every step starts at
// a character's start, so the escapes are read as whole characters, as the
// decoder reads them from the start of a run.

// The table of detail::EucJpToCp932Pairs.
class EucJpPairBytes {
public:
    static const EucJpPairBytes& Get() {
        static const EucJpPairBytes table;
        return table;
    }
    std::uint16_t Of(unsigned pair) const { return bytes_[pair]; }
    const std::uint16_t* Data() const { return bytes_.get(); }

private:
    EucJpPairBytes() : bytes_(std::make_unique<std::uint16_t[]>(0x10000)) {
        // Two bytes below 0x80 are two characters, their own bytes (but for
        // 0 0, which reads as no pair).
        for (unsigned b1 = 0; b1 < 0x80; ++b1) {
            for (unsigned b2 = 0; b2 < 0x80; ++b2) bytes_[b1 | b2 << 8] = static_cast<std::uint16_t>(b1 | b2 << 8);
        }
        const std::uint16_t* const jis = eucjp::Jis0208Pairs();
        for (unsigned b1 = 0xA1; b1 <= 0xFE; ++b1) {
            for (unsigned b2 = 0xA1; b2 <= 0xFE; ++b2) {
                const char16_t c = jis[(b1 - 0xA1) * 94 + (b2 - 0xA1)];
                const std::uint16_t bytes = c == 0 ? 0 : detail::kCp932WritableBytes[c];
                if (cp932::IsDoubleByte(bytes)) {
                    bytes_[b1 | b2 << 8] = static_cast<std::uint16_t>(bytes >> 8 | (bytes & 0xFF) << 8);
                }
            }
        }
    }
    std::unique_ptr<std::uint16_t[]> bytes_;
};

// For each pattern of escape starts: which byte of the pieces (as
// ShuffleSteps gathers them) each output byte is, kNone for the plain
// units; and how many pieces there are. Worked out from ShuffleSteps'
// shuffles: a piece's bytes are the lanes it gathers.
class EucJpSteps {
public:
    static const EucJpSteps& Get() {
        static const EucJpSteps steps;
        return steps;
    }
    const std::uint8_t* PieceBytes(unsigned pattern) const { return pieceBytes_[pattern].data(); }
    unsigned Pieces(unsigned pattern) const { return pieces_[pattern]; }

private:
    EucJpSteps() {
        const ShuffleSteps& steps = ShuffleSteps::Get();
        for (unsigned pattern = 0; pattern < ShuffleSteps::kPatterns; ++pattern) {
            const std::uint8_t* const output = steps.Output(pattern);
            const std::uint8_t* const pieces = steps.Pieces(pattern);
            unsigned count = 0;
            while (count < 3 && pieces[2 * count] != ShuffleSteps::kNone) ++count;
            auto& bytes = pieceBytes_[pattern];
            for (unsigned k = 0; k < 16; ++k) {
                const std::uint8_t* const at = std::find(pieces, pieces + 2 * count, output[k]);
                bytes[k] = output[k] != ShuffleSteps::kNone && at != pieces + 2 * count
                               ? static_cast<std::uint8_t>(at - pieces)
                               : ShuffleSteps::kNone;
            }
            pieces_[pattern] = static_cast<std::uint8_t>(count);
        }
    }
    alignas(16) std::array<std::array<std::uint8_t, 16>, ShuffleSteps::kPatterns> pieceBytes_;
    std::array<std::uint8_t, ShuffleSteps::kPatterns> pieces_;
};

// One character at text[j] the usual way, when it is one the steps take: a
// plain ASCII unit, an escaped ASCII byte, a half-width katakana, a pair of
// EUC-JP's table. twoEscapes: whether "%hh%hh" starts at j. Returns false
// (nothing written) for anything else.
bool PutEucJpCharacter(const EucJpPairBytes& pairs, const unsigned char* text, std::size_t j, bool isEscape,
                       bool twoEscapes, Cursor<unsigned char>& at) {
    const unsigned char* const p = text + j;
    if (!isEscape) {
        if (p[0] >= 0x80) return false;  // a literal character of the text
        *at.out++ = p[0];
        at.in = j + 1;
        return true;
    }
    const unsigned b1 = DigitsByte(p[1], p[2]);
    if (b1 < 0x80) {
        *at.out++ = static_cast<unsigned char>(b1);
        at.in = j + 3;
        return true;
    }
    if (!twoEscapes) return false;
    const unsigned b2 = DigitsByte(p[4], p[5]);
    if (b1 == 0x8E && b2 >= 0xA1 && b2 <= 0xDF) {  // half-width katakana: the same byte in code page 932
        *at.out++ = static_cast<unsigned char>(b2);
        at.in = j + 6;
        return true;
    }
    const std::uint16_t bytes = pairs.Of(b1 | b2 << 8);
    if (bytes == 0) return false;
    std::memcpy(at.out, &bytes, 2);
    at.out += 2;
    at.in = j + 6;
    return true;
}

// Decodes from at.in while a step's reach stays before stop; returns where
// it stopped, and whether a character it does not decode stopped it.
__attribute__((target("ssse3"))) Cursor<unsigned char> DecodeEucJpShuffled(
    const EucJpPairBytes& pairs, const ShuffleSteps& steps, const EucJpSteps& eucSteps, const unsigned char* text,
    Cursor<unsigned char> at, std::size_t stop, const UnitBits& bits, bool& blocked) {
    EscapesAhead ahead(bits, at.in);
    blocked = false;
    // Each character the usual way costs a mispredicted branch: where they
    // are frequent (half-width katakana), the steps give way to the usual
    // loop, which takes them in its stride.
    std::size_t taken = 0, slow = 0;
    while (at.in + kStepReach <= stop) {
        const std::uint64_t escapes = ahead.From(at.in);
        const unsigned char* const p = text + at.in;
        const __m128i plain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(plain));
        if ((escapes & 0xFFFF) == 0 && high == 0) {  // 16 plain ASCII units: as they are
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at.out), plain);
            at.in += 16;
            at.out += 16;
            ahead.Skip(16);
            continue;
        }
        const auto pattern = static_cast<unsigned>(escapes & (ShuffleSteps::kPatterns - 1));
        const unsigned read = steps.Read(pattern);
        const __m128i values = WindowValues(plain, pattern);
        const auto pieces = static_cast<std::uint64_t>(_mm_cvtsi128_si64(
            _mm_shuffle_epi8(values, _mm_load_si128(reinterpret_cast<const __m128i*>(steps.Pieces(pattern))))));
        const std::uint16_t first = pairs.Of(pieces & 0xFFFF);
        const std::uint16_t second = pairs.Of(pieces >> 16 & 0xFFFF);
        const std::uint16_t third = pairs.Of(pieces >> 32 & 0xFFFF);
        const unsigned count = eucSteps.Pieces(pattern);
        // Every piece a pair of the table, and no literal byte from 0x80 up
        // among the units read (the escapes' own units are all ASCII).
        const bool whole = ((first != 0) | (count < 1)) & ((second != 0) | (count < 2)) &
                           ((third != 0) | (count < 3)) & ((high & ((1u << read) - 1)) == 0);
        ++taken;
        if (!whole) [[unlikely]] {
            const std::size_t from = at.in;
            if (++slow > taken / 32 + 2 ||
                !PutEucJpCharacter(pairs, text, at.in, (pattern & 1) != 0, (pattern >> 3 & 1) != 0, at)) {
                blocked = true;
                return at;
            }
            const auto n = static_cast<unsigned>(at.in - from);
            ahead.Skip(n);
            continue;
        }
        const __m128i pieceBytes = _mm_load_si128(reinterpret_cast<const __m128i*>(eucSteps.PieceBytes(pattern)));
        const __m128i converted = _mm_cvtsi64_si128(static_cast<long long>(
            first | std::uint64_t{second} << 16 | std::uint64_t{third} << 32));
        // The plain units from values, the pieces' bytes from converted
        // (a shuffle index with its top bit set gives 0).
        const __m128i plainUnits = _mm_and_si128(
            _mm_cmplt_epi8(pieceBytes, _mm_setzero_si128()),
            _mm_shuffle_epi8(values, _mm_load_si128(reinterpret_cast<const __m128i*>(steps.Output(pattern)))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at.out),
                         _mm_or_si128(plainUnits, _mm_shuffle_epi8(converted, pieceBytes)));
        at.in += read;
        at.out += steps.Written(pattern);
        ahead.Skip(read);
    }
    return at;
}
}  // namespace
#endif

namespace detail {

#ifdef TESSALY_SHUFFLED_UNITS
const std::uint16_t* EucJpToCp932Pairs() { return EucJpPairBytes::Get().Data(); }
#else
const std::uint16_t* EucJpToCp932Pairs() { return nullptr; }  // no processor takes the windows
#endif

bool CanDecodeEucJpSteps() { return CanShuffleUnits(); }

std::size_t DecodeEucJpSteps(const unsigned char* text, std::size_t stop, std::size_t available,
                             unsigned char*& out) {
#ifdef TESSALY_SHUFFLED_UNITS
    if (!CanShuffleUnits()) return 0;
    const EucJpPairBytes& pairs = EucJpPairBytes::Get();
    const ShuffleSteps& steps = ShuffleSteps::Get();
    const EucJpSteps& eucSteps = EucJpSteps::Get();
    UnitBits bits;
    std::size_t in = 0;
    // A chunk at a time, as the steps of Decode go; a short one first, for
    // text where they soon give way.
    std::size_t most = 64;
    while (in < stop && available - in > kFastMargin + kStepReach) {
        const std::size_t chunk = std::min({stop - in, most, available - in - kFastMargin});
        most = kChunkUnits;
        Classify(text + in, std::min(available - in, chunk + kLookahead), false, bits);
        bool blocked = false;
        const Cursor<unsigned char> at =
            DecodeEucJpShuffled(pairs, steps, eucSteps, text + in, {0, out}, chunk, bits, blocked);
        in += at.in;
        out = at.out;
        if (blocked || at.in == 0) break;
    }
    return in;
#else
    static_cast<void>(text), static_cast<void>(stop), static_cast<void>(available), static_cast<void>(out);
    return 0;
#endif
}

}  // namespace detail

std::u16string Decode(std::u16string_view text, bool crLfAsAmp) {
    std::u16string out;
    DecodeAppend(out, text, crLfAsAmp, true);
    return out;
}

}  // namespace tessaly

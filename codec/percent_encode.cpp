// Encode: one pass from UTF-16 units through their code-page bytes to the
// escaped text, without building the byte string in between.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#include <tmmintrin.h>
#define TESSALY_SHUFFLED_FORMS 1
#endif

#include "codec/chunked_output.h"
#include "codec/codepage.h"
#include "codec/cp932.h"
#include "codec/exact_bytes.h"
#include "codec/pair_bits.h"
#include "codec/percent.h"

namespace tessaly {
namespace {

using cp932::UnitToBytes;

// The encoded form of one byte: itself when printable, else "%XX". Written
// with one 8-byte store; the unit after the form is scratch that the next
// form overwrites.
struct ByteForm {
    char16_t units[3];
    char16_t length;
};
static_assert(sizeof(ByteForm) == 8);

constexpr unsigned kMostUnitsPerUnit = 6;  // a double-byte character as "%XX%XX"
constexpr std::size_t kScratchUnits = 8;  // the last store's spill, and one unit read past a chunk

constexpr bool IsPrintable(unsigned byte) { return byte - 0x20 < 0x7F - 0x20; }

// Forms of every byte value. For the high byte of a code (a lead byte or, for
// a single-byte code, 0), 0 has the empty form.
constexpr std::array<ByteForm, 256> MakeForms(bool highByte) {
    constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
    std::array<ByteForm, 256> forms{};
    for (unsigned b = 0; b < 256; ++b) {
        if (highByte && b == 0) {
            forms[b] = {{0, 0, 0}, 0};
        } else if (IsPrintable(b)) {
            forms[b] = {{static_cast<char16_t>(b), 0, 0}, 1};
        } else {
            forms[b] = {{u'%', kHexDigits[b >> 4], kHexDigits[b & 0xF]}, 3};
        }
    }
    return forms;
}
constexpr std::array<ByteForm, 256> kHighByteForms = MakeForms(true);
constexpr std::array<ByteForm, 256> kLowByteForms = MakeForms(false);

char16_t* PutForm(const ByteForm& form, char16_t* out) {
    std::memcpy(out, &form, sizeof form);
    return out + form.length;
}

// A surrogate pair is one character and converts to a single '?': after the
// high half, step over the low half.
const char16_t* SkipLowSurrogate(char16_t unit, const char16_t* p, const char16_t* end) {
    if (cp932::IsHighSurrogate(unit) && p != end && cp932::IsLowSurrogate(*p)) ++p;
    return p;
}

}  // namespace

std::size_t EncodeAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp,
                         bool final) {
    detail::ChunkedOutput<char16_t> output(out, kMostUnitsPerUnit * text.size() + kScratchUnits);
    const char16_t* const begin = text.data();
    const char16_t* p = begin;
    const char16_t* const end = p + text.size();
    while (p != end) {
        const char16_t* const chunkEnd = p + std::min<std::size_t>(end - p, detail::kChunkUnits);
        char16_t* o = output.Room(kMostUnitsPerUnit * static_cast<std::size_t>(chunkEnd - p) +
                                  kScratchUnits);
        while (p < chunkEnd) {
            const char16_t unit = *p++;
            const std::uint16_t bytes = UnitToBytes(unit);
            if (bytes == '?') {
                if (p == end && !final && cp932::IsHighSurrogate(unit)) {
                    p -= 1;  // its low half may follow
                    output.Commit(o);
                    output.Finish();
                    return static_cast<std::size_t>(p - begin);
                }
                p = SkipLowSurrogate(unit, p, end);
            } else if (bytes == '\r' && crLfAsAmp) {
                if (p == end) {
                    if (!final) {
                        p -= 1;  // an LF may follow
                        break;
                    }
                    *o++ = u'\r';
                    break;
                }
                const char16_t next = *p++;
                const std::uint16_t nextBytes = UnitToBytes(next);
                if (nextBytes == '\n') {
                    *o++ = u'&';
                } else {
                    if (p == end && !final && nextBytes == '?' && cp932::IsHighSurrogate(next)) {
                        p -= 2;  // the low half of the character after the CR may follow
                        break;
                    }
                    // The CR and the next character's bytes go out raw; a
                    // double-byte character keeps both its bytes, so it stays
                    // whole when the output bytes become text again.
                    *o++ = u'\r';
                    *o++ = cp932::BytesToChar(nextBytes);
                    if (nextBytes == '?') p = SkipLowSurrogate(next, p, end);
                }
                continue;
            }
            o = PutForm(kHighByteForms[bytes >> 8], o);
            o = PutForm(kLowByteForms[bytes & 0xFF], o);
        }
        output.Commit(o);
        if (p < chunkEnd) break;  // held back at the end
    }
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

std::u16string Encode(std::u16string_view text, bool crLfAsAmp) {
    std::u16string out;
    EncodeAppend(out, text, crLfAsAmp, true);
    return out;
}

// ---------------------------------------------------------------------------
// Encode straight from code page 932 bytes to the bytes of the encoded text.

namespace {

constexpr bool HighFormsMatchLowForms() {
    for (unsigned b = 1; b < 256; ++b) {
        const ByteForm& h = kHighByteForms[b];
        const ByteForm& l = kLowByteForms[b];
        if (h.length != l.length || h.units[0] != l.units[0] || h.units[1] != l.units[1] ||
            h.units[2] != l.units[2]) {
            return false;
        }
    }
    return true;
}

// Bytes that a block of the byte route (below) takes for lead bytes, and
// for bytes that may trail them; its table checks the guess.
constexpr bool MaybeLead(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
constexpr bool MaybeTrail(unsigned b) { return b >= cp932::kFirstTrail && b < cp932::kFirstTrail + cp932::kTrailCount; }

// Characters a block need not look up, when the table agrees: single bytes
// (controls, DEL, half-width katakana) and pairs (most kanji rows whole,
// hiragana, katakana, punctuation) that write back their bytes. Ranges a
// block tests 16 bytes at a time.
constexpr bool InByteRange(unsigned b, unsigned first, unsigned last) { return b >= first && b <= last; }
constexpr bool AnyTrail(unsigned t) { return InByteRange(t, 0x40, 0x7E) || InByteRange(t, 0x80, 0xFC); }
constexpr bool KnownSingle(unsigned b) { return b <= 0x1F || b == 0x7F || InByteRange(b, 0xA1, 0xDF); }
constexpr bool KnownPair(unsigned lead, unsigned trail) {
    const bool fullRow = InByteRange(lead, 0x89, 0x97) || InByteRange(lead, 0x99, 0x9F) || InByteRange(lead, 0xE0, 0xE9);
    return (fullRow && AnyTrail(trail)) || (lead == 0x82 && InByteRange(trail, 0x9F, 0xF1)) ||
           (lead == 0x83 && (InByteRange(trail, 0x40, 0x7E) || InByteRange(trail, 0x80, 0x96))) ||
           (lead == 0x81 && (InByteRange(trail, 0x40, 0x7E) || InByteRange(trail, 0x80, 0xAC)));
}

constexpr bool KnownPairsStartWithLeads() {
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        for (unsigned b1 = 0; b1 < 256; ++b1) {
            if (KnownPair(b0, b1) && !(MaybeLead(b0) && MaybeTrail(b1))) return false;
        }
    }
    return true;
}
static_assert(KnownPairsStartWithLeads());

// What the byte route needs, derived on first use from the code page tables,
// the forms above and Encode itself, so that it cannot disagree with them.
struct ByteRoute {
    // The bytes of kLowByteForms[b] (up to 3) and, in the top byte, how many.
    std::array<std::uint32_t, 256> form;
    // For a byte and the byte after it: 1 or 2 when the character starting
    // there (one byte, or a pair) writes back exactly its own bytes, so its
    // encoded form is the forms of those bytes; 0 otherwise.
    std::array<std::uint8_t, 0x10000> step;
    // One bit for the bytes b0 b1 at (b1 << 8 | b0), as they are read from
    // memory: whether the character starting at b0 is 2 bytes when b0 may
    // be a lead byte and b1 may trail it, else 1, and its encoded form the
    // forms of its bytes (step above is that length).
    std::array<std::uint64_t, 0x10000 / 64> blockOk{};
    // Whether every printable ASCII byte is such a character and its own form.
    bool printableIsItself = true;
    // Whether every KnownSingle and KnownPair character writes back its bytes.
    bool knownHold = true;
    // Whether each byte's form is itself when printable, else "%" and its
    // two upper-case hexadecimal digits.
    bool hexForms = true;
    // ToBytes(Encode(ToText("\r\n"), true)) when CR and LF are single bytes.
    std::string crLf;
    bool crLfSimple = false;

    static const ByteRoute& Get() {
        static const ByteRoute route;
        return route;
    }

private:
    ByteRoute() {
        static_assert(HighFormsMatchLowForms(), "a lead byte's form must not depend on its place");
        for (unsigned b = 0; b < 256; ++b) {
            const ByteForm& f = kLowByteForms[b];
            std::uint32_t packed = 0;
            unsigned length = 0;
            for (unsigned i = 0; i < f.length; ++i) {
                unsigned char one[2];
                const unsigned n = static_cast<unsigned>(cp932::PutBytes(UnitToBytes(f.units[i]), one) - one);
                for (unsigned k = 0; k < n; ++k) packed |= std::uint32_t{one[k]} << (8 * length++);
            }
            form[b] = packed | std::uint32_t{length} << 24;
            constexpr char kHex[] = "0123456789ABCDEF";
            const std::uint32_t escape = '%' | std::uint32_t(kHex[b >> 4]) << 8 | std::uint32_t(kHex[b & 15]) << 16 | 3u << 24;
            hexForms = hexForms && form[b] == (IsPrintable(b) ? b | 1u << 24 : escape);
        }
        // Start-up time: a byte that neither is a lead byte nor is taken
        // for one is a character on its own whatever follows it, so its row
        // is one look-up; only the rows of lead bytes are worked out pair by
        // pair. Bits of blockOk as rows: singleOk for the single rows (the
        // same for every byte after), pairRows for the others.
        std::array<std::uint64_t, 4> singleOk{}, pairRows{};
        for (unsigned b0 = 0; b0 < 256; ++b0) {
            const bool single = !cp932::IsLeadByte(static_cast<std::uint8_t>(b0)) && !MaybeLead(b0);
            for (unsigned b1 = 0; b1 < (single ? 1u : 256u); ++b1) {
                const unsigned char two[2] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1)};
                char16_t c;
                const auto n = static_cast<unsigned>(cp932::ConvertCharacter(two, two + 2, &c) - two);
                // Whether the character writes back exactly its own bytes
                // (which also keeps '?', a unit the code page lacks, out).
                const std::uint16_t bytes = UnitToBytes(c);
                const bool itself = n == 2 ? bytes == (b0 << 8 | b1) : bytes == b0;
                step[b0 << 8 | b1] = static_cast<std::uint8_t>(itself ? n : 0);
            }
            if (single) {
                std::fill_n(&step[b0 << 8] + 1, 255, step[b0 << 8]);
                singleOk[b0 / 64] |= std::uint64_t{step[b0 << 8] == 1} << (b0 % 64);  // MaybeLead is false
            } else {
                pairRows[b0 / 64] |= std::uint64_t{1} << (b0 % 64);
            }
        }
        for (unsigned word = 0; word < blockOk.size(); ++word) {
            const unsigned b1 = word / 4, quarter = word % 4;
            std::uint64_t bits = singleOk[quarter];
            for (std::uint64_t rows = pairRows[quarter]; rows != 0; rows &= rows - 1) {
                const auto k = static_cast<unsigned>(std::countr_zero(rows));
                const unsigned b0 = 64 * quarter + k;
                const unsigned guess = MaybeLead(b0) && MaybeTrail(b1) ? 2 : 1;
                bits |= std::uint64_t{step[b0 << 8 | b1] == guess} << k;
            }
            blockOk[word] = bits;
        }
        for (unsigned b = 0x20; b < 0x7F; ++b) {
            printableIsItself = printableIsItself && step[b << 8] == 1 && form[b] == (b | 1u << 24);
        }
        for (unsigned b0 = 0; b0 < 256; ++b0) {
            knownHold = knownHold && (!KnownSingle(b0) || (!MaybeLead(b0) && step[b0 << 8] == 1));
            if (!MaybeLead(b0)) continue;  // no KnownPair starts with it (checked below)
            for (unsigned b1 = 0; b1 < 256; ++b1) {
                knownHold = knownHold && (!KnownPair(b0, b1) || (MaybeTrail(b1) && step[b0 << 8 | b1] == 2));
            }
        }
        crLfSimple = step['\r' << 8 | '\n'] == 1 && step['\n' << 8] == 1;
        if (crLfSimple) {
            const std::u16string encoded = Encode(CodePageBridge::ToText("\r\n"), true);
            crLf = CodePageBridge::ToBytes(encoded);
        }
    }
};

inline unsigned char* PutByteForm(std::uint32_t form, unsigned char* out) {
    std::memcpy(out, &form, 4);  // the top byte is scratch
    return out + (form >> 24);
}

// ---------------------------------------------------------------------------
// Blocks of characters that write back their own bytes
//
// When every character of a stretch writes back its own bytes, its encoded
// form is the form of each byte in turn, whichever character the byte
// belongs to: the bytes can be written out with no dependency from one to
// the next. What takes work is knowing that every character qualifies, for
// which the stretch must be split into characters. A block of kBlock bytes is
// classified at once into bit masks (printable, lead byte, byte that may
// trail); where characters start follows from the masks with a few
// arithmetic steps (a run of bytes that could each start a pair is split
// into pairs from its first byte on); then the route's own table checks
// every character that is not printable ASCII. The split is only a guess
// that the table confirms: a byte it takes for a lead or trail byte wrongly
// fails the check, and the block ends before it.

constexpr std::size_t kBlock = 64;
// A block reads the byte after it: its last byte may start a pair.
constexpr std::size_t kBlockReach = kBlock + 1;
// A block writes up to 3 bytes for each of its bytes, and a 16-byte copy, a
// 4-byte form or the whole forms of its last 16 bytes may write past what
// it keeps.
constexpr std::size_t kMostPerBlock = 3 * kBlock + 16;

// Bit i for byte i of the block.
struct BlockMasks {
    std::uint64_t printable;  // 0x20..0x7E
    std::uint64_t lead;       // could be a lead byte
    std::uint64_t trail;      // could trail a lead byte (byte i + 1 for bit i)
    std::uint64_t cr;
    std::uint64_t known;      // KnownSingle, or KnownPair with byte i + 1 (or printable: not looked up)
};


#ifdef __SSE2__
// All ones in the lanes of bytes in [first, last].
inline __m128i InRange(__m128i bytes, unsigned char first, unsigned char last) {
    const __m128i above = _mm_subs_epu8(_mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>(first))),
                                        _mm_set1_epi8(static_cast<char>(last - first)));
    return _mm_cmpeq_epi8(above, _mm_setzero_si128());
}

inline std::uint64_t Bits16(__m128i lanes, unsigned part) {
    return std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(lanes))} << (16 * part);
}

inline __m128i Equal(__m128i bytes, unsigned char value) {
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)));
}

// Whether the block's bytes are all printable, tested before the rest of
// the classification (the text of a log is mostly blocks of printable ASCII).
inline bool AllPrintable(const unsigned char* p) {
    __m128i all = _mm_set1_epi8(-1);
    for (unsigned part = 0; part < kBlock / 16; ++part) {
        all = _mm_and_si128(all, InRange(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part)), 0x20, 0x7E));
    }
    return _mm_movemask_epi8(all) == 0xFFFF;
}

inline BlockMasks ClassifyBlock(const unsigned char* p) {
    BlockMasks m{0, 0, 0, 0, 0};
    for (unsigned part = 0; part < kBlock / 16; ++part) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part + 1));
        m.printable |= Bits16(InRange(v, 0x20, 0x7E), part);
        m.lead |= Bits16(_mm_or_si128(InRange(v, 0x81, 0x9F), InRange(v, 0xE0, 0xFC)), part);
        m.trail |= Bits16(InRange(next, cp932::kFirstTrail, cp932::kFirstTrail + cp932::kTrailCount - 1), part);
        m.cr |= Bits16(Equal(v, '\r'), part);
        // As KnownSingle and KnownPair.
        const __m128i low = InRange(next, 0x40, 0x7E);
        const __m128i fullRow = _mm_or_si128(_mm_or_si128(InRange(v, 0x89, 0x97), InRange(v, 0x99, 0x9F)),
                                             InRange(v, 0xE0, 0xE9));
        const __m128i pairs = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(fullRow, _mm_or_si128(low, InRange(next, 0x80, 0xFC))),
                         _mm_and_si128(Equal(v, 0x82), InRange(next, 0x9F, 0xF1))),
            _mm_or_si128(_mm_and_si128(Equal(v, 0x83), _mm_or_si128(low, InRange(next, 0x80, 0x96))),
                         _mm_and_si128(Equal(v, 0x81), _mm_or_si128(low, InRange(next, 0x80, 0xAC)))));
        const __m128i singles = _mm_or_si128(_mm_or_si128(InRange(v, 0x00, 0x1F), Equal(v, 0x7F)), InRange(v, 0xA1, 0xDF));
        m.known |= Bits16(_mm_or_si128(pairs, singles), part);
    }
    return m;
}
#else
inline bool AllPrintable(const unsigned char* p) {
    for (unsigned i = 0; i < kBlock; ++i) {
        if (!IsPrintable(p[i])) return false;
    }
    return true;
}

inline BlockMasks ClassifyBlock(const unsigned char* p) {
    BlockMasks m{0, 0, 0, 0, 0};
    for (unsigned i = 0; i < kBlock; ++i) {
        const unsigned b = p[i];
        m.printable |= std::uint64_t{IsPrintable(b)} << i;
        m.lead |= std::uint64_t{MaybeLead(b)} << i;
        m.trail |= std::uint64_t{MaybeTrail(p[i + 1])} << i;
        m.cr |= std::uint64_t{b == '\r'} << i;
        m.known |= std::uint64_t{KnownSingle(b) || KnownPair(b, p[i + 1])} << i;
    }
    return m;
}
#endif

#ifdef TESSALY_SHUFFLED_FORMS
constexpr bool AnyTrailIsTrailButDel() {
    for (unsigned t = 0; t < 256; ++t) {
        if (AnyTrail(t) != (MaybeTrail(t) && t != 0x7F)) return false;
    }
    return true;
}
static_assert(AnyTrailIsTrailButDel());

__attribute__((target("avx2"))) inline __m256i InRange32(__m256i bytes, unsigned char first, unsigned char last) {
    const __m256i above = _mm256_subs_epu8(_mm256_sub_epi8(bytes, _mm256_set1_epi8(static_cast<char>(first))),
                                           _mm256_set1_epi8(static_cast<char>(last - first)));
    return _mm256_cmpeq_epi8(above, _mm256_setzero_si256());
}

__attribute__((target("avx2"))) inline __m256i Equal32(__m256i bytes, unsigned char value) {
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(value)));
}

__attribute__((target("avx2"))) inline std::uint64_t Bits32(__m256i lanes, unsigned part) {
    return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(lanes))} << (32 * part);
}

__attribute__((target("avx2"))) inline bool AllPrintableAvx2(const unsigned char* p) {
    const __m256i all = _mm256_and_si256(InRange32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), 0x20, 0x7E),
                                         InRange32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), 0x20, 0x7E));
    return _mm256_movemask_epi8(all) == -1;
}

__attribute__((target("avx2"))) inline __m256i Splat32(unsigned char b) { return _mm256_set1_epi8(static_cast<char>(b)); }

// All ones in the lanes where bytes - first (given), as unsigned, is at most span.
__attribute__((target("avx2"))) inline __m256i UpTo32(__m256i fromFirst, unsigned char span) {
    return _mm256_cmpeq_epi8(_mm256_subs_epu8(fromFirst, Splat32(span)), _mm256_setzero_si256());
}

// ClassifyBlock 32 bytes at a time, for processors with AVX2 (chosen at run
// time), in fewer steps: ranges tested on differences shared between them,
// and the known characters below 0x80 taken from the bytes' top bits.
__attribute__((target("avx2"))) inline BlockMasks ClassifyBlockAvx2(const unsigned char* p) {
    static_assert(cp932::kFirstTrail == 0x40 && cp932::kFirstTrail + cp932::kTrailCount - 1 == 0xFC);
    BlockMasks m{0, 0, 0, 0, 0};
    for (unsigned part = 0; part < kBlock / 32; ++part) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * part));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * part + 1));
        const __m256i from81 = _mm256_sub_epi8(v, Splat32(0x81));
        const __m256i fromE0 = _mm256_sub_epi8(v, Splat32(0xE0));
        const __m256i next40 = _mm256_sub_epi8(next, Splat32(0x40));
        m.printable |= Bits32(UpTo32(_mm256_sub_epi8(v, Splat32(0x20)), 0x7E - 0x20), part);
        m.lead |= Bits32(_mm256_or_si256(UpTo32(from81, 0x9F - 0x81), UpTo32(fromE0, 0xFC - 0xE0)), part);
        const __m256i trail = UpTo32(next40, 0xFC - 0x40);
        m.trail |= Bits32(trail, part);
        m.cr |= Bits32(Equal32(v, '\r'), part);
        // KnownPair, with AnyTrail as "may trail, and not 0x7F"; after 0x81
        // and 0x83 that up to a last trail byte.
        const __m256i anyTrail = _mm256_andnot_si256(Equal32(next, 0x7F), trail);
        const __m256i fullRow = _mm256_or_si256(
            _mm256_andnot_si256(Equal32(v, 0x98), UpTo32(_mm256_sub_epi8(v, Splat32(0x89)), 0x9F - 0x89)),
            UpTo32(fromE0, 0xE9 - 0xE0));
        const __m256i upToAC = _mm256_cmpeq_epi8(_mm256_min_epu8(next40, Splat32(0xAC - 0x40)), next40);
        const __m256i upTo96 = _mm256_cmpeq_epi8(_mm256_min_epu8(next40, Splat32(0x96 - 0x40)), next40);
        const __m256i pairs = _mm256_or_si256(
            _mm256_and_si256(anyTrail,
                             _mm256_or_si256(fullRow, _mm256_or_si256(_mm256_and_si256(Equal32(v, 0x81), upToAC),
                                                                      _mm256_and_si256(Equal32(v, 0x83), upTo96)))),
            _mm256_and_si256(Equal32(v, 0x82), UpTo32(_mm256_sub_epi8(next, Splat32(0x9F)), 0xF1 - 0x9F)));
        // KnownSingle below 0x80 (with the printable bytes, which are
        // not looked up anyway): every byte whose top bit is clear.
        const __m256i halfWidth = UpTo32(_mm256_sub_epi8(v, Splat32(0xA1)), 0xDF - 0xA1);
        m.known |= Bits32(_mm256_or_si256(pairs, halfWidth), part) |
                   (~Bits32(v, part) & std::uint64_t{0xFFFFFFFF} << (32 * part));
    }
    return m;
}
#endif

// ---------------------------------------------------------------------------
// Blocks of UTF-8 text
//
// Valid UTF-8 into UTF-8 escapes writes each byte's form, as a code page's
// characters that write back their own bytes do: what takes work is knowing
// that the bytes are valid. A block's bytes are classified into masks, and
// each lead byte claims the continuation bytes after it; the block is valid
// when the claimed bytes are exactly its continuation bytes, it has no byte
// that is never in UTF-8, and no lead byte is followed by a second byte out
// of its range (overlong forms, surrogates, past U+10FFFF).

// Bit i for byte i of the block; a lead byte's claims fall past the block
// when its character does.
struct Utf8Masks {
    std::uint64_t cont;   // 0x80..0xBF
    std::uint64_t lead2;  // 0xC2..0xDF
    std::uint64_t lead3;  // 0xE0..0xEF
    std::uint64_t lead4;  // 0xF0..0xF4
    std::uint64_t bad;    // never in UTF-8, or a lead byte whose second byte is out of its range
    std::uint64_t cr;
};

// The three bytes after a block may continue its last character.
constexpr std::size_t kUtf8BlockReach = detail::SetBlocks::kUtf8Reach;
static_assert(kUtf8BlockReach == kBlock + 3);

#ifdef __SSE2__
inline Utf8Masks ClassifyUtf8(const unsigned char* p) {
    Utf8Masks m{0, 0, 0, 0, 0, 0};
    for (unsigned part = 0; part < kBlock / 16; ++part) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part + 1));
        const __m128i cont = InRange(v, 0x80, 0xBF), lead2 = InRange(v, 0xC2, 0xDF);
        const __m128i lead3 = InRange(v, 0xE0, 0xEF), lead4 = InRange(v, 0xF0, 0xF4);
        const __m128i outOfRange =
            _mm_or_si128(_mm_or_si128(_mm_and_si128(Equal(v, 0xE0), InRange(next, 0x80, 0x9F)),
                                      _mm_and_si128(Equal(v, 0xED), InRange(next, 0xA0, 0xBF))),
                         _mm_or_si128(_mm_and_si128(Equal(v, 0xF0), InRange(next, 0x80, 0x8F)),
                                      _mm_and_si128(Equal(v, 0xF4), InRange(next, 0x90, 0xBF))));
        const __m128i known = _mm_or_si128(_mm_or_si128(cont, lead2), _mm_or_si128(lead3, lead4));
        m.cont |= Bits16(cont, part);
        m.lead2 |= Bits16(lead2, part);
        m.lead3 |= Bits16(lead3, part);
        m.lead4 |= Bits16(lead4, part);
        // The top bits of the bytes not known: those from 0x80 up.
        m.bad |= Bits16(_mm_or_si128(_mm_andnot_si128(known, v), outOfRange), part);
        m.cr |= Bits16(Equal(v, '\r'), part);
    }
    return m;
}
#else
inline Utf8Masks ClassifyUtf8(const unsigned char* p) {
    Utf8Masks m{0, 0, 0, 0, 0, 0};
    for (unsigned i = 0; i < kBlock; ++i) {
        const unsigned b = p[i], next = p[i + 1];
        const std::uint64_t bit = std::uint64_t{1} << i;
        if (b >= 0x80 && b <= 0xBF) m.cont |= bit;
        else if (b >= 0xC2 && b <= 0xDF) m.lead2 |= bit;
        else if (b >= 0xE0 && b <= 0xEF) m.lead3 |= bit;
        else if (b >= 0xF0 && b <= 0xF4) m.lead4 |= bit;
        else if (b >= 0x80) m.bad |= bit;
        if ((b == 0xE0 && next < 0xA0) || (b == 0xED && next >= 0xA0) || (b == 0xF0 && next < 0x90) ||
            (b == 0xF4 && next >= 0x90)) {
            m.bad |= bit;
        }
        if (b == '\r') m.cr |= bit;
    }
    return m;
}
#endif

#ifdef TESSALY_SHUFFLED_FORMS
// ClassifyUtf8 32 bytes at a time.
__attribute__((target("avx2"))) inline Utf8Masks ClassifyUtf8Avx2(const unsigned char* p) {
    Utf8Masks m{0, 0, 0, 0, 0, 0};
    for (unsigned part = 0; part < kBlock / 32; ++part) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * part));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * part + 1));
        const __m256i cont = InRange32(v, 0x80, 0xBF), lead2 = InRange32(v, 0xC2, 0xDF);
        const __m256i lead3 = InRange32(v, 0xE0, 0xEF), lead4 = InRange32(v, 0xF0, 0xF4);
        const __m256i outOfRange = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(Equal32(v, 0xE0), InRange32(next, 0x80, 0x9F)),
                            _mm256_and_si256(Equal32(v, 0xED), InRange32(next, 0xA0, 0xBF))),
            _mm256_or_si256(_mm256_and_si256(Equal32(v, 0xF0), InRange32(next, 0x80, 0x8F)),
                            _mm256_and_si256(Equal32(v, 0xF4), InRange32(next, 0x90, 0xBF))));
        const __m256i known = _mm256_or_si256(_mm256_or_si256(cont, lead2), _mm256_or_si256(lead3, lead4));
        m.cont |= Bits32(cont, part);
        m.lead2 |= Bits32(lead2, part);
        m.lead3 |= Bits32(lead3, part);
        m.lead4 |= Bits32(lead4, part);
        m.bad |= Bits32(_mm256_or_si256(_mm256_andnot_si256(known, v), outOfRange), part);
        m.cr |= Bits32(Equal32(v, '\r'), part);
    }
    return m;
}
#endif

// Where pairs start in a block that starts a character, when every byte that
// may be a lead byte and is followed by one that may trail starts a pair
// unless it is itself the trail byte of a pair.
inline std::uint64_t PairStarts(std::uint64_t lead, std::uint64_t trail) {
    // In a run of such bytes, pairs start at the first and every second one
    // after it.
    return detail::PairStartBits(lead & trail);
}

// Writes the forms of the bytes [0, n) of the block at p (n <= kBlock),
// 16-byte parts whose bytes are all kept as they are (unless a space is
// written as "+").
inline unsigned char* PutBlockForms(const std::array<std::uint32_t, 256>& forms, bool spaceAsPlus,
                                    const unsigned char* p, std::size_t n, std::uint64_t kept, unsigned char* o) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        if ((kept >> i & 0xFFFF) == 0xFFFF && !spaceAsPlus) {
            std::memcpy(o, p + i, 16);
            o += 16;
            continue;
        }
        for (std::size_t k = i; k < i + 16; ++k) o = PutByteForm(forms[p[k]], o);
    }
    for (; i < n; ++i) o = PutByteForm(forms[p[i]], o);
    return o;
}

// What a block writes as itself: printable ASCII in the printable route
// (PrintableKept), or the bytes an escape set keeps (SetKept), a space as
// "+" in the form set.
struct PrintableKept {
    static constexpr bool kPrintable = true;
};
using SetKept = detail::SetBlocks;

#ifdef TESSALY_SHUFFLED_FORMS
// The forms of 16 bytes at a time, four bytes to a shuffle: each byte itself
// or "%" and its digits, picked by which of the four are printable.
class FormShuffles {
public:
    const std::uint8_t* Shuffle(unsigned printable) const { return shuffle_[printable].data(); }
    unsigned Length(unsigned printable) const { return length_[printable]; }

    // The four bytes' lanes, as PutFormsShuffled lays them out: byte i at
    // 2i, its high digit at 2i + 1, its low digit at 8 + 2i, "%" at 9.
    constexpr FormShuffles() {
        for (unsigned printable = 0; printable < 16; ++printable) {
            auto& shuffle = shuffle_[printable];
            shuffle.fill(0x80);
            unsigned n = 0;
            for (unsigned i = 0; i < 4; ++i) {
                if (printable >> i & 1) {
                    shuffle[n++] = static_cast<std::uint8_t>(2 * i);
                } else {
                    shuffle[n++] = 9;
                    shuffle[n++] = static_cast<std::uint8_t>(2 * i + 1);
                    shuffle[n++] = static_cast<std::uint8_t>(8 + 2 * i);
                }
            }
            length_[printable] = static_cast<std::uint8_t>(n);
        }
    }

private:
    alignas(16) std::array<std::array<std::uint8_t, 16>, 16> shuffle_{};
    std::array<std::uint8_t, 16> length_{};
};
constexpr FormShuffles kFormShuffles;

// Whether the processor has SSSE3 and the forms are the ones the shuffles
// write (checked once).
bool CanShuffleForms(const ByteRoute& route) {
    static const bool can = __builtin_cpu_supports("ssse3") && route.hexForms;
    return can;
}

// PutBlockForms with the shuffles. A part of 16 bytes that the block ends
// in is written whole (the block has the bytes) and only the forms of its
// first bytes kept, so up to 3 * 16 bytes after the end are scratch.
// With kSpaceAsPlus, a kept space is written as "+".
template <bool kSpaceAsPlus>
__attribute__((target("ssse3"))) unsigned char* PutFormsShuffled(const unsigned char* p, std::size_t n,
                                                                 std::uint64_t printable, unsigned char* o) {
    const __m128i digits = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i percent = _mm_set1_epi8('%');
    for (std::size_t i = 0; i < n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        // The digits of a space are never written: the form set keeps it.
        if constexpr (kSpaceAsPlus) {
            v = _mm_xor_si128(v, _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_set1_epi8(' ' ^ '+')));
        }
        const auto bits = static_cast<unsigned>(printable >> i & 0xFFFF);
        unsigned char* const part = o;
        if (bits == 0xFFFF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
            o += 16;
        } else {
            const __m128i high = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
            const __m128i low = _mm_shuffle_epi8(digits, _mm_and_si128(v, nibble));
            const __m128i bytesHigh0 = _mm_unpacklo_epi8(v, high);
            const __m128i bytesHigh1 = _mm_unpackhi_epi8(v, high);
            const __m128i lowPercent0 = _mm_unpacklo_epi8(low, percent);
            const __m128i lowPercent1 = _mm_unpackhi_epi8(low, percent);
            const __m128i groups[4] = {
                _mm_unpacklo_epi64(bytesHigh0, lowPercent0), _mm_unpackhi_epi64(bytesHigh0, lowPercent0),
                _mm_unpacklo_epi64(bytesHigh1, lowPercent1), _mm_unpackhi_epi64(bytesHigh1, lowPercent1)};
            for (unsigned g = 0; g < 4; ++g) {
                const unsigned which = bits >> (4 * g) & 15;
                const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(kFormShuffles.Shuffle(which)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(groups[g], shuffle));
                o += kFormShuffles.Length(which);
            }
        }
        if (n - i < 16) {
            // The forms of the first n - i bytes: one byte each when
            // printable, else three.
            const auto keep = static_cast<unsigned>(n - i);
            const auto kept = static_cast<unsigned>(std::popcount(bits & ((1u << keep) - 1)));
            o = part + kept + 3 * (keep - kept);
        }
    }
    return o;
}
#endif

#ifdef TESSALY_SHUFFLED_FORMS
// Which of the 64 bytes at p the set keeps, 16 at a time.
__attribute__((target("ssse3"))) inline std::uint64_t KeptBitsShuffled(const SetKept& kept, const unsigned char* p) {
    const __m128i byLow = _mm_load_si128(reinterpret_cast<const __m128i*>(kept.byLow.data()));
    const __m128i highBit = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    std::uint64_t bits = 0;
    for (unsigned part = 0; part < kBlock / 16; ++part) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
        const __m128i low = _mm_shuffle_epi8(byLow, _mm_and_si128(v, nibble));
        const __m128i high = _mm_shuffle_epi8(highBit, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
        const __m128i none = _mm_cmpeq_epi8(_mm_and_si128(low, high), _mm_setzero_si128());
        bits |= std::uint64_t{~static_cast<unsigned>(_mm_movemask_epi8(none)) & 0xFFFFu} << (16 * part);
    }
    return bits;
}
#endif

#ifdef TESSALY_SHUFFLED_FORMS
// KeptBitsShuffled 32 bytes at a time.
__attribute__((target("avx2"))) inline std::uint64_t KeptBitsAvx2(const SetKept& kept, const unsigned char* p) {
    const __m256i byLow =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kept.byLow.data())));
    const __m256i highBit =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    std::uint64_t bits = 0;
    for (unsigned part = 0; part < kBlock / 32; ++part) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * part));
        const __m256i low = _mm256_shuffle_epi8(byLow, _mm256_and_si256(v, nibble));
        const __m256i high = _mm256_shuffle_epi8(highBit, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
        const __m256i none = _mm256_cmpeq_epi8(_mm256_and_si256(low, high), _mm256_setzero_si256());
        bits |= std::uint64_t{~static_cast<std::uint32_t>(_mm256_movemask_epi8(none))} << (32 * part);
    }
    return bits;
}
#endif

// How blocks are classified and written, by what the processor has; Kept
// gives the bytes of a block written as themselves (from its printable
// bytes, or the set's look-up), and Put writes the forms with those kept.
struct PlainBlocks {
    static bool Printable(const unsigned char* p) { return AllPrintable(p); }
    static BlockMasks Classify(const unsigned char* p) { return ClassifyBlock(p); }
    static Utf8Masks Utf8(const unsigned char* p) { return ClassifyUtf8(p); }
    static std::uint64_t Kept(const PrintableKept&, const unsigned char*, std::uint64_t printable) { return printable; }
    static std::uint64_t Kept(const SetKept& kept, const unsigned char* p, std::uint64_t) {
        std::uint64_t bits = 0;
        for (unsigned i = 0; i < kBlock; ++i) bits |= std::uint64_t{kept.Keeps(p[i])} << i;
        return bits;
    }
    static unsigned char* Put(const ByteRoute& route, const PrintableKept&, const unsigned char* p, std::size_t n,
                              std::uint64_t kept, unsigned char* o) {
        return PutBlockForms(route.form, false, p, n, kept, o);
    }
    static unsigned char* Put(const ByteRoute&, const SetKept& set, const unsigned char* p, std::size_t n,
                              std::uint64_t kept, unsigned char* o) {
        return PutBlockForms(*set.forms, set.spaceAsPlus, p, n, kept, o);
    }
};
#ifdef TESSALY_SHUFFLED_FORMS
struct ShuffledBlocks {
    static bool Printable(const unsigned char* p) { return AllPrintable(p); }
    static BlockMasks Classify(const unsigned char* p) { return ClassifyBlock(p); }
    static Utf8Masks Utf8(const unsigned char* p) { return ClassifyUtf8(p); }
    static std::uint64_t Kept(const PrintableKept&, const unsigned char*, std::uint64_t printable) { return printable; }
    __attribute__((target("ssse3"))) static std::uint64_t Kept(const SetKept& kept, const unsigned char* p,
                                                               std::uint64_t) {
        return KeptBitsShuffled(kept, p);
    }
    static unsigned char* Put(const ByteRoute&, const PrintableKept&, const unsigned char* p, std::size_t n,
                              std::uint64_t kept, unsigned char* o) {
        return PutFormsShuffled<false>(p, n, kept, o);
    }
    static unsigned char* Put(const ByteRoute&, const SetKept& set, const unsigned char* p, std::size_t n,
                              std::uint64_t kept, unsigned char* o) {
        return set.spaceAsPlus ? PutFormsShuffled<true>(p, n, kept, o) : PutFormsShuffled<false>(p, n, kept, o);
    }
};
struct Avx2Blocks {
    __attribute__((target("avx2"))) static bool Printable(const unsigned char* p) { return AllPrintableAvx2(p); }
    __attribute__((target("avx2"))) static BlockMasks Classify(const unsigned char* p) { return ClassifyBlockAvx2(p); }
    __attribute__((target("avx2"))) static Utf8Masks Utf8(const unsigned char* p) { return ClassifyUtf8Avx2(p); }
    static std::uint64_t Kept(const PrintableKept&, const unsigned char*, std::uint64_t printable) { return printable; }
    __attribute__((target("avx2"))) static std::uint64_t Kept(const SetKept& kept, const unsigned char* p,
                                                              std::uint64_t) {
        return KeptBitsAvx2(kept, p);
    }
    __attribute__((target("avx2"))) static unsigned char* Put(const ByteRoute&, const PrintableKept&,
                                                              const unsigned char* p, std::size_t n,
                                                              std::uint64_t kept, unsigned char* o) {
        return PutFormsShuffled<false>(p, n, kept, o);
    }
    __attribute__((target("avx2"))) static unsigned char* Put(const ByteRoute&, const SetKept& set,
                                                              const unsigned char* p, std::size_t n,
                                                              std::uint64_t kept, unsigned char* o) {
        return set.spaceAsPlus ? PutFormsShuffled<true>(p, n, kept, o) : PutFormsShuffled<false>(p, n, kept, o);
    }
};
#endif

// Encodes the block at p, which has its kBlockReach bytes, as far as its
// characters write back their own bytes (and, with crLfAsAmp, up to a CR);
// returns whether it did all of them, and in n the bytes done (a character
// starts there). carry is 1 when byte 0 is the trail byte of a pair that
// the block before started, else 0, and is set so for the block after
// this. With `last` (no block follows) a pair cut by the block's end is
// left out.
//
// The blocks of a run start kBlock bytes apart, whatever the characters: so
// where the next block starts does not wait for this one's classification,
// and the processor works on both at once; only the carry passes from one
// to the next.
template <class Blocks, class Kept>
inline bool EncodeBlock(const ByteRoute& route, const Kept& kept, const unsigned char* p, bool crLfAsAmp, bool last,
                        std::uint64_t& carry, std::size_t& n, unsigned char*& o) {
    if (Blocks::Printable(p)) {  // a carried trail byte among them is its own form too
        if constexpr (Kept::kPrintable) {
            std::memcpy(o, p, kBlock);
            o += kBlock;
        } else {
            o = Blocks::Put(route, kept, p, kBlock, Blocks::Kept(kept, p, ~std::uint64_t{0}), o);
        }
        carry = 0;
        n = kBlock;
        return true;
    }
    const BlockMasks m = Blocks::Classify(p);
    const std::uint64_t pairs = PairStarts(m.lead & ~carry, m.trail);
    const std::uint64_t starts = ~(pairs << 1) & ~carry;
    // Every character that is not printable ASCII or known, checked in the
    // table; the checks do not depend on each other. (A start that is a
    // KnownPair lead byte starts a pair: it may lead and the byte after it
    // may trail.)
    std::uint64_t bad = 0;
    const std::uint64_t known = route.knownHold ? m.known : 0;
    for (std::uint64_t check = starts & ~m.printable & ~known; check != 0; check &= check - 1) {
        const auto i = static_cast<unsigned>(std::countr_zero(check));
        const unsigned memory = p[i] | unsigned{p[i + 1]} << 8;
        bad |= (~route.blockOk[memory / 64] >> (memory % 64) & 1) << i;
    }
    // The first byte the block does not do: that of a character the table
    // does not confirm, a CR for "&", in the last block a pair cut by its end.
    const std::uint64_t cut = last ? pairs & std::uint64_t{1} << (kBlock - 1) : 0;
    const std::uint64_t stopBits = bad | (crLfAsAmp ? m.cr : 0) | cut;
    const std::uint64_t keptBits = Blocks::Kept(kept, p, m.printable);
    if (stopBits == 0) {
        o = Blocks::Put(route, kept, p, kBlock, keptBits, o);
        carry = pairs >> (kBlock - 1);
        n = kBlock;
        return true;
    }
    n = static_cast<std::size_t>(std::countr_zero(stopBits));
    o = Blocks::Put(route, kept, p, n, keptBits, o);
    return false;
}

// The bytes of a block of UTF-8 text that it writes as themselves: those
// the set keeps.
struct Utf8Kept {
    const SetKept* set;
};

// Encodes blocks of UTF-8 text from p, which starts a character, while they
// start before chunkEnd and have their kUtf8BlockReach bytes before stop, up
// to the first character that is not valid UTF-8 (or a CR with crLfAsAmp);
// returns where it stopped (a character starts there). The blocks start
// kBlock bytes apart: a block checks the character its end cuts whole and
// writes the forms of its first bytes, and the next block takes the rest of
// its bytes as claimed.
template <class Blocks>
inline const unsigned char* EncodeUtf8Blocks(const ByteRoute& route, const SetKept& set, const unsigned char* p,
                                             const unsigned char* chunkEnd, const unsigned char* stop,
                                             bool crLfAsAmp, unsigned char*& o) {
    std::uint64_t carried = 0;  // the bytes of the last block's cut character
    while (p < chunkEnd && stop - p >= static_cast<std::ptrdiff_t>(kUtf8BlockReach)) {
        const Utf8Masks m = Blocks::Utf8(p);
        const std::uint64_t claimed =
            carried | m.lead2 << 1 | m.lead3 << 1 | m.lead3 << 2 | m.lead4 << 1 | m.lead4 << 2 | m.lead4 << 3;
        // What the block's last lead byte claims past it: bit j for byte
        // kBlock + j.
        const std::uint64_t spill =
            m.lead2 >> 63 | m.lead3 >> 62 | m.lead3 >> 63 | m.lead4 >> 61 | m.lead4 >> 62 | m.lead4 >> 63;
        std::uint64_t errors = (claimed ^ m.cont) | m.bad | (crLfAsAmp ? m.cr : 0);
        if (spill != 0) {
            std::uint64_t after = 0;
            for (unsigned j = 0; j < 3; ++j) after |= std::uint64_t{(p[kBlock + j] & 0xC0) == 0x80} << j;
            // An error at the block's last byte, which is the cut
            // character's (as its lead byte, or claimed by it).
            if ((spill & ~after) != 0) errors |= std::uint64_t{1} << 63;
        }
        if (errors == 0) {
            o = Blocks::Put(route, set, p, kBlock, Blocks::Kept(set, p, 0), o);
            carried = spill;
            p += kBlock;
            continue;
        }
        // The first byte in error starts the character not done, unless a
        // lead byte claims it: then that lead byte's character is the one
        // (the bytes between are continuation bytes, or the first error
        // would be among them).
        auto n = static_cast<unsigned>(std::countr_zero(errors));
        if ((claimed >> n & 1) != 0) {
            n = 63 - static_cast<unsigned>(std::countl_zero(~m.cont & ((std::uint64_t{1} << n) - 1)));
        }
        o = Blocks::Put(route, set, p, n, Blocks::Kept(set, p, 0), o);
        return p + n;
    }
    // The rest of the last block's cut character (continuation bytes, each
    // escaped), so as to stop where a character starts.
    for (; carried != 0; carried >>= 1) o = PutByteForm((*set.forms)[*p++], o);
    return p;
}

// Encodes blocks from p, which starts a character, while they start before
// chunkEnd and have their kBlockReach bytes before stop, up to a character
// that a block does not do; returns where it stopped (a character starts
// there).
template <class Blocks, class Kept>
inline const unsigned char* EncodeBlocks(const ByteRoute& route, const Kept& kept, const unsigned char* p,
                                         const unsigned char* chunkEnd, const unsigned char* stop, bool crLfAsAmp,
                                         unsigned char*& o) {
    if constexpr (std::is_same_v<Kept, Utf8Kept>) {
        return EncodeUtf8Blocks<Blocks>(route, *kept.set, p, chunkEnd, stop, crLfAsAmp, o);
    } else {
        const auto fits = [&](const unsigned char* at) {
            return at < chunkEnd && stop - at >= static_cast<std::ptrdiff_t>(kBlockReach);
        };
        std::uint64_t carry = 0;
        while (fits(p)) {
            std::size_t n;
            if (!EncodeBlock<Blocks>(route, kept, p, crLfAsAmp, !fits(p + kBlock), carry, n, o)) return p + n;
            p += kBlock;
        }
        return p;
    }
}

template <class Kept>
using BlocksFunction = const unsigned char* (*)(const ByteRoute&, const Kept&, const unsigned char*,
                                                const unsigned char*, const unsigned char*, bool, unsigned char*&);

template <class Kept>
const unsigned char* EncodePlainBlocks(const ByteRoute& route, const Kept& kept, const unsigned char* p,
                                       const unsigned char* chunkEnd, const unsigned char* stop, bool crLfAsAmp,
                                       unsigned char*& o) {
    return EncodeBlocks<PlainBlocks>(route, kept, p, chunkEnd, stop, crLfAsAmp, o);
}

#ifdef TESSALY_SHUFFLED_FORMS
// Compiled for the processor each needs, with everything they call.
template <class Kept>
__attribute__((target("ssse3"), flatten)) const unsigned char* EncodeShuffledBlocks(
    const ByteRoute& route, const Kept& kept, const unsigned char* p, const unsigned char* chunkEnd,
    const unsigned char* stop, bool crLfAsAmp, unsigned char*& o) {
    return EncodeBlocks<ShuffledBlocks>(route, kept, p, chunkEnd, stop, crLfAsAmp, o);
}
template <class Kept>
__attribute__((target("avx2"), flatten)) const unsigned char* EncodeAvx2Blocks(
    const ByteRoute& route, const Kept& kept, const unsigned char* p, const unsigned char* chunkEnd,
    const unsigned char* stop, bool crLfAsAmp, unsigned char*& o) {
    return EncodeBlocks<Avx2Blocks>(route, kept, p, chunkEnd, stop, crLfAsAmp, o);
}
#endif

// The ways this processor can run, the fastest first (worked out once).
template <class Kept>
struct BlocksWays {
    std::array<BlocksFunction<Kept>, 3> ways{};
    int count = 0;

    static const BlocksWays& Get(const ByteRoute& route) {
        static const BlocksWays ways(route);
        return ways;
    }

private:
    explicit BlocksWays(const ByteRoute& route) {
#ifdef TESSALY_SHUFFLED_FORMS
        if (CanShuffleForms(route)) {
            if (__builtin_cpu_supports("avx2")) ways[count++] = EncodeAvx2Blocks<Kept>;
            ways[count++] = EncodeShuffledBlocks<Kept>;
        }
#else
        (void)route;
#endif
        ways[count++] = EncodePlainBlocks<Kept>;
    }
};

int g_blocksWay = 0;  // which of BlocksWays the byte routes take

template <class Kept>
BlocksFunction<Kept> ChooseBlocks(const ByteRoute& route) {
    const BlocksWays<Kept>& ways = BlocksWays<Kept>::Get(route);
    return ways.ways[static_cast<std::size_t>(std::min(g_blocksWay, ways.count - 1))];
}

}  // namespace

namespace detail {

int EncodeBlockWays() { return BlocksWays<PrintableKept>::Get(ByteRoute::Get()).count; }

SetBlocks::SetBlocks(const std::array<std::uint32_t, 256>& setForms) : forms(&setForms) {
    // The blocks write each byte as the shuffles do: kept as itself (a
    // space as "+" too), else "%" and its upper-case digits; bytes from 0x80
    // up are never kept.
    constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint32_t form = setForms[b];
        const std::uint32_t escape =
            '%' | std::uint32_t(kHex[b >> 4]) << 8 | std::uint32_t(kHex[b & 15]) << 16 | 3u << 24;
        if (form == escape) continue;
        const bool plus = b == ' ' && form == ('+' | 1u << 24);
        if (b >= 0x80 || (form != (b | 1u << 24) && !plus)) usable = false;
        spaceAsPlus = spaceAsPlus || plus;
        byLow[b & 15] = static_cast<std::uint8_t>(byLow[b & 15] | 1u << (b >> 4));
    }
}

const unsigned char* SetBlocks::EncodeUtf8(const unsigned char* p, const unsigned char* chunkEnd,
                                           const unsigned char* stop, bool crLfAsAmp, unsigned char*& o) const {
    if (!usable) return p;
    const ByteRoute& route = ByteRoute::Get();
    return ChooseBlocks<Utf8Kept>(route)(route, Utf8Kept{this}, p, chunkEnd, stop, crLfAsAmp, o);
}

const unsigned char* SetBlocks::Encode(const unsigned char* p, const unsigned char* chunkEnd,
                                       const unsigned char* stop, bool crLfAsAmp, unsigned char*& o) const {
    const ByteRoute& route = ByteRoute::Get();
    if (!usable || !route.printableIsItself) return p;
    return ChooseBlocks<SetKept>(route)(route, *this, p, chunkEnd, stop, crLfAsAmp, o);
}

void UseEncodeBlockWay(int way) { g_blocksWay = way; }

}  // namespace detail

std::size_t EncodeBytesAppend(std::string& out, std::string_view bytes, bool crLfAsAmp, bool final,
                              ByteLoss* loss) {
    const ByteRoute& route = ByteRoute::Get();
    // A character of n bytes gives at most 6 (a lone byte read as U+30FB is
    // "%81E"); a CR and the character after it, raw, at most 3 for 2.
    constexpr std::size_t kMostPerByte = 6;
    constexpr std::size_t kScratch = 16 + kMostPerBlock;  // a block may start at the chunk's last byte
    detail::ChunkedOutput<char> output(out, kMostPerByte * bytes.size() + kScratch);
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    const unsigned char* p = begin;
    // As CodePageBridge::AppendText: a lead byte that ends unfinished bytes
    // waits for its trail byte.
    const auto* const stop = !final && p != end && cp932::IsLeadByte(end[-1]) ? end - 1 : end;
    std::u16string text, encoded;  // the slow route's scratch
    bool held = false;
    const BlocksFunction<PrintableKept> encodeBlocks = ChooseBlocks<PrintableKept>(route);
    const PrintableKept printable;
    while (p < stop && !held) {
        const unsigned char* const chunkEnd = p + std::min<std::size_t>(stop - p, detail::kChunkUnits);
        auto* o = reinterpret_cast<unsigned char*>(
            output.Room(kMostPerByte * static_cast<std::size_t>(chunkEnd - p) + kScratch));
        while (p < chunkEnd && !held) {
            if (route.printableIsItself) p = encodeBlocks(route, printable, p, chunkEnd, stop, crLfAsAmp, o);
            // Up to 16 characters one at a time: from a character a block
            // does not do, and near the end.
            for (int k = 0; k < 16 && p < chunkEnd; ++k) {
                const unsigned next = p + 1 < end ? p[1] : 0;
                const unsigned n = route.step[unsigned{p[0]} << 8 | next];
                if (n != 0 && !(crLfAsAmp && p[0] == '\r')) {
                    o = PutByteForm(route.form[p[0]], o);
                    const std::uint32_t second = route.form[next];
                    std::memcpy(o, &second, 4);
                    o += (n - 1) * (second >> 24);
                    p += n;
                    continue;
                }
                if (crLfAsAmp && route.crLfSimple && p[0] == '\r' && p + 1 < stop && p[1] == '\n') {
                    std::memcpy(o, route.crLf.data(), route.crLf.size());
                    o += route.crLf.size();
                    p += 2;
                    continue;
                }
                // Anything else: the character as text, and with a CR for "&"
                // the character after it too, through Encode.
                const unsigned char* const start = p;
                text.clear();
                const auto readCharacter = [&] {
                    const unsigned char* const from = p;
                    char16_t c;
                    p = cp932::ConvertCharacter(p, end, &c);
                    text.push_back(c);
                    const cp932::ExactTable& exact = cp932::ExactTable::Get();
                    const bool same = p - from == 2 ? exact.Pair(from[0], from[1]) : exact.Single(from[0]);
                    if (loss != nullptr && !same) {
                        if (loss->count == 0) loss->first = static_cast<std::size_t>(from - begin);
                        loss->count += static_cast<std::size_t>(p - from);
                    }
                    return c;
                };
                const ByteLoss before = loss != nullptr ? *loss : ByteLoss{};
                const char16_t c = readCharacter();
                const std::uint16_t cBytes = UnitToBytes(c);
                if (!(crLfAsAmp && cBytes == '\r') && !cp932::IsHighSurrogate(c) && !cp932::IsLowSurrogate(c)) {
                    // On its own, as in Encode: the forms of the bytes its
                    // text writes.
                    if (cp932::IsDoubleByte(cBytes)) o = PutByteForm(route.form[cBytes >> 8], o);
                    o = PutByteForm(route.form[cBytes & 0xFF], o);
                    continue;
                }
                if (crLfAsAmp && cBytes == '\r') {
                    if (p < stop) {
                        readCharacter();
                    } else if (!final) {
                        // An LF may follow: leave the CR for the next piece.
                        p = start;
                        if (loss != nullptr) *loss = before;
                        held = true;
                        break;
                    }
                }
                encoded.clear();
                EncodeAppend(encoded, text, crLfAsAmp, true);
                const std::string piece = CodePageBridge::ToBytes(encoded);
                std::memcpy(o, piece.data(), piece.size());
                o += piece.size();
            }
        }
        output.Commit(reinterpret_cast<char*>(o));
    }
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

}  // namespace tessaly

// UTF-8 and EUC-JP escapes into code page 932 bytes or into UTF-8, and in
// text into text, 64 units at a time (AVX-512).
//
// A stretch of blocks of 64 units is read in two passes (see Stretch): the
// first packs what the units stand for into a buffer of bytes, each escape
// decoded; the second reads that buffer's characters. Where each character
// starts follows from the bytes: in UTF-8 every byte but a continuation
// byte starts one; in EUC-JP a run of bytes from 0x80 up pairs off from its
// start. The characters' bytes are packed with one compress each, checked by
// masks, and looked up by gathers: in code page 932's tables, or for EUC-JP
// into UTF-8 or text, in JIS X 0208's code points (UTF-8 into text needs no
// table). Into code page 932 each character's bytes are put back in the
// lanes of its own (an expand) and the lanes written packed with one more
// compress; into UTF-8 or text a character at a time. Text is narrowed to
// bytes first, every unit from 0x80 up to a byte from 0x80 up. Anything the
// stretches do not take (a literal byte from 0x80 up, a byte that starts no
// character they know, a character code page 932 does not write) ends them
// at its character's start, after the characters before it, for the usual
// way.

#include <array>
#include <cstdint>
#include <memory>

#include "codec/escape_avx512.h"
#include "codec/eucjp.h"
#include "codec/fidelity.h"
#include "codec/hex_digits.h"
#include "codec/pair_bits.h"
#include "codec/url_internal.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TESSALY_ESCAPE_STRETCHES 1
// GCC 12's AVX-512 intrinsics start some results from an undefined vector,
// which its flow analysis takes for an uninitialised read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace tessaly::detail {

#ifdef TESSALY_ESCAPE_STRETCHES
namespace {

constexpr std::size_t kBlock = kBlockUnits;
// A block reads two units past itself (the digits of an escape at its last
// lane), and the stretches leave this many units at the end to the usual way.
constexpr std::size_t kTail = 16;
constexpr std::uint64_t kAll = ~std::uint64_t{0};

TESSALY_AVX512_ESCAPES inline __m512i Splat(unsigned char b) { return _mm512_set1_epi8(static_cast<char>(b)); }

// Each lane's index, plus by: for a permute that moves the lanes down by by.
TESSALY_AVX512_ESCAPES inline __m512i LaneIndices(unsigned char by) {
    const __m512i lane = _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45,
                                         44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26,
                                         25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6,
                                         5, 4, 3, 2, 1, 0);
    return _mm512_add_epi8(lane, Splat(by));
}

// The low 32 bytes of v as 16-bit lanes.
TESSALY_AVX512_ESCAPES inline __m512i Widen(__m512i v) { return _mm512_cvtepu8_epi16(_mm512_castsi512_si256(v)); }

// The entries of a table of 64 Ki 16-bit values at the 16-bit indices of the
// lanes of look (each at least 1): each dword is read from the entry before,
// so that it holds the entry in its top half and reads nothing past the
// table. Lanes not in look are 0.
TESSALY_AVX512_ESCAPES inline __m512i LookUp(const std::uint16_t* table, __m512i indices, std::uint32_t look) {
    const auto* const base = reinterpret_cast<const int*>(table);
    const __m512i before = _mm512_set1_epi32(1);
    const __m512i low = _mm512_mask_i32gather_epi32(
        _mm512_setzero_si512(), static_cast<__mmask16>(look),
        _mm512_sub_epi32(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(indices)), before), base, 2);
    // More than 16 characters are rare outside runs of ASCII.
    __m512i high = _mm512_setzero_si512();
    if (look >> 16 != 0) {
        high = _mm512_mask_i32gather_epi32(
            _mm512_setzero_si512(), static_cast<__mmask16>(look >> 16),
            _mm512_sub_epi32(_mm512_cvtepu16_epi32(_mm512_maskz_extracti64x4_epi64(0xFF, indices, 1)), before), base,
            2);
    }
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(_mm512_srli_epi32(low, 16))),
                              _mm512_cvtepi32_epi16(_mm512_srli_epi32(high, 16)), 1);
}

// Writes the UTF-8 of the characters before the first of bad (one bit per
// character, in order; n characters, 32 at most): each character's code
// point is a 16-bit lane of c. Returns how many characters it wrote.
TESSALY_AVX512_ESCAPES inline unsigned PutUtf8Characters(__m512i c, std::uint64_t bad, unsigned n,
                                                         unsigned char*& out) {
    const auto good = static_cast<unsigned>(_tzcnt_u64(bad | std::uint64_t{1} << n));
    const __m512i low6 = _mm512_set1_epi32(0x3F), mark = _mm512_set1_epi32(0x80);
    for (unsigned half = 0; half < 2 && 16 * half < good; ++half) {
        const __m512i cp = _mm512_cvtepu16_epi32(half == 0 ? _mm512_castsi512_si256(c)
                                                            : _mm512_extracti64x4_epi64(c, 1));
        const __mmask16 two = _mm512_cmpge_epu32_mask(cp, _mm512_set1_epi32(0x80));
        const __mmask16 three = _mm512_cmpge_epu32_mask(cp, _mm512_set1_epi32(0x800));
        const __m512i six = _mm512_srli_epi32(cp, 6);
        // Each character's bytes in its 32-bit lane, the first lowest.
        const __m512i first = _mm512_mask_blend_epi32(
            three, _mm512_mask_blend_epi32(two, cp, _mm512_or_si512(six, _mm512_set1_epi32(0xC0))),
            _mm512_or_si512(_mm512_srli_epi32(cp, 12), _mm512_set1_epi32(0xE0)));
        const __m512i last = _mm512_or_si512(_mm512_and_si512(cp, low6), mark);
        const __m512i middle = _mm512_or_si512(_mm512_and_si512(six, low6), mark);
        const __m512i second = _mm512_mask_blend_epi32(three, last, middle);
        const __m512i bytes = _mm512_or_si512(
            _mm512_or_si512(first, _mm512_slli_epi32(second, 8)), _mm512_slli_epi32(last, 16));
        const auto these = static_cast<std::uint32_t>(_bzhi_u32(0xFFFF, good - 16 * half));
        const std::uint64_t keep = _pdep_u64(these, 0x1111111111111111) |
                                   _pdep_u64(these & two, 0x2222222222222222) |
                                   _pdep_u64(these & three, 0x4444444444444444);
        const auto written = static_cast<unsigned>(_mm_popcnt_u64(keep));
        _mm512_mask_storeu_epi8(out, _bzhi_u64(kAll, written), _mm512_maskz_compress_epi8(keep, bytes));
        out += written;
    }
    return good;
}

// The lanes of first whose three-byte sequence the second bytes (the lanes
// of second) make overlong (E0 80-9F) or a surrogate (ED A0-BF).
TESSALY_AVX512_ESCAPES inline std::uint64_t NotThree(__m512i first, __m512i second) {
    return (_mm512_cmpeq_epi8_mask(first, Splat(0xE0)) & _mm512_cmplt_epu8_mask(second, Splat(0xA0))) |
           (_mm512_cmpeq_epi8_mask(first, Splat(0xED)) & _mm512_cmpge_epu8_mask(second, Splat(0xA0)));
}

// The code points of chars (a bit at the first lane of each, whose second
// and third bytes are at the same lanes of second and third), in order in
// 16-bit lanes: twos and threes have two and three bytes, the others one.
TESSALY_AVX512_ESCAPES inline __m512i ReadUtf8Points(__m512i first, __m512i second, __m512i third,
                                                     std::uint64_t chars, std::uint64_t twos, std::uint64_t threes) {
    const auto twoBits = static_cast<std::uint32_t>(_pext_u64(twos, chars));
    const auto threeBits = static_cast<std::uint32_t>(_pext_u64(threes, chars));
    const __m512i w0 = Widen(_mm512_maskz_compress_epi8(chars, first));
    const __m512i low6 = _mm512_set1_epi16(0x3F);
    const __m512i w1 = _mm512_and_si512(Widen(_mm512_maskz_compress_epi8(chars, second)), low6);
    const __m512i w2 = _mm512_and_si512(Widen(_mm512_maskz_compress_epi8(chars, third)), low6);
    const __m512i two = _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(w0, _mm512_set1_epi16(0x1F)), 6), w1);
    const __m512i three = _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi16(w0, 12), _mm512_slli_epi16(w1, 6)), w2);
    return _mm512_mask_blend_epi16(threeBits, _mm512_mask_blend_epi16(twoBits, w0, two), three);
}

// Writes the first n bytes of v (64 at most) as units.
TESSALY_AVX512_ESCAPES inline void PutBytesAsUnits(__m512i v, unsigned n, char16_t* out) {
    _mm512_mask_storeu_epi16(out, _bzhi_u32(~0u, n), _mm512_cvtepu8_epi16(_mm512_castsi512_si256(v)));
    if (n > 32) {
        _mm512_mask_storeu_epi16(out + 32, _bzhi_u32(~0u, n - 32),
                                 _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(v, 1)));
    }
}

// Writes the UTF-8 of the EUC-JP characters of chars (a bit at the lane of
// each in first, whose second bytes are at the same lanes of second) before
// the first whose pair pairTable has no code point for: pairLeads start
// pairs for the table, kana 0x8E and a katakana's byte, the others are
// ASCII. At most 32 characters. Returns how many it wrote.
TESSALY_AVX512_ESCAPES inline unsigned PutEucJpCharacters(__m512i first, __m512i second, std::uint64_t chars,
                                                          std::uint64_t pairLeads, std::uint64_t kana,
                                                          const std::uint16_t* pairTable, unsigned char*& out) {
    const auto n = static_cast<unsigned>(_mm_popcnt_u64(chars));
    const auto pairBits = static_cast<std::uint32_t>(_pext_u64(pairLeads, chars));
    const auto kanaBits = static_cast<std::uint32_t>(_pext_u64(kana, chars));
    const __m512i w0 = Widen(_mm512_maskz_compress_epi8(chars, first));
    const __m512i w1 = Widen(_mm512_maskz_compress_epi8(chars, second));
    const __m512i looked = LookUp(pairTable, _mm512_or_si512(w0, _mm512_slli_epi16(w1, 8)), pairBits);
    const std::uint32_t none = _mm512_mask_cmpeq_epi16_mask(pairBits, looked, _mm512_setzero_si512());
    // A katakana is U+FF61 on from its byte 0xA1.
    const __m512i kanaPoint = _mm512_add_epi16(w1, _mm512_set1_epi16(static_cast<short>(0xFF61 - 0xA1)));
    const __m512i c = _mm512_mask_blend_epi16(pairBits, _mm512_mask_blend_epi16(kanaBits, w0, kanaPoint), looked);
    return PutUtf8Characters(c, none, n, out);
}

enum class Route { kUtf8, kEucJp, kUtf8AsUtf8, kEucJpAsUtf8, kUtf8AsText, kEucJpAsText };

// How the stretches read their units: bytes as they are, or text. A unit of
// text from 0x100 up saturates to the byte 0xFF, so every unit from 0x80 up
// is a byte from 0x80 up, which the stretches end at as at a literal byte.
struct ByteUnits {
    using Unit = unsigned char;
    // Units read past a block: the digits of an escape at its last lane.
    static constexpr std::size_t kTail = ::tessaly::detail::kTail;
    TESSALY_AVX512_ESCAPES static __m512i Load(const Unit* p) { return _mm512_loadu_si512(p); }
    TESSALY_AVX512_ESCAPES static __m512i Next(const Unit* p, __m512i, unsigned char by) {
        return _mm512_loadu_si512(p + by);
    }
};

struct TextUnits {
    using Unit = char16_t;
    static constexpr std::size_t kTail = kTextStretchReach - kBlock;
    TESSALY_AVX512_ESCAPES static __m256i Narrow(const Unit* p) {
        return _mm512_cvtusepi16_epi8(_mm512_loadu_si512(p));
    }
    TESSALY_AVX512_ESCAPES static __m512i Load(const Unit* p) {
        return _mm512_inserti64x4(_mm512_castsi256_si512(Narrow(p)), Narrow(p + 32), 1);
    }
    // The lanes past the block from the units after it.
    TESSALY_AVX512_ESCAPES static __m512i Next(const Unit* p, __m512i units, unsigned char by) {
        return _mm512_permutex2var_epi8(units, LaneIndices(by), _mm512_castsi256_si512(Narrow(p + kBlock)));
    }
};

// UTF-8 and EUC-JP escapes go in stretches of blocks of 64 units, in two
// passes. The first packs each block's decoded escapes and its plain units
// into a buffer of bytes: there every byte from 0x80 up is an escape's (a
// literal one ends the stretch), and in both encodings an ASCII byte ends a
// sequence whether it was escaped or not, so the buffer's bytes read as the
// runs of escapes between the plain units do. Each block follows from its
// own units but for the digits of an escape at its end, so the blocks go at
// a fixed stride, none waiting for the one before to find where it ends.
// The second pass reads the buffer's characters 62 bytes at a time, up to
// the first that is not whole and valid, or that a table has nothing for (a
// character code page 932 does not write, an EUC-JP pair that is none):
// from there on the usual way goes.
constexpr unsigned kStretchBlocks = 32;

struct Stretch {
    // The bytes, and room for the second pass to read past them.
    alignas(64) unsigned char bytes[(kStretchBlocks + 2) * kBlock];
    std::uint64_t kept[kStretchBlocks];  // each block's lanes in the buffer
    unsigned at[kStretchBlocks + 1];     // where each block's bytes start there
    unsigned blocks;
    std::size_t end;  // the units read
    bool literal;     // ended at a literal unit from 0x80 up

    // The unit that gave the buffer's byte k (k < at[blocks]).
    TESSALY_AVX512_ESCAPES std::size_t UnitOf(unsigned k) const {
        unsigned b = blocks - 1;
        while (at[b] > k) --b;
        return kBlock * b + _tzcnt_u64(_pdep_u64(std::uint64_t{1} << (k - at[b]), kept[b]));
    }
};

// The first pass over most blocks from text.
template <class Units>
TESSALY_AVX512_ESCAPES inline void PackStretch(const typename Units::Unit* text, unsigned most, bool plus,
                                               Stretch& s) {
    // The value of each byte below 0x80 as a hexadecimal digit, 0x80 for the
    // others (a byte from 0x80 up looks up its low seven bits).
    alignas(64) static constexpr auto kDigitValues = [] {
        std::array<std::uint8_t, 128> values{};
        for (unsigned b = 0; b < 128; ++b) {
            values[b] = kLowDigits[b] > 0xFF ? 0x80 : static_cast<std::uint8_t>(kLowDigits[b]);
        }
        return values;
    }();
    const __m512i digitsLow = _mm512_load_si512(kDigitValues.data());
    const __m512i digitsHigh = _mm512_load_si512(kDigitValues.data() + 64);
    std::uint64_t digits = 0;  // lanes of this block that are the digits of an escape before it
    unsigned m = 0;
    unsigned b = 0;
    s.literal = false;
    while (b < most) {
        const typename Units::Unit* const p = text + kBlock * b;
        __m512i units = Units::Load(p);
        const __m512i next1 = Units::Next(p, units, 1), next2 = Units::Next(p, units, 2);
        // Each lane's digit value, bit 7 set where it is no digit (or the
        // unit's own bit 7).
        const __m512i high = _mm512_permutex2var_epi8(digitsLow, next1, digitsHigh);
        const __m512i low = _mm512_permutex2var_epi8(digitsLow, next2, digitsHigh);
        const std::uint64_t escapes =
            _mm512_cmpeq_epi8_mask(units, Splat('%')) &
            ~_mm512_movepi8_mask(_mm512_ternarylogic_epi32(high, low, _mm512_or_si512(next1, next2), 0xFE));
        // Digits are never "%" nor from 0x80 up.
        std::uint64_t kept = ~(escapes << 1 | escapes << 2 | digits);
        const std::uint64_t literal = _mm512_movepi8_mask(units) & kept;
        if (plus) units = _mm512_mask_blend_epi8(_mm512_cmpeq_epi8_mask(units, Splat('+')), units, Splat(' '));
        // (high << 4 & 0xF0) | low, right in the escapes' lanes.
        const __m512i escaped = _mm512_ternarylogic_epi32(_mm512_slli_epi16(high, 4), Splat(0xF0), low, 0xEA);
        if (literal != 0) kept &= _bzhi_u64(kAll, static_cast<unsigned>(_tzcnt_u64(literal)));
        s.at[b] = m;
        s.kept[b] = kept;
        const __m512i values = _mm512_mask_blend_epi8(escapes, units, escaped);
        _mm512_storeu_si512(s.bytes + m, _mm512_maskz_compress_epi8(kept, values));
        m += static_cast<unsigned>(_mm_popcnt_u64(kept));
        ++b;
        if (literal != 0) {
            s.literal = true;
            s.end = kBlock * (b - 1) + _tzcnt_u64(literal);
            break;
        }
        digits = (escapes >> 63) * 3 | (escapes >> 62 & 1);
    }
    if (!s.literal) s.end = kBlock * b + _mm_popcnt_u64(digits);
    s.blocks = b;
    s.at[b] = m;
}

// Writes the characters of v that start before upTo: ones (ASCII) as they
// are, and in place of each of wide (the first lanes of characters from 0x80
// up) its code page 932 bytes: inOrder holds them in order in a 16-bit lane
// a character (in the order of wide, 32 at most), both bytes where pairs has
// its bit, else the first (then in the character's first lane only).
TESSALY_AVX512_ESCAPES inline void PutInPlace(__m512i v, std::uint64_t ones, std::uint64_t wide, __m512i inOrder,
                                              std::uint32_t pairs, std::uint64_t upTo, unsigned char*& out) {
    const __m512i first = _mm512_castsi256_si512(_mm512_cvtepi16_epi8(inOrder));
    const __m512i second = _mm512_castsi256_si512(_mm512_cvtepi16_epi8(_mm512_srli_epi16(inOrder, 8)));
    const __m512i bytes = _mm512_mask_expand_epi8(_mm512_mask_expand_epi8(v, wide, first), wide << 1, second);
    const std::uint64_t lanes = ((ones | wide) & upTo) | (_pdep_u64(pairs, wide) & upTo) << 1;
    const auto n = static_cast<unsigned>(_mm_popcnt_u64(lanes));
    _mm512_mask_storeu_epi8(out, _bzhi_u64(kAll, n), _mm512_maskz_compress_epi8(lanes, bytes));
    out += n;
}

// The same into text: in place of each of wide its unit, in c (in the order
// of wide, 32 at most).
TESSALY_AVX512_ESCAPES inline void PutInPlace(__m512i v, std::uint64_t ones, std::uint64_t wide, __m512i c,
                                              std::uint64_t upTo, char16_t*& out) {
    const auto lowWide = static_cast<__mmask32>(wide), highWide = static_cast<__mmask32>(wide >> 32);
    // The units of the characters in the high half: those after the low
    // half's.
    const auto lowCharacters = static_cast<unsigned>(_mm_popcnt_u32(lowWide));
    const __m512i rest = _mm512_maskz_compress_epi16(~_bzhi_u32(~0u, lowCharacters), c);
    const __m512i low = _mm512_mask_expand_epi16(Widen(v), lowWide, c);
    const __m512i high = _mm512_mask_expand_epi16(Widen(_mm512_castsi256_si512(_mm512_extracti64x4_epi64(v, 1))),
                                                  highWide, rest);
    const std::uint64_t lanes = (ones | wide) & upTo;
    const auto lowLanes = static_cast<__mmask32>(lanes), highLanes = static_cast<__mmask32>(lanes >> 32);
    const auto lowCount = static_cast<unsigned>(_mm_popcnt_u32(lowLanes));
    _mm512_mask_storeu_epi16(out, _bzhi_u32(~0u, lowCount), _mm512_maskz_compress_epi16(lowLanes, low));
    out += lowCount;
    const auto highCount = static_cast<unsigned>(_mm_popcnt_u32(highLanes));
    _mm512_mask_storeu_epi16(out, _bzhi_u32(~0u, highCount), _mm512_maskz_compress_epi16(highLanes, high));
    out += highCount;
}

// The second pass over the m bytes at bytes: writes the characters before
// the first it does not take, and returns where that starts (m when it took
// all). pairTable: EUC-JP's, by the pair as it lies in memory: code page
// 932's bytes, or the code point.
template <Route kRoute, class Out>
TESSALY_AVX512_ESCAPES inline unsigned PutStretch(const unsigned char* bytes, unsigned m,
                                                  const std::uint16_t* pairTable, Out*& out) {
    constexpr bool kUtf8 = kRoute == Route::kUtf8 || kRoute == Route::kUtf8AsUtf8 || kRoute == Route::kUtf8AsText;
    // Into code page 932 and text each character from 0x80 up is written in
    // place of its bytes: at most 31 of them have their first byte in 62
    // lanes. Into UTF-8 from UTF-8 the bytes are written as they are. From
    // EUC-JP into UTF-8 a character at a time, 32 at most.
    constexpr bool kInPlace = kRoute != Route::kUtf8AsUtf8 && kRoute != Route::kEucJpAsUtf8;
    constexpr bool kMost32 = kRoute == Route::kEucJpAsUtf8;
    unsigned q = 0;
    std::uint64_t claimed = 0;  // bytes of characters before these lanes
    while (q < m) {
        const __m512i v = _mm512_loadu_si512(bytes + q);
        const unsigned left = m - q;
        const std::uint64_t valid = left >= kBlock ? kAll : _bzhi_u64(kAll, left);
        // The lanes whose characters these are (the last ones' bytes may
        // reach two lanes further).
        unsigned own = left >= kBlock - 2 ? kBlock - 2 : left;
        const std::uint64_t high = _mm512_movepi8_mask(v) & valid;
        if (claimed == 0 && (high & _bzhi_u64(kAll, own)) == 0) {  // ASCII
            if constexpr (std::is_same_v<Out, char16_t>) {
                PutBytesAsUnits(v, own, out);
            } else {
                _mm512_mask_storeu_epi8(out, _bzhi_u64(kAll, own), v);
            }
            out += own;
            q += own;
            continue;
        }
        const __m512i second = _mm512_loadu_si512(bytes + q + 1);
        // In UTF-8 every byte but a continuation byte starts a character; in
        // EUC-JP a run of bytes from 0x80 up pairs off from its start.
        const std::uint64_t continuation = InRange64(v, 0x80, 0xBF) & valid;
        const std::uint64_t free = high & ~claimed;
        const std::uint64_t starts =
            kUtf8 ? valid & ~continuation : valid & ~claimed & ~(free & ~PairStartBits(free));
        std::uint64_t owned = _bzhi_u64(kAll, own);
        if (kMost32 && _mm_popcnt_u64(starts & owned) > 32) {
            own = static_cast<unsigned>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << 32, starts)));
            owned = _bzhi_u64(kAll, own);
        }
        const std::uint64_t chars = starts & owned;
        const std::uint64_t ones = chars & ~high;  // ASCII
        std::uint64_t wrong;  // a lead that is not whole, or a byte no lead claims
        std::uint64_t these;  // the characters before it
        // In place: each wide character's bytes in order (into code page
        // 932, both where pairs has its bit) or unit, and which of them the
        // tables have none for.
        [[maybe_unused]] __m512i inOrder;
        [[maybe_unused]] std::uint32_t pairs = 0, none = 0;
        [[maybe_unused]] unsigned good = 0;  // characters written, from EUC-JP into UTF-8
        if constexpr (kUtf8) {
            const __m512i third = _mm512_loadu_si512(bytes + q + 2);
            const std::uint64_t twos = chars & InRange64(v, 0xC2, 0xDF) & continuation >> 1;
            const std::uint64_t threes =
                chars & InRange64(v, 0xE0, 0xEF) & continuation >> 1 & continuation >> 2 & ~NotThree(v, second);
            claimed |= (twos | threes) << 1 | threes << 2;
            wrong = (chars & ~(ones | twos | threes)) | (continuation & owned & ~claimed);
            const std::uint64_t before = wrong != 0 ? _bzhi_u64(kAll, static_cast<unsigned>(_tzcnt_u64(wrong))) : owned;
            these = chars & before;
            if constexpr (kRoute == Route::kUtf8AsUtf8) {
                _mm512_mask_storeu_epi8(out, before, v);
                out += _mm_popcnt_u64(before);
            } else {
                const std::uint64_t wide = these & high;
                const __m512i points = ReadUtf8Points(v, second, third, wide, twos, threes);
                if constexpr (kRoute == Route::kUtf8) {
                    const std::uint32_t all = _bzhi_u32(~0u, static_cast<unsigned>(_mm_popcnt_u64(wide)));
                    // The table gives a pair of bytes as one number, its lead
                    // byte high.
                    const __m512i looked = LookUp(kCp932WritableBytes.data(), points, all);
                    none = _mm512_mask_cmpeq_epi16_mask(all, looked, _mm512_setzero_si512());
                    pairs = _mm512_cmpgt_epu16_mask(looked, _mm512_set1_epi16(0xFF));
                    inOrder = _mm512_mask_blend_epi16(
                        pairs, looked, _mm512_or_si512(_mm512_srli_epi16(looked, 8), _mm512_slli_epi16(looked, 8)));
                } else {
                    inOrder = points;
                }
            }
        } else {
            // A lead and a byte from 0x80 up: 0x8E and a katakana's byte, or
            // a pair for the table, which has none for any other.
            const std::uint64_t paired = chars & high & high >> 1;
            const std::uint64_t kanaLeads = paired & _mm512_cmpeq_epi8_mask(v, Splat(0x8E));
            const std::uint64_t kana = kanaLeads & InRange64(second, 0xA1, 0xDF);
            const std::uint64_t pairLeads = paired & ~kanaLeads;
            claimed |= (kana | pairLeads) << 1;
            wrong = chars & ~(ones | kana | pairLeads);
            these = wrong != 0 ? chars & _bzhi_u64(kAll, static_cast<unsigned>(_tzcnt_u64(wrong))) : chars;
            if constexpr (kRoute == Route::kEucJpAsUtf8) {
                good = PutEucJpCharacters(v, second, these, pairLeads, kana, pairTable, out);
            } else {
                // A pair's bytes as the table gives them (in order) or its
                // code point; a katakana's second byte, or U+FF61 on from
                // 0xA1.
                const std::uint64_t wide = these & high;
                pairs = static_cast<std::uint32_t>(_pext_u64(pairLeads, wide));
                const __m512i w0 = Widen(_mm512_maskz_compress_epi8(wide, v));
                const __m512i w1 = Widen(_mm512_maskz_compress_epi8(wide, second));
                const __m512i looked = LookUp(pairTable, _mm512_or_si512(w0, _mm512_slli_epi16(w1, 8)), pairs);
                none = _mm512_mask_cmpeq_epi16_mask(pairs, looked, _mm512_setzero_si512());
                const __m512i kana = kRoute == Route::kEucJp
                                         ? w1
                                         : _mm512_add_epi16(w1, _mm512_set1_epi16(static_cast<short>(0xFF61 - 0xA1)));
                inOrder = _mm512_mask_blend_epi16(pairs, kana, looked);
            }
        }
        if constexpr (kInPlace) {
            // Up to the first character the tables have none for, or the
            // first that is wrong.
            const std::uint64_t wide = these & high;
            std::uint64_t upTo = wrong != 0 ? _bzhi_u64(kAll, static_cast<unsigned>(_tzcnt_u64(wrong))) : owned;
            unsigned stop = 0;
            if (none != 0) {
                stop = static_cast<unsigned>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << _tzcnt_u32(none), wide)));
                upTo = _bzhi_u64(kAll, stop);
            }
            if constexpr (std::is_same_v<Out, char16_t>) {
                PutInPlace(v, these & ~high, wide, inOrder, upTo, out);
            } else {
                PutInPlace(v, these & ~high, wide, inOrder, pairs, upTo, out);
            }
            if (none != 0) return q + stop;
        } else if constexpr (kRoute == Route::kEucJpAsUtf8) {
            if (good < _mm_popcnt_u64(these)) {
                return q + static_cast<unsigned>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << good, these)));
            }
        }
        if (wrong != 0) return q + static_cast<unsigned>(_tzcnt_u64(wrong));
        claimed >>= own;
        q += own;
    }
    return m;
}

// Decodes stretches from text while their blocks end by stop and can be
// read within available; returns the units read. The stretches start short
// and grow while they take all they read, so that one ended early by what
// they leave to the usual way reads little in vain. With plus, a plain "+"
// is read as a space.
template <Route kRoute, class Units, class Out>
TESSALY_AVX512_ESCAPES std::size_t DecodeStretches(const typename Units::Unit* text, std::size_t stop,
                                                   std::size_t available, const std::uint16_t* pairTable, bool plus,
                                                   Out*& out) {
    std::size_t in = 0;
    unsigned most = 4;
    Stretch s;
    while (in + kBlock <= stop && in + kBlock + Units::kTail <= available) {
        const std::size_t blocks = std::min((stop - in) / kBlock, (available - Units::kTail - in) / kBlock);
        PackStretch<Units>(text + in, static_cast<unsigned>(std::min<std::size_t>(most, blocks)), plus, s);
        const unsigned m = s.at[s.blocks];
        const unsigned at = PutStretch<kRoute>(s.bytes, m, pairTable, out);
        if (at == m) {
            in += s.end;
            if (s.literal) break;
            most = std::min(2 * most, kStretchBlocks);
            continue;
        }
        in += s.UnitOf(at);
        // A character cut by the stretch's end goes on in the next.
        if (s.literal || at == 0 || at + 3 < m) break;
    }
    return in;
}

// The code point of each pair of JIS X 0208's bytes, by the pair as it lies
// in memory; 0 for any other.
const std::uint16_t* EucJpPoints() {
    static const std::unique_ptr<std::uint16_t[]> points = [] {
        auto table = std::make_unique<std::uint16_t[]>(0x10000);
        const std::uint16_t* const jis = eucjp::Jis0208Pairs();
        for (unsigned b1 = 0xA1; b1 <= 0xFE; ++b1) {
            for (unsigned b2 = 0xA1; b2 <= 0xFE; ++b2) table[b1 | b2 << 8] = jis[(b1 - 0xA1) * 94 + (b2 - 0xA1)];
        }
        return table;
    }();
    return points.get();
}

}  // namespace

bool CanDecodeInStretches() { return CanEscapeAvx512(); }

namespace {

// DecodeStretches where the processor has what they take, else nothing read.
template <Route kRoute, class Units, class Out>
std::size_t StretchesIfAble(const typename Units::Unit* text, std::size_t stop, std::size_t available,
                            const std::uint16_t* pairTable, bool plus, Out*& out) {
    return CanDecodeInStretches() ? DecodeStretches<kRoute, Units>(text, stop, available, pairTable, plus, out) : 0;
}

}  // namespace

std::size_t DecodeUtf8Stretches(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                                unsigned char*& out) {
    return StretchesIfAble<Route::kUtf8, ByteUnits>(text, stop, available, nullptr, plus, out);
}

std::size_t DecodeUtf8StretchesAsUtf8(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                                      unsigned char*& out) {
    return StretchesIfAble<Route::kUtf8AsUtf8, ByteUnits>(text, stop, available, nullptr, plus, out);
}

std::size_t DecodeEucJpStretches(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                                 unsigned char*& out) {
    static const std::uint16_t* const pairs = EucJpToCp932Pairs();
    return StretchesIfAble<Route::kEucJp, ByteUnits>(text, stop, available, pairs, plus, out);
}

std::size_t DecodeEucJpStretchesAsUtf8(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                                       unsigned char*& out) {
    return StretchesIfAble<Route::kEucJpAsUtf8, ByteUnits>(text, stop, available, EucJpPoints(), plus, out);
}

std::size_t DecodeUtf8TextStretches(const char16_t* text, std::size_t stop, std::size_t available, bool plus,
                                    char16_t*& out) {
    return StretchesIfAble<Route::kUtf8AsText, TextUnits>(text, stop, available, nullptr, plus, out);
}

std::size_t DecodeEucJpTextStretches(const char16_t* text, std::size_t stop, std::size_t available, bool plus,
                                     char16_t*& out) {
    return StretchesIfAble<Route::kEucJpAsText, TextUnits>(text, stop, available, EucJpPoints(), plus, out);
}
#else
bool CanDecodeInStretches() { return false; }

std::size_t DecodeUtf8Stretches(const unsigned char*, std::size_t, std::size_t, bool, unsigned char*&) { return 0; }
std::size_t DecodeUtf8StretchesAsUtf8(const unsigned char*, std::size_t, std::size_t, bool, unsigned char*&) {
    return 0;
}
std::size_t DecodeEucJpStretches(const unsigned char*, std::size_t, std::size_t, bool, unsigned char*&) { return 0; }
std::size_t DecodeEucJpStretchesAsUtf8(const unsigned char*, std::size_t, std::size_t, bool, unsigned char*&) {
    return 0;
}
std::size_t DecodeUtf8TextStretches(const char16_t*, std::size_t, std::size_t, bool, char16_t*&) { return 0; }
std::size_t DecodeEucJpTextStretches(const char16_t*, std::size_t, std::size_t, bool, char16_t*&) { return 0; }
#endif

}  // namespace tessaly::detail

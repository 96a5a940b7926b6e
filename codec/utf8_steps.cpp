// UTF-8 escapes into code page 932 bytes, 64 units at a time (AVX-512).
//
// A window of 64 units goes in two passes. The first finds the escapes in
// it, decodes their digits and packs the bytes (an escape's byte, a plain
// unit's own byte) together with one compress, so that the window's
// characters lie in a row as UTF-8; the window ends at the last character
// that starts in it, which the next window begins with. The second walks
// the characters by the bits of where each starts: as every byte between
// two starts is an escaped continuation byte, a character is whole when its
// lead byte agrees with its length, and its code point then goes through
// code page 932's table of written bytes. Anything else (a literal byte
// from 0x80 up, a byte that is no lead, a character of four bytes, one that
// code page 932 does not write) ends the steps at that character's start,
// for the usual way.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "codec/fidelity.h"
#include "codec/url_internal.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TESSALY_UTF8_STEPS 1
// GCC 12's AVX-512 intrinsics start some results from an undefined vector,
// which its flow analysis takes for an uninitialised read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace tessaly::detail {

#ifdef TESSALY_UTF8_STEPS
namespace {

constexpr std::size_t kWindow = 64;
// A window reads two units past itself (the digits of an escape at its last
// lane), and the steps leave this many units at the end to the usual way.
constexpr std::size_t kTail = 16;

// The length of the character a byte leads, as the steps take it: 1 for
// ASCII but 0, 2 and 3 for the leads of two and three bytes; 0 for any
// other byte.
constexpr std::array<std::uint8_t, 256> BuildLeadLengths() {
    std::array<std::uint8_t, 256> lengths{};
    for (unsigned b = 1; b < 0x80; ++b) lengths[b] = 1;
    for (unsigned b = 0xC2; b <= 0xDF; ++b) lengths[b] = 2;
    for (unsigned b = 0xE0; b <= 0xEF; ++b) lengths[b] = 3;
    return lengths;
}
constexpr std::array<std::uint8_t, 256> kLeadLengths = BuildLeadLengths();

#define TESSALY_STEPS_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,lzcnt,popcnt")))

// One bit per lane that holds a hexadecimal digit.
TESSALY_STEPS_TARGET inline std::uint64_t HexLanes(__m512i b) {
    const __mmask64 digit = _mm512_cmplt_epu8_mask(_mm512_sub_epi8(b, _mm512_set1_epi8('0')), _mm512_set1_epi8(10));
    const __mmask64 letter = _mm512_cmplt_epu8_mask(
        _mm512_sub_epi8(_mm512_or_si512(b, _mm512_set1_epi8(0x20)), _mm512_set1_epi8('a')), _mm512_set1_epi8(6));
    return digit | letter;
}

// The value of each lane's digit (junk in the other lanes).
TESSALY_STEPS_TARGET inline __m512i DigitValue(__m512i b) {
    const __m512i letter = _mm512_maskz_mov_epi8(_mm512_cmpgt_epu8_mask(b, _mm512_set1_epi8('9')), _mm512_set1_epi8(9));
    return _mm512_add_epi8(_mm512_and_si512(b, _mm512_set1_epi8(0x0F)), letter);
}

// Writes the characters of the n UTF-8 bytes at bytes, which start where
// the bits of starts are (bit n set as the end); returns n, or the index of
// the first character it leaves to the usual way.
TESSALY_STEPS_TARGET inline unsigned PutCharacters(const unsigned char* bytes, std::uint64_t starts, unsigned n,
                                                   unsigned char*& out) {
    const std::uint16_t* const writable = kCp932WritableBytes.data();
    unsigned char* o = out;
    unsigned s = 0;
    starts &= starts - 1;  // bit 0 is the first character
    while (true) {
        const auto next = static_cast<unsigned>(_tzcnt_u64(starts));
        std::uint32_t w;
        std::memcpy(&w, bytes + s, 4);
        const unsigned length = next - s;
        const unsigned b0 = w & 0xFF;
        const unsigned two = (w & 0x1F) << 6 | (w >> 8 & 0x3F);
        const unsigned three = (w & 0x0F) << 12 | (w >> 2 & 0xFC0) | (w >> 16 & 0x3F);
        const unsigned c = length == 3 ? three : length == 2 ? two : b0;
        const std::uint16_t written = writable[c];
        // An overlong form reads as no character; a surrogate is one that
        // code page 932 does not write.
        const bool bad = (kLeadLengths[b0] != length) | (written == 0) | (length == 3 && c < 0x800);
        if (bad) break;
        const bool pair = written > 0xFF;
        const std::uint16_t inOrder = pair ? static_cast<std::uint16_t>(written >> 8 | written << 8) : written;
        std::memcpy(o, &inOrder, 2);
        o += 1 + pair;
        s = next;
        if (s == n) break;
        starts &= starts - 1;
    }
    out = o;
    return s;
}

// The lanes of a vector moved down by a constant: lane i takes lane i + by
// (the top lanes wrap round: junk).
TESSALY_STEPS_TARGET inline __m512i LanesFrom(__m512i v, int by) {
    const __m512i lane = _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45,
                                         44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26,
                                         25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6,
                                         5, 4, 3, 2, 1, 0);
    return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, _mm512_add_epi8(lane, _mm512_set1_epi8(static_cast<char>(by))), v);
}

// Lanes of bytes in [first, last].
TESSALY_STEPS_TARGET inline std::uint64_t InRange(__m512i v, unsigned char first, unsigned char last) {
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8(static_cast<char>(first))),
                                  _mm512_set1_epi8(static_cast<char>(last - first)));
}

// The code page 932 bytes of the n characters (at most 32) whose UTF-8
// bytes are b0, b1 and b2 (the lead byte and the bytes 3 and 6 lanes after
// it), of two bytes where twos has a bit and three where threes has one;
// the bytes in order, as many as written, in the lanes from the first. 0
// when one of them is a character that code page 932 does not write.
TESSALY_STEPS_TARGET inline unsigned ConvertCharacters(__m512i b0, __m512i b1, __m512i b2, std::uint32_t twos,
                                                       std::uint32_t threes, unsigned n, __m512i& bytes) {
    const __m512i w0 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b0));
    const __m512i low6 = _mm512_set1_epi16(0x3F);
    const __m512i w1 = _mm512_and_si512(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(b1)), low6);
    const __m512i w2 = _mm512_and_si512(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(b2)), low6);
    const __m512i two = _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(w0, _mm512_set1_epi16(0x1F)), 6), w1);
    const __m512i three = _mm512_or_si512(
        _mm512_or_si512(_mm512_slli_epi16(w0, 12), _mm512_slli_epi16(w1, 6)), w2);
    const __m512i c = _mm512_mask_blend_epi16(threes, _mm512_mask_blend_epi16(twos, w0, two), three);
    // The table's entries are two bytes apart: a dword read from the entry
    // before a character's holds its entry in the top half (every character
    // looked up is 0x80 or above), and reads nothing past the table.
    const auto* const base = reinterpret_cast<const int*>(kCp932WritableBytes.data());
    const std::uint32_t wide = twos | threes;
    const __m512i before = _mm512_set1_epi32(1);
    const __m512i low = _mm512_mask_i32gather_epi32(
        _mm512_setzero_si512(), static_cast<__mmask16>(wide),
        _mm512_sub_epi32(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(c)), before), base, 2);
    // More than 16 characters are rare outside runs of ASCII.
    __m512i high = _mm512_setzero_si512();
    if (wide >> 16 != 0) {
        high = _mm512_mask_i32gather_epi32(
            _mm512_setzero_si512(), static_cast<__mmask16>(wide >> 16),
            _mm512_sub_epi32(_mm512_cvtepu16_epi32(_mm512_maskz_extracti64x4_epi64(0xFF, c, 1)), before), base, 2);
    }
    const __m512i looked = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(_mm512_srli_epi32(low, 16))),
                                              _mm512_cvtepi32_epi16(_mm512_srli_epi32(high, 16)), 1);
    if (_mm512_mask_cmpeq_epi16_mask(wide, looked, _mm512_setzero_si512()) != 0) return 0;
    const __m512i written = _mm512_mask_blend_epi16(wide, w0, looked);
    const std::uint32_t pairs = _mm512_cmpgt_epu16_mask(written, _mm512_set1_epi16(0xFF));
    // A pair's lead byte first.
    const __m512i swapped = _mm512_or_si512(_mm512_srli_epi16(written, 8), _mm512_slli_epi16(written, 8));
    const std::uint64_t keep = _pdep_u64(_bzhi_u32(~0u, n), 0x5555555555555555) | _pdep_u64(pairs, 0xAAAAAAAAAAAAAAAA);
    bytes = _mm512_maskz_compress_epi8(keep, _mm512_mask_blend_epi16(pairs, written, swapped));
    return static_cast<unsigned>(_mm_popcnt_u64(keep));
}

// Decodes windows from text while they end by stop and can be read within
// available; returns the units read.
TESSALY_STEPS_TARGET std::size_t DecodeWindows(const unsigned char* text, std::size_t stop, std::size_t available,
                                               unsigned char*& out) {
    alignas(64) unsigned char bytes[kWindow + 16] = {};
    std::size_t in = 0;
    unsigned char* o = out;
    const __m512i percent = _mm512_set1_epi8('%');
    while (in + kWindow <= stop && in + kWindow + kTail <= available) {
        const unsigned char* const p = text + in;
        const __m512i units = _mm512_loadu_si512(p);
        const std::uint64_t percents = _mm512_cmpeq_epi8_mask(units, percent);
        const std::uint64_t literalHigh = _mm512_movepi8_mask(units);
        // Plain ASCII units up to the first "%" or byte from 0x80 up: as
        // they are (a long run of them takes few windows).
        const auto plain = static_cast<unsigned>(_tzcnt_u64(percents | literalHigh));
        if (plain >= 16) {
            _mm512_mask_storeu_epi8(o, _bzhi_u64(~std::uint64_t{0}, plain), units);
            o += plain;
            in += plain;
            continue;
        }
        const __m512i next1 = _mm512_loadu_si512(p + 1);
        const __m512i next2 = _mm512_loadu_si512(p + 2);
        const std::uint64_t escapes = percents & HexLanes(next1) & HexLanes(next2);
        const std::uint64_t digits = escapes << 1 | escapes << 2;
        const __m512i escaped =
            _mm512_or_si512(_mm512_and_si512(_mm512_slli_epi16(DigitValue(next1), 4), _mm512_set1_epi8(static_cast<char>(0xF0))),
                            DigitValue(next2));
        const __m512i values = _mm512_mask_blend_epi8(escapes, units, escaped);
        const std::uint64_t continuation = escapes & InRange(values, 0x80, 0xBF);
        const std::uint64_t kept = ~digits;
        const std::uint64_t starts = kept & ~continuation;
        // The window ends at the last start after its first, and no later
        // than a literal byte from 0x80 up.
        const std::uint64_t upTo = literalHigh != 0 ? (literalHigh & (0 - literalHigh)) * 2 - 1 : ~std::uint64_t{0};
        const std::uint64_t ends = starts & upTo & ~std::uint64_t{1};
        if ((starts & 1) == 0 || ends == 0) break;
        auto end = static_cast<unsigned>(63 - _lzcnt_u64(ends));
        std::uint64_t chars = starts & _bzhi_u64(~std::uint64_t{0}, end);
        if (_mm_popcnt_u64(chars) > 32) {  // 32 characters at most
            end = static_cast<unsigned>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << 32, chars)));
            chars &= _bzhi_u64(~std::uint64_t{0}, end);
        }
        const std::uint64_t taken = kept & _bzhi_u64(~std::uint64_t{0}, end);
        // Each character whole: a start of one, two or three bytes, and
        // exactly the continuation escapes its lead calls for after it.
        const __m512i third = LanesFrom(values, 3);
        const __m512i sixth = LanesFrom(values, 6);
        const std::uint64_t ones = chars & InRange(values, 0x01, 0x7F);
        const std::uint64_t twos = chars & escapes & InRange(values, 0xC2, 0xDF);
        std::uint64_t threes = chars & escapes & InRange(values, 0xE0, 0xEF);
        // No overlong form (E0 80-9F). Surrogates (ED A0-BF) are in the
        // table as characters code page 932 does not write.
        threes &= ~(_mm512_cmpeq_epi8_mask(values, _mm512_set1_epi8(static_cast<char>(0xE0))) &
                    _mm512_cmplt_epu8_mask(third, _mm512_set1_epi8(static_cast<char>(0xA0))));
        const std::uint64_t claimed = twos << 3 | threes << 3 | threes << 6;
        const auto n = static_cast<unsigned>(_mm_popcnt_u64(chars));
        __m512i converted;
        unsigned written = 0;
        if ((ones | twos | threes) == chars && claimed == (continuation & taken)) {
            written = ConvertCharacters(_mm512_maskz_compress_epi8(chars, values),
                                        _mm512_maskz_compress_epi8(chars, third),
                                        _mm512_maskz_compress_epi8(chars, sixth),
                                        static_cast<std::uint32_t>(_pext_u64(twos, chars)),
                                        static_cast<std::uint32_t>(_pext_u64(threes, chars)), n, converted);
        }
        if (written != 0) {
            _mm512_mask_storeu_epi8(o, _bzhi_u64(~std::uint64_t{0}, written), converted);
            o += written;
            in += end;
            continue;
        }
        // Something in the window the steps do not take: the characters
        // before it one at a time.
        _mm512_store_si512(bytes, _mm512_maskz_compress_epi8(taken, values));
        const auto packed = static_cast<unsigned>(_mm_popcnt_u64(taken));
        const std::uint64_t packedStarts = _pext_u64(starts, taken) | std::uint64_t{1} << packed;
        const unsigned done = PutCharacters(bytes, packedStarts, packed, o);
        if (done != packed) {  // back to the start of the character left over
            in += _tzcnt_u64(_pdep_u64(std::uint64_t{1} << done, taken));
            break;
        }
        in += end;
    }
    out = o;
    return in;
}

}  // namespace

bool CanDecodeUtf8Steps() {
    static const bool can = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                            __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2") &&
                            __builtin_cpu_supports("lzcnt") && __builtin_cpu_supports("popcnt");
    return can;
}

std::size_t DecodeUtf8Steps(const unsigned char* text, std::size_t stop, std::size_t available, unsigned char*& out) {
    return CanDecodeUtf8Steps() ? DecodeWindows(text, stop, available, out) : 0;
}
#else
bool CanDecodeUtf8Steps() { return false; }

std::size_t DecodeUtf8Steps(const unsigned char*, std::size_t, std::size_t, unsigned char*&) { return 0; }
#endif

}  // namespace tessaly::detail

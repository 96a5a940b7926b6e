// Escaping up to 63 bytes at a time with AVX-512 (VBMI2): each byte as
// itself where it is kept, else "%XX" with upper-case digits.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#define TESSALY_AVX512_ESCAPES \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))

namespace tessaly::detail {

// Whether this processor has what the escapes below need (checked once).
inline bool CanEscapeAvx512() {
    static const bool can = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
                            __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
                            __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    return can;
}

// The lanes of bytes in [low, high], a bit a byte.
TESSALY_AVX512_ESCAPES inline std::uint64_t InRange64(__m512i bytes, unsigned char low, unsigned char high) {
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8(static_cast<char>(low))),
                                  _mm512_set1_epi8(static_cast<char>(high - low)));
}

// Bytes escaped at a time: 21, in 63 slots (three for each byte).
inline constexpr unsigned kEscapeStep = 21;

// The first n (up to 63) of the bytes x at o: byte i as itself (with
// spaceAsPlus a space as "+") where bit i of kept is set, else "%XX".
// What goes in each byte's three slots is worked out once for the 63 (the
// byte or "%", the high digit, the low digit); each step of 21 bytes then
// takes its slots with two permutes and packs the ones it writes with one
// compress. Writes up to 64 bytes past the escapes; returns their end.
TESSALY_AVX512_ESCAPES inline char* EscapeKeptAvx512(__m512i x, unsigned n, std::uint64_t kept, bool spaceAsPlus,
                                                     char* o) {
    // The digits in each 16 bytes, for the shuffles within each 16.
    alignas(64) static constexpr auto kHex = [] {
        std::array<char, 64> hex{};
        for (unsigned i = 0; i < 64; ++i) hex[i] = "0123456789ABCDEF"[i % 16];
        return hex;
    }();
    // For step j: slot 3i takes byte 21j + i of the first table (the byte
    // or "%"), slot 3i + 1 that of the second (the high digit); slot 3i + 2
    // takes byte 21j + i of the low digits.
    alignas(64) static constexpr auto kSlots = [] {
        std::array<std::array<std::uint8_t, 64>, 6> slots{};
        for (unsigned j = 0; j < 3; ++j) {
            for (unsigned s = 0; s < 64; ++s) {
                const unsigned i = kEscapeStep * j + std::min(s / 3, kEscapeStep - 1);
                slots[2 * j][s] = static_cast<std::uint8_t>(s % 3 == 1 ? 64 + i : i);
                slots[2 * j + 1][s] = static_cast<std::uint8_t>(i);
            }
        }
        return slots;
    }();
    constexpr std::uint64_t kFirstSlots = 0x1249249249249249ULL;  // 0, 3, ..., 60
    constexpr std::uint64_t kThirdSlots = kFirstSlots << 2;
    const __m512i hex = _mm512_load_si512(kHex.data());
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const std::uint64_t bytes = (std::uint64_t{1} << n) - 1;
    kept &= bytes;
    const __m512i highDigits = _mm512_shuffle_epi8(hex, _mm512_and_si512(_mm512_srli_epi16(x, 4), nibble));
    const __m512i lowDigits = _mm512_shuffle_epi8(hex, _mm512_and_si512(x, nibble));
    if (spaceAsPlus) x = _mm512_mask_mov_epi8(x, _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8(' ')), _mm512_set1_epi8('+'));
    const __m512i first = _mm512_mask_mov_epi8(_mm512_set1_epi8('%'), kept, x);
    for (unsigned j = 0; j < 3 && kEscapeStep * j < n; ++j) {
        const std::uint64_t step = bytes >> (kEscapeStep * j) & ((1u << kEscapeStep) - 1);
        const std::uint64_t escapedSlots = _pdep_u64(~(kept >> (kEscapeStep * j)) & step, kFirstSlots);
        const std::uint64_t written = _pdep_u64(step, kFirstSlots) | escapedSlots << 1 | escapedSlots << 2;
        __m512i r = _mm512_permutex2var_epi8(first, _mm512_load_si512(kSlots[2 * j].data()), highDigits);
        r = _mm512_mask_permutexvar_epi8(r, kThirdSlots, _mm512_load_si512(kSlots[2 * j + 1].data()), lowDigits);
        _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(written, r));
        o += std::popcount(written);
    }
    return o;
}

}  // namespace tessaly::detail
#else
namespace tessaly::detail {
inline bool CanEscapeAvx512() { return false; }
}  // namespace tessaly::detail
#endif

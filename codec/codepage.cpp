// CodePageBridge over the code page 932 tables.
#include "codec/codepage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "codec/chunked_output.h"
#include "codec/cp932.h"
#include "codec/exact_bytes.h"
#include "codec/pair_bits.h"
#include "codec/utf8.h"

namespace tessaly {

using detail::ChunkedOutput;
using detail::kChunkUnits;

std::string CodePageBridge::ToBytes(std::u16string_view text) {
    std::string out;
    AppendBytes(out, text);
    return out;
}

std::size_t CodePageBridge::AppendBytes(std::string& out, std::u16string_view text, bool final) {
    if (!final && !text.empty() && cp932::IsHighSurrogate(text.back())) text.remove_suffix(1);
    ChunkedOutput<char> output(out, 2 * text.size() + 1);  // two bytes a unit at most, one scratch
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    while (p != end) {
        const char16_t* const chunkEnd = p + std::min<std::size_t>(end - p, kChunkUnits);
        char* const room = output.Room(2 * static_cast<std::size_t>(chunkEnd - p) + 1);
        auto* o = reinterpret_cast<unsigned char*>(room);
        while (p < chunkEnd) {
#ifdef __SSE2__
            // ASCII is its own byte: 16 units at a time while they are.
            if (chunkEnd - p >= 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
                if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi16(_mm_or_si128(a, b), 7),
                                                      _mm_setzero_si128())) == 0xFFFF) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(a, b));
                    p += 16;
                    o += 16;
                    continue;
                }
            }
#endif
            // Not all ASCII: the next 16 units one at a time, each writing
            // two bytes and keeping one or both, without a branch on which.
            const char16_t* const partEnd = p + std::min<std::ptrdiff_t>(chunkEnd - p, 16);
            while (p < partEnd) {
                const char16_t unit = *p++;
                const std::uint16_t bytes = cp932::UnitToBytes(unit);
                const bool twoBytes = cp932::IsDoubleByte(bytes);
                o[0] = static_cast<unsigned char>(twoBytes ? bytes >> 8 : bytes);
                o[1] = static_cast<unsigned char>(bytes);
                o += 1 + twoBytes;
                // A surrogate pair is one character, so it gives one '?'.
                if (cp932::IsHighSurrogate(unit) && p != end && cp932::IsLowSurrogate(*p)) ++p;
            }
        }
        output.Commit(reinterpret_cast<char*>(o));
    }
    output.Finish();
    return text.size();
}

std::u16string CodePageBridge::ToText(std::string_view bytes) {
    std::u16string out;
    AppendText(out, bytes);
    return out;
}

namespace {

template <bool kCheck>
std::size_t AppendTextImpl(std::u16string& out, std::string_view bytes, bool final, ByteLoss* loss) {
    ChunkedOutput<char16_t> output(out, bytes.size());  // at most one unit per byte
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    [[maybe_unused]] const auto* const begin = p;
    [[maybe_unused]] const cp932::ExactTable* const exact_ = kCheck ? &cp932::ExactTable::Get() : nullptr;
    const auto* const end = p + bytes.size();
    // Stop before the last byte when it may be a lead byte waiting for its
    // trail; whether it is one depends on the bytes before it.
    const auto* const stop = !final && p != end && cp932::IsLeadByte(end[-1]) ? end - 1 : end;
    while (p < stop) {
        // A pair that starts in the chunk may end one byte past it.
        const unsigned char* const chunkEnd = p + std::min<std::size_t>(stop - p, kChunkUnits);
        char16_t* o = output.Room(static_cast<std::size_t>(chunkEnd - p));
        while (p < chunkEnd) {
#ifdef __SSE2__
            // ASCII is its own unit: 16 bytes at a time while they are.
            if (chunkEnd - p >= 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                if (_mm_movemask_epi8(a) == 0) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(a, _mm_setzero_si128()));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(a, _mm_setzero_si128()));
                    p += 16;
                    o += 16;
                    continue;
                }
            }
#endif
            if constexpr (kCheck) {
                const unsigned char* const start = p;
                p = cp932::ConvertCharacter(p, end, o++);
                const bool exact = p - start == 2 ? exact_->Pair(start[0], start[1]) : exact_->Single(start[0]);
                if (!exact) {
                    if (loss->count == 0) loss->first = static_cast<std::size_t>(start - begin);
                    loss->count += static_cast<std::size_t>(p - start);
                }
            } else {
                p = cp932::ConvertCharacter(p, end, o++);
            }
        }
        output.Commit(o);
    }
    output.Finish();
    return static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(bytes.data()));
}

// The UTF-8 of every character of code page 932, by its first byte and
// the byte after it: up to three bytes of UTF-8 (the first in the low byte),
// their count at bit 24 and the bytes the character takes at bit 28.
class Utf8OfCharacters {
public:
    static const Utf8OfCharacters& Get() {
        static const Utf8OfCharacters table;
        return table;
    }
    std::uint32_t At(unsigned b0, unsigned b1) const { return table_[b0 << 8 | b1]; }

private:
    Utf8OfCharacters() : table_(std::make_unique<std::uint32_t[]>(0x10000)) {
        for (unsigned b0 = 0; b0 < 0x100; ++b0) {
            const bool lead = cp932::IsLeadByte(static_cast<std::uint8_t>(b0));
            for (unsigned b1 = 0; b1 < (lead ? 0x100u : 1u); ++b1) {
                const unsigned char two[2] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1)};
                char16_t c;
                const auto taken = static_cast<std::uint32_t>(cp932::ConvertCharacter(two, two + 2, &c) - two);
                char utf8[4] = {};
                const auto length = static_cast<std::uint32_t>(PutUtf8(utf8, c) - utf8);
                std::uint32_t packed = 0;
                std::memcpy(&packed, utf8, 3);
                table_[b0 << 8 | b1] = packed | length << 24 | taken << 28;
            }
            // A single byte is the same whatever follows it.
            if (!lead) std::fill_n(&table_[b0 << 8] + 1, 0xFF, table_[b0 << 8]);
        }
    }
    std::unique_ptr<std::uint32_t[]> table_;
};

// The fewest bytes AppendUtf8 converts through the table (which takes
// longer to build than a short line takes to convert through text).
constexpr std::size_t kTableLeast = 4096;

inline unsigned char* PutPacked(std::uint32_t packed, unsigned char* o) {
    std::memcpy(o, &packed, 4);  // the top byte is scratch
    return o + (packed >> 24 & 3);
}

#ifdef __SSE2__
// Of 64 bytes at p (and the byte after them): where the characters start,
// given carry (1 when byte 0 is the trail byte of a pair the bytes before
// started), and in carry whether a pair starts at byte 63.
inline std::uint64_t CharacterStarts(const unsigned char* p, std::uint64_t& carry, std::uint64_t& high) {
    const auto inRange = [](__m128i v, unsigned char first, unsigned char last) {
        const __m128i above = _mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(first))),
                                            _mm_set1_epi8(static_cast<char>(last - first)));
        return _mm_cmpeq_epi8(above, _mm_setzero_si128());
    };
    std::uint64_t lead = 0, trail = 0;
    high = 0;
    for (unsigned part = 0; part < 4; ++part) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part + 1));
        const auto bits = [part](__m128i m) {
            return std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(m))} << (16 * part);
        };
        high |= bits(v);
        lead |= bits(_mm_or_si128(inRange(v, 0x81, 0x9F), inRange(v, 0xE0, 0xFC)));
        // (0x7F trails no lead byte.)
        trail |= bits(_mm_or_si128(inRange(next, 0x40, 0x7E), inRange(next, 0x80, 0xFC)));
    }
    const std::uint64_t pairs = detail::PairStartBits(lead & trail & ~carry);
    const std::uint64_t starts = ~(pairs << 1) & ~carry;
    carry = pairs >> 63;
    return starts;
}
#endif

}  // namespace

std::size_t CodePageBridge::AppendUtf8(std::string& out, std::string_view bytes, bool final) {
    // Bytes too few to pay for building the table go through text.
    if (bytes.size() < kTableLeast) {
        std::u16string text;
        const std::size_t used = AppendText(text, bytes, final);
        AppendUtf16AsUtf8(out, text);
        return used;
    }
    const Utf8OfCharacters& utf8 = Utf8OfCharacters::Get();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const begin = p;
    const auto* const end = p + bytes.size();
    const auto* const stop = !final && p != end && cp932::IsLeadByte(end[-1]) ? end - 1 : end;
    // At most three bytes a byte (a single byte of katakana), one scratch.
    ChunkedOutput<char> output(out, 3 * bytes.size() + 1);
    while (p < stop) {
        const unsigned char* const chunkEnd = p + std::min<std::size_t>(stop - p, kChunkUnits);
        auto* o = reinterpret_cast<unsigned char*>(output.Room(3 * static_cast<std::size_t>(chunkEnd - p) + 1));
#ifdef __SSE2__
        // 64 bytes at a time: where their characters start is worked out at
        // once, so no character waits on the length of the one before it.
        std::uint64_t carry = 0;
        while (chunkEnd - p >= 64 && end - p > 64) {
            std::uint64_t high;
            const std::uint64_t carried = carry;
            std::uint64_t starts = CharacterStarts(p, carry, high);
            if (high == 0 && carried == 0) {
                std::memcpy(o, p, 64);  // ASCII is its own byte
                o += 64;
            } else {
                for (; starts != 0; starts &= starts - 1) {
                    const auto i = static_cast<unsigned>(std::countr_zero(starts));
                    o = PutPacked(utf8.At(p[i], p[i + 1]), o);
                }
            }
            p += 64;
        }
        p += carry;  // the trail byte of a pair written
#endif
        while (p < chunkEnd) {
            const std::uint32_t packed = utf8.At(p[0], p + 1 < end ? p[1] : 0);
            o = PutPacked(packed, o);
            p += packed >> 28;
        }
        output.Commit(reinterpret_cast<char*>(o));
    }
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

std::size_t CodePageBridge::AppendText(std::u16string& out, std::string_view bytes, bool final) {
    return AppendTextImpl<false>(out, bytes, final, nullptr);
}

std::size_t CodePageBridge::AppendText(std::u16string& out, std::string_view bytes, bool final,
                                       ByteLoss& loss) {
    return AppendTextImpl<true>(out, bytes, final, &loss);
}

}  // namespace tessaly

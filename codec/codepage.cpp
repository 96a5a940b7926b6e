// CodePageBridge over the code page 932 tables.
#include "codec/codepage.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "codec/chunked_output.h"
#include "codec/cp932.h"
#include "codec/exact_bytes.h"

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

}  // namespace

std::size_t CodePageBridge::AppendText(std::u16string& out, std::string_view bytes, bool final) {
    return AppendTextImpl<false>(out, bytes, final, nullptr);
}

std::size_t CodePageBridge::AppendText(std::u16string& out, std::string_view bytes, bool final,
                                       ByteLoss& loss) {
    return AppendTextImpl<true>(out, bytes, final, &loss);
}

}  // namespace tessaly

#include "codec/fidelity.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "codec/cp932.h"
#include "codec/exact_bytes.h"

namespace tessaly {

TextLoss FindTextLoss(std::u16string_view text) {
    TextLoss loss;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool pair = cp932::IsHighSurrogate(unit) && i + 1 < text.size() && cp932::IsLowSurrogate(text[i + 1]);
        const bool lost = pair || (!cp932::RoundTrips(unit) && !IsIntendedLookAlike(unit));
        if (lost) {
            if (loss.count++ == 0) {
                loss.first = i;
                loss.firstBecomes = pair ? u"?" : std::u16string(1, cp932::BytesToChar(cp932::UnitToBytes(unit)));
            }
        }
        if (pair) ++i;
    }
    return loss;
}

ByteLoss FindByteLoss(std::string_view bytes) {
    const cp932::ExactTable& exact = cp932::ExactTable::Get();
    ByteLoss loss;
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    const unsigned char* p = begin;
    while (p != end) {
#ifdef __SSE2__
        if (end - p >= 16 && _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0) {
            p += 16;  // ASCII is always exact
            continue;
        }
#endif
        const unsigned byte = *p;
        if (byte < 0x80) {
            ++p;
            continue;
        }
        std::size_t n = 1;
        bool same;
        if (cp932::IsLeadByte(static_cast<std::uint8_t>(byte)) && p + 1 != end &&
            cp932::PairToText(static_cast<std::uint8_t>(byte), p[1]) != 0) {
            n = 2;
            same = exact.Pair(byte, p[1]);
        } else {
            same = exact.Single(byte);
        }
        if (!same) {
            if (loss.count == 0) loss.first = static_cast<std::size_t>(p - begin);
            loss.count += n;
        }
        p += n;
    }
    return loss;
}

}  // namespace tessaly

#include "codec/fidelity.h"

#include <bitset>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "codec/cp932.h"

namespace tessaly {

bool IsIntendedLookAlike(char16_t unit) {
    return unit == u'\u2014' || unit == u'\u2016' || unit == u'\u2212' || unit == u'\u301C';
}

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

namespace {

// Whether each character as the reader splits the bytes comes back as the
// same bytes: one bit per byte pair (a lead byte and the byte after it) and
// per single byte. Built on first use from the code page tables.
class ExactTable {
public:
    static const ExactTable& Get() {
        static const ExactTable table;
        return table;
    }
    bool Single(unsigned byte) const { return single_[byte]; }
    bool Pair(unsigned lead, unsigned trail) const { return pair_[lead << 8 | trail]; }

private:
    ExactTable() {
        for (unsigned b1 = 0; b1 < 256; ++b1) {
            const unsigned char one[1] = {static_cast<unsigned char>(b1)};
            single_[b1] = Exact(one, 1);
            for (unsigned b2 = 0; b2 < 256; ++b2) {
                const unsigned char two[2] = {static_cast<unsigned char>(b1), static_cast<unsigned char>(b2)};
                pair_[b1 << 8 | b2] = Exact(two, 2);
            }
        }
    }
    // Whether the first character of the n bytes at p writes back its bytes.
    static bool Exact(const unsigned char* p, std::size_t n) {
        char16_t c;
        const unsigned char* const next = cp932::ConvertCharacter(p, p + n, &c);
        if (static_cast<std::size_t>(next - p) != n) return true;  // not one pair: see Single
        unsigned char back[2];
        const unsigned char* const backEnd = cp932::PutBytes(cp932::UnitToBytes(c), back);
        return static_cast<std::size_t>(backEnd - back) == n && back[0] == p[0] && (n == 1 || back[1] == p[1]);
    }
    std::bitset<256> single_;
    std::bitset<0x10000> pair_;
};

}  // namespace

ByteLoss FindByteLoss(std::string_view bytes) {
    const ExactTable& exact = ExactTable::Get();
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

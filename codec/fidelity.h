// What a trip through code page 932 does not give back: characters of a text
// that its bytes cannot hold, and bytes that the text read from them will
// not write back as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/cp932.h"

namespace tessaly {

// The four characters that Linux input methods type for their Windows twins
// (U+2014, U+2016, U+2212, U+301C). They are written with the twins' bytes on
// purpose, so they are not a loss.
bool IsIntendedLookAlike(char16_t unit);

// Whether code page 932 loses the unit: it does not come back from its
// bytes and is not one of the intended look-alikes (FindTextLoss's test of
// one unit). One bit per unit, built on first use.
class Cp932LossTable {
public:
    static const Cp932LossTable& Get() {
        static const Cp932LossTable table;
        return table;
    }
    bool Lost(char16_t unit) const { return bits_[unit >> 6] >> (unit & 63) & 1; }

private:
    Cp932LossTable() {
        for (unsigned u = 0; u < 0x10000; ++u) {
            const auto unit = static_cast<char16_t>(u);
            if (!cp932::RoundTrips(unit) && !IsIntendedLookAlike(unit)) bits_[u >> 6] |= std::uint64_t{1} << (u & 63);
        }
    }
    std::uint64_t bits_[0x10000 / 64] = {};
};

struct TextLoss {
    static constexpr std::size_t npos = std::u16string_view::npos;
    std::uint64_t count = 0;      // characters (a surrogate pair is one)
    std::size_t first = npos;     // index of the first one's first unit
    std::u16string firstBecomes;  // what it comes back as ("?" or a look-alike)
};

// The characters of text that do not come back unchanged from its bytes.
TextLoss FindTextLoss(std::u16string_view text);

struct ByteLoss {
    static constexpr std::size_t npos = std::string_view::npos;
    std::uint64_t count = 0;   // bytes
    std::size_t first = npos;  // offset of the first one
};

// The bytes that do not come back unchanged from the text they are read as:
// each character as the reader splits them (a lead byte and its trail byte,
// or one byte), counted with all its bytes when its text writes back others.
ByteLoss FindByteLoss(std::string_view bytes);

}  // namespace tessaly

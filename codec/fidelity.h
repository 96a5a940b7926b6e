// What a trip through code page 932 does not give back: characters of a text
// that its bytes cannot hold, and bytes that the text read from them will
// not write back as they were.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/cp932.h"

namespace tessaly {

// The four characters that Linux input methods type for their Windows twins
// (U+2014, U+2016, U+2212, U+301C). They are written with the twins' bytes on
// purpose, so they are not a loss.
constexpr bool IsIntendedLookAlike(char16_t unit) {
    return unit == u'\u2014' || unit == u'\u2016' || unit == u'\u2212' || unit == u'\u301C';
}

namespace detail {
// Worked out with the code page tables at compile time: the bits of
// Cp932LossTable, and the code-page bytes of every unit it does not lose
// (as UnitToBytes gives them), 0 for the units it loses.
extern const std::array<std::uint64_t, 0x10000 / 64> kCp932LostBits;
extern const std::array<std::uint16_t, 0x10000> kCp932WritableBytes;
}  // namespace detail

// Whether code page 932 loses the unit: it does not come back from its
// bytes and is not one of the intended look-alikes (FindTextLoss's test of
// one unit). One bit per unit, worked out at compile time.
class Cp932LossTable {
public:
    static const Cp932LossTable& Get() {
        static constexpr Cp932LossTable table;
        return table;
    }
    bool Lost(char16_t unit) const { return detail::kCp932LostBits[unit >> 6] >> (unit & 63) & 1; }
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

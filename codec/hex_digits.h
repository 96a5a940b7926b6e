// The values of hexadecimal digits (either case) as table lookups.
#pragma once

#include <array>
#include <cstdint>

namespace tessaly::detail {

// What a hexadecimal digit adds to the byte in the high or the low place;
// 0x100 marks a character that is no digit.
constexpr std::array<std::uint16_t, 256> MakeDigitValues(unsigned shift) {
    std::array<std::uint16_t, 256> values{};
    for (auto& v : values) v = 0x100;
    for (unsigned i = 0; i < 10; ++i) values['0' + i] = static_cast<std::uint16_t>(i << shift);
    for (unsigned i = 0; i < 6; ++i) {
        values['A' + i] = static_cast<std::uint16_t>((10 + i) << shift);
        values['a' + i] = static_cast<std::uint16_t>((10 + i) << shift);
    }
    return values;
}
inline constexpr std::array<std::uint16_t, 256> kHighDigits = MakeDigitValues(4);
inline constexpr std::array<std::uint16_t, 256> kLowDigits = MakeDigitValues(0);

}  // namespace tessaly::detail

// Pairing in a bit mask, one bit per byte: used where a byte that may lead
// takes the byte after it, whatever that is.
#pragma once

#include <cstdint>

namespace tessaly::detail {

// The bits of may where pairs start, when bit 0 starts a character: in each
// run of set bits, the first and every second one after it (at the even bits
// of runs that start on an even bit, at the odd bits of the others). Adding a
// run's first bit clears the run.
constexpr std::uint64_t PairStartBits(std::uint64_t may) {
    constexpr std::uint64_t kEven = 0x5555555555555555ULL;
    const std::uint64_t runStarts = may & ~(may << 1);
    const std::uint64_t evenRuns = may & ~(may + (runStarts & kEven));
    return (evenRuns & kEven) | (may & ~evenRuns & ~kEven);
}

}  // namespace tessaly::detail

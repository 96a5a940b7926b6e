// Advice for buffers of many megabytes that are about to be written.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tessaly {

// A result of many megabytes is written into fresh memory, and faulting it
// in 4 KiB at a time can cost more than computing it. Large pages cut the
// faults by 512 where the system offers them on request; elsewhere, and for
// smaller buffers, this does nothing.
inline void AskForLargePages([[maybe_unused]] void* start, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    if (bytes < 2 * kLargePage) return;
    const auto first = (reinterpret_cast<std::uintptr_t>(start) + kLargePage - 1) & ~(kLargePage - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(kLargePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace tessaly

// Writing a long result into a string through raw pointers, chunk by chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tessaly::detail {

// Input units converted per chunk.
inline constexpr std::size_t kChunkUnits = 2048;

// The string is reserved once; before each chunk it is grown by the most that
// chunk can produce, so resize()'s zero fill lands in cache just before the
// real output overwrites it, rather than in a separate pass over memory.
template <class Char>
class ChunkedOutput {
public:
    ChunkedOutput(std::basic_string<Char>& out, std::size_t capacity)
        : out_(out), used_(out.size()) {
        out.reserve(used_ + capacity);
        AskForLargePages(out.data() + used_, capacity * sizeof(Char));
    }
    ChunkedOutput(const ChunkedOutput&) = delete;
    ChunkedOutput& operator=(const ChunkedOutput&) = delete;

    // Room for up to units more; returns where they go.
    Char* Room(std::size_t units) {
        out_.resize(used_ + units);
        return out_.data() + used_;
    }
    // Records where the written part ends.
    void Commit(const Char* end) { used_ = static_cast<std::size_t>(end - out_.data()); }
    // Cuts the string to what was committed.
    void Finish() { out_.resize(used_); }

private:
    // A result of many megabytes is written into fresh memory, and faulting
    // it in 4 KiB at a time costs more than the conversion itself. Large
    // pages cut the faults by 512 where the system offers them on request.
    static void AskForLargePages([[maybe_unused]] void* start, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
        if (bytes < 2 * kLargePage) return;
        const auto first = (reinterpret_cast<std::uintptr_t>(start) + kLargePage - 1) & ~(kLargePage - 1);
        const auto last = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(kLargePage - 1);
        if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
    }

    std::basic_string<Char>& out_;
    std::size_t used_;
};

}  // namespace tessaly::detail

// Writing a long result into a string through raw pointers, chunk by chunk.
#pragma once

#include <cstddef>
#include <string>

#include "codec/large_pages.h"

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
    std::basic_string<Char>& out_;
    std::size_t used_;
};

}  // namespace tessaly::detail

// Which encoding a line of escapes was written in, judged by what decoding
// it in each gives.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "codec/url.h"

namespace tessaly {

// One line decoded in one encoding, and how many of its bytes did not form
// characters there.
struct LineReading {
    std::u16string_view text;
    std::uint64_t invalid = 0;
};

// The encoding whose reading is the most plausible Japanese: fewest invalid
// bytes first, then the likeliest characters. preferred wins ties.
Charset ChooseCharset(const std::array<LineReading, kCharsetCount>& readings, Charset preferred);

}  // namespace tessaly

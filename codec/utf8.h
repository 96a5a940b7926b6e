// UTF-8 <-> UTF-16, whole texts or a piece at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly {

struct Utf8Read {
    static constexpr std::size_t npos = std::string_view::npos;
    std::size_t consumed = 0;      // bytes converted
    std::uint64_t invalid = 0;     // U+FFFD written for invalid input
    std::size_t firstInvalid = npos;  // offset of the first invalid sequence
};

// Appends the UTF-16 of bytes to out. Each maximal invalid subsequence (a
// stray byte, a truncated, overlong or surrogate sequence, a value above
// U+10FFFF) becomes one U+FFFD. With final false, a sequence that is valid
// so far but cut off by the end of bytes is left unconverted (not counted
// in consumed): it is completed by what comes next.
Utf8Read AppendUtf8AsUtf16(std::u16string& out, std::string_view bytes, bool final = true);

// Appends the UTF-8 of text to out; an unpaired surrogate becomes U+FFFD.
// With final false, a high surrogate that ends text is left unconverted.
// Returns the units converted.
std::size_t AppendUtf16AsUtf8(std::string& out, std::u16string_view text, bool final = true);

std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace tessaly

// UTF-8 <-> UTF-16 for the command line's --utf8 mode.
#pragma once

#include <string>
#include <string_view>

namespace tessaly::cli {

// Each maximal invalid subsequence (a stray byte, a truncated, overlong or
// surrogate sequence, a value above U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view bytes);

// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace tessaly::cli

// Conversion between UTF-16 text and code page 932 (Shift-JIS) bytes.
#pragma once

#include <string>
#include <string_view>

namespace tessaly {

struct CodePageBridge {
    // Text to bytes. Characters the code page lacks become '?'; a surrogate
    // pair becomes a single '?'.
    static std::string ToBytes(std::u16string_view text);
    static void AppendBytes(std::string& out, std::u16string_view text);

    // Bytes to text. A lead byte without a valid trail byte becomes U+30FB and
    // the following byte is converted on its own.
    static std::u16string ToText(std::string_view bytes);
    static void AppendText(std::u16string& out, std::string_view bytes);
};

}  // namespace tessaly

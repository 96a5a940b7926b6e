// Conversion between UTF-16 text and code page 932 (Shift-JIS) bytes.
#pragma once

#include <string>
#include <string_view>

#include "codec/fidelity.h"

namespace tessaly {

struct CodePageBridge {
    // Text to bytes. Characters the code page lacks become '?'; a surrogate
    // pair becomes a single '?'.
    static std::string ToBytes(std::u16string_view text);
    // With final false, a high surrogate that ends text is left unconverted
    // (its low half may follow). Returns the units converted.
    static std::size_t AppendBytes(std::string& out, std::u16string_view text, bool final = true);

    // Bytes to text. A lead byte without a valid trail byte becomes U+30FB and
    // the following byte is converted on its own.
    static std::u16string ToText(std::string_view bytes);
    // With final false, a lead byte that ends bytes is left unconverted (its
    // trail byte may follow). Returns the bytes converted.
    static std::size_t AppendText(std::u16string& out, std::string_view bytes, bool final = true);
    // The same, also counting into loss what FindByteLoss counts (offsets
    // within bytes; loss is added to, not reset).
    static std::size_t AppendText(std::u16string& out, std::string_view bytes, bool final,
                                  ByteLoss& loss);
    // Bytes to the UTF-8 of their text: what AppendText gives, as UTF-8,
    // without the text in between.
    static std::size_t AppendUtf8(std::string& out, std::string_view bytes, bool final = true);
};

}  // namespace tessaly

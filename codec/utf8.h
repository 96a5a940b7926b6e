// UTF-8 <-> UTF-16, whole texts or a piece at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly {

// One UTF-8 sequence as the Encoding Standard's decoder reads it.
struct Utf8Step {
    char32_t c;       // the code point, or U+FFFD when invalid
    unsigned length;  // bytes taken: the sequence, or the maximal invalid subsequence
    bool valid;
    bool cut;  // invalid only for reaching end: more bytes may complete it
};

// Reads the sequence that starts at p (p < end). The allowed range of the
// second byte rules out overlong forms, surrogates and values above
// U+10FFFF; each maximal invalid subsequence is one U+FFFD.
inline Utf8Step ReadUtf8(const unsigned char* p, const unsigned char* end) {
    const unsigned lead = *p;
    if (lead < 0x80) return {lead, 1, true, false};
    unsigned more;
    char32_t c;
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        c = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        c = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {0xFFFD, 1, false, false};
    }
    for (unsigned i = 1; i <= more; ++i) {
        if (p + i == end) return {0xFFFD, i, false, true};
        const unsigned b = p[i];
        if (b < low || b > high) return {0xFFFD, i, false, false};
        c = c << 6 | (b & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return {c, more + 1, true, false};
}

// Writes the UTF-8 bytes of c at out; returns the new end.
inline char* PutUtf8(char* out, char32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

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

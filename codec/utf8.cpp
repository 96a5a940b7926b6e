#include "codec/utf8.h"

#include "codec/chunked_output.h"

namespace tessaly {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

char16_t* PutUtf16(char16_t* out, char32_t c) {
    if (c < 0x10000) {
        *out++ = static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 + (c >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
    return out;
}

char* PutUtf8(char* out, char32_t c) {
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

}  // namespace

Utf8Read AppendUtf8AsUtf16(std::u16string& out, std::string_view bytes, bool final) {
    Utf8Read read;
    detail::ChunkedOutput<char16_t> output(out, bytes.size());  // at most one unit per byte
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* p = begin;
    const auto* const end = p + bytes.size();
    char16_t* o = output.Room(bytes.size());
    while (p != end) {
        const unsigned char* const start = p;
        const unsigned char lead = *p++;
        if (lead < 0x80) {
            *o++ = lead;
            continue;
        }
        int more;
        char32_t c;
        // The allowed range of the second byte rules out overlong forms,
        // surrogates and values above U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
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
            more = -1;
            c = kReplacement;
        }
        bool valid = more >= 0;
        for (int i = 0; i < more; ++i) {
            if (p == end && !final) {  // cut off: the rest is still to come
                output.Commit(o);
                output.Finish();
                read.consumed = static_cast<std::size_t>(start - begin);
                return read;
            }
            if (p == end || *p < low || *p > high) {
                valid = false;  // the bytes so far form one invalid subsequence
                break;
            }
            c = c << 6 | (*p++ & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        if (!valid) {
            if (read.invalid++ == 0) read.firstInvalid = static_cast<std::size_t>(start - begin);
        }
        o = PutUtf16(o, valid ? c : kReplacement);
    }
    output.Commit(o);
    output.Finish();
    read.consumed = bytes.size();
    return read;
}

std::size_t AppendUtf16AsUtf8(std::string& out, std::u16string_view text, bool final) {
    detail::ChunkedOutput<char> output(out, 3 * text.size());
    char* o = output.Room(3 * text.size());
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char16_t unit = text[i];
        char32_t c = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 == text.size() && !final) break;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            c = kReplacement;
        }
        o = PutUtf8(o, c);
    }
    output.Commit(o);
    output.Finish();
    return i;
}

std::u16string Utf8ToUtf16(std::string_view bytes) {
    std::u16string out;
    AppendUtf8AsUtf16(out, bytes);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    AppendUtf16AsUtf8(out, text);
    return out;
}

}  // namespace tessaly

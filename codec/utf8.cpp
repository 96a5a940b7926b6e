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

}  // namespace

Utf8Read AppendUtf8AsUtf16(std::u16string& out, std::string_view bytes, bool final) {
    Utf8Read read;
    detail::ChunkedOutput<char16_t> output(out, bytes.size());  // at most one unit per byte
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* p = begin;
    const auto* const end = p + bytes.size();
    char16_t* o = output.Room(bytes.size());
    while (p != end) {
        if (*p < 0x80) {
            *o++ = *p++;
            continue;
        }
        const Utf8Step step = ReadUtf8(p, end);
        if (step.cut && !final) break;  // the rest is still to come
        if (!step.valid && read.invalid++ == 0) read.firstInvalid = static_cast<std::size_t>(p - begin);
        p += step.length;
        o = PutUtf16(o, step.c);
    }
    output.Commit(o);
    output.Finish();
    read.consumed = static_cast<std::size_t>(p - begin);
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

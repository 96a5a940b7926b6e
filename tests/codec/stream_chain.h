// The command line's chain of conversions, fed one piece at a time, next to
// the same chain on the whole input: what the two give must be the same.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "codec/codepage.h"
#include "codec/percent.h"
#include "codec/utf8.h"

namespace tessaly::test {

struct ChainOptions {
    bool decode = false;
    bool ampCrLf = false;
    bool utf8 = false;
};

inline std::string WholeChain(std::string_view input, ChainOptions o) {
    const std::u16string text = o.utf8 ? Utf8ToUtf16(input) : CodePageBridge::ToText(input);
    const std::u16string result = o.decode ? Decode(text, o.ampCrLf) : Encode(text, o.ampCrLf);
    return o.utf8 ? Utf16ToUtf8(result) : CodePageBridge::ToBytes(result);
}

// cuts: increasing offsets into input where a read ends.
inline std::string PieceChain(std::string_view input, const std::vector<std::size_t>& cuts,
                              ChainOptions o) {
    std::string bytes, out;
    std::u16string text, converted;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const bool final = i == cuts.size();
        const std::size_t to = final ? input.size() : cuts[i];
        bytes.append(input.substr(from, to - from));
        from = to;
        const std::size_t read = o.utf8 ? AppendUtf8AsUtf16(text, bytes, final).consumed
                                        : CodePageBridge::AppendText(text, bytes, final);
        bytes.erase(0, read);
        const std::size_t used = o.decode ? DecodeAppend(converted, text, o.ampCrLf, final)
                                          : EncodeAppend(converted, text, o.ampCrLf, final);
        text.erase(0, used);
        const std::size_t written = o.utf8 ? AppendUtf16AsUtf8(out, converted, final)
                                           : CodePageBridge::AppendBytes(out, converted, final);
        converted.erase(0, written);
    }
    return out;
}

// The chain tessaly-cli runs for code page 932: encode straight from bytes
// to bytes; decode pieces of bytes below 0x80 straight to bytes when nothing
// is held as text, else through text, handing undecided ASCII text back to
// the bytes.
inline std::string ByteRouteChain(std::string_view input, const std::vector<std::size_t>& cuts,
                                  ChainOptions o) {
    std::string bytes, out;
    std::u16string text, converted;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const bool final = i == cuts.size();
        const std::size_t to = final ? input.size() : cuts[i];
        bytes.append(input.substr(from, to - from));
        from = to;
        if (!o.decode) {
            bytes.erase(0, EncodeBytesAppend(out, bytes, o.ampCrLf, final));
            continue;
        }
        const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0; });
        if (text.empty() && converted.empty() && ascii) {
            bytes.erase(0, DecodeAsciiToBytesAppend(out, bytes, o.ampCrLf, final));
            continue;
        }
        bytes.erase(0, CodePageBridge::AppendText(text, bytes, final));
        text.erase(0, DecodeAppend(converted, text, o.ampCrLf, final));
        converted.erase(0, CodePageBridge::AppendBytes(out, converted, final));
        if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
            bytes.insert(0, std::string(text.begin(), text.end()));
            text.clear();
        }
    }
    return out;
}

}  // namespace tessaly::test

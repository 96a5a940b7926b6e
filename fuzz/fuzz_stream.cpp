// The command line's chain fed in pieces gives what the whole input gives,
// and so do EncodeUrlAppend and DecodeUrlAppend on the input as text.
// Byte 0 chooses the command, the option and the encoding, with bit 3 reads
// the input as a recipe for text-like bytes (see TextLikeBytes), and its
// high half with byte 1's chooses the URL conversions' encoding, set, "+"
// and detection; byte 1's low half says how many cuts follow, two bytes each
// (an offset modulo the input's size); the rest is the input.
#include <algorithm>
#include <vector>

#include "codec/codepage.h"
#include "codec/url.h"
#include "codec/utf8.h"
#include "fuzz/fuzz_support.h"
#include "tests/codec/stream_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const tessaly::test::ChainOptions o{(data[0] & 1) != 0, (data[0] & 2) != 0, (data[0] & 4) != 0};
    const unsigned data0 = data[0];
    std::size_t cutCount = data[1] % 16;
    const unsigned urlBits = (data[0] >> 4) | (data[1] >> 4) << 4;
    data += 2, size -= 2;
    cutCount = std::min(cutCount, size / 2);
    std::vector<std::size_t> raw;
    for (std::size_t i = 0; i < cutCount; ++i) raw.push_back(data[2 * i] | data[2 * i + 1] << 8);
    data += 2 * cutCount, size -= 2 * cutCount;
    const bool textLike = (data0 & 8) != 0;
    const std::string made = textLike ? tessaly::fuzz::TextLikeBytes(data, size) : std::string();
    const std::string_view input = textLike ? std::string_view(made) : tessaly::fuzz::AsBytes(data, size);
    std::vector<std::size_t> cuts;
    for (const std::size_t c : raw) cuts.push_back(c % (input.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    const std::string whole = tessaly::test::WholeChain(input, o);
    FUZZ_CHECK(tessaly::test::PieceChain(input, cuts, o) == whole);
    if (!o.utf8) FUZZ_CHECK(tessaly::test::ByteRouteChain(input, cuts, o) == whole);

    // The URL conversions on the input as UTF-16 units, cut at the same
    // places (halved).
    const std::u16string text = tessaly::fuzz::AsText(data, size);
    const unsigned bits = urlBits;
    const auto charset = static_cast<tessaly::Charset>(bits % 3);
    const tessaly::EncodeOptions e{charset, static_cast<tessaly::EscapeSet>(bits / 3 % 3), o.ampCrLf};
    const tessaly::DecodeOptions d{charset, (bits & 8) != 0, (bits & 16) != 0, o.ampCrLf};
    std::u16string out, held;
    std::uint64_t count = 0;
    for (std::size_t i = 0, from = 0; i <= cuts.size(); ++i) {
        const bool final = i == cuts.size();
        const std::size_t to = final ? text.size() : std::min(text.size(), cuts[i] / 2);
        if (to < from) continue;
        held.append(text, from, to - from);
        from = to;
        if (o.decode) {
            tessaly::DecodeReport report;
            held.erase(0, tessaly::DecodeUrlAppend(out, held, d, final, &report));
            count += report.invalid;
        } else {
            tessaly::EncodeReport report;
            held.erase(0, tessaly::EncodeUrlAppend(out, held, e, final, &report));
            count += report.lost;
        }
    }
    // The byte routes (UTF-8 and EUC-JP escapes in one encoding, detection
    // from ASCII) on the input bytes cut at the same places: the text
    // route's output.
    // With detection, the input's bytes made ASCII.
    const bool detect = o.decode && d.detect;
    std::string ascii(input);
    for (char& b : ascii) b = static_cast<char>(b & 0x7F);
    if (charset != tessaly::Charset::kShiftJis || detect) {
        const std::string_view source = detect ? std::string_view(ascii) : input;
        const auto side = o.utf8 ? tessaly::TextBytes::kUtf8 : tessaly::TextBytes::kCp932;
        std::string bytesOut, bytesHeld;
        for (std::size_t i = 0, from = 0; i <= cuts.size(); ++i) {
            const bool final = i == cuts.size();
            const std::size_t to = final ? source.size() : cuts[i];
            bytesHeld.append(source.substr(from, to - from));
            from = to;
            bytesHeld.erase(0, detect     ? tessaly::DecodeUrlDetectingAsciiAppend(bytesOut, bytesHeld, side, d, final)
                               : o.decode ? tessaly::DecodeUrlBytesAppend(bytesOut, bytesHeld, side, d, final)
                                          : tessaly::EncodeUrlBytesAppend(bytesOut, bytesHeld, side, e, final));
        }
        const std::u16string read =
            o.utf8 ? tessaly::Utf8ToUtf16(source) : tessaly::CodePageBridge::ToText(source);
        const std::u16string converted = o.decode ? tessaly::DecodeUrl(read, d) : tessaly::EncodeUrl(read, e);
        FUZZ_CHECK(bytesOut == (o.utf8 ? tessaly::Utf16ToUtf8(converted) : tessaly::CodePageBridge::ToBytes(converted)));
    }
    if (o.decode) {
        tessaly::DecodeReport report;
        FUZZ_CHECK(out == tessaly::DecodeUrl(text, d, &report));
        FUZZ_CHECK(count == report.invalid);
    } else {
        tessaly::EncodeReport report;
        FUZZ_CHECK(out == tessaly::EncodeUrl(text, e, &report));
        FUZZ_CHECK(count == report.lost);
    }
    return 0;
}

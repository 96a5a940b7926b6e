// EUC-JP both ways. Byte 0: bit 0 picks the direction, the rest where the
// input is cut in two (a percentage of its size).
//  - bytes -> text: at most one unit per byte, the two pieces give what the
//    whole gives, and the text is stable after one trip through bytes;
//  - text -> bytes: the two pieces give what the whole gives, and a text
//    with nothing lost and no character the encoder writes as another
//    (U+00A5, U+203E, U+2212) comes back unchanged with nothing invalid.
#include "codec/eucjp.h"
#include "fuzz/fuzz_support.h"

namespace eucjp = tessaly::eucjp;

namespace {

std::u16string Trip(const std::u16string& text) {
    std::string bytes;
    eucjp::AppendBytes(bytes, text);
    std::u16string back;
    eucjp::AppendText(back, bytes);
    return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool fromBytes = data[0] & 1;
    const unsigned cutPercent = (data[0] >> 1) % 101;
    ++data, --size;
    if (fromBytes) {
        const std::string_view bytes = tessaly::fuzz::AsBytes(data, size);
        std::u16string whole;
        const eucjp::Read all = eucjp::AppendText(whole, bytes);
        FUZZ_CHECK(whole.size() <= bytes.size() && all.consumed == bytes.size());
        FUZZ_CHECK((all.invalid == 0) == (all.firstInvalid == eucjp::Read::npos));
        const std::size_t cut = bytes.size() * cutPercent / 100;
        std::u16string pieces;
        const eucjp::Read first = eucjp::AppendText(pieces, bytes.substr(0, cut), false);
        const eucjp::Read second = eucjp::AppendText(pieces, bytes.substr(first.consumed), true);
        FUZZ_CHECK(pieces == whole && first.invalid + second.invalid == all.invalid);
        const std::u16string once = Trip(whole);
        FUZZ_CHECK(Trip(once) == once);
    } else {
        const std::u16string text = tessaly::fuzz::AsText(data, size);
        std::string whole;
        const eucjp::Write all = eucjp::AppendBytes(whole, text);
        FUZZ_CHECK(all.consumed == text.size());
        const std::size_t cut = text.size() * cutPercent / 100;
        std::string pieces;
        const eucjp::Write first = eucjp::AppendBytes(pieces, std::u16string_view(text).substr(0, cut), false);
        const eucjp::Write second = eucjp::AppendBytes(pieces, std::u16string_view(text).substr(first.consumed));
        FUZZ_CHECK(pieces == whole && first.lost + second.lost == all.lost);
        bool writtenAsAnother = false;
        for (const char16_t c : text) writtenAsAnother = writtenAsAnother || c == 0xA5 || c == 0x203E || c == 0x2212;
        if (all.lost == 0 && !writtenAsAnother) {
            std::u16string back;
            FUZZ_CHECK(eucjp::AppendText(back, whole).invalid == 0 && back == text);
        }
    }
    return 0;
}

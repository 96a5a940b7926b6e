// DecodeUrl with the options from the first byte: the same properties,
// "+" reading as a space; the default options give Decode; code page 932's
// count of invalid bytes walks the units Decode converts, whole or not, and
// the byte route's own count of them, taken while it writes, is the walk's.
//
// Long text through the text route gives what short pieces of it give.
//
// Decode on any text: it ends, grows only by "&" becoming CR LF, leaves a
// text without escapes (and without "&" when the option is on) alone, and
// never touches what lies before the first "%" or "&".
#include <algorithm>

#include "codec/codepage.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/url_internal.h"
#include "codec/utf8.h"
#include "fuzz/fuzz_support.h"

namespace {

// Code page 932 bytes below 0x80 decoded straight to bytes, counting those
// that do not read back: as the separate walk counts them, the output as
// without the count.
void CheckCountedDecode(std::string_view ascii, bool option) {
    for (const bool final : {false, true}) {
        tessaly::detail::Invalid walk;
        const std::size_t walked = tessaly::detail::CountCp932Invalid(ascii, option, final, walk);
        std::string plain, counted;
        tessaly::ByteLoss loss;
        const std::size_t used = tessaly::DecodeAsciiToBytesAppend(counted, ascii, option, final, loss);
        FUZZ_CHECK(used == tessaly::DecodeAsciiToBytesAppend(plain, ascii, option, final) && used == walked);
        FUZZ_CHECK(counted == plain && loss.count == walk.count && loss.first == walk.first);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool option = data[0] & 1;
    const std::uint8_t first = data[0];
    ++data, --size;
    const std::u16string text = tessaly::fuzz::AsText(data, size);
    const std::u16string decoded = tessaly::Decode(text, option);

    const std::size_t special = text.find_first_of(option ? u"%&" : u"%");
    if (special == std::u16string::npos) {
        FUZZ_CHECK(decoded == text);
    } else {
        FUZZ_CHECK(decoded.compare(0, special, text, 0, special) == 0);
    }
    FUZZ_CHECK(decoded.size() <= (option ? 2 * text.size() : text.size()));

    const tessaly::DecodeOptions url{static_cast<tessaly::Charset>((first >> 1) % 3), (first & 8) != 0,
                                     (first & 16) != 0, option};
    tessaly::DecodeReport report;
    const std::u16string urlDecoded = tessaly::DecodeUrl(text, url, &report);
    const std::size_t urlSpecial = text.find_first_of(option ? (url.plusAsSpace ? u"%&+" : u"%&")
                                                               : (url.plusAsSpace ? u"%+" : u"%"));
    if (urlSpecial == std::u16string::npos) FUZZ_CHECK(urlDecoded == text);
    FUZZ_CHECK(urlDecoded.size() <= (option ? 2 * text.size() : text.size()));
    if (url.charset == tessaly::Charset::kShiftJis && !url.detect && !url.plusAsSpace) FUZZ_CHECK(urlDecoded == decoded);
    FUZZ_CHECK((report.invalid == 0) == (report.firstInvalid == tessaly::DecodeReport::npos));
    for (const bool final : {false, true}) {
        std::u16string scratch;
        tessaly::detail::Invalid invalid;
        FUZZ_CHECK(tessaly::detail::CountCp932Invalid(text, option, final, invalid) ==
                   tessaly::DecodeAppend(scratch, text, option, final));
    }

    // The input bytes decoded as they are: as the units of their values, and
    // (those below 0x80) straight to code page 932 bytes and on to UTF-8.
    const std::string_view bytes = tessaly::fuzz::AsBytes(data, size);
    std::u16string widened(bytes.begin(), bytes.end());
    for (char16_t& c : widened) c &= 0xFF;
    std::u16string latin1;
    tessaly::DecodeLatin1Append(latin1, bytes, option, true);
    FUZZ_CHECK(latin1 == tessaly::Decode(widened, option));
    std::string ascii(bytes);
    for (char& c : ascii) c &= 0x7F;
    std::string out;
    tessaly::DecodeAsciiToBytesAppend(out, ascii, option, true);
    const std::u16string asciiDecoded = tessaly::Decode(tessaly::CodePageBridge::ToText(ascii), option);
    FUZZ_CHECK(out == tessaly::CodePageBridge::ToBytes(asciiDecoded));
    // Those bytes as UTF-8 are the decoded text's UTF-8 (as decode --utf8
    // writes it), and so are the input bytes' own.
    std::string asUtf8;
    tessaly::CodePageBridge::AppendUtf8(asUtf8, out);
    FUZZ_CHECK(asUtf8 == tessaly::Utf16ToUtf8(asciiDecoded));
    asUtf8.clear();
    tessaly::CodePageBridge::AppendUtf8(asUtf8, bytes);
    FUZZ_CHECK(asUtf8 == tessaly::Utf16ToUtf8(tessaly::CodePageBridge::ToText(bytes)));
    CheckCountedDecode(ascii, option);

    // Escapes as the encoder writes them, of text-like bytes made from the
    // input: long runs of escape units and ASCII.
    std::string encoded;
    tessaly::EncodeBytesAppend(encoded, tessaly::fuzz::TextLikeBytes(data, size), option, true);
    if (std::all_of(encoded.begin(), encoded.end(), [](char c) { return c >= 0; })) {
        out.clear();
        tessaly::DecodeAsciiToBytesAppend(out, encoded, option, true);
        FUZZ_CHECK(out == tessaly::CodePageBridge::ToBytes(
                              tessaly::Decode(tessaly::CodePageBridge::ToText(encoded), option)));
        CheckCountedDecode(encoded, option);
    }

    // The same text-like bytes as UTF-8 and EUC-JP escapes, with one of the
    // input's own bytes cut in every so often: decoded by the byte route
    // (64 units at a time where the processor can) into code page 932 and
    // UTF-8, as the text route decodes them.
    // (The encoding and side from bits 5 and 6 of the first byte, the
    // spacing of the cut-in bytes from bit 7.)
    const auto charset = (first & 32) != 0 ? tessaly::Charset::kUtf8 : tessaly::Charset::kEucJp;
    const bool utf8 = (first & 64) != 0;
    const std::size_t every = (first & 128) != 0 ? 24 : 400;
    std::string escapes, spliced;
    tessaly::EncodeUrlBytesAppend(escapes, tessaly::fuzz::TextLikeBytes(data, size), tessaly::TextBytes::kCp932,
                                  {charset}, true);
    for (std::size_t i = 0; i < escapes.size(); ++i) {
        spliced += escapes[i];
        if (i % every == every - 1) spliced += static_cast<char>(data[i / every % size]);
    }
    const tessaly::DecodeOptions plain{charset};
    std::string bytesOut;
    tessaly::DecodeUrlBytesAppend(bytesOut, spliced, utf8 ? tessaly::TextBytes::kUtf8 : tessaly::TextBytes::kCp932,
                                  plain, true);
    const std::u16string read = utf8 ? tessaly::Utf8ToUtf16(spliced) : tessaly::CodePageBridge::ToText(spliced);
    const std::u16string decodedUrl = tessaly::DecodeUrl(read, plain);
    FUZZ_CHECK(bytesOut == (utf8 ? tessaly::Utf16ToUtf8(decodedUrl) : tessaly::CodePageBridge::ToBytes(decodedUrl)));

    // The text route takes long text 64 units at a time where the processor
    // can, and pieces too short for that the usual way: both give the same,
    // with "+" as a space (bit 3) too.
    tessaly::DecodeOptions withPlus = plain;
    withPlus.plusAsSpace = (first & 8) != 0;
    tessaly::DecodeReport wholeReport, piecesReport;
    const std::u16string whole = tessaly::DecodeUrl(read, withPlus, &wholeReport);
    std::u16string inPieces, held;
    for (std::size_t at = 0; at < read.size();) {
        const std::size_t to = std::min(read.size(), at + 1 + data[at % size] * 3);
        held += read.substr(at, to - at);
        at = to;
        held.erase(0, tessaly::DecodeUrlAppend(inPieces, held, withPlus, at == read.size(), &piecesReport));
    }
    FUZZ_CHECK(inPieces == whole && piecesReport.invalid == wholeReport.invalid);
    return 0;
}

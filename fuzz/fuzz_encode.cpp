// EncodeUrl, with the encoding and set from the first byte: its output
// holds only the set's characters, "%XX" and "&" (and "+" in the form
// set); with the default options it is Encode; in UTF-8 with the component
// or form set, DecodeUrl gives back any text without lone surrogates; from
// code page 932 bytes straight, and from UTF-8 text, what the text route
// gives.
//
// Encode on any text: its output is printable ASCII except where the
// ampersand option copies a CR and the character after it raw. Then, on a
// text built from the input out of what must survive (printable ASCII
// without "%" and, with the option, without "&"; double-byte characters;
// CR LF), Decode gives the text back.
#include <array>

#include "codec/codepage.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/utf8.h"
#include "fuzz/fuzz_support.h"

namespace {

bool IsPrintable(char16_t c) { return c >= 0x20 && c <= 0x7E; }

void CheckOutputAlphabet(std::u16string_view encoded, bool option) {
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (IsPrintable(encoded[i])) continue;
        FUZZ_CHECK(option && encoded[i] == u'\r');
        ++i;  // the character copied with the CR, if any
    }
}

// Double-byte characters, trail bytes both printable and not.
constexpr std::array<char16_t, 12> kDoubleByte = {u'あ', u'ア', u'テ', u'ス', u'ト', u'漢', u'字', u'表',
                                                  u'ソ', u'～', u'￥', u'Ａ'};

std::u16string SurvivingText(const std::uint8_t* data, std::size_t size, bool option) {
    std::u16string text;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (b < 0x20) {
            text += kDoubleByte[b % kDoubleByte.size()];
        } else if (b == 0x7F || b >= 0xF0) {
            text += u"\r\n";
        } else {
            char16_t c = static_cast<char16_t>(b & 0x7F);
            if (!IsPrintable(c) || c == u'%' || (option && c == u'&')) c = u'x';
            text += c;
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool option = data[0] & 1;
    const std::uint8_t first = data[0];
    ++data, --size;

    const std::u16string text = tessaly::fuzz::AsText(data, size);
    const std::u16string encoded = tessaly::Encode(text, option);
    CheckOutputAlphabet(encoded, option);
    FUZZ_CHECK(encoded.size() <= 6 * text.size());

    const std::u16string surviving = SurvivingText(data, size, option);
    const std::u16string survivingEncoded = tessaly::Encode(surviving, option);
    CheckOutputAlphabet(survivingEncoded, option);
    FUZZ_CHECK(tessaly::Decode(survivingEncoded, option) == surviving);

    const tessaly::EncodeOptions url{static_cast<tessaly::Charset>((first >> 1) % 3),
                                     static_cast<tessaly::EscapeSet>((first >> 3) % 3), option};
    tessaly::EncodeReport report;
    const std::u16string urlEncoded = tessaly::EncodeUrl(text, url, &report);
    if (url.charset == tessaly::Charset::kShiftJis && url.escape == tessaly::EscapeSet::kPrintable) {
        FUZZ_CHECK(urlEncoded == encoded);
        FUZZ_CHECK(report.lost == tessaly::FindTextLoss(text).count);
    } else {
        for (std::size_t i = 0; i < urlEncoded.size(); ++i) {
            const char16_t c = urlEncoded[i];
            const bool alphanumeric = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
            const std::u16string_view kept = url.escape == tessaly::EscapeSet::kPrintable ? u""
                                             : url.escape == tessaly::EscapeSet::kComponent ? u"-_.!~*'()"
                                                                                             : u"*-._+";
            const bool escape = c == u'%' && i + 2 < urlEncoded.size();
            FUZZ_CHECK(alphanumeric || escape || kept.find(c) != kept.npos || (option && c == u'&') ||
                       (url.escape == tessaly::EscapeSet::kPrintable && IsPrintable(c)));
        }
    }
    bool loneSurrogate = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool high = text[i] >= 0xD800 && text[i] < 0xDC00;
        const bool low = text[i] >= 0xDC00 && text[i] < 0xE000;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            ++i;
        } else {
            loneSurrogate = loneSurrogate || high || low;
        }
    }
    if (url.charset == tessaly::Charset::kUtf8) FUZZ_CHECK((report.lost != 0) == loneSurrogate);
    if (url.charset == tessaly::Charset::kUtf8 && url.escape != tessaly::EscapeSet::kPrintable && !loneSurrogate) {
        const tessaly::DecodeOptions back{tessaly::Charset::kUtf8, false, url.escape == tessaly::EscapeSet::kForm,
                                          option};
        tessaly::DecodeReport decodeReport;
        FUZZ_CHECK(tessaly::DecodeUrl(urlEncoded, back, &decodeReport) == text);
        FUZZ_CHECK(decodeReport.invalid == 0);
    }

    // The input as code page 932 bytes, encoded straight to bytes: what the
    // text route gives, with the loss it finds.
    const std::string_view bytes = tessaly::fuzz::AsBytes(data, size);
    std::string direct;
    tessaly::ByteLoss loss;
    FUZZ_CHECK(tessaly::EncodeBytesAppend(direct, bytes, option, true, &loss) == bytes.size());
    FUZZ_CHECK(direct == tessaly::CodePageBridge::ToBytes(tessaly::Encode(tessaly::CodePageBridge::ToText(bytes), option)));
    const tessaly::ByteLoss want = tessaly::FindByteLoss(bytes);
    FUZZ_CHECK(loss.count == want.count && loss.first == want.first);

    // The same on text-like bytes made from the input, which the byte route
    // takes many bytes at a time.
    const std::string textLike = tessaly::fuzz::TextLikeBytes(data, size);
    direct.clear();
    loss = {};
    FUZZ_CHECK(tessaly::EncodeBytesAppend(direct, textLike, option, true, &loss) == textLike.size());
    FUZZ_CHECK(direct == tessaly::CodePageBridge::ToBytes(tessaly::Encode(tessaly::CodePageBridge::ToText(textLike), option)));
    const tessaly::ByteLoss wantTextLike = tessaly::FindByteLoss(textLike);
    FUZZ_CHECK(loss.count == wantTextLike.count && loss.first == wantTextLike.first);
    // The slower ways of taking blocks, which other processors run, give
    // the same; code page 932 with another escape set takes the same blocks,
    // in each way: the text route's result.
    const bool otherSet = url.charset == tessaly::Charset::kShiftJis && url.escape != tessaly::EscapeSet::kPrintable;
    const std::string wantSet =
        otherSet ? tessaly::CodePageBridge::ToBytes(tessaly::EncodeUrl(tessaly::CodePageBridge::ToText(textLike), url))
                 : std::string();
    for (int way = 0; way < tessaly::detail::EncodeBlockWays(); ++way) {
        tessaly::detail::UseEncodeBlockWay(way);
        std::string slower, set;
        tessaly::ByteLoss slowerLoss, setLoss;
        const std::size_t used = tessaly::EncodeBytesAppend(slower, textLike, option, true, &slowerLoss);
        const std::size_t setUsed =
            otherSet ? tessaly::EncodeUrlFromBytesAppend(set, textLike, url, true, &setLoss) : textLike.size();
        tessaly::detail::UseEncodeBlockWay(0);
        FUZZ_CHECK(used == textLike.size() && slower == direct);
        FUZZ_CHECK(slowerLoss.count == loss.count && slowerLoss.first == loss.first);
        FUZZ_CHECK(setUsed == textLike.size() && set == wantSet);
        FUZZ_CHECK(!otherSet || (setLoss.count == wantTextLike.count && setLoss.first == wantTextLike.first));
    }
    // UTF-8 and EUC-JP escapes in the slower ways that other processors
    // take: what the fastest gives, by the byte route and by the text route.
    if (url.charset != tessaly::Charset::kShiftJis) {
        const std::u16string textLikeText = tessaly::CodePageBridge::ToText(textLike);
        std::string fastest;
        tessaly::EncodeUrlBytesAppend(fastest, textLike, tessaly::TextBytes::kCp932, url, true);
        const std::u16string fastestText = tessaly::EncodeUrl(textLikeText, url);
        for (int way = 1; way < tessaly::detail::EncodeUrlWays(); ++way) {
            tessaly::detail::UseEncodeUrlWay(way);
            std::string slower;
            tessaly::EncodeUrlBytesAppend(slower, textLike, tessaly::TextBytes::kCp932, url, true);
            const std::u16string slowerText = tessaly::EncodeUrl(textLikeText, url);
            tessaly::detail::UseEncodeUrlWay(0);
            FUZZ_CHECK(slower == fastest && slowerText == fastestText);
        }
    }
    // The text-like bytes' text as UTF-8, with one of the input's own bytes
    // cut in every so often, encoded by the byte route (into UTF-8 a block
    // at a time where it is valid, in each way): what the text route gives.
    {
        const std::string utf8 = tessaly::Utf16ToUtf8(tessaly::CodePageBridge::ToText(textLike));
        const std::size_t every = (first & 128) != 0 ? 24 : 400;
        std::string spliced;
        for (std::size_t i = 0; i < utf8.size(); ++i) {
            spliced += utf8[i];
            if (i % every == every - 1) spliced += static_cast<char>(data[i / every % size]);
        }
        const std::string want8 = tessaly::Utf16ToUtf8(tessaly::EncodeUrl(tessaly::Utf8ToUtf16(spliced), url));
        for (int way = 0; way < tessaly::detail::EncodeBlockWays(); ++way) {
            tessaly::detail::UseEncodeBlockWay(way);
            std::string got;
            tessaly::EncodeUrlBytesAppend(got, spliced, tessaly::TextBytes::kUtf8, url, true);
            tessaly::detail::UseEncodeBlockWay(0);
            FUZZ_CHECK(got == want8);
        }
    }
    if (url.charset != tessaly::Charset::kEucJp) {
        std::string urlDirect;
        tessaly::ByteLoss urlLoss;
        FUZZ_CHECK(tessaly::EncodeUrlFromBytesAppend(urlDirect, bytes, url, true, &urlLoss) == bytes.size());
        FUZZ_CHECK(urlDirect ==
                   tessaly::CodePageBridge::ToBytes(tessaly::EncodeUrl(tessaly::CodePageBridge::ToText(bytes), url)));
        FUZZ_CHECK(urlLoss.count == want.count && urlLoss.first == want.first);
    }
    return 0;
}

// The byte routes (EncodeUrlBytesAppend, DecodeUrlBytesAppend) against the
// text route they stand in for: the input's bytes read as text, EncodeUrl or
// DecodeUrl with its report, the result written as bytes. Random inputs of
// what trips a converter, cut into random pieces: the same output, the same
// count of each kind of loss at the same first offset, and before the first
// loss the same output as the text route gives for the text before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codec/codepage.h"
#include "codec/cp932.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/utf8.h"

namespace tessaly {
namespace {

struct Loss {
    std::uint64_t count = 0;
    std::size_t first = ByteLoss::npos;
    bool operator==(const Loss&) const = default;
};
Loss Of(const ByteLoss& loss) { return {loss.count, loss.count == 0 ? ByteLoss::npos : loss.first}; }

struct Result {
    std::string out;
    Loss input, escapes, unwritable;
};

struct Case {
    bool decode;
    TextBytes side;
    EncodeOptions encode;
    DecodeOptions decodeOptions;
};

// The text of the input's bytes, and the input offset of each unit (and
// of the end).
std::u16string Read(const std::string& bytes, TextBytes side, std::vector<std::size_t>& offsets, Loss& input) {
    std::u16string text;
    offsets.clear();
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    for (const unsigned char* p = begin; p != end;) {
        const std::size_t before = text.size();
        const unsigned char* next;
        if (side == TextBytes::kCp932) {
            char16_t c;
            next = cp932::ConvertCharacter(p, end, &c);
            text += c;
        } else {
            const Utf8Step step = ReadUtf8(p, end);
            next = p + step.length;
            text += Utf8ToUtf16(std::string(reinterpret_cast<const char*>(p), step.length));
        }
        offsets.insert(offsets.end(), text.size() - before, static_cast<std::size_t>(p - begin));
        p = next;
    }
    offsets.push_back(bytes.size());
    if (side == TextBytes::kCp932) {
        const ByteLoss loss = FindByteLoss(bytes);
        input = Of(loss);
    } else {
        Utf8Read read;
        std::u16string scratch;
        read = AppendUtf8AsUtf16(scratch, bytes);
        input = {read.invalid, read.invalid == 0 ? ByteLoss::npos : read.firstInvalid};
    }
    return text;
}

std::string Write(const std::u16string& text, TextBytes side) {
    return side == TextBytes::kCp932 ? CodePageBridge::ToBytes(text) : Utf16ToUtf8(text);
}

std::u16string Convert(const Case& c, std::u16string_view text, bool final, EncodeReport* er = nullptr,
                       DecodeReport* dr = nullptr) {
    std::u16string out;
    if (c.decode) {
        DecodeUrlAppend(out, text, c.decodeOptions, final, dr);
    } else {
        EncodeUrlAppend(out, text, c.encode, final, er);
    }
    return out;
}

// The text route on the whole input, its losses by input offset.
Result TextRoute(const Case& c, const std::string& bytes) {
    std::vector<std::size_t> offsets;
    Result r;
    Loss input;
    const std::u16string text = Read(bytes, c.side, offsets, input);
    EncodeReport er;
    DecodeReport dr;
    const std::u16string converted = Convert(c, text, true, &er, &dr);
    r.out = Write(converted, c.side);
    const auto at = [&](std::uint64_t count, std::size_t index) {
        return count == 0 ? Loss{} : Loss{count, offsets[index]};
    };
    // Invalid UTF-8 read for encoding into the others is a character they
    // cannot hold, not an input loss.
    const bool countInput = c.decode || c.side == TextBytes::kCp932 || c.encode.charset == Charset::kUtf8;
    if (countInput) r.input = input;
    if (c.decode) {
        r.escapes = at(dr.invalid, dr.firstInvalid);
        if (c.side == TextBytes::kCp932) {
            // Decoded characters code page 932 cannot write, at the start of
            // what decides them: the units converted before the shortest
            // prefix that writes them.
            std::uint64_t lost = 0;
            std::size_t firstLost = 0;
            for (std::size_t i = 0; i < converted.size(); ++i) {
                const char16_t u = converted[i];
                const bool pair = cp932::IsHighSurrogate(u) && i + 1 < converted.size() &&
                                  cp932::IsLowSurrogate(converted[i + 1]);
                if (pair || (u != u'\uFFFD' && !cp932::RoundTrips(u) && !IsIntendedLookAlike(u))) {
                    if (lost++ == 0) firstLost = i;
                }
                i += pair;
            }
            if (lost != 0) {
                std::size_t low = 0, high = text.size();
                while (low < high) {
                    const std::size_t mid = low + (high - low) / 2;
                    if (Convert(c, text.substr(0, mid), false).size() > firstLost) {
                        high = mid;
                    } else {
                        low = mid + 1;
                    }
                }
                std::u16string probe;
                const std::size_t source =
                    low == 0 ? 0 : DecodeUrlAppend(probe, std::u16string_view(text).substr(0, low - 1), c.decodeOptions, false);
                r.unwritable = {lost, offsets[source]};
            }
        }
    } else {
        r.unwritable = at(er.lost, er.firstLost);
    }
    return r;
}

// The byte route on the input cut into pieces at random (each below
// maxPiece bytes).
Result ByteRoute(const Case& c, const std::string& bytes, std::mt19937& rng, std::size_t maxPiece = 12) {
    Result r;
    std::string held;
    std::size_t base = 0;  // input offset of held[0]
    const auto add = [&](Loss& to, const ByteLoss& from) {
        if (from.count == 0) return;
        if (to.count == 0) to.first = base + from.first;
        to.count += from.count;
    };
    for (std::size_t at = 0;;) {
        const std::size_t next = std::min(bytes.size(), at + rng() % maxPiece);
        held += bytes.substr(at, next - at);
        at = next;
        const bool final = at == bytes.size();
        BytesReport report;
        const std::size_t used =
            !c.decode                 ? EncodeUrlBytesAppend(r.out, held, c.side, c.encode, final, &report)
            : c.decodeOptions.detect ? DecodeUrlDetectingAsciiAppend(r.out, held, c.side, c.decodeOptions, final, &report)
                                     : DecodeUrlBytesAppend(r.out, held, c.side, c.decodeOptions, final, &report);
        add(r.input, report.input);
        add(r.escapes, report.escapes);
        add(r.unwritable, report.unwritable);
        held.erase(0, used);
        base += used;
        if (final) {
            EXPECT_TRUE(held.empty());
            return r;
        }
    }
}

std::string Show(const std::string& bytes) {
    std::string s;
    for (const unsigned char b : bytes) {
        if (b >= 0x20 && b < 0x7F) {
            s += static_cast<char>(b);
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            s += "\\x";
            s += kHex[b >> 4];
            s += kHex[b & 15];
        }
    }
    return s;
}

TEST(UrlBytes, ARunEndsAtTheFirstUnitThatIsNoEscape) {
    // "%E%" is no escape, though its "E" reads as a lead byte's digit.
    DecodeOptions utf8;
    utf8.charset = Charset::kUtf8;
    EXPECT_EQ(DecodeUrl(u"%2B%E%%B1%B2", utf8), u"+%E%\uFFFD\uFFFD");
    std::string out;
    DecodeUrlBytesAppend(out, "%2B%E%%B1%B2", TextBytes::kUtf8, utf8, true);
    EXPECT_EQ(out, "+%E%\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(UrlBytes, ByteRoutesGiveTheTextRoutesResultAndLosses) {
    std::mt19937 rng(1432);
    static const char* const kUnits[] = {
        "\x83\x65\x83\x58\x83\x67", "\xE3\x83\x86\xE3\x82\xB9", "\xF0\x9F\x98\x80", "\xC5\xEC\xB5\xFE", "\x8E\xB1",
        "\x8F\xA2\xAF", "\x87\x40", "\xED\x40", "\xFA\x40", "\x81\x60", "\xE2\x80\x94", "\xEF\xBD\x9E",
        "%83e%83X", "%E3%83%86", "%e3%82%a2", "%E3%81", "%F0%9F%98%80", "%F0%9F", "%ED%A0%80", "%C0%AF", "%FF",
        "%A5%C6", "%8E%B1", "%8F%A2%AF", "%8F%A2", "%8F", "%A1%C1", "%81%60", "%E2%80%94", "%EF%BD%9E", "%82",
        "%8", "%", "%%", "%E", "%e%", "%E%%B1%B2", "&", "+", "k=v", " ", "\r\n", "\r", "\n", "%0D%0A", "%26", "%2B", "%41", "%x"};
    std::vector<Case> cases;
    for (const TextBytes side : {TextBytes::kCp932, TextBytes::kUtf8}) {
        for (const Charset charset : {Charset::kUtf8, Charset::kEucJp}) {
            for (const bool amp : {false, true}) {
                for (const EscapeSet set : {EscapeSet::kPrintable, EscapeSet::kComponent, EscapeSet::kForm}) {
                    cases.push_back({false, side, {charset, set, amp}, {}});
                }
                for (const bool plus : {false, true}) cases.push_back({true, side, {}, {charset, false, plus, amp}});
            }
        }
        // UTF-8 text into code page 932 escapes.
        for (const bool amp : {false, true}) {
            for (const EscapeSet set : {EscapeSet::kPrintable, EscapeSet::kComponent, EscapeSet::kForm}) {
                if (side == TextBytes::kUtf8) cases.push_back({false, side, {Charset::kShiftJis, set, amp}, {}});
            }
        }
        // Detection, from ASCII only, each encoding preferred.
        for (const Charset charset : {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp}) {
            for (const bool plus : {false, true}) {
                for (const bool amp : {false, true}) cases.push_back({true, side, {}, {charset, true, plus, amp}});
            }
        }
    }
    for (int round = 0; round < 300; ++round) {
        std::string input;
        const std::size_t units = 1 + rng() % (round % 10 == 0 ? 400 : 24);
        for (std::size_t k = 0; k < units; ++k) {
            if (round % 2 == 0) {  // ASCII only, for detection too
                const std::string_view unit = kUnits[rng() % std::size(kUnits)];
                if (unit[0] >= 0) input += unit;
            } else if (rng() % 8 == 0) {
                input += static_cast<char>(rng() % 256);  // any byte at all
            } else {
                input += kUnits[rng() % std::size(kUnits)];
            }
        }
        const bool ascii = std::all_of(input.begin(), input.end(), [](char b) { return b >= 0; });
        for (const Case& c : cases) {
            if (c.decodeOptions.detect && !ascii) continue;
            SCOPED_TRACE(testing::Message() << (c.decode ? "decode" : "encode") << (c.decodeOptions.detect ? " detect" : "") << " side "
                                            << static_cast<int>(c.side) << " charset "
                                            << static_cast<int>(c.decode ? c.decodeOptions.charset : c.encode.charset)
                                            << " set " << static_cast<int>(c.encode.escape) << " amp "
                                            << (c.decode ? c.decodeOptions.crLfAsAmp : c.encode.crLfAsAmp) << " plus "
                                            << c.decodeOptions.plusAsSpace << " input " << Show(input));
            const Result want = TextRoute(c, input);
            const Result got = ByteRoute(c, input, rng);
            ASSERT_EQ(got.out, want.out);
            ASSERT_EQ(got.input, want.input);
            ASSERT_EQ(got.escapes, want.escapes);
            ASSERT_EQ(got.unwritable, want.unwritable);
            // What stands before the first loss, as far as it decides (what
            // --strict writes).
            const std::size_t first = std::min({got.input.first, got.escapes.first, got.unwritable.first});
            if (first == ByteLoss::npos) continue;
            std::vector<std::size_t> offsets;
            Loss unused;
            const std::u16string text = Read(input.substr(0, first), c.side, offsets, unused);
            std::string before;
            if (c.decode && c.decodeOptions.detect) {
                DecodeUrlDetectingAsciiAppend(before, input.substr(0, first), c.side, c.decodeOptions, false);
            } else if (c.decode) {
                DecodeUrlBytesAppend(before, input.substr(0, first), c.side, c.decodeOptions, false);
            } else {
                EncodeUrlBytesAppend(before, input.substr(0, first), c.side, c.encode, false);
            }
            ASSERT_EQ(before, Write(Convert(c, text, false), c.side));
        }
    }
}

// Long text, in pieces long enough for the routes' block loops: kanji, kana
// and half-width kana mixed with runs of printable ASCII of every length
// (the runs copied wholesale), line ends, characters that do not come back
// and escapes of every kind.
TEST(UrlBytes, LongTextInLongPiecesGivesTheTextRoutesResult) {
    std::mt19937 rng(932);
    static const char* const kUnits[] = {
        "\x93\xFA", "\x96\x7B", "\x82\xA0", "\x83\x65", "\x83\x5C", "\x81\x40", "\xB1", "\xDF", "\x87\x40",
        "\xED\x40", "\xFA\x40", "\x81\x60", "\xE3\x83\x86", "\xEF\xBD\xB1", "\xC5\xEC", "\x8E\xB1", "\xF0\x9F\x98\x80",
        "%E3%83%86", "%e6%97%a5", "%EF%BD%B1", "%C2%A9", "%A4%A2", "%8E%B1", "%8F%A2%AF", "%E3%81", "%ZZ", "%",
        "%41", "%0D%0A", "%26", "%2B", "&", "+", "\r\n", "\r", "~", "\x7F", "\x80", "\xA0", "\xFD",
        "\xE0\x8E\x91", "\xED\xA0\x80", "\xC2\xA5", "\xE2\x88\x92", "\xE2\x80\xBE"};
    static const char kAscii[] = "abcdefghijklmnopqrstuvwxyz0123456789 =?/.-_ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int round = 0; round < 24; ++round) {
        std::string input;
        while (input.size() < 3000) {
            if (rng() % 4 == 0) {
                const std::size_t run = rng() % (round % 3 == 0 ? 100 : 12);
                for (std::size_t k = 0; k < run; ++k) input += kAscii[rng() % (sizeof kAscii - 1)];
            } else {
                input += kUnits[rng() % std::size(kUnits)];
            }
        }
        for (const TextBytes side : {TextBytes::kCp932, TextBytes::kUtf8}) {
            for (const Charset charset : {Charset::kUtf8, Charset::kEucJp, Charset::kShiftJis}) {
                // (Code page 932 from UTF-8 text: encoding only.)
                if (charset == Charset::kShiftJis && side == TextBytes::kCp932) continue;
                const bool amp = round % 2 != 0;
                std::vector<Case> cases;
                for (const EscapeSet set : {EscapeSet::kPrintable, EscapeSet::kComponent, EscapeSet::kForm}) {
                    cases.push_back({false, side, {charset, set, amp}, {}});
                }
                if (charset != Charset::kShiftJis) {
                    cases.push_back({true, side, {}, {charset, false, round % 4 < 2, amp}});
                }
                for (const Case& c : cases) {
                    SCOPED_TRACE(testing::Message() << (c.decode ? "decode" : "encode") << " side "
                                                    << static_cast<int>(side) << " charset " << static_cast<int>(charset)
                                                    << " set " << static_cast<int>(c.encode.escape) << " amp " << amp
                                                    << " input " << Show(input));
                    const Result want = TextRoute(c, input);
                    for (const std::size_t maxPiece : {input.size() + 1, std::size_t{700}}) {
                        const Result got = ByteRoute(c, input, rng, maxPiece);
                        ASSERT_EQ(got.out, want.out);
                        ASSERT_EQ(got.input, want.input);
                        ASSERT_EQ(got.escapes, want.escapes);
                        ASSERT_EQ(got.unwritable, want.unwritable);
                    }
                }
            }
        }
    }
}

// "%XX" of byte b.
std::string EscapeByte(unsigned b) {
    static const char kHex[] = "0123456789ABCDEF";
    return std::string{'%', kHex[b >> 4], kHex[b & 15]};
}

// Text of 200 bytes to some KiB for the steps: pieces that pick gives for a
// number below a limit, which is 0 (for something odd) more or less often
// by round.
template <class Pick>
std::string MixedInput(std::mt19937& rng, int round, const Pick& pick) {
    std::string input;
    const std::size_t size = 200 + rng() % (round % 4 == 0 ? 20000 : 3000);
    const unsigned oddEvery = round % 3 == 0 ? 400 : round % 3 == 1 ? 40 : 6;
    while (input.size() < size) input += pick(static_cast<unsigned>(rng() % oddEvery));
    return input;
}

// The byte route gives what the text route gives, whole and in pieces.
void ExpectTheTextRoutesResult(const Case& c, const std::string& input, std::mt19937& rng) {
    const Result want = TextRoute(c, input);
    for (const std::size_t maxPiece : {input.size() + 1, 2 + rng() % input.size()}) {
        const Result got = ByteRoute(c, input, rng, maxPiece);
        ASSERT_EQ(got.out, want.out);
        ASSERT_EQ(got.input, want.input);
        ASSERT_EQ(got.escapes, want.escapes);
        ASSERT_EQ(got.unwritable, want.unwritable);
    }
}

// EUC-JP escapes decoded to code page 932 bytes or to UTF-8 go in steps of
// a window of units where they can: long stretches of what the steps take
// (pairs of any rows, kana, escaped and plain ASCII) with, more or less
// often, what they leave to the usual way (JIS X 0212, a lead before a plain
// unit or at a run's end, broken escapes, literal code page 932 characters).
// (The SSSE3 steps leave half-width katakana too.)
TEST(UrlBytes, EucJpInStepsGivesTheTextRoutesResult) {
    std::mt19937 rng(2208);
    static const char* const kCommon[] = {"%A4%A2", "%a5%c6", "%B0%A1", "%41", "%0D%0A", "%20", "a", "k=v&", "%7E",
                                          "%26q", "%3D1", "/index.html?q=abcdefg", "+", "%2B"};
    static const char* const kOdd[] = {"%8E%B1", "%8F%A2%AF", "%8F%B0%A1", "%A4a", "%A4", "%A4%20", "%A4%8E",
                                       "%",      "%Z1",       "%00%00",    "%8E", "\x82\xA0", "\xB1", "%FF%FF",
                                       "\x85\x40", "\x81%", "%3Dx%26y%A4z", "%8E%E0", "%8E%A0", "%A1%8E", "%A4\xB1", "%8E\xB1"};
    for (int round = 0; round < 60; ++round) {
        // Into code page 932 bytes, and into UTF-8; every third round with
        // "+" as a space.
        Case c{true, round % 2 == 0 ? TextBytes::kCp932 : TextBytes::kUtf8, {}, {Charset::kEucJp}};
        c.decodeOptions.plusAsSpace = round % 3 == 0;
        const std::string input = MixedInput(rng, round, [&](unsigned pick) {
            if (pick == 0) return std::string(kOdd[rng() % std::size(kOdd)]);
            if (pick % 3 == 0) return std::string(kCommon[rng() % std::size(kCommon)]);
            // a pair of any two bytes from 0xA1, mapped or not
            return EscapeByte(0xA1 + rng() % 94) + EscapeByte(0xA1 + rng() % 94);
        });
        SCOPED_TRACE(testing::Message() << "input " << Show(input));
        ExpectTheTextRoutesResult(c, input, rng);
        if (testing::Test::HasFatalFailure()) return;
    }
}

// UTF-8 and EUC-JP escapes go through the steps in long stretches of what
// they take, read a few dozen bytes at a time: characters across the edges
// of those at every alignment, as many ASCII characters as they take at
// once among kanji, escapes in either hex case. Then one thing they leave to
// the usual way, anywhere in such a stretch.
TEST(UrlBytes, LongRunsOfWhatTheStepsTakeGiveTheTextRoutesResult) {
    std::mt19937 rng(6262);
    static const char* const kOdd[] = {"%F0%9F%98%80", "%E6%97", "%80", "%C0%AF", "%ED%A0%80", "%8F%A2%AF", "%A4",
                                       "%A4a", "%8E%E0", "%", "%Z1", "\x82\xA0", "%FF%FF", "%C2%A0", "%\xB4\xB1"};
    const auto writable = [](char16_t c) { return !Cp932LossTable::Get().Lost(c); };
    for (int round = 0; round < 40; ++round) {
        std::u16string text;
        const std::size_t size = 1000 + rng() % 2000;
        while (text.size() < size) {
            const unsigned pick = rng() % 12;
            if (pick == 0) {  // ASCII, many of them escaped by the component set; now and then a long run
                for (unsigned k = rng() % 8 == 0 ? rng() % 80 : 1 + rng() % 2; k > 0; --k) {
                    text += static_cast<char16_t>(0x20 + rng() % 0x5F);
                }
            } else if (pick == 1) {
                text += static_cast<char16_t>(0xFF61 + rng() % 0x3F);  // half-width katakana
            } else if (pick == 2) {
                static const char16_t kTwoBytes[] = {0xA7, 0xB0, 0xD7, 0xF7, 0x391, 0x3C9, 0x410, 0x44F};
                text += kTwoBytes[rng() % std::size(kTwoBytes)];  // two bytes in UTF-8
            } else {
                char16_t c;
                do c = static_cast<char16_t>(pick == 3 ? 0x3041 + rng() % 0xB5 : 0x4E00 + rng() % 0x5000);
                while (!writable(c));
                text += c;
            }
        }
        const bool euc = round % 2 != 0;
        const EncodeOptions how{euc ? Charset::kEucJp : Charset::kUtf8,
                                round % 3 == 0 ? EscapeSet::kPrintable : EscapeSet::kComponent};
        std::string input(rng() % 4, 'a');
        for (const char16_t unit : EncodeUrl(text, how)) input += static_cast<char>(unit);
        if (round % 5 == 1) {  // digits in lower case
            for (char& a : input) {
                if (a >= 'A' && a <= 'F' && rng() % 2 == 0) a = static_cast<char>(a - 'A' + 'a');
            }
        }
        if (round % 4 != 3) input.insert(rng() % input.size(), kOdd[rng() % std::size(kOdd)]);
        Case c{true, round % 4 < 2 ? TextBytes::kCp932 : TextBytes::kUtf8, {}, {how.charset}};
        c.decodeOptions.plusAsSpace = round % 3 == 1;
        SCOPED_TRACE(testing::Message() << "input " << Show(input));
        ExpectTheTextRoutesResult(c, input, rng);
        if (testing::Test::HasFatalFailure()) return;
    }
}

// UTF-8 escapes decoded to code page 932 bytes go 64 units at a time where
// the processor can: long stretches of what the windows take (characters
// of one to three bytes that code page 932 writes, in either hex case,
// escaped and plain ASCII, runs of plain ASCII) with, more or less often,
// what they leave to the usual way (four bytes, overlong forms, surrogates,
// cut and stray bytes, characters code page 932 does not write, broken
// escapes, literal code page 932 characters).
TEST(UrlBytes, Utf8InWindowsGivesTheTextRoutesResult) {
    std::mt19937 rng(6464);
    static const char* const kCommon[] = {"%E6%97%A5", "%e8%aa%9e", "%C2%A7",  "%c3%97", "%EF%BD%B1", "%E2%80%94",
                                          "%41",       "%0D%0A",    "%20",     "a",      "k=v&",      "%7E",
                                          "%26q",      "%3D1",      "+",       "/index.html?q=abcdefg&lang=ja"};
    static const char* const kOdd[] = {"%F0%9F%98%80", "%E6%97", "%E6%97a", "%80", "%C0%AF", "%E0%80%AF",
                                       "%ED%A0%80",    "%EF%BF%BF", "%C2%A0", "%",  "%Z1",    "%00",
                                       "\x82\xA0",     "\xB1",      "%E6%97%A5%A5", "%2", "%%41", "%E3%81%82%E3"};
    const auto escapeUtf8 = [](char32_t c) {
        if (c < 0x800) return EscapeByte(0xC0 | c >> 6) + EscapeByte(0x80 | (c & 0x3F));
        return EscapeByte(0xE0 | c >> 12) + EscapeByte(0x80 | (c >> 6 & 0x3F)) + EscapeByte(0x80 | (c & 0x3F));
    };
    for (int round = 0; round < 60; ++round) {
        // Into code page 932 bytes, and as UTF-8 (the characters' bytes as
        // they are); every third round with "+" as a space.
        Case c{true, round % 2 == 0 ? TextBytes::kCp932 : TextBytes::kUtf8, {}, {Charset::kUtf8}};
        c.decodeOptions.plusAsSpace = round % 3 == 0;
        const std::string input = MixedInput(rng, round, [&](unsigned pick) {
            if (pick == 0) return std::string(kOdd[rng() % std::size(kOdd)]);
            if (pick == 1) return escapeUtf8(0x80 + rng() % (0x10000 - 0x80));  // any of two or three bytes
            if (pick % 3 == 0) return std::string(kCommon[rng() % std::size(kCommon)]);
            if (pick % 3 == 1) return escapeUtf8(0x3041 + rng() % (0x30F6 - 0x3041));  // kana
            char32_t kanji;  // one that code page 932 writes
            do kanji = 0x4E00 + rng() % 0x5200;
            while (Cp932LossTable::Get().Lost(static_cast<char16_t>(kanji)));
            return std::string(rng() % 4, 'x') + escapeUtf8(kanji);
        });
        SCOPED_TRACE(testing::Message() << "input " << Show(input));
        ExpectTheTextRoutesResult(c, input, rng);
        if (testing::Test::HasFatalFailure()) return;
    }
}

// UTF-8 text encoded into UTF-8 escapes goes a block of bytes at a time
// where it is valid, in every way the processor has (and into the others
// through their tables): long stretches of
// characters of one to four bytes (next to the second bytes' limits too),
// with, more or less often, what the blocks leave to the usual way (stray,
// cut and overlong bytes, surrogates, past U+10FFFF, a CR with "&").
TEST(UrlBytes, Utf8TextInBlocksGivesTheTextRoutesResult) {
    std::mt19937 rng(6767);
    static const char* const kOdd[] = {"\x80", "\xBF\xBF", "\xC0\xAF", "\xC1\x81", "\xE0\x9F\xBF", "\xE0\x8E\x91",
                                       "\xED\xA0\x80",
                                       "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80", "\xFF", "\xE3\x81",
                                       "\xF0\x9F\x98", "\xC2", "\xE3\x81\x82\x82", "\r", "\r\n", "\xE3\r\n"};
    static const char32_t kEdges[] = {0x7F, 0x80, 0x7FF, 0x800, 0xFFF, 0x1000, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF,
                                      0x10000, 0x3FFFF, 0x40000, 0x10FFFF};
    for (int round = 0; round < 24; ++round) {
        const std::string input = MixedInput(rng, round, [&](unsigned pick) {
            if (pick == 0) return std::string(kOdd[rng() % std::size(kOdd)]);
            std::string ascii(rng() % 3, ' ');
            for (char& a : ascii) a = static_cast<char>(0x20 + rng() % 0x5F);
            char32_t c = pick % 5 == 1   ? kEdges[rng() % std::size(kEdges)]
                         : pick % 5 == 2 ? 0x80 + rng() % 0x10FF80
                                         : 0x3041 + rng() % 0x6000;
            if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
            return ascii + Utf16ToUtf8(c < 0x10000 ? std::u16string(1, static_cast<char16_t>(c))
                                                   : std::u16string{static_cast<char16_t>(0xD7C0 + (c >> 10)),
                                                                    static_cast<char16_t>(0xDC00 | (c & 0x3FF))});
        });
        SCOPED_TRACE(testing::Message() << "input " << Show(input));
        const EscapeSet set = round % 3 == 0 ? EscapeSet::kPrintable : round % 3 == 1 ? EscapeSet::kComponent
                                                                                      : EscapeSet::kForm;
        const Case c{false, TextBytes::kUtf8, {Charset::kUtf8, set, round % 2 != 0}, {}};
        for (int way = 0; way < detail::EncodeBlockWays(); ++way) {
            detail::UseEncodeBlockWay(way);
            ExpectTheTextRoutesResult(c, input, rng);
            detail::UseEncodeBlockWay(0);
            if (testing::Test::HasFatalFailure()) return;
        }
        // The same text into code page 932 or EUC-JP escapes (through the
        // tables from 4 KiB).
        const Case other{false, TextBytes::kUtf8, {round % 4 < 2 ? Charset::kShiftJis : Charset::kEucJp, set,
                                                    round % 2 != 0}, {}};
        ExpectTheTextRoutesResult(other, input, rng);
        if (testing::Test::HasFatalFailure()) return;
    }
}

// Decoding reads its input in chunks of some KiB: escapes up to a chunk's
// end at every alignment, then plain ASCII to the input's end, which no
// step may read past.
TEST(UrlBytes, DecodingAcrossAChunksEndIntoAPlainTail) {
    std::mt19937 rng(8192);
    for (std::size_t shift = 0; shift < 18; ++shift) {
        std::string input(shift, 'a');
        while (input.size() < 8150) input += rng() % 3 ? "%E3%83%86" : "ab";
        input += std::string(200, 'z');
        for (const Charset charset : {Charset::kUtf8, Charset::kEucJp}) {
            const Case c{true, TextBytes::kCp932, {}, {charset, false, false, false}};
            std::string out;
            ASSERT_EQ(DecodeUrlBytesAppend(out, input, c.side, c.decodeOptions, true), input.size());
            ASSERT_EQ(out, TextRoute(c, input).out) << shift;
        }
    }
}

// Lines longer than the detection cap (1 MiB), each part in another
// encoding, read in pieces that each hold most of a part: every call decides
// parts on its own buffers, kept from the call before.
TEST(UrlBytes, DetectionOfLinesLongerThanTheCapInPieces) {
    std::mt19937 rng(1 << 20);
    static const char* const kWords[3][4] = {{"%83e%83X%83g", "%93%FA%96%7B", "%B1%DF", "%82%A0"},
                                             {"%E3%83%86", "%e6%97%a5", "%EF%BD%B1", "%C2%A9"},
                                             {"%A5%C6", "%C6%FC%CB%DC", "%8E%B1", "%8F%A2%AF"}};
    std::string input;
    for (int line = 0; line < 2; ++line) {
        for (std::size_t part = 0; part < 3; ++part) {
            const std::size_t end = input.size() + (std::size_t{1} << 20) - 1000;
            while (input.size() < end) input += rng() % 4 ? kWords[(part + line) % 3][rng() % 4] : " a=";
        }
        input += "\n%ZZ%E3%81\r\n";
    }
    const Case c{true, TextBytes::kCp932, {}, {Charset::kUtf8, true, false, false}};
    const Result want = TextRoute(c, input);
    for (const std::size_t maxPiece : {input.size() + 1, std::size_t{300000}}) {
        const Result got = ByteRoute(c, input, rng, maxPiece);
        ASSERT_TRUE(got.out == want.out) << maxPiece;
        ASSERT_EQ(got.escapes, want.escapes);
    }
}

}  // namespace
}  // namespace tessaly

// EncodeUrl and DecodeUrl against plain references written from the rules:
// the Encoding Standard's UTF-8 encoder and decoder, the escape sets as
// lists of kept characters, "+" and "&"; the default options against Encode
// and Decode; pieces against the whole for every encoding, set and option.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/codepage.h"
#include "codec/cp932.h"
#include "codec/detect.h"
#include "codec/eucjp.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/url_internal.h"
#include "codec/utf8.h"

namespace tessaly {
namespace {

constexpr Charset kCharsets[] = {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp};
constexpr EscapeSet kSets[] = {EscapeSet::kPrintable, EscapeSet::kComponent, EscapeSet::kForm};

// ---------------------------------------------------------------------------
// References

// The Encoding Standard's UTF-8 decoder, step by step; counts the errors
// (and gives where the bytes of the first start).
std::u16string ReferenceUtf8Decode(const std::vector<unsigned>& bytes, std::uint64_t& errors,
                                   std::size_t* first = nullptr) {
    std::u16string out;
    unsigned needed = 0, seen = 0, lower = 0x80, upper = 0xBF;
    char32_t cp = 0;
    const auto emit = [&](char32_t c) {
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    };
    std::size_t i = 0;
    const auto error = [&] {
        if (first != nullptr && *first == std::u16string::npos) *first = needed == 0 ? i : i - seen - 1;
        ++errors;
        out += u'\uFFFD';
    };
    for (; i <= bytes.size(); ++i) {
        if (i == bytes.size()) {
            if (needed != 0) error();
            break;
        }
        const unsigned b = bytes[i];
        if (needed == 0) {
            if (b <= 0x7F) {
                emit(b);
            } else if (b >= 0xC2 && b <= 0xDF) {
                needed = 1, cp = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                if (b == 0xE0) lower = 0xA0;
                if (b == 0xED) upper = 0x9F;
                needed = 2, cp = b & 0xF;
            } else if (b >= 0xF0 && b <= 0xF4) {
                if (b == 0xF0) lower = 0x90;
                if (b == 0xF4) upper = 0x8F;
                needed = 3, cp = b & 0x7;
            } else {
                error();
            }
            continue;
        }
        if (b < lower || b > upper) {
            error();
            cp = needed = seen = 0, lower = 0x80, upper = 0xBF;
            --i;  // the byte is read again
            continue;
        }
        lower = 0x80, upper = 0xBF;
        cp = cp << 6 | (b & 0x3F);
        if (++seen != needed) continue;
        emit(cp);
        cp = needed = seen = 0;
    }
    return out;
}

// The Encoding Standard's UTF-8 encoder on text's scalar values, a lone
// surrogate taken as U+FFFD (counted).
std::vector<unsigned> ReferenceUtf8Encode(std::u16string_view text, std::uint64_t& lost) {
    std::vector<unsigned> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
            ++lost;
        }
        if (c < 0x80) {
            out.push_back(c);
        } else if (c < 0x800) {
            out.insert(out.end(), {0xC0 | c >> 6, 0x80 | (c & 0x3F)});
        } else if (c < 0x10000) {
            out.insert(out.end(), {0xE0 | c >> 12, 0x80 | (c >> 6 & 0x3F), 0x80 | (c & 0x3F)});
        } else {
            out.insert(out.end(), {0xF0 | c >> 18, 0x80 | (c >> 12 & 0x3F), 0x80 | (c >> 6 & 0x3F), 0x80 | (c & 0x3F)});
        }
    }
    return out;
}

const std::string kAlphanumeric = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// The escape sets as written: which bytes stay themselves.
bool ReferenceKeeps(EscapeSet set, unsigned b) {
    if (set == EscapeSet::kPrintable) return b >= 0x20 && b <= 0x7E;
    const std::string kept = kAlphanumeric + (set == EscapeSet::kComponent ? "-_.!~*'()" : "*-._");
    return b != 0 && b < 0x80 && kept.find(static_cast<char>(b)) != std::string::npos;
}

std::u16string ReferenceEscape(const std::vector<unsigned>& bytes, EscapeSet set, bool amp) {
    std::u16string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned b = bytes[i];
        if (amp && b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            out += u'&';
            ++i;
        } else if (set == EscapeSet::kForm && b == ' ') {
            out += u'+';
        } else if (ReferenceKeeps(set, b)) {
            out += static_cast<char16_t>(b);
        } else {
            static const char16_t kHex[] = u"0123456789ABCDEF";
            out += {u'%', kHex[b >> 4], kHex[b & 15]};
        }
    }
    return out;
}

std::vector<unsigned> Cp932Bytes(std::u16string_view text) {
    std::vector<unsigned> bytes;
    for (const char b : CodePageBridge::ToBytes(text)) bytes.push_back(static_cast<unsigned char>(b));
    return bytes;
}

int HexValue(char16_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decoding of escapes as the rule says: each maximal run of valid
// escapes is one byte string, decoded; "+" and "&" per their options.
// The bytes of a run read by the encoding's decoder.
std::u16string RunText(Charset charset, const std::vector<unsigned>& run, std::uint64_t& errors, std::size_t* first) {
    if (charset == Charset::kUtf8) return ReferenceUtf8Decode(run, errors, first);
    std::u16string out;
    const eucjp::Read read = eucjp::AppendText(out, std::string(run.begin(), run.end()));
    errors += read.invalid;
    if (read.invalid != 0) *first = read.firstInvalid;
    return out;
}

// firstInvalid: the index of the escape that holds the first invalid byte.
std::u16string ReferenceUnescape(Charset charset, std::u16string_view text, bool plus, bool amp, std::uint64_t& errors,
                                 std::size_t* firstInvalid = nullptr) {
    std::u16string out;
    std::size_t i = 0;
    const auto escapeAt = [&](std::size_t k) {
        return k + 2 < text.size() && text[k] == u'%' && HexValue(text[k + 1]) >= 0 && HexValue(text[k + 2]) >= 0;
    };
    while (i < text.size()) {
        if (escapeAt(i)) {
            std::vector<unsigned> run;
            const std::size_t start = i;
            for (; escapeAt(i); i += 3) run.push_back(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            std::size_t first = std::u16string::npos;
            out += RunText(charset, run, errors, &first);
            if (firstInvalid != nullptr && *firstInvalid == std::u16string::npos && first != std::u16string::npos) {
                *firstInvalid = start + 3 * first;
            }
        } else if (plus && text[i] == u'+') {
            out += u' ', ++i;
        } else if (amp && text[i] == u'&') {
            out += u"\r\n", ++i;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Random text

std::u16string RandomText(std::mt19937& rng, std::size_t units) {
    static const std::u16string kPieces[] = {u"テスト", u"東京駅", u"a b", u"&", u"=", u"+", u"#", u"%",
                                              u"\r\n", u"\r", u"\n", u"~*'()!", u"ｱ", u"é", u"€", u"\U0001F600",
                                              u"\t", u"-_.", u"\u2212", u"¥"};
    std::u16string text;
    while (text.size() < units) {
        if (rng() % 8 == 0) {
            text += static_cast<char16_t>(rng() % 0x10000);  // any unit, lone surrogates too
        } else {
            text += kPieces[rng() % std::size(kPieces)];
        }
    }
    return text;
}

// Escapes and the characters around them, as URLs and logs hold them.
std::u16string RandomEscapes(std::mt19937& rng, std::size_t units) {
    static const std::u16string kPieces[] = {u"%E3%83%86", u"%e3%82%b9", u"%83e%83X", u"%82%A0", u"%A4%A2",
                                              u"%8E%B1", u"%8F%A2%AF", u"%F0%9F%98%80", u"%ED%A0%80", u"%C0%AF",
                                              u"%", u"%4", u"%G1", u"+", u"&", u"\n", u"\r\n", u"a=", u"%2B",
                                              u"%20", u"%41", u"テ", u"%FF", u"%80",
                                              // Units whose low byte is a digit, in a digit's place.
                                              u"%E3%81%8試", u"%C3%Bあ", u"%あA"};
    std::u16string text;
    while (text.size() < units) text += kPieces[rng() % std::size(kPieces)];
    return text;
}

// ---------------------------------------------------------------------------
// Default options: Encode and Decode exactly

TEST(Url, DefaultOptionsAreEncodeAndDecode) {
    std::mt19937 rng(14);
    for (int round = 0; round < 200; ++round) {
        const std::u16string text = round % 2 ? RandomText(rng, rng() % 200) : RandomEscapes(rng, rng() % 200);
        for (const bool amp : {false, true}) {
            EncodeOptions e;
            e.crLfAsAmp = amp;
            EncodeReport er;
            EXPECT_EQ(EncodeUrl(text, e, &er), Encode(text, amp));
            EXPECT_EQ(er.lost, FindTextLoss(text).count);
            DecodeOptions d;
            d.crLfAsAmp = amp;
            EXPECT_EQ(DecodeUrl(text, d), Decode(text, amp));
        }
    }
}

// Code page 932's decoded bytes that do not read back: every byte pair as
// two escapes counts what FindByteLoss counts in those bytes.
TEST(Url, ShiftJisInvalidBytesOfEveryPair) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
        const unsigned b1 = pair >> 8, b2 = pair & 0xFF;
        const std::u16string text = {u'%', kHex[b1 >> 4], kHex[b1 & 15], u'%', kHex[b2 >> 4], kHex[b2 & 15]};
        DecodeReport report;
        DecodeUrl(text, DecodeOptions{}, &report);
        const char bytes[2] = {static_cast<char>(b1), static_cast<char>(b2)};
        const ByteLoss loss = FindByteLoss(std::string_view(bytes, 2));
        ASSERT_EQ(report.invalid, loss.count) << std::hex << pair;
        if (loss.count != 0) {
            ASSERT_EQ(report.firstInvalid, loss.first * 3) << std::hex << pair;
        }
    }
    DecodeReport report;
    EXPECT_EQ(DecodeUrl(u"ab%81%20%ED%40", DecodeOptions{}, &report), u"ab\u30FB " + Decode(u"%ED%40", false));
    EXPECT_EQ(report.invalid, 3u);
    EXPECT_EQ(report.firstInvalid, 2u);
}

// ---------------------------------------------------------------------------
// UTF-8 against the standard's steps

TEST(Url, Utf8DecoderOnEveryByteAndBytePair) {
    static const char16_t kHex[] = u"0123456789abcdef";
    DecodeOptions options;
    options.charset = Charset::kUtf8;
    const auto check = [&](const std::vector<unsigned>& bytes) {
        std::u16string text;
        for (const unsigned b : bytes) text += {u'%', kHex[b >> 4], kHex[b & 15]};
        std::uint64_t errors = 0;
        const std::u16string want = ReferenceUtf8Decode(bytes, errors);
        DecodeReport report;
        EXPECT_EQ(DecodeUrl(text, options, &report), want);
        EXPECT_EQ(report.invalid, errors);
        return !testing::Test::HasFailure();
    };
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
        ASSERT_TRUE(check({pair >> 8, pair & 0xFF})) << std::hex << pair;
        if ((pair & 0xFF) == 0) {
            ASSERT_TRUE(check({pair >> 8})) << std::hex << pair;
        }
    }
}

TEST(Url, Utf8RandomBytesAndText) {
    std::mt19937 rng(8);
    for (int round = 0; round < 2000; ++round) {
        // Bytes biased towards sequences' leads and continuations.
        std::vector<unsigned> bytes(rng() % 24);
        for (unsigned& b : bytes) b = rng() % 3 == 0 ? 0x80 + rng() % 0x40 : rng() % 2 ? 0xC0 + rng() % 0x40 : rng() % 256;
        std::u16string text;
        for (const unsigned b : bytes) text += {u'%', u"0123456789ABCDEF"[b >> 4], u"0123456789ABCDEF"[b & 15]};
        std::uint64_t errors = 0;
        const std::u16string want = ReferenceUtf8Decode(bytes, errors);
        DecodeOptions options;
        options.charset = Charset::kUtf8;
        DecodeReport report;
        ASSERT_EQ(DecodeUrl(text, options, &report), want);
        ASSERT_EQ(report.invalid, errors);

        // The encoder, and decoding its output back.
        const std::u16string source = RandomText(rng, rng() % 60);
        std::uint64_t lost = 0;
        const std::vector<unsigned> utf8 = ReferenceUtf8Encode(source, lost);
        for (const EscapeSet set : kSets) {
            for (const bool amp : {false, true}) {
                EncodeOptions e;
                e.charset = Charset::kUtf8;
                e.escape = set;
                e.crLfAsAmp = amp;
                EncodeReport er;
                const std::u16string encoded = EncodeUrl(source, e, &er);
                ASSERT_EQ(encoded, ReferenceEscape(utf8, set, amp));
                ASSERT_EQ(er.lost, lost);
                DecodeOptions d;
                d.charset = Charset::kUtf8;
                d.plusAsSpace = set == EscapeSet::kForm;
                d.crLfAsAmp = amp;
                std::uint64_t errors2 = 0;
                ASSERT_EQ(DecodeUrl(encoded, d), ReferenceUnescape(Charset::kUtf8, encoded, d.plusAsSpace, amp, errors2));
            }
        }
    }
}

TEST(Url, UnescapingRuleOfUtf8AndEucJp) {
    std::mt19937 rng(3);
    for (int round = 0; round < 1000; ++round) {
        const std::u16string text = RandomEscapes(rng, rng() % 80);
        for (const Charset charset : {Charset::kUtf8, Charset::kEucJp}) {
            for (int option = 0; option < 4; ++option) {
                DecodeOptions d;
                d.charset = charset;
                d.plusAsSpace = option & 1;
                d.crLfAsAmp = option & 2;
                std::uint64_t errors = 0;
                std::size_t first = std::u16string::npos;
                DecodeReport report;
                ASSERT_EQ(DecodeUrl(text, d, &report),
                          ReferenceUnescape(charset, text, d.plusAsSpace, d.crLfAsAmp, errors, &first));
                ASSERT_EQ(report.invalid, errors);
                ASSERT_EQ(report.firstInvalid, first);
            }
        }
    }
    DecodeOptions d;
    d.charset = Charset::kUtf8;
    EXPECT_EQ(DecodeUrl(u"%41%42%43 東京%E9%A7%85 %G1 x%4", d), u"ABC 東京駅 %G1 x%4");
    d.charset = Charset::kEucJp;
    EXPECT_EQ(DecodeUrl(u"%c5%ec%B5%FE%a4%A2%8E%B1%41", d), u"東京あｱA");
}

// EUC-JP's bytes, every set: the escapes of what its encoder writes, "&#N;"
// included.
TEST(Url, EucJpEncodingThroughTheSets) {
    std::mt19937 rng(20);
    for (int round = 0; round < 500; ++round) {
        const std::u16string text = RandomText(rng, rng() % 80);
        std::string bytes;
        const std::uint64_t lost = eucjp::AppendBytes(bytes, text).lost;
        std::vector<unsigned> byteValues;
        for (const char b : bytes) byteValues.push_back(static_cast<unsigned char>(b));
        for (const EscapeSet set : kSets) {
            for (const bool amp : {false, true}) {
                EncodeOptions e;
                e.charset = Charset::kEucJp;
                e.escape = set;
                e.crLfAsAmp = amp;
                EncodeReport report;
                ASSERT_EQ(EncodeUrl(text, e, &report), ReferenceEscape(byteValues, set, amp));
                ASSERT_EQ(report.lost, lost);
            }
        }
    }
    EncodeOptions e;
    e.charset = Charset::kEucJp;
    e.escape = EscapeSet::kComponent;
    EncodeReport report;
    EXPECT_EQ(EncodeUrl(u"東京 😀", e, &report), u"%C5%EC%B5%FE%20%26%23128512%3B");
    EXPECT_EQ(report.lost, 1u);
    EXPECT_EQ(report.firstLost, 3u);
}

// The slower ways of writing UTF-8 and EUC-JP escapes that other
// processors take (the tests above take the fastest this one has), on
// texts long enough for several runs and blocks: the text route against the
// reference escapes, the byte route against the text route.
TEST(Url, EncodingInEveryWayOfThisProcessor) {
    std::mt19937 rng(41);
    for (int way = 1; way < detail::EncodeUrlWays(); ++way) {
        SCOPED_TRACE(way);
        detail::UseEncodeUrlWay(way);
        for (int round = 0; round < 100; ++round) {
            const std::u16string text = RandomText(rng, rng() % 400);
            std::uint64_t lost = 0;
            const std::vector<unsigned> utf8 = ReferenceUtf8Encode(text, lost);
            std::string bytes;
            eucjp::AppendBytes(bytes, text);
            std::vector<unsigned> eucJp;
            for (const char b : bytes) eucJp.push_back(static_cast<unsigned char>(b));
            const std::string cp932 = CodePageBridge::ToBytes(text);
            const std::u16string cp932Text = CodePageBridge::ToText(cp932);
            for (const Charset charset : {Charset::kUtf8, Charset::kEucJp}) {
                for (const EscapeSet set : kSets) {
                    const EncodeOptions options{charset, set, round % 2 != 0};
                    ASSERT_EQ(EncodeUrl(text, options),
                              ReferenceEscape(charset == Charset::kUtf8 ? utf8 : eucJp, set, options.crLfAsAmp));
                    const std::u16string want = EncodeUrl(cp932Text, options);
                    std::string got;
                    EncodeUrlBytesAppend(got, cp932, TextBytes::kCp932, options, true);
                    ASSERT_EQ(std::u16string(got.begin(), got.end()), want);
                }
            }
        }
    }
    detail::UseEncodeUrlWay(0);
}

// The byte route from code page 932 bytes into UTF-8 and EUC-JP escapes,
// with every set, with and without "&", in each way of this processor (in
// pieces of up to maxPiece bytes, or whole with 0): what the text route
// gives for the whole text.
void ExpectByteRouteInEveryWay(const std::string& bytes, std::mt19937& rng, std::size_t maxPiece) {
    const std::u16string text = CodePageBridge::ToText(bytes);
    for (const Charset charset : {Charset::kUtf8, Charset::kEucJp}) {
        for (const EscapeSet set : kSets) {
            for (const bool amp : {false, true}) {
                const EncodeOptions options{charset, set, amp};
                const std::u16string want = EncodeUrl(text, options);
                for (int way = 0; way < detail::EncodeUrlWays(); ++way) {
                    SCOPED_TRACE(way);
                    detail::UseEncodeUrlWay(way);
                    std::string got;
                    for (std::size_t at = 0; at < bytes.size();) {
                        const std::size_t rest = bytes.size() - at;
                        const std::size_t piece =
                            maxPiece == 0 ? rest : std::min<std::size_t>(rest, 1 + rng() % maxPiece);
                        at += EncodeUrlBytesAppend(got, std::string_view(bytes).substr(at, piece), TextBytes::kCp932,
                                                   options, piece == rest);
                    }
                    detail::UseEncodeUrlWay(0);
                    ASSERT_TRUE(std::u16string(got.begin(), got.end()) == want);
                }
            }
        }
    }
}

// Every code page 932 character (each lead byte with every byte after it,
// each byte alone), among common characters enough for whole blocks, by the
// byte route in each way of this processor: what the text route gives.
TEST(Url, EveryCodePage932CharacterByTheByteRouteInEveryWay) {
    std::mt19937 rng(932);
    const std::u16string common[] = {u"東", u"駅", u"テ", u"ス", u"の", u"ｱ", u"ﾟ",
                                     u"a", u" ", u"~", u"\r\n", u"亜", u"＋"};
    std::string bytes;
    for (unsigned lead = 0; lead < 256; ++lead) {
        for (unsigned trail = 0; trail < 256; ++trail) {
            if (trail != 0 && !cp932::IsLeadByte(static_cast<std::uint8_t>(lead))) break;
            for (unsigned n = rng() % 24; n > 0; --n) {
                bytes += CodePageBridge::ToBytes(common[rng() % std::size(common)]);
            }
            bytes += static_cast<char>(lead);
            if (cp932::IsLeadByte(static_cast<std::uint8_t>(lead))) bytes += static_cast<char>(trail);
        }
    }
    ExpectByteRouteInEveryWay(bytes, rng, 0);
}

// Long runs of one kind of character (half-width katakana, which write the
// most escapes a byte, kanji, kept ASCII, spaces), each run broken now and
// then by a character the blocks leave to the slow route (NUL, a CR, a
// stray byte, a lost pair), in pieces that end anywhere: the byte route in
// each way gives what the text route gives for the whole text.
TEST(Url, LongRunsOfOneKindByTheByteRouteInEveryWay) {
    std::mt19937 rng(9);
    const std::u16string kinds[] = {u"ｱﾟｶﾞｯ", u"東京駅亜", u"abcXYZ09-._~", u"  a b", u"ｱ東a "};
    const std::string breaks[] = {std::string(1, '\0'), "\r", "\r\n", "\x80", "\x81\x20", "\xA0", "\x87\x40"};
    for (const std::u16string& kind : kinds) {
        std::string bytes;
        while (bytes.size() < 40000) {
            for (unsigned n = rng() % 3000; n > 0; --n) {
                bytes += CodePageBridge::ToBytes(kind.substr(rng() % kind.size(), 1));
            }
            bytes += breaks[rng() % std::size(breaks)];
        }
        ExpectByteRouteInEveryWay(bytes, rng, 20000);
    }
}

// ---------------------------------------------------------------------------
// Escape sets and "+" for code page 932

TEST(Url, ShiftJisSetsAndPlus) {
    std::mt19937 rng(932);
    for (int round = 0; round < 500; ++round) {
        const std::u16string text = RandomText(rng, rng() % 80);
        for (const EscapeSet set : {EscapeSet::kComponent, EscapeSet::kForm}) {
            for (const bool amp : {false, true}) {
                EncodeOptions e;
                e.escape = set;
                e.crLfAsAmp = amp;
                EncodeReport er;
                ASSERT_EQ(EncodeUrl(text, e, &er), ReferenceEscape(Cp932Bytes(text), set, amp));
                ASSERT_EQ(er.lost, FindTextLoss(text).count);
            }
        }
        // "+" is a space before the pairing rule sees it; "%2B" stays "+".
        const std::u16string escapes = RandomEscapes(rng, rng() % 80);
        std::u16string spaced = escapes;
        for (char16_t& c : spaced) c = c == u'+' ? u' ' : c;
        DecodeOptions d;
        d.plusAsSpace = true;
        ASSERT_EQ(DecodeUrl(escapes, d), Decode(spaced, false));
    }
    EncodeOptions form;
    form.escape = EscapeSet::kForm;
    EXPECT_EQ(EncodeUrl(u"テスト a&b", form), u"%83e%83X%83g+a%26b");
}

// ---------------------------------------------------------------------------
// Pieces give what the whole gives

template <class Options, class Report, class Append>
std::pair<std::u16string, Report> InPieces(std::u16string_view text, const Options& options, std::mt19937& rng,
                                           std::size_t longest, Append append) {
    std::u16string out, held;
    Report report;
    for (std::size_t at = 0; at < text.size() || at == 0;) {
        const std::size_t to = std::min(text.size(), at + 1 + rng() % longest);
        held += text.substr(at, to - at);
        at = to;
        const bool final = at == text.size();
        held.erase(0, append(out, held, options, final, &report));
        if (final) break;
    }
    return {out, report};
}

TEST(Url, PiecesGiveTheWhole) {
    std::mt19937 rng(15);
    for (int round = 0; round < 300; ++round) {
        // Now and then longer than a chunk of the conversions' own.
        const std::u16string text = RandomText(rng, 1 + rng() % (round % 10 == 0 ? 5000 : 300));
        const std::u16string escapes = RandomEscapes(rng, 1 + rng() % 300);
        const std::size_t longest = round % 2 ? 5 : 64;
        for (const Charset charset : kCharsets) {
            for (int o = 0; o < 6; ++o) {
                EncodeOptions e;
                e.charset = charset;
                e.escape = kSets[o % 3];
                e.crLfAsAmp = o >= 3;
                EncodeReport whole;
                const std::u16string want = EncodeUrl(text, e, &whole);
                const auto [got, report] = InPieces<EncodeOptions, EncodeReport>(text, e, rng, longest, EncodeUrlAppend);
                ASSERT_EQ(got, want);
                ASSERT_EQ(report.lost, whole.lost);
            }
            for (int o = 0; o < 8; ++o) {
                DecodeOptions d;
                d.charset = charset;
                d.plusAsSpace = o & 1;
                d.crLfAsAmp = o & 2;
                d.detect = o & 4;
                DecodeReport whole;
                const std::u16string want = DecodeUrl(escapes, d, &whole);
                const auto [got, report] = InPieces<DecodeOptions, DecodeReport>(escapes, d, rng, longest, DecodeUrlAppend);
                ASSERT_EQ(got, want) << static_cast<int>(charset) << " " << o;
                ASSERT_EQ(report.invalid, whole.invalid) << static_cast<int>(charset) << " " << o;
                ASSERT_EQ(report.linesIn, whole.linesIn);
            }
        }
    }
}

// Long texts go 64 units at a time where the processor can: long runs of
// what that takes (characters of one to three bytes, kana and kanji of
// EUC-JP, in either hex case, escaped and plain ASCII, "+", runs of plain
// units) with, more or less often, what it leaves to the usual way
// (characters past U+FFFF, JIS X 0212, invalid, overlong and cut bytes,
// surrogates, broken escapes, units from 0x80 up, some with the low byte of
// a "%" or a digit, in a digit's place too, or the low seven bits of a
// digit). Whole, and in long pieces.
TEST(Url, LongTextsAgainstTheRule) {
    std::mt19937 rng(6416);
    const auto hex = [&](unsigned b) {
        const char16_t* const digits = rng() % 4 == 0 ? u"0123456789abcdef" : u"0123456789ABCDEF";
        return std::u16string{u'%', digits[b >> 4], digits[b & 15]};
    };
    static const std::u16string kOdd[] = {
        u"%F0%9F%98%80", u"%ED%A0%80", u"%C0%AF", u"%E0%80%AF", u"%E3%81", u"%E3%81a", u"%80", u"%FF", u"%",
        u"%4", u"%G1", u"テ", u"\u2525", u"%\u2525", u"%E3%81%8\u0130", u"%C3%B\u3042", u"%\u3041A", u"%8F%A2%AF",
        u"%8E%E0", u"%A4a", u"%A4", u"&", u"\U0001F600", u"%E3%81%82%E3", u"%8E", u"%\u00B4\u00B1"};
    for (int round = 0; round < 48; ++round) {
        const Charset charset = round % 2 == 0 ? Charset::kUtf8 : Charset::kEucJp;
        // An odd piece every few units to every few thousand.
        const unsigned oddEvery = 1u << (2 + round % 12);
        std::u16string text;
        const std::size_t units = 1500 + rng() % 12000;
        // Every third round without ASCII between the characters: as many
        // of them as the steps take at once, across the edges of their reads.
        const unsigned picks = round % 3 == 2 ? 8 : 16;
        while (text.size() < units) {
            const unsigned pick = rng() % picks;
            if (rng() % oddEvery == 0) {
                text += kOdd[rng() % std::size(kOdd)];
            } else if (pick < 6) {  // kana and kanji (in those rounds, only those EUC-JP holds)
                std::string bytes;
                do {
                    const char16_t c =
                        static_cast<char16_t>(pick < 3 ? 0x3041 + rng() % 0x56 : 0x4E00 + rng() % 0x5000);
                    bytes.clear();
                    if (charset == Charset::kUtf8) {
                        bytes = Utf16ToUtf8(std::u16string(1, c));
                    } else {
                        eucjp::AppendBytes(bytes, std::u16string_view(&c, 1), true);
                    }
                } while (picks == 8 && bytes.size() > 3);
                for (const char b : bytes) text += hex(static_cast<unsigned char>(b));
            } else if (pick < 8) {  // two-byte UTF-8, half-width katakana of EUC-JP, any pair
                if (charset == Charset::kUtf8) {
                    const unsigned c = 0x80 + rng() % 0x780;
                    text += hex(0xC0 | c >> 6) + hex(0x80 | (c & 0x3F));
                } else {
                    text += pick == 6 ? hex(0x8E) + hex(0xA1 + rng() % 63) : hex(0xA1 + rng() % 94) + hex(0xA1 + rng() % 94);
                }
            } else if (pick < 10) {
                text += hex(rng() % 0x80);
            } else if (pick < 12) {
                text += rng() % 2 ? u"+" : u"%2B";
            } else {
                text += std::u16string(1 + rng() % (pick == 15 ? 40 : 6), static_cast<char16_t>(u'a' + rng() % 26));
            }
        }
        for (int option = 0; option < 3; ++option) {
            DecodeOptions d;
            d.charset = charset;
            d.plusAsSpace = option == 1;
            d.crLfAsAmp = option == 2;
            std::uint64_t errors = 0;
            std::size_t first = std::u16string::npos;
            const std::u16string want = ReferenceUnescape(charset, text, d.plusAsSpace, d.crLfAsAmp, errors, &first);
            DecodeReport report;
            ASSERT_EQ(DecodeUrl(text, d, &report), want) << round << " " << option;
            ASSERT_EQ(report.invalid, errors);
            ASSERT_EQ(report.firstInvalid, first);
            const auto [got, pieces] = InPieces<DecodeOptions, DecodeReport>(text, d, rng, 3000, DecodeUrlAppend);
            ASSERT_EQ(got, want) << round << " " << option;
            ASSERT_EQ(pieces.invalid, errors);
        }
    }
}

// ---------------------------------------------------------------------------
// Detection

// A line's reading in one encoding: as the whole text in that encoding
// decodes it, whatever follows its LF (a plain unit after it, cut off).
std::u16string ReadLine(std::u16string_view line, Charset charset, DecodeOptions options, bool endsText,
                        std::uint64_t& invalid) {
    options.detect = false;
    options.charset = charset;
    DecodeReport report;
    std::u16string text = DecodeUrl(std::u16string(line) + (endsText ? u"" : u"X"), options, &report);
    if (!endsText) text.pop_back();
    invalid = report.invalid;
    return text;
}

TEST(Url, DetectionChoosesEachLinesReading) {
    std::mt19937 rng(16);
    for (int round = 0; round < 300; ++round) {
        const std::u16string text = RandomEscapes(rng, rng() % 400);
        DecodeOptions d;
        d.detect = true;
        d.charset = kCharsets[round % 3];
        d.plusAsSpace = round % 2;
        std::u16string want;
        std::array<std::uint64_t, kCharsetCount> lines{};
        for (std::size_t pos = 0; pos < text.size();) {
            const std::size_t lf = text.find(u'\n', pos);
            const std::size_t end = lf == std::u16string::npos ? text.size() : lf + 1;
            const std::u16string_view line = std::u16string_view(text).substr(pos, end - pos);
            pos = end;
            std::array<std::u16string, kCharsetCount> texts;
            std::array<LineReading, kCharsetCount> readings;
            for (std::size_t k = 0; k < kCharsetCount; ++k) {
                std::uint64_t invalid = 0;
                texts[k] = ReadLine(line, static_cast<Charset>(k), d, lf == std::u16string::npos, invalid);
                readings[k] = {texts[k], invalid};
            }
            bool high = false;
            for (std::size_t i = 0; i + 2 < line.size(); ++i) high = high || (line[i] == u'%' && HexValue(line[i + 1]) >= 8 && HexValue(line[i + 2]) >= 0);
            if (!high) {
                want += texts[static_cast<std::size_t>(d.charset)];
                continue;
            }
            const auto chosen = static_cast<std::size_t>(ChooseCharset(readings, d.charset));
            want += texts[chosen];
            ++lines[chosen];
        }
        DecodeReport report;
        ASSERT_EQ(DecodeUrl(text, d, &report), want);
        ASSERT_EQ(report.linesIn, lines);
    }
}

// The counts detection takes from a line's runs, against the line decoded
// in each encoding: runs of pieces of UTF-8 and EUC-JP sequences, whole,
// cut and stray, between plain units; below and past a limit.
TEST(Url, CountsFromRunsAreTheDecodersCounts) {
    static const std::vector<std::vector<unsigned>> kPieces = {
        {0xE3, 0x81, 0x82}, {0xEF, 0xBD, 0xB1}, {0xC3, 0xA9}, {0xF0, 0x9F, 0x98, 0x80}, {0xE0, 0x80}, {0xED, 0xA0},
        {0xA4, 0xA2}, {0xB0, 0xA1}, {0x8E, 0xB1}, {0x8E, 0xE0}, {0x8F, 0xB0, 0xA1}, {0xA9, 0xA1}, {0x41}, {0x80},
        {0xFF}, {0xE3}, {0x8E}};
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::mt19937 rng(18);
    detail::Runs runs, resumed;
    for (int round = 0; round < 3000; ++round) {
        std::u16string line;
        for (unsigned n = rng() % 30; n > 0; --n) {
            if (rng() % 5 == 0) line += u'x';
            for (const unsigned b : kPieces[rng() % kPieces.size()]) line += {u'%', kHex[b >> 4], kHex[b & 15]};
        }
        detail::GatherRuns(line, runs);
        // The first run, then the rest, gather the same runs.
        detail::GatherFirstRun(line, resumed);
        ASSERT_EQ(resumed.count, std::min<std::size_t>(runs.count, 1));
        detail::GatherRestOfRuns(line, resumed);
        ASSERT_EQ(resumed.count, runs.count);
        for (std::size_t r = 0; r < runs.count; ++r) {
            ASSERT_EQ(resumed.ends[r], runs.ends[r]);
            ASSERT_EQ(resumed.starts[r], runs.starts[r]);
            ASSERT_EQ(resumed.partners[r], runs.partners[r]);
        }
        ASSERT_TRUE(std::equal(runs.bytes.begin(), runs.bytes.begin() + (runs.count ? runs.ends[runs.count - 1] : 0),
                               resumed.bytes.begin()));
        for (const Charset charset : {Charset::kUtf8, Charset::kEucJp}) {
            DecodeOptions options;
            options.charset = charset;
            DecodeReport report;
            DecodeUrl(line, options, &report);
            const auto count = [&](std::uint64_t limit) {
                return charset == Charset::kUtf8 ? detail::CountUtf8RunsInvalid(runs, limit)
                                                 : detail::CountEucJpRunsInvalid(runs, limit);
            };
            ASSERT_EQ(count(~std::uint64_t{0}), report.invalid) << static_cast<int>(charset) << round;
            const std::uint64_t limit = rng() % 4;
            ASSERT_EQ(count(limit) > limit, report.invalid > limit);
        }
    }
}

// Runs gathered a few at a time are the runs gathered at once; a count from
// a run on and the count of the runs before it add up to the whole count;
// the quick lower bounds never pass the count, in text of every kind.
TEST(Url, RunsInStepsTheirCountsAndLowerBounds) {
    static const std::vector<std::vector<unsigned>> kPieces = {
        {0xE3, 0x81, 0x82}, {0xC3, 0xA9}, {0xF0, 0x9F, 0x98, 0x80}, {0xF4, 0x90}, {0xE0, 0x80}, {0xC0, 0x80},
        {0xC1}, {0xF5}, {0xA4, 0xA2}, {0x8E, 0xB1}, {0x8E, 0x90}, {0x8F, 0xB0, 0xA1}, {0x8F, 0xA2, 0x80},
        {0x8F}, {0x90}, {0xA0, 0xA1}, {0x83, 0x65}, {0xB1}, {0x41}, {0x80}, {0xFF}, {0xE3}};
    static const char16_t kHex[] = u"0123456789abcdef";
    std::mt19937 rng(1416);
    detail::Runs runs, stepped;
    for (int round = 0; round < 3000; ++round) {
        std::u16string line;
        for (unsigned n = rng() % 200; n > 0; --n) {
            if (rng() % 6 == 0) line += rng() % 2 ? u'x' : u'%';
            for (const unsigned b : kPieces[rng() % kPieces.size()]) line += {u'%', kHex[b >> 4], kHex[b & 15]};
        }
        detail::GatherRuns(line, runs);
        detail::GatherFirstRun(line, stepped);
        while (stepped.resume != detail::Runs::kAll) {
            detail::GatherMoreRuns(line, stepped, stepped.count + rng() % 5);
        }
        ASSERT_EQ(stepped.count, runs.count);
        for (std::size_t r = 0; r < runs.count; ++r) ASSERT_EQ(stepped.ends[r], runs.ends[r]);
        const std::size_t from = rng() % (runs.count + 1);
        detail::Runs before = runs;
        before.count = from;
        const std::uint64_t all = ~std::uint64_t{0};
        const std::uint64_t utf8 = detail::CountUtf8RunsInvalid(runs, all, from);
        const std::uint64_t eucJp = detail::CountEucJpRunsInvalid(runs, all, from);
        ASSERT_EQ(detail::CountUtf8RunsInvalid(before, all) + utf8, detail::CountUtf8RunsInvalid(runs, all));
        ASSERT_EQ(detail::CountEucJpRunsInvalid(before, all) + eucJp, detail::CountEucJpRunsInvalid(runs, all));
        ASSERT_LE(detail::Utf8RunsInvalidAtLeast(runs, from), utf8) << round;
        ASSERT_LE(detail::EucJpRunsInvalidAtLeast(runs, from), eucJp) << round;
    }
}

TEST(Url, DetectionOfALineLongerThanTheCap) {
    // Over 1 Mi units without an LF: decided on what came first, and the
    // same in pieces.
    std::mt19937 rng(17);
    std::u16string text = u"%E3%83%86\n";
    while (text.size() < (std::size_t{1} << 20) + 5000) text += u"%E3%83%86%83e";
    text += u"\n%83e%83X\n";
    DecodeOptions d;
    d.detect = true;
    DecodeReport whole;
    const std::u16string want = DecodeUrl(text, d, &whole);
    const auto [got, report] = InPieces<DecodeOptions, DecodeReport>(text, d, rng, 300000, DecodeUrlAppend);
    EXPECT_TRUE(got == want);
    EXPECT_EQ(report.linesIn, whole.linesIn);
    std::uint64_t lines = 0;
    for (const std::uint64_t n : whole.linesIn) lines += n;
    EXPECT_EQ(lines, 4u);  // the long line counts for each part decided on its own
}

// Code page 932 bytes straight to the encoded bytes: what the text route
// gives, in pieces too, with the bytes' own loss.
TEST(Url, EncodeFromShiftJisBytes) {
    std::mt19937 rng(932);
    static const char* const kPieces[] = {"\x83\x65", "\x8A\xBF", "\xB1", "a b", "\r\n", "\r", "&", "\x81",
                                          "\x80", "\xFD", "\xED\x40", "+", "~", "\x81\x20"};
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        while (bytes.size() < static_cast<std::size_t>(round * 10)) bytes += kPieces[rng() % std::size(kPieces)];
        for (const Charset charset : {Charset::kShiftJis, Charset::kUtf8}) {
            for (int o = 0; o < 6; ++o) {
                const EncodeOptions e{charset, kSets[o % 3], o >= 3};
                const std::string want = CodePageBridge::ToBytes(EncodeUrl(CodePageBridge::ToText(bytes), e));
                std::string whole, pieces, held;
                ByteLoss loss, pieceLoss;
                ASSERT_EQ(EncodeUrlFromBytesAppend(whole, bytes, e, true, &loss), bytes.size());
                ASSERT_EQ(whole, want);
                ASSERT_EQ(loss.count, FindByteLoss(bytes).count);
                for (std::size_t at = 0; at < bytes.size();) {
                    const std::size_t to = std::min(bytes.size(), at + 1 + rng() % 9);
                    held += bytes.substr(at, to - at);
                    at = to;
                    held.erase(0, EncodeUrlFromBytesAppend(pieces, held, e, at == bytes.size(), &pieceLoss));
                }
                ASSERT_EQ(pieces, want);
                ASSERT_EQ(pieceLoss.count, loss.count);
            }
        }
    }
}

TEST(Url, MojibakeLines) {
    // Lines that leave invalid bytes in the chosen encoding while another
    // reads them cleanly; lines clean in the chosen one do not count.
    DecodeOptions options;  // Shift_JIS
    const std::u16string text = u"q=%E6%9D%B1%E4%BA%AC\n%83e%83X%83g\r\nabc%41\n%E3%81%82%E3%81%84\n%81";
    const MojibakeLines found = FindMojibakeLines(text, options);
    EXPECT_EQ(found.readBy, Charset::kUtf8);  // 東京 in UTF-8 leaves a lone lead byte in Shift_JIS
    // Each line on its own: counted exactly when its own reading is invalid
    // and another one's is not.
    std::uint64_t lines = 0;
    for (const std::u16string_view line : {u"q=%E6%9D%B1%E4%BA%AC\n", u"%83e%83X%83g\r\n", u"abc%41\n",
                                           u"%E3%81%82%E3%81%84\n", u"%81"}) {
        DecodeReport own;
        DecodeUrl(line, options, &own);
        bool other = false;
        for (const Charset charset : {Charset::kUtf8, Charset::kEucJp}) {
            DecodeReport report;
            DecodeUrl(line, {charset, false, false, false}, &report);
            other = other || report.invalid == 0;
        }
        lines += own.invalid != 0 && other;
    }
    EXPECT_EQ(found.lines, lines);
    EXPECT_GE(lines, 1u);
    options.charset = Charset::kUtf8;
    EXPECT_EQ(FindMojibakeLines(u"%E6%9D%B1\n%41\n", options).lines, 0u);
}

TEST(Url, Labels) {
    for (const char* label : {"utf-8", "utf8", "unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8",
                              "x-unicode20utf8", " UTF-8\t\n", "Utf8"}) {
        EXPECT_EQ(CharsetFromLabel(label), Charset::kUtf8) << label;
    }
    for (const char* label : {"euc-jp", "cseucpkdfmtjapanese", "x-euc-jp", "EUC-JP "}) {
        EXPECT_EQ(CharsetFromLabel(label), Charset::kEucJp) << label;
    }
    for (const char* label : {"shift_jis", "csshiftjis", "ms932", "ms_kanji", "sjis", "windows-31j", "x-sjis",
                              "cp932", "\fShift_JIS\r", "CP932"}) {
        EXPECT_EQ(CharsetFromLabel(label), Charset::kShiftJis) << label;
    }
    for (const char* label : {"", "utf-16", "euc jp", "latin1", "utf-8x", "\xC2\xA0utf-8"}) {
        EXPECT_FALSE(CharsetFromLabel(label).has_value()) << label;
    }
    EXPECT_EQ(CharsetName(Charset::kShiftJis), "Shift_JIS");
    EXPECT_EQ(CharsetName(Charset::kUtf8), "UTF-8");
    EXPECT_EQ(CharsetName(Charset::kEucJp), "EUC-JP");
}

}  // namespace
}  // namespace tessaly

// Choosing a line's encoding. The corpus: words of the IPA dictionary as
// Debian's mecab-ipadic installs it (CSV files in EUC-JP, the word in the
// first field), one to three to a line, some with an ASCII word, put into a
// query as a form sends it, each line in one of the three encodings; then
// the same with only the words of one or two characters. The words are
// split in two halves by a hash; the costs in codec/detect.cpp were tuned on
// the "tune" half only (TESSALY_DETECT_HALF=tune shows it and its misses),
// and the goal is checked on the other one.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "codec/codepage.h"
#include "codec/detect.h"
#include "codec/eucjp.h"
#include "codec/fidelity.h"
#include "codec/url.h"
#include "codec/utf8.h"

namespace tessaly {
namespace {

constexpr const char* kDictionary = "/usr/share/mecab/dic/ipadic/";
constexpr const char* kDictionaryFiles[] = {
    "Adj.csv",         "Adnominal.csv",  "Adverb.csv",        "Conjunction.csv",  "Interjection.csv",
    "Noun.adjv.csv",   "Noun.adverbal.csv", "Noun.csv",       "Noun.name.csv",    "Noun.org.csv",
    "Noun.place.csv",  "Noun.proper.csv", "Noun.verbal.csv",  "Prefix.csv",       "Suffix.csv",
    "Verb.csv",
};

struct Reading {
    std::u16string text;
    std::uint64_t invalid = 0;
};
using Readings = std::array<Reading, kCharsetCount>;

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if ((c | 0x20) >= u'a' && (c | 0x20) <= u'f') return (c | 0x20) - u'a' + 10;
    return -1;
}

bool EscapeAt(std::u16string_view line, std::size_t i) {
    return i + 2 < line.size() && line[i] == u'%' && HexValue(line[i + 1]) >= 0 && HexValue(line[i + 2]) >= 0;
}

char EscapedByte(std::u16string_view line, std::size_t i) {
    return static_cast<char>(HexValue(line[i + 1]) << 4 | HexValue(line[i + 2]));
}

void AppendCp932(Reading& r, std::string_view piece) {
    ByteLoss loss;
    CodePageBridge::AppendText(r.text, piece, true, loss);
    r.invalid += loss.count;
}

// The line read in each encoding: UTF-8 and EUC-JP decode each run of
// escapes as bytes; code page 932 pairs an escape with the unit after it (a
// second escape, or a character whose bytes follow), and leaves an escape
// that ends the line as it is.
Readings ReadLine(std::u16string_view line) {
    Readings r;
    Reading& cp = r[static_cast<std::size_t>(Charset::kShiftJis)];
    bool partnerTaken = false;  // code page 932 read the unit after the last run
    for (std::size_t i = 0; i < line.size();) {
        if (!EscapeAt(line, i)) {
            for (Reading& reading : r) {
                if (&reading != &cp || !partnerTaken) reading.text += line[i];
            }
            partnerTaken = false;
            ++i;
            continue;
        }
        std::string bytes;
        std::size_t end = i;
        for (; EscapeAt(line, end); end += 3) bytes += EscapedByte(line, end);
        r[static_cast<std::size_t>(Charset::kUtf8)].invalid +=
            AppendUtf8AsUtf16(r[static_cast<std::size_t>(Charset::kUtf8)].text, bytes).invalid;
        r[static_cast<std::size_t>(Charset::kEucJp)].invalid +=
            eucjp::AppendText(r[static_cast<std::size_t>(Charset::kEucJp)].text, bytes).invalid;
        for (std::size_t b = 0; b < bytes.size(); b += 2) {
            if (b + 1 < bytes.size()) {
                AppendCp932(cp, bytes.substr(b, 2));
            } else if (end == line.size()) {
                cp.text += line.substr(end - 3);
            } else {
                const std::u16string_view partner = line.substr(end, 1);
                const std::string partnerBytes = CodePageBridge::ToBytes(partner);
                const bool joins = CodePageBridge::ToText(partnerBytes) == partner;
                AppendCp932(cp, bytes.substr(b) + (joins ? partnerBytes : ""));
                if (!joins) cp.text += partner;
                partnerTaken = true;
            }
        }
        i = end;
    }
    return r;
}

Charset Choose(const Readings& r, Charset preferred) {
    std::array<LineReading, kCharsetCount> readings;
    for (std::size_t k = 0; k < kCharsetCount; ++k) readings[k] = {r[k].text, r[k].invalid};
    return ChooseCharset(readings, preferred);
}

Charset ChooseForLine(std::u16string_view line, Charset preferred) { return Choose(ReadLine(line), preferred); }

// A form's escaping: letters, digits and *-._ kept, a space as "+".
std::u16string FormEscape(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::u16string out;
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        if ((u >= '0' && u <= '9') || ((u | 0x20) >= 'a' && (u | 0x20) <= 'z') || u == '*' || u == '-' || u == '.' ||
            u == '_') {
            out += static_cast<char16_t>(u);
        } else if (u == ' ') {
            out += u'+';
        } else {
            out += {u'%', static_cast<char16_t>(kHex[u >> 4]), static_cast<char16_t>(kHex[u & 15])};
        }
    }
    return out;
}

// The dictionary's words with a byte of 0x80 and up, in the half asked for,
// and those of them of one or two characters (where readings agree most).
struct Words {
    std::vector<std::u16string> all, short_;
};

Words ReadWords(bool tuneHalf) {
    std::unordered_set<std::u16string> seen;
    Words words;
    for (const char* name : kDictionaryFiles) {
        std::ifstream file(std::string(kDictionary) + name, std::ios::binary);
        EXPECT_TRUE(file) << "missing " << kDictionary << name << " (Debian package mecab-ipadic)";
        std::string line;
        while (std::getline(file, line)) {
            const std::string_view surface = std::string_view(line).substr(0, line.find(','));
            std::u16string word;
            if (eucjp::AppendText(word, surface).invalid != 0 || word.size() == surface.size()) continue;
            // FNV-1a of the bytes: the same split on every run.
            std::uint32_t hash = 2166136261u;
            for (const char b : surface) hash = (hash ^ static_cast<unsigned char>(b)) * 16777619u;
            if (((hash >> 7) & 1) != (tuneHalf ? 1u : 0u)) continue;
            if (!seen.insert(word).second) continue;
            words.all.push_back(word);
            if (word.size() <= 2) words.short_.push_back(word);
        }
    }
    return words;
}

const char* Name(Charset charset) {
    return charset == Charset::kUtf8 ? "UTF-8" : charset == Charset::kEucJp ? "EUC-JP" : "Shift_JIS";
}

std::string Utf8(std::u16string_view text) { return Utf16ToUtf8(text); }

TEST(Detect, TheNamedTrapsAndTies) {
    // 有 in EUC-JP is also UTF-8 (a combining mark), 八百 also two Latin letters.
    for (const Charset preferred : {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp}) {
        EXPECT_EQ(ChooseForLine(u"q=%CD%AD", preferred), Charset::kEucJp);
        EXPECT_EQ(ChooseForLine(u"q=%C8%AC%C9%B4", preferred), Charset::kEucJp);
        EXPECT_EQ(ChooseForLine(u"q=%E3%83%86%E3%82%B9%E3%83%88", preferred), Charset::kUtf8);
        EXPECT_EQ(ChooseForLine(u"q=%83e%83X%83g", preferred), Charset::kShiftJis);
        EXPECT_EQ(ChooseForLine(u"q=abc+%41&x=1", preferred), preferred);
        // A Latin-1 letter in a word is UTF-8, where EUC-JP reads a kanji.
        EXPECT_EQ(ChooseForLine(u"q=caf%C3%A9", preferred), Charset::kUtf8);
        EXPECT_EQ(ChooseForLine(u"city=M%C3%BCnchen", preferred), Charset::kUtf8);
        EXPECT_EQ(ChooseForLine(u"q=Espa%C3%B1a+2024", preferred), Charset::kUtf8);
    }
}

struct CorpusLine {
    Charset charset;
    int words;
    std::u16string value, line;
};

// kLines lines in each encoding, from the given half of the dictionary.
std::vector<CorpusLine> Corpus(const std::vector<std::u16string>& words, int linesPerEncoding) {
    const std::u16string asciiWords[] = {u"tokyo", u"2024", u"pdf", u"iPhone", u"wiki", u"map", u"A", u"mp3"};
    const std::u16string keys[] = {u"q", u"p", u"kw", u"search", u"query"};
    const std::u16string separators[] = {u" ", u" ", u" ", u"\u3000", u""};
    std::mt19937 rng(20241);
    std::vector<CorpusLine> corpus;
    for (std::size_t k = 0; k < kCharsetCount; ++k) {
        const auto charset = static_cast<Charset>(k);
        for (int n = 0; n < linesPerEncoding;) {
            const int count = 1 + static_cast<int>(rng() % 3);
            std::vector<std::u16string> parts;
            for (int w = 0; w < count; ++w) parts.push_back(words[rng() % words.size()]);
            if (rng() % 10 < 3) parts.insert(parts.begin() + rng() % (parts.size() + 1), asciiWords[rng() % 8]);
            const std::u16string& separator = separators[rng() % 5];
            std::u16string value;
            for (std::size_t p = 0; p < parts.size(); ++p) value += (p ? separator : u"") + parts[p];
            std::string bytes;
            if (charset == Charset::kUtf8) {
                bytes = Utf8(value);
            } else if (charset == Charset::kEucJp) {
                if (eucjp::AppendBytes(bytes, value).lost != 0) continue;
            } else {
                if (FindTextLoss(value).count != 0) continue;  // not in code page 932
                bytes = CodePageBridge::ToBytes(value);
            }
            const std::u16string line = keys[rng() % 5] + u"=" + FormEscape(bytes) + (rng() % 4 ? u"" : u"&page=2");
            corpus.push_back({charset, count, value, line});
            ++n;
        }
    }
    return corpus;
}

// Prints the figures of the corpus for each encoding that wins ties, and
// checks the goal on them.
void Judge(const std::vector<CorpusLine>& corpus, bool showMisses) {
    for (const Charset preferred : {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp}) {
        // [encoding][word count - 1]
        std::uint64_t right[kCharsetCount][3] = {}, all[kCharsetCount][3] = {};
        for (const CorpusLine& c : corpus) {
            const auto k = static_cast<std::size_t>(c.charset);
            ++all[k][c.words - 1];
            const Charset chosen = ChooseForLine(c.line, preferred);
            if (chosen == c.charset) {
                ++right[k][c.words - 1];
            } else if (showMisses) {
                std::printf("    %s read as %s: %s  %s\n", Name(c.charset), Name(chosen), Utf8(c.value).c_str(),
                            Utf8(c.line).c_str());
            }
        }
        std::printf("  ties to %s:\n", Name(preferred));
        std::uint64_t rightTotal = 0, allTotal = 0;
        for (std::size_t k = 0; k < kCharsetCount; ++k) {
            std::uint64_t r = 0, a = 0;
            std::string byCount;
            for (int n = 0; n < 3; ++n) {
                r += right[k][n];
                a += all[k][n];
                char cell[64];
                std::snprintf(cell, sizeof cell, "  %d word%s %6.2f%%", n + 1, n ? "s" : " ",
                              100.0 * static_cast<double>(right[k][n]) / static_cast<double>(all[k][n]));
                byCount += cell;
            }
            std::printf("    %-9s %5llu/%5llu %7.3f%%%s\n", Name(static_cast<Charset>(k)),
                        static_cast<unsigned long long>(r), static_cast<unsigned long long>(a),
                        100.0 * static_cast<double>(r) / static_cast<double>(a), byCount.c_str());
            rightTotal += r;
            allTotal += a;
            if (static_cast<Charset>(k) == Charset::kUtf8) {
                EXPECT_EQ(r, a) << "every UTF-8 line, ties to " << Name(preferred);
            }
            EXPECT_GE(100 * r, 99 * a) << Name(static_cast<Charset>(k)) << ", ties to " << Name(preferred);
        }
        std::printf("    all       %5llu/%5llu %7.3f%%\n", static_cast<unsigned long long>(rightTotal),
                    static_cast<unsigned long long>(allTotal),
                    100.0 * static_cast<double>(rightTotal) / static_cast<double>(allTotal));
        EXPECT_GE(1000 * rightTotal, 995 * allTotal) << "ties to " << Name(preferred);
    }
}

TEST(Detect, DictionaryWordsInQueriesReachTheGoal) {
    const char* half = std::getenv("TESSALY_DETECT_HALF");
    const bool tuneHalf = half != nullptr && std::string(half) == "tune";
    const Words words = ReadWords(tuneHalf);
    ASSERT_GT(words.short_.size(), 10000u);
    std::printf("Detection on the %s half of mecab-ipadic, %zu words:\n", tuneHalf ? "tuning" : "unseen",
                words.all.size());
    Judge(Corpus(words.all, 20000), tuneHalf);
    std::printf("The %zu words of one or two characters among them:\n", words.short_.size());
    Judge(Corpus(words.short_, 20000), tuneHalf);
}


// Detection as the plain steps give it: every line (its LF with it) decoded
// alone in each encoding, ChooseCharset over the three readings. A line
// before the end is decoded with a plain unit after it, cut from the output,
// as it reads inside the whole text.
std::u16string DetectByLines(std::u16string_view text, const DecodeOptions& options, DecodeReport& report) {
    std::u16string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t lf = text.find(u'\n', pos);
        const bool last = lf == std::u16string_view::npos;
        const std::size_t end = last ? text.size() : lf + 1;
        std::u16string line(text.substr(pos, end - pos));
        if (!last) line += u'X';
        std::array<std::u16string, kCharsetCount> texts;
        std::array<DecodeReport, kCharsetCount> reports;
        std::array<LineReading, kCharsetCount> readings;
        for (std::size_t k = 0; k < kCharsetCount; ++k) {
            DecodeOptions one = options;
            one.detect = false;
            one.charset = static_cast<Charset>(k);
            texts[k] = DecodeUrl(line, one, &reports[k]);
            if (!last) texts[k].pop_back();
            readings[k] = {texts[k], reports[k].invalid};
        }
        // A line without bytes from 0x80 up is read in the preferred one.
        bool high = false;
        for (std::size_t i = 0; i + 2 < end - pos; ++i) {
            high = high || (line[i] == u'%' && HexValue(line[i + 1]) >= 8 && HexValue(line[i + 2]) >= 0);
        }
        const auto k = static_cast<std::size_t>(high ? ChooseCharset(readings, options.charset) : options.charset);
        if (high) ++report.linesIn[k];
        if (reports[k].invalid != 0 && report.invalid == 0) report.firstInvalid = pos + reports[k].firstInvalid;
        report.invalid += reports[k].invalid;
        out += texts[k];
        pos = end;
    }
    return out;
}

// Lines of random escapes: bytes of each encoding's lead and trail ranges,
// ASCII, broken escapes, "+" and "&".
std::u16string RandomLines(std::mt19937& rng, int lines) {
    static const char16_t* const kLiterals[] = {u"a", u"+", u"&", u"%", u"%4", u"%zz", u"\u3042", u"=", u" "};
    static const char kHex[] = "0123456789ABCDEFabcdef";
    std::u16string text;
    for (int l = 0; l < lines; ++l) {
        const int n = static_cast<int>(rng() % 24);
        for (int i = 0; i < n; ++i) {
            const unsigned pick = rng() % 10;
            if (pick < 2) {
                text += kLiterals[rng() % 9];
                continue;
            }
            unsigned b = rng() % 256;
            if (pick < 5) b = 0xA1 + rng() % 94;                    // EUC-JP's pair bytes
            if (pick == 5) b = (rng() % 2 ? 0xE3 : 0x80) + rng() % 32;  // UTF-8's kana and kanji
            text += u'%';
            text += static_cast<char16_t>(kHex[b >> 4]);
            text += static_cast<char16_t>(rng() % 3 ? kHex[b & 15] : static_cast<char>(std::tolower(kHex[b & 15])));
        }
        if (rng() % 8 != 0 || l + 1 < lines) text += u'\n';
    }
    return text;
}

TEST(Detect, WholeTextDecodesAsEachLineAlone) {
    std::mt19937 rng(1409);
    const Words words = ReadWords(false);
    std::vector<CorpusLine> corpus = Corpus(words.short_, 1500);
    std::shuffle(corpus.begin(), corpus.end(), rng);
    std::vector<std::u16string> texts;
    std::u16string all;
    for (const CorpusLine& c : corpus) all += c.line + u'\n';
    texts.push_back(all);
    for (int i = 0; i < 300; ++i) texts.push_back(RandomLines(rng, 1 + static_cast<int>(rng() % 12)));
    for (const std::u16string& text : texts) {
        for (unsigned bits = 0; bits < 4 * kCharsetCount; ++bits) {
            DecodeOptions options;
            options.detect = true;
            options.charset = static_cast<Charset>(bits % kCharsetCount);
            options.plusAsSpace = (bits / kCharsetCount) & 1;
            options.crLfAsAmp = (bits / kCharsetCount) & 2;
            DecodeReport want, got;
            const std::u16string expected = DetectByLines(text, options, want);
            ASSERT_EQ(DecodeUrl(text, options, &got), expected) << Utf8(text) << " options " << bits;
            EXPECT_EQ(got.invalid, want.invalid);
            EXPECT_EQ(got.firstInvalid, want.firstInvalid);
            EXPECT_EQ(got.linesIn, want.linesIn) << Utf8(text) << " options " << bits;
        }
    }
}

}  // namespace
}  // namespace tessaly

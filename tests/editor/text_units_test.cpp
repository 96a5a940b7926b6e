// Characters, words and lines of the text: grapheme clusters against Qt's
// QTextBoundaryFinder over random text of combining marks, emoji sequences,
// regional indicators, kana voicing marks and jamo; words against a plain
// walk over those clusters; the cases users meet by name.
#include <gtest/gtest.h>

#include <QString>
#include <QTextBoundaryFinder>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "editor/text_units.h"

namespace tessaly {
namespace {

std::u16string Utf16(const std::u32string& s) {
    std::u16string out;
    for (char32_t c : s) {
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

struct Text {
    TextBuffer buffer;
    explicit Text(const std::u16string& s) { buffer.SetText(std::u16string(s)); }
};

std::set<Pos> QtClusterBoundaries(const std::u16string& s) {
    const QString q = QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, q);
    std::set<Pos> out{0};
    for (qsizetype p = finder.toNextBoundary(); p >= 0; p = finder.toNextBoundary()) out.insert(p);
    return out;
}

std::string Hex(const std::u16string& s) {
    std::string out;
    char buf[8];
    for (char16_t c : s) {
        std::snprintf(buf, sizeof buf, "%04X ", static_cast<unsigned>(c));
        out += buf;
    }
    return out;
}

const char32_t kAlphabet[] = {
    u'a', u'e', u' ', u'_', u'1', u'.', u'\t', u'\r', u'\n', 0x3000,
    0x0301, 0x0308, 0x20DD,            // combining marks
    0x200D, 0xFE0F, 0xFE0E,            // ZWJ, variation selectors
    0x1F468, 0x1F469, 0x1F467, 0x1F44D, 0x2764, 0x263A, 0x1F3FD, 0x1F3FB,  // emoji, modifiers
    0x1F1EF, 0x1F1F5, 0x1F1FA,         // regional indicators
    0x30AB, 0x304B, 0x30CF, 0x3099, 0x309A, 0x30FC, 0x3042, 0xFF76, 0xFF9E,  // kana, voicing marks
    0x6F22, 0x5B57, 0x2000B,           // ideographs
    0x1100, 0x1161, 0x11A8, 0xAC00, 0xAC01,  // Hangul L, V, T, LV, LVT
    0x0600, 0x0627, 0x0644, 0x05D0,    // Prepend, Arabic, Hebrew
    // (Not Thai or Indic scripts: Qt tailors their clusters to its shaping.)
};

bool IsRegionalIndicator(char32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }

std::u16string RandomText(std::mt19937& rng, int maxLength) {
    std::u32string s;
    const int n = static_cast<int>(rng() % (maxLength + 1));
    for (int i = 0; i < n; ++i) {
        const char32_t c = kAlphabet[rng() % std::size(kAlphabet)];
        // Qt 6.4 never pairs regional indicators that directly follow an
        // emoji (its state machine skips the pairing rule there), against
        // the standard's rules; the reference is not asked about that case.
        if (IsRegionalIndicator(c) && !s.empty() && IsExtendedPictographic(s.back()) && !IsRegionalIndicator(s.back()))
            s += u'a';
        s += c;
    }
    return Utf16(s);
}

TEST(TextUnits, ClustersMatchQTextBoundaryFinder) {
    std::mt19937 rng(29);
    for (int round = 0; round < 4000; ++round) {
        const std::u16string s = RandomText(rng, 24);
        const Text t(s);
        const std::set<Pos> qt = QtClusterBoundaries(s);
        const Pos n = static_cast<Pos>(s.size());
        for (Pos p = 0; p <= n; ++p) {
            ASSERT_EQ(IsClusterBoundary(t.buffer, p), qt.count(p) == 1) << Hex(s) << "at " << p;
            const auto next = qt.upper_bound(p);
            ASSERT_EQ(NextCluster(t.buffer, p), next == qt.end() ? n : *next) << Hex(s) << "at " << p;
            const auto at = qt.lower_bound(p);
            ASSERT_EQ(PreviousCluster(t.buffer, p), at == qt.begin() ? 0 : *std::prev(at)) << Hex(s) << "at " << p;
            ASSERT_EQ(ClusterStart(t.buffer, p), *std::prev(qt.upper_bound(p))) << Hex(s) << "at " << p;
        }
    }
}

TEST(TextUnits, CharactersUsersMeetAreOneClusterEach) {
    const std::u32string cases[] = {
        U"e\u0301",                           // e with a combining acute
        U"\U0001F468\u200D\U0001F469\u200D\U0001F467",  // a family
        U"\U0001F44D\U0001F3FD",              // a thumb with its skin tone
        U"\U0001F1EF\U0001F1F5",              // a flag
        U"\u30AB\u3099",                      // ガ decomposed
        U"\u304B\u309A",                      // か with the semi-voiced mark
        U"\u2764\uFE0F",                      // a heart with its variation selector
        U"\u1100\u1161\u11A8",                // 각 from its jamo
        U"\r\n",
    };
    for (const std::u32string& c : cases) {
        const std::u16string one = Utf16(c);
        const Text t(u"x" + one + one + u"y");
        const Pos a = 1, b = a + static_cast<Pos>(one.size()), e = b + static_cast<Pos>(one.size());
        EXPECT_EQ(NextCluster(t.buffer, a), b) << Hex(one);
        EXPECT_EQ(NextCluster(t.buffer, b), e) << Hex(one);
        EXPECT_EQ(PreviousCluster(t.buffer, e), b) << Hex(one);
        for (Pos p = a + 1; p < b; ++p) EXPECT_EQ(ClusterStart(t.buffer, p), a) << Hex(one);
    }
    // Three regional indicators: a flag and a lone one.
    const Text flags(Utf16(U"\U0001F1EF\U0001F1F5\U0001F1FA"));
    EXPECT_EQ(NextCluster(flags.buffer, 0), 4);
    EXPECT_EQ(NextCluster(flags.buffer, 4), 6);
}

// Words walked over the clusters Qt finds, the plain way.
struct PlainWords {
    std::vector<Pos> starts;  // cluster starts, then the length
    std::vector<WordClass> classes;

    explicit PlainWords(const std::u16string& s) {
        const std::set<Pos> b = QtClusterBoundaries(s);
        starts.assign(b.begin(), b.end());
        if (starts.back() != static_cast<Pos>(s.size())) starts.push_back(s.size());
        for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
            char32_t c = s[starts[i]];
            if (c >= 0xD800 && c < 0xDC00 && starts[i] + 1 < static_cast<Pos>(s.size()) && s[starts[i] + 1] >= 0xDC00 &&
                s[starts[i] + 1] < 0xE000)
                c = 0x10000 + ((c - 0xD800) << 10) + (s[starts[i] + 1] - 0xDC00);
            classes.push_back(ClassOfCodePoint(c));
        }
    }
    std::size_t Count() const { return classes.size(); }
    std::size_t IndexOf(Pos p) const {  // the cluster holding p
        return std::upper_bound(starts.begin(), starts.end(), p) - starts.begin() - 1;
    }
    Pos Next(Pos p) const {
        std::size_t i = IndexOf(p);
        if (i >= Count()) return starts.back();
        const WordClass c = classes[i++];
        if (c != WordClass::LineBreak)
            while (i < Count() && classes[i] == c) ++i;
        while (i < Count() && classes[i] == WordClass::Blank) ++i;
        return starts[i];
    }
    Pos Previous(Pos p) const {
        std::size_t i = IndexOf(p);
        while (i > 0 && classes[i - 1] == WordClass::Blank) --i;
        if (i == 0) return 0;
        const WordClass c = classes[--i];
        if (c != WordClass::LineBreak)
            while (i > 0 && classes[i - 1] == c) --i;
        return starts[i];
    }
    TextRange At(Pos p) const {
        if (Count() == 0) return {};
        std::size_t i = std::min(IndexOf(p), Count() - 1), j = i + 1;
        const WordClass c = classes[i];
        if (c != WordClass::LineBreak) {
            while (i > 0 && classes[i - 1] == c) --i;
            while (j < Count() && classes[j] == c) ++j;
        }
        return {starts[i], starts[j]};
    }
};

TEST(TextUnits, WordsMatchAPlainWalkOverClusters) {
    std::mt19937 rng(31);
    for (int round = 0; round < 3000; ++round) {
        const std::u16string s = RandomText(rng, 24);
        const Text t(s);
        const PlainWords plain(s);
        for (Pos p = 0; p <= static_cast<Pos>(s.size()); ++p) {
            ASSERT_EQ(NextWord(t.buffer, p), plain.Next(p)) << Hex(s) << "at " << p;
            ASSERT_EQ(PreviousWord(t.buffer, p), plain.Previous(p)) << Hex(s) << "at " << p;
            const TextRange w = WordAt(t.buffer, p), r = plain.At(p);
            ASSERT_EQ(w.start, r.start) << Hex(s) << "at " << p;
            ASSERT_EQ(w.end, r.end) << Hex(s) << "at " << p;
        }
    }
}

TEST(TextUnits, JapaneseWordsFollowTheirScripts) {
    // 漢字 かな カ゛ーナ (ガ decomposed, the prolonged sound mark) abc_1, an
    // ideographic space, "..", two CR LFs, x
    const std::u16string s = Utf16(U"漢字かなカ\u3099ーナabc_1\u3000..\r\n\r\nx");
    const Text t(s);
    std::vector<Pos> stops{0};
    while (stops.back() < static_cast<Pos>(s.size())) stops.push_back(NextWord(t.buffer, stops.back()));
    const std::vector<Pos> expected{0, 2, 4, 8, 14, 16, 18, 20, 21};
    EXPECT_EQ(stops, expected);
    EXPECT_EQ(WordAt(t.buffer, 5).start, 4);  // inside the voiced カ
    EXPECT_EQ(WordAt(t.buffer, 5).end, 8);
    EXPECT_EQ(WordAt(t.buffer, 17).start, 16);  // a CR LF is a word of its own
    EXPECT_EQ(WordAt(t.buffer, 17).end, 18);
    EXPECT_EQ(LineAt(t.buffer, 3).end, 18);  // a line with its CR LF
    EXPECT_EQ(LineAt(t.buffer, 17).start, 0);
    EXPECT_EQ(LineAt(t.buffer, 19).start, 18);
    EXPECT_EQ(LineAt(t.buffer, 19).end, 20);
    EXPECT_EQ(LineAt(t.buffer, 21).start, 20);
}

}  // namespace
}  // namespace tessaly

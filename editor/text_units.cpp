// Grapheme clusters follow the extended rules of Unicode's text segmentation
// (UAX #29, GB1-GB999; GB9c, conjunct clusters of Indic scripts, is not
// applied). The properties come from a table generated from the Unicode
// Character Database (text_units_table.inc).
#include "editor/text_units.h"

#include <algorithm>
#include <iterator>

namespace tessaly {

namespace {

struct TextUnitRange {
    char32_t first;
    std::uint8_t props;
};

#include "editor/text_units_table.inc"

enum GraphemeBreak : std::uint8_t {
    kOther, kCR, kLF, kControl, kExtend, kZWJ, kRegionalIndicator, kPrepend, kSpacingMark, kL, kV, kT, kLV, kLVT
};
constexpr std::uint8_t kExtPict = 0x10;
constexpr std::uint8_t kWordChar = 0x20;

std::uint8_t Props(char32_t c) {
    const auto it = std::upper_bound(std::begin(kTextUnitRanges), std::end(kTextUnitRanges), c,
                                     [](char32_t v, const TextUnitRange& r) { return v < r.first; });
    return it == std::begin(kTextUnitRanges) ? 0 : std::prev(it)->props;
}

GraphemeBreak BreakOf(char32_t c, std::uint8_t props) {
    if (c >= 0xAC00 && c <= 0xD7A3) return (c - 0xAC00) % 28 == 0 ? kLV : kLVT;
    return static_cast<GraphemeBreak>(props & 0x0F);
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The code point starting at pos (pos < Length()) and its length in units.
char32_t CodePointAt(const TextBuffer& t, Pos pos, Pos* units = nullptr) {
    const char16_t c = t.At(pos);
    if (IsHigh(c) && pos + 1 < t.Length() && IsLow(t.At(pos + 1))) {
        if (units) *units = 2;
        return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (t.At(pos + 1) - 0xDC00);
    }
    if (units) *units = 1;
    return c;
}

// The code point ending at pos (pos > 0) and where it starts.
char32_t CodePointBefore(const TextBuffer& t, Pos pos, Pos* start) {
    const char16_t c = t.At(pos - 1);
    if (IsLow(c) && pos >= 2 && IsHigh(t.At(pos - 2))) {
        *start = pos - 2;
        return 0x10000 + ((static_cast<char32_t>(t.At(pos - 2)) - 0xD800) << 10) + (c - 0xDC00);
    }
    *start = pos - 1;
    return c;
}

}  // namespace

bool IsExtendedPictographic(char32_t c) { return (Props(c) & kExtPict) != 0; }
bool IsWordCharacter(char32_t c) { return (Props(c) & kWordChar) != 0; }

bool IsClusterBoundary(const TextBuffer& t, Pos pos) {
    const Pos n = t.Length();
    if (pos <= 0 || pos >= n) return true;  // GB1, GB2
    if (IsLow(t.At(pos)) && IsHigh(t.At(pos - 1))) return false;
    Pos aStart = 0;
    const char32_t a = CodePointBefore(t, pos, &aStart);
    const char32_t b = CodePointAt(t, pos);
    const std::uint8_t pa = Props(a), pb = Props(b);
    const GraphemeBreak ga = BreakOf(a, pa), gb = BreakOf(b, pb);
    if (ga == kCR && gb == kLF) return false;                                   // GB3
    if (ga == kCR || ga == kLF || ga == kControl) return true;                  // GB4
    if (gb == kCR || gb == kLF || gb == kControl) return true;                  // GB5
    if (ga == kL && (gb == kL || gb == kV || gb == kLV || gb == kLVT)) return false;  // GB6
    if ((ga == kLV || ga == kV) && (gb == kV || gb == kT)) return false;       // GB7
    if ((ga == kLVT || ga == kT) && gb == kT) return false;                     // GB8
    if (gb == kExtend || gb == kZWJ) return false;                              // GB9
    if (gb == kSpacingMark) return false;                                       // GB9a
    if (ga == kPrepend) return false;                                           // GB9b
    if (ga == kZWJ && (pb & kExtPict)) {                                        // GB11
        Pos p = aStart;
        while (p > 0) {
            Pos start = 0;
            const char32_t c = CodePointBefore(t, p, &start);
            const std::uint8_t pc = Props(c);
            if (BreakOf(c, pc) == kExtend) {
                p = start;
                continue;
            }
            if (pc & kExtPict) return false;
            break;
        }
        return true;
    }
    if (ga == kRegionalIndicator && gb == kRegionalIndicator) {                 // GB12, GB13
        // Joined when an odd number of indicators runs up to pos.
        Pos count = 0;
        for (Pos p = pos; p > 0;) {
            Pos start = 0;
            const char32_t c = CodePointBefore(t, p, &start);
            if (BreakOf(c, Props(c)) != kRegionalIndicator) break;
            ++count;
            p = start;
        }
        return count % 2 == 0;
    }
    return true;                                                                // GB999
}

Pos NextCluster(const TextBuffer& t, Pos pos) {
    const Pos n = t.Length();
    if (pos >= n) return n;
    pos = std::max<Pos>(pos, 0);
    Pos units = 1;
    CodePointAt(t, pos, &units);
    pos += units;
    while (pos < n && !IsClusterBoundary(t, pos)) {
        CodePointAt(t, pos, &units);
        pos += units;
    }
    return pos;
}

Pos PreviousCluster(const TextBuffer& t, Pos pos) {
    if (pos <= 0) return 0;
    pos = std::min(pos, t.Length());
    Pos start = 0;
    CodePointBefore(t, pos, &start);
    pos = start;
    while (pos > 0 && !IsClusterBoundary(t, pos)) {
        CodePointBefore(t, pos, &start);
        pos = start;
    }
    return pos;
}

Pos ClusterStart(const TextBuffer& t, Pos pos) {
    pos = std::clamp<Pos>(pos, 0, t.Length());
    return IsClusterBoundary(t, pos) ? pos : PreviousCluster(t, pos);
}

WordClass ClassOfCodePoint(char32_t c) {
    if (c == u' ' || c == u'\t' || c == 0x3000) return WordClass::Blank;
    if (c == u'\r' || c == u'\n') return WordClass::LineBreak;
    if (c >= 0x3041 && c <= 0x309F) return WordClass::Hiragana;
    if ((c >= 0x30A0 && c <= 0x30FF) || (c >= 0xFF66 && c <= 0xFF9F)) return WordClass::Katakana;
    if ((c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x3FFFF))
        return WordClass::Ideograph;
    if (c == u'_' || IsWordCharacter(c)) return WordClass::Letter;
    return WordClass::Other;
}

WordClass ClassAt(const TextBuffer& t, Pos pos) { return ClassOfCodePoint(CodePointAt(t, pos)); }

Pos NextWord(const TextBuffer& t, Pos pos) {
    const Pos n = t.Length();
    pos = ClusterStart(t, pos);
    if (pos >= n) return n;
    const WordClass cls = ClassAt(t, pos);
    pos = NextCluster(t, pos);
    if (cls != WordClass::LineBreak)
        while (pos < n && ClassAt(t, pos) == cls) pos = NextCluster(t, pos);
    while (pos < n && ClassAt(t, pos) == WordClass::Blank) pos = NextCluster(t, pos);
    return pos;
}

Pos PreviousWord(const TextBuffer& t, Pos pos) {
    pos = ClusterStart(t, pos);
    Pos before = PreviousCluster(t, pos);
    while (pos > 0 && ClassAt(t, before) == WordClass::Blank) {
        pos = before;
        before = PreviousCluster(t, pos);
    }
    if (pos == 0) return 0;
    const WordClass cls = ClassAt(t, before);
    pos = before;
    if (cls == WordClass::LineBreak) return pos;
    while (pos > 0) {
        before = PreviousCluster(t, pos);
        if (ClassAt(t, before) != cls) break;
        pos = before;
    }
    return pos;
}

TextRange WordAt(const TextBuffer& t, Pos pos) {
    const Pos n = t.Length();
    if (n == 0) return {0, 0};
    pos = pos >= n ? PreviousCluster(t, n) : ClusterStart(t, std::max<Pos>(pos, 0));
    const WordClass cls = ClassAt(t, pos);
    TextRange r{pos, NextCluster(t, pos)};
    if (cls == WordClass::LineBreak) return r;
    while (r.start > 0) {
        const Pos before = PreviousCluster(t, r.start);
        if (ClassAt(t, before) != cls) break;
        r.start = before;
    }
    while (r.end < n && ClassAt(t, r.end) == cls) r.end = NextCluster(t, r.end);
    return r;
}

Pos WordStart(const TextBuffer& t, Pos pos) { return WordAt(t, pos).start; }

Pos WordEnd(const TextBuffer& t, Pos pos) {
    if (pos >= t.Length()) return t.Length();
    return WordAt(t, pos).end;
}

TextRange LineAt(const TextBuffer& t, Pos pos) {
    const Pos line = t.LineOf(std::clamp<Pos>(pos, 0, t.Length()));
    return {t.LineStart(line), line + 1 < t.LineCount() ? t.LineStart(line + 1) : t.Length()};
}

}  // namespace tessaly

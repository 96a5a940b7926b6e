// The units the caret and the selection move by, found in the text alone:
// characters (extended grapheme clusters), words and lines. Keys, double
// clicks, accessibility and selection snapping all use these.
#pragma once

#include <cstdint>

#include "editor/text_buffer.h"

namespace tessaly {

// --- Characters: extended grapheme clusters --------------------------------
// A base with its combining marks and variation selectors, an emoji ZWJ
// sequence, an emoji with its modifier, a pair of regional indicators, kana
// with its voicing mark (U+3099, U+309A), a Hangul syllable from its jamo,
// CR LF: each is one character. Never inside a surrogate pair.
bool IsClusterBoundary(const TextBuffer& text, Pos pos);
// The boundary after pos (Length() at the end), and the one before it (0 at
// the start).
Pos NextCluster(const TextBuffer& text, Pos pos);
Pos PreviousCluster(const TextBuffer& text, Pos pos);
// pos when it is a boundary, else the start of the cluster holding it.
Pos ClusterStart(const TextBuffer& text, Pos pos);

// --- Words -----------------------------------------------------------------
// A word is a run of characters of one class: blanks (space, tab, U+3000),
// a line break (each one a word of its own), hiragana, katakana (with the
// prolonged sound mark and half-width katakana), ideographs, letters and
// digits (with marks and "_"), and everything else. A character's class is
// that of its cluster's first code point.
enum class WordClass { Blank, LineBreak, Letter, Hiragana, Katakana, Ideograph, Other };
WordClass ClassOfCodePoint(char32_t c);
WordClass ClassAt(const TextBuffer& text, Pos pos);  // of the character at pos

// Ctrl+Right: past the word at pos and the blanks after it. Ctrl+Left: back
// over blanks, then to the start of the word before.
Pos NextWord(const TextBuffer& text, Pos pos);
Pos PreviousWord(const TextBuffer& text, Pos pos);
// The word holding the character at pos (the last character at the end):
// what a double click selects and what accessibility calls a word.
struct TextRange {
    Pos start = 0;
    Pos end = 0;
};
TextRange WordAt(const TextBuffer& text, Pos pos);
Pos WordStart(const TextBuffer& text, Pos pos);
Pos WordEnd(const TextBuffer& text, Pos pos);

// --- Lines -----------------------------------------------------------------
// The line holding pos with its CR LF (what a triple click selects).
TextRange LineAt(const TextBuffer& text, Pos pos);

// Unicode properties, for tests and the view.
bool IsExtendedPictographic(char32_t c);
bool IsWordCharacter(char32_t c);  // letters, marks, numbers

}  // namespace tessaly

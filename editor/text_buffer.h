// The edit box's text: UTF-16 units in a gap buffer, with an index of line
// starts. Only CR LF breaks a line; a lone CR or a lone LF is a character of
// its line like any other. Positions are 64-bit everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly {

using Pos = std::int64_t;

// A replacement of the range [pos, pos + removed.size()) by inserted. Applying
// it to the text it was made for gives the new text; Inverse() undoes it.
struct TextEdit {
    Pos pos = 0;
    std::u16string removed;
    std::u16string inserted;
    // The edit removes the whole text, whatever its length (what SetText and
    // its undo record: the text being replaced is not copied into the edit).
    bool wholeText = false;

    // (Not for a wholeText edit: its inverse holds the text it replaced, which
    // only TextBuffer::Apply can give.)
    TextEdit Inverse() && { return {pos, std::move(inserted), std::move(removed), false}; }
    // Memory the edit holds, in bytes (for the undo history's budget).
    std::uint64_t Bytes() const { return (removed.capacity() + inserted.capacity()) * sizeof(char16_t); }
};

// One change of the text, as the view needs it to update what it derived:
// [pos, pos + removed) became [pos, pos + inserted). Lines firstLine to
// firstLine + linesRemoved (inclusive) of the old text became lines firstLine
// to firstLine + linesInserted of the new one.
struct TextChange {
    Pos pos = 0;
    Pos removed = 0;
    Pos inserted = 0;
    Pos firstLine = 0;
    Pos linesRemoved = 0;
    Pos linesInserted = 0;
    bool wholeText = false;  // SetText: everything changed
    // The units the change removed (what the undo history keeps of it). Set
    // by the editor state for its listeners; valid during the notice only.
    std::u16string_view removedText;
};

// Up to two contiguous pieces of the text around the gap: first, then second.
struct TextSegments {
    std::u16string_view first;
    std::u16string_view second;
};

class TextBuffer {
public:
    TextBuffer();
    ~TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    Pos Length() const;
    char16_t At(Pos pos) const;            // 0 <= pos < Length()
    std::u16string Text(Pos from, Pos to) const;  // [from, to), clamped
    // The whole text as one contiguous view (the gap moves to the end). Valid
    // until the next change. Moving the gap costs a copy of the text after it:
    // what is read often (painting, layout) reads Segments, Text or CopyTo.
    std::u16string_view View() const;
    // Copies [from, to) into out (to - from units).
    void CopyTo(Pos from, Pos to, char16_t* out) const;

    // The one primitive edit: replaces [pos, pos + length) by text and returns
    // the edit that undoes it. Clamped to the text. The line index follows
    // without rescanning the text (only the units around the edit are looked
    // at, since a CR LF may be made or broken at either end).
    TextEdit Replace(Pos pos, Pos length, std::u16string_view text);
    // Replace, Apply and SetText either make the whole change or, when memory
    // runs out (std::bad_alloc), none of it.
    // Applies an edit (an inverse from Replace, or a redo) and returns its
    // inverse. The edit's strings are moved, not copied.
    TextEdit Apply(TextEdit&& edit);

    // Takes the whole text over without copying it (its storage becomes the
    // buffer) and returns the old text as the inverse edit (moved, not copied).
    TextEdit SetText(std::u16string&& text);

    // Lines: line n runs from LineStart(n) to LineEnd(n) (the CR of its CR LF,
    // or Length() for the last line). There is always at least one line.
    Pos LineCount() const;
    Pos LineStart(Pos line) const;
    Pos LineEnd(Pos line) const;
    Pos LineOf(Pos pos) const;  // the line that holds pos (0 <= pos <= Length())

    // [from, to) (clamped) as at most two views of the storage, without moving
    // the gap. Valid until the next change.
    TextSegments Segments(Pos from, Pos to) const;
    // What the last Replace, Apply or SetText changed, lines included.
    const TextChange& LastChange() const;
    // Bytes the buffer holds (storage with its gap, and the line index).
    std::uint64_t Bytes() const;
    // Bytes that replacing length units by text would allocate at its peak
    // (a grown storage, a grown line index), beyond what the edit keeps.
    std::uint64_t EditBytes(Pos length, std::u16string_view text) const;

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace tessaly

// The editor's state: the text, the selection and the undo history, changed
// only through its transactions. The view derives everything else (rows,
// pixels) from it and is told of each change.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "editor/history.h"
#include "editor/text_buffer.h"

namespace tessaly {

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
};

class EditorState {
public:
    const TextBuffer& Buffer() const { return buffer_; }
    Pos Length() const { return buffer_.Length(); }

    // The selection runs between anchor and caret; empty when they are equal.
    Pos Anchor() const { return anchor_; }
    Pos Caret() const { return caret_; }
    Pos SelectionStart() const { return anchor_ < caret_ ? anchor_ : caret_; }
    Pos SelectionEnd() const { return anchor_ < caret_ ? caret_ : anchor_; }
    bool HasSelection() const { return anchor_ != caret_; }
    std::u16string SelectedText() const;
    // Moves the selection (clamped to the text, never inside a surrogate pair
    // or a CR LF); a caret moved by the user ends a typing run.
    void SetSelection(Pos anchor, Pos caret);

    // Replaces [from, to) by text as one transaction; the selection becomes
    // the caret after the inserted text. Typing and deleting runs join one
    // undo step as UndoHistory describes.
    void Replace(Pos from, Pos to, std::u16string_view text, EditKind kind);
    // Replaces the selection (typing, paste, input-method commit, drop).
    void ReplaceSelection(std::u16string_view text, EditKind kind);
    // Replaces the whole text without copying it: one undo step of its own.
    // The caret goes to the start.
    void SetText(std::u16string&& text);

    bool CanUndo() const { return history_.CanUndo(); }
    bool CanRedo() const { return history_.CanRedo(); }
    bool Undo();
    bool Redo();
    UndoHistory& History() { return history_; }

    // Called after every change of the text, before the selection changes.
    std::function<void(const TextChange&)> onTextChanged;
    // Called after the selection (or the text under it) changed.
    std::function<void()> onSelectionChanged;

private:
    TextBuffer buffer_;
    UndoHistory history_;
    Pos anchor_ = 0;
    Pos caret_ = 0;
};

}  // namespace tessaly

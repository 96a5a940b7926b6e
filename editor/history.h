// The undo history: a list of steps, each the inverse edits that undo it,
// with redo until the next new edit.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "editor/text_buffer.h"

namespace tessaly {

// What made an edit: a run of typed characters or a run of deletions in one
// direction becomes one step; everything else is a step of its own.
enum class EditKind { Typing, DeleteBackward, DeleteForward, Other };

class UndoHistory {
public:
    // One undoable step: the inverses in the order they were made, and the
    // selection before and after it.
    struct Step {
        std::vector<TextEdit> inverses;
        Pos anchorBefore = 0, caretBefore = 0;
        Pos anchorAfter = 0, caretAfter = 0;
        EditKind kind = EditKind::Other;
        std::uint64_t bytes = 0;
    };

    // Records the inverse of an edit just made. It joins the newest step when
    // both are of the same typing or deleting kind, the new one continues the
    // old one where it ended, and no Seal() came between. Clears redo.
    void Record(TextEdit&& inverse, EditKind kind, Pos anchorBefore, Pos caretBefore, Pos anchorAfter,
                Pos caretAfter);
    // Ends the current run: the next edit starts a new step (the caret moved,
    // the focus went away, a command ran).
    void Seal();

    bool CanUndo() const;
    bool CanRedo() const;
    // Undo/redo the newest step on the buffer; the selection to show after it
    // is returned in anchor, caret. False when there is nothing to do.
    // afterEach, when given, runs after each edit of the step is applied
    // (buffer.LastChange() tells what it changed).
    bool Undo(TextBuffer& buffer, Pos& anchor, Pos& caret, const std::function<void()>& afterEach = {});
    bool Redo(TextBuffer& buffer, Pos& anchor, Pos& caret, const std::function<void()>& afterEach = {});

    void Clear();
    // Bytes the history holds; DropOldest frees the oldest steps until it holds
    // at most maxBytes (the text itself is never dropped). Returns what it freed.
    std::uint64_t Bytes() const;
    std::uint64_t DropOldest(std::uint64_t maxBytes);
    std::size_t UndoCount() const;
    std::size_t RedoCount() const;

private:
    bool Joins(const TextEdit& inverse, EditKind kind) const;
    bool Replay(std::deque<Step>& from, std::deque<Step>& to, TextBuffer& buffer, bool before,
                Pos& anchor, Pos& caret, const std::function<void()>& afterEach);

    std::deque<Step> undo_;
    std::deque<Step> redo_;
    std::uint64_t bytes_ = 0;
    bool sealed_ = true;
};

}  // namespace tessaly

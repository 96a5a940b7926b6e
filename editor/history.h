// The undo history: a list of steps, each the inverse edits that undo it,
// with redo until the next new edit.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "editor/selection.h"
#include "editor/text_buffer.h"

namespace tessaly {

// What made an edit: a run of typed characters or a run of deletions in one
// direction becomes one step; everything else is a step of its own. NewLine
// is the line break Enter types: it joins the typing run before it and ends
// it, so that undo after "abc", Enter, "def" leaves "abc" and the break.
enum class EditKind { Typing, DeleteBackward, DeleteForward, Other, NewLine };

class UndoHistory {
public:
    // One undoable step: the inverses in the order they were made (undo
    // applies them from the back), and the selection before and after it.
    struct Step {
        std::vector<TextEdit> inverses;
        Selection before, after;
        EditKind kind = EditKind::Other;
        std::uint64_t bytes = 0;
    };

    // Records the inverses of the edits of one transaction, just made, in the
    // order they were made. A single typing or deleting edit joins the newest
    // step when it is of the same kind, continues it where it ended and no
    // Seal() came between; a typed unit next to the last one is merged into
    // its inverse. Clears redo. Either records everything or, when memory
    // runs out (std::bad_alloc), changes nothing and leaves inverses as given.
    void Record(std::vector<TextEdit>&& inverses, EditKind kind, const Selection& before, const Selection& after);
    void Record(TextEdit&& inverse, EditKind kind, Pos anchorBefore, Pos caretBefore, Pos anchorAfter,
                Pos caretAfter);
    // Ends the current run: the next edit starts a new step (the caret moved,
    // the focus went away, a command ran).
    void Seal();
    bool Sealed() const { return sealed_; }

    bool CanUndo() const;
    bool CanRedo() const;
    // Undo/redo the newest step on the buffer; the selection to show after it
    // is returned in selection. False when there is nothing to do.
    // afterEach, when given, runs after each edit of the step is applied, with
    // the edit's inverse (buffer.LastChange() tells what it changed). When
    // memory runs out on the way, the edits made are taken back (afterEach
    // runs for those too), nothing changes and std::bad_alloc is rethrown.
    using AfterEach = std::function<void(const TextEdit& inverse)>;
    bool Undo(TextBuffer& buffer, Selection& selection, const AfterEach& afterEach = {});
    bool Redo(TextBuffer& buffer, Selection& selection, const AfterEach& afterEach = {});
    bool Undo(TextBuffer& buffer, Pos& anchor, Pos& caret, const std::function<void()>& afterEach = {});
    bool Redo(TextBuffer& buffer, Pos& anchor, Pos& caret, const std::function<void()>& afterEach = {});
    // The step the next Undo/Redo would replay (nullptr when none).
    const Step* NextUndo() const { return undo_.empty() ? nullptr : &undo_.back(); }
    const Step* NextRedo() const { return redo_.empty() ? nullptr : &redo_.back(); }

    void Clear();
    // Bytes the history holds; DropOldest frees the oldest steps until it holds
    // at most maxBytes (the text itself is never dropped). Returns what it freed.
    std::uint64_t Bytes() const;
    std::uint64_t DropOldest(std::uint64_t maxBytes);
    // What the undo steps older than the newest keepNewest hold, and dropping
    // the oldest of them until at least bytes are freed (returns what it freed).
    std::uint64_t OlderUndoBytes(std::size_t keepNewest) const;
    std::uint64_t DropOldestUndo(std::uint64_t bytes, std::size_t keepNewest);
    std::size_t UndoCount() const;
    std::size_t RedoCount() const;

private:
    bool Joins(const TextEdit& inverse, EditKind kind) const;
    void Join(TextEdit&& inverse);
    bool Replay(std::deque<Step>& from, std::deque<Step>& to, TextBuffer& buffer, bool before,
                Selection& selection, const AfterEach& afterEach);
    void ClearRedo();

    std::deque<Step> undo_;
    std::deque<Step> redo_;
    std::uint64_t bytes_ = 0;
    bool sealed_ = true;
};

}  // namespace tessaly

// The editor's state: the text, the selection and the undo history, changed
// only through its transactions. The view derives everything else (rows,
// pixels) from it and is told of each change.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/history.h"
#include "editor/selection.h"
#include "editor/text_buffer.h"

namespace tessaly {

// TextChange is declared with the buffer (editor/text_buffer.h).

// One edit of a transaction: [from, to) of the text before the transaction
// becomes text.
struct Change {
    Pos from = 0;
    Pos to = 0;
    std::u16string text;
};

// Any number of edits made and undone as one step. The changes do not
// overlap and come in document order, with positions in the text before the
// transaction; the selection, in the text after it, defaults to the caret
// after the last change's text. It is taken as given (clamped to the text):
// a drop selects exactly the text it moved.
struct Transaction {
    std::vector<Change> changes;
    std::optional<Selection> selection;
    EditKind kind = EditKind::Other;
};

enum class EditResult {
    Done,
    NoChange,     // nothing to do (an empty edit, nothing to undo)
    OutOfMemory,  // refused: the text, the selection and the history are as they were
    Invalid,      // changes that overlap or are out of order
};

class EditorState {
public:
    const TextBuffer& Buffer() const { return buffer_; }
    Pos Length() const { return buffer_.Length(); }

    // The selection runs between anchor and caret; empty when they are equal.
    const Selection& GetSelection() const { return selection_; }
    Pos Anchor() const { return selection_.anchor; }
    Pos Caret() const { return selection_.caret; }
    Pos SelectionStart() const { return selection_.Start(); }
    Pos SelectionEnd() const { return selection_.End(); }
    bool HasSelection() const { return !selection_.Empty(); }
    bool CaretAtRowEnd() const { return selection_.atRowEnd; }
    double GoalX() const { return selection_.goalX; }
    std::u16string SelectedText() const;
    // Moves the selection (clamped to the text, never inside a character: a
    // grapheme cluster, see editor/text_units.h).
    // Moving anchor or caret ends a typing run; the affinity and goal x go as
    // given (the two-position form drops them).
    void SetSelection(const Selection& selection);
    void SetSelection(Pos anchor, Pos caret);

    // The one entry point for edits: applies the transaction as one undo
    // step. Refused when memory is short (see memoryAvailable) or runs out on
    // the way, with everything left as it was.
    EditResult Apply(Transaction transaction);
    // Bytes applying the transaction would allocate at its peak, undo step
    // included (what memoryAvailable is compared with).
    std::uint64_t BytesFor(const Transaction& transaction) const;
    // Replaces [from, to) by text; the selection becomes the caret after the
    // inserted text. Typing and deleting runs join one undo step as
    // UndoHistory describes.
    EditResult Replace(Pos from, Pos to, std::u16string_view text, EditKind kind);
    // Replaces the selection (typing, paste, input-method commit, drop).
    EditResult ReplaceSelection(std::u16string_view text, EditKind kind);
    // Moves [from, to) to dest (outside it) as one undo step of two edits;
    // the moved text ends selected.
    EditResult MoveText(Pos from, Pos to, Pos dest);
    // Replaces the whole text without copying it: one undo step of its own.
    // The caret goes to the start. Throws std::bad_alloc when memory runs
    // out, with the old text kept.
    void SetText(std::u16string&& text);

    bool CanUndo() const { return history_.CanUndo(); }
    bool CanRedo() const { return history_.CanRedo(); }
    // The selection goes back to what it was before (undo) or after (redo)
    // the step, with its affinity but without a goal x.
    EditResult UndoStep();
    EditResult RedoStep();
    bool Undo() { return UndoStep() == EditResult::Done; }
    bool Redo() { return RedoStep() == EditResult::Done; }
    // Ends the current typing or deleting run (the focus went away). Edits of
    // another kind, a moved caret and a typed line break end a run by
    // themselves.
    void Seal() { history_.Seal(); }
    const UndoHistory& History() const { return history_; }
    UndoHistory& History() { return history_; }
    // Frees at least bytes of undo history when it holds that much, the
    // oldest steps first (what the window calls before a command that needs
    // memory); returns what it freed.
    std::uint64_t ReleaseHistory(std::uint64_t bytes);

    // Bytes the undo history may hold before the next step is recorded; the
    // oldest steps are dropped to fit (the newest step is always kept). Unset:
    // no limit. The view sets it from the memory available.
    std::function<std::uint64_t()> historyBudget;
    // Bytes that can still be allocated. Before an edit, undo or redo that
    // needs more, the oldest undo steps are dropped, and when that cannot
    // free enough the change is refused. Unset: never refused beforehand.
    std::function<std::uint64_t()> memoryAvailable;

    // Called after every change of the text (each edit of a transaction on
    // its own, with the text as it is after that edit), before the selection
    // changes.
    std::function<void(const TextChange&)> onTextChanged;
    // Called after the selection (or the text under it) changed.
    std::function<void()> onSelectionChanged;

    // Any number of further listeners, told after the two above.
    struct Listener {
        std::function<void(const TextChange&)> textChanged;
        std::function<void()> selectionChanged;
    };
    int AddListener(Listener listener);
    void RemoveListener(int id);

private:
    Pos Snap(Pos pos) const;
    Selection Snapped(Selection s) const;
    Selection Normalized(Selection s) const;
    void MakeRoom(std::uint64_t stepBytes);
    bool MakeRoomFor(std::uint64_t bytes, std::size_t keepNewest);
    EditResult Replay(bool undo);
    void NotifyText(const TextEdit& inverse);
    void NotifySelection();
    void Select(const Selection& s);

    TextBuffer buffer_;
    UndoHistory history_;
    Selection selection_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListener_ = 1;
};

}  // namespace tessaly

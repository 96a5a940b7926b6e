#include "editor/editor_state.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "editor/text_units.h"

namespace tessaly {

namespace {

constexpr std::uint64_t kUnitBytes = sizeof(char16_t);

}  // namespace

std::u16string EditorState::SelectedText() const { return buffer_.Text(SelectionStart(), SelectionEnd()); }

// Never inside a character: a surrogate pair, a CR LF, a base with its
// marks, an emoji sequence.
Pos EditorState::Snap(Pos pos) const { return ClusterStart(buffer_, pos); }

Selection EditorState::Snapped(Selection s) const {
    s.anchor = Snap(s.anchor);
    s.caret = Snap(s.caret);
    return Normalized(s);
}

Selection EditorState::Normalized(Selection s) const {
    s.anchor = std::clamp<Pos>(s.anchor, 0, buffer_.Length());
    s.caret = std::clamp<Pos>(s.caret, 0, buffer_.Length());
    // A line's start is no row's end.
    if (s.atRowEnd && s.caret == buffer_.LineStart(buffer_.LineOf(s.caret))) s.atRowEnd = false;
    if (s.goalX < 0) s.goalX = -1;
    return s;
}

void EditorState::NotifyText(const TextEdit& inverse) {
    TextChange change = buffer_.LastChange();
    change.removedText = inverse.inserted;
    if (onTextChanged) onTextChanged(change);
    for (std::size_t i = 0; i < listeners_.size(); ++i)
        if (listeners_[i].second.textChanged) listeners_[i].second.textChanged(change);
}

void EditorState::NotifySelection() {
    if (onSelectionChanged) onSelectionChanged();
    for (std::size_t i = 0; i < listeners_.size(); ++i)
        if (listeners_[i].second.selectionChanged) listeners_[i].second.selectionChanged();
}

int EditorState::AddListener(Listener listener) {
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void EditorState::RemoveListener(int id) {
    std::erase_if(listeners_, [id](const auto& l) { return l.first == id; });
}

void EditorState::SetSelection(const Selection& selection) {
    const Selection s = Snapped(selection);
    if (s == selection_) return;
    if (s.anchor != selection_.anchor || s.caret != selection_.caret) history_.Seal();
    selection_ = s;
    NotifySelection();
}

void EditorState::SetSelection(Pos anchor, Pos caret) { SetSelection(Selection::Range(anchor, caret)); }

// The selection an edit, undo or redo leaves: kept as it was recorded
// (clamped only), so that redo gives back exactly what the edit gave.
void EditorState::Select(const Selection& s) {
    selection_ = s;
    selection_.anchor = std::clamp<Pos>(s.anchor, 0, buffer_.Length());
    selection_.caret = std::clamp<Pos>(s.caret, 0, buffer_.Length());
    NotifySelection();
}

void EditorState::MakeRoom(std::uint64_t stepBytes) {
    if (!historyBudget) return;
    const std::uint64_t budget = historyBudget();
    history_.DropOldest(budget > stepBytes ? budget - stepBytes : 0);
}

bool EditorState::MakeRoomFor(std::uint64_t bytes, std::size_t keepNewest) {
    if (!memoryAvailable) return true;
    const std::uint64_t available = memoryAvailable();
    if (bytes <= available) return true;
    const std::uint64_t short_ = bytes - available;
    // The oldest undo steps go first, but only when they free enough.
    if (history_.OlderUndoBytes(keepNewest) < short_) return false;
    history_.DropOldestUndo(short_, keepNewest);
    return true;
}

std::uint64_t EditorState::ReleaseHistory(std::uint64_t bytes) {
    const std::uint64_t held = history_.Bytes();
    return history_.DropOldest(held > bytes ? held - bytes : 0);
}

std::uint64_t EditorState::BytesFor(const Transaction& transaction) const {
    // What the edits allocate at their peak and what their undo step keeps.
    std::uint64_t need = sizeof(UndoHistory::Step);
    const Pos length = buffer_.Length();
    for (const Change& c : transaction.changes) {
        const Pos removed = std::abs(std::clamp<Pos>(c.to, 0, length) - std::clamp<Pos>(c.from, 0, length));
        need += buffer_.EditBytes(removed, c.text) + sizeof(TextEdit) +
                (static_cast<std::uint64_t>(removed) + c.text.size()) * kUnitBytes;
    }
    return need;
}

EditResult EditorState::Apply(Transaction transaction) {
    std::vector<Change>& changes = transaction.changes;
    const Pos length = buffer_.Length();
    Pos previousEnd = 0;
    for (Change& c : changes) {
        c.from = std::clamp<Pos>(c.from, 0, length);
        c.to = std::clamp<Pos>(c.to, 0, length);
        if (c.to < c.from) std::swap(c.from, c.to);
        if (c.from < previousEnd) return EditResult::Invalid;
        previousEnd = c.to;
    }
    std::erase_if(changes, [](const Change& c) { return c.from == c.to && c.text.empty(); });
    if (changes.empty()) return EditResult::NoChange;

    if (memoryAvailable && !MakeRoomFor(BytesFor(transaction), 0)) return EditResult::OutOfMemory;

    // The selection after: given, or the caret after the last change's text.
    Selection after;
    if (transaction.selection) {
        after = *transaction.selection;
    } else {
        Pos shift = 0;
        for (std::size_t i = 0; i + 1 < changes.size(); ++i)
            shift += static_cast<Pos>(changes[i].text.size()) - (changes[i].to - changes[i].from);
        after = Selection::Caret(changes.back().from + shift + static_cast<Pos>(changes.back().text.size()));
    }
    const Selection before = selection_;
    std::vector<TextEdit> inverses;
    try {
        inverses.reserve(changes.size());
        // From the last change back, so that the positions of the ones before
        // it still hold; undo replays the inverses the other way.
        for (auto c = changes.rbegin(); c != changes.rend(); ++c) {
            inverses.push_back(buffer_.Replace(c->from, c->to - c->from, c->text));
            NotifyText(inverses.back());
        }
        if (transaction.selection) after = Normalized(after);
        std::uint64_t stepBytes = 0;
        for (const TextEdit& e : inverses) stepBytes += e.Bytes();
        MakeRoom(stepBytes);
        history_.Record(std::move(inverses), transaction.kind, before, after);
    } catch (const std::bad_alloc&) {
        while (!inverses.empty()) {
            const TextEdit back = buffer_.Apply(std::move(inverses.back()));
            inverses.pop_back();
            NotifyText(back);
        }
        return EditResult::OutOfMemory;
    }
    Select(after);
    return EditResult::Done;
}

EditResult EditorState::Replace(Pos from, Pos to, std::u16string_view text, EditKind kind) {
    Transaction t;
    t.kind = kind;
    try {
        t.changes.push_back({from, to, std::u16string(text)});
    } catch (const std::bad_alloc&) {
        return EditResult::OutOfMemory;
    }
    return Apply(std::move(t));
}

EditResult EditorState::ReplaceSelection(std::u16string_view text, EditKind kind) {
    return Replace(SelectionStart(), SelectionEnd(), text, kind);
}

EditResult EditorState::MoveText(Pos from, Pos to, Pos dest) {
    const Pos n = buffer_.Length();
    from = std::clamp<Pos>(from, 0, n);
    to = std::clamp<Pos>(to, from, n);
    dest = std::clamp<Pos>(dest, 0, n);
    if (from == to || (dest >= from && dest <= to)) return EditResult::NoChange;
    Transaction t;
    const Pos size = to - from;
    try {
        std::u16string moved = buffer_.Text(from, to);
        if (dest < from) {
            t.selection = Selection::Range(dest, dest + size);
            t.changes.push_back({dest, dest, std::move(moved)});
            t.changes.push_back({from, to, {}});
        } else {
            t.selection = Selection::Range(dest - size, dest);
            t.changes.push_back({from, to, {}});
            t.changes.push_back({dest, dest, std::move(moved)});
        }
    } catch (const std::bad_alloc&) {
        return EditResult::OutOfMemory;
    }
    return Apply(std::move(t));
}

void EditorState::SetText(std::u16string&& text) {
    const Selection before = selection_;
    TextEdit inverse = buffer_.SetText(std::move(text));
    try {
        history_.Seal();
        MakeRoom(inverse.Bytes());
        std::vector<TextEdit> one;
        one.push_back(std::move(inverse));
        try {
            history_.Record(std::move(one), EditKind::Other, before, Selection::Caret(0));
        } catch (const std::bad_alloc&) {
            inverse = std::move(one.front());
            throw;
        }
    } catch (const std::bad_alloc&) {
        // The old text comes back (its storage is moved, not copied).
        buffer_.Apply(std::move(inverse));
        throw;
    }
    NotifyText(history_.NextUndo()->inverses.back());
    Select(Selection::Caret(0));
}

EditResult EditorState::Replay(bool undo) {
    const UndoHistory::Step* step = undo ? history_.NextUndo() : history_.NextRedo();
    if (!step) return EditResult::NoChange;
    if (memoryAvailable) {
        // A text put back whole needs its line index again (one start a
        // line); the other edits what the buffer allocates for them.
        std::uint64_t need = 0;
        for (const TextEdit& e : step->inverses) {
            need += e.wholeText
                        ? static_cast<std::uint64_t>(std::count(e.inserted.begin(), e.inserted.end(), u'\n')) * sizeof(Pos)
                        : buffer_.EditBytes(static_cast<Pos>(e.removed.size()), e.inserted);
        }
        if (!MakeRoomFor(need, undo ? 1 : 0)) return EditResult::OutOfMemory;
    }
    Selection s;
    try {
        const auto each = [this](const TextEdit& inverse) { NotifyText(inverse); };
        if (!(undo ? history_.Undo(buffer_, s, each) : history_.Redo(buffer_, s, each))) return EditResult::NoChange;
    } catch (const std::bad_alloc&) {
        return EditResult::OutOfMemory;
    }
    s.goalX = -1;  // the next vertical move starts from where the caret is shown now
    Select(s);
    return EditResult::Done;
}

EditResult EditorState::UndoStep() { return Replay(true); }
EditResult EditorState::RedoStep() { return Replay(false); }

}  // namespace tessaly

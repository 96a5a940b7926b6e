#include "editor/history.h"

namespace tessaly {

namespace {

std::uint64_t StepBytes(const UndoHistory::Step& step) {
    std::uint64_t bytes = sizeof(UndoHistory::Step);
    for (const TextEdit& e : step.inverses) bytes += e.Bytes() + sizeof(TextEdit);
    return bytes;
}

}  // namespace

bool UndoHistory::Joins(const TextEdit& inverse, EditKind kind) const {
    if (sealed_ || undo_.empty() || kind == EditKind::Other) return false;
    const Step& step = undo_.back();
    if (step.kind != kind || step.inverses.empty()) return false;
    const TextEdit& prev = step.inverses.back();
    if (prev.wholeText || inverse.wholeText) return false;
    // An inverse removes what the edit inserted and inserts what it removed.
    const Pos insertedLength = static_cast<Pos>(inverse.removed.size());
    const Pos removedLength = static_cast<Pos>(inverse.inserted.size());
    switch (kind) {
    case EditKind::Typing:
        return removedLength == 0 && inverse.pos == prev.pos + static_cast<Pos>(prev.removed.size());
    case EditKind::DeleteBackward:
        return insertedLength == 0 && removedLength > 0 && inverse.pos + removedLength == prev.pos;
    case EditKind::DeleteForward:
        return insertedLength == 0 && removedLength > 0 && inverse.pos == prev.pos;
    case EditKind::Other:
        break;
    }
    return false;
}

void UndoHistory::Record(TextEdit&& inverse, EditKind kind, Pos anchorBefore, Pos caretBefore, Pos anchorAfter,
                         Pos caretAfter) {
    for (const Step& s : redo_) bytes_ -= s.bytes;
    redo_.clear();
    if (Joins(inverse, kind)) {
        Step& step = undo_.back();
        bytes_ -= step.bytes;
        step.inverses.push_back(std::move(inverse));
        step.anchorAfter = anchorAfter;
        step.caretAfter = caretAfter;
        step.bytes = StepBytes(step);
        bytes_ += step.bytes;
    } else {
        Step step;
        step.inverses.push_back(std::move(inverse));
        step.anchorBefore = anchorBefore;
        step.caretBefore = caretBefore;
        step.anchorAfter = anchorAfter;
        step.caretAfter = caretAfter;
        step.kind = kind;
        step.bytes = StepBytes(step);
        bytes_ += step.bytes;
        undo_.push_back(std::move(step));
    }
    sealed_ = kind == EditKind::Other;
}

void UndoHistory::Seal() { sealed_ = true; }

bool UndoHistory::CanUndo() const { return !undo_.empty(); }
bool UndoHistory::CanRedo() const { return !redo_.empty(); }

bool UndoHistory::Replay(std::deque<Step>& from, std::deque<Step>& to, TextBuffer& buffer, bool before,
                         Pos& anchor, Pos& caret, const std::function<void()>& afterEach) {
    if (from.empty()) return false;
    Step step = std::move(from.back());
    from.pop_back();
    bytes_ -= step.bytes;
    // Applying the edits from the newest back gives their inverses in the
    // order that replays them from the back again.
    std::vector<TextEdit> back;
    back.reserve(step.inverses.size());
    while (!step.inverses.empty()) {
        back.push_back(buffer.Apply(std::move(step.inverses.back())));
        step.inverses.pop_back();
        if (afterEach) afterEach();
    }
    step.inverses = std::move(back);
    anchor = before ? step.anchorBefore : step.anchorAfter;
    caret = before ? step.caretBefore : step.caretAfter;
    step.bytes = StepBytes(step);
    bytes_ += step.bytes;
    to.push_back(std::move(step));
    sealed_ = true;
    return true;
}

bool UndoHistory::Undo(TextBuffer& buffer, Pos& anchor, Pos& caret, const std::function<void()>& afterEach) {
    return Replay(undo_, redo_, buffer, true, anchor, caret, afterEach);
}

bool UndoHistory::Redo(TextBuffer& buffer, Pos& anchor, Pos& caret, const std::function<void()>& afterEach) {
    return Replay(redo_, undo_, buffer, false, anchor, caret, afterEach);
}

void UndoHistory::Clear() {
    undo_.clear();
    redo_.clear();
    bytes_ = 0;
    sealed_ = true;
}

std::uint64_t UndoHistory::Bytes() const { return bytes_; }

std::uint64_t UndoHistory::DropOldest(std::uint64_t maxBytes) {
    std::uint64_t freed = 0;
    // The oldest undo steps first, then the redo steps farthest away.
    while (bytes_ > maxBytes && !undo_.empty()) {
        freed += undo_.front().bytes;
        bytes_ -= undo_.front().bytes;
        undo_.pop_front();
    }
    while (bytes_ > maxBytes && !redo_.empty()) {
        freed += redo_.front().bytes;
        bytes_ -= redo_.front().bytes;
        redo_.pop_front();
    }
    if (undo_.empty()) sealed_ = true;
    return freed;
}

std::size_t UndoHistory::UndoCount() const { return undo_.size(); }
std::size_t UndoHistory::RedoCount() const { return redo_.size(); }

}  // namespace tessaly

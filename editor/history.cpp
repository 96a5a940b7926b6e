#include "editor/history.h"

#include <algorithm>

namespace tessaly {

namespace {

std::uint64_t EditBytes(const TextEdit& e) { return e.Bytes() + sizeof(TextEdit); }

std::uint64_t StepBytes(const UndoHistory::Step& step) {
    std::uint64_t bytes = sizeof(UndoHistory::Step);
    for (const TextEdit& e : step.inverses) bytes += EditBytes(e);
    return bytes;
}

// A backward deletion run is merged by putting each deleted unit in front of
// the ones deleted before it; past this length a new inverse starts, so that
// a long run costs linear time.
constexpr std::size_t kPrependLimit = 256;

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
    case EditKind::NewLine:
        break;
    }
    return false;
}

// Adds a joining inverse to the newest step, merged into the step's last
// inverse when the two are adjacent pieces of one run. Strong guarantee.
void UndoHistory::Join(TextEdit&& inverse) {
    Step& step = undo_.back();
    TextEdit& prev = step.inverses.back();
    const std::uint64_t before = EditBytes(prev);
    std::uint64_t after = 0;
    if (step.kind == EditKind::Typing) {
        prev.removed.append(inverse.removed);
        after = EditBytes(prev);
    } else if (step.kind == EditKind::DeleteForward && prev.removed.empty()) {
        prev.inserted.append(inverse.inserted);
        after = EditBytes(prev);
    } else if (step.kind == EditKind::DeleteBackward && prev.removed.empty() &&
               prev.inserted.size() < kPrependLimit) {
        prev.inserted.insert(0, inverse.inserted);
        prev.pos = inverse.pos;
        after = EditBytes(prev);
    } else {
        const std::uint64_t added = EditBytes(inverse);
        step.inverses.push_back(std::move(inverse));
        after = before + added;
    }
    step.bytes = step.bytes - before + after;
    bytes_ = bytes_ - before + after;
}

void UndoHistory::ClearRedo() {
    for (const Step& s : redo_) bytes_ -= s.bytes;
    redo_.clear();
}

void UndoHistory::Record(std::vector<TextEdit>&& inverses, EditKind kind, const Selection& before,
                         const Selection& after) {
    if (inverses.empty()) return;
    const bool newLine = kind == EditKind::NewLine;
    const bool several = inverses.size() > 1;  // a transaction of several edits is a step of its own
    if (newLine) kind = EditKind::Typing;
    if (inverses.size() == 1 && Joins(inverses.front(), kind)) {
        Join(std::move(inverses.front()));
        inverses.clear();
        undo_.back().after = after;
    } else {
        undo_.emplace_back();  // the only allocation: made before anything is taken
        Step& step = undo_.back();
        step.inverses = std::move(inverses);
        step.before = before;
        step.after = after;
        step.kind = kind;
        step.bytes = StepBytes(step);
        bytes_ += step.bytes;
    }
    ClearRedo();
    sealed_ = kind == EditKind::Other || newLine || several;
}

void UndoHistory::Record(TextEdit&& inverse, EditKind kind, Pos anchorBefore, Pos caretBefore, Pos anchorAfter,
                         Pos caretAfter) {
    std::vector<TextEdit> one;
    one.push_back(std::move(inverse));
    Record(std::move(one), kind, Selection::Range(anchorBefore, caretBefore), Selection::Range(anchorAfter, caretAfter));
}

void UndoHistory::Seal() { sealed_ = true; }

bool UndoHistory::CanUndo() const { return !undo_.empty(); }
bool UndoHistory::CanRedo() const { return !redo_.empty(); }

bool UndoHistory::Replay(std::deque<Step>& from, std::deque<Step>& to, TextBuffer& buffer, bool before,
                         Selection& selection, const AfterEach& afterEach) {
    if (from.empty()) return false;
    to.emplace_back();  // room for the step on the other side, made first
    Step& step = from.back();
    // Applying the edits from the newest back gives their inverses in the
    // order that replays them from the back again.
    std::vector<TextEdit> back;
    try {
        back.reserve(step.inverses.size());
        while (!step.inverses.empty()) {
            back.push_back(buffer.Apply(std::move(step.inverses.back())));
            step.inverses.pop_back();
            if (afterEach) afterEach(back.back());
        }
    } catch (...) {
        // Take back what was done: the step stays where it was.
        while (!back.empty()) {
            step.inverses.push_back(buffer.Apply(std::move(back.back())));
            back.pop_back();
            if (afterEach) afterEach(step.inverses.back());
        }
        to.pop_back();
        throw;
    }
    step.inverses = std::move(back);
    selection = before ? step.before : step.after;
    bytes_ -= step.bytes;
    step.bytes = StepBytes(step);
    bytes_ += step.bytes;
    to.back() = std::move(step);
    from.pop_back();
    sealed_ = true;
    return true;
}

bool UndoHistory::Undo(TextBuffer& buffer, Selection& selection, const AfterEach& afterEach) {
    return Replay(undo_, redo_, buffer, true, selection, afterEach);
}

bool UndoHistory::Redo(TextBuffer& buffer, Selection& selection, const AfterEach& afterEach) {
    return Replay(redo_, undo_, buffer, false, selection, afterEach);
}

bool UndoHistory::Undo(TextBuffer& buffer, Pos& anchor, Pos& caret, const std::function<void()>& afterEach) {
    Selection s;
    const bool done = Undo(buffer, s, afterEach ? AfterEach([&](const TextEdit&) { afterEach(); }) : AfterEach());
    if (done) anchor = s.anchor, caret = s.caret;
    return done;
}

bool UndoHistory::Redo(TextBuffer& buffer, Pos& anchor, Pos& caret, const std::function<void()>& afterEach) {
    Selection s;
    const bool done = Redo(buffer, s, afterEach ? AfterEach([&](const TextEdit&) { afterEach(); }) : AfterEach());
    if (done) anchor = s.anchor, caret = s.caret;
    return done;
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

std::uint64_t UndoHistory::OlderUndoBytes(std::size_t keepNewest) const {
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i + keepNewest < undo_.size(); ++i) bytes += undo_[i].bytes;
    return bytes;
}

std::uint64_t UndoHistory::DropOldestUndo(std::uint64_t bytes, std::size_t keepNewest) {
    std::uint64_t freed = 0;
    while (freed < bytes && undo_.size() > keepNewest) {
        freed += undo_.front().bytes;
        bytes_ -= undo_.front().bytes;
        undo_.pop_front();
    }
    if (undo_.empty()) sealed_ = true;
    return freed;
}

std::size_t UndoHistory::UndoCount() const { return undo_.size(); }
std::size_t UndoHistory::RedoCount() const { return redo_.size(); }

}  // namespace tessaly

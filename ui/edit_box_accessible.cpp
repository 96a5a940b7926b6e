#include "ui/edit_box_accessible.h"

#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <climits>
#include <cmath>

#include "ui/edit_box.h"

namespace tessaly {
namespace {

// How far either side of an offset words and sentences are looked for: a
// line may hold a hundred million characters, and a word longer than this
// is read in pieces.
constexpr Pos kSegmentWindow = 4096;

int ToInt(Pos pos) { return int(std::clamp<Pos>(pos, 0, INT_MAX)); }

// The whole pixels whose top left corners lie inside rect (at least one), so
// that any pixel of the answer, its centre too, hits the character again.
QRect PixelsInside(const QRectF& rect) {
    const int left = int(std::ceil(rect.left()));
    const int top = int(std::ceil(rect.top()));
    const int right = std::max(left + 1, int(std::ceil(rect.right())));
    const int bottom = std::max(top + 1, int(std::ceil(rect.bottom())));
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

EditBoxAccessibleEventSink eventSink = nullptr;

bool Listening() { return eventSink || QAccessible::isActive(); }

void Post(QAccessibleEvent* event) {
    if (eventSink) {
        eventSink(event);
    } else {
        QAccessible::updateAccessibility(event);
    }
}

QAccessibleInterface* MakeInterface(const QString& key, QObject* object) {
    if (key == QLatin1String(EditBox::staticMetaObject.className())) {
        if (auto* box = qobject_cast<EditBox*>(object)) {
            return new EditBoxAccessible(box);
        }
    }
    return nullptr;
}

}  // namespace

void InstallEditBoxAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}

void SetEditBoxAccessibleEventSink(EditBoxAccessibleEventSink sink) { eventSink = sink; }

EditBoxAccessible::EditBoxAccessible(EditBox* box) : QAccessibleWidget(box, QAccessible::EditableText) {
    editedConnection_ = QObject::connect(box, &EditBox::TextEdited, box,
                                         [this](qint64 pos, qint64 removed, qint64 inserted) {
                                             OnTextEdited(pos, removed, inserted);
                                         });
    caretConnection_ = QObject::connect(box, &EditBox::CaretMoved, box, [this](qint64) { OnCaretMoved(); });
    lastAnchor_ = box->State().Anchor();
    lastCaret_ = box->State().Caret();
}

EditBoxAccessible::~EditBoxAccessible() {
    QObject::disconnect(editedConnection_);
    QObject::disconnect(caretConnection_);
}

EditBox* EditBoxAccessible::Box() const { return static_cast<EditBox*>(widget()); }

Pos EditBoxAccessible::Length() const {
    const EditBox* box = Box();
    return box ? box->State().Length() : 0;
}

void* EditBoxAccessible::interface_cast(QAccessible::InterfaceType type) {
    switch (type) {
    case QAccessible::TextInterface:
        return static_cast<QAccessibleTextInterface*>(this);
    case QAccessible::EditableTextInterface:
        return static_cast<QAccessibleEditableTextInterface*>(this);
    default:
        return QAccessibleWidget::interface_cast(type);
    }
}

QString EditBoxAccessible::text(QAccessible::Text type) const {
    if (type == QAccessible::Value) {
        const EditBox* box = Box();
        return box ? box->Text() : QString();
    }
    return QAccessibleWidget::text(type);
}

void EditBoxAccessible::setText(QAccessible::Text type, const QString& text) {
    if (type == QAccessible::Value) {
        Replace(0, Length(), text);
        return;
    }
    QAccessibleWidget::setText(type, text);
}

QAccessible::State EditBoxAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.multiLine = true;
    state.selectableText = true;
    state.focusable = true;
    return state;
}

// --- Positions and text ---

Pos EditBoxAccessible::FromOffset(int offset) const {
    if (offset == -2) {
        const EditBox* box = Box();
        return box ? box->State().Caret() : 0;
    }
    if (offset == -1) {
        return Length();
    }
    return std::clamp<Pos>(offset, 0, Length());
}

Pos EditBoxAccessible::CharStart(Pos pos) const {
    const EditBox* box = Box();
    if (!box || pos <= 0 || pos >= Length()) {
        return pos;
    }
    const TextBuffer& buffer = box->State().Buffer();
    const char16_t c = buffer.At(pos);
    const char16_t before = buffer.At(pos - 1);
    if ((IsLow(c) && IsHigh(before)) || (c == u'\n' && before == u'\r')) {
        return pos - 1;
    }
    return pos;
}

Pos EditBoxAccessible::CharEnd(Pos pos) const { return CharStart(pos) == pos ? pos : pos + 1; }

QString EditBoxAccessible::Copy(Pos from, Pos to) const {
    const EditBox* box = Box();
    from = std::clamp<Pos>(from, 0, Length());
    to = std::clamp<Pos>(to, from, Length());
    if (!box || from == to) {
        return QString();
    }
    QString text(qsizetype(to - from), Qt::Uninitialized);
    box->State().Buffer().CopyTo(from, to, reinterpret_cast<char16_t*>(text.data()));
    return text;
}

QString EditBoxAccessible::text(int startOffset, int endOffset) const {
    const Pos from = FromOffset(startOffset);
    const Pos to = FromOffset(endOffset);
    return from < to ? Copy(from, to) : QString();
}

int EditBoxAccessible::characterCount() const { return ToInt(Length()); }

// --- Caret and selection ---

void EditBoxAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    const EditBox* box = Box();
    if (!box || selectionIndex != 0 || !box->State().HasSelection()) {
        return;
    }
    *startOffset = ToInt(box->State().SelectionStart());
    *endOffset = ToInt(box->State().SelectionEnd());
}

int EditBoxAccessible::selectionCount() const {
    const EditBox* box = Box();
    return box && box->State().HasSelection() ? 1 : 0;
}

// The box has one selection: adding one replaces it.
void EditBoxAccessible::addSelection(int startOffset, int endOffset) { setSelection(0, startOffset, endOffset); }

void EditBoxAccessible::removeSelection(int selectionIndex) {
    EditBox* box = Box();
    if (box && selectionIndex == 0 && box->State().HasSelection()) {
        const Pos caret = box->State().Caret();
        box->SetSelection(caret, caret);
    }
}

void EditBoxAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    EditBox* box = Box();
    if (box && selectionIndex == 0) {
        box->SetSelection(FromOffset(startOffset), FromOffset(endOffset));
    }
}

int EditBoxAccessible::cursorPosition() const {
    const EditBox* box = Box();
    return box ? ToInt(box->State().Caret()) : 0;
}

void EditBoxAccessible::setCursorPosition(int position) {
    if (EditBox* box = Box()) {
        const Pos pos = FromOffset(position);
        box->SetSelection(pos, pos);
    }
}

// --- Text units ---

EditBoxAccessible::Range EditBoxAccessible::SegmentAt(Pos pos, int finderType) const {
    const TextBuffer& buffer = Box()->State().Buffer();
    const Pos line = buffer.LineOf(pos);
    const Pos lineStart = buffer.LineStart(line);
    const Pos lineEnd = buffer.LineEnd(line);
    if (pos >= lineEnd) {  // the CR LF
        return UnitAt(pos, QAccessible::CharBoundary);
    }
    const Pos from = std::max(lineStart, pos - kSegmentWindow);
    const Pos to = std::min(lineEnd, pos + kSegmentWindow);
    const QString window = Copy(from, to);
    QTextBoundaryFinder finder(QTextBoundaryFinder::BoundaryType(finderType), window);
    finder.setPosition(qsizetype(pos - from));
    if (!finder.isAtBoundary()) {
        finder.toPreviousBoundary();
    }
    const qsizetype start = std::max<qsizetype>(finder.position(), 0);
    qsizetype end = finder.toNextBoundary();
    if (end < 0) {
        end = window.size();
    }
    const Range range{from + start, from + end};
    return range.start <= pos && pos < range.end ? range : UnitAt(pos, QAccessible::CharBoundary);
}

EditBoxAccessible::Range EditBoxAccessible::UnitAt(Pos pos, QAccessible::TextBoundaryType type) const {
    EditBox* box = Box();
    const TextBuffer& buffer = box->State().Buffer();
    const Pos length = buffer.Length();
    const auto paragraph = [&] {
        const Pos line = buffer.LineOf(pos);
        const Pos end = line + 1 < buffer.LineCount() ? buffer.LineStart(line + 1) : length;
        return Range{buffer.LineStart(line), end};
    };
    switch (type) {
    case QAccessible::CharBoundary: {
        const Pos start = CharStart(pos);
        Pos end = start + 1;
        if (end < length) {
            const char16_t c = buffer.At(start);
            const char16_t next = buffer.At(end);
            if ((IsHigh(c) && IsLow(next)) || (c == u'\r' && next == u'\n')) {
                ++end;
            }
        }
        return {start, end};
    }
    case QAccessible::WordBoundary:
        return SegmentAt(pos, QTextBoundaryFinder::Word);
    case QAccessible::SentenceBoundary:
        return SegmentAt(pos, QTextBoundaryFinder::Sentence);
    case QAccessible::LineBoundary: {
        // The row as it is shown; the last row of a line takes its CR LF.
        const RowIndex::Row row = box->Rows().RowOf(pos);
        Range range{row.start, row.end};
        if (row.end >= buffer.LineEnd(row.line)) {
            range.end = paragraph().end;
        }
        return range.start <= pos && pos < range.end ? range : paragraph();
    }
    case QAccessible::ParagraphBoundary:
        return paragraph();
    case QAccessible::NoBoundary:
        break;
    }
    return {0, length};
}

QString EditBoxAccessible::Answer(Range range, int* startOffset, int* endOffset) const {
    *startOffset = ToInt(range.start);
    *endOffset = ToInt(range.end);
    return Copy(range.start, range.end);
}

// The unit of the given kind at offset (step 0), or the one before (-1) or
// after (+1) it.
QString EditBoxAccessible::UnitAround(int offset, QAccessible::TextBoundaryType boundaryType, int step,
                                      int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = -1;
    if (!Box() || offset < -2 || offset > characterCount()) {
        return QString();
    }
    const Pos length = Length();
    const Pos pos = FromOffset(offset);
    if (boundaryType == QAccessible::NoBoundary) {
        return Answer({0, length}, startOffset, endOffset);
    }
    if (step < 0) {
        const Pos unitStart = pos >= length ? length : UnitAt(pos, boundaryType).start;
        return unitStart == 0 ? Answer({0, 0}, startOffset, endOffset)
                              : Answer(UnitAt(unitStart - 1, boundaryType), startOffset, endOffset);
    }
    if (step > 0) {
        const Pos unitEnd = pos >= length ? length : UnitAt(pos, boundaryType).end;
        return unitEnd >= length ? Answer({length, length}, startOffset, endOffset)
                                 : Answer(UnitAt(unitEnd, boundaryType), startOffset, endOffset);
    }
    return pos >= length ? Answer({length, length}, startOffset, endOffset)
                         : Answer(UnitAt(pos, boundaryType), startOffset, endOffset);
}

QString EditBoxAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                        int* endOffset) const {
    return UnitAround(offset, boundaryType, 0, startOffset, endOffset);
}

QString EditBoxAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
    return UnitAround(offset, boundaryType, -1, startOffset, endOffset);
}

QString EditBoxAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                           int* startOffset, int* endOffset) const {
    return UnitAround(offset, boundaryType, 1, startOffset, endOffset);
}

// The text is of one style throughout.
QString EditBoxAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = -1;
    if (!Box() || offset < -2 || offset > characterCount()) {
        return QString();
    }
    *startOffset = 0;
    *endOffset = characterCount();
    return QString();
}

// --- Geometry (screen coordinates) ---

QRect EditBoxAccessible::characterRect(int offset) const {
    EditBox* box = Box();
    if (!box || offset < -2 || offset > characterCount()) {
        return QRect();
    }
    const QRectF rect = box->CharacterRect(FromOffset(offset));
    if (rect.isNull()) {
        return QRect();
    }
    return PixelsInside(rect).translated(box->viewport()->mapToGlobal(QPoint(0, 0)));
}

int EditBoxAccessible::offsetAtPoint(const QPoint& point) const {
    EditBox* box = Box();
    if (!box) {
        return -1;
    }
    const QPointF inViewport = box->viewport()->mapFromGlobal(point);
    const Pos pos = box->PositionAt(inViewport);
    if (pos < 0) {
        return -1;
    }
    // The box answers the nearest caret position: on the right half of a
    // character that is the position after it.
    if (pos > 0) {
        const Pos before = CharStart(pos - 1);
        const QRectF rect = box->CharacterRect(before);
        if (inViewport.x() >= rect.left() && inViewport.x() < rect.right() && inViewport.y() >= rect.top() &&
            inViewport.y() < rect.bottom()) {
            return ToInt(before);
        }
    }
    return ToInt(pos);
}

void EditBoxAccessible::scrollToSubstring(int startIndex, int endIndex) {
    EditBox* box = Box();
    if (!box) {
        return;
    }
    const Pos from = FromOffset(startIndex);
    const Pos to = std::max(from, FromOffset(endIndex));
    QScrollBar* bar = box->verticalScrollBar();
    const double height = box->viewport()->height();
    // A scroll bar step is a row (several when the rows exceed int): step by
    // the rows still to go until the start shows, a few times at most.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QRectF first = box->CharacterRect(from);
        const QRectF last = box->CharacterRect(to);
        const double rowHeight = std::max(1.0, first.height());
        double shift = 0;
        if (first.top() < 0) {
            shift = first.top();
        } else if (last.bottom() > height) {
            shift = std::min(last.bottom() - height, first.top());
        }
        const int rows = int(std::clamp(shift / rowHeight, double(INT_MIN), double(INT_MAX)));
        const int before = bar->value();
        bar->setValue(int(std::clamp<qint64>(qint64(before) + rows + (shift > 0 && rows == 0 ? 1 : 0),
                                             bar->minimum(), bar->maximum())));
        if (shift == 0 || bar->value() == before) {
            break;
        }
    }
}

// --- Editing ---

void EditBoxAccessible::Replace(Pos from, Pos to, const QString& text) {
    EditBox* box = Box();
    if (!box) {
        return;
    }
    const Pos start = CharStart(std::clamp<Pos>(from, 0, Length()));
    to = to > from ? CharEnd(std::min(to, Length())) : start;
    from = start;
    if (from == to && text.isEmpty()) {
        return;
    }
    box->ReplaceRange(from, to, EditBox::NormaliseLineBreaks(text));
}

void EditBoxAccessible::deleteText(int startOffset, int endOffset) {
    Replace(FromOffset(startOffset), FromOffset(endOffset), QString());
}

void EditBoxAccessible::insertText(int offset, const QString& text) {
    const Pos pos = FromOffset(offset);
    Replace(pos, pos, text);
}

void EditBoxAccessible::replaceText(int startOffset, int endOffset, const QString& text) {
    Replace(FromOffset(startOffset), FromOffset(endOffset), text);
}

// --- Events ---

// A change is announced with its text when both what went and what came are
// small: the inserted text from the box, the removed one from the editor's
// notice of the change (or, where it gives none, as spaces of the same
// length, as Qt's own text widgets do). A larger change is announced as
// an update without its text, at its position: bridges that forward the text
// send none, the others only say that the text changed, and clients read what
// they need through the text interface.
void EditBoxAccessible::OnTextEdited(Pos pos, Pos removed, Pos inserted) {
    textChangedSinceCaret_ = true;
    if (!Listening()) {
        return;
    }
    EditBox* box = Box();
    if (!box || (removed == 0 && inserted == 0)) {
        return;
    }
    const bool small = removed <= kEventTextLimit && inserted <= kEventTextLimit &&
                       pos <= Pos(INT_MAX) - std::max(removed, inserted);
    if (small) {
        const QString added = Copy(pos, pos + inserted);
        QString gone;
        if (removed > 0) {
            const std::u16string_view text = box->RemovedText();
            if (static_cast<Pos>(text.size()) == removed) {
                gone = QString::fromUtf16(text.data(), qsizetype(text.size()));
            } else {
                gone = QString(qsizetype(removed), u' ');
            }
        }
        if (removed == 0) {
            QAccessibleTextInsertEvent event(box, int(pos), added);
            Post(&event);
        } else if (inserted == 0) {
            QAccessibleTextRemoveEvent event(box, int(pos), gone);
            Post(&event);
        } else {
            QAccessibleTextUpdateEvent event(box, int(pos), gone, added);
            Post(&event);
        }
    } else {
        QAccessibleTextUpdateEvent event(box, ToInt(pos), QString(), QString());
        Post(&event);
    }
}

void EditBoxAccessible::OnCaretMoved() {
    EditBox* box = Box();
    if (!box) {
        return;
    }
    const EditorState& state = box->State();
    const Pos anchor = state.Anchor();
    const Pos caret = state.Caret();
    if (Listening()) {
        const Pos oldStart = std::min(lastAnchor_, lastCaret_);
        const Pos oldEnd = std::max(lastAnchor_, lastCaret_);
        const Pos start = state.SelectionStart();
        const Pos end = state.SelectionEnd();
        if ((start != oldStart || end != oldEnd) && (start != end || oldStart != oldEnd)) {
            QAccessibleTextSelectionEvent event(box, ToInt(start), ToInt(end));
            event.setCursorPosition(ToInt(caret));
            Post(&event);
        }
        if (caret != lastCaret_ || textChangedSinceCaret_) {
            QAccessibleTextCursorEvent event(box, ToInt(caret));
            Post(&event);
        }
    }
    lastAnchor_ = anchor;
    lastCaret_ = caret;
    textChangedSinceCaret_ = false;
}

}  // namespace tessaly

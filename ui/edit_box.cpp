#include "ui/edit_box.h"

#include <algorithm>
#include <cmath>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>
#include <climits>

#include "documents/memory_budget.h"
#include "editor/text_units.h"
#include "ui/box_mime.h"
#include "ui/edit_box_accessible.h"
#include "ui/edit_box_input.h"
#include "ui/edit_box_mouse.h"
#include "ui/message_box.h"

namespace tessaly {

using box::ToQString;
using box::View;

namespace {

constexpr double kMargin = 4;       // around the text, as the document margin of Qt's editors
constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';
constexpr Pos kEagerSelection = Pos{1} << 22;  // units the primary selection copies at once

}  // namespace

EditBox::EditBox(QWidget* parent)
    : QAbstractScrollArea(parent),
      view_(state_, viewport()),
      mouse_(std::make_unique<EditBoxMouse>(*this)),
      inputMethod_(std::make_unique<InputMethodAdapter>(*this)) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_KeyCompression, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setAttribute(Qt::WA_InputMethodEnabled);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    verticalScrollBar()->setSingleStep(1);

    state_.onTextChanged = [this](const TextChange& change) { OnTextChanged(change); };
    state_.onSelectionChanged = [this] { OnSelectionChanged(); };
    // An edit that would take more memory than is left is refused.
    state_.memoryAvailable = [] { return AvailableMemory().value_or(UINT64_MAX); };
    view_.SetFont(font());
    view_.SetWidth(TextWidth());
    view_.SetViewHeight(viewport()->height());
    InstallEditBoxAccessibility();
}

EditBox::~EditBox() {
    state_.onTextChanged = nullptr;
    state_.onSelectionChanged = nullptr;
}

// --- Text ---------------------------------------------------------------------

QString EditBox::Text() const { return ToQString(TextView()); }

std::u16string_view EditBox::TextView() const { return state_.Buffer().View(); }

void EditBox::SetText(std::u16string&& text) {
    state_.SetText(std::move(text));
    UpdateScrollBar();
    viewport()->update();
}

void EditBox::SetText(const QString& text) {
    std::u16string copy(View(text));
    SetText(std::move(copy));
}

void EditBox::ReplaceRange(Pos from, Pos to, const QString& text) {
    Check(state_.Replace(from, to, View(text), EditKind::Other));
    EnsureCaretVisible();
}

void EditBox::SetSelection(Pos anchor, Pos caret) {
    state_.SetSelection(anchor, caret);
    EnsureCaretVisible();
}

QString EditBox::NormaliseLineBreaks(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 16);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QChar(kCr)) {
            out += QStringLiteral("\r\n");
            if (i + 1 < n && text.at(i + 1) == QChar(kLf)) ++i;
        } else if (c == QChar(kLf)) {
            out += QStringLiteral("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

void EditBox::OnTextChanged(const TextChange& change) {
    if (lazyPrimary_) {
        lazyPrimary_->KeepText(change, state_.Buffer());
        lazyPrimary_ = nullptr;
    }
    ++generation_;
    view_.OnTextChanged(change);
    removedText_ = change.removedText;
    emit TextEdited(change.pos, change.removed, change.inserted);
    removedText_ = {};
    viewport()->update();
}

void EditBox::OnSelectionChanged() {
    caretShown_ = true;
    RestartBlink();
    viewport()->update();
    if (hasFocus()) {
        QGuiApplication::inputMethod()->update(Qt::ImQueryInput);
    }
    emit CaretMoved(state_.Caret());
}

// --- Geometry -----------------------------------------------------------------

double EditBox::TextLeft() const { return kMargin; }
double EditBox::TextWidth() const { return std::max(1.0, viewport()->width() - 2 * kMargin); }

Pos EditBox::PositionInRows(QPointF point, bool clampToText, bool* atRowEnd) {
    if (atRowEnd) *atRowEnd = false;
    const auto& shown = view_.Slots();
    if (!clampToText) {
        if (point.y() < shown.front().y || point.x() < 0 || point.x() > viewport()->width()) return -1;
    }
    const RowView::Slot* slot = &shown.front();
    for (const RowView::Slot& s : shown) {
        if (point.y() >= s.y) slot = &s;
    }
    if (point.y() >= slot->y + slot->height) {
        Row next;
        if (!view_.Rows().Next(slot->row, next)) return clampToText ? state_.Length() : -1;
        if (!clampToText) return -1;
    }
    const Pos pos = view_.PosAt(slot->row, point.x() - TextLeft());
    if (atRowEnd) *atRowEnd = IsWrapEnd(state_.Buffer(), slot->row, pos) && pos > slot->row.start;
    return pos;
}

Pos EditBox::PositionAt(QPointF viewportPoint) { return PositionInRows(viewportPoint, false); }

QRectF EditBox::CaretRectAt(Pos pos, bool atRowEnd) {
    const Row row = view_.Rows().RowOf(pos, atRowEnd);
    const double y = view_.YOf(row);
    const double x = TextLeft() + view_.XOf(row, pos);
    return QRectF(x, y, 1, view_.RowHeight());
}

QRectF EditBox::CaretRect() {
    const RowView::Composition& c = view_.GetComposition();
    if (c.at < 0) return CaretRectAt(state_.Caret(), state_.CaretAtRowEnd());
    // Inside a composition: where its cursor is drawn (it wraps like the text).
    const Row row = view_.Rows().RowOf(c.at, c.atRowEnd);
    const QPointF at = view_.CompositionCursor(row);
    return QRectF(TextLeft() + at.x(), view_.YOf(row) + at.y(), 1, view_.RowHeight());
}

QRectF EditBox::CharacterRect(Pos pos) {
    pos = std::clamp<Pos>(pos, 0, state_.Length());
    const Row row = view_.Rows().RowOf(pos);
    const double y = view_.YOf(row);
    const double x0 = TextLeft() + view_.XOf(row, pos);
    if (pos >= row.end) return QRectF(x0, y, 1, view_.RowHeight());
    const QTextLayout& layout = view_.Shaped(row);
    const Pos next = row.start + layout.nextCursorPosition(static_cast<int>(pos - row.start));
    const double x1 = TextLeft() + view_.XOf(row, std::min(next, row.end));
    return QRectF(std::min(x0, x1), y, std::max(1.0, std::abs(x1 - x0)), view_.RowHeight());
}

void EditBox::UpdateScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    view_.SetViewHeight(viewport()->height());
    const Row top = view_.TopRow();
    const bool exact = view_.NearEnd(top);
    const Row max = exact ? view_.MaxTopRow() : top;
    const Pos maxNumber = std::max<Pos>(0, exact ? max.number : view_.MaxTopNumber(top));
    const Pos value = exact && top.start >= max.start ? maxNumber : std::min(top.number, std::max<Pos>(0, maxNumber - 1));
    scrollScale_ = 1;
    while (maxNumber / scrollScale_ > INT_MAX / 2) scrollScale_ *= 2;
    settingScroll_ = true;
    bar->setRange(0, static_cast<int>(maxNumber / scrollScale_));
    bar->setPageStep(std::max(1, static_cast<int>(view_.RowsPerPage() / scrollScale_)));
    lastScrollValue_ = static_cast<int>(value / scrollScale_);
    bar->setValue(lastScrollValue_);
    settingScroll_ = false;
}

void EditBox::scrollContentsBy(int, int) {
    if (settingScroll_) return;
    QScrollBar* bar = verticalScrollBar();
    const int v = bar->value();
    if (v >= bar->maximum()) {
        view_.SetTop(view_.MaxTopRow().start);  // the end, exactly
    } else if (v <= 0) {
        view_.SetTop(0);
    } else if (std::abs(static_cast<Pos>(v) - lastScrollValue_) * scrollScale_ <= 4 * view_.RowsPerPage()) {
        view_.ScrollRows((static_cast<Pos>(v) - lastScrollValue_) * scrollScale_);  // row by row from here
    } else {
        view_.SetTop(view_.Rows().RowAt(static_cast<Pos>(v) * scrollScale_).start);
    }
    lastScrollValue_ = v;
    viewport()->update();
}

void EditBox::EnsureCaretVisible() {
    view_.SetViewHeight(viewport()->height());
    const RowView::Composition& c = view_.GetComposition();
    view_.EnsureVisible(c.at >= 0 ? view_.Rows().RowOf(c.at, c.atRowEnd)
                                  : view_.Rows().RowOf(state_.Caret(), state_.CaretAtRowEnd()));
    UpdateScrollBar();
    viewport()->update();
}

// --- Painting -----------------------------------------------------------------

void EditBox::paintEvent(QPaintEvent*) {
    view_.SetWidth(TextWidth());
    view_.SetViewHeight(viewport()->height());
    QPainter painter(viewport());
    RowView::PaintState st;
    st.selStart = state_.SelectionStart();
    st.selEnd = state_.SelectionEnd();
    st.caret = state_.Caret();
    st.caretAtRowEnd = state_.CaretAtRowEnd();
    st.showCaret = hasFocus() && caretShown_;
    st.dropCaret = mouse_->DropCaret();
    view_.Paint(painter, palette(), st, TextLeft());
    // The estimate of the rows may have changed with what was laid out.
    UpdateScrollBar();
}

void EditBox::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    view_.SetWidth(TextWidth());
    view_.SetViewHeight(viewport()->height());
    view_.SetTop(view_.TopPos());
    UpdateScrollBar();
}

void EditBox::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        view_.SetFont(font());
        UpdateScrollBar();
        viewport()->update();
    } else if (event->type() == QEvent::PaletteChange) {
        view_.Forget();
        viewport()->update();
    }
}

// --- Caret moves --------------------------------------------------------------

Pos EditBox::PreviousChar(Pos pos) const {
    const TextBuffer& b = state_.Buffer();
    if (pos <= 0) return 0;
    if (pos >= 2 && b.At(pos - 1) == kLf && b.At(pos - 2) == kCr) return pos - 2;
    if (pos >= 2 && QChar::isLowSurrogate(b.At(pos - 1)) && QChar::isHighSurrogate(b.At(pos - 2))) return pos - 2;
    return pos - 1;
}

Pos EditBox::NextChar(Pos pos) const {
    const TextBuffer& b = state_.Buffer();
    const Pos n = b.Length();
    if (pos >= n) return n;
    if (pos + 1 < n && b.At(pos) == kCr && b.At(pos + 1) == kLf) return pos + 2;
    if (pos + 1 < n && QChar::isHighSurrogate(b.At(pos)) && QChar::isLowSurrogate(b.At(pos + 1))) return pos + 2;
    return pos + 1;
}

Pos EditBox::NextWord(Pos pos) const { return tessaly::NextWord(state_.Buffer(), pos); }
Pos EditBox::PreviousWord(Pos pos) const { return tessaly::PreviousWord(state_.Buffer(), pos); }

// Left and right as the row is drawn (right-to-left runs included); past the
// row's visual edge, on to the row before or after.
Pos EditBox::VisualMove(Pos pos, bool right) {
    const Row row = view_.Rows().RowOf(pos, state_.CaretAtRowEnd());
    const QTextLayout& layout = view_.Shaped(row);
    const int i = static_cast<int>(pos - row.start);
    const int j = right ? layout.rightCursorPosition(i) : layout.leftCursorPosition(i);
    if (j != i && j >= 0 && j <= static_cast<int>(row.end - row.start)) return row.start + j;
    const bool forward = right != view_.RightToLeft(row.line);
    return forward ? NextChar(pos) : PreviousChar(pos);
}

void EditBox::MoveTo(Pos pos, bool extend) {
    pos = std::clamp<Pos>(pos, 0, state_.Length());
    state_.SetSelection(extend ? state_.Anchor() : pos, pos);
    EnsureCaretVisible();
    if (extend) SetPrimarySelection();
}

// Up and down by rows, keeping the x; on the first or last row the caret
// stays where it is.
void EditBox::MoveRows(Pos delta, bool extend) {
    const Pos caret = state_.Caret();
    const Row row = view_.Rows().RowOf(caret, state_.CaretAtRowEnd());
    const double goal = state_.GoalX() >= 0 ? state_.GoalX() : view_.XOf(row, caret);
    const Row to = view_.Walk(row, delta);
    if (to.start == row.start) return;
    const Pos p = view_.PosAt(to, goal);
    const bool atEnd = IsWrapEnd(state_.Buffer(), to, p) && p > to.start;
    state_.SetSelection(Selection{extend ? state_.Anchor() : p, p, atEnd, goal});
    EnsureCaretVisible();
    if (extend) SetPrimarySelection();
}

// Moves [from, to) to pos; a drop of the box's own selection comes here.
bool EditBox::MoveText(Pos from, Pos to, Pos pos) {
    const Pos n = state_.Length();
    from = std::clamp<Pos>(from, 0, n);
    to = std::clamp<Pos>(to, from, n);
    pos = std::clamp<Pos>(pos, 0, n);
    if (pos >= from && pos <= to) return false;
    if (from == to) {
        // Nothing to move: the caret goes to pos, as one step like any move.
        const Pos lo = std::min(pos, from), hi = std::max(pos, from);
        return Check(state_.Apply({{{lo, hi, state_.Buffer().Text(lo, hi)}}, Selection::Caret(pos), EditKind::Other}));
    }
    return Check(state_.MoveText(from, to, pos));
}

bool EditBox::DeleteMove(Pos to, EditKind kind) {
    if (state_.HasSelection()) {
        DeleteSelection();
        return true;
    }
    const Pos caret = state_.Caret();
    if (to == caret) return false;
    Check(state_.Replace(std::min(caret, to), std::max(caret, to), u"", kind));
    EnsureCaretVisible();
    return true;
}

void EditBox::InsertTyped(const QString& text, EditKind kind) {
    Check(state_.ReplaceSelection(View(text), kind));
    EnsureCaretVisible();
}

// --- Commands -----------------------------------------------------------------

bool EditBox::Check(EditResult result) {
    if (result == EditResult::OutOfMemory) {
        MsgBox(window(), QStringLiteral("メモリが不足しています。"), vbOKOnly, QStringLiteral("Tessaly"));
    }
    return result == EditResult::Done;
}

bool EditBox::Undo() {
    const bool done = Check(state_.UndoStep());
    EnsureCaretVisible();
    return done;
}

bool EditBox::Redo() {
    const bool done = Check(state_.RedoStep());
    EnsureCaretVisible();
    return done;
}

void EditBox::SelectAll() {
    state_.SetSelection(0, state_.Length());
    viewport()->update();
    SetPrimarySelection();
}

QMimeData* EditBox::MimeForSelection() const { return new BoxMime(ToQString(state_.SelectedText())); }

void EditBox::Copy() {
    if (!state_.HasSelection()) return;
    QGuiApplication::clipboard()->setMimeData(MimeForSelection());
}

void EditBox::Cut() {
    if (!state_.HasSelection()) return;
    Copy();
    DeleteSelection();
}

void EditBox::Paste() { InsertFromMime(QGuiApplication::clipboard()->mimeData()); }

void EditBox::DeleteSelection() {
    if (!state_.HasSelection()) return;
    Check(state_.ReplaceSelection(u"", EditKind::Other));
    EnsureCaretVisible();
}

void EditBox::InsertFromMime(const QMimeData* data) {
    if (!HasBoxText(data)) return;
    const QString text = TextOf(data);
    Check(state_.ReplaceSelection(View(text), EditKind::Other));
    EnsureCaretVisible();
}

// The primary selection keeps what was selected: copied at once unless it is
// very large (then read from the box while the text is unchanged, and copied
// when it changes if the primary selection still offers it).
void EditBox::SetPrimarySelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection() || !state_.HasSelection()) return;
    clipboard->setMimeData(MimeForPrimary(), QClipboard::Selection);
}

QMimeData* EditBox::MimeForPrimary() {
    const Pos from = state_.SelectionStart(), to = state_.SelectionEnd();
    if (to - from <= kEagerSelection) return new BoxMime(ToQString(state_.Buffer().Text(from, to)));
    auto* data = new BoxMime(this, from, to, generation_);
    lazyPrimary_ = data;
    return data;
}

QMenu* EditBox::CreateContextMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("EditBoxContextMenu"));
    auto add = [&](const char* caption, QKeySequence::StandardKey key, bool enabled, auto slot) {
        QString text = QCoreApplication::translate("QWidgetTextControl", caption);
        const QKeySequence seq(key);
        if (!seq.isEmpty()) text += QLatin1Char('\t') + seq.toString(QKeySequence::NativeText);
        QAction* a = menu->addAction(text);
        a->setEnabled(enabled);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    const bool sel = state_.HasSelection();
    add("&Undo", QKeySequence::Undo, state_.CanUndo(), [this] { Undo(); });
    add("&Redo", QKeySequence::Redo, state_.CanRedo(), [this] { Redo(); });
    menu->addSeparator();
    add("Cu&t", QKeySequence::Cut, sel, [this] { Cut(); });
    add("&Copy", QKeySequence::Copy, sel, [this] { Copy(); });
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    add("&Paste", QKeySequence::Paste, clip && clip->hasText(), [this] { Paste(); });
    add("Delete", QKeySequence::UnknownKey, sel, [this] { DeleteSelection(); });
    menu->addSeparator();
    add("Select All", QKeySequence::SelectAll, state_.Length() > 0, [this] { SelectAll(); });
    return menu;
}

void EditBox::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// --- Keyboard -----------------------------------------------------------------

bool EditBox::event(QEvent* e) {
    if (e->type() == QEvent::ShortcutOverride) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ActionForKey(ke).command != EditCommand::None) {
            ke->accept();
            return true;
        }
    } else if (e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        // Tab is a character here, not a focus move.
        if (ActionForKey(ke).command == EditCommand::Tab) {
            keyPressEvent(ke);
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void EditBox::keyPressEvent(QKeyEvent* e) {
    const KeyAction action = ActionForKey(e);
    if (action.command == EditCommand::None) {
        e->ignore();
        return;
    }
    if (action.command == EditCommand::Type) {
        InsertTyped(e->text(), EditKind::Typing);
    } else {
        Run(action.command, action.extend);
    }
    e->accept();
    caretShown_ = true;
    RestartBlink();
}

void EditBox::Run(EditCommand command, bool extend) {
    const Pos caret = state_.Caret();
    const TextBuffer& b = state_.Buffer();
    const Pos line = b.LineOf(caret);
    auto horizontal = [&](Pos p) {
        MoveTo(p, extend);
    };
    auto rowEdge = [&](bool end) {
        const Row row = view_.Rows().RowOf(caret, state_.CaretAtRowEnd());
        const Pos p = end ? row.end : row.start;
        state_.SetSelection(Selection{extend ? state_.Anchor() : p, p, end && IsWrapEnd(b, row, p) && p > row.start, -1});
        EnsureCaretVisible();
        if (extend) SetPrimarySelection();
    };
    auto page = [&](int sign) {
        const Pos n = std::max(1, view_.RowsPerPage() - 1);
        view_.ScrollRows(sign * n);
        MoveRows(sign * n, extend);
        UpdateScrollBar();
        viewport()->update();
    };
    // An arrow with a selection goes to its edge, as Qt's editors do.
    auto arrow = [&](bool right) {
        if (!extend && state_.HasSelection()) {
            const bool toEnd = right != view_.RightToLeft(line);
            horizontal(toEnd ? state_.SelectionEnd() : state_.SelectionStart());
        } else {
            horizontal(VisualMove(caret, right));
        }
    };
    switch (command) {
    case EditCommand::Undo: Undo(); break;
    case EditCommand::Redo: Redo(); break;
    case EditCommand::Copy: Copy(); break;
    case EditCommand::Cut: Cut(); break;
    case EditCommand::Paste: Paste(); break;
    case EditCommand::SelectAll: SelectAll(); break;
    case EditCommand::NextChar: arrow(true); break;
    case EditCommand::PreviousChar: arrow(false); break;
    case EditCommand::NextWord: horizontal(NextWord(caret)); break;
    case EditCommand::PreviousWord: horizontal(PreviousWord(caret)); break;
    case EditCommand::NextRow: MoveRows(1, extend); break;
    case EditCommand::PreviousRow: MoveRows(-1, extend); break;
    case EditCommand::NextPage: page(1); break;
    case EditCommand::PreviousPage: page(-1); break;
    case EditCommand::RowStart: rowEdge(false); break;
    case EditCommand::RowEnd: rowEdge(true); break;
    case EditCommand::LineStart: horizontal(b.LineStart(line)); break;
    case EditCommand::LineEnd: horizontal(b.LineEnd(line)); break;
    case EditCommand::TextStart: horizontal(0); break;
    case EditCommand::TextEnd: horizontal(state_.Length()); break;
    case EditCommand::DeleteStartOfWord: DeleteMove(PreviousWord(caret), EditKind::DeleteBackward); break;
    case EditCommand::DeleteEndOfWord: DeleteMove(NextWord(caret), EditKind::DeleteForward); break;
    case EditCommand::DeleteEndOfLine:
        DeleteMove(caret == b.LineEnd(line) ? NextChar(caret) : b.LineEnd(line), EditKind::DeleteForward);
        break;
    case EditCommand::DeleteLine: {
        const Pos from = b.LineStart(line);
        const Pos to = line + 1 < b.LineCount() ? b.LineStart(line + 1) : b.Length();
        state_.SetSelection(from, to);
        DeleteSelection();
        break;
    }
    case EditCommand::NewLine: InsertTyped(QStringLiteral("\r\n"), EditKind::NewLine); break;
    case EditCommand::Backspace: DeleteMove(PreviousChar(caret), EditKind::DeleteBackward); break;
    case EditCommand::Delete:
        // The whole character after the caret, as the arrows step over it;
        // Backspace takes back one code point at a time.
        DeleteMove(tessaly::NextCluster(state_.Buffer(), caret), EditKind::DeleteForward);
        break;
    case EditCommand::Tab: InsertTyped(QStringLiteral("\t"), EditKind::Typing); break;
    case EditCommand::Type:
    case EditCommand::None: break;
    }
}

// --- The caret's blink and focus -------------------------------------------

void EditBox::RestartBlink() {
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash >= 2) {
        blinkTimer_.start(flash / 2, this);
    } else {
        blinkTimer_.stop();
    }
}

void EditBox::timerEvent(QTimerEvent* e) {
    if (e->timerId() == blinkTimer_.timerId()) {
        caretShown_ = !caretShown_;
        viewport()->update();
    } else if (!mouse_->Timer(e->timerId())) {
        QAbstractScrollArea::timerEvent(e);
    }
}

void EditBox::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    caretShown_ = true;
    RestartBlink();
    viewport()->update();
}

void EditBox::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    state_.Seal();
    blinkTimer_.stop();
    viewport()->update();
}

// --- Mouse, drags and input methods: forwarded to their parts ------------------

void EditBox::mousePressEvent(QMouseEvent* e) { mouse_->Press(e); }
void EditBox::mouseMoveEvent(QMouseEvent* e) { mouse_->Move(e); }
void EditBox::mouseReleaseEvent(QMouseEvent* e) { mouse_->Release(e); }
void EditBox::mouseDoubleClickEvent(QMouseEvent* e) { mouse_->DoubleClick(e); }
void EditBox::dragEnterEvent(QDragEnterEvent* e) { mouse_->DragEnter(e); }
void EditBox::dragMoveEvent(QDragMoveEvent* e) { mouse_->DragMove(e); }
void EditBox::dragLeaveEvent(QDragLeaveEvent*) { mouse_->DragLeave(); }
void EditBox::dropEvent(QDropEvent* e) { mouse_->Drop(e); }

void EditBox::inputMethodEvent(QInputMethodEvent* e) { inputMethod_->Event(e); }

QVariant EditBox::inputMethodQuery(Qt::InputMethodQuery query) const {
    std::optional<QVariant> answer = inputMethod_->Query(query);
    return answer ? *std::move(answer) : QAbstractScrollArea::inputMethodQuery(query);
}

}  // namespace tessaly

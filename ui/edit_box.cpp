#include "ui/edit_box.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDropEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>
#include <QUrl>
#include <climits>

#include "ui/edit_box_accessible.h"

namespace tessaly {
namespace {

constexpr double kMargin = 4;       // around the text, as the document margin of Qt's editors
constexpr double kTabStop = 80;     // Qt's editors' default tab distance
constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// What the box draws for a unit: control pictures for the controls a line
// holds, symbols for the separators that would otherwise break the row.
char16_t DisplayUnit(char16_t c) {
    if (c < 0x20 && c != u'\t') return static_cast<char16_t>(0x2400 + c);
    if (c == 0x7F) return 0x2421;
    if (c == 0x2028) return 0x2424;  // SYMBOL FOR NEWLINE
    if (c == 0x2029) return 0x00B6;  // PILCROW SIGN
    return c;
}

bool IsSubstituted(char16_t c) { return DisplayUnit(c) != c; }

bool JoinsPrevious(char32_t c) {
    if (c == 0x200D || c == 0x200C) return true;                       // ZWJ, ZWNJ
    if ((c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF)) return true;  // variation selectors
    if (c >= 0x1F3FB && c <= 0x1F3FF) return true;                      // skin tone modifiers
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

// Word classes for word moves and double clicks: a run of one class is a word.
int WordClass(char16_t c) {
    if (c == u' ' || c == u'\t' || c == 0x3000) return 0;
    if (c == kCr || c == kLf) return 1;
    if (c >= 0x3041 && c <= 0x309F) return 3;                           // hiragana
    if ((c >= 0x30A0 && c <= 0x30FF) || (c >= 0xFF66 && c <= 0xFF9F)) return 4;  // katakana
    if ((c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || QChar::isSurrogate(c)) return 5;
    const QChar ch(c);
    if (ch.isLetterOrNumber() || ch.isMark() || c == u'_') return 2;
    return 6;
}

// The primary selection's contents, taken from the box only when another
// program asks for them, and only while the text is the one selected.
class SelectionMime final : public QMimeData {
public:
    SelectionMime(EditBox* box, Pos from, Pos to, quint64 generation)
        : box_(box), from_(from), to_(to), generation_(generation) {}
    QStringList formats() const override { return {QStringLiteral("text/plain")}; }
    bool hasFormat(const QString& mime) const override { return mime == QLatin1String("text/plain"); }

protected:
    QVariant retrieveData(const QString& mime, QMetaType) const override {
        if (mime != QLatin1String("text/plain") || !box_ || box_->Generation() != generation_) return {};
        const std::u16string text = box_->State().Buffer().Text(from_, to_);
        return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    }

private:
    QPointer<EditBox> box_;
    Pos from_, to_;
    quint64 generation_;
};

QString ToQString(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

std::u16string_view View(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size())};
}

}  // namespace

// The font and what is known of its characters.
struct EditBox::Metrics {
    explicit Metrics(const QFont& f, QPaintDevice* device) : font(f), fm(f, device), device(device) {
        // Rows are as tall as the tallest of the fonts a Japanese text uses.
        QTextLayout sample(QStringLiteral("Mgjあ漢字ア"), font, device);
        sample.beginLayout();
        QTextLine line = sample.createLine();
        sample.endLayout();
        ascent = std::max(fm.ascent(), line.ascent());
        rowHeight = std::ceil(ascent + std::max(fm.descent(), line.descent()));
        bmp.assign(0x10000, -1.0f);
    }
    double Advance(char32_t c) {
        if (c < 0x10000) {
            float& a = bmp[c];
            if (a < 0) {
                const char16_t shown = DisplayUnit(static_cast<char16_t>(c));
                a = static_cast<float>(fm.horizontalAdvance(QString(QChar(shown))));
            }
            return a;
        }
        auto it = astral.find(c);
        if (it == astral.end()) {
            const char32_t ucs4[] = {c};
            it = astral.emplace(c, fm.horizontalAdvance(QString::fromUcs4(ucs4, 1))).first;
        }
        return it->second;
    }

    QFont font;
    QFontMetricsF fm;
    QPaintDevice* device;
    double ascent = 0;
    double rowHeight = 1;
    std::vector<float> bmp;
    std::unordered_map<char32_t, double> astral;
};

EditBox::EditBox(QWidget* parent) : QAbstractScrollArea(parent), rows_(state_.Buffer()) {
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
    metrics_ = std::make_unique<Metrics>(font(), viewport());
    ResetRows();
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
    topPos_ = 0;
    desiredX_ = -1;
    caretAtRowEnd_ = false;
    UpdateScrollBar();
    viewport()->update();
}

void EditBox::SetText(const QString& text) {
    std::u16string copy(View(text));
    SetText(std::move(copy));
}

void EditBox::ReplaceRange(Pos from, Pos to, const QString& text) {
    state_.History().Seal();
    state_.Replace(from, to, View(text), EditKind::Other);
    state_.History().Seal();
    EnsureCaretVisible();
}

void EditBox::SetSelection(Pos anchor, Pos caret) {
    caretAtRowEnd_ = false;
    desiredX_ = -1;
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
    ++generation_;
    rows_.OnTextChanged(change);
    if (change.wholeText) {
        topPos_ = 0;
    } else if (change.pos < topPos_) {
        topPos_ = change.pos + change.removed <= topPos_ ? topPos_ + change.inserted - change.removed : change.pos;
    }
    topPos_ = std::clamp<Pos>(topPos_, 0, state_.Length());
    emit TextEdited(change.pos, change.removed, change.inserted);
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

// --- Rows ---------------------------------------------------------------------

void EditBox::ResetRows() {
    Metrics* m = metrics_.get();
    CharMetrics cm;
    cm.advance = [m](char32_t c) { return m->Advance(c); };
    cm.joinsPrevious = [](char32_t c) { return JoinsPrevious(c); };
    cm.tabStop = kTabStop;
    rows_.Reset(TextWidth(), std::move(cm));
    lastWidth_ = TextWidth();
}

double EditBox::RowHeight() const { return metrics_->rowHeight; }
double EditBox::TextLeft() const { return kMargin; }
double EditBox::TextWidth() const { return std::max(1.0, viewport()->width() - 2 * kMargin); }

int EditBox::VisibleRowCount() const {
    return std::max(1, static_cast<int>((viewport()->height() - kMargin) / RowHeight()));
}

Pos EditBox::TopRowNumber() { return rows_.RowOf(topPos_).number; }

QString EditBox::DisplayText(Pos from, Pos to) const {
    QString s(static_cast<qsizetype>(to - from), Qt::Uninitialized);
    if (to > from) {
        state_.Buffer().CopyTo(from, to, reinterpret_cast<char16_t*>(s.data()));
    }
    char16_t* d = reinterpret_cast<char16_t*>(s.data());
    for (qsizetype i = 0; i < s.size(); ++i) d[i] = DisplayUnit(d[i]);
    return s;
}

namespace {

void LayOutRow(QTextLayout& layout, double width) {
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(kTabStop);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
}

}  // namespace

double EditBox::XInRow(const RowIndex::Row& row, Pos pos) {
    QTextLayout layout(DisplayText(row.start, row.end), metrics_->font, viewport());
    LayOutRow(layout, TextWidth());
    const QTextLine line = layout.lineAt(0);
    return line.isValid() ? line.cursorToX(static_cast<int>(pos - row.start)) : 0;
}

Pos EditBox::PosInRow(const RowIndex::Row& row, double x) {
    QTextLayout layout(DisplayText(row.start, row.end), metrics_->font, viewport());
    LayOutRow(layout, TextWidth());
    const QTextLine line = layout.lineAt(0);
    if (!line.isValid()) return row.start;
    Pos pos = row.start + line.xToCursor(x, QTextLine::CursorBetweenCharacters);
    pos = std::clamp(pos, row.start, row.end);
    if (pos > row.start && pos < row.end && QChar::isLowSurrogate(state_.Buffer().At(pos))) --pos;
    return pos;
}

// A row ends at a wrap point when the next row starts where it ends.
static bool IsWrapEnd(const TextBuffer& buffer, const RowIndex::Row& row, Pos pos) {
    return pos == row.end && pos != buffer.LineEnd(row.line);
}

Pos EditBox::PositionInRows(QPointF point, bool clampToText) {
    const Pos top = TopRowNumber();
    const double rowY = (point.y() - kMargin) / RowHeight();
    const Pos count = rows_.RowCount();
    if (!clampToText) {
        if (rowY < 0 || point.x() < 0 || point.x() > viewport()->width()) return -1;
    }
    Pos number = top + static_cast<Pos>(std::floor(rowY));
    if (number < 0) return 0;
    if (number >= count) {
        if (!clampToText) return -1;
        return state_.Length();
    }
    const RowIndex::Row row = rows_.RowAt(number);
    if (row.number != number && !clampToText) return -1;
    const Pos pos = PosInRow(row, point.x() - TextLeft());
    return pos;
}

Pos EditBox::PositionAt(QPointF viewportPoint) { return PositionInRows(viewportPoint, false); }

QRectF EditBox::CaretRectAt(Pos pos, bool atRowEnd) {
    const RowIndex::Row row = rows_.RowOf(pos, atRowEnd);
    const double y = kMargin + static_cast<double>(row.number - TopRowNumber()) * RowHeight();
    const double x = TextLeft() + XInRow(row, pos);
    return QRectF(x, y, 1, RowHeight());
}

QRectF EditBox::CaretRect() {
    if (preedit_.isEmpty()) return CaretRectAt(state_.Caret(), caretAtRowEnd_);
    // Inside a preedit: where its cursor is drawn.
    const Pos caret = state_.Caret();
    const RowIndex::Row row = rows_.RowOf(caret, caretAtRowEnd_);
    QTextLayout layout(DisplayText(row.start, row.end), metrics_->font, viewport());
    layout.setPreeditArea(static_cast<int>(caret - row.start), preedit_);
    LayOutRow(layout, TextWidth());
    const QTextLine line = layout.lineAt(0);
    const double x = line.isValid() ? line.cursorToX(static_cast<int>(caret - row.start) + preeditCursor_) : 0;
    const double y = kMargin + static_cast<double>(row.number - TopRowNumber()) * RowHeight();
    return QRectF(TextLeft() + x, y, 1, RowHeight());
}

QRectF EditBox::CharacterRect(Pos pos) {
    pos = std::clamp<Pos>(pos, 0, state_.Length());
    const RowIndex::Row row = rows_.RowOf(pos);
    const double y = kMargin + static_cast<double>(row.number - TopRowNumber()) * RowHeight();
    const double x0 = TextLeft() + XInRow(row, pos);
    if (pos >= row.end) {
        return QRectF(x0, y, 1, RowHeight());
    }
    const double x1 = TextLeft() + XInRow(row, NextChar(pos) > row.end ? row.end : NextChar(pos));
    return QRectF(x0, y, std::max(1.0, x1 - x0), RowHeight());
}

void EditBox::UpdateScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    const Pos count = rows_.RowCount();
    const Pos maxTop = std::max<Pos>(0, count - VisibleRowCount());
    scrollScale_ = 1;
    while (maxTop / scrollScale_ > INT_MAX / 2) scrollScale_ *= 2;
    settingScroll_ = true;
    bar->setRange(0, static_cast<int>(maxTop / scrollScale_));
    bar->setPageStep(std::max(1, static_cast<int>(VisibleRowCount() / scrollScale_)));
    bar->setValue(static_cast<int>(TopRowNumber() / scrollScale_));
    settingScroll_ = false;
}

void EditBox::scrollContentsBy(int, int) {
    if (settingScroll_) return;
    const Pos number = static_cast<Pos>(verticalScrollBar()->value()) * scrollScale_;
    topPos_ = rows_.RowAt(number).start;
    viewport()->update();
}

void EditBox::ScrollToRow(Pos number) {
    const Pos count = rows_.RowCount();
    number = std::clamp<Pos>(number, 0, std::max<Pos>(0, count - 1));
    topPos_ = rows_.RowAt(number).start;
    UpdateScrollBar();
    viewport()->update();
}

void EditBox::EnsureCaretVisible() {
    const Pos caretRow = rows_.RowOf(state_.Caret(), caretAtRowEnd_).number;
    const Pos top = TopRowNumber();
    const int visible = VisibleRowCount();
    if (caretRow < top) {
        topPos_ = rows_.RowAt(caretRow).start;
    } else if (caretRow >= top + visible) {
        topPos_ = rows_.RowAt(caretRow - visible + 1).start;
    }
    UpdateScrollBar();
    viewport()->update();
}

// --- Painting -----------------------------------------------------------------

void EditBox::paintEvent(QPaintEvent*) {
    if (TextWidth() != lastWidth_) ResetRows();
    QPainter painter(viewport());
    const QPalette& pal = palette();
    const QColor muted = pal.color(QPalette::PlaceholderText);
    const Pos selStart = state_.SelectionStart();
    const Pos selEnd = state_.SelectionEnd();
    const Pos caret = state_.Caret();
    const bool focused = hasFocus();
    const RowIndex::Row caretRow = rows_.RowOf(caret, caretAtRowEnd_);
    const TextBuffer& buffer = state_.Buffer();

    RowIndex::Row row = rows_.RowOf(topPos_);
    const Pos top = row.number;
    const int visible = VisibleRowCount() + 1;
    for (int i = 0; i < visible; ++i) {
        if (i > 0) {
            const RowIndex::Row next = rows_.RowAt(row.number + 1);
            if (next.number != row.number + 1) break;
            row = next;
        }
        const double y = kMargin + static_cast<double>(row.number - top) * RowHeight();
        const bool isCaretRow = row.number == caretRow.number;
        const QString shown = DisplayText(row.start, row.end);
        QTextLayout layout(shown, metrics_->font, viewport());
        QList<QTextLayout::FormatRange> formats;
        for (qsizetype k = 0; k < shown.size(); ++k) {
            const char16_t c = buffer.At(row.start + k);
            if (IsSubstituted(c)) {
                qsizetype e = k + 1;
                while (e < shown.size() && IsSubstituted(buffer.At(row.start + e))) ++e;
                QTextLayout::FormatRange r;
                r.start = static_cast<int>(k);
                r.length = static_cast<int>(e - k);
                r.format.setForeground(muted);
                formats.append(r);
                k = e - 1;
            }
        }
        const int preeditAt = static_cast<int>(caret - row.start);
        if (isCaretRow && !preedit_.isEmpty()) {
            layout.setPreeditArea(preeditAt, preedit_);
            for (QTextLayout::FormatRange& r : formats) {
                if (r.start >= preeditAt) r.start += static_cast<int>(preedit_.size());
            }
            for (const QInputMethodEvent::Attribute& a : preeditAttributes_) {
                if (a.type != QInputMethodEvent::TextFormat) continue;
                QTextCharFormat f = qvariant_cast<QTextFormat>(a.value).toCharFormat();
                if (!f.isValid()) continue;
                QTextLayout::FormatRange r;
                r.start = preeditAt + a.start;
                r.length = a.length;
                r.format = f;
                formats.append(r);
            }
        }
        layout.setFormats(formats);
        LayOutRow(layout, TextWidth());
        const QTextLine line = layout.lineAt(0);
        const double baselineShift = line.isValid() ? metrics_->ascent - line.ascent() : 0;
        const QPointF at(TextLeft(), y + baselineShift);

        QList<QTextLayout::FormatRange> selections;
        const Pos lineEnd = buffer.LineEnd(row.line);
        if (selEnd > row.start && selStart < row.end) {
            QTextLayout::FormatRange r;
            const Pos a = std::max(selStart, row.start);
            const Pos b = std::min(selEnd, row.end);
            r.start = static_cast<int>(a - row.start);
            r.length = static_cast<int>(b - a);
            if (isCaretRow && !preedit_.isEmpty() && r.start >= preeditAt) r.start += preedit_.size();
            r.format.setBackground(pal.brush(QPalette::Highlight));
            r.format.setForeground(pal.brush(QPalette::HighlightedText));
            selections.append(r);
        }
        layout.draw(&painter, at, selections);
        // A selected line break: a space's width of highlight after the row.
        if (row.end == lineEnd && lineEnd < buffer.Length() && selStart <= lineEnd && selEnd > lineEnd) {
            const double x = TextLeft() + (line.isValid() ? line.naturalTextWidth() : 0);
            painter.fillRect(QRectF(x, y, metrics_->fm.horizontalAdvance(QLatin1Char(' ')), RowHeight()),
                             pal.brush(QPalette::Highlight));
        }
        if (isCaretRow && focused && caretShown_ && line.isValid()) {
            int cursor = preeditAt;
            if (!preedit_.isEmpty()) cursor += preeditCursor_;
            if (preedit_.isEmpty() || preeditCursorVisible_) {
                const double x = TextLeft() + line.cursorToX(cursor);
                painter.fillRect(QRectF(x, y, 1, RowHeight()), pal.brush(QPalette::Text));
            }
        }
        // Where a dragged text would drop.
        if (dropCaret_ >= row.start && dropCaret_ <= row.end && line.isValid()) {
            const double x = TextLeft() + line.cursorToX(static_cast<int>(dropCaret_ - row.start));
            painter.fillRect(QRectF(x, y, 1, RowHeight()), pal.brush(QPalette::Text));
        }
        if (row.end >= buffer.Length() && row.number + 1 >= rows_.RowCount()) break;
    }
    // The estimate of the rows may have changed with what was laid out.
    const int oldMax = verticalScrollBar()->maximum();
    const int oldValue = verticalScrollBar()->value();
    UpdateScrollBar();
    static_cast<void>(oldMax);
    static_cast<void>(oldValue);
}

void EditBox::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (TextWidth() != lastWidth_) {
        ResetRows();
        topPos_ = rows_.RowOf(topPos_).start;
    }
    UpdateScrollBar();
}

void EditBox::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        metrics_ = std::make_unique<Metrics>(font(), viewport());
        ResetRows();
        UpdateScrollBar();
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

Pos EditBox::NextWord(Pos pos) const {
    const TextBuffer& b = state_.Buffer();
    const Pos n = b.Length();
    if (pos >= n) return n;
    const int cls = WordClass(b.At(pos));
    if (cls == 1) {
        pos = NextChar(pos);
    } else {
        while (pos < n && WordClass(b.At(pos)) == cls) ++pos;
    }
    while (pos < n && WordClass(b.At(pos)) == 0) ++pos;
    return pos;
}

Pos EditBox::PreviousWord(Pos pos) const {
    const TextBuffer& b = state_.Buffer();
    while (pos > 0 && WordClass(b.At(pos - 1)) == 0) --pos;
    if (pos == 0) return 0;
    const int cls = WordClass(b.At(pos - 1));
    if (cls == 1) return PreviousChar(pos);
    while (pos > 0 && WordClass(b.At(pos - 1)) == cls) --pos;
    return pos;
}

Pos EditBox::WordStart(Pos pos) const {
    const TextBuffer& b = state_.Buffer();
    if (pos >= b.Length()) pos = b.Length() - 1;
    if (pos < 0) return 0;
    const int cls = WordClass(b.At(pos));
    if (cls == 1) return b.At(pos) == kLf && pos > 0 && b.At(pos - 1) == kCr ? pos - 1 : pos;
    while (pos > 0 && WordClass(b.At(pos - 1)) == cls) --pos;
    return pos;
}

Pos EditBox::WordEnd(Pos pos) const {
    const TextBuffer& b = state_.Buffer();
    const Pos n = b.Length();
    if (pos >= n) return n;
    const int cls = WordClass(b.At(pos));
    if (cls == 1) return NextChar(pos);
    while (pos < n && WordClass(b.At(pos)) == cls) ++pos;
    return pos;
}

void EditBox::MoveTo(Pos pos, bool extend) {
    pos = std::clamp<Pos>(pos, 0, state_.Length());
    state_.History().Seal();
    state_.SetSelection(extend ? state_.Anchor() : pos, pos);
    EnsureCaretVisible();
    if (extend) SetPrimarySelection();
}

Pos EditBox::MoveByRows(Pos pos, Pos delta, bool& atRowEnd) {
    const RowIndex::Row row = rows_.RowOf(pos, atRowEnd);
    if (desiredX_ < 0) desiredX_ = XInRow(row, pos);
    const Pos count = rows_.RowCount();
    Pos target = row.number + delta;
    if (target < 0) {
        atRowEnd = false;
        return 0;
    }
    if (target >= count) {
        atRowEnd = false;
        return state_.Length();
    }
    const RowIndex::Row to = rows_.RowAt(target);
    const Pos p = PosInRow(to, desiredX_);
    atRowEnd = IsWrapEnd(state_.Buffer(), to, p) && p > to.start;
    return p;
}

bool EditBox::DeleteMove(Pos to, EditKind kind) {
    if (state_.HasSelection()) {
        DeleteSelection();
        return true;
    }
    const Pos caret = state_.Caret();
    if (to == caret) return false;
    caretAtRowEnd_ = false;
    desiredX_ = -1;
    state_.Replace(std::min(caret, to), std::max(caret, to), u"", kind);
    EnsureCaretVisible();
    return true;
}

void EditBox::InsertTyped(const QString& text, EditKind kind) {
    caretAtRowEnd_ = false;
    desiredX_ = -1;
    state_.ReplaceSelection(View(text), kind);
    EnsureCaretVisible();
}

// --- Commands -----------------------------------------------------------------

bool EditBox::Undo() {
    caretAtRowEnd_ = false;
    desiredX_ = -1;
    const bool done = state_.Undo();
    EnsureCaretVisible();
    return done;
}

bool EditBox::Redo() {
    caretAtRowEnd_ = false;
    desiredX_ = -1;
    const bool done = state_.Redo();
    EnsureCaretVisible();
    return done;
}

void EditBox::SelectAll() {
    state_.History().Seal();
    state_.SetSelection(0, state_.Length());
    caretAtRowEnd_ = false;
    viewport()->update();
    SetPrimarySelection();
}

QMimeData* EditBox::MimeForSelection() const {
    auto* data = new QMimeData;
    const std::u16string text = state_.SelectedText();
    data->setText(ToQString(text));
    return data;
}

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
    caretAtRowEnd_ = false;
    desiredX_ = -1;
    state_.History().Seal();
    state_.ReplaceSelection(u"", EditKind::Other);
    state_.History().Seal();
    EnsureCaretVisible();
}

void EditBox::InsertFromMime(const QMimeData* data) {
    if (!data || !data->hasText()) return;
    const QString text = NormaliseLineBreaks(data->text());
    caretAtRowEnd_ = false;
    desiredX_ = -1;
    state_.History().Seal();
    state_.ReplaceSelection(View(text), EditKind::Other);
    state_.History().Seal();
    EnsureCaretVisible();
}

void EditBox::SetPrimarySelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection() || !state_.HasSelection()) return;
    clipboard->setMimeData(new SelectionMime(this, state_.SelectionStart(), state_.SelectionEnd(), generation_),
                           QClipboard::Selection);
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

namespace {

// The keys the box handles itself, before the window's shortcuts see them.
const QKeySequence::StandardKey kEditKeys[] = {
    QKeySequence::Undo, QKeySequence::Redo, QKeySequence::Cut, QKeySequence::Copy, QKeySequence::Paste,
    QKeySequence::Delete, QKeySequence::Backspace, QKeySequence::DeleteEndOfWord,
    QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfLine, QKeySequence::DeleteCompleteLine,
    QKeySequence::InsertParagraphSeparator, QKeySequence::InsertLineSeparator, QKeySequence::SelectAll,
    QKeySequence::MoveToNextChar, QKeySequence::MoveToPreviousChar, QKeySequence::MoveToNextWord,
    QKeySequence::MoveToPreviousWord, QKeySequence::MoveToNextLine, QKeySequence::MoveToPreviousLine,
    QKeySequence::MoveToNextPage, QKeySequence::MoveToPreviousPage, QKeySequence::MoveToStartOfLine,
    QKeySequence::MoveToEndOfLine, QKeySequence::MoveToStartOfBlock, QKeySequence::MoveToEndOfBlock,
    QKeySequence::MoveToStartOfDocument, QKeySequence::MoveToEndOfDocument, QKeySequence::SelectNextChar,
    QKeySequence::SelectPreviousChar, QKeySequence::SelectNextWord, QKeySequence::SelectPreviousWord,
    QKeySequence::SelectNextLine, QKeySequence::SelectPreviousLine, QKeySequence::SelectNextPage,
    QKeySequence::SelectPreviousPage, QKeySequence::SelectStartOfLine, QKeySequence::SelectEndOfLine,
    QKeySequence::SelectStartOfBlock, QKeySequence::SelectEndOfBlock, QKeySequence::SelectStartOfDocument,
    QKeySequence::SelectEndOfDocument,
};

// Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo on every platform, besides
// what the platform's key bindings say.
bool IsUndoKey(const QKeyEvent* e) {
    return e->matches(QKeySequence::Undo) || (e->key() == Qt::Key_Z && e->modifiers() == Qt::ControlModifier);
}

bool IsRedoKey(const QKeyEvent* e) {
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    return e->matches(QKeySequence::Redo) || (e->key() == Qt::Key_Y && mods == Qt::ControlModifier) ||
           (e->key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier));
}

bool IsTyping(const QKeyEvent* e) {
    const QString text = e->text();
    if (text.isEmpty()) return false;
    const Qt::KeyboardModifiers mods = e->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (mods != Qt::NoModifier && mods != (Qt::ControlModifier | Qt::AltModifier)) return false;
    const QChar c = text.at(0);
    return c.isPrint() || c == QLatin1Char('\t') || c.isSurrogate();
}

}  // namespace

bool EditBox::event(QEvent* e) {
    if (e->type() == QEvent::ShortcutOverride) {
        auto* ke = static_cast<QKeyEvent*>(e);
        for (QKeySequence::StandardKey k : kEditKeys) {
            if (ke->matches(k)) {
                ke->accept();
                return true;
            }
        }
        if (IsTyping(ke) || IsUndoKey(ke) || IsRedoKey(ke) || ke->key() == Qt::Key_Insert ||
            (ke->key() == Qt::Key_Delete && ke->modifiers() == Qt::ShiftModifier)) {
            ke->accept();
            return true;
        }
    } else if (e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        // Tab is a character here, not a focus move.
        if ((ke->key() == Qt::Key_Tab) && !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            keyPressEvent(ke);
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void EditBox::keyPressEvent(QKeyEvent* e) {
    const Pos caret = state_.Caret();
    const TextBuffer& b = state_.Buffer();
    auto moveRows = [&](Pos delta, bool extend) {
        bool atEnd = caretAtRowEnd_;
        const Pos p = MoveByRows(caret, delta, atEnd);
        state_.History().Seal();
        state_.SetSelection(extend ? state_.Anchor() : p, p);
        caretAtRowEnd_ = atEnd && state_.Caret() == p;
        EnsureCaretVisible();
        if (extend) SetPrimarySelection();
    };
    auto page = [&](int sign, bool extend) {
        const int n = std::max(1, VisibleRowCount() - 1);
        ScrollToRow(TopRowNumber() + sign * n);
        moveRows(sign * n, extend);
    };
    auto horizontal = [&](Pos p, bool extend) {
        desiredX_ = -1;
        caretAtRowEnd_ = false;
        MoveTo(p, extend);
    };
    auto rowEdge = [&](bool end, bool extend) {
        const RowIndex::Row row = rows_.RowOf(caret, caretAtRowEnd_);
        desiredX_ = -1;
        const Pos p = end ? row.end : row.start;
        state_.History().Seal();
        state_.SetSelection(extend ? state_.Anchor() : p, p);
        caretAtRowEnd_ = end && IsWrapEnd(b, row, p) && p > row.start;
        EnsureCaretVisible();
        if (extend) SetPrimarySelection();
    };
    auto collapseOr = [&](bool toStart, Pos p) {
        // An arrow with a selection goes to its edge, as Qt's editors do.
        if (state_.HasSelection()) return toStart ? state_.SelectionStart() : state_.SelectionEnd();
        return p;
    };
    const Pos line = b.LineOf(caret);

    if (IsUndoKey(e)) Undo();
    else if (IsRedoKey(e)) Redo();
    else if (e->matches(QKeySequence::Copy) || (e->key() == Qt::Key_Insert && e->modifiers() == Qt::ControlModifier)) Copy();
    else if (e->matches(QKeySequence::Cut) || (e->key() == Qt::Key_Delete && e->modifiers() == Qt::ShiftModifier)) Cut();
    else if (e->matches(QKeySequence::Paste) || (e->key() == Qt::Key_Insert && e->modifiers() == Qt::ShiftModifier)) Paste();
    else if (e->matches(QKeySequence::SelectAll)) SelectAll();
    else if (e->matches(QKeySequence::MoveToNextChar)) horizontal(collapseOr(false, NextChar(caret)), false);
    else if (e->matches(QKeySequence::MoveToPreviousChar)) horizontal(collapseOr(true, PreviousChar(caret)), false);
    else if (e->matches(QKeySequence::SelectNextChar)) horizontal(NextChar(caret), true);
    else if (e->matches(QKeySequence::SelectPreviousChar)) horizontal(PreviousChar(caret), true);
    else if (e->matches(QKeySequence::MoveToNextWord)) horizontal(NextWord(caret), false);
    else if (e->matches(QKeySequence::MoveToPreviousWord)) horizontal(PreviousWord(caret), false);
    else if (e->matches(QKeySequence::SelectNextWord)) horizontal(NextWord(caret), true);
    else if (e->matches(QKeySequence::SelectPreviousWord)) horizontal(PreviousWord(caret), true);
    else if (e->matches(QKeySequence::MoveToNextLine)) moveRows(1, false);
    else if (e->matches(QKeySequence::MoveToPreviousLine)) moveRows(-1, false);
    else if (e->matches(QKeySequence::SelectNextLine)) moveRows(1, true);
    else if (e->matches(QKeySequence::SelectPreviousLine)) moveRows(-1, true);
    else if (e->matches(QKeySequence::MoveToNextPage)) page(1, false);
    else if (e->matches(QKeySequence::MoveToPreviousPage)) page(-1, false);
    else if (e->matches(QKeySequence::SelectNextPage)) page(1, true);
    else if (e->matches(QKeySequence::SelectPreviousPage)) page(-1, true);
    else if (e->matches(QKeySequence::MoveToStartOfLine)) rowEdge(false, false);
    else if (e->matches(QKeySequence::MoveToEndOfLine)) rowEdge(true, false);
    else if (e->matches(QKeySequence::SelectStartOfLine)) rowEdge(false, true);
    else if (e->matches(QKeySequence::SelectEndOfLine)) rowEdge(true, true);
    else if (e->matches(QKeySequence::MoveToStartOfBlock)) horizontal(b.LineStart(line), false);
    else if (e->matches(QKeySequence::MoveToEndOfBlock)) horizontal(b.LineEnd(line), false);
    else if (e->matches(QKeySequence::SelectStartOfBlock)) horizontal(b.LineStart(line), true);
    else if (e->matches(QKeySequence::SelectEndOfBlock)) horizontal(b.LineEnd(line), true);
    else if (e->matches(QKeySequence::MoveToStartOfDocument)) horizontal(0, false);
    else if (e->matches(QKeySequence::MoveToEndOfDocument)) horizontal(state_.Length(), false);
    else if (e->matches(QKeySequence::SelectStartOfDocument)) horizontal(0, true);
    else if (e->matches(QKeySequence::SelectEndOfDocument)) horizontal(state_.Length(), true);
    else if (e->matches(QKeySequence::DeleteStartOfWord)) DeleteMove(PreviousWord(caret), EditKind::DeleteBackward);
    else if (e->matches(QKeySequence::DeleteEndOfWord)) DeleteMove(NextWord(caret), EditKind::DeleteForward);
    else if (e->matches(QKeySequence::DeleteEndOfLine)) DeleteMove(caret == b.LineEnd(line) ? NextChar(caret) : b.LineEnd(line), EditKind::DeleteForward);
    else if (e->matches(QKeySequence::DeleteCompleteLine)) {
        const Pos from = b.LineStart(line);
        const Pos to = line + 1 < b.LineCount() ? b.LineStart(line + 1) : b.Length();
        state_.SetSelection(from, to);
        DeleteSelection();
    } else if (e->matches(QKeySequence::InsertParagraphSeparator) || e->matches(QKeySequence::InsertLineSeparator) ||
               e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        InsertTyped(QStringLiteral("\r\n"), EditKind::Typing);
    } else if (e->key() == Qt::Key_Backspace && !(e->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))) {
        DeleteMove(PreviousChar(caret), EditKind::DeleteBackward);
    } else if (e->matches(QKeySequence::Delete)) {
        DeleteMove(NextChar(caret), EditKind::DeleteForward);
    } else if (e->key() == Qt::Key_Tab && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        InsertTyped(QStringLiteral("\t"), EditKind::Typing);
    } else if (IsTyping(e)) {
        InsertTyped(e->text(), EditKind::Typing);
    } else {
        e->ignore();
        return;
    }
    e->accept();
    caretShown_ = true;
    RestartBlink();
}

// --- Input methods ------------------------------------------------------------

void EditBox::inputMethodEvent(QInputMethodEvent* e) {
    const bool hadPreedit = !preedit_.isEmpty();
    if (!e->commitString().isEmpty() || e->replacementLength() > 0) {
        caretAtRowEnd_ = false;
        desiredX_ = -1;
        Pos from = state_.SelectionStart();
        Pos to = state_.SelectionEnd();
        if (e->replacementLength() > 0 || e->replacementStart() != 0) {
            from = std::clamp<Pos>(state_.Caret() + e->replacementStart(), 0, state_.Length());
            to = std::clamp<Pos>(from + e->replacementLength(), 0, state_.Length());
        }
        state_.History().Seal();
        state_.Replace(from, to, View(e->commitString()), EditKind::Other);
        state_.History().Seal();
    }
    preedit_ = e->preeditString();
    preeditAttributes_.clear();
    preeditCursor_ = static_cast<int>(preedit_.size());
    preeditCursorVisible_ = true;
    for (const QInputMethodEvent::Attribute& a : e->attributes()) {
        if (a.type == QInputMethodEvent::Cursor) {
            preeditCursor_ = std::clamp(a.start, 0, static_cast<int>(preedit_.size()));
            preeditCursorVisible_ = a.length != 0;
        } else if (a.type == QInputMethodEvent::TextFormat) {
            preeditAttributes_.append(a);
        } else if (a.type == QInputMethodEvent::Selection && preedit_.isEmpty()) {
            const Pos base = state_.Buffer().LineStart(state_.Buffer().LineOf(state_.Caret()));
            static_cast<void>(base);
            const Pos anchor = std::clamp<Pos>(a.start, 0, state_.Length());
            const Pos caret = std::clamp<Pos>(a.start + a.length, 0, state_.Length());
            state_.SetSelection(anchor, caret);
        }
    }
    if (hadPreedit || !preedit_.isEmpty() || !e->commitString().isEmpty()) {
        EnsureCaretVisible();
    }
    viewport()->update();
    e->accept();
}

QVariant EditBox::inputMethodQuery(Qt::InputMethodQuery query) const {
    auto* self = const_cast<EditBox*>(this);
    const TextBuffer& b = state_.Buffer();
    const Pos caret = state_.Caret();
    // The surrounding text: the caret's line, at most a window around the caret.
    constexpr Pos kWindow = 1024;
    const Pos line = b.LineOf(caret);
    const Pos from = std::max(b.LineStart(line), caret - kWindow);
    const Pos to = std::min(b.LineEnd(line), caret + kWindow);
    const QPoint offset = viewport()->geometry().topLeft();
    switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: return self->CaretRect().translated(offset).toAlignedRect();
    case Qt::ImAnchorRectangle:
        return self->CaretRectAt(state_.Anchor(), false).translated(offset).toAlignedRect();
    case Qt::ImFont: return metrics_->font;
    case Qt::ImCursorPosition: return static_cast<int>(caret - from);
    case Qt::ImAnchorPosition: return static_cast<int>(std::clamp(state_.Anchor(), from, to) - from);
    case Qt::ImSurroundingText: return ToQString(b.Text(from, to));
    case Qt::ImCurrentSelection: {
        const Pos s = std::max(state_.SelectionStart(), from);
        const Pos e = std::min(state_.SelectionEnd(), to);
        return e > s ? ToQString(b.Text(s, e)) : QString();
    }
    case Qt::ImMaximumTextLength: return QVariant();
    case Qt::ImHints: return static_cast<int>(Qt::ImhMultiLine);
    case Qt::ImAbsolutePosition: return static_cast<qlonglong>(caret);
    case Qt::ImTextBeforeCursor: return ToQString(b.Text(from, caret));
    case Qt::ImTextAfterCursor: return ToQString(b.Text(caret, to));
    case Qt::ImReadOnly: return false;
    default: return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// --- Mouse --------------------------------------------------------------------

void EditBox::mousePressEvent(QMouseEvent* e) {
    const QPointF p = e->position();
    if (e->button() == Qt::MiddleButton) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection()) {
            const Pos pos = PositionInRows(p, true);
            state_.History().Seal();
            state_.SetSelection(pos, pos);
            InsertFromMime(clipboard->mimeData(QClipboard::Selection));
        }
        e->accept();
        return;
    }
    if (e->button() == Qt::RightButton) {
        const Pos pos = PositionInRows(p, true);
        if (pos < state_.SelectionStart() || pos > state_.SelectionEnd()) {
            caretAtRowEnd_ = false;
            MoveTo(pos, false);
        }
        e->accept();
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    const bool triple = clickTimer_.isActive() &&
                        (p - clickPoint_).manhattanLength() < QApplication::startDragDistance();
    clickTimer_.stop();
    const Pos pos = PositionInRows(p, true);
    desiredX_ = -1;
    if (triple) {
        const TextBuffer& b = state_.Buffer();
        const Pos line = b.LineOf(pos);
        selectUnitStart_ = b.LineStart(line);
        selectUnitEnd_ = line + 1 < b.LineCount() ? b.LineStart(line + 1) : b.Length();
        state_.History().Seal();
        state_.SetSelection(selectUnitStart_, selectUnitEnd_);
        caretAtRowEnd_ = false;
        selecting_ = true;
        SetPrimarySelection();
        e->accept();
        return;
    }
    selectUnitStart_ = selectUnitEnd_ = -1;
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    if (!shift && state_.HasSelection() && pos >= state_.SelectionStart() && pos < state_.SelectionEnd()) {
        maybeDrag_ = true;
        dragStart_ = p.toPoint();
        e->accept();
        return;
    }
    // A click past a wrapped row's end puts the caret at that end.
    const double rowY = (p.y() - kMargin) / RowHeight();
    const Pos number = TopRowNumber() + static_cast<Pos>(std::floor(std::max(0.0, rowY)));
    const RowIndex::Row row = rows_.RowAt(number);
    caretAtRowEnd_ = row.number == number && IsWrapEnd(state_.Buffer(), row, pos) && pos > row.start;
    state_.History().Seal();
    state_.SetSelection(shift ? state_.Anchor() : pos, pos);
    EnsureCaretVisible();
    selecting_ = true;
    if (shift) SetPrimarySelection();
    e->accept();
}

void EditBox::ExtendSelectionTo(QPointF p) {
    Pos pos = PositionInRows(p, true);
    if (selectUnitStart_ >= 0) {
        // Multi-click selections grow by their unit.
        if (pos < selectUnitStart_) {
            const Pos start = clickCount_ == 2 ? WordStart(pos) : state_.Buffer().LineStart(state_.Buffer().LineOf(pos));
            state_.SetSelection(selectUnitEnd_, start);
        } else {
            Pos end = pos;
            if (clickCount_ == 2) {
                end = std::max(selectUnitEnd_, WordEnd(pos));
            } else {
                const TextBuffer& b = state_.Buffer();
                const Pos line = b.LineOf(pos);
                end = std::max(selectUnitEnd_, line + 1 < b.LineCount() ? b.LineStart(line + 1) : b.Length());
            }
            state_.SetSelection(selectUnitStart_, end);
        }
    } else {
        state_.SetSelection(state_.Anchor(), pos);
    }
    caretAtRowEnd_ = false;
    EnsureCaretVisible();
}

void EditBox::mouseMoveEvent(QMouseEvent* e) {
    const QPointF p = e->position();
    lastMousePos_ = p.toPoint();
    if (maybeDrag_) {
        if ((p.toPoint() - dragStart_).manhattanLength() >= QApplication::startDragDistance()) {
            maybeDrag_ = false;
            StartDrag();
        }
        return;
    }
    if (!selecting_ || !(e->buttons() & Qt::LeftButton)) return;
    const QRect r = viewport()->rect();
    if (p.y() < r.top() || p.y() > r.bottom()) {
        if (!scrollTimer_.isActive()) scrollTimer_.start(50, this);
    } else {
        scrollTimer_.stop();
    }
    ExtendSelectionTo(p);
}

void EditBox::mouseReleaseEvent(QMouseEvent* e) {
    scrollTimer_.stop();
    if (maybeDrag_) {
        // A click inside the selection without a drag puts the caret there.
        maybeDrag_ = false;
        const Pos pos = PositionInRows(e->position(), true);
        caretAtRowEnd_ = false;
        MoveTo(pos, false);
    }
    if (selecting_ && e->button() == Qt::LeftButton) {
        selecting_ = false;
        SetPrimarySelection();
    }
    e->accept();
}

void EditBox::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        mousePressEvent(e);
        return;
    }
    const Pos pos = PositionInRows(e->position(), true);
    Pos start = WordStart(pos);
    Pos end = WordEnd(start);
    if (state_.Length() == 0) start = end = 0;
    selectUnitStart_ = start;
    selectUnitEnd_ = end;
    clickCount_ = 2;
    state_.History().Seal();
    state_.SetSelection(start, end);
    caretAtRowEnd_ = false;
    selecting_ = true;
    maybeDrag_ = false;
    clickPoint_ = e->position();
    clickTimer_.start(QApplication::doubleClickInterval(), this);
    SetPrimarySelection();
    viewport()->update();
    e->accept();
}

void EditBox::wheelEvent(QWheelEvent* e) { QAbstractScrollArea::wheelEvent(e); }

void EditBox::timerEvent(QTimerEvent* e) {
    if (e->timerId() == blinkTimer_.timerId()) {
        caretShown_ = !caretShown_;
        viewport()->update();
    } else if (e->timerId() == scrollTimer_.timerId()) {
        const QRect r = viewport()->rect();
        if (lastMousePos_.y() < r.top()) {
            ScrollToRow(TopRowNumber() - 1);
        } else if (lastMousePos_.y() > r.bottom()) {
            ScrollToRow(TopRowNumber() + 1);
        }
        const QPointF inside(lastMousePos_.x(), std::clamp(lastMousePos_.y(), r.top(), r.bottom()));
        ExtendSelectionTo(inside);
    } else if (e->timerId() == clickTimer_.timerId()) {
        clickTimer_.stop();
    } else {
        QAbstractScrollArea::timerEvent(e);
    }
}

void EditBox::RestartBlink() {
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash >= 2) {
        blinkTimer_.start(flash / 2, this);
    } else {
        blinkTimer_.stop();
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
    state_.History().Seal();
    blinkTimer_.stop();
    viewport()->update();
}

// --- Drag and drop ------------------------------------------------------------

bool EditBox::MoveText(Pos from, Pos to, Pos pos) {
    const Pos n = state_.Length();
    from = std::clamp<Pos>(from, 0, n);
    to = std::clamp<Pos>(to, from, n);
    pos = std::clamp<Pos>(pos, 0, n);
    if (pos >= from && pos <= to) return false;
    caretAtRowEnd_ = false;
    if (from == to) {
        // Nothing to move: a step that changes nothing, as a drop always made.
        const Pos lo = std::min(pos, from), hi = std::max(pos, to);
        state_.Apply({{{lo, hi, state_.Buffer().Text(lo, hi)}}, Selection::Caret(pos), EditKind::Other});
        return true;
    }
    // One transaction of two edits (one undo step holding only the moved
    // text); the moved text ends selected.
    return state_.MoveText(from, to, pos) != EditResult::OutOfMemory;
}

void EditBox::StartDrag() {
    auto* drag = new QDrag(this);
    drag->setMimeData(MimeForSelection());
    const Pos from = state_.SelectionStart();
    const Pos to = state_.SelectionEnd();
    dragFrom_ = from;
    dragTo_ = to;
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    // A move to another program takes the text away from here.
    if (action == Qt::MoveAction && !droppedHere_ && drag->target() != viewport() && drag->target() != this) {
        state_.History().Seal();
        state_.Replace(from, to, u"", EditKind::Other);
        state_.History().Seal();
    }
    droppedHere_ = false;
    dragFrom_ = dragTo_ = -1;
}

namespace {

bool HasLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) return true;
    }
    return false;
}

}  // namespace

void EditBox::dragEnterEvent(QDragEnterEvent* e) {
    if (HasLocalFiles(e->mimeData())) {
        e->acceptProposedAction();
    } else if (e->mimeData() && e->mimeData()->hasText()) {
        e->acceptProposedAction();
    } else {
        e->ignore();
    }
}

void EditBox::dragMoveEvent(QDragMoveEvent* e) {
    if (HasLocalFiles(e->mimeData())) {
        e->acceptProposedAction();
        return;
    }
    if (!e->mimeData() || !e->mimeData()->hasText()) {
        e->ignore();
        return;
    }
    dropCaret_ = PositionInRows(e->position(), true);
    viewport()->update();
    e->acceptProposedAction();
}

void EditBox::dragLeaveEvent(QDragLeaveEvent*) {
    dropCaret_ = -1;
    viewport()->update();
}

void EditBox::dropEvent(QDropEvent* e) {
    dropCaret_ = -1;
    viewport()->update();
    const QMimeData* data = e->mimeData();
    if (HasLocalFiles(data)) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                e->acceptProposedAction();
                emit FileDropped(url.toLocalFile());
                return;
            }
        }
    }
    if (!data || !data->hasText()) {
        e->ignore();
        return;
    }
    const Pos pos = PositionInRows(e->position(), true);
    const bool internalMove = e->source() == this && dragFrom_ >= 0 && e->dropAction() == Qt::MoveAction;
    state_.History().Seal();
    if (internalMove) {
        if (!MoveText(dragFrom_, dragTo_, pos)) {
            e->ignore();
            return;
        }
        droppedHere_ = true;
        e->setDropAction(Qt::MoveAction);
        e->accept();
    } else {
        state_.SetSelection(pos, pos);
        const QString text = NormaliseLineBreaks(data->text());
        state_.ReplaceSelection(View(text), EditKind::Other);
        e->acceptProposedAction();
    }
    state_.History().Seal();
    caretAtRowEnd_ = false;
    EnsureCaretVisible();
    setFocus();
}

}  // namespace tessaly

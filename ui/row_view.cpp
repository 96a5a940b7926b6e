#include "ui/row_view.h"

#include <QPainter>
#include <QPalette>
#include <QTextLine>
#include <algorithm>
#include <cmath>

namespace tessaly {
namespace {

constexpr double kTabStop = 80;     // Qt's editors' default tab distance
constexpr double kMargin = 4;       // above the first row
constexpr Pos kPiece = 16384;       // giant lines wrap piece by piece
constexpr std::size_t kCacheRows = 2048;
constexpr Pos kDirectionScan = 4096;  // units looked at for a paragraph's direction

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

QTextOption RowOption(Qt::LayoutDirection direction, QTextOption::WrapMode wrap) {
    QTextOption option;
    option.setWrapMode(wrap);
    option.setTabStopDistance(kTabStop);
    option.setTextDirection(direction);
    option.setAlignment(direction == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft);
    option.setFlags(QTextOption::IncludeTrailingSpaces);
    return option;
}

}  // namespace

char16_t DisplayUnit(char16_t c) {
    if (c < 0x20 && c != u'\t') return static_cast<char16_t>(0x2400 + c);
    if (c == 0x7F) return 0x2421;
    if (c >= 0x80 && c <= 0x9F) return 0x3000;  // the code is drawn over it
    if (c == 0x2028) return 0x2424;  // SYMBOL FOR NEWLINE
    if (c == 0x2029) return 0x00B6;  // PILCROW SIGN
    return c;
}

bool IsC1Control(char16_t c) { return c >= 0x80 && c <= 0x9F; }

RowView::RowView(const EditorState& state, QPaintDevice* device) : state_(state), device_(device), rows_(state.Buffer()) {}

void RowView::SetFont(const QFont& font) {
    font_ = font;
    codeFont_ = font;
    if (font.pointSizeF() > 0) {
        codeFont_.setPointSizeF(std::max(5.0, font.pointSizeF() * 0.6));
    } else if (font.pixelSize() > 0) {
        codeFont_.setPixelSize(std::max(6, static_cast<int>(font.pixelSize() * 0.6)));
    }
    const QFontMetricsF fm(font_, device_);
    // Rows are as tall as the tallest of the fonts a Japanese text uses.
    QTextLayout sample(QStringLiteral("Mgjあ漢字ア"), font_, device_);
    sample.beginLayout();
    QTextLine line = sample.createLine();
    sample.endLayout();
    ascent_ = std::max(fm.ascent(), line.ascent());
    rowHeight_ = std::ceil(ascent_ + std::max(fm.descent(), line.descent()));
    const QString average = QStringLiteral("0123456789ABCDEF%abcdefghijklmnopqrstuvwxyz");
    averageAdvance_ = std::max(1.0, fm.horizontalAdvance(average) / average.size());
    ResetRows();
}

double RowView::SpaceWidth() const { return QFontMetricsF(font_, device_).horizontalAdvance(QLatin1Char(' ')); }

void RowView::SetWidth(double width) {
    width = std::max(1.0, width);
    if (width == width_) return;
    width_ = width;
    ResetRows();
}

void RowView::SetViewHeight(double height) {
    if (height == viewHeight_) return;
    viewHeight_ = height;
    Invalidate();
}

void RowView::ResetRows() {
    shaped_.clear();
    directions_.clear();
    RowBreaker breaker;
    breaker.rowEnd = [this](Pos start, Pos limit) { return RowEnd(start, limit); };
    breaker.joinsPrevious = JoinsPrevious;
    breaker.unitsPerRow = std::max(1.0, width_ / averageAdvance_);
    breaker.piece = kPiece;
    rows_.Reset(std::move(breaker));
    topPos_ = rows_.RowOf(topPos_).start;
    Invalidate();
}

void RowView::Forget() {
    shaped_.clear();
    Invalidate();
}

void RowView::OnTextChanged(const TextChange& change) {
    rows_.OnTextChanged(change);
    // Rows that end well before the change keep their shape.
    if (change.wholeText) {
        shaped_.clear();
    } else {
        for (auto it = shaped_.begin(); it != shaped_.end();) {
            it = it->second.end <= change.pos - 2 ? std::next(it) : shaped_.erase(it);
        }
    }
    directions_.clear();
    if (change.wholeText) {
        topPos_ = 0;
    } else if (change.pos < topPos_) {
        topPos_ = change.pos + change.removed <= topPos_ ? topPos_ + change.inserted - change.removed : change.pos;
    }
    topPos_ = std::clamp<Pos>(topPos_, 0, state_.Length());
    topPos_ = rows_.RowOf(topPos_).start;
    Invalidate();
}

QString RowView::DisplayText(Pos from, Pos to) const {
    QString s(static_cast<qsizetype>(std::max<Pos>(0, to - from)), Qt::Uninitialized);
    if (to > from) state_.Buffer().CopyTo(from, to, reinterpret_cast<char16_t*>(s.data()));
    char16_t* d = reinterpret_cast<char16_t*>(s.data());
    for (qsizetype i = 0; i < s.size(); ++i) d[i] = DisplayUnit(d[i]);
    return s;
}

bool RowView::RightToLeft(Pos line) {
    const TextBuffer& b = state_.Buffer();
    const Pos start = b.LineStart(line);
    const auto it = directions_.find(start);
    if (it != directions_.end()) return it->second;
    const Pos end = std::min(b.LineEnd(line), start + kDirectionScan);
    bool rtl = false;
    for (Pos p = start; p < end; ++p) {
        char32_t c = b.At(p);
        if (QChar::isHighSurrogate(c) && p + 1 < end && QChar::isLowSurrogate(b.At(p + 1))) {
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), b.At(p + 1));
            ++p;
        }
        const QChar::Direction d = QChar::direction(c);
        if (d == QChar::DirL) break;
        if (d == QChar::DirR || d == QChar::DirAL) {
            rtl = true;
            break;
        }
    }
    directions_[start] = rtl;
    return rtl;
}

std::unique_ptr<QTextLayout> RowView::ShapeRange(Pos from, Pos to, Qt::LayoutDirection direction) {
    auto layout = std::make_unique<QTextLayout>(DisplayText(from, to), font_, device_);
    layout->setTextOption(RowOption(direction, QTextOption::NoWrap));
    layout->setCacheEnabled(true);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    if (line.isValid()) {
        line.setLineWidth(width_);
        line.setPosition(QPointF(0, 0));
    }
    layout->endLayout();
    return layout;
}

// Where the row that starts at start ends: the first line QTextLayout makes
// of the text from there, then checked by shaping the row alone, exactly as
// it is drawn, and shortened by clusters while it is wider than the box.
Pos RowView::RowEnd(Pos start, Pos limit) {
    const Pos line = state_.Buffer().LineOf(start);
    const Qt::LayoutDirection direction = RightToLeft(line) ? Qt::RightToLeft : Qt::LeftToRight;
    Pos guess = std::clamp<Pos>(lastRowUnits_ * 2 + 16, 32, 1 << 16);
    Pos end = limit;
    for (;;) {
        const Pos n = std::min(limit - start, guess);
        QTextLayout probe(DisplayText(start, start + n), font_, device_);
        probe.setTextOption(RowOption(direction, QTextOption::WrapAnywhere));
        probe.beginLayout();
        QTextLine first = probe.createLine();
        Pos taken = n;
        if (first.isValid()) {
            first.setLineWidth(width_);
            taken = first.textLength();
        }
        probe.endLayout();
        if (taken >= n && start + n < limit && guess < (Pos{1} << 24)) {
            guess *= 2;  // all of it fits: look further
            continue;
        }
        end = start + std::max<Pos>(1, std::min(taken, n));
        break;
    }
    for (;;) {
        std::unique_ptr<QTextLayout> row = ShapeRange(start, end, direction);
        const QTextLine l = row->lineAt(0);
        const int length = static_cast<int>(end - start);
        const int previous = row->previousCursorPosition(length);
        if (l.naturalTextWidth() <= width_ + 1e-6 || previous <= 0) {
            if (previous <= 0 && end - start > 1 && l.naturalTextWidth() > width_ + 1e-6) {
                // One cluster wider than the box: a row of its own.
                end = start + std::max(1, row->nextCursorPosition(0));
                row = ShapeRange(start, end, direction);
            }
            lastRowUnits_ = end - start;
            if (shaped_.size() >= kCacheRows) shaped_.clear();
            shaped_[start] = Cached{end, std::move(row)};
            return end;
        }
        end = start + previous;
    }
}

const QTextLayout& RowView::Shaped(const Row& row) {
    auto it = shaped_.find(row.start);
    if (it == shaped_.end() || it->second.end != row.end) {
        if (shaped_.size() >= kCacheRows) shaped_.clear();
        const Qt::LayoutDirection direction = RightToLeft(row.line) ? Qt::RightToLeft : Qt::LeftToRight;
        it = shaped_.insert_or_assign(row.start, Cached{row.end, ShapeRange(row.start, row.end, direction)}).first;
    }
    return *it->second.layout;
}

double RowView::XOf(const Row& row, Pos pos) {
    const QTextLine line = Shaped(row).lineAt(0);
    return line.isValid() ? line.cursorToX(static_cast<int>(std::clamp(pos, row.start, row.end) - row.start)) : 0;
}

Pos RowView::PosAt(const Row& row, double x) {
    const QTextLine line = Shaped(row).lineAt(0);
    if (!line.isValid()) return row.start;
    Pos pos = row.start + line.xToCursor(x, QTextLine::CursorBetweenCharacters);
    pos = std::clamp(pos, row.start, row.end);
    if (pos > row.start && pos < row.end && QChar::isLowSurrogate(state_.Buffer().At(pos))) --pos;
    return pos;
}

// --- Composition --------------------------------------------------------------

void RowView::SetComposition(Composition composition) {
    composition_ = std::move(composition);
    if (composition_.text.isEmpty()) composition_.at = -1;
    Invalidate();
}

bool RowView::IsCompositionRow(const Row& row) {
    if (composition_.at < 0) return false;
    const Row at = rows_.RowOf(composition_.at, composition_.atRowEnd);
    return at.start == row.start;
}

std::unique_ptr<QTextLayout> RowView::CompositionLayout(const Row& row) {
    const Qt::LayoutDirection direction = RightToLeft(row.line) ? Qt::RightToLeft : Qt::LeftToRight;
    auto layout = std::make_unique<QTextLayout>(DisplayText(row.start, row.end), font_, device_);
    const int at = static_cast<int>(std::clamp(composition_.at, row.start, row.end) - row.start);
    layout->setPreeditArea(at, composition_.text);
    QList<QTextLayout::FormatRange> formats;
    for (const QInputMethodEvent::Attribute& a : composition_.attributes) {
        if (a.type != QInputMethodEvent::TextFormat) continue;
        QTextCharFormat f = qvariant_cast<QTextFormat>(a.value).toCharFormat();
        if (!f.isValid()) continue;
        QTextLayout::FormatRange r;
        r.start = at + a.start;
        r.length = a.length;
        r.format = f;
        formats.append(r);
    }
    layout->setFormats(formats);
    layout->setTextOption(RowOption(direction, QTextOption::WrapAnywhere));
    layout->beginLayout();
    for (int i = 0;; ++i) {
        QTextLine line = layout->createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width_);
        line.setPosition(QPointF(0, i * rowHeight_));
    }
    layout->endLayout();
    return layout;
}

QPointF RowView::CompositionCursor(const Row& row) {
    const std::unique_ptr<QTextLayout> layout = CompositionLayout(row);
    const int at = static_cast<int>(std::clamp(composition_.at, row.start, row.end) - row.start) + composition_.cursor;
    const QTextLine line = layout->lineForTextPosition(at);
    if (!line.isValid()) return {};
    return QPointF(line.cursorToX(at), line.y());
}

double RowView::HeightOf(const Row& row) {
    if (!IsCompositionRow(row)) return rowHeight_;
    return rowHeight_ * std::max(1, CompositionLayout(row)->lineCount());
}

// --- Scrolling ----------------------------------------------------------------

RowView::Row RowView::TopRow() { return rows_.RowOf(topPos_); }

int RowView::RowsPerPage() const {
    return std::max(1, static_cast<int>((viewHeight_ - kMargin) / rowHeight_));
}

RowView::Row RowView::MaxTopRow() {
    return TopShowingAtBottom(rows_.RowOf(state_.Length()), std::max(rowHeight_, viewHeight_ - kMargin));
}

// The top row of a view of the given room whose last row is bottom.
RowView::Row RowView::TopShowingAtBottom(Row bottom, double room) {
    Row cur = bottom;
    double used = HeightOf(cur);
    Row previous;
    while (rows_.Previous(cur, previous)) {
        const double h = HeightOf(previous);
        if (used + h > room + 1e-6) break;
        used += h;
        cur = previous;
    }
    return cur;
}

// Whether the last page is worth finding exactly for a top row: always when
// the end of the text is short to lay out, else only when the top is near it
// (a giant last line is not laid out again after every key far from its end).
bool RowView::NearEnd(const Row& row) const {
    const TextBuffer& b = state_.Buffer();
    const Pos lastLines = std::max<Pos>(0, b.LineCount() - 1 - RowsPerPage());
    return state_.Length() - b.LineStart(lastLines) <= 3 * kPiece || state_.Length() - row.start <= 3 * kPiece;
}

Pos RowView::MaxTopNumber(const Row& top) {
    if (NearEnd(top)) return MaxTopRow().number;
    return std::max<Pos>(0, rows_.RowCount() - RowsPerPage());
}

void RowView::SetTop(Pos pos) {
    Row row = rows_.RowOf(std::clamp<Pos>(pos, 0, state_.Length()));
    if (NearEnd(row)) {
        const Row max = MaxTopRow();
        if (row.start > max.start) row = max;
    }
    if (row.start != topPos_) Invalidate();
    topPos_ = row.start;
}

RowView::Row RowView::Walk(Row row, Pos delta) {
    Row next;
    for (; delta > 0 && rows_.Next(row, next); --delta) row = next;
    for (; delta < 0 && rows_.Previous(row, next); ++delta) row = next;
    return row;
}

bool RowView::ScrollRows(Pos delta) {
    const Pos before = topPos_;
    SetTop(Walk(TopRow(), delta).start);
    return topPos_ != before;
}

void RowView::EnsureVisible(const Row& target) {
    const double room = std::max(rowHeight_, viewHeight_ - kMargin);
    Row top = TopRow();
    if (target.start < top.start) {
        SetTop(target.start);
        return;
    }
    double y = 0;
    Row r = top;
    for (;;) {
        const double h = HeightOf(r);
        if (r.start == target.start) {
            if (y + h <= room + 1e-6) return;
            break;
        }
        y += h;
        Row next;
        if (y > room || r.start > target.start || !rows_.Next(r, next)) break;
        r = next;
    }
    // Show the target at the bottom.
    SetTop(TopShowingAtBottom(target, room).start);
}

const std::vector<RowView::Slot>& RowView::Slots() {
    if (slotsValid_) return slots_;
    slots_.clear();
    Row row = rows_.RowOf(topPos_);
    topPos_ = row.start;
    double y = kMargin;
    for (;;) {
        const double h = HeightOf(row);
        slots_.push_back(Slot{row, y, h});
        y += h;
        Row next;
        if (y >= viewHeight_ || !rows_.Next(row, next)) break;
        row = next;
    }
    slotsValid_ = true;
    return slots_;
}

double RowView::YOf(const Row& row) {
    const std::vector<Slot>& shown = Slots();
    for (const Slot& s : shown) {
        if (s.row.start == row.start) return s.y;
    }
    const Slot& first = shown.front();
    if (row.start < first.row.start) {
        return first.y - static_cast<double>(std::max<Pos>(1, first.row.number - row.number)) * rowHeight_;
    }
    const Slot& last = shown.back();
    return last.y + last.height +
           static_cast<double>(std::max<Pos>(0, row.number - last.row.number - 1)) * rowHeight_;
}

// --- Painting -----------------------------------------------------------------

void RowView::Paint(QPainter& painter, const QPalette& pal, const PaintState& st, double left) {
    const TextBuffer& buffer = state_.Buffer();
    // Muted, but darker than placeholder text: the symbols must be legible.
    const QColor text = pal.color(QPalette::Text);
    const QColor base = pal.color(QPalette::Base);
    const QColor muted = QColor::fromRgbF(text.redF() * 0.6f + base.redF() * 0.4f,
                                          text.greenF() * 0.6f + base.greenF() * 0.4f,
                                          text.blueF() * 0.6f + base.blueF() * 0.4f);
    const Row caretRow = rows_.RowOf(st.caret, st.caretAtRowEnd);
    for (const Slot& slot : Slots()) {
        const Row& row = slot.row;
        const bool composing = IsCompositionRow(row);
        std::unique_ptr<QTextLayout> own;
        const QTextLayout* layout = nullptr;
        int shift = 0;  // units of composition before a text position of the row
        const int compAt = composing ? static_cast<int>(std::clamp(composition_.at, row.start, row.end) - row.start) : 0;
        if (composing) {
            own = CompositionLayout(row);
            layout = own.get();
            shift = static_cast<int>(composition_.text.size());
        } else {
            layout = &Shaped(row);
        }
        auto index = [&](Pos pos) {  // layout index of a text position of the row
            const int i = static_cast<int>(pos - row.start);
            return composing && i >= compAt && shift > 0 ? i + shift : i;
        };
        QList<QTextLayout::FormatRange> extra;
        for (Pos p = row.start; p < row.end; ++p) {
            if (!IsSubstituted(buffer.At(p))) continue;
            Pos e = p + 1;
            while (e < row.end && IsSubstituted(buffer.At(e))) ++e;
            QTextLayout::FormatRange r;
            r.start = index(p);
            r.length = index(e) - index(p);
            r.format.setForeground(muted);
            extra.append(r);
            p = e - 1;
        }
        if (st.selEnd > row.start && st.selStart < row.end) {
            QTextLayout::FormatRange r;
            const Pos a = std::max(st.selStart, row.start);
            const Pos b = std::min(st.selEnd, row.end);
            r.start = index(a);
            r.length = index(b) - index(a);
            r.format.setBackground(pal.brush(QPalette::Highlight));
            r.format.setForeground(pal.brush(QPalette::HighlightedText));
            extra.append(r);
        }
        const QTextLine first = layout->lineAt(0);
        const double baselineShift = first.isValid() ? ascent_ - first.ascent() : 0;
        layout->draw(&painter, QPointF(left, slot.y + baselineShift), extra);
        // The codes of C1 controls, in a box over their space.
        for (Pos p = row.start; p < row.end; ++p) {
            const char16_t c = buffer.At(p);
            if (!IsC1Control(c)) continue;
            const QTextLine l = layout->lineForTextPosition(index(p));
            if (!l.isValid()) continue;
            const double x0 = l.cursorToX(index(p)), x1 = l.cursorToX(index(p) + 1);
            const QRectF box(left + std::min(x0, x1) + 1, slot.y + l.y() + 2, std::abs(x1 - x0) - 2, rowHeight_ - 4);
            const bool selected = p >= st.selStart && p < st.selEnd;
            painter.setPen(selected ? pal.color(QPalette::HighlightedText) : muted);
            painter.drawRect(box);
            painter.setFont(codeFont_);
            painter.drawText(box, Qt::AlignCenter, QString::number(c, 16).toUpper());
        }
        // A selected line break: a space's width of highlight after the row.
        const Pos lineEnd = buffer.LineEnd(row.line);
        if (row.end == lineEnd && lineEnd < buffer.Length() && st.selStart <= lineEnd && st.selEnd > lineEnd) {
            const QTextLine last = layout->lineAt(layout->lineCount() - 1);
            const bool rtl = RightToLeft(row.line);
            const double w = SpaceWidth();
            double x = left + (last.isValid() ? last.cursorToX(index(row.end)) : 0);
            if (rtl) x -= w;
            painter.fillRect(QRectF(x, slot.y + (last.isValid() ? last.y() : 0), w, rowHeight_),
                             pal.brush(QPalette::Highlight));
        }
        auto drawCaret = [&](int at) {
            const QTextLine l = layout->lineForTextPosition(at);
            if (!l.isValid()) return;
            const double x = left + l.cursorToX(at);
            painter.fillRect(QRectF(x, slot.y + l.y(), 1, rowHeight_), pal.brush(QPalette::Text));
        };
        if (st.showCaret && row.start == caretRow.start) {
            if (!composing) {
                drawCaret(index(st.caret));
            } else if (composition_.cursorVisible) {
                drawCaret(compAt + composition_.cursor);
            }
        }
        if (st.dropCaret >= row.start && st.dropCaret <= row.end) drawCaret(index(st.dropCaret));
    }
}

}  // namespace tessaly

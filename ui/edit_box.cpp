#include "ui/edit_box.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace tessaly {
namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';
constexpr char16_t kParagraphSeparator = 0x2029;

// Characters the document would take as a line break, and what it shows instead.
char16_t DisplaySubstitute(char16_t c) {
    switch (c) {
    case kCr: return 0x240D;                   // SYMBOL FOR CARRIAGE RETURN
    case kLf: return 0x240A;                   // SYMBOL FOR LINE FEED
    case kParagraphSeparator: return 0x00B6;   // PILCROW SIGN
    case 0xFDD0: case 0xFDD1: return 0xFFFD;   // the document's frame markers
    default: return c;
    }
}

bool IsCrLf(const QString& s, qsizetype i) {
    return s.at(i).unicode() == kCr && i + 1 < s.size() && s.at(i + 1).unicode() == kLf;
}

// Text typed or pasted by the user: every kind of line break becomes CR LF.
QString FromUserText(const QString& display) {
    QString out;
    out.reserve(display.size() + display.size() / 16);
    for (QChar ch : display) {
        if (ch.unicode() == kParagraphSeparator) {
            out += u"\r\n";
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace

EditBox::EditBox(QWidget* parent) : QPlainTextEdit(parent) {
    // One very long line (what encoding produces) wraps in linear time only
    // when lines may break anywhere.
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(document(), &QTextDocument::contentsChange, this, &EditBox::OnContentsChange);
}

QString EditBox::DisplayForm(const QString& text) {
    QString out;
    out.resize(text.size());
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    const char16_t* src = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    qsizetype j = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = src[i];
        if (c == kCr && i + 1 < n && src[i + 1] == kLf) {
            dst[j++] = kLf;
            ++i;
        } else {
            dst[j++] = DisplaySubstitute(c);
        }
    }
    out.truncate(j);
    return out;
}

QString EditBox::Text() const { return exact_; }

void EditBox::SetText(const QString& text) {
    settingText_ = true;
    setPlainText(DisplayForm(text));
    settingText_ = false;
    exact_ = text;
    cacheDisplay_ = 0;
    cacheExact_ = 0;
}

qsizetype EditBox::SkipDisplayUnits(qsizetype exactIndex, qsizetype units) const {
    qsizetype i = exactIndex;
    const qsizetype n = exact_.size();
    while (units > 0 && i < n) {
        i += IsCrLf(exact_, i) ? 2 : 1;
        --units;
    }
    return i;
}

qsizetype EditBox::ExactIndex(int displayPosition) const {
    if (displayPosition < cacheDisplay_) {
        cacheDisplay_ = 0;
        cacheExact_ = 0;
    }
    const qsizetype index = SkipDisplayUnits(cacheExact_, displayPosition - cacheDisplay_);
    cacheDisplay_ = displayPosition;
    cacheExact_ = index;
    return index;
}

QString EditBox::DocumentText(int from, int to) const {
    QTextCursor cursor(document());
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    return cursor.selectedText();
}

void EditBox::OnContentsChange(int position, int removed, int added) {
    if (settingText_) {
        return;
    }
    // The document counts a final paragraph separator that is not text; a
    // change that reaches the end reports it among both removed and added.
    const int textEnd = document()->characterCount() - 1;
    if (position + added > textEnd) {
        const int extra = position + added - textEnd;
        added -= extra;
        removed = std::max(0, removed - extra);
    }
    const qsizetype start = ExactIndex(position);
    const qsizetype end = SkipDisplayUnits(start, removed);
    QString inserted = DocumentText(position, position + added);

    // Qt sometimes reports more than what changed. Keep the exact characters
    // of the unchanged ends, so that they are not replaced by their display form.
    qsizetype from = start;
    qsizetype head = 0;
    while (head < inserted.size() && from < end) {
        const bool crlf = IsCrLf(exact_, from);
        const char16_t shown = crlf ? kParagraphSeparator : DisplaySubstitute(exact_.at(from).unicode());
        if (inserted.at(head).unicode() != shown) {
            break;
        }
        from += crlf ? 2 : 1;
        ++head;
    }
    qsizetype to = end;
    qsizetype tail = inserted.size();
    while (tail > head && to > from) {
        const bool crlf = to - from >= 2 && exact_.at(to - 1).unicode() == kLf &&
                          exact_.at(to - 2).unicode() == kCr;
        const char16_t shown = crlf ? kParagraphSeparator : DisplaySubstitute(exact_.at(to - 1).unicode());
        if (inserted.at(tail - 1).unicode() != shown) {
            break;
        }
        to -= crlf ? 2 : 1;
        --tail;
    }
    exact_.replace(from, to - from, FromUserText(inserted.mid(head, tail - head)));
    cacheDisplay_ = position;
    cacheExact_ = start;
}

void EditBox::keyPressEvent(QKeyEvent* event) {
    // Shift+Enter would insert a line separator; every Enter is a CR LF here.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & Qt::ShiftModifier)) {
        QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                        event->text(), event->isAutoRepeat(), event->count());
        QPlainTextEdit::keyPressEvent(&plain);
        event->setAccepted(plain.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void EditBox::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText()) {
        return;
    }
    QString text = source->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar(kCr), QChar(kLf));
    textCursor().insertText(text);
    ensureCursorVisible();
}

QMimeData* EditBox::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    const qsizetype from = ExactIndex(cursor.selectionStart());
    const qsizetype to = SkipDisplayUnits(from, cursor.selectionEnd() - cursor.selectionStart());
    auto* data = new QMimeData;
    data->setText(exact_.mid(from, to - from));
    return data;
}

}  // namespace tessaly

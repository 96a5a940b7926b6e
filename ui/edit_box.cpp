#include "ui/edit_box.h"

#include <algorithm>
#include <cstdint>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <QKeyEvent>
#include <QMimeData>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include "codec/large_pages.h"

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

bool ChangesForDisplay(char16_t c) {
    return c == kCr || c == kLf || c == kParagraphSeparator || c == 0xFDD0 || c == 0xFDD1;
}

// How this box uses glibc's allocator for texts of many megabytes.
//
// glibc serves a request below its mmap threshold from the heap, and raises
// that threshold each time a mapped block is freed. A document built after a
// large text was freed then grows its arrays inside the heap, and each move
// of an array leaves a hole as large as the array behind. With the threshold
// fixed, large blocks get mappings of their own: they grow by remapping and
// go back to the system when freed.
void KeepLargeBlocksMapped() {
#if defined(__GLIBC__)
    static const bool done = mallopt(M_MMAP_THRESHOLD, 1 << 20) != 0;
    static_cast<void>(done);
#endif
}

// Laying out a line of millions of characters takes a working block of tens
// of bytes per character, which Qt frees and asks for again each time the
// line is laid out, as on every change of the width. A fresh mapping each
// time means faulting in every page again, which costs about as much as the
// rest of the layout. While a long line is laid out, large blocks come from
// the heap instead and the heap keeps what is freed meanwhile, so a new
// layout of the line reuses the pages of the one it replaces.
class HeapForLongLine {
public:
    HeapForLongLine() {
#if defined(__GLIBC__)
        if (depth_++ == 0) {
            mallopt(M_MMAP_MAX, 0);
            mallopt(M_TRIM_THRESHOLD, kKeepAll);
        }
#endif
    }
    ~HeapForLongLine() {
#if defined(__GLIBC__)
        if (--depth_ == 0) {
            mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
            mallopt(M_MMAP_MAX, kMmapMax);
        }
#endif
    }
    HeapForLongLine(const HeapForLongLine&) = delete;
    HeapForLongLine& operator=(const HeapForLongLine&) = delete;

private:
#if defined(__GLIBC__)
    static constexpr int kKeepAll = 1 << 30;
    static constexpr int kTrimThreshold = 2 << 20;  // twice the mmap threshold, as glibc sets it
    static constexpr int kMmapMax = 65536;          // glibc's default
    static inline int depth_ = 0;
#endif
};

// A long line's layout freed outside HeapForLongLine (its line changed or
// went away) leaves free pages inside the heap: give them back.
void ReturnFreePages() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}


// Lines at least this long are laid out as above and keep their shaped
// glyphs; their layout needs more than the mmap threshold.
constexpr int kLongLine = 1 << 15;

// The plain text layout, except for long lines: they keep what the layout
// worked out, and their layouts reuse memory. Qt otherwise drops the shaped
// glyphs when a line has been laid out, and painting it, or placing the
// cursor in it, then analyses and shapes the whole line again: on a line of
// millions of characters that is a second full pass, with a fresh block of
// tens of bytes per character. The cursor alone would rebuild and keep that
// block, and what is kept goes when the line changes or is laid out again.
class EditLayout final : public QPlainTextDocumentLayout {
public:
    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

    // Every layout of a line goes through here first.
    QRectF blockBoundingRect(const QTextBlock& block) const override {
        if (block.isValid()) {
            QTextLayout* layout = block.layout();
            const bool longLine = block.length() >= kLongLine;
            if (layout->cacheEnabled() != longLine) {
                layout->setCacheEnabled(longLine);
            }
            if (longLine && layout->lineCount() == 0) {
                const HeapForLongLine heap;
                return QPlainTextDocumentLayout::blockBoundingRect(block);
            }
        }
        return QPlainTextDocumentLayout::blockBoundingRect(block);
    }

protected:
    // A large change may have freed long lines' layouts, and a change within
    // one line lays it out again at once.
    void documentChanged(int from, int removed, int added) override {
        if (removed + added >= kLongLine || document()->findBlock(from).length() >= kLongLine) {
            ReturnFreePages();
            const HeapForLongLine heap;
            QPlainTextDocumentLayout::documentChanged(from, removed, added);
            return;
        }
        QPlainTextDocumentLayout::documentChanged(from, removed, added);
    }
};

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
    KeepLargeBlocksMapped();
    // One very long line (what encoding produces) wraps in linear time only
    // when lines may break anywhere.
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    // The same document as the one the box starts with, with our layout.
    QTextDocument* const initial = document();
    auto* doc = new QTextDocument(initial->parent());
    doc->setDefaultFont(initial->defaultFont());
    doc->setDefaultTextOption(initial->defaultTextOption());
    doc->setDocumentMargin(initial->documentMargin());
    doc->setUndoRedoEnabled(initial->isUndoRedoEnabled());
    auto* layout = new EditLayout(doc);
    layout->setPaintDevice(viewport());
    doc->setDocumentLayout(layout);
    setDocument(doc);
    connect(doc, &QTextDocument::contentsChange, this, &EditBox::OnContentsChange);
}

QString EditBox::DisplayForm(const QString& text) {
    const char16_t* const begin = reinterpret_cast<const char16_t*>(text.constData());
    if (std::none_of(begin, begin + text.size(), ChangesForDisplay)) {
        return text;
    }
    QString out(text.size(), Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    AskForLargePages(dst, static_cast<std::size_t>(out.size()) * sizeof(char16_t));
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
    // Not setPlainText(): after inserting the text it selects all of it and
    // sets its format again, and on one long line each step lays the line
    // out anew. Here the line is laid out once, when the insertion ends.
    clear();
    // The earlier text goes before the new document takes its memory.
    exact_ = text;
    cacheDisplay_ = 0;
    cacheExact_ = 0;
    QTextDocument* const doc = document();
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    {
        QTextCursor cursor(doc);
        cursor.beginEditBlock();
        {
            const QString display = DisplayForm(text);
            cursor.insertText(display);
        }
        // The document holds its own copy by now; ours is gone before the
        // layout needs its memory.
        cursor.endEditBlock();
    }
    doc->setUndoRedoEnabled(undo);
    doc->setModified(false);
    // The insertion carried the box's cursor to the end.
    setTextCursor(QTextCursor(doc));
    settingText_ = false;
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

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <random>

#include "ui/edit_box.h"

namespace tessaly {
namespace {

// Texts full of what a text box likes to lose: every kind of line end, NUL
// and other controls, the document's own separator characters, surrogates.
QString TrickyText(std::mt19937& rng, int length) {
    static const char16_t kPieces[][3] = {
        {u'\r', u'\n'}, {u'\r'}, {u'\n'}, {u'\n', u'\r'}, {0x0000}, {0x0009}, {0x000B}, {0x000C},
        {0x001F}, {0x007F}, {0x0085}, {0x2028}, {0x2029}, {0xFDD0}, {0xFDD1}, {0xFFFC},
        {0xD83D, 0xDE00}, {0xD800}, {0xDC00}, {u'a'}, {u'%'}, {0x3042}, {0x00A0}, {0x240D},
    };
    std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
    QString text;
    while (text.size() < length) {
        const char16_t* piece = kPieces[pick(rng)];
        for (int i = 0; i < 3 && (piece[i] != 0 || i == 0); ++i) {
            text += QChar(piece[i]);
        }
    }
    return text;
}

TEST(EditBox, KeepsEveryTextThatIsPutIntoIt) {
    EditBox box;
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const QString text = TrickyText(rng, round % 40);
        box.SetText(text);
        ASSERT_EQ(box.Text(), text) << "round " << round;
    }
}

TEST(EditBox, ShowsCrLfAsLineBreaksAndOtherLineEndsAsSymbols) {
    EditBox box;
    box.SetText(QStringLiteral("a\r\nb\rc\nd"));
    EXPECT_EQ(box.document()->blockCount(), 2);
    EXPECT_EQ(box.document()->toPlainText(), QStringLiteral("a\nb\u240Dc\u240Ad"));
}

// Inserting characters at random places and removing them again through the
// document (as typing and deleting do) must leave the rest exactly as it was.
TEST(EditBox, EditsKeepTheUntouchedTextExact) {
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        EditBox box;
        const QString original = TrickyText(rng, 30 + round);
        box.SetText(original);
        const int inserts = 1 + round % 5;
        for (int i = 0; i < inserts; ++i) {
            QTextCursor cursor(box.document());
            std::uniform_int_distribution<int> where(0, box.document()->characterCount() - 1);
            cursor.setPosition(where(rng));
            cursor.insertText(QStringLiteral("Z"));
        }
        QString typed = box.Text();
        EXPECT_EQ(typed.count(u'Z'), inserts);
        typed.remove(u'Z');
        ASSERT_EQ(typed, original) << "round " << round;

        for (QTextCursor found = box.document()->find(QStringLiteral("Z")); !found.isNull();
             found = box.document()->find(QStringLiteral("Z"))) {
            found.removeSelectedText();
        }
        ASSERT_EQ(box.Text(), original) << "round " << round;
    }
}

TEST(EditBox, DeletingALineBreakRemovesTheWholeCrLf) {
    EditBox box;
    box.SetText(QStringLiteral("ab\r\ncd\ref"));
    QTextCursor cursor(box.document());
    cursor.setPosition(2);
    cursor.deleteChar();  // the line break after "ab"
    EXPECT_EQ(box.Text(), QStringLiteral("abcd\ref"));
    cursor.setPosition(4);
    cursor.deleteChar();  // the lone CR, shown as a symbol
    EXPECT_EQ(box.Text(), QStringLiteral("abcdef"));
}

TEST(EditBox, EnterAndShiftEnterGiveCrLf) {
    EditBox box;
    box.show();
    QTest::keyClicks(&box, QStringLiteral("ab"));
    QTest::keyClick(&box, Qt::Key_Return);
    QTest::keyClicks(&box, QStringLiteral("cd"));
    QTest::keyClick(&box, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Enter);
    EXPECT_EQ(box.Text(), QStringLiteral("ab\r\ncd\r\n\r\n"));
}

TEST(EditBox, TypingIntoProgramTextKeepsItsLoneLineEnds) {
    EditBox box;
    box.show();
    box.SetText(QStringLiteral("x\ny\rz"));
    box.moveCursor(QTextCursor::End);
    QTest::keyClick(&box, Qt::Key_Return);
    QTest::keyClicks(&box, QStringLiteral("w"));
    box.moveCursor(QTextCursor::Start);
    QTest::keyClick(&box, Qt::Key_Delete);
    EXPECT_EQ(box.Text(), QStringLiteral("\ny\rz\r\nw"));
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);  // undo the delete
    EXPECT_EQ(box.Text(), QStringLiteral("x\ny\rz\r\nw"));
}

TEST(EditBox, PastedLineBreaksOfEveryKindBecomeCrLf) {
    EditBox box;
    box.show();
    QApplication::clipboard()->setText(QStringLiteral("1\n2\r3\r\n4\u2029" "5"));
    box.paste();
    EXPECT_EQ(box.Text(), QStringLiteral("1\r\n2\r\n3\r\n4\r\n5"));
}

TEST(EditBox, CopyGivesTheExactTextOfTheSelection) {
    EditBox box;
    box.show();
    box.SetText(QStringLiteral("a\nb\r\nc\rd"));
    QTextCursor cursor(box.document());
    cursor.setPosition(1);
    cursor.setPosition(6, QTextCursor::KeepAnchor);  // "\nb", line break, "c\r"
    box.setTextCursor(cursor);
    box.copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("\nb\r\nc\r"));
}

// One line far longer than a screen, as encoding produces.
QString LongLine(qsizetype length, const QString& unit = QStringLiteral("%82%A0%83e%83X%83g&key=value+")) {
    QString s;
    while (s.size() < length) {
        s += unit;
    }
    s.truncate(length);
    return s;
}

// The first block's lines must follow one another without a gap and each
// fit the viewport: wrapped anywhere at the widget width, nothing left over.
void ExpectWrappedAtTheViewportWidth(const EditBox& box) {
    const QTextBlock block = box.document()->firstBlock();
    const QTextLayout* layout = block.layout();
    ASSERT_GT(layout->lineCount(), 1);
    int next = 0;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        ASSERT_EQ(line.textStart(), next) << "line " << i;
        ASSERT_LE(line.naturalTextWidth(), box.viewport()->width()) << "line " << i;
        next += line.textLength();
    }
    EXPECT_EQ(next, block.length() - 1);
}

TEST(EditBox, ALongLineStaysExactAndWrapsAgainWhenTheWidthChanges) {
    EditBox box;
    box.resize(420, 300);
    box.show();
    const QString plain = LongLine(150'000);
    // The same length again, with every kind of line end inside.
    QString mixed = plain;
    mixed[1000] = u'\r';
    mixed[2000] = u'\n';
    mixed[3000] = QChar(0x2029);

    for (const QString& text : {plain, mixed}) {
        box.SetText(text);
        QApplication::processEvents();
        EXPECT_EQ(box.Text(), text);
        EXPECT_EQ(box.document()->blockCount(), 1);
        EXPECT_EQ(box.document()->toPlainText(), EditBox::DisplayForm(text));
        ExpectWrappedAtTheViewportWidth(box);

        const int lines = box.document()->firstBlock().layout()->lineCount();
        box.resize(300, 300);
        QApplication::processEvents();
        ExpectWrappedAtTheViewportWidth(box);
        EXPECT_GT(box.document()->firstBlock().layout()->lineCount(), lines);
        box.resize(420, 300);
        QApplication::processEvents();
        EXPECT_EQ(box.document()->firstBlock().layout()->lineCount(), lines);
    }
    // A text the document shows as it is costs no second copy.
    EXPECT_EQ(EditBox::DisplayForm(plain).constData(), plain.constData());
}

TEST(EditBox, TypingIntoALongLineKeepsItExact) {
    EditBox box;
    box.resize(420, 300);
    box.show();
    QString text = LongLine(100'000);
    text.insert(50'000, QStringLiteral("\r\n\r"));
    box.SetText(text);
    QApplication::processEvents();

    QTextCursor cursor(box.document());
    cursor.setPosition(50'001);  // just after the CR LF, before the lone CR
    box.setTextCursor(cursor);
    QTest::keyClicks(&box, QStringLiteral("ab"));
    QTest::keyClick(&box, Qt::Key_Backspace);
    box.moveCursor(QTextCursor::End);
    QTest::keyClick(&box, Qt::Key_Return);
    QTest::keyClicks(&box, QStringLiteral("z"));

    QString expected = text;
    expected.insert(50'002, u'a');
    expected += QStringLiteral("\r\nz");
    EXPECT_EQ(box.Text(), expected);

    // Away with all of it and back again (line ends the user can type, as
    // undo brings back what the document shows).
    const QString typeable = LongLine(100'000) + QStringLiteral("\r\n") + LongLine(40'000);
    box.SetText(typeable);
    box.selectAll();
    QTest::keyClick(&box, Qt::Key_Delete);
    EXPECT_EQ(box.Text(), QString());
    box.undo();
    EXPECT_EQ(box.Text(), typeable);
}

TEST(EditBox, SetTextStartsAFreshHistoryWhileTypingCanStillBeUndone) {
    EditBox box;
    box.show();
    box.SetText(QStringLiteral("first"));
    box.moveCursor(QTextCursor::End);
    QTest::keyClicks(&box, QStringLiteral("A"));
    ASSERT_EQ(box.Text(), QStringLiteral("firstA"));

    box.SetText(QStringLiteral("second\r\nline\r"));
    EXPECT_FALSE(box.document()->isUndoAvailable());
    box.moveCursor(QTextCursor::End);
    QTest::keyClicks(&box, QStringLiteral("B"));
    EXPECT_EQ(box.Text(), QStringLiteral("second\r\nline\rB"));
    box.undo();
    EXPECT_EQ(box.Text(), QStringLiteral("second\r\nline\r"));
    box.undo();  // nothing left: the earlier text is not reachable
    EXPECT_EQ(box.Text(), QStringLiteral("second\r\nline\r"));
    box.redo();
    EXPECT_EQ(box.Text(), QStringLiteral("second\r\nline\rB"));
}

TEST(EditBox, SetTextShowsTheTopWithTheCursorAtTheStart) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    QString lines;
    for (int i = 0; i < 2000; ++i) {
        lines += QStringLiteral("line %1\r\n").arg(i);
    }
    box.SetText(lines);
    QApplication::processEvents();
    box.moveCursor(QTextCursor::End);
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    QApplication::processEvents();
    ASSERT_GT(box.verticalScrollBar()->value(), 0);

    box.SetText(lines + QStringLiteral("more"));
    QApplication::processEvents();
    EXPECT_EQ(box.textCursor().position(), 0);
    EXPECT_EQ(box.verticalScrollBar()->value(), 0);
    EXPECT_EQ(box.cursorForPosition(QPoint(1, 1)).blockNumber(), 0);
}

TEST(EditBox, TheDocumentFollowsTheFontOfTheBox) {
    EditBox box;
    QFont font = box.font();
    font.setPointSize(font.pointSize() + 7);
    box.setFont(font);
    EXPECT_EQ(box.document()->defaultFont().pointSize(), font.pointSize());
}

}  // namespace
}  // namespace tessaly

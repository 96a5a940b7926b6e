#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
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

}  // namespace
}  // namespace tessaly

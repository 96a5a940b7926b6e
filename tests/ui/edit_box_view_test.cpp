// What the edit box shows: every row fits the box as it is shaped, the caret
// stays in sight wherever it goes in texts not yet laid out, the last page
// stays full, and what the box copies comes back exactly.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextLayout>
#include <QWheelEvent>
#include <random>

#include "ui/box_mime.h"
#include "ui/edit_box.h"

namespace tessaly {
namespace {

void Paint(EditBox& box) {
    box.viewport()->repaint();
    QApplication::processEvents();
}

QString Repeat(const QString& unit, int times) {
    QString s;
    for (int i = 0; i < times; ++i) s += unit;
    return s;
}

// The width of a text shaped on its own, as a row is drawn.
double ShapedWidth(const QString& text, const QFont& font, QPaintDevice* device) {
    QTextLayout layout(text, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setFlags(QTextOption::IncludeTrailingSpaces);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    return line.naturalTextWidth();
}

bool InView(EditBox& box, const QRectF& r) {
    const QRectF view = box.viewport()->rect();
    return r.top() >= view.top() && r.bottom() <= view.bottom() + 0.5 && r.left() >= view.left() &&
           r.left() <= view.right();
}

TEST(EditBoxView, NoRowIsWiderThanTheBoxForMixedScripts) {
    const QString texts[] = {
        Repeat(QStringLiteral("あ 1 "), 15) + Repeat(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), 3),
        Repeat(QStringLiteral("あ 1 "), 40),
        Repeat(QStringLiteral("مرحبا بالعالم 123 "), 12),
        Repeat(QStringLiteral("नमस्ते दुनिया "), 12),
        Repeat(QStringLiteral("e\u0301👨‍👩‍👧👍🏽🇯🇵 ガ漢字 delta "), 10),
        Repeat(QStringLiteral("%82%A0 あいう abc\tdef "), 12),
    };
    EditBox box;
    box.show();
    for (const int width : {150, 233, 377}) {
        box.resize(width, 200);
        for (const QString& text : texts) {
            box.SetText(text);
            Paint(box);
            const double room = box.viewport()->width() - 4;  // the text starts 4 pixels in
            RowIndex& rows = box.Rows();
            qint64 next = 0;
            for (qint64 i = 0; i < rows.RowCount(); ++i) {
                const RowIndex::Row row = rows.RowAt(i);
                ASSERT_EQ(row.start, next) << width << " " << text.left(10).toStdString();
                next = row.end;
                const QString shown = text.mid(row.start, row.end - row.start);
                if (shown.contains(u'\t')) continue;  // tabs depend on where the row starts
                EXPECT_LE(ShapedWidth(shown, box.font(), box.viewport()), room)
                    << "width " << width << " row " << i << ": " << shown.toStdString();
                // The caret at the row's end is inside the box too.
                box.SetSelection(row.start, row.start);
                QTest::keyClick(&box, Qt::Key_End);
                EXPECT_LE(box.CaretRect().left(), box.viewport()->width())
                    << "width " << width << " row " << i;
            }
            EXPECT_EQ(next, text.size());
        }
    }
}

// Lines of Japanese that wrap, many more than a screen.
QString WrappedJapaneseLines(int lines) {
    QString s;
    const QString pool = QStringLiteral("あいうえおかきくけこ漢字変換文字列符号化東京大阪日本語試験");
    std::mt19937 rng(5);
    for (int i = 0; i < lines; ++i) {
        const int n = 30 + static_cast<int>(rng() % 90);
        for (int k = 0; k < n; ++k) s += pool.at(static_cast<int>(rng() % pool.size()));
        s += QStringLiteral("\r\n");
    }
    return s;
}

void ExpectCaretInView(EditBox& box, const char* after) {
    Paint(box);
    EXPECT_TRUE(InView(box, box.CaretRect())) << after << ": caret at " << box.CaretRect().y() << " in a view of "
                                              << box.viewport()->height();
}

TEST(EditBoxView, TheCaretStaysInSightInTextsNotYetLaidOut) {
    EditBox box;
    box.resize(300, 220);
    box.show();
    box.setFocus();
    for (const QString& text : {WrappedJapaneseLines(3000), Repeat(QStringLiteral("日本語の文字列"), 10'000'000 / 7)}) {
        box.SetText(text);
        Paint(box);
        QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
        ExpectCaretInView(box, "Ctrl+End");
        EXPECT_EQ(box.State().Caret(), text.size());
        QTest::keyClicks(&box, QStringLiteral("xyz"));
        ExpectCaretInView(box, "typing at the end");
        QTest::keyClick(&box, Qt::Key_PageUp);
        QTest::keyClick(&box, Qt::Key_PageUp);
        QTest::keyClick(&box, Qt::Key_PageDown);
        ExpectCaretInView(box, "PageDown");
        // The middle, then a replacement of everything and its undo.
        box.SetSelection(text.size() / 2, text.size() / 2);
        ExpectCaretInView(box, "a jump to the middle");
        const qint64 caret = box.State().Caret();
        box.ReplaceRange(0, box.State().Length(), QStringLiteral("short"));
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(box.State().Length(), text.size() + 3);
        box.SetSelection(caret, caret);
        QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(&box, Qt::Key_X);
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        ExpectCaretInView(box, "undo at the start");
        box.SetSelection(caret, caret);
        QTest::keyClick(&box, Qt::Key_X);
        QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        ExpectCaretInView(box, "undo in the middle seen from the end");
        // The thumb dragged to the bottom shows the end.
        box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
        Paint(box);
        EXPECT_TRUE(InView(box, box.CharacterRect(box.State().Length()))) << "the thumb at the bottom";
    }
}

TEST(EditBoxView, TheLastPageStaysFull) {
    EditBox box;
    box.resize(300, 220);
    box.show();
    box.setFocus();
    box.SetText(QStringLiteral("one\r\ntwo\r\nthree\r\nfour\r\nfive"));
    Paint(box);
    QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_PageDown);
    Paint(box);
    EXPECT_TRUE(InView(box, box.CharacterRect(0))) << "the first line went out of sight";
    EXPECT_EQ(box.verticalScrollBar()->maximum(), 0);
    QString lines;
    for (int i = 0; i < 100; ++i) lines += QStringLiteral("line %1\r\n").arg(i);
    box.SetText(lines);
    Paint(box);
    for (int i = 0; i < 10; ++i) QTest::keyClick(&box, Qt::Key_PageDown);
    Paint(box);
    const QRectF end = box.CharacterRect(box.State().Length());
    EXPECT_TRUE(InView(box, end));
    EXPECT_GT(end.bottom() + end.height() * 1.5, box.viewport()->height()) << "the last row is not at the bottom";
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    QWheelEvent wheel(QPointF(10, 10), box.viewport()->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(box.viewport(), &wheel);
    Paint(box);
    EXPECT_TRUE(InView(box, box.CharacterRect(box.State().Length()))) << "the wheel scrolled past the end";
}

TEST(EditBoxView, UpOnTheFirstRowAndDownOnTheLastLeaveTheCaret) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.setFocus();
    box.SetText(QStringLiteral("first line\r\nlast line"));
    box.SetSelection(3, 3);
    QTest::keyClick(&box, Qt::Key_Up);
    EXPECT_EQ(box.State().Caret(), 3);
    box.SetSelection(15, 15);
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.State().Caret(), 15);
    QTest::keyClick(&box, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_FALSE(box.State().HasSelection());
}

TEST(EditBoxView, WhatTheBoxCopiesComesBackExactly) {
    EditBox box;
    box.show();
    box.setFocus();
    const QString exact = QStringLiteral("A\rB\nC\r\nD\n\r");
    box.SetText(exact);
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), QString());
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), exact);
    // Text of other programs: its line breaks become CR LF.
    auto* outside = new QMimeData;
    outside->setText(QStringLiteral("x\ny\rz"));
    QApplication::clipboard()->setMimeData(outside);
    box.SetText(QString());
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), QStringLiteral("x\r\ny\r\nz"));
    // The box's own format from another copy of the program is exact too.
    auto* other = new QMimeData;
    other->setText(QStringLiteral("p\r\nq"));
    const QString raw = QStringLiteral("p\rq");
    other->setData(QStringLiteral("application/x-tessaly-exact-text"),
                   QByteArray(reinterpret_cast<const char*>(raw.utf16()), raw.size() * 2));
    QApplication::clipboard()->setMimeData(other);
    box.SetText(QString());
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), raw);
}

QImage Shot(EditBox& box) {
    Paint(box);
    return box.viewport()->grab().toImage();
}

TEST(EditBoxView, C1ControlsShowTheirCodes) {
    EditBox box;
    box.resize(300, 100);
    box.show();
    box.SetText(QStringLiteral("A\u0080B"));
    const QImage c80 = Shot(box);
    box.SetText(QStringLiteral("A\u0081B"));
    const QImage c81 = Shot(box);
    box.SetText(QStringLiteral("A\u0080B"));
    EXPECT_EQ(Shot(box), c80);
    EXPECT_NE(c80, c81) << "two C1 controls look the same";
}

TEST(EditBoxView, APreeditWrapsLikeTheText) {
    EditBox box;
    box.resize(220, 200);
    box.show();
    box.setFocus();
    box.SetText(Repeat(QStringLiteral("abcdefgh"), 20));
    Paint(box);
    const RowIndex::Row first = box.Rows().RowAt(0);
    for (const qint64 at : {first.end, first.end / 2}) {
        box.SetSelection(first.start, first.start);
        if (at == first.end) {
            QTest::keyClick(&box, Qt::Key_End);  // the end of the full first row
        } else {
            box.SetSelection(at, at);
        }
        QInputMethodEvent preedit(QStringLiteral("にほんごのにゅうりょく"), {});
        QApplication::sendEvent(&box, &preedit);
        Paint(box);
        const QRect cursor = box.inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const QRect view = box.viewport()->geometry();
        EXPECT_TRUE(view.contains(cursor.center())) << "composing at " << at << ": cursor at " << cursor.x();
        QInputMethodEvent done;
        QApplication::sendEvent(&box, &done);
    }
}

TEST(EditBoxView, RightToLeftParagraphsAlignRightAndMoveVisually) {
    EditBox box;
    box.resize(400, 200);
    box.show();
    box.setFocus();
    box.SetText(QStringLiteral("שלום עולם\r\nabc"));
    Paint(box);
    const double view = box.viewport()->width();
    EXPECT_GT(box.CharacterRect(0).left(), view / 2) << "a right-to-left paragraph drawn flush left";
    EXPECT_LT(box.CharacterRect(11).left(), view / 2);
    box.SetSelection(0, 0);
    QTest::keyClick(&box, Qt::Key_Left);
    EXPECT_EQ(box.State().Caret(), 1) << "Left goes on into a right-to-left text";
    QTest::keyClick(&box, Qt::Key_Right);
    QTest::keyClick(&box, Qt::Key_Right);
    EXPECT_EQ(box.State().Caret(), 0) << "Right at the right edge stays";
}

TEST(EditBoxView, ArrowsAndWordsTakeWholeClusters) {
    EditBox box;
    box.resize(400, 200);
    box.show();
    box.setFocus();
    for (const QString& cluster : {QStringLiteral("e\u0301"), QStringLiteral("👨‍👩‍👧"), QStringLiteral("👍🏽"),
                                  QStringLiteral("🇯🇵"), QStringLiteral("カ\u3099")}) {
        box.SetText(cluster + QStringLiteral("x"));
        box.SetSelection(0, 0);
        QTest::keyClick(&box, Qt::Key_Right);
        EXPECT_EQ(box.State().Caret(), cluster.size()) << cluster.toStdString();
        QTest::keyClick(&box, Qt::Key_Left);
        EXPECT_EQ(box.State().Caret(), 0) << cluster.toStdString();
        QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
        EXPECT_EQ(box.State().SelectionEnd(), cluster.size()) << cluster.toStdString();
    }
    // Voicing marks belong to their kana: one word.
    box.SetText(QStringLiteral("カ\u3099キ\u3099ク あ"));
    box.SetSelection(0, 0);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(box.State().Caret(), 6);
    QTest::keyClick(&box, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(box.State().Caret(), 0);
}

TEST(EditBoxView, EnterEndsATypingStep) {
    EditBox box;
    box.show();
    box.setFocus();
    QTest::keyClicks(&box, QStringLiteral("abc"));
    QTest::keyClick(&box, Qt::Key_Return);
    QTest::keyClicks(&box, QStringLiteral("def"));
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), QStringLiteral("abc\r\n"));
}

// The primary selection (where the platform has one) keeps what was selected
// when the text changes afterwards.
TEST(EditBoxView, ThePrimarySelectionOutlivesAnEdit) {
    QClipboard* clipboard = QApplication::clipboard();
    if (!clipboard->supportsSelection()) GTEST_SKIP() << "no primary selection on this platform";
    EditBox box;
    box.show();
    box.setFocus();
    box.SetText(QStringLiteral("hello world"));
    box.SetSelection(0, 0);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
    const QString selected = clipboard->text(QClipboard::Selection);
    EXPECT_EQ(selected, QStringLiteral("hello "));
    box.SetSelection(11, 11);
    QTest::keyClicks(&box, QStringLiteral("!"));
    EXPECT_EQ(clipboard->text(QClipboard::Selection), selected);
}

// A primary selection too large to copy when it is made is read from the
// box while the text is unchanged; the change that comes next has it keep a
// copy, so it offers what was selected whatever the change did to that range
// and whatever comes after. Data the clipboard has let go is left alone.
TEST(EditBoxView, ALargePrimarySelectionKeepsItsTextThroughEdits) {
    std::mt19937 rng(5);
    QString text(4'500'000, Qt::Uninitialized);  // past what is copied at once
    static const char16_t kUnits[] = {u'a', u'b', u'\r', u'\n', 0x3042};
    for (QChar& c : text) c = QChar(rng() % 4 ? char16_t(u'c' + rng() % 20) : kUnits[rng() % std::size(kUnits)]);
    const Pos from = 100'000, to = 4'400'000;
    const QString selected = text.mid(from, to - from);
    struct Change {
        Pos at, removed;
        QString inserted;
    };
    const Change changes[] = {
        {10, 50, QStringLiteral("xyz")},              // before it
        {from - 5, 20, QStringLiteral("\r\n")},       // across its start
        {from, 0, QStringLiteral("in")},              // at its start
        {from + 1000, 3000, QStringLiteral("Q")},     // inside
        {to - 10, 100, QString()},                    // across its end
        {to, 0, QStringLiteral("in")},                // at its end
        {to + 5, 5, QStringLiteral("tail")},          // after it
        {from - 1, to - from + 2, QStringLiteral("new")},  // over all of it
        {-1, 0, QString()},                           // a new text
        {-2, 0, QString()},                           // undo of the text it was selected in
    };
    EditBox box;
    box.show();
    for (const Change& change : changes) {
        SCOPED_TRACE(change.at);
        box.SetText(QStringLiteral("before"));
        box.SetText(text);
        box.SetSelection(from, to);
        std::unique_ptr<QMimeData> mime(box.MimeForPrimary());
        ASSERT_TRUE(TextOf(mime.get()) == selected);
        if (change.at == -1) {
            box.SetText(QStringLiteral("other"));
        } else if (change.at == -2) {
            ASSERT_TRUE(box.Undo());
        } else {
            box.ReplaceRange(change.at, change.at + change.removed, change.inserted);
        }
        ASSERT_TRUE(TextOf(mime.get()) == selected);
        box.ReplaceRange(0, 3, QStringLiteral("later"));
        ASSERT_TRUE(TextOf(mime.get()) == selected);
        ASSERT_TRUE(mime->text() == selected);
    }
    box.SetText(text);
    box.SetSelection(from, to);
    std::unique_ptr<QMimeData> mime(box.MimeForPrimary());
    mime.reset();  // as the clipboard does when it offers other data
    box.ReplaceRange(0, 3, QStringLiteral("gone"));
    EXPECT_TRUE(box.Text().startsWith(QStringLiteral("gone")));
    // Where there is a primary selection: all selected, then typed over.
    QClipboard* clipboard = QApplication::clipboard();
    if (clipboard->supportsSelection()) {
        box.SetText(text);
        box.setFocus();
        QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(&box, QStringLiteral("x"));
        EXPECT_EQ(box.Text(), QStringLiteral("x"));
        EXPECT_TRUE(clipboard->text(QClipboard::Selection) == text);
    }
}

}  // namespace
}  // namespace tessaly

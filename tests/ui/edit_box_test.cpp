#include <QTextBoundaryFinder>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextCharFormat>
#include <QUrl>
#include <random>

#include "ui/edit_box.h"

namespace tessaly {
namespace {

// Texts full of what a text box likes to lose: every kind of line end, NUL
// and other controls, separator characters, surrogates.
QString TrickyText(std::mt19937& rng, int length) {
    static const char16_t kPieces[][3] = {
        {u'\r', u'\n'}, {u'\r'}, {u'\n'}, {u'\n', u'\r'}, {0x0000}, {0x0009}, {0x000B}, {0x000C},
        {0x001F}, {0x007F}, {0x0085}, {0x2028}, {0x2029}, {0xFDD0}, {0xFDD1}, {0xFFFC},
        {0xD83D, 0xDE00}, {0xD800}, {0xDC00}, {u'a'}, {u'%'}, {0x3042}, {0x00A0}, {0x240D},
        {u'e', 0x0301},
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

void Paint(EditBox& box) {
    box.viewport()->repaint();
    QApplication::processEvents();
}

TEST(EditBox, KeepsEveryTextThatIsPutIntoItAndPaintsIt) {
    EditBox box;
    box.resize(200, 120);
    box.show();
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const QString text = TrickyText(rng, round % 40);
        box.SetText(text);
        Paint(box);
        ASSERT_EQ(box.Text(), text) << "round " << round;
        ASSERT_EQ(box.TextView().size(), static_cast<size_t>(text.size()));
        // Only CR LF breaks a line.
        ASSERT_EQ(box.State().Buffer().LineCount(), text.count(QStringLiteral("\r\n")) + 1);
    }
}

TEST(EditBox, NormalisesEveryKindOfLineBreakToCrLf) {
    EXPECT_EQ(EditBox::NormaliseLineBreaks(QStringLiteral("a\nb\rc\r\nd\n\re\r\r\n")),
              QStringLiteral("a\r\nb\r\nc\r\nd\r\n\r\ne\r\n\r\n"));
    EXPECT_EQ(EditBox::NormaliseLineBreaks(QString()), QString());
}

// A reference for what the box must do with keys, the clipboard, input
// methods and undo: a plain string with a selection and snapshots.
struct Reference {
    std::u16string text;
    qint64 anchor = 0, caret = 0;
    std::vector<std::u16string> undo, redo;

    qint64 Start() const { return std::min(anchor, caret); }
    qint64 End() const { return std::max(anchor, caret); }
    void Replace(qint64 from, qint64 to, const std::u16string& with) {
        undo.push_back(text);
        redo.clear();
        text.replace(from, to - from, with);
        anchor = caret = from + static_cast<qint64>(with.size());
    }
    void ReplaceSelection(const std::u16string& with) { Replace(Start(), End(), with); }
    qint64 Prev(qint64 p) const {
        if (p <= 0) return 0;
        if (p >= 2 && ((text[p - 2] == u'\r' && text[p - 1] == u'\n') ||
                       (QChar::isHighSurrogate(text[p - 2]) && QChar::isLowSurrogate(text[p - 1]))))
            return p - 2;
        return p - 1;
    }
    qint64 Next(qint64 p) const {
        const qint64 n = static_cast<qint64>(text.size());
        if (p >= n) return n;
        if (p + 1 < n && ((text[p] == u'\r' && text[p + 1] == u'\n') ||
                          (QChar::isHighSurrogate(text[p]) && QChar::isLowSurrogate(text[p + 1]))))
            return p + 2;
        return p + 1;
    }
    // The end of the grapheme cluster at p, as Qt finds it.
    qint64 NextCluster(qint64 p) const {
        const QString s = QString::fromStdU16String(text);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
        finder.setPosition(static_cast<qsizetype>(p));
        const qsizetype next = finder.toNextBoundary();
        return next < 0 ? static_cast<qint64>(text.size()) : next;
    }
};

std::u16string U16(const QString& s) { return s.toStdU16String(); }

// Random keys, pastes, cuts, input-method commits, undo and redo through
// the widget, against the reference. Each edit is a step of its own here
// (the history's runs are the model's to test).
TEST(EditBox, RandomEditingThroughTheWidgetMatchesAPlainString) {
    EditBox box;
    box.resize(260, 160);
    box.show();
    box.setFocus();
    std::mt19937 rng(2024);
    QClipboard* clipboard = QApplication::clipboard();
    static const QString kTyped = QStringLiteral("abc あ漢%&");
    for (int round = 0; round < 12; ++round) {
        Reference ref;
        ref.text = U16(TrickyText(rng, 20 + round * 7));
        box.SetText(QString::fromStdU16String(ref.text));
        box.MutableState().History().Clear();
        std::uniform_int_distribution<int> op(0, 17);
        for (int step = 0; step < 120; ++step) {
            const int o = op(rng);
            box.MutableState().History().Seal();
            switch (o) {
            case 0: case 1: {
                const QChar c = kTyped.at(std::uniform_int_distribution<int>(0, kTyped.size() - 1)(rng));
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
                QApplication::sendEvent(&box, &press);
                ref.ReplaceSelection(U16(QString(c)));
                break;
            }
            case 2: {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\U0001F600"));
                QApplication::sendEvent(&box, &press);
                ref.ReplaceSelection(u"\U0001F600");
                break;
            }
            case 3:
                QTest::keyClick(&box, step % 2 ? Qt::Key_Return : Qt::Key_Enter,
                                step % 3 ? Qt::NoModifier : Qt::ShiftModifier);
                ref.ReplaceSelection(u"\r\n");
                break;
            case 4:
                QTest::keyClick(&box, Qt::Key_Tab);
                ref.ReplaceSelection(u"\t");
                break;
            case 5:
                QTest::keyClick(&box, Qt::Key_Backspace);
                if (ref.anchor != ref.caret) ref.ReplaceSelection(u"");
                else if (ref.caret > 0) ref.Replace(ref.Prev(ref.caret), ref.caret, u"");
                break;
            case 6:
                QTest::keyClick(&box, Qt::Key_Delete);
                if (ref.anchor != ref.caret) ref.ReplaceSelection(u"");
                else if (ref.caret < static_cast<qint64>(ref.text.size())) ref.Replace(ref.caret, ref.NextCluster(ref.caret), u"");
                break;
            case 7:
                QTest::keyClick(&box, Qt::Key_Left);
                ref.caret = ref.anchor != ref.caret ? ref.Start() : ref.Prev(ref.caret);
                ref.anchor = ref.caret;
                break;
            case 8:
                QTest::keyClick(&box, Qt::Key_Right);
                ref.caret = ref.anchor != ref.caret ? ref.End() : ref.Next(ref.caret);
                ref.anchor = ref.caret;
                break;
            case 9:
                QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
                ref.caret = ref.Prev(ref.caret);
                break;
            case 10:
                QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
                ref.caret = ref.Next(ref.caret);
                break;
            case 11:
                if (step % 2) {
                    QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
                    ref.anchor = ref.caret = 0;
                } else {
                    QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
                    ref.caret = static_cast<qint64>(ref.text.size());
                }
                break;
            case 12: {
                const QString pasted = TrickyText(rng, 1 + step % 6);
                clipboard->setText(pasted);
                if (step % 2) QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
                else QTest::keyClick(&box, Qt::Key_Insert, Qt::ShiftModifier);
                ref.ReplaceSelection(U16(EditBox::NormaliseLineBreaks(pasted)));
                break;
            }
            case 13:
                if (ref.anchor == ref.caret) break;
                clipboard->clear();
                if (step % 2) QTest::keyClick(&box, Qt::Key_X, Qt::ControlModifier);
                else QTest::keyClick(&box, Qt::Key_Delete, Qt::ShiftModifier);
                ASSERT_EQ(U16(clipboard->text()), ref.text.substr(ref.Start(), ref.End() - ref.Start()));
                ref.ReplaceSelection(u"");
                break;
            case 14:
                if (ref.anchor == ref.caret) break;
                clipboard->clear();
                if (step % 2) QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
                else QTest::keyClick(&box, Qt::Key_Insert, Qt::ControlModifier);
                ASSERT_EQ(U16(clipboard->text()), ref.text.substr(ref.Start(), ref.End() - ref.Start()));
                break;
            case 15: {
                // Typed through an input method: a preedit first, then the commit.
                QInputMethodEvent preedit(QStringLiteral("にほん"), {});
                QApplication::sendEvent(&box, &preedit);
                ASSERT_EQ(box.TextView(), ref.text);
                QInputMethodEvent commit;
                commit.setCommitString(QStringLiteral("日本"));
                QApplication::sendEvent(&box, &commit);
                ref.ReplaceSelection(u"日本");
                break;
            }
            case 16:
                QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
                if (!ref.undo.empty()) {
                    ref.redo.push_back(ref.text);
                    ref.text = ref.undo.back();
                    ref.undo.pop_back();
                }
                ref.anchor = box.State().Anchor();
                ref.caret = box.State().Caret();
                break;
            case 17:
                if (step % 2) QTest::keyClick(&box, Qt::Key_Y, Qt::ControlModifier);
                else QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
                if (!ref.redo.empty()) {
                    ref.undo.push_back(ref.text);
                    ref.text = ref.redo.back();
                    ref.redo.pop_back();
                }
                ref.anchor = box.State().Anchor();
                ref.caret = box.State().Caret();
                break;
            }
            ASSERT_EQ(box.TextView(), ref.text) << "round " << round << " step " << step << " op " << o;
            ASSERT_EQ(box.State().Caret(), ref.caret) << "round " << round << " step " << step << " op " << o;
            ASSERT_EQ(box.State().Anchor(), ref.anchor) << "round " << round << " step " << step << " op " << o;
            ASSERT_EQ(box.State().Buffer().LineCount(),
                      static_cast<qint64>(QString::fromStdU16String(ref.text).count(QStringLiteral("\r\n")) + 1));
            if (step % 10 == 0) Paint(box);
        }
    }
}

TEST(EditBox, TypingRunsUndoAsOneStepAndSetTextIsAStepOfItsOwn) {
    EditBox box;
    box.show();
    box.setFocus();
    box.SetText(QStringLiteral("first"));
    QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(&box, QStringLiteral("ABC"));
    ASSERT_EQ(box.Text(), QStringLiteral("firstABC"));
    box.SetText(QStringLiteral("A\r\nB\nC\r"));
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_Delete);
    EXPECT_EQ(box.Text(), QString());
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), QStringLiteral("A\r\nB\nC\r"));  // the exact characters, not their pictures
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), QStringLiteral("firstABC"));
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), QStringLiteral("first"));
    QTest::keyClick(&box, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), QStringLiteral("firstABC"));
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

// The rows must follow one another without a gap and each fit the width.
void ExpectWrappedAtTheViewportWidth(EditBox& box, qint64 rowsToCheck) {
    RowIndex& rows = box.Rows();
    ASSERT_GT(rows.RowCount(), 1);
    qint64 next = 0;
    for (qint64 i = 0; i < rowsToCheck && i < rows.RowCount(); ++i) {
        const RowIndex::Row row = rows.RowAt(i);
        ASSERT_EQ(row.number, i);
        ASSERT_EQ(row.start, next) << "row " << i;
        ASSERT_GT(row.end, row.start) << "row " << i;
        next = row.end;
        if (i == 0) {
            // Wrapped where the next character would not fit.
            const QRectF last = box.CharacterRect(row.end - 1);
            EXPECT_LE(last.right(), box.viewport()->width()) << "row " << i;
        }
    }
}

TEST(EditBox, ALongLineWrapsAtTheViewportWidthAndAgainWhenItChanges) {
    EditBox box;
    box.resize(420, 300);
    box.show();
    QString mixed = LongLine(150'000);
    mixed[1000] = u'\r';
    mixed[2000] = u'\n';
    mixed[3000] = QChar(0x2029);
    mixed[4000] = QChar(0x2028);
    box.SetText(mixed);
    Paint(box);
    EXPECT_EQ(box.Text(), mixed);
    EXPECT_EQ(box.State().Buffer().LineCount(), 1);
    ExpectWrappedAtTheViewportWidth(box, 200);
    const qint64 perRow = box.Rows().RowAt(0).end;
    box.resize(300, 300);
    Paint(box);
    ExpectWrappedAtTheViewportWidth(box, 200);
    EXPECT_LT(box.Rows().RowAt(0).end, perRow);
    box.resize(420, 300);
    Paint(box);
    EXPECT_EQ(box.Rows().RowAt(0).end, perRow);
    // The scroll bar covers the line's rows.
    EXPECT_GT(box.verticalScrollBar()->maximum(), 150'000 / perRow / 2);
}

TEST(EditBox, KeysMoveByCharacterWordRowLineAndPage) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.setFocus();
    box.SetText(QStringLiteral("foo bar  baz\r\nab\r\nfoo bar  baz"));
    box.SetSelection(0, 0);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(box.State().Caret(), 4);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(box.State().Caret(), 9);
    QTest::keyClick(&box, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(box.State().Caret(), 4);
    EXPECT_EQ(box.State().Anchor(), 9);
    QTest::keyClick(&box, Qt::Key_End);
    EXPECT_EQ(box.State().Caret(), 12);
    EXPECT_FALSE(box.State().HasSelection());
    // Down keeps the x: through the short line and back to the same column.
    box.SetSelection(11, 11);
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.State().Caret(), 16);  // the end of "ab"
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.State().Caret(), 18 + 11);
    QTest::keyClick(&box, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(box.State().Caret(), 11);
    EXPECT_EQ(box.State().Anchor(), 29);
    QTest::keyClick(&box, Qt::Key_Home);
    EXPECT_EQ(box.State().Caret(), 0);
    // Ctrl+Backspace and Ctrl+Delete take a word.
    box.SetSelection(7, 7);
    QTest::keyClick(&box, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(box.Text().left(10), QStringLiteral("foo   baz\r"));
    QTest::keyClick(&box, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(box.Text().left(6), QStringLiteral("foo ba"));

    // Page Down in many lines moves about a screen and scrolls.
    QString lines;
    for (int i = 0; i < 500; ++i) lines += QStringLiteral("line %1\r\n").arg(i);
    box.SetText(lines);
    Paint(box);
    QTest::keyClick(&box, Qt::Key_PageDown);
    const qint64 line = box.State().Buffer().LineOf(box.State().Caret());
    EXPECT_GT(line, 3);
    EXPECT_GT(box.verticalScrollBar()->value(), 0);
    QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(box.State().Caret(), lines.size());
    EXPECT_EQ(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
    EXPECT_TRUE(box.viewport()->rect().contains(box.CaretRect().center().toPoint()));
}

TEST(EditBox, EndAndHomeOfAWrappedRowStayOnThatRow) {
    EditBox box;
    box.resize(200, 200);
    box.show();
    box.setFocus();
    box.SetText(LongLine(2000));
    Paint(box);
    const RowIndex::Row first = box.Rows().RowAt(0);
    QTest::keyClick(&box, Qt::Key_End);
    EXPECT_EQ(box.State().Caret(), first.end);
    const QRectF caret = box.CaretRect();
    EXPECT_LT(caret.center().y(), box.CharacterRect(first.end).top());  // shown at the end of row 0
    QTest::keyClick(&box, Qt::Key_Home);
    EXPECT_EQ(box.State().Caret(), 0);
    QTest::keyClick(&box, Qt::Key_Down);
    QTest::keyClick(&box, Qt::Key_Home);
    EXPECT_EQ(box.State().Caret(), first.end);
}

TEST(EditBox, MouseClicksDragsAndMultiClicksSelect) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.SetText(QStringLiteral("hello world\r\nsecond line"));
    Paint(box);
    auto at = [&](qint64 pos) { return box.CharacterRect(pos).topLeft().toPoint() + QPoint(1, 3); };
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, at(3));
    EXPECT_EQ(box.State().Caret(), 3);
    EXPECT_EQ(box.PositionAt(at(3)), 3);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::ShiftModifier, at(8));
    EXPECT_EQ(box.State().Anchor(), 3);
    EXPECT_EQ(box.State().Caret(), 8);
    // Drag-select.
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, at(14));
    QMouseEvent move(QEvent::MouseMove, at(19), box.viewport()->mapToGlobal(at(19)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box.viewport(), &move);
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, at(19));
    EXPECT_EQ(box.State().Anchor(), 13 + 1);
    EXPECT_EQ(box.State().Caret(), 19);
    // Double click: a word; a third click: the line.
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, at(7));
    EXPECT_EQ(box.State().SelectionStart(), 6);
    EXPECT_EQ(box.State().SelectionEnd(), 11);
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, at(7));
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, at(7));
    EXPECT_EQ(box.State().SelectionStart(), 0);
    EXPECT_EQ(box.State().SelectionEnd(), 13);
    // Below the text: the end. The I-beam is the viewport's cursor.
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint(5, 190));
    EXPECT_EQ(box.State().Caret(), box.Text().size());
    EXPECT_EQ(box.viewport()->cursor().shape(), Qt::IBeamCursor);
}

TEST(EditBox, DraggingAfterAMultiClickGrowsTheSelectionByItsUnit) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.SetText(QStringLiteral("one two\r\nthree four five\r\nsix"));
    Paint(box);
    auto at = [&](qint64 pos) { return box.CharacterRect(pos).topLeft().toPoint() + QPoint(1, 3); };
    auto dragTo = [&](qint64 pos) {
        QMouseEvent move(QEvent::MouseMove, at(pos), box.viewport()->mapToGlobal(at(pos)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(box.viewport(), &move);
        QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, at(pos));
    };
    // A double click and a drag into "four": whole words.
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, at(1));
    dragTo(16);
    EXPECT_EQ(box.State().SelectionStart(), 0);
    EXPECT_EQ(box.State().SelectionEnd(), 19);
    // A triple click and the same drag: whole lines, with their breaks.
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, at(1));
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, at(1));
    dragTo(16);
    EXPECT_EQ(box.State().SelectionStart(), 0);
    EXPECT_EQ(box.State().SelectionEnd(), 26);
    // Back up from the third line's word: the first line again from its start.
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, at(27));
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, at(27));
    dragTo(5);
    EXPECT_EQ(box.State().SelectionStart(), 0);
    EXPECT_EQ(box.State().SelectionEnd(), 29);
}

TEST(EditBox, TheWheelAndTheScrollBarScrollTheRows) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    QString lines;
    for (int i = 0; i < 300; ++i) lines += QStringLiteral("%1\r\n").arg(i);
    box.SetText(lines);
    Paint(box);
    EXPECT_EQ(box.PositionAt(QPointF(5, 6)), 0);
    QWheelEvent wheel(QPointF(50, 50), box.viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(box.viewport(), &wheel);
    Paint(box);
    const int value = box.verticalScrollBar()->value();
    EXPECT_GT(value, 0);
    const qint64 top = box.PositionAt(QPointF(5, 6));
    EXPECT_EQ(box.State().Buffer().LineOf(top), value);
    box.verticalScrollBar()->setValue(100);
    Paint(box);
    EXPECT_EQ(box.State().Buffer().LineOf(box.PositionAt(QPointF(5, 6))), 100);
    EXPECT_TRUE(box.verticalScrollBar()->isVisible());
    EXPECT_FALSE(box.horizontalScrollBar()->isVisible());
}

TEST(EditBox, ThePrimarySelectionFollowsTheSelectionAndAMiddleClickPastesIt) {
    QClipboard* clipboard = QApplication::clipboard();
    if (!clipboard->supportsSelection()) GTEST_SKIP() << "no primary selection on this platform";
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.SetText(QStringLiteral("one\ntwo three"));
    Paint(box);
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, box.CharacterRect(5).center().toPoint());
    EXPECT_EQ(clipboard->text(QClipboard::Selection), QStringLiteral("two"));
    QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(clipboard->text(QClipboard::Selection), QStringLiteral("tw"));
    clipboard->setText(QStringLiteral("X\rY"), QClipboard::Selection);
    QTest::mouseClick(box.viewport(), Qt::MiddleButton, {}, box.CharacterRect(0).topLeft().toPoint() + QPoint(1, 3));
    EXPECT_EQ(box.Text(), QStringLiteral("X\r\nYone\ntwo three"));
}

TEST(EditBox, InputMethodsSeeTheLineAroundTheCaretAndTheirPreeditIsShownNotStored) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.setFocus();
    box.SetText(QStringLiteral("first line\r\nあいう") + LongLine(5000));
    box.SetSelection(12 + 1, 12 + 3);
    EXPECT_TRUE(box.inputMethodQuery(Qt::ImEnabled).toBool());
    // The line alone, with positions relative to it; at most a window of a long one.
    const QString around = box.inputMethodQuery(Qt::ImSurroundingText).toString();
    EXPECT_TRUE(around.startsWith(QStringLiteral("あいう%82")));
    EXPECT_LT(around.size(), 5003);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImCursorPosition).toInt(), 3);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImAnchorPosition).toInt(), 1);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImCurrentSelection).toString(), QStringLiteral("いう"));
    EXPECT_EQ(box.inputMethodQuery(Qt::ImAbsolutePosition).toLongLong(), 15);
    EXPECT_TRUE(box.inputMethodQuery(Qt::ImHints).isValid());
    EXPECT_EQ(box.inputMethodQuery(Qt::ImFont).value<QFont>(), box.font());

    const QRect before = box.inputMethodQuery(Qt::ImCursorRectangle).toRect();
    EXPECT_TRUE(box.rect().contains(before.center()));
    QTextCharFormat underline;
    underline.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    QInputMethodEvent preedit(QStringLiteral("にほんご"),
                              {{QInputMethodEvent::TextFormat, 0, 4, underline},
                               {QInputMethodEvent::Cursor, 2, 1, QVariant()}});
    QApplication::sendEvent(&box, &preedit);
    Paint(box);
    EXPECT_EQ(box.Text().mid(12, 3), QStringLiteral("あいう"));  // nothing stored yet
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("日本語"));
    QApplication::sendEvent(&box, &commit);
    EXPECT_EQ(box.Text().mid(12, 6), QStringLiteral("あ日本語%8"));
    EXPECT_EQ(box.State().Caret(), 12 + 4);
    EXPECT_GT(box.inputMethodQuery(Qt::ImCursorRectangle).toRect().x(), before.x());
    // The commit is one step.
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.Text().mid(12, 4), QStringLiteral("あいう%"));
}

TEST(EditBox, TheContextMenuHasQtsOwnJapaneseCaptionsEnabledAsTheyApply) {
    // The test program installs Qt's Japanese translation as the program does.
    EditBox box;
    box.show();
    QApplication::clipboard()->clear();
    auto items = [](QMenu* menu) {
        QList<QAction*> out;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) out << a;
        }
        return out;
    };
    auto captions = [](QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) out << a->text().section(QLatin1Char('\t'), 0, 0) + (a->isEnabled() ? "+" : "-");
        }
        return out;
    };
    std::unique_ptr<QMenu> empty(box.CreateContextMenu());
    const QStringList none = captions(empty.get());
    ASSERT_EQ(none.size(), 7);
    EXPECT_TRUE(none[0].startsWith(QStringLiteral("元に戻す"))) << none[0].toStdString();
    EXPECT_TRUE(none[1].startsWith(QStringLiteral("やり直す"))) << none[1].toStdString();
    EXPECT_TRUE(none[2].startsWith(QStringLiteral("切り取り"))) << none[2].toStdString();
    EXPECT_TRUE(none[3].startsWith(QStringLiteral("コピー"))) << none[3].toStdString();
    EXPECT_TRUE(none[4].startsWith(QStringLiteral("貼り付け"))) << none[4].toStdString();
    EXPECT_TRUE(none[5].startsWith(QStringLiteral("削除"))) << none[5].toStdString();
    EXPECT_TRUE(none[6].startsWith(QStringLiteral("すべてを選択"))) << none[6].toStdString();
    for (const QString& c : none) EXPECT_TRUE(c.endsWith(u'-')) << c.toStdString();

    box.SetText(QStringLiteral("abc"));
    box.SetSelection(0, 2);
    QApplication::clipboard()->setText(QStringLiteral("x"));
    std::unique_ptr<QMenu> some(box.CreateContextMenu());
    const QStringList all = captions(some.get());
    EXPECT_TRUE(all[0].endsWith(u'+'));  // SetText can be undone
    EXPECT_TRUE(all[1].endsWith(u'-'));
    for (int i = 2; i < 7; ++i) EXPECT_TRUE(all[i].endsWith(u'+')) << all[i].toStdString();
    items(some.get())[3]->trigger();  // copy
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("ab"));
    items(some.get()).back()->trigger();  // select all
    EXPECT_EQ(box.State().SelectionEnd(), 3);
    // Delete, then Undo from a fresh menu.
    std::unique_ptr<QMenu> again(box.CreateContextMenu());
    items(again.get())[5]->trigger();
    EXPECT_EQ(box.Text(), QString());
    std::unique_ptr<QMenu> undo(box.CreateContextMenu());
    items(undo.get())[0]->trigger();
    EXPECT_EQ(box.Text(), QStringLiteral("abc"));
}

TEST(EditBox, DroppedTextGoesWhereItIsDroppedAndFilesAreHandedOn) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.SetText(QStringLiteral("abcdef"));
    Paint(box);
    QMimeData text;
    text.setText(QStringLiteral("1\n2"));
    const QPointF point = box.CharacterRect(3).topLeft() + QPointF(1, 3);
    QDragEnterEvent enter(point.toPoint(), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box.viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(point, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box.viewport(), &drop);
    EXPECT_EQ(box.Text(), QStringLiteral("abc1\r\n2def"));
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), QStringLiteral("abcdef"));

    QSignalSpy dropped(&box, &EditBox::FileDropped);
    QMimeData files;
    files.setUrls({QUrl(QStringLiteral("https://example.invalid/x")), QUrl::fromLocalFile(QStringLiteral("/tmp/ä b.txt"))});
    QDragEnterEvent fileEnter(point.toPoint(), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box.viewport(), &fileEnter);
    EXPECT_TRUE(fileEnter.isAccepted());
    QDropEvent fileDrop(point, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box.viewport(), &fileDrop);
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_EQ(dropped[0][0].toString(), QStringLiteral("/tmp/ä b.txt"));
    EXPECT_EQ(box.Text(), QStringLiteral("abcdef"));
}

TEST(EditBox, SignalsTellOfEachChangeAndCaretMove) {
    EditBox box;
    QSignalSpy edited(&box, &EditBox::TextEdited);
    QSignalSpy moved(&box, &EditBox::CaretMoved);
    box.SetText(QStringLiteral("abc"));
    box.ReplaceRange(1, 2, QStringLiteral("XY"));
    EXPECT_EQ(box.Text(), QStringLiteral("aXYc"));
    ASSERT_GE(edited.size(), 2);
    EXPECT_EQ(edited.last()[0].toLongLong(), 1);
    EXPECT_EQ(edited.last()[1].toLongLong(), 1);
    EXPECT_EQ(edited.last()[2].toLongLong(), 2);
    box.SetSelection(0, 4);
    ASSERT_FALSE(moved.isEmpty());
    EXPECT_EQ(moved.last()[0].toLongLong(), 4);
    box.Undo();
    EXPECT_EQ(box.Text(), QStringLiteral("abc"));
}

TEST(EditBox, SetTextShowsTheTopWithTheCaretAtTheStart) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    QString lines;
    for (int i = 0; i < 2000; ++i) lines += QStringLiteral("line %1\r\n").arg(i);
    box.SetText(lines);
    Paint(box);
    box.SetSelection(lines.size(), lines.size());
    Paint(box);
    ASSERT_GT(box.verticalScrollBar()->value(), 0);
    box.SetText(lines + QStringLiteral("more"));
    Paint(box);
    EXPECT_EQ(box.State().Caret(), 0);
    EXPECT_EQ(box.verticalScrollBar()->value(), 0);
    EXPECT_EQ(box.PositionAt(QPointF(5, 6)), 0);
}

TEST(EditBox, RowsFollowTheFontOfTheBox) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.SetText(QStringLiteral("abc\r\ndef"));
    const double before = box.CharacterRect(5).top();
    QFont font = box.font();
    font.setPointSize(font.pointSize() + 12);
    box.setFont(font);
    Paint(box);
    EXPECT_GT(box.CharacterRect(5).top(), before);
    EXPECT_GT(box.CharacterRect(1).width(), 1);
}

TEST(EditBox, MovingTextWithinTheBoxIsOneStepThatUndoesExactly) {
    EditBox box;
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        const QString text = TrickyText(rng, 1 + round % 30);
        box.SetText(text);
        std::uniform_int_distribution<qsizetype> any(0, text.size());
        qsizetype from = any(rng), to = any(rng);
        if (from > to) std::swap(from, to);
        const qsizetype pos = any(rng);
        const bool moved = box.MoveText(from, to, pos);
        ASSERT_EQ(moved, pos < from || pos > to) << round;
        QString expected = text;
        if (moved) {
            const QString piece = text.mid(from, to - from);
            expected.remove(from, to - from);
            const qsizetype at = pos < from ? pos : pos - (to - from);
            expected.insert(at, piece);
            // The moved text is selected (a selection never splits a CR LF or a pair).
            auto splits = [&](qsizetype q) {
                return q > 0 && q < expected.size() &&
                       ((expected[q - 1] == u'\r' && expected[q] == u'\n') ||
                        (expected[q - 1].isHighSurrogate() && expected[q].isLowSurrogate()));
            };
            if (!splits(at)) {
                ASSERT_EQ(box.State().SelectionStart(), at) << round;
            }
            if (!splits(at + piece.size())) {
                ASSERT_EQ(box.State().SelectionEnd(), at + piece.size()) << round;
            }
        }
        ASSERT_EQ(box.Text(), expected) << round;
        if (moved) {
            box.Undo();
            ASSERT_EQ(box.Text(), text) << round;
        }
    }
}

TEST(EditBox, DraggingBelowTheBoxScrollsAndExtendsTheSelection) {
    EditBox box;
    box.resize(300, 150);
    box.show();
    QString lines;
    for (int i = 0; i < 200; ++i) lines += QStringLiteral("row %1\r\n").arg(i);
    box.SetText(lines);
    Paint(box);
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, QPoint(6, 8));
    const QPoint below(20, box.viewport()->height() + 30);
    QMouseEvent move(QEvent::MouseMove, below, box.viewport()->mapToGlobal(below), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(box.viewport(), &move);
    QTest::qWait(400);
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, below);
    EXPECT_GT(box.verticalScrollBar()->value(), 0);
    EXPECT_EQ(box.State().Anchor(), 0);
    const qint64 visibleEnd = box.PositionAt(QPointF(20, box.viewport()->height() - 8));
    EXPECT_GT(box.State().Caret(), 0);
    EXPECT_GE(box.State().Caret() + 12, visibleEnd);  // on the last row in view
}

TEST(EditBox, TheCursorRectangleFollowsThePreeditCursor) {
    EditBox box;
    box.resize(300, 150);
    box.show();
    box.setFocus();
    box.SetText(QStringLiteral("ab"));
    box.SetSelection(1, 1);
    const QRect plain = box.inputMethodQuery(Qt::ImCursorRectangle).toRect();
    QInputMethodEvent start(QStringLiteral("にほん"), {{QInputMethodEvent::Cursor, 0, 1, QVariant()}});
    QApplication::sendEvent(&box, &start);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImCursorRectangle).toRect().x(), plain.x());
    QInputMethodEvent end(QStringLiteral("にほん"), {{QInputMethodEvent::Cursor, 3, 1, QVariant()}});
    QApplication::sendEvent(&box, &end);
    EXPECT_GT(box.inputMethodQuery(Qt::ImCursorRectangle).toRect().x(), plain.x() + 10);
    QInputMethodEvent cancel;
    QApplication::sendEvent(&box, &cancel);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImCursorRectangle).toRect(), plain);
    EXPECT_EQ(box.Text(), QStringLiteral("ab"));
}

}  // namespace
}  // namespace tessaly

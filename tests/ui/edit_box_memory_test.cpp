// When memory is short, every way text comes into the box is refused with
// the program's message, and the text, the selection and the undo history
// stay as they were.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <cstdint>
#include <functional>
#include <string>

#include "tests/ui/modal.h"
#include "ui/edit_box.h"

namespace tessaly {
namespace {

struct Snapshot {
    std::u16string text;
    Pos anchor, caret;
    bool canUndo, canRedo;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(EditBox& box) {
    const EditorState& s = box.State();
    return {std::u16string(box.TextView()), s.Anchor(), s.Caret(), s.CanUndo(), s.CanRedo()};
}

TEST(EditBoxMemory, EveryWayTextGrowsIsRefusedWithTheMessageAndNothingChanges) {
    EditBox box;
    box.resize(300, 200);
    box.show();
    box.setFocus();
    std::uint64_t available = UINT64_MAX;
    box.MutableState().memoryAvailable = [&] { return available; };
    const QString big(300000, QChar(u'\u3042'));

    // Runs act with no memory to spare: the message must come up, and
    // nothing may change.
    const auto refused = [&](const char* way, const std::function<void()>& act) {
        const Snapshot before = Take(box);
        QString shown;
        const auto answered = test::WhenModal([&](QWidget* modal) {
            if (auto* message = qobject_cast<QMessageBox*>(modal)) shown = message->text();
            QTest::keyClick(modal, Qt::Key_Return);
        });
        available = 0;
        act();
        available = UINT64_MAX;
        test::StopAnswering();
        EXPECT_TRUE(*answered) << way;
        EXPECT_EQ(shown, QStringLiteral("メモリが不足しています。")) << way;
        const Snapshot after = Take(box);
        EXPECT_TRUE(after == before) << way << ": selection " << before.anchor << "-" << before.caret << " became "
                                     << after.anchor << "-" << after.caret << ", length " << before.text.size()
                                     << " became " << after.text.size();
    };

    box.SetText(QStringLiteral("abc\r\ndef"));
    box.MutableState().SetSelection(1, 5);

    refused("typed", [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, big);
        QApplication::sendEvent(&box, &key);
    });
    refused("paste", [&] {
        QApplication::clipboard()->setText(big);
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    });
    refused("drop", [&] {
        QMimeData data;
        data.setText(big);
        const QPoint point = box.CharacterRect(2).topLeft().toPoint() + QPoint(1, 3);
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(box.viewport(), &enter);
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(box.viewport(), &drop);
    });
    refused("input-method commit", [&] {
        QInputMethodEvent commit;
        commit.setCommitString(big);
        QApplication::sendEvent(&box, &commit);
    });
    refused("accessible insert", [&] {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&box);
        ASSERT_TRUE(accessible && accessible->editableTextInterface());
        accessible->editableTextInterface()->insertText(0, big);
    });

    // (Undo and redo of a step that needs the buffer to grow are refused
    // the same way: the model's own memory test drives them.)
}

}  // namespace
}  // namespace tessaly

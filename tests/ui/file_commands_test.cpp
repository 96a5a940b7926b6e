#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QDropEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "modal.h"
#include "ui/edit_box.h"
#include "ui/form1.h"

namespace tessaly {
namespace {

using test::Press;
using test::Answer;
using test::WhenModal;
using test::WhenModals;

const QByteArray kTesutoSjis("\x83\x65\x83\x58\x83\x67");  // テスト

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Types a path into the file dialog, as a person would; tells what the
// dialog showed at first.
Answer TypePath(const QString& path, QString* shown = nullptr) {
    return [path, shown](QWidget* modal) {
        auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* fd = qobject_cast<QFileDialog*>(modal);
        if (!edit || !fd) {
            ADD_FAILURE() << "expected the file dialog";
            modal->close();
            return;
        }
        if (shown) {
            *shown = edit->text().isEmpty() ? QString() : fd->directory().absoluteFilePath(edit->text());
        }
        edit->selectAll();
        test::TypeInto(edit, path);
        QTest::keyClick(edit, Qt::Key_Return);
    };
}

struct SeenBox {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::Critical;
    int buttons = 0;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Looks at a message box and presses one of its buttons.
Answer Look(SeenBox* seen, QMessageBox::StandardButton press) {
    return [seen, press](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            ADD_FAILURE() << "expected a message box";
            modal->close();
            return;
        }
        seen->text = box->text();
        seen->title = box->windowTitle();
        seen->icon = box->icon();
        seen->buttons = static_cast<int>(box->buttons().size());
        seen->defaultButton = box->standardButton(box->defaultButton());
        Press(box, press);
    };
}

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        form_ = std::make_unique<Form1>(Path("sys.!!!"));
        form_->show();
    }
    QString Path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }
    QTemporaryDir dir_;
    std::unique_ptr<Form1> form_;
};

TEST_F(FileCommands, OpenReadsTheFileAndPutsItAtTheTopOfTheRecentList) {
    const QString file = Path("in.txt");
    WriteAll(file, kTesutoSjis + "\r\nx\ry\nz");
    auto given = WhenModals({TypePath(file)});
    form_->mnuFileOpen->trigger();
    EXPECT_EQ(*given, 1);
    EXPECT_EQ(form_->Text1->Text(), QStringLiteral("テスト\r\nx\r\ny\nz\r\n"));
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), file);
    EXPECT_TRUE(form_->mnuFileName[0]->isVisible());
    EXPECT_FALSE(form_->mnuFileName[1]->isVisible());
}

TEST_F(FileCommands, OpenOfAMissingFileReportsItAndChangesNothing) {
    form_->Text1->SetText(QStringLiteral("keep"));
    const QString missing = Path("missing.txt");
    SeenBox report;
    auto given = WhenModals({TypePath(missing), Look(&report, QMessageBox::Ok)});
    form_->mnuFileOpen->trigger();
    EXPECT_EQ(*given, 2);
    EXPECT_EQ(report.text, QStringLiteral("ファイルまたはフォルダーが見つかりません。 File Name = ") + missing);
    EXPECT_EQ(report.title, QStringLiteral("Tessaly"));
    EXPECT_EQ(report.icon, QMessageBox::NoIcon);
    EXPECT_EQ(report.buttons, 1);
    EXPECT_EQ(form_->Text1->Text(), QStringLiteral("keep"));
    EXPECT_FALSE(form_->mnuFileName[0]->isVisible());
}

TEST_F(FileCommands, SaveAsToANewNameWritesAtOnceWithoutAQuestion) {
    const QString file = Path("out.ATT");
    form_->Text1->SetText(QStringLiteral("テスト"));
    auto given = WhenModals({TypePath(file)});
    form_->mnuFileSaveAs->trigger();
    EXPECT_EQ(*given, 1);
    EXPECT_EQ(ReadAll(file), kTesutoSjis + "\r\n");
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), file);
}

TEST_F(FileCommands, SaveAsOverAnExistingFileAsksFirst) {
    const QString file = Path("old.txt");
    WriteAll(file, "old");
    form_->Text1->SetText(QStringLiteral("new"));

    SeenBox question;
    auto given = WhenModals({TypePath(file), Look(&question, QMessageBox::No)});
    form_->mnuFileSaveAs->trigger();
    EXPECT_EQ(*given, 2);
    EXPECT_EQ(question.text, QStringLiteral("同一ファイル名があります。上書きしますか？"));
    EXPECT_EQ(question.title, QStringLiteral("File Save"));
    EXPECT_EQ(question.icon, QMessageBox::Warning);
    EXPECT_EQ(ReadAll(file), QByteArray("old"));
    EXPECT_FALSE(form_->mnuFileName[0]->isVisible());

    given = WhenModals({TypePath(file), Look(&question, QMessageBox::Yes)});
    form_->mnuFileSaveAs->trigger();
    EXPECT_EQ(*given, 2);
    EXPECT_EQ(ReadAll(file), QByteArray("new\r\n"));
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), file);
}

TEST_F(FileCommands, DialogsStartAtTheNewestRecentFileAndItemsOpenWithoutADialog) {
    const QString a = Path("a.txt");
    const QString b = Path("b&c.txt");
    WriteAll(a, "A");
    WriteAll(b, "B");
    form_->OpenDocument(a);
    form_->OpenDocument(b);
    EXPECT_EQ(form_->mnuFileName[0]->text(), Path("b&&c.txt"));  // '&' shown as itself
    EXPECT_EQ(form_->mnuFileName[1]->data().toString(), a);

    QString shown;
    auto given = WhenModals({TypePath(QString(), &shown)});
    form_->mnuFileOpen->trigger();
    EXPECT_EQ(*given, 1);
    EXPECT_EQ(shown, b);

    form_->mnuFileName[1]->trigger();  // a.txt, no dialog
    EXPECT_EQ(form_->Text1->Text(), QStringLiteral("A\r\n"));
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), a);
    EXPECT_EQ(form_->mnuFileName[1]->data().toString(), b);
}

TEST_F(FileCommands, RecentItemOfADeletedFileReportsAndKeepsTheList) {
    const QString gone = Path("gone.txt");
    WriteAll(gone, "x");
    form_->OpenDocument(gone);
    QFile::remove(gone);
    form_->Text1->SetText(QStringLiteral("keep"));
    SeenBox report;
    auto given = WhenModals({Look(&report, QMessageBox::Ok)});
    form_->mnuFileName[0]->trigger();
    EXPECT_EQ(*given, 1);
    EXPECT_TRUE(report.text.endsWith(QStringLiteral(" File Name = ") + gone));
    EXPECT_EQ(form_->Text1->Text(), QStringLiteral("keep"));
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), gone);
}

// The caret as an index into the edit box's Text().
qsizetype CaretIndex(const Form1& form) { return static_cast<qsizetype>(form.Text1->State().Caret()); }

// Answers with a key, for boxes whose default button matters.
Answer Key(SeenBox* seen, Qt::Key key) {
    return [seen, key](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen->text = box->text();
            seen->title = box->windowTitle();
        }
        QTest::keyClick(modal, key);
    };
}

const QString kLossyText = QStringLiteral("ok\r\nA\U0001F600B€C");  // 😀 and € are not in Shift-JIS
const QString kLossQuestion = QStringLiteral(
    "シフトJISでそのまま保存できない文字が 2 個あります。最初は 2 行目の「\U0001F600」で、"
    "「?」として保存されます。保存しますか？");

TEST_F(FileCommands, SaveAsOfCharactersShiftJisCannotHoldAsksFirst) {
    const QString file = Path("lossy.txt");
    form_->Text1->SetText(kLossyText);
    SeenBox question;
    auto given = WhenModals({TypePath(file), Look(&question, QMessageBox::No)});
    form_->mnuFileSaveAs->trigger();
    EXPECT_EQ(*given, 2);
    EXPECT_EQ(question.text, kLossQuestion);
    EXPECT_EQ(question.title, QStringLiteral("File Save"));
    EXPECT_EQ(question.icon, QMessageBox::Warning);
    EXPECT_EQ(question.buttons, 2);
    EXPECT_EQ(question.defaultButton, QMessageBox::No);
    // No: nothing written, the list as it was, the caret on the emoji.
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_FALSE(form_->mnuFileName[0]->isVisible());
    EXPECT_EQ(CaretIndex(*form_), 5);
    EXPECT_EQ(form_->Text1->Text(), kLossyText);

    // Enter and closing the box answer No as well.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        form_->Text1->SetSelection(form_->Text1->State().Length(), form_->Text1->State().Length());
        SeenBox seen;
        given = WhenModals({TypePath(file), Key(&seen, key)});
        form_->mnuFileSaveAs->trigger();
        EXPECT_EQ(*given, 2);
        EXPECT_EQ(seen.text, kLossQuestion);
        EXPECT_FALSE(QFile::exists(file)) << key;
        EXPECT_FALSE(form_->mnuFileName[0]->isVisible());
        EXPECT_EQ(CaretIndex(*form_), 5);
    }
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});

    // Yes: saved as ever, each lost character as "?".
    given = WhenModals({TypePath(file), Look(&question, QMessageBox::Yes)});
    form_->mnuFileSaveAs->trigger();
    EXPECT_EQ(*given, 2);
    EXPECT_EQ(ReadAll(file), QByteArray("ok\r\nA?B?C\r\n"));
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), file);
}

TEST_F(FileCommands, TheLossQuestionComesAfterTheOverwriteQuestion) {
    const QString file = Path("old.txt");
    WriteAll(file, "old");
    form_->Text1->SetText(QStringLiteral("\r\n\r\nx caf\u00E9 \u200B"));
    SeenBox overwrite, loss;
    auto given = WhenModals({TypePath(file), Look(&overwrite, QMessageBox::Yes), Key(&loss, Qt::Key_Return)});
    form_->mnuFileSaveAs->trigger();
    EXPECT_EQ(*given, 3);
    EXPECT_EQ(overwrite.text, QStringLiteral("同一ファイル名があります。上書きしますか？"));
    // é is written as its look-alike; an invisible character shows its code.
    EXPECT_EQ(loss.text, QStringLiteral("シフトJISでそのまま保存できない文字が 2 個あります。最初は 3 行目の「é」で、"
                                        "「e」として保存されます。保存しますか？"));
    EXPECT_EQ(ReadAll(file), QByteArray("old"));
    EXPECT_EQ(CaretIndex(*form_), 9);
}

TEST_F(FileCommands, LookAlikesAndLineBreaksAreSavedWithoutAQuestion) {
    const QString file = Path("dash.txt");
    // What Linux input methods type for ―, ∥, －, ～; CR LF; a lone CR and LF.
    form_->Text1->SetText(QStringLiteral("\u2014\u2016\u2212\u301C\r\nテスト\rx\n"));
    auto given = WhenModals({TypePath(file)});
    form_->mnuFileSaveAs->trigger();
    EXPECT_EQ(*given, 1);
    EXPECT_EQ(ReadAll(file), QByteArray("\x81\x5C\x81\x61\x81\x7C\x81\x60\r\n") + kTesutoSjis + "\rx\n\r\n");
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), file);
}

// The text of each message box that opening the file brings up (answered
// with OK).
QStringList NotesOnOpen(Form1& form, const QString& file, QMessageBox::Icon* icon = nullptr,
                        QString* title = nullptr) {
    auto notes = std::make_shared<QStringList>();
    WhenModals({[=](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        *notes << (box ? box->text() : QStringLiteral("<not a message box>"));
        if (box && icon) *icon = box->icon();
        if (box && title) *title = box->windowTitle();
        if (box && box->buttons().size() != 1) *notes << QStringLiteral("<more than OK>");
        Press(modal, QMessageBox::Ok);
    }});
    form.OpenDocument(file);
    test::StopAnswering();
    return *notes;
}

TEST_F(FileCommands, OpenSaysWhenTheBytesWillNotComeBack) {
    // The NEC-selected rows ED and EE come back as the IBM rows FA to FC.
    const QString nec = Path("nec.txt");
    WriteAll(nec, kTesutoSjis + "\r\n\xED\x40\xEE\xFC\r\n");
    QMessageBox::Icon icon = QMessageBox::Critical;
    QString title;
    EXPECT_EQ(NotesOnOpen(*form_, nec, &icon, &title),
              QStringList{QStringLiteral("このファイルには、そのまま書き戻せないバイトが 4 個あります（最初は 2 行目）。"
                                         "保存するとそれらは変わります。")});
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(title, QStringLiteral("Tessaly"));
    // Loaded exactly as ever, and listed.
    EXPECT_EQ(form_->Text1->Text(), QStringLiteral("テスト\r\n\u7E8A\uFF02\r\n"));
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), nec);

    // A UTF-8 file opened by mistake. "日本語" is E6 97 A5 E6 9C AC E8 AA 9E:
    // three pairs and two kana in Shift-JIS, and 9E, a lead byte at the end
    // of its line, which stands alone and would be written as 81 45.
    const QString mistaken = Path("utf8.txt");
    WriteAll(mistaken, QStringLiteral("UTF-8\r\n日本語\r\n").toUtf8());
    EXPECT_EQ(NotesOnOpen(*form_, mistaken),
              QStringList{QStringLiteral("このファイルには、そのまま書き戻せないバイトが 1 個あります（最初は 2 行目）。"
                                         "保存するとそれらは変わります。")});
    EXPECT_TRUE(form_->Text1->Text().endsWith(QStringLiteral("\u30FB\r\n")));
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), mistaken);

    // A clean Shift-JIS file, lone CR and a last line without its end included.
    const QString clean = Path("clean.txt");
    WriteAll(clean, kTesutoSjis + "\r\nabc\rdef");
    EXPECT_EQ(NotesOnOpen(*form_, clean), QStringList{});
    EXPECT_EQ(form_->Text1->Text(), QStringLiteral("テスト\r\nabc\r\ndef\r\n"));
}

TEST(History, IsReadAtStartAndShownInTheFileMenu) {
    QTemporaryDir dir;
    const QString history = dir.filePath(QStringLiteral("sys.!!!"));
    // Slot 1 is a gap; the second name is Shift-JIS.
    WriteAll(history, QByteArray("\"/tmp/one\"\r\n\"\"\r\n\"/tmp/") + kTesutoSjis + "\"\r\n");
    Form1 form(history);
    EXPECT_EQ(form.mnuFileName[0]->data().toString(), QStringLiteral("/tmp/one"));
    EXPECT_TRUE(form.mnuFileName[0]->isVisible());
    EXPECT_FALSE(form.mnuFileName[1]->isVisible());
    EXPECT_EQ(form.mnuFileName[2]->data().toString(), QStringLiteral("/tmp/テスト"));
    EXPECT_TRUE(form.mnuFileName[2]->isVisible());
    EXPECT_FALSE(form.mnuFileName[3]->isVisible());
}

}  // namespace
}  // namespace tessaly

namespace tessaly {
namespace {

// Every command that replaces the text can be undone with Ctrl+Z, back to
// the exact characters (lone CR and LF included), and redone.
TEST_F(FileCommands, CtrlZUndoesEachCommandExactly) {
    const QString file = Path("undo.txt");
    WriteAll(file, kTesutoSjis + "\r\nx\ry\n");
    form_->show();
    EditBox* box = form_->Text1;
    box->setFocus();
    auto ctrl = [&](Qt::Key key, Qt::KeyboardModifiers more = {}) {
        QTest::keyClick(box, key, Qt::ControlModifier | more);
    };

    // Decode, Select All, Delete, Ctrl+Z: the decoded characters, not their pictures.
    box->SetText(QStringLiteral("A%0DB%0AC"));
    form_->mnuURLDecode->trigger();
    ASSERT_EQ(box->Text(), QStringLiteral("A\rB\nC"));
    ctrl(Qt::Key_A);
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(box->Text(), QString());
    ctrl(Qt::Key_Z);
    EXPECT_EQ(box->Text(), QStringLiteral("A\rB\nC"));
    form_->mnuEncode->trigger();
    EXPECT_EQ(box->Text(), QStringLiteral("A%0DB%0AC"));
    ctrl(Qt::Key_Z);
    EXPECT_EQ(box->Text(), QStringLiteral("A\rB\nC"));
    ctrl(Qt::Key_Z);
    EXPECT_EQ(box->Text(), QStringLiteral("A%0DB%0AC"));
    ctrl(Qt::Key_Z, Qt::ShiftModifier);
    EXPECT_EQ(box->Text(), QStringLiteral("A\rB\nC"));

    // Open and a recent-file item.
    form_->OpenDocument(file);
    const QString opened = box->Text();
    EXPECT_TRUE(opened.startsWith(QStringLiteral("テスト\r\nx")));
    ctrl(Qt::Key_Z);
    EXPECT_EQ(box->Text(), QStringLiteral("A\rB\nC"));
    box->SetText(QStringLiteral("before the item"));
    form_->mnuFileName[0]->trigger();
    EXPECT_EQ(box->Text(), opened);
    ctrl(Qt::Key_Z);
    EXPECT_EQ(box->Text(), QStringLiteral("before the item"));
    ctrl(Qt::Key_Y);
    EXPECT_EQ(box->Text(), opened);
}

TEST_F(FileCommands, AFileDroppedOnTheBoxOrTheWindowIsOpened) {
    const QString file = Path("dropped file.txt");
    WriteAll(file, kTesutoSjis);
    form_->show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    for (QWidget* target : {static_cast<QWidget*>(form_->Text1->viewport()), static_cast<QWidget*>(form_.get())}) {
        form_->Text1->SetText(QStringLiteral("old"));
        const QPoint at = target == form_.get() ? QPoint(form_->width() - 5, form_->height() - 5) : QPoint(10, 10);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        EXPECT_EQ(form_->Text1->Text(), QStringLiteral("テスト\r\n"));
        EXPECT_EQ(form_->mnuFileName[0]->data().toString(), file);
    }
    // A missing file is reported as Open reports it.
    SeenBox report;
    auto given = WhenModals({Look(&report, QMessageBox::Ok)});
    QMimeData missing;
    missing.setUrls({QUrl::fromLocalFile(Path("missing.txt"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &missing, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form_.get(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &missing, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form_.get(), &drop);
    EXPECT_TRUE(report.text.endsWith(QStringLiteral(" File Name = ") + Path("missing.txt")));
    EXPECT_EQ(form_->Text1->Text(), QStringLiteral("テスト\r\n"));
}

}  // namespace
}  // namespace tessaly

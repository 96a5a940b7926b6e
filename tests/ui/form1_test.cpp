#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "modal.h"
#include "ui/edit_box.h"
#include "ui/form1.h"
#include "ui/twips.h"

namespace tessaly {
namespace {

using test::Press;
using test::WhenModal;

struct MenuEntry {
    const char* objectName;
    QString caption;
};

void ExpectMenu(QMenu* menu, const std::vector<MenuEntry>& expected) {
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].objectName);
        EXPECT_EQ(actions[i]->objectName(), QString::fromLatin1(expected[i].objectName));
        if (expected[i].caption == QStringLiteral("-")) {
            EXPECT_TRUE(actions[i]->isSeparator());
        } else {
            EXPECT_FALSE(actions[i]->isSeparator());
            EXPECT_EQ(actions[i]->text(), expected[i].caption);
        }
        EXPECT_TRUE(actions[i]->shortcut().isEmpty());
        // Qt disables hidden actions; every shown item can be chosen.
        EXPECT_TRUE(actions[i]->isEnabled() || !actions[i]->isVisible());
    }
}

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString History() const { return dir_.filePath(QStringLiteral("sys.!!!")); }
    QTemporaryDir dir_;
};

TEST_F(Form1Test, MenuTreeIsExactlyTheDesignedOne) {
    Form1 form(History());
    const QList<QAction*> bar = form.menuBar()->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(bar[1]->text(), QStringLiteral("変換(&T)"));
    ExpectMenu(form.mnuFile, {{"mnuFileOpen", QStringLiteral("ファイルを開く(&O)")},
                              {"mnuFileDummy00", QStringLiteral("-")},
                              {"mnuFileSaveAs", QStringLiteral("名前を付けて保存(&A)")},
                              {"mnuFileDummy01", QStringLiteral("-")},
                              {"mnuFileName", QString()},
                              {"mnuFileName", QString()},
                              {"mnuFileName", QString()},
                              {"mnuFileName", QString()},
                              {"mnuFileName", QString()},
                              {"mnuFileDummy02", QStringLiteral("-")},
                              {"mnuFileExit", QStringLiteral("終了(&X)")}});
    ExpectMenu(form.mnuTranslate, {{"mnuURLDecode", QStringLiteral("URLデコード(&D)")},
                                   {"mnuEncode", QStringLiteral("URLエンコード(&E)")},
                                   {"mnuTranslateDummy00", QStringLiteral("-")},
                                   {"mnuTranCheck", QStringLiteral("＆をCRLFとみなす(&C)")},
                                   {"mnuTranslateDummy01", QStringLiteral("-")},
                                   {"mnuCharset", QStringLiteral("文字コード(&K)")},
                                   {"mnuEscape", QStringLiteral("エスケープする文字(&R)")},
                                   {"mnuPlusCheck", QStringLiteral("＋を空白とみなす(&S)")}});
    for (QAction* item : form.mnuFileName) {
        EXPECT_FALSE(item->isVisible());  // no history yet
    }
    // Access keys: only the ASCII '&' marks one.
    EXPECT_EQ(QKeySequence::mnemonic(form.mnuTranCheck->text()), QKeySequence(Qt::ALT | Qt::Key_C));
    EXPECT_EQ(QKeySequence::mnemonic(form.mnuFileExit->text()), QKeySequence(Qt::ALT | Qt::Key_X));
    EXPECT_EQ(QKeySequence::mnemonic(bar[1]->text()), QKeySequence(Qt::ALT | Qt::Key_T));
    EXPECT_FALSE(form.mnuTranCheck->isChecked());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tessaly"));
}

TEST_F(Form1Test, StartsWithTheDesignedGeometry) {
    Form1 form(History());
    form.show();
    const Twips twips(&form);
    EXPECT_EQ(form.Text1Left(), twips.XFromPixels(twips.XToPixels(120)));
    EXPECT_EQ(form.Text1Top(), 0);
    EXPECT_EQ(form.centralWidget()->width(), twips.XToPixels(7725));
    EXPECT_EQ(form.centralWidget()->height(), twips.YToPixels(4920));
    EXPECT_TRUE(form.Text1->hasFocus() || !form.isActiveWindow());
}

TEST(ResizeRule, FollowsOnlyAboveBothThresholds) {
    EXPECT_FALSE(Form1::ResizeRule(1000, 5000));  // h = 100
    EXPECT_EQ(Form1::ResizeRule(1001, 5000), std::make_pair(101, 4600));
    EXPECT_FALSE(Form1::ResizeRule(9000, 500));   // w = 100
    EXPECT_EQ(Form1::ResizeRule(9000, 501), std::make_pair(8100, 101));
    EXPECT_FALSE(Form1::ResizeRule(0, 0));
}

TEST_F(Form1Test, EditBoxFollowsTheWindowAndKeepsItsSizeWhenTooSmall) {
    Form1 form(History());
    form.show();
    form.resize(600, 500);
    QApplication::processEvents();
    const Twips twips(&form);
    const QRect outer = form.frameGeometry();
    EXPECT_EQ(form.Text1->height(), twips.YToPixels(twips.YFromPixels(outer.height()) - 900));
    EXPECT_EQ(form.Text1->width(), twips.XToPixels(twips.XFromPixels(outer.width()) - 400));
    EXPECT_EQ(form.Text1->x(), twips.XToPixels(120));

    const QSize before = form.Text1->size();
    form.setMinimumSize(0, 0);
    form.resize(30, 60);  // under 1000 twips high: nothing changes
    QApplication::processEvents();
    if (twips.YFromPixels(form.frameGeometry().height()) <= 1000) {
        EXPECT_EQ(form.Text1->size(), before);
    }
}

TEST_F(Form1Test, OptionToggles) {
    Form1 form(History());
    form.mnuTranCheck->trigger();
    EXPECT_TRUE(form.mnuTranCheck->isChecked());
    form.mnuTranCheck->trigger();
    EXPECT_FALSE(form.mnuTranCheck->isChecked());
}

TEST_F(Form1Test, ConvertMenuRunsTheConversionsOnTheEditBoxWithTheOption) {
    Form1 form(History());
    form.Text1->SetText(QStringLiteral("テスト\r\nA"));
    form.mnuEncode->trigger();
    EXPECT_EQ(form.Text1->Text(), QStringLiteral("%83e%83X%83g%0D%0AA"));
    form.mnuURLDecode->trigger();
    EXPECT_EQ(form.Text1->Text(), QStringLiteral("テスト\r\nA"));

    form.mnuTranCheck->trigger();
    form.mnuEncode->trigger();
    EXPECT_EQ(form.Text1->Text(), QStringLiteral("%83e%83X%83g&A"));
    form.mnuURLDecode->trigger();
    EXPECT_EQ(form.Text1->Text(), QStringLiteral("テスト\r\nA"));
}

TEST_F(Form1Test, LoneLineFeedSurvivesDecodeAndEncode) {
    Form1 form(History());
    form.Text1->SetText(QStringLiteral("A%0AB"));
    form.mnuURLDecode->trigger();
    EXPECT_EQ(form.Text1->Text(), QStringLiteral("A\nB"));
    form.mnuEncode->trigger();
    EXPECT_EQ(form.Text1->Text(), QStringLiteral("A%0AB"));
}

TEST_F(Form1Test, ExitAnsweredNoKeepsEverythingAndWritesNothing) {
    Form1 form(History());
    form.show();
    form.Text1->SetText(QStringLiteral("unsaved"));
    form.mnuTranCheck->trigger();
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString defaultButton;
    auto ran = WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        QTest::keyClick(box, Qt::Key_Return);  // Enter takes the default: No
    });
    form.mnuFileExit->trigger();
    EXPECT_TRUE(*ran);
    EXPECT_EQ(text, QStringLiteral("終了しますか。"));
    EXPECT_EQ(title, QStringLiteral("URL Decode"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(defaultButton.contains(QStringLiteral("いいえ"))) << defaultButton.toStdString();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.Text1->Text(), QStringLiteral("unsaved"));
    EXPECT_TRUE(form.mnuTranCheck->isChecked());
    EXPECT_FALSE(QFile::exists(History()));
}

TEST_F(Form1Test, CloseAnsweredYesWritesTheHistoryAndCloses) {
    Form1 form(History());
    form.show();
    auto ran = WhenModal([](QWidget* modal) { Press(modal, QMessageBox::Yes); });
    form.close();  // the close button takes the same path as Exit
    EXPECT_TRUE(*ran);
    EXPECT_FALSE(form.isVisible());
    QFile file(History());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n"));
}

}  // namespace
}  // namespace tessaly

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "modal.h"
#include "ui/common_dialog.h"
#include "ui/loss_messages.h"
#include "ui/message_box.h"

namespace tessaly {
namespace {

using test::Press;
using test::WhenModal;

struct SeenBox {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

int ShowAndAnswer(int style, QMessageBox::StandardButton answer, SeenBox& seen) {
    auto ran = WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        seen.text = box->text();
        seen.title = box->windowTitle();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) {
            seen.buttons << box->standardButton(b);
        }
        seen.defaultButton = box->standardButton(box->defaultButton());
        Press(box, answer);
    });
    const int result = MsgBox(nullptr, QStringLiteral("本文"), style, QStringLiteral("題"));
    EXPECT_TRUE(*ran);
    return result;
}

TEST(MsgBox, StyleCodesChooseButtonsIconAndDefault) {
    SeenBox seen;
    EXPECT_EQ(ShowAndAnswer(4 + 16 + 256, QMessageBox::Yes, seen), vbYes);
    EXPECT_EQ(seen.text, QStringLiteral("本文"));
    EXPECT_EQ(seen.title, QStringLiteral("題"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons.size(), 2);
    EXPECT_TRUE(seen.buttons.contains(QMessageBox::Yes) && seen.buttons.contains(QMessageBox::No));
    EXPECT_EQ(seen.defaultButton, QMessageBox::No);

    SeenBox overwrite;
    EXPECT_EQ(ShowAndAnswer(308, QMessageBox::No, overwrite), vbNo);
    EXPECT_EQ(overwrite.icon, QMessageBox::Warning);
    EXPECT_EQ(overwrite.defaultButton, QMessageBox::No);

    SeenBox report;
    EXPECT_EQ(ShowAndAnswer(0, QMessageBox::Ok, report), vbOK);
    EXPECT_EQ(report.icon, QMessageBox::NoIcon);
    EXPECT_EQ(report.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
}

TEST(MsgBox, EscapeOnAYesNoBoxAnswersNo) {
    auto ran = WhenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(MsgBox(nullptr, QStringLiteral("?"), vbYesNo + vbDefaultButton2, QString()), vbNo);
    EXPECT_TRUE(*ran);
}

TEST(MsgBox, StandardButtonsSpeakJapanese) {
    QString yes;
    auto ran = WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        yes = box->button(QMessageBox::Yes)->text();
        Press(box, QMessageBox::No);
    });
    MsgBox(nullptr, QStringLiteral("?"), vbYesNo, QString());
    EXPECT_TRUE(*ran);
    EXPECT_TRUE(yes.contains(QStringLiteral("はい"))) << yes.toStdString();
}

TEST(LossMessages, UnseenCharactersShowTheirCodeAndLinesEndAtCrLf) {
    EXPECT_EQ(ShownCharacter(u"é"), QStringLiteral("é"));
    EXPECT_EQ(ShownCharacter(u"\U0001F600"), QStringLiteral("\U0001F600"));
    EXPECT_EQ(ShownCharacter(u"\U000E0001"), QStringLiteral("U+E0001"));  // a tag: format
    for (const auto& [c, code] : std::initializer_list<std::pair<std::u16string, const char*>>{
             {u"\u00A0", "U+00A0"}, {u"\u0301", "U+0301"}, {u"\uFEFF", "U+FEFF"}, {u"\uE000", "U+E000"},
             {u"\u0085", "U+0085"}, {u"\u2028", "U+2028"}, {u"\xDC00", "U+DC00"}, {u" ", "U+0020"}}) {
        EXPECT_EQ(ShownCharacter(c), QString::fromLatin1(code));
    }
    EXPECT_EQ(LineOfIndex(u"a\r\nb\rc\nd\r\ne", 0), 1u);
    EXPECT_EQ(LineOfIndex(u"a\r\nb\rc\nd\r\ne", 3), 2u);
    EXPECT_EQ(LineOfIndex(u"a\r\nb\rc\nd\r\ne", 8), 2u);  // a lone CR or LF ends no line
    EXPECT_EQ(LineOfIndex(u"a\r\nb\rc\nd\r\ne", 10), 3u);
}

TEST(CommonDialog, FilterStringBecomesThreeFiltersInOrder) {
    const QStringList filters = CommonDialog::NameFilters(
        QStringLiteral("ATTファイル(*.ATT)|*.ATT|Textファイル(*.txt)|*.txt|すべてのファイル(*.*)|*.*"));
    EXPECT_EQ(filters, (QStringList{QStringLiteral("ATTファイル(*.ATT)"), QStringLiteral("Textファイル(*.txt)"),
                                    QStringLiteral("すべてのファイル(*.*)")}));
    EXPECT_EQ(CommonDialog::NameFilters(QStringLiteral("Logs|*.log;*.txt")),
              QStringList{QStringLiteral("Logs (*.log *.txt)")});
}

class CommonDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        existing_ = dir_.filePath(QStringLiteral("old.txt"));
        QFile f(existing_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QTemporaryDir dir_;
    QString existing_;
};

TEST_F(CommonDialogTest, PresetsTheNameAndFirstFilterAndReturnsWhatIsTyped) {
    CommonDialog dialog(nullptr);
    dialog.CancelError = true;
    dialog.FileName = existing_;
    dialog.Filter = QStringLiteral("ATTファイル(*.ATT)|*.ATT|Textファイル(*.txt)|*.txt|すべてのファイル(*.*)|*.*");
    QString shownDir, shownName, shownFilter;
    bool asksOverwrite = true;
    const QString typed = dir_.filePath(QStringLiteral("new.ATT"));
    auto ran = WhenModal([&](QWidget* modal) {
        auto* fd = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(fd, nullptr);
        shownDir = fd->directory().absolutePath();
        shownFilter = fd->selectedNameFilter();
        asksOverwrite = !fd->testOption(QFileDialog::DontConfirmOverwrite);
        auto* edit = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        shownName = edit->text();
        edit->selectAll();
        test::TypeInto(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    ASSERT_TRUE(dialog.ShowSave());
    EXPECT_TRUE(*ran);
    EXPECT_EQ(shownDir, QDir(dir_.path()).absolutePath());
    EXPECT_EQ(shownName, QStringLiteral("old.txt"));
    EXPECT_EQ(shownFilter, QStringLiteral("ATTファイル(*.ATT)"));
    EXPECT_FALSE(asksOverwrite);
    EXPECT_EQ(dialog.FileName, typed);
}

TEST_F(CommonDialogTest, OpenAcceptsANameThatDoesNotExist) {
    CommonDialog dialog(nullptr);
    dialog.CancelError = true;
    const QString typed = dir_.filePath(QStringLiteral("missing.txt"));
    auto ran = WhenModal([&](QWidget* modal) {
        auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        test::TypeInto(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    ASSERT_TRUE(dialog.ShowOpen());
    EXPECT_TRUE(*ran);
    EXPECT_EQ(dialog.FileName, typed);
}

TEST_F(CommonDialogTest, CancelEndsWithTheCancelIndication) {
    CommonDialog dialog(nullptr);
    dialog.CancelError = true;
    dialog.FileName = existing_;
    auto ran = WhenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_FALSE(dialog.ShowOpen());
    EXPECT_TRUE(*ran);
}

}  // namespace
}  // namespace tessaly

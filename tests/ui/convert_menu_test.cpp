// The Convert menu's encodings, escape sets and "+" option: the menu items,
// the conversions they choose against the conversion core's own functions,
// the notes after a lossy encode or a decode in the wrong encoding, and undo.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <random>
#include <string>
#include <vector>

#include "codec/percent.h"
#include "codec/url.h"
#include "modal.h"
#include "ui/edit_box.h"
#include "ui/form1.h"

namespace tessaly {
namespace {

using test::StopAnswering;
using test::WhenModals;

struct Item {
    const char* objectName;
    const char* caption;  // "-" for a separator
    int accessKey;        // 0 for none
};

void ExpectItems(QMenu* menu, const std::vector<Item>& items) {
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].objectName);
        QAction* action = actions[static_cast<qsizetype>(i)];
        EXPECT_EQ(action->objectName(), QString::fromLatin1(items[i].objectName));
        EXPECT_EQ(action->isSeparator(), std::string(items[i].caption) == "-");
        if (!action->isSeparator()) {
            EXPECT_EQ(action->text(), QString::fromUtf8(items[i].caption));
            EXPECT_EQ(QKeySequence::mnemonic(action->text()), QKeySequence(Qt::ALT | items[i].accessKey));
        }
        EXPECT_TRUE(action->shortcut().isEmpty());
        EXPECT_TRUE(action->isEnabled() && action->isVisible());
    }
}

// Every box a command brings up is recorded and answered OK.
struct Notes {
    Notes() {
        std::vector<test::Answer> answers(8, [this](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                ADD_FAILURE() << "not a message box";
                modal->close();
                return;
            }
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Tessaly"));
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            EXPECT_EQ(box->buttons().size(), 1);
            texts.push_back(box->text());
            test::Press(box, QMessageBox::Ok);
        });
        WhenModals(answers);
    }
    ~Notes() { StopAnswering(); }
    std::vector<QString> texts;
};

class ConvertMenuTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString History() const { return dir_.filePath(QStringLiteral("sys.!!!")); }

    void Choose(Form1& form, Charset charset) {
        QAction* items[] = {form.mnuCharsetSjis, form.mnuCharsetUtf8, form.mnuCharsetEucJp};
        items[static_cast<int>(charset)]->trigger();
    }
    void Choose(Form1& form, EscapeSet escape) {
        QAction* items[] = {form.mnuEscapePrintable, form.mnuEscapeComponent, form.mnuEscapeForm};
        items[static_cast<int>(escape)]->trigger();
    }
    static void SetChecked(QAction* item, bool checked) {
        if (item->isChecked() != checked) item->trigger();
    }
    // Ctrl+Z in the edit box, as the user presses it.
    static void Undo(Form1& form) { QTest::keyClick(form.Text1, Qt::Key_Z, Qt::ControlModifier); }

    QTemporaryDir dir_;
};

TEST_F(ConvertMenuTest, MenuTreeOrderCaptionsAccessKeysGroupsAndStartStates) {
    Form1 form(History());
    ExpectItems(form.mnuTranslate, {{"mnuURLDecode", "URLデコード(&D)", Qt::Key_D},
                                    {"mnuEncode", "URLエンコード(&E)", Qt::Key_E},
                                    {"mnuTranslateDummy00", "-", 0},
                                    {"mnuTranCheck", "＆をCRLFとみなす(&C)", Qt::Key_C},
                                    {"mnuTranslateDummy01", "-", 0},
                                    {"mnuCharset", "文字コード(&K)", Qt::Key_K},
                                    {"mnuEscape", "エスケープする文字(&R)", Qt::Key_R},
                                    {"mnuPlusCheck", "＋を空白とみなす(&S)", Qt::Key_S}});
    EXPECT_EQ(form.mnuTranslate->actions()[5]->menu(), form.mnuCharset);
    EXPECT_EQ(form.mnuTranslate->actions()[6]->menu(), form.mnuEscape);
    EXPECT_EQ(form.mnuCharset->objectName(), QStringLiteral("mnuCharset"));
    EXPECT_EQ(form.mnuEscape->objectName(), QStringLiteral("mnuEscape"));
    ExpectItems(form.mnuCharset, {{"mnuCharsetSjis", "シフトJIS(&S)", Qt::Key_S},
                                  {"mnuCharsetUtf8", "UTF-8(&U)", Qt::Key_U},
                                  {"mnuCharsetEucJp", "EUC-JP(&J)", Qt::Key_J},
                                  {"mnuCharsetDummy00", "-", 0},
                                  {"mnuCharsetDetect", "デコード時に自動判別(&A)", Qt::Key_A}});
    ExpectItems(form.mnuEscape, {{"mnuEscapePrintable", "印字可能なASCII以外(&P)", Qt::Key_P},
                                 {"mnuEscapeComponent", "URLの部品用: 英数字と -_.!~*'() 以外(&C)", Qt::Key_C},
                                 {"mnuEscapeForm", "フォーム用: 空白は +(&F)", Qt::Key_F}});

    // Two radio groups of their own; the check items stand alone.
    const std::vector<std::vector<QAction*>> groups{
        {form.mnuCharsetSjis, form.mnuCharsetUtf8, form.mnuCharsetEucJp},
        {form.mnuEscapePrintable, form.mnuEscapeComponent, form.mnuEscapeForm}};
    for (const auto& group : groups) {
        QActionGroup* shared = group[0]->actionGroup();
        ASSERT_NE(shared, nullptr);
        EXPECT_TRUE(shared->isExclusive());
        EXPECT_EQ(shared->actions().size(), 3);
        for (QAction* item : group) {
            EXPECT_EQ(item->actionGroup(), shared);
            EXPECT_TRUE(item->isCheckable());
            EXPECT_EQ(item->isChecked(), item == group[0]);  // the first at start
        }
        // Choosing one takes the mark from the others, and choosing it
        // again keeps it.
        for (QAction* chosen : {group[2], group[1], group[1], group[0]}) {
            chosen->trigger();
            for (QAction* item : group) EXPECT_EQ(item->isChecked(), item == chosen);
        }
    }
    EXPECT_NE(groups[0][0]->actionGroup(), groups[1][0]->actionGroup());
    for (QAction* check : {form.mnuCharsetDetect, form.mnuPlusCheck}) {
        EXPECT_TRUE(check->isCheckable());
        EXPECT_EQ(check->actionGroup(), nullptr);
        EXPECT_FALSE(check->isChecked());
        check->trigger();
        EXPECT_TRUE(check->isChecked());
        check->trigger();
        EXPECT_FALSE(check->isChecked());
    }
    // A new window starts at the start states again: nothing is kept.
    form.mnuCharsetEucJp->trigger();
    form.mnuEscapeForm->trigger();
    Form1 second(History());
    EXPECT_TRUE(second.mnuCharsetSjis->isChecked());
    EXPECT_TRUE(second.mnuEscapePrintable->isChecked());
}

TEST_F(ConvertMenuTest, AltTKUChoosesUtf8ThroughTheKeyboard) {
    Form1 form(History());
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_T, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.mnuTranslate->isVisible(); }));
    QTest::keyClick(form.mnuTranslate, Qt::Key_K);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.mnuCharset->isVisible(); }));
    QTest::keyClick(form.mnuCharset, Qt::Key_U);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.mnuTranslate->isVisible(); }));
    EXPECT_TRUE(form.mnuCharsetUtf8->isChecked());
    EXPECT_FALSE(form.mnuCharsetSjis->isChecked());
}

}  // namespace
}  // namespace tessaly

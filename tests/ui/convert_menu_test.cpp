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

std::u16string U16(const QString& s) { return s.toStdU16String(); }
QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }

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

// Runs a command, answering every box it brings up; the boxes' texts.
std::vector<QString> NotesOf(QAction* command) {
    Notes notes;
    command->trigger();
    return notes.texts;
}

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

// A text with what each encoding and set treats apart: kana and kanji,
// half-width katakana, "¥" and "‾", a minus sign, characters neither Shift-JIS
// nor EUC-JP holds (a surrogate pair and "é"), a lone surrogate, the marks
// the sets differ on, "+", "%", "&", a space and line breaks.
std::u16string SampleText() {
    std::u16string text = u"テスト 東京駅\r\nｶﾀｶﾅ¥‾−é😀+%&a=b c#d/e?f~g'h(i)*j!k-l.m_n\r\n";
    text += u'\xD800';
    text += u"end";
    return text;
}

TEST_F(ConvertMenuTest, EncodeInEveryEncodingSetAndOptionIsTheCoresAndUndoesExactly) {
    Form1 form(History());
    const std::u16string text = SampleText();
    for (Charset charset : {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp}) {
        for (EscapeSet escape : {EscapeSet::kPrintable, EscapeSet::kComponent, EscapeSet::kForm}) {
            for (bool amp : {false, true}) {
                SCOPED_TRACE(::testing::Message() << int(charset) << ' ' << int(escape) << ' ' << amp);
                Choose(form, charset);
                Choose(form, escape);
                SetChecked(form.mnuTranCheck, amp);
                form.Text1->SetText(std::u16string(text));
                // Only UTF-8 and EUC-JP speak of what they could not hold.
                EXPECT_EQ(NotesOf(form.mnuEncode).size(), charset == Charset::kShiftJis ? 0u : 1u);
                const EncodeOptions options{charset, escape, amp};
                EXPECT_EQ(U16(form.Text1->Text()), EncodeUrl(text, options));
                if (charset == Charset::kShiftJis && escape == EscapeSet::kPrintable) {
                    EXPECT_EQ(U16(form.Text1->Text()), Encode(text, amp));
                }
                Undo(form);
                EXPECT_EQ(U16(form.Text1->Text()), text);
            }
        }
    }
}

// One line of the text in each encoding, and the marks "+" and "&" decide.
std::u16string EncodedLines(bool amp) {
    std::u16string text;
    for (Charset charset : {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp}) {
        text += u"q=" + EncodeUrl(u"東京都の天気予報 ｶﾅ", {charset, EscapeSet::kForm, amp}) + u"\r\n";
    }
    return text + u"a+b%2Bc&d%0D%0Ae%E3%81";
}

TEST_F(ConvertMenuTest, DecodeInEveryEncodingAndOptionIsTheCoresAndUndoesExactly) {
    Form1 form(History());
    for (Charset charset : {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp}) {
        for (int flags = 0; flags < 8; ++flags) {
            const DecodeOptions options{charset, (flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0};
            SCOPED_TRACE(::testing::Message() << int(charset) << ' ' << flags);
            const std::u16string text = EncodedLines(options.crLfAsAmp);
            Choose(form, charset);
            SetChecked(form.mnuCharsetDetect, options.detect);
            SetChecked(form.mnuPlusCheck, options.plusAsSpace);
            SetChecked(form.mnuTranCheck, options.crLfAsAmp);
            form.Text1->SetText(std::u16string(text));
            // The other two encodings' lines are mojibake in a fixed one.
            EXPECT_EQ(NotesOf(form.mnuURLDecode).size(), options.detect ? 0u : 1u);
            EXPECT_EQ(U16(form.Text1->Text()), DecodeUrl(text, options));
            if (charset == Charset::kShiftJis && !options.detect && !options.plusAsSpace) {
                EXPECT_EQ(U16(form.Text1->Text()), Decode(text, options.crLfAsAmp));
            }
            Undo(form);
            EXPECT_EQ(U16(form.Text1->Text()), text);
        }
    }
}

TEST_F(ConvertMenuTest, DetectionReadsEachLineInItsOwnEncodingWhateverTheChoice) {
    Form1 form(History());
    const std::u16string words[] = {u"東京都の天気予報", u"カタカナとひらがな", u"北海道 札幌市"};
    std::u16string text, want;
    for (int i = 0; i < 3; ++i) {
        text += u"q=" + EncodeUrl(words[i], {static_cast<Charset>(i), EscapeSet::kForm, false}) + u"&x=1\r\n";
        want += u"q=" + words[i] + u"&x=1\r\n";
    }
    form.mnuCharsetDetect->trigger();
    form.mnuPlusCheck->trigger();
    for (Charset charset : {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp}) {
        SCOPED_TRACE(int(charset));
        Choose(form, charset);
        form.Text1->SetText(std::u16string(text));
        EXPECT_TRUE(NotesOf(form.mnuURLDecode).empty());
        EXPECT_EQ(U16(form.Text1->Text()), want);
        Undo(form);
        EXPECT_EQ(U16(form.Text1->Text()), text);
    }
}

// Each case: the choices, the text, what its note says (no note when empty)
// and, where known by hand, the result.
struct NoteCase {
    Charset charset;
    EscapeSet escape;  // for Encode
    bool detect;       // for Decode
    std::u16string text;
    std::vector<const char*> says;
    std::u16string result;
};

TEST_F(ConvertMenuTest, DecodeNotesLinesAnotherEncodingReadsOnlyWithAFixedEncoding) {
    const std::u16string eucJp = u"q=" + EncodeUrl(u"東京都の天気予報", {Charset::kEucJp, EscapeSet::kPrintable, false});
    const std::u16string utf8 = u"q=%E3%83%86%E3%82%B9%E3%83%88\r\nplain\r\nq=%E6%9D%B1%E4%BA%AC";
    const NoteCase cases[] = {
        {Charset::kShiftJis, {}, false, utf8,
         {"2 行", "シフトJISでは", "行はUTF-8で", "Ctrl+Z", "「文字コード」でUTF-8を", "デコード時に自動判別"}, {}},
        {Charset::kUtf8, {}, false, eucJp, {"1 行", "UTF-8では", "行はEUC-JPで"}, {}},
        {Charset::kUtf8, {}, false, utf8, {}, u"q=テスト\r\nplain\r\nq=東京"},
        {Charset::kShiftJis, {}, true, utf8, {}, u"q=テスト\r\nplain\r\nq=東京"},
        {Charset::kShiftJis, {}, false, u"中黒・は文字%81E", {}, u"中黒・は文字・"},
        {Charset::kUtf8, {}, false, u"%81%7F", {}, {}},  // bytes no encoding reads
        {Charset::kEucJp, {}, false, u"%A5%C6%A5%B9%A5%C8 abc", {}, u"テスト abc"},
    };
    Form1 form(History());
    for (const NoteCase& c : cases) {
        SCOPED_TRACE(Q(c.text).toStdString());
        Choose(form, c.charset);
        SetChecked(form.mnuCharsetDetect, c.detect);
        form.Text1->SetText(std::u16string(c.text));
        const std::vector<QString> notes = NotesOf(form.mnuURLDecode);
        ASSERT_EQ(notes.size(), c.says.empty() ? 0u : 1u);
        for (const char* part : c.says) {
            EXPECT_TRUE(notes[0].contains(QString::fromUtf8(part))) << part << '\n' << notes[0].toStdString();
        }
        EXPECT_EQ(U16(form.Text1->Text()), DecodeUrl(c.text, {c.charset, c.detect, false, false}));
        if (!c.result.empty()) {
            EXPECT_EQ(U16(form.Text1->Text()), c.result);
        }
        Undo(form);
        EXPECT_EQ(U16(form.Text1->Text()), c.text);
    }
}

TEST_F(ConvertMenuTest, EncodeNotesCharactersUtf8OrEucJpCannotHoldAndShiftJisStaysSilent) {
    const std::u16string emoji = u"ok\r\nA😀B😀C";
    std::u16string lone = u"x";
    lone += u'\xDC00';
    const NoteCase cases[] = {
        {Charset::kShiftJis, EscapeSet::kPrintable, false, emoji, {}, u"ok%0D%0AA?B?C"},
        {Charset::kShiftJis, EscapeSet::kComponent, false, emoji, {}, u"ok%0D%0AA%3FB%3FC"},
        {Charset::kEucJp, EscapeSet::kPrintable, false, emoji,
         {"EUC-JPで", "2 個", "2 行目の「😀」", "「&#128512;」", "Ctrl+Z"}, u"ok%0D%0AA&#128512;B&#128512;C"},
        {Charset::kUtf8, EscapeSet::kPrintable, false, lone, {"UTF-8で", "1 個", "1 行目の「U+DC00」", "U+FFFD"},
         u"x%EF%BF%BD"},
        {Charset::kUtf8, EscapeSet::kPrintable, false, emoji, {}, u"ok%0D%0AA%F0%9F%98%80B%F0%9F%98%80C"},
    };
    Form1 form(History());
    for (const NoteCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.charset) << ' ' << int(c.escape));
        Choose(form, c.charset);
        Choose(form, c.escape);
        form.Text1->SetText(std::u16string(c.text));
        const std::vector<QString> notes = NotesOf(form.mnuEncode);
        ASSERT_EQ(notes.size(), c.says.empty() ? 0u : 1u);
        for (const char* part : c.says) {
            EXPECT_TRUE(notes[0].contains(QString::fromUtf8(part))) << part << '\n' << notes[0].toStdString();
        }
        EXPECT_EQ(U16(form.Text1->Text()), c.result);
        Undo(form);
        EXPECT_EQ(U16(form.Text1->Text()), c.text);
    }
}

// The memory asked before an encode covers the longest text each route can
// write: random texts of the characters that grow most.
TEST(EncodeGrowth, CoversTheLongestResultOfEveryRoute) {
    const std::u16string pool[] = {u"\xD800", u"\xDFFF", u"\xFFFF", u"\xFFFE", u"😀", u"\U0010FFFD", u"\r\n",
                                   u"&",      u"#",      u";",      u" ",      u"é", u"テ",         u"\x7F"};
    std::mt19937 random(15);
    for (Charset charset : {Charset::kShiftJis, Charset::kUtf8, Charset::kEucJp}) {
        for (EscapeSet escape : {EscapeSet::kPrintable, EscapeSet::kComponent, EscapeSet::kForm}) {
            for (bool amp : {false, true}) {
                const EncodeOptions options{charset, escape, amp};
                const Form1::EncodeGrowth growth = Form1::EncodeGrowthFor(options);
                for (int round = 0; round < 200; ++round) {
                    std::u16string text;
                    const int length = 1 + static_cast<int>(random() % 12);
                    for (int i = 0; i < length; ++i) text += pool[random() % std::size(pool)];
                    const std::u16string encoded = EncodeUrl(text, options);
                    ASSERT_LE(encoded.size(), growth.units * text.size())
                        << int(charset) << ' ' << int(escape) << ' ' << Q(encoded).toStdString();
                }
            }
        }
    }
}

}  // namespace
}  // namespace tessaly

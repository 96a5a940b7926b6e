#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <map>
#include <random>
#include <vector>

#include "ui/edit_box.h"
#include "ui/edit_box_accessible.h"

namespace tessaly {
namespace {

// Lines of words with every kind of line end, surrogate pairs and kanji.
QString MixedText(std::mt19937& rng, int length) {
    static const char16_t* const kPieces[] = {u"\r\n", u"\r", u"\n", u"\U0001F600", u"\u65E5\u672C", u" ",
                                              u"word", u"a", u"%82", u". ", u"xyz"};
    std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
    QString text;
    while (text.size() < length) {
        text += QString::fromUtf16(kPieces[pick(rng)]);
    }
    return text;
}

// Positions a caret can take: not inside a surrogate pair or a CR LF.
std::vector<int> CharStarts(const QString& text) {
    std::vector<int> starts;
    for (int i = 0; i <= text.size(); ++i) {
        const bool inPair = i > 0 && i < text.size() && text[i].isLowSurrogate() && text[i - 1].isHighSurrogate();
        const bool inCrLf = i > 0 && i < text.size() && text[i] == u'\n' && text[i - 1] == u'\r';
        if (!inPair && !inCrLf) {
            starts.push_back(i);
        }
    }
    return starts;
}

QString PlainCrLf(const QString& text) {
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
        }
        out += (text[i] == u'\r' || text[i] == u'\n') ? QStringLiteral("\r\n") : QString(text[i]);
    }
    return out;
}

struct Accessible {
    QAccessibleInterface* iface;
    QAccessibleTextInterface* text;
    QAccessibleEditableTextInterface* edit;
};

Accessible Query(EditBox& box) {
    InstallEditBoxAccessibility();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&box);
    EXPECT_NE(iface, nullptr);
    return {iface, iface ? iface->textInterface() : nullptr, iface ? iface->editableTextInterface() : nullptr};
}

TEST(EditBoxAccessible, IsAnEditableMultiLineTextOverTheBoxText) {
    EditBox box;
    box.SetText(QStringLiteral("one\r\ntwo\rthree\n\U0001F600"));
    const Accessible a = Query(box);
    ASSERT_TRUE(a.text && a.edit);
    EXPECT_EQ(a.iface->role(), QAccessible::EditableText);
    const QAccessible::State state = a.iface->state();
    EXPECT_TRUE(state.editable && state.multiLine && state.focusable && state.selectableText);
    EXPECT_FALSE(state.readOnly);
    EXPECT_EQ(a.iface->text(QAccessible::Value), box.Text());
    EXPECT_EQ(a.text->characterCount(), box.Text().size());
}

TEST(EditBoxAccessible, TextCaretAndSelectionRoundTrip) {
    std::mt19937 rng(3);
    EditBox box;
    const Accessible a = Query(box);
    ASSERT_TRUE(a.text);
    for (int round = 0; round < 30; ++round) {
        const QString text = MixedText(rng, 1 + round * 7);
        box.SetText(text);
        const std::vector<int> starts = CharStarts(text);
        std::uniform_int_distribution<size_t> pick(0, starts.size() - 1);
        for (int i = 0; i < 20; ++i) {
            const int x = starts[pick(rng)], y = starts[pick(rng)];
            ASSERT_EQ(a.text->text(std::min(x, y), std::max(x, y)), text.mid(std::min(x, y), std::abs(x - y)));
            a.text->setSelection(0, x, y);
            EXPECT_EQ(box.State().Anchor(), x);
            EXPECT_EQ(box.State().Caret(), y);
            EXPECT_EQ(a.text->cursorPosition(), y);
            EXPECT_EQ(a.text->selectionCount(), x != y ? 1 : 0);
            int s = -1, e = -1;
            a.text->selection(0, &s, &e);
            if (x != y) {
                EXPECT_EQ(s, std::min(x, y));
                EXPECT_EQ(e, std::max(x, y));
            }
            a.text->removeSelection(0);
            EXPECT_EQ(a.text->selectionCount(), 0);
            EXPECT_EQ(box.State().Caret(), y);
            a.text->setCursorPosition(x);
            EXPECT_EQ(box.State().Caret(), x);
            EXPECT_FALSE(box.State().HasSelection());
        }
        // Offsets past either end are clamped; -1 is the end.
        EXPECT_EQ(a.text->text(0, -1), text);
        EXPECT_EQ(a.text->text(-5, text.size() + 100), text);
        a.text->setCursorPosition(text.size() + 100);
        EXPECT_EQ(box.State().Caret(), text.size());
    }
}

// Each kind of unit tiles the text: walked from the start, every unit starts
// where the one before ended, and before/at/after agree with the walk.
TEST(EditBoxAccessible, TextUnitsTileTheTextAsLinesAndRowsShowIt) {
    std::mt19937 rng(5);
    EditBox box;
    box.resize(260, 600);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const Accessible a = Query(box);
    ASSERT_TRUE(a.text);
    for (int round = 0; round < 6; ++round) {
        QString text = MixedText(rng, 300 + round * 50) + QString(80, u'w');  // a line that wraps
        box.SetText(text);
        const int length = text.size();
        for (const auto type : {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
                                QAccessible::LineBoundary, QAccessible::ParagraphBoundary}) {
            SCOPED_TRACE(testing::Message() << "round " << round << " boundary " << int(type));
            std::map<int, std::pair<int, int>> unitOf;
            int pos = 0, rows = 0;
            while (pos < length) {
                int s, e;
                const QString unit = a.text->textAtOffset(pos, type, &s, &e);
                ASSERT_EQ(s, pos);
                ASSERT_GT(e, s);
                ASSERT_EQ(unit, text.mid(s, e - s));
                int bs, be;
                a.text->textBeforeOffset(e, type, &bs, &be);
                EXPECT_TRUE(e == length || (bs == s && be == e));
                if (s > 0) {
                    a.text->textAfterOffset(s - 1, type, &bs, &be);
                    EXPECT_EQ(bs, s);
                    EXPECT_EQ(be, e);
                }
                for (int i = s; i < e; ++i) {
                    unitOf[i] = {s, e};
                }
                const QString body = unit.endsWith(u"\r\n") ? unit.chopped(2) : unit;
                if (type == QAccessible::ParagraphBoundary) {
                    EXPECT_FALSE(body.contains(u"\r\n"));
                    EXPECT_TRUE(e == length || unit.endsWith(u"\r\n"));
                } else if (type == QAccessible::CharBoundary) {
                    EXPECT_TRUE(unit.size() == 1 || unit == u"\r\n" || unit[0].isHighSurrogate());
                } else if (type == QAccessible::LineBoundary) {
                    // One row of the box: every character of it shows at the same height.
                    EXPECT_FALSE(body.contains(u"\r\n"));
                    for (int i = s; i < s + body.size(); ++i) {
                        if (text[i].isLowSurrogate()) {
                            continue;
                        }
                        EXPECT_EQ(a.text->characterRect(i).top(), a.text->characterRect(s).top()) << i;
                    }
                    ++rows;
                } else {
                    EXPECT_FALSE(body.contains(u"\r\n"));
                }
                pos = e;
            }
            if (type == QAccessible::LineBoundary) {
                EXPECT_GT(rows, int(text.count(u"\r\n")) + 1);  // the long line wraps
            }
            std::uniform_int_distribution<int> pick(0, length - 1);
            for (int i = 0; i < 50; ++i) {
                const int offset = pick(rng);
                int s, e;
                a.text->textAtOffset(offset, type, &s, &e);
                EXPECT_EQ(std::make_pair(s, e), unitOf[offset]) << offset;
            }
            int s, e;
            EXPECT_TRUE(a.text->textAtOffset(length, type, &s, &e).isEmpty());
            EXPECT_EQ(s, length);
            EXPECT_TRUE(a.text->textAfterOffset(length, type, &s, &e).isEmpty());
            EXPECT_TRUE(a.text->textBeforeOffset(0, type, &s, &e).isEmpty());
            EXPECT_EQ(a.text->textAtOffset(length + 1, type, &s, &e), QString());
            EXPECT_EQ(s, -1);
        }
    }
}

TEST(EditBoxAccessible, CharacterRectanglesAndOffsetsAtPointsAgree) {
    std::mt19937 rng(9);
    EditBox box;
    box.resize(300, 560);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const Accessible a = Query(box);
    ASSERT_TRUE(a.text);
    for (int round = 0; round < 5; ++round) {
        const QString text = MixedText(rng, 200) + QString(40, u'm');
        box.SetText(text);
        const std::vector<int> starts = CharStarts(text);
        const QRect viewport(box.viewport()->mapToGlobal(QPoint(0, 0)), box.viewport()->size());
        for (int pos : starts) {
            if (pos == text.size()) {
                continue;
            }
            const QRect rect = a.text->characterRect(pos);
            SCOPED_TRACE(testing::Message() << "round " << round << " pos " << pos << " rect " << rect.x() << ","
                                            << rect.y() << " " << rect.width() << "x" << rect.height());
            ASSERT_TRUE(viewport.contains(rect.center()));
            const QPointF inViewport = box.viewport()->mapFromGlobal(rect.center());
            EXPECT_TRUE(box.CharacterRect(pos).contains(inViewport));
            EXPECT_EQ(a.text->offsetAtPoint(rect.center()), pos);
        }
    }
}

TEST(EditBoxAccessible, EditsChangeTheExactTextAndAreUndoable) {
    std::mt19937 rng(13);
    EditBox box;
    const Accessible a = Query(box);
    ASSERT_TRUE(a.edit);
    QString text = MixedText(rng, 60);
    box.SetText(text);
    std::vector<QString> before;
    for (int step = 0; step < 40; ++step) {
        const std::vector<int> starts = CharStarts(text);
        std::uniform_int_distribution<size_t> pick(0, starts.size() - 1);
        int from = starts[pick(rng)], to = starts[pick(rng)];
        if (from > to) {
            std::swap(from, to);
        }
        const QString insert = MixedText(rng, int(rng() % 6));
        const QString old = text;
        const std::size_t steps = box.MutableState().History().UndoCount();
        switch (step % 3) {
        case 0:
            a.edit->insertText(from, insert);
            text.insert(from, PlainCrLf(insert));
            break;
        case 1:
            if (from == to) {
                to = starts.back();
            }
            a.edit->deleteText(from, to);
            text.remove(from, to - from);
            break;
        default:
            a.edit->replaceText(from, to, insert);
            text.replace(from, to - from, PlainCrLf(insert));
            break;
        }
        if (box.MutableState().History().UndoCount() > steps) {
            before.push_back(old);
        }
        ASSERT_EQ(box.Text(), text) << "step " << step;
    }
    // Half a surrogate pair or a CR LF is never removed or split.
    box.SetText(QStringLiteral("a\U0001F600b\r\nc"));
    a.edit->deleteText(2, 5);
    EXPECT_EQ(box.Text(), QStringLiteral("ac"));
    box.Undo();
    a.edit->insertText(5, QStringLiteral("x"));
    EXPECT_EQ(box.Text(), QStringLiteral("a\U0001F600bx\r\nc"));
    box.Undo();
    box.Undo();
    while (!before.empty()) {
        ASSERT_TRUE(box.Undo());
        ASSERT_EQ(box.Text(), before.back()) << before.size();
        before.pop_back();
    }
}

struct SeenEvent {
    QAccessible::Event type = QAccessible::InvalidEvent;
    int position = -1;
    QString removed, inserted;
    int cursor = -1;
    int selectionStart = -1, selectionEnd = -1;
};

std::vector<SeenEvent> seen;
QObject* watched = nullptr;

void Record(QAccessibleEvent* event) {
    if (event->object() != watched) {
        return;
    }
    SeenEvent e;
    e.type = event->type();
    switch (event->type()) {
    case QAccessible::TextInserted: {
        auto* ev = static_cast<QAccessibleTextInsertEvent*>(event);
        e.position = ev->changePosition();
        e.inserted = ev->textInserted();
        break;
    }
    case QAccessible::TextRemoved: {
        auto* ev = static_cast<QAccessibleTextRemoveEvent*>(event);
        e.position = ev->changePosition();
        e.removed = ev->textRemoved();
        break;
    }
    case QAccessible::TextUpdated: {
        auto* ev = static_cast<QAccessibleTextUpdateEvent*>(event);
        e.position = ev->changePosition();
        e.removed = ev->textRemoved();
        e.inserted = ev->textInserted();
        break;
    }
    case QAccessible::TextSelectionChanged: {
        auto* ev = static_cast<QAccessibleTextSelectionEvent*>(event);
        e.selectionStart = ev->selectionStart();
        e.selectionEnd = ev->selectionEnd();
        e.cursor = ev->cursorPosition();
        break;
    }
    case QAccessible::TextCaretMoved:
        e.cursor = static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition();
        break;
    default:
        return;
    }
    seen.push_back(e);
}

std::vector<SeenEvent> Take() { return std::exchange(seen, {}); }

const SeenEvent* Find(const std::vector<SeenEvent>& events, QAccessible::Event type) {
    for (const SeenEvent& e : events) {
        if (e.type == type) {
            return &e;
        }
    }
    return nullptr;
}

TEST(EditBoxAccessible, ChangesAndCaretMovesAreAnnouncedWithSmallTexts) {
    EditBox box;
    struct Recording {
        explicit Recording(QObject* object) {
            watched = object;
            SetEditBoxAccessibleEventSink(Record);
        }
        ~Recording() {
            SetEditBoxAccessibleEventSink(nullptr);
            QAccessible::installUpdateHandler(nullptr);
            watched = nullptr;
            seen.clear();
        }
    } recording(&box);
    const Accessible a = Query(box);
    ASSERT_TRUE(a.edit);

    box.SetText(QStringLiteral("hello world"));
    auto events = Take();
    const SeenEvent* e = Find(events, QAccessible::TextInserted);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->position, 0);
    EXPECT_EQ(e->inserted, QStringLiteral("hello world"));

    box.SetSelection(6, 11);
    events = Take();
    ASSERT_NE(e = Find(events, QAccessible::TextSelectionChanged), nullptr);
    EXPECT_EQ(std::make_pair(e->selectionStart, e->selectionEnd), std::make_pair(6, 11));
    ASSERT_NE(e = Find(events, QAccessible::TextCaretMoved), nullptr);
    EXPECT_EQ(e->cursor, 11);

    a.edit->replaceText(6, 11, QStringLiteral("there\n"));
    events = Take();
    ASSERT_NE(e = Find(events, QAccessible::TextUpdated), nullptr);
    EXPECT_EQ(e->position, 6);
    EXPECT_EQ(e->removed, QStringLiteral("world"));  // the removed text itself
    EXPECT_EQ(e->inserted, QStringLiteral("there\r\n"));
    ASSERT_NE(e = Find(events, QAccessible::TextCaretMoved), nullptr);
    EXPECT_EQ(e->cursor, box.State().Caret());
    ASSERT_NE(e = Find(events, QAccessible::TextSelectionChanged), nullptr);  // the selection went

    a.edit->deleteText(0, 6);
    events = Take();
    ASSERT_NE(e = Find(events, QAccessible::TextRemoved), nullptr);
    EXPECT_EQ(e->position, 0);
    EXPECT_EQ(e->removed, QStringLiteral("hello "));

    box.Undo();
    events = Take();
    ASSERT_NE(e = Find(events, QAccessible::TextInserted), nullptr);
    EXPECT_EQ(e->position, 0);
    EXPECT_EQ(e->inserted, QStringLiteral("hello "));

    // A large change is announced without its text; a removal far from the
    // selection keeps its length.
    const QString big(EditBoxAccessible::kEventTextLimit * 3, u'x');
    box.SetText(big);
    events = Take();
    ASSERT_NE(e = Find(events, QAccessible::TextUpdated), nullptr);
    EXPECT_EQ(e->position, 0);
    EXPECT_TRUE(e->inserted.isEmpty() && e->removed.isEmpty());
    EXPECT_EQ(Find(events, QAccessible::TextInserted), nullptr);
    box.SetSelection(0, 0);
    Take();
    box.ReplaceRange(big.size() - 10, big.size(), QString());
    events = Take();
    ASSERT_NE(e = Find(events, QAccessible::TextRemoved), nullptr);
    EXPECT_EQ(e->position, big.size() - 10);
    EXPECT_EQ(e->removed.size(), 10);

    // Without a listener nothing is sent (Qt's own accessibility is not
    // active offscreen).
    SetEditBoxAccessibleEventSink(nullptr);
    QAccessible::installUpdateHandler(Record);
    box.ReplaceRange(0, 1, QStringLiteral("y"));
    EXPECT_TRUE(Take().empty());
}

}  // namespace
}  // namespace tessaly

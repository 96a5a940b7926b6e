#include "ui/edit_keys.h"

#include <QKeySequence>

namespace tessaly {
namespace {

using C = EditCommand;
constexpr int kAnyModifiers = -1;

// A standard key of the platform, or a key with exactly these modifiers
// (Keypad ignored; kAnyModifiers: whatever they are). The first match wins.
struct Binding {
    QKeySequence::StandardKey standard;
    int key;
    int modifiers;
    EditCommand command;
    bool extend;
};

constexpr int Ctrl = Qt::ControlModifier;
constexpr int Shift = Qt::ShiftModifier;
using K = QKeySequence;

const Binding kBindings[] = {
    // Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo on every platform, besides
    // what the platform's key bindings say.
    {K::Undo, 0, 0, C::Undo, false},
    {K::UnknownKey, Qt::Key_Z, Ctrl, C::Undo, false},
    {K::Redo, 0, 0, C::Redo, false},
    {K::UnknownKey, Qt::Key_Y, Ctrl, C::Redo, false},
    {K::UnknownKey, Qt::Key_Z, Ctrl | Shift, C::Redo, false},
    {K::Copy, 0, 0, C::Copy, false},
    {K::UnknownKey, Qt::Key_Insert, Ctrl, C::Copy, false},
    {K::Cut, 0, 0, C::Cut, false},
    {K::UnknownKey, Qt::Key_Delete, Shift, C::Cut, false},
    {K::Paste, 0, 0, C::Paste, false},
    {K::UnknownKey, Qt::Key_Insert, Shift, C::Paste, false},
    {K::SelectAll, 0, 0, C::SelectAll, false},
    {K::MoveToNextChar, 0, 0, C::NextChar, false},
    {K::MoveToPreviousChar, 0, 0, C::PreviousChar, false},
    {K::SelectNextChar, 0, 0, C::NextChar, true},
    {K::SelectPreviousChar, 0, 0, C::PreviousChar, true},
    {K::MoveToNextWord, 0, 0, C::NextWord, false},
    {K::MoveToPreviousWord, 0, 0, C::PreviousWord, false},
    {K::SelectNextWord, 0, 0, C::NextWord, true},
    {K::SelectPreviousWord, 0, 0, C::PreviousWord, true},
    {K::MoveToNextLine, 0, 0, C::NextRow, false},
    {K::MoveToPreviousLine, 0, 0, C::PreviousRow, false},
    {K::SelectNextLine, 0, 0, C::NextRow, true},
    {K::SelectPreviousLine, 0, 0, C::PreviousRow, true},
    {K::MoveToNextPage, 0, 0, C::NextPage, false},
    {K::MoveToPreviousPage, 0, 0, C::PreviousPage, false},
    {K::SelectNextPage, 0, 0, C::NextPage, true},
    {K::SelectPreviousPage, 0, 0, C::PreviousPage, true},
    {K::MoveToStartOfLine, 0, 0, C::RowStart, false},
    {K::MoveToEndOfLine, 0, 0, C::RowEnd, false},
    {K::SelectStartOfLine, 0, 0, C::RowStart, true},
    {K::SelectEndOfLine, 0, 0, C::RowEnd, true},
    {K::MoveToStartOfBlock, 0, 0, C::LineStart, false},
    {K::MoveToEndOfBlock, 0, 0, C::LineEnd, false},
    {K::SelectStartOfBlock, 0, 0, C::LineStart, true},
    {K::SelectEndOfBlock, 0, 0, C::LineEnd, true},
    {K::MoveToStartOfDocument, 0, 0, C::TextStart, false},
    {K::MoveToEndOfDocument, 0, 0, C::TextEnd, false},
    {K::SelectStartOfDocument, 0, 0, C::TextStart, true},
    {K::SelectEndOfDocument, 0, 0, C::TextEnd, true},
    {K::DeleteStartOfWord, 0, 0, C::DeleteStartOfWord, false},
    {K::DeleteEndOfWord, 0, 0, C::DeleteEndOfWord, false},
    {K::DeleteEndOfLine, 0, 0, C::DeleteEndOfLine, false},
    {K::DeleteCompleteLine, 0, 0, C::DeleteLine, false},
    {K::InsertParagraphSeparator, 0, 0, C::NewLine, false},
    {K::InsertLineSeparator, 0, 0, C::NewLine, false},
    {K::UnknownKey, Qt::Key_Return, kAnyModifiers, C::NewLine, false},
    {K::UnknownKey, Qt::Key_Enter, kAnyModifiers, C::NewLine, false},
    {K::UnknownKey, Qt::Key_Backspace, 0, C::Backspace, false},
    {K::UnknownKey, Qt::Key_Backspace, Shift, C::Backspace, false},
    {K::Delete, 0, 0, C::Delete, false},
    // Tab is a character here, not a focus move.
    {K::UnknownKey, Qt::Key_Tab, 0, C::Tab, false},
    {K::UnknownKey, Qt::Key_Tab, Shift, C::Tab, false},
};

bool IsTyping(const QKeyEvent* e) {
    const QString text = e->text();
    if (text.isEmpty()) return false;
    const Qt::KeyboardModifiers mods = e->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (mods != Qt::NoModifier && mods != (Qt::ControlModifier | Qt::AltModifier)) return false;
    const QChar c = text.at(0);
    return c.isPrint() || c == QLatin1Char('\t') || c.isSurrogate();
}

}  // namespace

KeyAction ActionForKey(const QKeyEvent* e) {
    const int mods = static_cast<int>(e->modifiers() & ~Qt::KeypadModifier);
    for (const Binding& b : kBindings) {
        const bool match = b.standard != K::UnknownKey
                               ? e->matches(b.standard)
                               : e->key() == b.key && (b.modifiers == kAnyModifiers || mods == b.modifiers);
        if (match) return {b.command, b.extend};
    }
    if (IsTyping(e)) return {C::Type, false};
    return {};
}

}  // namespace tessaly

// The keys the edit box handles: one table, read both when the window asks
// whether a key is the box's (ShortcutOverride) and when the key is pressed.
#pragma once

#include <QKeyEvent>

namespace tessaly {

enum class EditCommand {
    None,
    Undo, Redo, Copy, Cut, Paste, SelectAll,
    NextChar, PreviousChar, NextWord, PreviousWord, NextRow, PreviousRow, NextPage, PreviousPage,
    RowStart, RowEnd, LineStart, LineEnd, TextStart, TextEnd,
    DeleteStartOfWord, DeleteEndOfWord, DeleteEndOfLine, DeleteLine, Backspace, Delete,
    NewLine, Tab, Type,
};

struct KeyAction {
    EditCommand command = EditCommand::None;
    bool extend = false;  // Shift extends the selection
};

// What a key does in the box; None for keys it leaves to others.
KeyAction ActionForKey(const QKeyEvent* event);

}  // namespace tessaly

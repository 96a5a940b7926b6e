// Modal message boxes that take the classic style codes: buttons + icon +
// default button, added together (4 + 16 + 256 = Yes/No, stop icon, No default).
#pragma once

#include <QString>

class QWidget;

namespace tessaly {

enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbAbortRetryIgnore = 2,
    vbYesNoCancel = 3,
    vbYesNo = 4,
    vbRetryCancel = 5,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
    vbDefaultButton1 = 0,
    vbDefaultButton2 = 256,
    vbDefaultButton3 = 512,
};

enum MsgBoxResult : int {
    vbOK = 1,
    vbCancel = 2,
    vbAbort = 3,
    vbRetry = 4,
    vbIgnore = 5,
    vbYes = 6,
    vbNo = 7,
};

// Shows the box and waits; returns the button pressed. Closing the box
// without a button gives the answer of its escape button.
int MsgBox(QWidget* parent, const QString& prompt, int style, const QString& title);

// Gives the keyboard back to the window once a modal box or dialog is gone,
// also where no window manager does it.
void ReturnFocus(QWidget* parent);

}  // namespace tessaly

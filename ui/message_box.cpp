#include "ui/message_box.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <vector>

namespace tessaly {
namespace {

struct ButtonChoice {
    QMessageBox::StandardButton button;
    int result;
};

std::vector<ButtonChoice> ButtonsFor(int style) {
    switch (style & 0x7) {
    case vbOKCancel: return {{QMessageBox::Ok, vbOK}, {QMessageBox::Cancel, vbCancel}};
    case vbAbortRetryIgnore:
        return {{QMessageBox::Abort, vbAbort}, {QMessageBox::Retry, vbRetry}, {QMessageBox::Ignore, vbIgnore}};
    case vbYesNoCancel:
        return {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}, {QMessageBox::Cancel, vbCancel}};
    case vbYesNo: return {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}};
    case vbRetryCancel: return {{QMessageBox::Retry, vbRetry}, {QMessageBox::Cancel, vbCancel}};
    default: return {{QMessageBox::Ok, vbOK}};
    }
}

QMessageBox::Icon IconFor(int style) {
    switch (style & 0x70) {
    case vbCritical: return QMessageBox::Critical;
    case vbQuestion: return QMessageBox::Question;
    case vbExclamation: return QMessageBox::Warning;
    case vbInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

}  // namespace

void ReturnFocus(QWidget* parent) {
    if (parent && parent->isVisible()) {
        parent->window()->activateWindow();
    }
}

int MsgBox(QWidget* parent, const QString& prompt, int style, const QString& title) {
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(prompt);
    box.setTextFormat(Qt::PlainText);
    box.setIcon(IconFor(style));
    const std::vector<ButtonChoice> choices = ButtonsFor(style);
    for (const ButtonChoice& choice : choices) {
        box.addButton(choice.button);
    }
    const size_t defaultIndex = static_cast<size_t>((style >> 8) & 0x3);
    if (defaultIndex < choices.size()) {
        box.setDefaultButton(choices[defaultIndex].button);
    }
    box.exec();
    ReturnFocus(parent);
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    for (const ButtonChoice& choice : choices) {
        if (choice.button == pressed) {
            return choice.result;
        }
    }
    return choices.back().result;
}

}  // namespace tessaly

// Answers the modal windows (message boxes, file dialogs) that a command
// brings up, one after the other, the way a person would: by looking at each
// and pressing its buttons or keys.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace tessaly::test {

using Answer = std::function<void(QWidget*)>;

// Calls each answer in turn on the next modal window that comes up; each
// answer must close its window. Returns the number of answers given so far.
inline std::shared_ptr<int> WhenModals(std::vector<Answer> answers) {
    auto given = std::make_shared<int>(0);
    auto last = std::make_shared<QPointer<QWidget>>();
    auto* timer = new QTimer(qApp);
    timer->setObjectName(QStringLiteral("modalAnswerer"));
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, given, last, answers] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || (modal == last->data())) {
            return;
        }
        *last = modal;
        const int index = (*given)++;
        if (index + 1 >= static_cast<int>(answers.size())) {
            timer->stop();
            timer->deleteLater();
        }
        answers[index](modal);
    });
    timer->start();
    return given;
}

// Withdraws every answer not given yet, so that none outlives the test (or
// the scope) whose variables it refers to.
inline void StopAnswering() {
    const auto timers = qApp->findChildren<QTimer*>(QStringLiteral("modalAnswerer"), Qt::FindDirectChildrenOnly);
    for (QTimer* timer : timers) delete timer;
}

// One answer; the flag tells whether it was given.
inline std::shared_ptr<bool> WhenModal(Answer answer) {
    auto ran = std::make_shared<bool>(false);
    WhenModals({[ran, answer](QWidget* modal) {
        *ran = true;
        answer(modal);
    }});
    return ran;
}

// Types text a key at a time and lets the program react between keys, as a
// person's typing does (the file dialog reworks its name box as it changes).
inline void TypeInto(QWidget* widget, const QString& text) {
    QTest::keyClicks(widget, text, Qt::NoModifier, 2);
}

// Presses the message box's button of the given kind.
inline void Press(QWidget* modal, QMessageBox::StandardButton which) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box && box->button(which)) {
        box->button(which)->click();
    } else {
        modal->close();
    }
}

}  // namespace tessaly::test

// Answering the message boxes and dialogs that window tests open: each
// answer waits for the next modal window and presses one of its buttons.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace morix::testing {

// Answers the next modal dialog or message box by pressing one of its
// buttons, after check has looked at it.
inline void AnswerNextDialog(const QString& buttonText, std::function<void()> check = {}) {
    QTimer::singleShot(50, [buttonText, check] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            AnswerNextDialog(buttonText, check);
            return;
        }
        if (check) check();
        for (QPushButton* button : modal->findChildren<QPushButton*>()) {
            if (button->text().remove('&') == buttonText) {
                button->click();
                return;
            }
        }
        QFAIL(qPrintable("no button " + buttonText));
    });
}

}  // namespace morix::testing

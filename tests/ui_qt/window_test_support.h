// What the window tests share: answering the dialogs a command opens and
// reading the preview list.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include "engine/text.h"
#include "ui/qt/batch_rename_dialog.h"

namespace morix::testing {

// Answers the next modal dialog or message box by pressing one of its buttons.
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

// For the second dialog of a command: waits until the first has gone.
inline void AnswerNextDialogLater(const QString& buttonText, std::function<void()> check = {}) {
    QTimer::singleShot(400, [buttonText, check] { AnswerNextDialog(buttonText, check); });
}

inline QString Cell(const ui::CBatchRenameDlg& dialog, int row, int column) {
    return dialog.PreviewList()->model()->index(row, column).data().toString();
}

inline std::u16string U16(const std::string& path) {
    return DecodeFileName(path);
}

}  // namespace morix::testing

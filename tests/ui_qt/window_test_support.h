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
#include "support/modal_answers.h"
#include "ui/qt/batch_rename_dialog.h"

namespace morix::testing {

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

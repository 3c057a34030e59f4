// The window's undo of a rename: the completion dialog's Undo button and
// Ctrl+Z in the main window, both taking back a kept run as --undo does.
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>

#include "base/run_history.h"
#include "engine/text.h"
#include "ui/qt/batch_rename_dialog.h"
#include "ui/qt/qt_text.h"

namespace morix::ui {

bool CBatchRenameDlg::UndoRun(std::uint64_t id) {
    PreparedUndo undo = PrepareUndo(id);
    QString text;
    QStringList details;
    switch (undo.status) {
        case UndoStatus::kReady: {
            RenameRun& run = undo.ready->run;
            if (!run.Start()) {
                text = tr("Unable to rename the file.");
                break;
            }
            FollowRun(run);
            if (run.Outcome() == RenameOutcome::kRenamed) {
                if (const std::string error = ConcludeUndo(undo); !error.empty()) {
                    QMessageBox warning(QMessageBox::Warning, tr("Trelvo Renamer"),
                                        tr("The files are back under their old names, but the "
                                           "rename could not be marked as undone."),
                                        QMessageBox::Ok, this);
                    warning.setDetailedText(QString::fromStdString(error));
                    warning.exec();
                }
                RefreshPreview();
                return true;
            }
            text = run.Outcome() == RenameOutcome::kTargetExists
                       ? tr("There is already a file with the same name in this location.")
                       : tr("The rename could not be undone; every file is where it was before "
                            "the undo.");
            details << FailureDetails(run, undo.ready->journal);
            break;
        }
        case UndoStatus::kNothingToUndo:
        case UndoStatus::kUnknownRun:
            text = tr("There is no rename to undo.");
            break;
        case UndoStatus::kAlreadyUndone:
            text = tr("This rename was already undone.");
            break;
        case UndoStatus::kBusy:
            text = tr("This rename is being undone by another program.");
            break;
        case UndoStatus::kDamaged:
            text = tr("The record of this rename is damaged. Nothing was changed.");
            details << QString::fromStdString(undo.problem);
            break;
        case UndoStatus::kNewerRun:
            text = tr("A newer rename (number %1) changed some of the same files; undo it first. "
                      "Nothing was changed.")
                       .arg(undo.newerId);
            break;
        case UndoStatus::kFilesChanged:
            text = tr("Some files were changed since the rename. Nothing was changed.");
            for (const ChangedFile& changed : undo.changed)
                details << ToQString(DecodeFileName(DescribeChange(changed)));
            break;
        case UndoStatus::kCannotStart:
            text = tr("Unable to rename the file.");
            details << QString::fromStdString(undo.problem);
            break;
    }
    QMessageBox box(QMessageBox::Critical, tr("Trelvo Renamer"), text, QMessageBox::Ok, this);
    details.removeAll(QString());
    if (!details.isEmpty()) box.setDetailedText(details.join(QLatin1Char('\n')));
    box.exec();
    return false;
}

void CBatchRenameDlg::UndoLastRename() {
    if (renameCommand_ || TemplateCombo()->hasFocus() ||
        (TemplateCombo()->lineEdit() != nullptr && TemplateCombo()->lineEdit()->hasFocus())) {
        return;
    }
    std::string error;
    const std::vector<HistoryEntry> history = ReadRunHistory(error);
    const HistoryEntry* latest = nullptr;
    for (const HistoryEntry& entry : history) {
        if (!entry.run.undone) {
            latest = &entry;
            break;
        }
    }
    if (latest == nullptr) {
        QMessageBox box(QMessageBox::Information, tr("Trelvo Renamer"),
                        tr("There is no rename to undo."), QMessageBox::Ok, this);
        if (!error.empty()) box.setDetailedText(QString::fromStdString(error));
        box.exec();
        return;
    }
    // A damaged record has no files or folder to name: the undo says why not.
    if (latest->damage.empty()) {
        QString folder = ToQString(DecodeFileName(latest->folders.front()));
        if (latest->folders.size() > 1)
            folder = tr("%1 and %2 other folders").arg(folder).arg(latest->folders.size() - 1);
        const QString question =
            tr("Undo the last rename? %1 files in %2 go back to their old names.")
                .arg(latest->files)
                .arg(folder);
        if (QMessageBox::question(this, tr("Trelvo Renamer"), question,
                                  QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::No) != QMessageBox::Yes) {
            return;
        }
    }
    UndoRun(latest->run.id);
    if (closeHeld_) {
        closeHeld_ = false;
        EndForCloseRequest();
    }
}

}  // namespace morix::ui

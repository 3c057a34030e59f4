#include "ui/qt/recovery_message.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

#include <cstring>

#include "base/run_journal_folder.h"
#include "engine/text.h"
#include "ui/qt/qt_text.h"

namespace morix::ui {
namespace {

// Files listed by name in the message; the rest are counted.
constexpr std::size_t kListedFiles = 20;

QString Tr(const char* text) {
    return QCoreApplication::translate("morix::ui::RecoveryMessage", text);
}

QString PathText(const std::string& bytes) {
    return ToQString(DecodeFileName(bytes));
}

}  // namespace

void ShowRecoveryReport(const RecoveryReport& report, QWidget* parent) {
    if (report.runs.empty() && report.folderError == 0) return;
    QStringList parts;
    std::size_t returned = 0;
    bool trouble = report.folderError != 0;
    if (trouble) {
        parts << Tr("The journals of interrupted renames in %1 cannot be read (%2). A rename "
                    "that was cut short cannot be rolled back now; the next start tries again.")
                     .arg(PathText(RunJournalFolder()),
                          QString::fromLocal8Bit(std::strerror(report.folderError)));
    }
    for (const RecoveredRun& run : report.runs) {
        if (!run.damage.empty()) {
            trouble = true;
            parts << Tr("The journal %1 of an interrupted rename cannot be read (%2). No file was "
                        "touched. It is kept until you have checked the files it names and "
                        "removed it.")
                         .arg(PathText(run.journalPath), QString::fromStdString(run.damage));
            continue;
        }
        if (run.accessError != 0) {
            trouble = true;
            parts << Tr("The journal %1 of an interrupted rename cannot be opened or read now "
                        "(%2). No file was touched; the next start tries again.")
                         .arg(PathText(run.journalPath),
                              QString::fromLocal8Bit(std::strerror(run.accessError)));
            continue;
        }
        returned += run.returned;
        if (run.Complete()) continue;
        trouble = true;
        QStringList files;
        for (std::size_t i = 0; i < run.unreturned.size() && i < kListedFiles; ++i) {
            const UnreturnedFile& file = run.unreturned[i];
            QString line = PathText(file.oldPath);
            if (!file.at.empty()) line += Tr(" (now %1)").arg(PathText(file.at));
            if (file.error != 0)
                line += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(file.error));
            files << line;
        }
        if (run.unreturned.size() > kListedFiles)
            files << Tr("... and %1 more").arg(run.unreturned.size() - kListedFiles);
        parts << Tr("An interrupted rename could not be rolled back completely. These files are "
                    "not under their old names:\n%1\nIts journal is kept at %2; the next start "
                    "tries again.")
                     .arg(files.join(QLatin1Char('\n')), PathText(run.journalPath));
    }
    if (returned > 0) {
        parts.prepend(Tr("An interrupted rename has been rolled back. Files returned to their old "
                         "names: %1.")
                          .arg(returned));
    }
    const QString title =
        QCoreApplication::translate("morix::ui::CBatchRenameDlg", "Trelvo Renamer");
    const QString text = parts.join(QStringLiteral("\n\n"));
    if (trouble) {
        QMessageBox::warning(parent, title, text);
    } else {
        QMessageBox::information(parent, title, text);
    }
}

}  // namespace morix::ui

#include "ui/qt/main_window_entry.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "base/run_journal_folder.h"
#include "base/settings_file.h"
#include "base/settings_store.h"
#include "ui/qt/batch_rename_dialog.h"
#include "ui/qt/program_icon.h"
#include "ui/qt/recovery_message.h"
#include "update/process_launch.h"
#include "update/update_checker.h"

namespace morix::ui {

int RunMainWindow(int& argc, char** argv, const std::vector<StartPath>& paths,
                  const HandOverReceiver& receiver) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Trelvo Renamer"));
    QApplication::setApplicationVersion(QStringLiteral("1.8.0.0"));
    QApplication::setWindowIcon(ProgramIcon());
    QGuiApplication::setDesktopFileName(QLatin1String(kDesktopEntryName));

    // Qt's own dialog texts in the user's language.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }
    // The program's own texts: Korean when the user interface is Korean, else
    // the English source texts.
    QTranslator translator;
    if (UiLanguageCode() == u"ko" && translator.load(QStringLiteral(":/i18n/morix_ko.qm"))) {
        QApplication::installTranslator(&translator);
    }

    // Files of a rename run that was cut short go back to their old names
    // before anything is listed.
    ShowRecoveryReport(RecoverInterruptedRuns());

    SettingsStore settings(std::make_unique<FileSettingsBackend>(DefaultSettingsFilePath()));
    int result = 0;
    {
        CBatchRenameDlg dialog(&settings);
        dialog.AddStartPaths(paths);
        // Later starts hand over only once the own paths are in the list, so
        // the list keeps the order in which the paths were given.
        const std::unique_ptr<QObject> handOver = receiver ? receiver(dialog) : nullptr;
        dialog.show();
        result = dialog.exec() == QDialog::Accepted ? 1 : 2;
    }  // the window's version check has ended here
    // After the window has closed, the notice of the last version answer (if
    // any) goes to the popup notifier, which runs on its own.
    LaunchNotice(GlobalNoticeInfo(), kNoticeTitle, settings, GetHelperFolder());
    return result;
}

}  // namespace morix::ui

#include "ui/qt/main_window_entry.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/settings/settings_file.h"
#include "app/settings/settings_store.h"
#include "ui/qt/batch_rename_dialog.h"

namespace morix::ui {

int RunMainWindow(int& argc, char** argv, const std::vector<StartPath>& paths) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Trelvo Renamer"));
    QApplication::setApplicationVersion(QStringLiteral("1.8.0.0"));

    // Qt's own dialog texts in the user's language.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }

    SettingsStore settings(std::make_unique<FileSettingsBackend>(DefaultSettingsFilePath()));
    CBatchRenameDlg dialog(&settings);
    for (const StartPath& start : paths) {
        if (start.isFolder) {
            dialog.AddFolder(start.path);
        } else {
            dialog.AddPaths({start.path});
        }
    }
    dialog.show();
    dialog.exec();
    return 0;
}

}  // namespace morix::ui

// The main window's presets: a menu on the "Presets" button that applies a
// saved preset, saves the current options as one, and renames or deletes one.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "base/presets.h"
#include "engine/rename_options.h"

class QMenu;
class QPushButton;
class QWidget;

namespace morix::ui {

class PresetMenu : public QObject {
    Q_OBJECT

  public:
    // current gives the window's options as they stand; apply shows a
    // preset's options in the window.
    PresetMenu(QPushButton* button, PresetFile file, std::function<RenameOptions()> current,
               std::function<void(const RenameOptions&)> apply);

    // The commands, public so tests can drive them without the menu and its
    // questions. Each reports a failure in a message box and returns
    // whether it succeeded.
    bool Apply(const QString& name);
    bool Save(const QString& name);
    bool Rename(const QString& from, const QString& to);
    bool Delete(const QString& name);
    // The names of the saved presets, in the file's order.
    QStringList Names();

    QMenu* Menu() const { return menu_; }

  private:
    // Reads the file, telling the user once about lines it cannot read.
    PresetBook Load();
    void Fill();
    void AskAndSave();
    void AskAndRename(const QString& from);
    void AskAndDelete(const QString& name);
    bool Report(PresetResult result, const QString& name);

    QWidget* window_;
    QMenu* menu_;
    PresetFile file_;
    std::function<RenameOptions()> current_;
    std::function<void(const RenameOptions&)> apply_;
    bool damageReported_ = false;
};

}  // namespace morix::ui

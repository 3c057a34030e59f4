#include "ui/qt/preset_menu.h"

#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "ui/qt/qt_text.h"

namespace morix::ui {

PresetMenu::PresetMenu(QPushButton* button, PresetFile file, std::function<RenameOptions()> current,
                       std::function<void(const RenameOptions&)> apply)
    : QObject(button),
      window_(button->window()),
      menu_(new QMenu(button)),
      file_(std::move(file)),
      current_(std::move(current)),
      apply_(std::move(apply)) {
    button->setMenu(menu_);
    // Filled as it opens, so presets saved by another window show too.
    connect(menu_, &QMenu::aboutToShow, this, &PresetMenu::Fill);
}

PresetBook PresetMenu::Load() {
    PresetBook book = file_.Load();
    const QString path = QString::fromStdString(file_.path());
    if (!book.readable) {
        QMessageBox::warning(window_, tr("Trelvo Renamer"),
                             tr("The presets file %1 cannot be read.").arg(path));
    } else if (!book.damaged.empty() && !damageReported_) {
        damageReported_ = true;
        QStringList lines;
        for (const PresetBook::DamagedLine& line : book.damaged)
            lines << QString::number(line.number);
        QMessageBox::warning(window_, tr("Trelvo Renamer"),
                             tr("Some lines of the presets file %1 cannot be read (lines %2). "
                                "They are left out, and kept in the file as comments.")
                                 .arg(path, lines.join(QStringLiteral(", "))));
    }
    return book;
}

QStringList PresetMenu::Names() {
    QStringList names;
    for (const Preset& preset : Load().presets)
        names << ToQString(preset.name);
    return names;
}

void PresetMenu::Fill() {
    menu_->clear();
    const QStringList names = Names();
    for (const QString& name : names) {
        // A name is shown as it is, never as a shortcut mark.
        QString shown = name;
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        menu_->addAction(shown, this, [this, name] { Apply(name); });
    }
    if (!names.isEmpty()) menu_->addSeparator();
    menu_->addAction(tr("&Save Current Options as Preset..."), this, &PresetMenu::AskAndSave);
    QMenu* rename = menu_->addMenu(tr("&Rename Preset"));
    QMenu* remove = menu_->addMenu(tr("&Delete Preset"));
    rename->setEnabled(!names.isEmpty());
    remove->setEnabled(!names.isEmpty());
    for (const QString& name : names) {
        QString shown = name;
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        rename->addAction(shown, this, [this, name] { AskAndRename(name); });
        remove->addAction(shown, this, [this, name] { AskAndDelete(name); });
    }
}

bool PresetMenu::Apply(const QString& name) {
    const PresetBook book = Load();
    const Preset* preset = FindPreset(book, ToU16(name));
    if (preset == nullptr) return Report(PresetResult::kNotFound, name);
    apply_(preset->options);
    return true;
}

bool PresetMenu::Save(const QString& name) {
    return Report(file_.Save(ToU16(name.trimmed()), current_()), name.trimmed());
}

bool PresetMenu::Rename(const QString& from, const QString& to) {
    return Report(file_.Rename(ToU16(from), ToU16(to.trimmed())), to.trimmed());
}

bool PresetMenu::Delete(const QString& name) {
    return Report(file_.Delete(ToU16(name)), name);
}

void PresetMenu::AskAndSave() {
    bool ok = false;
    const QString name = QInputDialog::getText(window_, tr("Trelvo Renamer"), tr("Preset name:"),
                                               QLineEdit::Normal, QString(), &ok)
                             .trimmed();
    if (!ok || name.isEmpty()) return;
    if (Names().contains(name) &&
        QMessageBox::question(window_, tr("Trelvo Renamer"),
                              tr("There is already a preset named %1. Replace it?").arg(name),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    Save(name);
}

void PresetMenu::AskAndRename(const QString& from) {
    bool ok = false;
    const QString to = QInputDialog::getText(window_, tr("Trelvo Renamer"), tr("Preset name:"),
                                             QLineEdit::Normal, from, &ok);
    if (ok && !to.trimmed().isEmpty()) Rename(from, to);
}

void PresetMenu::AskAndDelete(const QString& name) {
    if (QMessageBox::question(window_, tr("Trelvo Renamer"), tr("Delete the preset %1?").arg(name),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes) {
        Delete(name);
    }
}

bool PresetMenu::Report(PresetResult result, const QString& name) {
    QString text;
    switch (result) {
        case PresetResult::kDone:
            return true;
        case PresetResult::kNotFound:
            text = tr("There is no preset named %1.").arg(name);
            break;
        case PresetResult::kNameTaken:
            text = tr("There is already a preset named %1.").arg(name);
            break;
        case PresetResult::kEmptyName:
            text = tr("A preset needs a name.");
            break;
        case PresetResult::kNotWritten:
            text = tr("The presets file %1 cannot be written.")
                       .arg(QString::fromStdString(file_.path()));
            break;
    }
    QMessageBox::critical(window_, tr("Trelvo Renamer"), text);
    return false;
}

}  // namespace morix::ui

// Keeps the caret and selection of the template field when the focus comes
// and goes, so a token picked elsewhere lands exactly where the user left the
// caret (or replaces what was selected).
#pragma once

#include <QObject>

class QLineEdit;

namespace morix::ui {

class CMyComboBoxEdit : public QObject {
    Q_OBJECT

  public:
    // Watches edit; the object is owned by edit.
    explicit CMyComboBoxEdit(QLineEdit* edit);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* edit_;
};

}  // namespace morix::ui

#include "ui/qt/combo_box_edit.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>

namespace morix::ui {

CMyComboBoxEdit::CMyComboBoxEdit(QLineEdit* edit) : QObject(edit), edit_(edit) {
    edit_->installEventFilter(this);
    // A combo box hands its own focus changes straight to its field, past the
    // field's filters: watch the combo box too.
    if (QWidget* combo = edit_->parentWidget()) combo->installEventFilter(this);
}

bool CMyComboBoxEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FocusIn && event->type() != QEvent::FocusOut) return false;
    auto* target = qobject_cast<QWidget*>(watched);
    if (target == nullptr) return false;
    // Save the selection, let the widget handle the focus change (which would
    // select everything or drop the selection), then put the selection back.
    const int cursor = edit_->cursorPosition();
    const bool selected = edit_->hasSelectedText();
    const int start = selected ? edit_->selectionStart() : cursor;
    const int length = selected ? static_cast<int>(edit_->selectedText().size()) : 0;
    target->removeEventFilter(this);
    QCoreApplication::sendEvent(target, event);
    target->installEventFilter(this);
    if (length == 0) {
        edit_->deselect();
        edit_->setCursorPosition(cursor);
    } else if (cursor == start) {
        edit_->setSelection(start + length, -length);  // caret at the front
    } else {
        edit_->setSelection(start, length);
    }
    return true;
}

}  // namespace morix::ui

#include "ui/qt/window_input_guard.h"

#include <QApplication>
#include <QEvent>

namespace morix::ui {
namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

}  // namespace

WindowInputGuard::WindowInputGuard(QWidget& window) : window_(&window) {
    qApp->installEventFilter(this);
}

WindowInputGuard::~WindowInputGuard() {
    qApp->removeEventFilter(this);
}

bool WindowInputGuard::eventFilter(QObject* watched, QEvent* event) {
    if (!IsUserInput(event->type()) || !watched->isWidgetType() || window_ == nullptr) return false;
    // Only the window and its controls: a dialog it owns is a window of its own.
    if (static_cast<QWidget*>(watched)->window() != window_) return false;
    event->ignore();
    if (event->type() == QEvent::ShortcutOverride) event->accept();  // no shortcut fires
    return true;
}

}  // namespace morix::ui

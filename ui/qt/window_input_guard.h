// Keeps the user's input away from a window while a long operation runs,
// without drawing the window disabled: a disabled window greys out every
// control, and the dialogs it owns with them. Mouse, keyboard, wheel, drops
// and close requests aimed at the window or its controls are dropped; other
// windows, the operation's own dialog among them, take input as usual.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace morix::ui {

class WindowInputGuard : public QObject {
  public:
    explicit WindowInputGuard(QWidget& window);
    ~WindowInputGuard() override;
    WindowInputGuard(const WindowInputGuard&) = delete;
    WindowInputGuard& operator=(const WindowInputGuard&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QWidget> window_;
};

}  // namespace morix::ui

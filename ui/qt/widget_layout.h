// The layout entry for one widget: its place is the widget's geometry in its
// parent.
#pragma once

#include <QWidget>

#include "ui/logic/layout_manager.h"

namespace morix::ui {

inline Rect ToRect(const QRect& r) {
    return Rect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

class CWndLayout : public CLayout {
  public:
    CWndLayout(QWidget* widget, std::uint16_t anchors, std::uint16_t mode)
        : CLayout(ToRect(widget->geometry()), anchors, mode), widget_(widget) {}

    Rect GetBounds() const override { return ToRect(widget_->geometry()); }
    void MoveTo(const Rect& r) override {
        widget_->setGeometry(r.left, r.top, r.Width(), r.Height());
    }

  private:
    QWidget* widget_;
};

}  // namespace morix::ui

// Dialog geometry is written in dialog units: a quarter of the font's average
// character width across, an eighth of its height down, so the windows scale
// with the user's font.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QString>

namespace morix::ui {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const QString letters =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        charWidth_ = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
        charHeight_ = metrics.height();
    }

    int X(int units) const { return (units * charWidth_ + 2) / 4; }
    int Y(int units) const { return (units * charHeight_ + 4) / 8; }
    QRect Rect(int x, int y, int width, int height) const {
        return QRect(X(x), Y(y), X(width), Y(height));
    }

  private:
    int charWidth_ = 6;
    int charHeight_ = 13;
};

}  // namespace morix::ui

// Dialog units to pixels, from the dialog font's own metrics: a horizontal
// unit is a quarter of the font's average character width, a vertical unit
// an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>

namespace ui::detail {

class DialogUnits {
public:
    DialogUnits(int base_x, int base_y) : base_x_(base_x), base_y_(base_y) {}
    // Average width of the 52 letters A-Z a-z, rounded; height of the font.
    static DialogUnits FromFont(const QFont& font);

    int BaseX() const { return base_x_; }
    int BaseY() const { return base_y_; }
    int X(int dlu) const { return Scale(dlu, base_x_, 4); }
    int Y(int dlu) const { return Scale(dlu, base_y_, 8); }
    QRect Rect(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }

private:
    // value * numerator / denominator, rounded to the nearest integer.
    static int Scale(int value, int numerator, int denominator);

    int base_x_;
    int base_y_;
};

}  // namespace ui::detail

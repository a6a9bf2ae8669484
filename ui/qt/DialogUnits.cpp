#include "ui/qt/DialogUnits.h"

#include <QFontMetrics>
#include <QString>
#include <cstdlib>

namespace ui::detail {

DialogUnits DialogUnits::FromFont(const QFont& font) {
    const QFontMetrics metrics(font);
    static const QString kLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int total = metrics.horizontalAdvance(kLetters);
    // The rounded average of 52 letters: (total / 26 + 1) / 2.
    const int base_x = (total / 26 + 1) / 2;
    return DialogUnits(base_x > 0 ? base_x : 1, metrics.height() > 0 ? metrics.height() : 1);
}

int DialogUnits::Scale(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    const long long rounded = product >= 0 ? (product + half) / denominator
                                           : -((-product + half) / denominator);
    return static_cast<int>(rounded);
}

}  // namespace ui::detail

// The windows' text is UTF-8 std::string; the toolkit's is QString.
#pragma once

#include <QString>
#include <string>

namespace ui::detail {

inline QString ToQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQt(const QString& text) {
    return text.toUtf8().toStdString();
}

// A label's caption as shown: "&&" is a literal '&', a single '&' marks a
// mnemonic and is not drawn.
QString StripMnemonics(const QString& text);

}  // namespace ui::detail

// Engine text (UTF-16 code units) to and from Qt strings, unit for unit, so
// the escapes that stand for bytes of names that are not UTF-8 survive.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace morix::ui {

inline QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

inline std::u16string ToU16(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

}  // namespace morix::ui

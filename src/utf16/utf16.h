// QString and the standard library's UTF-16 text: both hold UTF-16 code units, so
// the libraries below Qt work on the same text without conversion.
#pragma once

#include <QString>
#include <string_view>

namespace kelmo {

// The QString's code units; valid while the QString lives unchanged.
inline std::u16string_view View(const QString& text) {
  return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}
inline std::u16string_view View(QStringView text) {
  return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

QString ToQString(std::u16string_view text);

}  // namespace kelmo

#include "utf16/utf16.h"

namespace kelmo {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace kelmo

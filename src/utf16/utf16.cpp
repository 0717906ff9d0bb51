#include "utf16/utf16.h"

namespace kelmo {

// Copied unit for unit: QString::fromUtf16() would take a U+FEFF at the start for a byte
// order mark and drop it, and a body may begin with one.
QString ToQString(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

}  // namespace kelmo

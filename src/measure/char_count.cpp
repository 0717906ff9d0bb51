#include "measure/char_count.h"

namespace kelmo {

std::int64_t CharacterCount(std::u16string_view body) {
  std::int64_t count = 0;
  char16_t previous = 0;
  for (const char16_t unit : body) {
    const bool lineEnd = unit == u'\r' || (unit == u'\n' && previous == u'\r');
    if (!lineEnd) ++count;
    previous = unit;
  }
  return count;
}

}  // namespace kelmo

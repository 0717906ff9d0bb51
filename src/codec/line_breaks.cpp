#include "codec/line_breaks.h"

namespace kelmo {

std::u16string WithCrLf(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      out += u"\r\n";
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::u16string WithoutLineBreaks(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    const bool lineBreak = c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\u0085' ||
                           c == u'\u2028' || c == u'\u2029';
    if (!lineBreak) out += c;
  }
  return out;
}

}  // namespace kelmo

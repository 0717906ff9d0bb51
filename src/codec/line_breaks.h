// The one form line breaks take wherever text is written, sent or measured: CR LF.
#pragma once

#include <string>
#include <string_view>

namespace kelmo {

// The characters the body's editor takes for a line break besides CR and LF: the line and
// paragraph separators U+2028 and U+2029, and its frame marks U+FDD0 and U+FDD1. The
// body is written and sent with CR LF for each.
inline constexpr bool IsEditorLineBreak(char32_t c) {
  return c == U'\u2028' || c == U'\u2029' || c == U'\uFDD0' || c == U'\uFDD1';
}

// What a single-line field holds of a text: the text without its line breaks (CR, LF,
// VT, FF, NEL, U+2028, U+2029), which a paste from a spreadsheet cell or a terminal brings.
std::u16string WithoutLineBreaks(std::u16string_view text);

// The text with every line break (LF, CR LF or a lone CR) as CR LF.
std::u16string WithCrLf(std::u16string_view text);

}  // namespace kelmo

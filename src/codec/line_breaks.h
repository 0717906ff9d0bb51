// The one form line breaks take wherever text is written, sent or measured: CR LF.
#pragma once

#include <string>
#include <string_view>

namespace kelmo {

// The text with every line break (LF, CR LF or a lone CR) as CR LF.
std::u16string WithCrLf(std::u16string_view text);

}  // namespace kelmo

// The scratch file character mode keeps the body in, for whoever reads it.
#pragma once

#include <string>
#include <string_view>

namespace kelmo {

inline constexpr std::string_view kScratchFileName = "temp.tmp";

// The file's bytes: an empty line, then the body, each ending in CR LF, in code page 932.
std::string ScratchFileBytes(std::u16string_view body);

}  // namespace kelmo

// The character-mode count and the scratch file it is checked through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelmo {

// Characters of the body as they come back from the scratch file line by line:
// every CR and every LF directly after a CR counts 0, any other code unit 1
// (a lone LF, and a character outside code page 932, which comes back as '?').
std::int64_t CharacterCount(std::u16string_view body);

// The scratch file's bytes: an empty line, then the body, each ending in CR LF.
std::string ScratchFileBytes(std::u16string_view body);

}  // namespace kelmo

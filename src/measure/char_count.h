// The character-mode count.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelmo {

// Characters of the body as they come back from the scratch file line by line:
// every CR and every LF directly after a CR counts 0, any other code unit 1
// (a lone LF, and a character outside code page 932, which comes back as '?').
std::int64_t CharacterCount(std::u16string_view body);

}  // namespace kelmo

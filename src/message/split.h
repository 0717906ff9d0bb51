// A message past the whole-message limit as several mails that each fit: each part's body
// starts with "(n/N)" and a line break, then its share of the body. No widgets involved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "error/expected.h"
#include "measure/tariff.h"

namespace kelmo {

inline constexpr std::size_t kMostParts = 99;

struct MessagePart {
  // The body as sent: the marker, CR LF and the share; a message that fits is its one part,
  // without a marker.
  std::u16string body;
  // The share: the units [shareBegin, shareEnd) of the body split. Between one share's
  // end and the next one's beginning lies nothing, or the line break the cut was made at.
  std::size_t shareBegin = 0;
  std::size_t shareEnd = 0;
  // The part's message total as the counter shows it (MessageTotal).
  std::int64_t total = 0;
};

// Why splitting cannot help.
enum class SplitProblem {
  kAddressTooLong,  // the own address alone is past its limit, in every part
  kSubjectTooLong,  // so is the subject
  kTooManyParts,    // more than kMostParts
  kNoRoom,          // a part has no room for a single character (a limit far below the service's)
};

// "(n/N)", the marker a part's body starts with before its line break.
std::u16string PartMarker(std::size_t number, std::size_t count);

// The body (line breaks as CR LF, as the window sends it) with the own address and the
// subject, as the fewest parts that each fit every limit by the window's measure. The cuts
// never fall inside a surrogate pair, a CR LF, or a character with the marks, variation
// selectors, skin tones or ZWJ-joined characters after it (unless one such cluster alone is
// longer than a part). Where the fewest parts allow, a cut falls at a line break (which
// is then dropped) taking a share to at least three quarters of the part's room; else
// after 。．！？!?｡ in that last quarter; else after 、､ there; else as late as fits.
// `messageLimit` is the service's unless a test asks for a smaller one.
Expected<std::vector<MessagePart>, SplitProblem> SplitMessage(
    std::u16string_view body, std::u16string_view own, std::u16string_view subject,
    std::int64_t messageLimit = kTariff.messageLimit);

}  // namespace kelmo

// The mail service's limits, the message total and the window title they select.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "measure/tariff.h"

namespace kelmo {

// Bytes of the whole message: the body, the own address and the subject as counted, and
// the tariff's fixed bytes.
inline constexpr std::int64_t MessageTotal(std::int64_t bodyCount, std::int64_t addressCount,
                                           std::int64_t subjectCount) {
  return bodyCount + addressCount + subjectCount + kTariff.fixedBytes;
}

enum class Title { kPlain, kAddressTooLong, kSubjectTooLong, kMessageTooLong };

// The title for the counts and the number the counter shows. When several limits are
// broken the whole message wins over the subject, the subject over the address.
Title ChooseTitle(std::int64_t addressCount, std::int64_t subjectCount, std::int64_t counter);

// What byte mode shows for a message: the own address's and the subject's counts, the
// total the counter shows and the title, for a body that counts `bodyCount`.
struct ByteModeCount {
  std::int64_t addressCount = 0;  // LenMbcs of the own address
  std::int64_t subjectCount = 0;  // LenMbcsRuns of the subject
  std::int64_t total = 0;
  Title title = Title::kPlain;
};
ByteModeCount CountInByteMode(std::int64_t bodyCount, std::u16string_view own,
                              std::u16string_view subject);

// Which limits a message is past: the own address's, the subject's, the whole message's.
struct PastLimits {
  bool address = false;
  bool subject = false;
  bool message = false;
  friend bool operator==(const PastLimits&, const PastLimits&) = default;
};

enum class Limit { kAddress, kSubject, kMessage };

// A limit passed (`over`) or come back within.
struct Crossing {
  Limit limit;
  bool over;
  friend bool operator==(const Crossing&, const Crossing&) = default;
};

// The limits crossed from `before` to `after`, the whole message first, then the subject,
// then the address: the order of the title's warnings.
std::vector<Crossing> Crossings(PastLimits before, PastLimits after);

// The window title's text. The warnings separate their words with U+3000, except
// the ordinary space before the address warning's last word.
std::u16string_view TitleText(Title title);
// The title after the program's name: the warning with the separator before it, or
// nothing for the plain title.
std::u16string_view WarningText(Title title);

}  // namespace kelmo

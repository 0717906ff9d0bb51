// The mail service's limits, the message total and the window title they select.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kelmo {

// Past these the service stores the message on its server instead of delivering it.
inline constexpr std::int64_t kAddressLimit = 55;
inline constexpr std::int64_t kSubjectLimit = 40;
inline constexpr std::int64_t kMessageLimit = 384;

// Bytes every message carries besides its fields: headers (49) and the terminator (2).
inline constexpr std::int64_t kHeaderBytes = 49;
inline constexpr std::int64_t kTerminatorBytes = 2;

inline constexpr std::int64_t MessageTotal(std::int64_t bodyCount, std::int64_t addressCount,
                                           std::int64_t subjectCount) {
  return bodyCount + addressCount + subjectCount + kHeaderBytes + kTerminatorBytes;
}

enum class Title { Plain, AddressTooLong, SubjectTooLong, MessageTooLong };

// The title for the counters and the number the counter label shows. When several
// limits are broken the whole message wins over the subject, the subject over the address.
Title ChooseTitle(std::int64_t addressCount, std::int64_t subjectCount, std::int64_t labelNumber);

// What byte mode shows for a message: the own address's and the subject's counts, the
// total the counter shows and the title, for a body that counts `bodyCount`.
struct ByteModeCount {
  std::int64_t addressCount = 0;  // LenMbcs of the own address
  std::int64_t subjectCount = 0;  // LenMbcsRuns of the subject
  std::int64_t total = 0;
  Title title = Title::Plain;
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

enum class Limit { Address, Subject, Message };

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

// The mail service's tariff: what it charges beyond the bytes of the text, and where it
// stops delivering. Another service's numbers go here and nowhere else.
#pragma once

#include <cstdint>

namespace kelmo {

struct Tariff {
  // Past these the service stores the message on its server instead of delivering it.
  std::int64_t addressLimit;  // bytes of the own address
  std::int64_t subjectLimit;  // bytes of the subject, runs charged
  std::int64_t messageLimit;  // bytes of the whole message
  // Extra bytes for every run of double-byte characters.
  std::int64_t runCharge;
  // Bytes every message carries besides its fields: headers (49) and the terminator (2).
  std::int64_t fixedBytes;
};

inline constexpr Tariff kTariff{
    .addressLimit = 55,
    .subjectLimit = 40,
    .messageLimit = 384,
    .runCharge = 6,
    .fixedBytes = 49 + 2,
};

}  // namespace kelmo

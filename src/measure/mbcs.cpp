#include "measure/mbcs.h"

#include <bit>
#include <cstring>

#include "measure/codec.h"

namespace kelmo {
namespace {

constexpr std::size_t kBlock = 64;  // one bit per code unit in a 64-bit mask

bool AllAscii(const char16_t* p) {
  // Reading through memcpy keeps this portable; compilers turn it into vector loads.
  std::uint64_t acc = 0;
  for (std::size_t k = 0; k < kBlock; k += 4) {
    std::uint64_t four;
    std::memcpy(&four, p + k, sizeof four);
    acc |= four;
  }
  return (acc & 0xFF80FF80FF80FF80u) == 0;
}

std::uint64_t DoubleByteMask(const Cp932Widths& widths, const char16_t* p, std::size_t n) {
  std::uint64_t mask = 0;
  for (std::size_t k = 0; k < n; ++k) {
    mask |= std::uint64_t{widths.IsDoubleByte(p[k])} << k;
  }
  return mask;
}

}  // namespace

MbcsSize MeasureMbcs(std::u16string_view text) {
  const Cp932Widths& widths = Cp932WidthTable();
  const char16_t* p = text.data();
  const std::size_t n = text.size();
  std::int64_t doubles = 0;
  std::int64_t runs = 0;
  std::uint64_t carry = 0;  // 1 when the unit before the block was double-byte

  auto account = [&](std::uint64_t mask, std::size_t len) {
    doubles += std::popcount(mask);
    // A run starts at a double-byte unit whose predecessor is single-byte.
    runs += std::popcount(mask & ~((mask << 1) | carry));
    carry = (mask >> (len - 1)) & 1u;
  };

  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    if (AllAscii(p + i)) {
      carry = 0;
      continue;
    }
    account(DoubleByteMask(widths, p + i, kBlock), kBlock);
  }
  if (i < n) account(DoubleByteMask(widths, p + i, n - i), n - i);

  return {static_cast<std::int64_t>(n) + doubles, runs};
}

}  // namespace kelmo

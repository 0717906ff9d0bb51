#include "measure/mbcs.h"

#include <bit>
#include <cstring>

#include "codec/codec.h"
#include "measure/kernels.h"

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): bit and byte positions in 64-bit words
namespace {

constexpr std::size_t kBlock = kMbcsBlock;  // one bit per code unit in a 64-bit mask

std::uint64_t Load4(const char16_t* p) {
  std::uint64_t four;
  std::memcpy(&four, p, sizeof four);  // portable; compiles to one load
  return four;
}

bool AllAscii(const char16_t* p) {
  std::uint64_t acc = 0;
  for (std::size_t k = 0; k < kBlock; k += 4) acc |= Load4(p + k);
  return (acc & 0xFF80FF80FF80FF80u) == 0;
}

// Bits 0..7 of the result are the lowest bits of bytes 0..7 of x (each byte 0 or 1).
std::uint64_t PackBytes(std::uint64_t x) { return (x * 0x0102040810204080u) >> 56; }

// Double-byte mask of eight code units, read four at a time, with no branch and no
// store: the table lookups are the only per-unit memory accesses.
std::uint64_t DoubleByteMask8(const Cp932Widths& widths, const char16_t* p) {
  std::uint64_t bytes = 0;
  for (std::ptrdiff_t half = 0; half < 2; ++half) {
    const std::uint64_t four = Load4(p + 4 * half);
    for (int k = 0; k < 4; ++k) {
      // Unit k of the four sits at the low end of the word on a little-endian CPU only.
      const int shift = std::endian::native == std::endian::little ? 16 * k : 16 * (3 - k);
      const auto unit = static_cast<char16_t>(four >> shift);
      bytes |= std::uint64_t{widths.IsDoubleByte(unit)} << (8 * (4 * half + k));
    }
  }
  return PackBytes(bytes);
}

std::uint64_t DoubleByteMask(const Cp932Widths& widths, const char16_t* p) {
  std::uint64_t mask = 0;
  for (std::size_t j = 0; j < kBlock / 8; ++j)
    mask |= DoubleByteMask8(widths, p + 8 * j) << (8 * j);
  return mask;
}

std::uint64_t DoubleByteMaskTail(const Cp932Widths& widths, const char16_t* p, std::size_t n) {
  std::uint64_t mask = 0;
  for (std::size_t k = 0; k < n; ++k) mask |= std::uint64_t{widths.IsDoubleByte(p[k])} << k;
  return mask;
}

}  // namespace

std::uint64_t DoubleByteMaskScalar(const char16_t* p, std::size_t n) {
  return n == kBlock ? DoubleByteMask(Cp932WidthTable(), p)
                     : DoubleByteMaskTail(Cp932WidthTable(), p, n);
}

// The window's measure keeps the table: on the Zen 4 it was measured on, gathering from the
// bitmap was no faster, and slower while other programs ran (see the README).
MbcsSize MeasureMbcs(std::u16string_view text) { return MeasureMbcs(text, Kernel::kScalar); }

MbcsSize MeasureMbcs(std::u16string_view text, [[maybe_unused]] Kernel kernel) {
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
    // The tables are built on first use, so ASCII alone never needs them.
#if defined(__x86_64__)
    if (kernel == Kernel::kAvx2) {
      account(DoubleByteMaskAvx2(p + i, Cp932DoubleByteBits()), kBlock);
      continue;
    }
#endif
    account(DoubleByteMask(Cp932WidthTable(), p + i), kBlock);
  }
  if (i < n) account(DoubleByteMaskTail(Cp932WidthTable(), p + i, n - i), n - i);

  return {static_cast<std::int64_t>(n) + doubles, runs};
}

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

#include "measure/kernels.h"

#include <array>

#include "codec/codec.h"
#include "measure/ascii_blocks.h"

namespace kelmo {

std::vector<Kernel> AvailableKernels() {
  std::vector<Kernel> kernels = {Kernel::kScalar};
#if defined(__x86_64__)
  if (__builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt")) {
    kernels.push_back(Kernel::kSsse3);
  }
  if (HasAvx2()) kernels.push_back(Kernel::kAvx2);
#endif
  return kernels;
}

Kernel FastestKernel() {
  static const Kernel kFastest = AvailableKernels().back();
  return kFastest;
}

std::string_view KernelName(Kernel kernel) {
  switch (kernel) {
    case Kernel::kScalar:
      return "scalar";
    case Kernel::kSsse3:
      return "ssse3";
    case Kernel::kAvx2:
      return "avx2";
  }
  return "?";
}

// NOLINTBEGIN(readability-magic-numbers): a bit per code unit, 32 to a word
const std::uint32_t* Cp932DoubleByteBits() {
  static const auto kBits = [] {
    const Cp932Widths& widths = Cp932WidthTable();
    std::array<std::uint32_t, 65536 / 32> bits{};
    for (std::uint32_t unit = 0; unit < 65536; ++unit) {
      bits[unit >> 5] |= std::uint32_t{widths.IsDoubleByte(static_cast<char16_t>(unit))}
                         << (unit & 31u);
    }
    return bits;
  }();
  return kBits.data();
}
// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

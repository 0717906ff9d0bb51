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
  if (HasAvx2() && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2") &&
      __builtin_cpu_supports("bmi2")) {
    kernels.push_back(Kernel::kAvx512);
  }
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
    case Kernel::kAvx512:
      return "avx512";
  }
  return "?";
}

// NOLINTBEGIN(readability-magic-numbers): the pages' first units, 16 to a word
const std::uint16_t* Cp932PageBits() {
  static const auto kPages = [] {
    const Cp932Widths& widths = Cp932WidthTable();
    std::array<std::uint16_t, 32> pages{};
    for (std::size_t word = 0; word < 32; ++word) {
      const std::size_t first = word < 16 ? 0x3000 + 16 * word : 0xFF00 + 16 * (word - 16);
      for (std::size_t k = 0; k < 16; ++k) {
        pages[word] |=
            static_cast<std::uint16_t>(widths.IsDoubleByte(static_cast<char16_t>(first + k)) << k);
      }
    }
    return pages;
  }();
  return kPages.data();
}
// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

#include "measure/kernels.h"

#include <array>

#include "codec/codec.h"

namespace kelmo {

std::vector<Kernel> KernelsFor(const CpuFeatures& cpu) {
  std::vector<Kernel> kernels = {Kernel::kScalar};
  if (cpu.ssse3 && cpu.popcnt) kernels.push_back(Kernel::kSsse3);
  // As their target attributes say: "avx2,bmi,popcnt" and
  // "avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt".
  const bool avx2 = cpu.avx2 && cpu.bmi && cpu.popcnt;
  if (avx2) kernels.push_back(Kernel::kAvx2);
  if (avx2 && cpu.bmi2 && cpu.avx512f && cpu.avx512bw && cpu.avx512vbmi2) {
    kernels.push_back(Kernel::kAvx512);
  }
  return kernels;
}

std::vector<Kernel> AvailableKernels() {
#if defined(__x86_64__)
  CpuFeatures cpu;
  cpu.ssse3 = __builtin_cpu_supports("ssse3");
  cpu.popcnt = __builtin_cpu_supports("popcnt");
  cpu.avx2 = __builtin_cpu_supports("avx2");
  cpu.bmi = __builtin_cpu_supports("bmi");
  cpu.bmi2 = __builtin_cpu_supports("bmi2");
  cpu.avx512f = __builtin_cpu_supports("avx512f");
  cpu.avx512bw = __builtin_cpu_supports("avx512bw");
  cpu.avx512vbmi2 = __builtin_cpu_supports("avx512vbmi2");
  return KernelsFor(cpu);
#else
  return {Kernel::kScalar};
#endif
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

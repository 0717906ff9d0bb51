#include "measure/mbcs.h"

#include "codec/codec.h"
#include "measure/kernels.h"

namespace kelmo {

// The window's measure takes the fastest kernel: with AVX-512 the units are classified in
// registers and only the others looked up (see kernels_avx512.cpp).
MbcsSize MeasureMbcs(std::u16string_view text) { return MeasureMbcs(text, FastestKernel()); }

MbcsSize MeasureMbcs(std::u16string_view text, Kernel kernel) {
  const char16_t* p = text.data();
  const std::size_t n = text.size();
  MbcsTally tally;
  switch (kernel) {
#if defined(__x86_64__)
    case Kernel::kSsse3:
    case Kernel::kAvx2:
      TallyUnits<TallyBlocksPopcnt>(p, n, tally);
      break;
    case Kernel::kAvx512:
      TallyUnits<TallyBlocksAvx512>(p, n, tally);
      break;
#endif
    default:
      TallyUnits<TallyBlocks>(p, n, tally);
      break;
  }
  return {static_cast<std::int64_t>(n) + tally.doubles, tally.runs};
}

}  // namespace kelmo

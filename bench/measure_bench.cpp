// The byte measure against a whole-text iconv conversion and a plain read of the buffer.
#include <benchmark/benchmark.h>

#include "inputs.h"
#include "measure/codec.h"
#include "measure/mbcs.h"

namespace kelmo::bench {
namespace {

std::u16string Input(int which) {
  switch (which) {
    case 0:
      return AsciiMail();
    case 1:
      return JapaneseProse();
    default:
      return Alternating();
  }
}

void SetLabel(benchmark::State& state) {
  static const char* names[] = {"A_ascii_mail", "B_japanese_prose", "C_alternating"};
  state.SetLabel(names[state.range(0)]);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kUnits * 2));
}

void BM_LenMbcsRuns(benchmark::State& state) {
  const std::u16string text = Input(static_cast<int>(state.range(0)));
  (void)Cp932WidthTable();
  for (auto _ : state) benchmark::DoNotOptimize(LenMbcsRuns(text));
  SetLabel(state);
}

void BM_IconvWholeText(benchmark::State& state) {
  const std::u16string text = Input(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(EncodeCp932(text).size());
  SetLabel(state);
}

// Reads every code unit once; the floor for any measure that looks at the whole text.
void BM_ReadOnlyPass(benchmark::State& state) {
  const std::u16string text = Input(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::uint32_t sum = 0;
    for (const char16_t unit : text) sum += unit;
    benchmark::DoNotOptimize(sum);
  }
  SetLabel(state);
}

BENCHMARK(BM_LenMbcsRuns)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IconvWholeText)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadOnlyPass)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelmo::bench

BENCHMARK_MAIN();

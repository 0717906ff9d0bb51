// The byte measure against a whole-text iconv conversion and a plain read of the buffer;
// the UTF-8 measure of `kelmo --measure` against decoding to UTF-16 first and against
// iconv's UTF-8 to code page 932 conversion.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>

#include "codec/codec.h"
#include "codec/line_breaks.h"
#include "codec/utf8.h"
#include "inputs.h"
#include "measure/kernels.h"
#include "measure/mbcs.h"
#include "measure/utf8_counter.h"

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
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kUnits * 2));
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

// The inputs as a file holds them: UTF-8 with LF line breaks.
std::string Utf8Input(int which) {
  std::u16string text = Input(which);
  std::erase(text, u'\r');
  return EncodeUtf8(text);
}

void SetUtf8Label(benchmark::State& state, std::size_t bytes) {
  static const char* names[] = {"A_ascii_mail", "B_japanese_prose", "C_alternating"};
  state.SetLabel(names[state.range(0)]);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

constexpr std::size_t kChunk = std::size_t{128} * 1024;  // as `kelmo --measure` reads

void BM_Utf8MbcsCounter(benchmark::State& state) {
  const std::string text = Utf8Input(static_cast<int>(state.range(0)));
  (void)Cp932WidthTable();
  for (auto _ : state) {
    Utf8MbcsCounter counter;
    for (std::size_t at = 0; at < text.size(); at += kChunk) {
      counter.Add(std::string_view(text).substr(at, kChunk));
    }
    benchmark::DoNotOptimize(counter.Finish());
    benchmark::DoNotOptimize(counter.LenMbcsRuns());
  }
  SetUtf8Label(state, text.size());
}

// Each kernel on its own (0 scalar, 1 SSSE3, 2 AVX2, 3 AVX-512), where the CPU has it.
bool SkipUnavailable(benchmark::State& state) {
  const auto kernel = static_cast<Kernel>(state.range(1));
  const std::vector<Kernel> kernels = AvailableKernels();
  if (std::find(kernels.begin(), kernels.end(), kernel) != kernels.end()) return false;
  state.SkipWithError("this CPU does not have the kernel");
  return true;
}

void BM_LenMbcsRunsKernel(benchmark::State& state) {
  if (SkipUnavailable(state)) return;
  const std::u16string text = Input(static_cast<int>(state.range(0)));
  const auto kernel = static_cast<Kernel>(state.range(1));
  (void)Cp932PageBits();
  for (auto _ : state) benchmark::DoNotOptimize(LenMbcsRuns(MeasureMbcs(text, kernel)));
  SetLabel(state);
}

void BM_Utf8MbcsCounterKernel(benchmark::State& state) {
  if (SkipUnavailable(state)) return;
  const std::string text = Utf8Input(static_cast<int>(state.range(0)));
  const auto kernel = static_cast<Kernel>(state.range(1));
  (void)Cp932PageBits();
  for (auto _ : state) {
    Utf8MbcsCounter counter(false, kernel);
    for (std::size_t at = 0; at < text.size(); at += kChunk) {
      counter.Add(std::string_view(text).substr(at, kChunk));
    }
    benchmark::DoNotOptimize(counter.Finish());
    benchmark::DoNotOptimize(counter.LenMbcsRuns());
  }
  SetUtf8Label(state, text.size());
}

// What `kelmo --measure` did before: UTF-16 first, line breaks made CR LF, then measured.
void BM_DecodeThenLenMbcsRuns(benchmark::State& state) {
  const std::string text = Utf8Input(static_cast<int>(state.range(0)));
  (void)Cp932WidthTable();
  for (auto _ : state) benchmark::DoNotOptimize(LenMbcsRuns(WithCrLf(DecodeUtf8(text))));
  SetUtf8Label(state, text.size());
}

// The conversion `iconv -f UTF-8 -t CP932` makes, in memory.
void BM_IconvUtf8ToCp932(benchmark::State& state) {
  const std::string text = Utf8Input(static_cast<int>(state.range(0)));
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(text.size() * 2, '\0');
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(text.data());
    std::size_t srcLeft = text.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    benchmark::DoNotOptimize(out.size() - dstLeft);
  }
  iconv_close(cd);
  SetUtf8Label(state, text.size());
}

BENCHMARK(BM_LenMbcsRuns)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IconvWholeText)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadOnlyPass)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Utf8MbcsCounter)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LenMbcsRunsKernel)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Utf8MbcsCounterKernel)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeThenLenMbcsRuns)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IconvUtf8ToCp932)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelmo::bench

BENCHMARK_MAIN();

// Byte measures of a text in code page 932.
#pragma once

#include <cstdint>
#include <string_view>

#include "measure/tariff.h"

namespace kelmo {

struct MbcsSize {
  std::int64_t bytes = 0;  // code page 932 bytes
  std::int64_t runs = 0;   // maximal runs of double-byte code units
  friend bool operator==(const MbcsSize&, const MbcsSize&) = default;
};

enum class Kernel;

// Bytes and double-byte runs in one pass; no conversion is run.
MbcsSize MeasureMbcs(std::u16string_view text);
// The same with the kernel given (measure/kernels.h), for holding each one to the others.
MbcsSize MeasureMbcs(std::u16string_view text, Kernel kernel);

// Bytes the text takes in code page 932.
inline std::int64_t LenMbcs(std::u16string_view text) { return MeasureMbcs(text).bytes; }

// The bytes plus the tariff's run charge for every run: the one place runs are priced.
constexpr std::int64_t LenMbcsRuns(MbcsSize size) {
  return size.bytes + kTariff.runCharge * size.runs;
}

// LenMbcs plus the run charge for every run of double-byte characters; a line break, like
// any single-byte character, ends a run.
inline std::int64_t LenMbcsRuns(std::u16string_view text) { return LenMbcsRuns(MeasureMbcs(text)); }

}  // namespace kelmo

// Byte measures of a text in code page 932.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelmo {

// Extra bytes the mail service charges for every run of double-byte characters.
inline constexpr std::int64_t kRunCharge = 6;

struct MbcsSize {
  std::int64_t bytes = 0;  // code page 932 bytes
  std::int64_t runs = 0;   // maximal runs of double-byte code units
  friend bool operator==(const MbcsSize&, const MbcsSize&) = default;
};

// Bytes and double-byte runs in one pass; no conversion is run.
MbcsSize MeasureMbcs(std::u16string_view text);

// Bytes the text takes in code page 932.
inline std::int64_t LenMbcs(std::u16string_view text) { return MeasureMbcs(text).bytes; }

// LenMbcs plus kRunCharge for every run of double-byte characters; a line
// break, like any single-byte character, ends a run.
inline std::int64_t LenMbcsRuns(std::u16string_view text) {
  const MbcsSize size = MeasureMbcs(text);
  return size.bytes + kRunCharge * size.runs;
}

// LenMbcsRuns of a text that arrives in pieces, without keeping it: a run may go on
// from one piece into the next.
class MbcsCounter {
 public:
  void Add(std::u16string_view piece);
  std::int64_t LenMbcsRuns() const { return m_size.bytes + kRunCharge * m_size.runs; }

 private:
  MbcsSize m_size;
  bool m_endsDouble = false;  // the last code unit so far is double-byte
};

}  // namespace kelmo

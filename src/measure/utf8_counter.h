// UTF-8 text from outside the window (files, pipes, the command line): its byte measure
// as it arrives, without making UTF-16 first.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "measure/mbcs.h"

namespace kelmo {

class Cp932Widths;
enum class Kernel;

// MeasureMbcs of the UTF-16 form of UTF-8 text fed in chunks of any size (a sequence may
// be split between chunks), every line break taken as CR LF as the window's body has it:
// LF, CR LF, a lone CR, and the editor's own (IsEditorLineBreak).
class Utf8MbcsCounter {
 public:
  // With skipInitialBom, a U+FEFF at the very start is not part of the text, as text
  // decoders treat it.
  explicit Utf8MbcsCounter(bool skipInitialBom = false);
  // The same with the kernel given (measure/kernels.h), for holding each one to the others.
  Utf8MbcsCounter(bool skipInitialBom, Kernel kernel);

  // Measures the next chunk; false once the input so far is not UTF-8.
  bool Add(std::string_view chunk);
  // Ends the input; false when it is not UTF-8, a cut-off sequence at the end included.
  bool Finish();

  MbcsSize Size() const { return {m_tally.bytes, m_tally.runs}; }
  std::int64_t LenMbcsRuns() const { return kelmo::LenMbcsRuns(Size()); }
  // Byte offset of the first byte of the first ill-formed sequence, once Add or Finish
  // has returned false.
  std::optional<std::uint64_t> ErrorOffset() const { return m_error; }

 private:
  // What has been counted so far.
  struct Tally {
    std::int64_t bytes = 0;
    std::int64_t runs = 0;
    bool afterCr = false;     // the last character was a CR, so an LF now adds nothing
    bool endsDouble = false;  // the last code unit was double-byte
  };

  std::size_t CompletePending(const unsigned char* p, const unsigned char* end,
                              std::optional<char32_t>& completed);

  const Cp932Widths* m_widths = nullptr;  // built on the first character that is not ASCII
  Kernel m_kernel;
  Tally m_tally;
  std::uint64_t m_offset = 0;                // bytes taken before the current chunk
  std::array<unsigned char, 4> m_pending{};  // a sequence cut off by the chunk's end
  std::size_t m_pendingSize = 0;
  bool m_skipBom;
  std::optional<std::uint64_t> m_error;
};

}  // namespace kelmo

#include "measure/utf8_counter.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/codec.h"
#include "codec/line_breaks.h"
#include "codec/utf8.h"
#include "measure/ascii_blocks.h"
#include "measure/kernels.h"

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): the bit patterns of UTF-8 and UTF-16 are the data here

Utf8MbcsCounter::Utf8MbcsCounter(bool skipInitialBom)
    : Utf8MbcsCounter(skipInitialBom, FastestKernel()) {}

Utf8MbcsCounter::Utf8MbcsCounter(bool skipInitialBom, Kernel kernel)
    : m_kernel(kernel), m_skipBom(skipInitialBom) {}

// Takes bytes of p to complete the sequence begun in the last chunk; returns how many.
// Sets `completed` to its code point once complete, unless it is a BOM to skip.
std::size_t Utf8MbcsCounter::CompletePending(const unsigned char* p, const unsigned char* end,
                                             std::optional<char32_t>& completed) {
  const std::uint64_t leadOffset = m_offset - m_pendingSize;
  const std::size_t wanted =
      static_cast<std::size_t>(Utf8SequenceLength(m_pending[0])) - m_pendingSize;
  const std::size_t taken = std::min(wanted, static_cast<std::size_t>(end - p));
  std::copy(p, p + taken, m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingSize));
  char32_t codePoint = 0;
  const int length =
      DecodeUtf8Sequence(m_pending.data(), m_pending.data() + m_pendingSize + taken, codePoint);
  if (length == kUtf8IllFormed) {
    m_error = leadOffset;
    return 0;
  }
  if (length == kUtf8CutOff) {
    m_pendingSize += taken;
    return taken;
  }
  m_pendingSize = 0;
  if (!(m_skipBom && leadOffset == 0 && codePoint == 0xFEFF)) completed = codePoint;
  return taken;
}

namespace {

// One chunk's scan: where it has got to and the tally so far, in plain members that the
// loops keep in registers. Each stage takes what it can at p and leaves the rest.
struct Scan {
  const unsigned char* p;
  const unsigned char* end;
  std::int64_t bytes;
  std::int64_t runs;
  bool afterCr;               // the last character was a CR, so an LF now adds nothing
  unsigned endsDouble;        // the last code unit was double-byte (0 or 1)
  const Cp932Widths* widths;  // built on the first character that is not ASCII
  Kernel kernel;

  void NeedWidths() {
    if (widths == nullptr) widths = &Cp932WidthTable();
  }

  // Japanese text as it mostly is, kana and kanji with ASCII between them, a vector block
  // at a time where the CPU has a kernel for it; whatever else comes is left to the
  // stages below.
  void TakeVectorBlocks() {
#if defined(__x86_64__)
    if (kernel == Kernel::kScalar) return;
    const auto size = static_cast<std::size_t>(end - p);
    const Utf8Blocks before{0, 0, 0, afterCr, endsDouble != 0};
    const Utf8Blocks taken = kernel == Kernel::kAvx512 ? TakeUtf8BlocksAvx512(p, size, before)
                             : kernel == Kernel::kAvx2 ? TakeUtf8BlocksAvx2(p, size, before)
                                                       : TakeUtf8BlocksSsse3(p, size, before);
    if (taken.length == 0) return;
    p += taken.length;
    bytes += taken.bytes;
    runs += taken.runs;
    afterCr = taken.afterCr;
    endsDouble = taken.endsDouble ? 1 : 0;
#endif
  }

  void AddUnit(char16_t unit) {
    const unsigned isDouble = widths->IsDoubleByte(unit);
    bytes += 1 + isDouble;
    runs += isDouble & ~endsDouble;
    endsDouble = isDouble;
  }

  // A character of a multi-byte sequence, measured as the window holds it: a line break
  // as CR LF, anything else as its UTF-16 units.
  void AddCodePoint(char32_t c) {
    NeedWidths();
    afterCr = false;
    if (IsEditorLineBreak(c)) {
      bytes += 2;
      endsDouble = 0;
      return;
    }
    AppendUtf16(c, [this](char16_t unit) { AddUnit(unit); });
  }

  // ASCII: whole blocks when it goes on for a while, byte by byte when it is a word
  // between kanji. A CR stands for the whole line break, and so does a lone LF.
  void TakeAscii() {
    std::uint64_t next8;
    if (end - p >= static_cast<std::ptrdiff_t>(kAsciiBlock) &&
        (std::memcpy(&next8, p, sizeof next8), (next8 & 0x8080808080808080u) == 0)) {
      const AsciiBlocks blocks = TakeAsciiBlocks(p, static_cast<std::size_t>(end - p), afterCr);
      if (blocks.length > 0) {
        bytes += blocks.bytes;
        afterCr = blocks.endsInCr;
        endsDouble = 0;
        p += blocks.length;
      }
    }
    for (; p < end && *p < 0x80; ++p) {
      bytes += *p == '\n' && afterCr ? 0 : 1 + (*p == '\r' || *p == '\n');
      afterCr = *p == '\r';
      endsDouble = 0;
    }
  }

  // The code unit of the three-byte sequence at the low end of w.
  static char16_t ThreeByteUnit(std::uint64_t w) {
    return static_cast<char16_t>(((w & 0x0Fu) << 12) | ((w & 0x3F00u) >> 2) |
                                 ((w & 0x3F0000u) >> 16));
  }
  // Whether the three-byte sequence at the low end of w is an ordinary character, once
  // its bit pattern says it is a three-byte sequence.
  static bool PlainThreeByte(std::uint64_t w) {
    const char16_t c = ThreeByteUnit(w);
    return c >= 0x800 && (c & 0xF800u) != 0xD800u && !IsEditorLineBreak(c);
  }
  // Only leads E0 (overlong forms), ED (surrogates), E2 and EF (the editor's line breaks)
  // need more than that: bit n of 0x5FFA is clear for lead nibbles 0, 2, D and F alone.
  static unsigned OrdinaryLead(std::uint64_t w) {
    return 0x5FFAu >> (w & 0x0Fu) & 1u;  // 1 or 0
  }

  // Kana and kanji, three bytes each: two at a time from one 8-byte load, counted apart in
  // plain integers, then one at a time from a 4-byte load. The last one of a chunk, and
  // every other length, are left for the decoder.
  void TakeThreeByteSequences() {
    const unsigned char* const start = p;
    std::int64_t doubles = 0;
    std::int64_t runStarts = 0;
    for (; end - p >= 8; p += 6) {
      std::uint64_t w;
      std::memcpy(&w, p, sizeof w);
      if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
      if ((w & 0xC0C0F0C0C0F0u) != 0x8080E08080E0u) break;
      if ((OrdinaryLead(w) & OrdinaryLead(w >> 24)) == 0 &&
          !(PlainThreeByte(w) && PlainThreeByte(w >> 24))) {
        break;
      }
      const unsigned first = widths->IsDoubleByte(ThreeByteUnit(w));
      const unsigned second = widths->IsDoubleByte(ThreeByteUnit(w >> 24));
      doubles += first + second;
      runStarts += (first & ~endsDouble) + (second & ~first);
      endsDouble = second;
    }
    bytes += (p - start) / 3 + doubles;
    runs += runStarts;
    for (; end - p >= 4; p += 3) {
      std::uint32_t w;
      std::memcpy(&w, p, sizeof w);
      if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
      if ((w & 0xC0C0F0u) != 0x8080E0u || (OrdinaryLead(w) == 0 && !PlainThreeByte(w))) break;
      AddUnit(ThreeByteUnit(w));
    }
  }
};

}  // namespace

bool Utf8MbcsCounter::Add(std::string_view chunk) {
  if (m_error) return false;
  const auto* const begin = reinterpret_cast<const unsigned char*>(chunk.data());
  Scan scan{begin,           begin + chunk.size(), m_tally.bytes, m_tally.runs,
            m_tally.afterCr, m_tally.endsDouble,   m_widths,      m_kernel};
  auto save = [&] {
    m_tally = {scan.bytes, scan.runs, scan.afterCr, scan.endsDouble != 0};
    m_widths = scan.widths;
  };

  if (m_pendingSize > 0) {
    std::optional<char32_t> completed;
    scan.p += CompletePending(scan.p, scan.end, completed);
    if (m_error) return false;
    if (completed) scan.AddCodePoint(*completed);
  } else if (m_skipBom && m_offset == 0 && chunk.substr(0, 3) == "\xEF\xBB\xBF") {
    scan.p += 3;
  }
  while (scan.p < scan.end) {
    if (*scan.p < 0x80) {
      scan.TakeAscii();
      continue;
    }
    scan.NeedWidths();
    scan.afterCr = false;
    scan.TakeVectorBlocks();
    if (scan.p == scan.end || *scan.p < 0x80) continue;
    // The blocks may have ended on a CR; an LF no longer follows it.
    scan.afterCr = false;
    scan.TakeThreeByteSequences();
    if (scan.p == scan.end || *scan.p < 0x80) continue;
    // Any other sequence, or one the chunk cuts off.
    char32_t codePoint = 0;
    const int length = DecodeUtf8Sequence(scan.p, scan.end, codePoint);
    if (length == kUtf8IllFormed) {
      save();
      m_error = m_offset + static_cast<std::uint64_t>(scan.p - begin);
      return false;
    }
    if (length == kUtf8CutOff) {
      m_pendingSize = static_cast<std::size_t>(scan.end - scan.p);
      std::copy(scan.p, scan.end, m_pending.begin());
      break;
    }
    scan.AddCodePoint(codePoint);
    scan.p += length;
  }
  save();
  m_offset += chunk.size();
  return true;
}

bool Utf8MbcsCounter::Finish() {
  if (m_error) return false;
  if (m_pendingSize > 0) {
    m_error = m_offset - m_pendingSize;
    return false;
  }
  return true;
}

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

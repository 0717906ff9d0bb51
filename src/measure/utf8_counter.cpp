#include "measure/utf8_counter.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/codec.h"
#include "codec/line_breaks.h"
#include "codec/utf8.h"
#include "measure/ascii_blocks.h"

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): the bit patterns of UTF-8 and UTF-16 are the data here

Utf8MbcsCounter::Utf8MbcsCounter(bool skipInitialBom) : m_skipBom(skipInitialBom) {}

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

bool Utf8MbcsCounter::Add(std::string_view chunk) {
  if (m_error) return false;
  const auto* const begin = reinterpret_cast<const unsigned char*>(chunk.data());
  const unsigned char* const end = begin + chunk.size();
  const unsigned char* p = begin;

  // The tally in plain locals, which the loops keep in registers.
  std::int64_t bytes = m_tally.bytes;
  std::int64_t runs = m_tally.runs;
  bool afterCr = m_tally.afterCr;
  unsigned endsDouble = m_tally.endsDouble;
  auto save = [&] { m_tally = {bytes, runs, afterCr, endsDouble != 0}; };
  const Cp932Widths* widths = m_widths;
  auto addUnit = [&](char16_t unit) {  // once widths is there
    const unsigned isDouble = widths->IsDoubleByte(unit);
    bytes += 1 + isDouble;
    runs += isDouble & ~endsDouble;
    endsDouble = isDouble;
  };
  auto addCodePoint = [&](char32_t c) {                             // of a multi-byte sequence
    if (widths == nullptr) widths = m_widths = &Cp932WidthTable();  // not needed for ASCII
    afterCr = false;
    if (IsEditorLineBreak(c)) {  // a line break in the window: CR LF
      bytes += 2;
      endsDouble = 0;
      return;
    }
    AppendUtf16(c, addUnit);  // measured as the text stands in the window
  };

  if (m_pendingSize > 0) {
    std::optional<char32_t> completed;
    p += CompletePending(p, end, completed);
    if (m_error) return false;
    if (completed) addCodePoint(*completed);
  } else if (m_skipBom && m_offset == 0 && chunk.substr(0, 3) == "\xEF\xBB\xBF") {
    p += 3;
  }
  while (p < end) {
    if (*p < 0x80) {
      // Whole blocks when the ASCII goes on for a while, byte by byte when it is a word
      // between kanji.
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
        // A CR stands for the whole line break, and so does a lone LF.
        bytes += *p == '\n' && afterCr ? 0 : 1 + (*p == '\r' || *p == '\n');
        afterCr = *p == '\r';
        endsDouble = 0;
      }
      continue;
    }
    if (widths == nullptr) widths = m_widths = &Cp932WidthTable();  // not needed for ASCII
    afterCr = false;
    // Kana and kanji are three bytes: decode those inline, two at a time from one 8-byte
    // load, then one at a time from a 4-byte load. The last one of a chunk, and every
    // other length, go through Decode below.
    auto codeUnit = [](std::uint64_t w) {  // of the three bytes at the low end of w
      return static_cast<char16_t>(((w & 0x0Fu) << 12) | ((w & 0x3F00u) >> 2) |
                                   ((w & 0x3F0000u) >> 16));
    };
    // Only leads E0 (overlong forms), ED (surrogates), E2 and EF (the editor's line
    // breaks, which go through Decode below) need more than the bit pattern.
    auto plain = [&codeUnit](std::uint64_t w) {
      const char16_t c = codeUnit(w);
      return c >= 0x800 && (c & 0xF800u) != 0xD800u && !IsEditorLineBreak(c);
    };
    {
      // Counted apart in plain integers, and the units from how far p got.
      const unsigned char* const start = p;
      std::int64_t doubles = 0;
      std::int64_t runStarts = 0;
      for (; end - p >= 8; p += 6) {
        std::uint64_t w;
        std::memcpy(&w, p, sizeof w);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        if ((w & 0xC0C0F0C0C0F0u) != 0x8080E08080E0u) break;
        // Bit n of 0x5FFA is clear for lead nibbles 0, 2, D and F alone.
        if ((0x5FFAu >> (w & 0x0Fu) & 0x5FFAu >> ((w >> 24) & 0x0Fu) & 1u) == 0 &&
            !(plain(w) && plain(w >> 24))) {
          break;
        }
        const unsigned first = widths->IsDoubleByte(codeUnit(w));
        const unsigned second = widths->IsDoubleByte(codeUnit(w >> 24));
        doubles += first + second;
        runStarts += (first & ~endsDouble) + (second & ~first);
        endsDouble = second;
      }
      bytes += (p - start) / 3 + doubles;
      runs += runStarts;
    }
    for (; end - p >= 4; p += 3) {
      std::uint32_t w;
      std::memcpy(&w, p, sizeof w);
      if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
      if ((w & 0xC0C0F0u) != 0x8080E0u || ((0x5FFAu >> (w & 0x0Fu) & 1u) == 0 && !plain(w))) {
        break;
      }
      addUnit(codeUnit(w));
    }
    if (p == end || *p < 0x80) continue;
    char32_t codePoint = 0;
    const int length = DecodeUtf8Sequence(p, end, codePoint);
    if (length == kUtf8IllFormed) {
      save();
      m_error = m_offset + static_cast<std::uint64_t>(p - begin);
      return false;
    }
    if (length == kUtf8CutOff) {
      m_pendingSize = static_cast<std::size_t>(end - p);
      std::copy(p, end, m_pending.begin());
      break;
    }
    addCodePoint(codePoint);
    p += length;
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

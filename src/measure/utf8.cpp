#include "measure/utf8.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "measure/ascii_blocks.h"
#include "measure/codec.h"

namespace kelmo {
namespace {

// Length of the sequence a byte starts; 0 for one that starts none (a continuation
// byte, C0, C1, F5 and above).
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return lead < 0xF5 ? 4 : 0;
}

// Whether b may follow lead as the second byte. The narrow ranges exclude overlong
// forms, UTF-16 surrogates and code points past U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char b) {
  switch (lead) {
    case 0xE0:
      return b >= 0xA0 && b <= 0xBF;
    case 0xED:
      return b >= 0x80 && b <= 0x9F;
    case 0xF0:
      return b >= 0x90 && b <= 0xBF;
    case 0xF4:
      return b >= 0x80 && b <= 0x8F;
    default:
      return (b & 0xC0) == 0x80;
  }
}

constexpr int kIllFormed = -1;
constexpr int kCutOff = 0;

// Decodes the multi-byte sequence at p: its length, kIllFormed, or kCutOff when the
// bytes before end are a well-formed beginning of one.
int Decode(const unsigned char* p, const unsigned char* end, char32_t& codePoint) {
  const int length = SequenceLength(p[0]);
  if (length < 2) return kIllFormed;
  const std::ptrdiff_t available = end - p;
  if (available >= 2 && !SecondByteFits(p[0], p[1])) return kIllFormed;
  for (std::ptrdiff_t k = 2; k < length && k < available; ++k) {
    if ((p[k] & 0xC0) != 0x80) return kIllFormed;
  }
  if (available < length) return kCutOff;
  char32_t c = p[0] & (0x7F >> length);
  for (int k = 1; k < length; ++k) c = (c << 6) | (p[k] & 0x3Fu);
  codePoint = c;
  return length;
}

// Hands `take` the code point's UTF-16 code units: one, or a surrogate pair.
template <typename Take>
void ToUtf16(char32_t c, Take take) {
  if (c < 0x10000) {
    take(static_cast<char16_t>(c));
    return;
  }
  take(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
  take(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
}

}  // namespace

Utf8MbcsCounter::Utf8MbcsCounter(bool skipInitialBom) : m_skipBom(skipInitialBom) {}

// Takes bytes of p to complete the sequence begun in the last chunk; returns how many.
// Sets `completed` to its code point once complete, unless it is a BOM to skip.
std::size_t Utf8MbcsCounter::CompletePending(const unsigned char* p, const unsigned char* end,
                                             std::optional<char32_t>& completed) {
  const std::uint64_t leadOffset = m_offset - m_pendingSize;
  const std::size_t wanted = static_cast<std::size_t>(SequenceLength(m_pending[0])) - m_pendingSize;
  const std::size_t taken = std::min(wanted, static_cast<std::size_t>(end - p));
  std::copy(p, p + taken, m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingSize));
  char32_t codePoint = 0;
  const int length = Decode(m_pending.data(), m_pending.data() + m_pendingSize + taken, codePoint);
  if (length == kIllFormed) {
    m_error = leadOffset;
    return 0;
  }
  if (length == kCutOff) {
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
    ToUtf16(c, addUnit);  // measured as the text stands in the window
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
    // Only leads E0 (overlong forms) and ED (surrogates) need more than the bit pattern.
    auto wellFormed = [&codeUnit](std::uint64_t w) {
      const char16_t c = codeUnit(w);
      return c >= 0x800 && (c & 0xF800u) != 0xD800u;
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
        // Bit n of 0xDFFE is clear for lead nibbles 0 and D alone.
        if ((0xDFFEu >> (w & 0x0Fu) & 0xDFFEu >> ((w >> 24) & 0x0Fu) & 1u) == 0 &&
            !(wellFormed(w) && wellFormed(w >> 24))) {
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
      if ((w & 0xC0C0F0u) != 0x8080E0u || !wellFormed(w)) break;
      addUnit(codeUnit(w));
    }
    if (p == end || *p < 0x80) continue;
    char32_t codePoint = 0;
    const int length = Decode(p, end, codePoint);
    if (length == kIllFormed) {
      save();
      m_error = m_offset + static_cast<std::uint64_t>(p - begin);
      return false;
    }
    if (length == kCutOff) {
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

std::u16string WithCrLf(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      out += u"\r\n";
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::u16string DecodeUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* const end = p + utf8.size();
  while (p < end) {
    if (*p < 0x80) {
      out += static_cast<char16_t>(*p++);
      continue;
    }
    char32_t c = 0;
    const int length = Decode(p, end, c);
    if (length <= 0) {
      out += u'\uFFFD';
      ++p;
    } else {
      ToUtf16(c, [&out](char16_t unit) { out += unit; });
      p += length;
    }
  }
  return out;
}

std::string EncodeUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace kelmo

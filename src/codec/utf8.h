// UTF-8: whole-text conversions to and from UTF-16, and the sequence decoder they share
// with the streaming measure; and the UTF-16 surrogates.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): the bit patterns of UTF-8 and UTF-16 are the data here

// Length of the sequence a byte starts; 0 for one that starts none (a continuation
// byte, C0, C1, F5 and above).
inline int Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return lead < 0xF5 ? 4 : 0;
}

// Whether b may follow lead as the second byte. The narrow ranges exclude overlong
// forms, UTF-16 surrogates and code points past U+10FFFF.
inline bool Utf8SecondByteFits(unsigned char lead, unsigned char b) {
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

inline constexpr int kUtf8IllFormed = -1;
inline constexpr int kUtf8CutOff = 0;

// Decodes the multi-byte sequence at p: its length, kUtf8IllFormed, or kUtf8CutOff when
// the bytes before end are a well-formed beginning of one.
inline int DecodeUtf8Sequence(const unsigned char* p, const unsigned char* end,
                              char32_t& codePoint) {
  const int length = Utf8SequenceLength(p[0]);
  if (length < 2) return kUtf8IllFormed;
  const std::ptrdiff_t available = end - p;
  if (available >= 2 && !Utf8SecondByteFits(p[0], p[1])) return kUtf8IllFormed;
  for (std::ptrdiff_t k = 2; k < length && k < available; ++k) {
    if ((p[k] & 0xC0) != 0x80) return kUtf8IllFormed;
  }
  if (available < length) return kUtf8CutOff;
  char32_t c = p[0] & (0x7F >> length);
  for (int k = 1; k < length; ++k) c = (c << 6) | (p[k] & 0x3Fu);
  codePoint = c;
  return length;
}

inline bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Code units of the character at `at`: 2 for a surrogate pair, else 1 (a lone half too).
inline std::size_t CharacterUnits(std::u16string_view text, std::size_t at) {
  return at + 1 < text.size() && IsHighSurrogate(text[at]) && IsLowSurrogate(text[at + 1]) ? 2 : 1;
}

// Hands `take` the code point's UTF-16 code units: one, or a surrogate pair.
template <typename Take>
void AppendUtf16(char32_t c, Take take) {
  if (c < 0x10000) {
    take(static_cast<char16_t>(c));
    return;
  }
  take(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
  take(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
}

// UTF-8 as UTF-16; every byte that is not part of a well-formed sequence becomes U+FFFD.
std::u16string DecodeUtf8(std::string_view utf8);

// UTF-16 as UTF-8; a lone surrogate half becomes U+FFFD.
std::string EncodeUtf8(std::u16string_view utf16);

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

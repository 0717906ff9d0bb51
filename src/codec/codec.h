// Text conversions through glibc iconv: code page 932 (Windows Shift_JIS) for measuring
// and for the files, ISO-2022-JP for mail. Measuring and writing both go through here,
// so a byte count always equals the number of bytes a text becomes in a file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelmo {

// What an unconvertible UTF-16 code unit becomes, as the Windows conversion does.
inline constexpr char kCp932Substitute = '?';
// What a byte sequence that is not code page 932 becomes when read.
inline constexpr char16_t kDecodeSubstitute = u'\uFFFD';

// Encodes text to code page 932. Each code unit the codec cannot convert
// (including every surrogate half) becomes one kCp932Substitute byte.
std::string EncodeCp932(std::u16string_view text);

// Decodes code page 932 bytes; each undecodable byte becomes kDecodeSubstitute.
std::u16string DecodeCp932(std::string_view bytes);

// The characters of `text` that do not come back as themselves through code page 932,
// each once, in order of first appearance: those it has no form for, and those it
// writes as another character's bytes (U+00A5 as '\\'). A surrogate pair stays one
// character.
std::u16string NotKeptByCp932(std::u16string_view text);

// The text in ISO-2022-JP, ending in ASCII; nullopt when a character is not in
// ASCII or JIS X 0208.
std::optional<std::string> EncodeIso2022Jp(std::u16string_view text);

// Empty when glibc can convert between UTF-16 and code page 932 both ways; else what
// is missing, in words for the user.
std::string Cp932ConverterProblem();

// Bytes in the locale's character set (a Shift_JIS or EUC-JP locale's error texts, say)
// as UTF-8; what cannot be converted becomes '?'.
std::string LocaleToUtf8(std::string_view bytes);

// For every UTF-16 code unit, 1 when it takes two bytes in code page 932, else 0.
class Cp932Widths {
 public:
  std::uint8_t IsDoubleByte(char16_t unit) const { return m_double[unit]; }
  int Width(char16_t unit) const { return 1 + m_double[unit]; }

 private:
  friend const Cp932Widths& Cp932WidthTable();
  std::array<std::uint8_t, 65536> m_double{};
};

// The width table, built on first use from the same iconv conversion.
const Cp932Widths& Cp932WidthTable();

}  // namespace kelmo

#include "support/text.h"

#include <iconv.h>

#include <bit>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "codec/utf8.h"

namespace kelmo::testing {
namespace {

// Bytes of one code unit in code page 932; what cannot be converted is the one-byte '?'.
int ReferenceWidth(char16_t unit) {
  static const iconv_t kToCp932 =
      iconv_open("CP932", std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE");
  if (kToCp932 ==
      reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr): iconv's API
    throw std::runtime_error("no CP932 in iconv");
  }
  char in[2];
  std::memcpy(in, &unit, 2);
  char out[8];
  char* src = in;
  char* dst = out;
  std::size_t srcLeft = 2;
  std::size_t dstLeft = sizeof out;
  iconv(kToCp932, nullptr, nullptr, nullptr, nullptr);
  if (iconv(kToCp932, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return 1;
  return static_cast<int>(sizeof out - dstLeft);
}

}  // namespace

std::u16string RandomText::From(std::u16string_view alphabet, std::size_t characters) {
  std::vector<std::u16string_view> pool;
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    const std::size_t length = CharacterUnits(alphabet, i);
    pool.push_back(alphabet.substr(i, length));
    i += length - 1;
  }
  std::u16string text;
  for (std::size_t n = 0; n < characters; ++n) text += pool[Upto(pool.size() - 1)];
  return text;
}

std::int64_t ReferenceLenMbcs(std::u16string_view text) {
  std::int64_t bytes = 0;
  for (const char16_t unit : text) bytes += ReferenceWidth(unit);
  return bytes;
}

std::int64_t ReferenceLenMbcsRuns(std::u16string_view text) {
  std::int64_t bytes = 0;
  bool previousDouble = false;
  for (const char16_t unit : text) {
    const int width = ReferenceWidth(unit);
    bytes += width;
    if (width == 2 && !previousDouble) bytes += 6;
    previousDouble = width == 2;
  }
  return bytes;
}

}  // namespace kelmo::testing

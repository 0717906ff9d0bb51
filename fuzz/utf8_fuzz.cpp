// The UTF-8 measure against its definition: arbitrary bytes fed in random chunks,
// against glibc iconv's decode to UTF-16 (independent of Kelmo's decoder) measured with
// the UTF-16 measure after every line break has become CR LF, with every kernel the CPU
// has. Both must agree on whether
// the input is UTF-8 and, when it is not, on where it stops being so.
#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "codec/line_breaks.h"
#include "codec/utf8.h"
#include "measure/kernels.h"
#include "measure/mbcs.h"
#include "measure/utf8_counter.h"

namespace {

struct Decoded {
  std::u16string text;
  std::optional<std::size_t> errorOffset;
};

Decoded ReferenceDecode(std::string_view bytes) {
  static iconv_t cd =
      iconv_open(std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) std::abort();  // NOLINT(performance-no-int-to-ptr)
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  Decoded out;
  out.text.resize(bytes.size() + 1);
  char* src = const_cast<char*>(bytes.data());
  std::size_t srcLeft = bytes.size();
  char* dst = reinterpret_cast<char*>(out.text.data());
  std::size_t dstLeft = out.text.size() * sizeof(char16_t);
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
    if (errno != EILSEQ && errno != EINVAL) std::abort();
    out.errorOffset = static_cast<std::size_t>(src - bytes.data());
  }
  out.text.resize(out.text.size() - dstLeft / sizeof(char16_t));
  return out;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::uint32_t seed = data[0];  // chooses where the chunks end
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const Decoded reference = ReferenceDecode(bytes);

  // Every kernel this CPU has, not only the one chosen, with the same chunks.
  const std::uint32_t firstSeed = seed;
  for (const kelmo::Kernel kernel : kelmo::AvailableKernels()) {
    seed = firstSeed;
    for (const bool skipBom : {false, true}) {
      kelmo::Utf8MbcsCounter counter(skipBom, kernel);
      bool valid = true;
      for (std::size_t at = 0; valid && at < bytes.size();) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t n = 1 + (seed >> 16) % (seed & 0x100 ? 200 : 5);
        valid = counter.Add(bytes.substr(at, n));
        at += n;
      }
      valid = valid && counter.Finish();
      Check(valid == !reference.errorOffset);
      if (!valid) {
        Check(counter.ErrorOffset() == reference.errorOffset);
        continue;
      }
      std::u16string text = reference.text;
      if (skipBom && !text.empty() && text.front() == u'\uFEFF') text.erase(0, 1);
      // The editor's own line breaks count as line breaks of their own, as in the window.
      std::u16string lines;
      for (const char16_t unit : text) {
        const bool editorBreak =
            unit == u'\u2028' || unit == u'\u2029' || unit == u'\uFDD0' || unit == u'\uFDD1';
        lines += editorBreak ? std::u16string(u"\r\n") : std::u16string(1, unit);
      }
      Check(counter.Size() == kelmo::MeasureMbcs(kelmo::WithCrLf(lines), kelmo::Kernel::kScalar));
    }
  }
  if (!reference.errorOffset) {
    Check(kelmo::DecodeUtf8(bytes) == reference.text);
    Check(kelmo::EncodeUtf8(reference.text) == bytes);
  }
  return 0;
}

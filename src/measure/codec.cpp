#include "measure/codec.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace kelmo {
namespace {

constexpr const char* kUtf16Native =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// An open iconv descriptor; the conversion names never depend on the locale.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
    if (m_cd == reinterpret_cast<iconv_t>(-1)) {
      throw std::system_error(errno, std::generic_category(),
                              std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Iconv() { iconv_close(m_cd); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts [in, in + inSize) and appends to out. On a sequence it cannot
  // convert, appends `substitute` and skips `skip` input bytes.
  template <typename Out>
  void Append(const char* in, std::size_t inSize, Out& out, typename Out::value_type substitute,
              std::size_t skip) {
    using Unit = typename Out::value_type;
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    auto* src = const_cast<char*>(in);
    std::size_t srcLeft = inSize;
    while (srcLeft > 0) {
      const std::size_t used = out.size();
      // Both directions here produce at most as many output units as input bytes.
      out.resize(used + srcLeft + 8);
      auto* dst = reinterpret_cast<char*>(out.data() + used);
      std::size_t dstLeft = (out.size() - used) * sizeof(Unit);
      const std::size_t rc = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
      out.resize(out.size() - dstLeft / sizeof(Unit));
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) continue;
      // EILSEQ: unconvertible or invalid; EINVAL: truncated sequence at the end.
      out.push_back(substitute);
      const std::size_t step = std::min(skip, srcLeft);
      src += step;
      srcLeft -= step;
      iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    }
  }

 private:
  iconv_t m_cd;
};

}  // namespace

std::string EncodeCp932(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  Iconv cd("CP932", kUtf16Native);
  cd.Append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t), out,
            kCp932Substitute, sizeof(char16_t));
  return out;
}

std::u16string DecodeCp932(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  Iconv cd(kUtf16Native, "CP932");
  cd.Append(bytes.data(), bytes.size(), out, kDecodeSubstitute, 1);
  return out;
}

const Cp932Widths& Cp932WidthTable() {
  static const Cp932Widths table = [] {
    Cp932Widths t;
    Iconv cd("CP932", kUtf16Native);
    std::string out;
    for (std::uint32_t unit = 0; unit < 65536; ++unit) {
      const auto u = static_cast<char16_t>(unit);
      if (u >= 0xD800 && u <= 0xDFFF) continue;  // a lone half is the one-byte substitute
      out.clear();
      cd.Append(reinterpret_cast<const char*>(&u), sizeof u, out, kCp932Substitute,
                sizeof(char16_t));
      t.m_double[unit] = out.size() == 2;
    }
    return t;
  }();
  return table;
}

}  // namespace kelmo

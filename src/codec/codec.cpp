#include "codec/codec.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "codec/utf8.h"

namespace kelmo {
namespace {

constexpr const char* kUtf16Native =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// An open iconv descriptor: the one place a conversion is opened. The conversion
// names never depend on the locale.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
    // iconv_open reports failure as (iconv_t)-1.
    if (m_cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
      throw std::system_error(errno, std::generic_category(),
                              std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Iconv() { iconv_close(m_cd); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts [in, in + inSize) and appends to out. On a sequence it cannot convert,
  // appends `substitute` and skips `skip` input bytes. Without a substitute, for an
  // "//IGNORE" descriptor that leaves such sequences out itself, it only moves on.
  template <typename Out>
  void Append(const char* in, std::size_t inSize, Out& out,
              std::optional<typename Out::value_type> substitute, std::size_t skip) {
    using Unit = typename Out::value_type;
    Reset();
    auto* src = const_cast<char*>(in);
    std::size_t srcLeft = inSize;
    while (srcLeft > 0) {
      const std::size_t used = out.size();
      // Both directions here produce at most as many output units as input bytes.
      out.resize(used + srcLeft + 8);
      auto* dst = reinterpret_cast<char*>(out.data() + used);
      std::size_t dstLeft = (out.size() - used) * sizeof(Unit);
      const std::size_t before = srcLeft;
      const std::size_t rc = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
      out.resize(out.size() - dstLeft / sizeof(Unit));
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) continue;
      // EILSEQ: unconvertible or invalid; EINVAL: truncated sequence at the end. glibc
      // reports what //IGNORE dropped that way too, after going on past it.
      if (substitute) {
        out.push_back(*substitute);
      } else if (srcLeft != before) {
        continue;
      }
      const std::size_t step = std::min(skip, srcLeft);
      src += step;
      srcLeft -= step;
      Reset();
    }
  }

  // The whole input, with the shift back to the initial state at the end; nullopt when
  // any of it cannot be converted.
  std::optional<std::string> ConvertAll(const char* in, std::size_t inSize,
                                        std::size_t maxOutPerInByte) {
    Reset();
    // The final shift sequence needs a few bytes more than the characters.
    std::string out(inSize * maxOutPerInByte + 8, '\0');
    auto* src = const_cast<char*>(in);
    std::size_t srcLeft = inSize;
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (iconv(m_cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
        iconv(m_cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
      return std::nullopt;
    }
    out.resize(out.size() - dstLeft);
    return out;
  }

 private:
  void Reset() { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }
  iconv_t m_cd;
};

// Whether one code unit takes two bytes, from a conversion of that unit alone.
bool ConvertsToTwoBytes(Iconv& cd, char16_t unit) {
  std::string out;
  cd.Append(reinterpret_cast<const char*>(&unit), sizeof unit, out, kCp932Substitute,
            sizeof(char16_t));
  return out.size() == 2;
}

// A lone surrogate half is the one-byte substitute, so the tables leave surrogates at 0;
// any other unit is as iconv converts it.
void FillWidthsOneByOne(std::array<std::uint8_t, 65536>& isDouble) {
  Iconv cd("CP932", kUtf16Native);
  for (std::uint32_t unit = 0; unit < 65536; ++unit) {
    if (!IsSurrogate(unit)) isDouble[unit] = ConvertsToTwoBytes(cd, static_cast<char16_t>(unit));
  }
}

// The same table from one conversion instead of 65,536 (a few milliseconds at every
// start): every unit from U+0001 on, each followed by U+0000, with what cannot be
// converted dropped. Between two NUL bytes then stands each unit's form, empty when it
// has none (no code page 932 character has a NUL byte). False when the output does not
// have that shape.
bool FillWidthsAtOnce(std::array<std::uint8_t, 65536>& isDouble) {
  std::u16string units;
  units.reserve(std::size_t{2} * 65536);
  for (std::uint32_t unit = 1; unit < 65536; ++unit) {
    if (IsSurrogate(unit)) continue;
    units += static_cast<char16_t>(unit);
    units += u'\0';
  }
  std::string out;
  Iconv cd("CP932//IGNORE", kUtf16Native);
  cd.Append(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(char16_t), out,
            std::nullopt, sizeof(char16_t));
  // One pass over the output: a search for each NUL was a library call per unit, an
  // eighth of a short mail's `kelmo --measure`.
  std::size_t at = 0;
  for (std::uint32_t unit = 1; unit < 65536; ++unit) {
    if (IsSurrogate(unit)) continue;
    const std::size_t start = at;
    while (at < out.size() && out[at] != '\0') ++at;
    if (at == out.size() || at - start > 2) return false;
    isDouble[unit] = at - start == 2;
    ++at;
  }
  if (at != out.size()) return false;
  // U+0000 itself cannot take part: it is the separator.
  Iconv single("CP932", kUtf16Native);
  isDouble[0] = ConvertsToTwoBytes(single, u'\0');
  return true;
}

const char* Bytes(std::u16string_view text) { return reinterpret_cast<const char*>(text.data()); }

}  // namespace

std::string EncodeCp932(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  Iconv cd("CP932", kUtf16Native);
  cd.Append(Bytes(text), text.size() * sizeof(char16_t), out, kCp932Substitute, sizeof(char16_t));
  return out;
}

std::u16string DecodeCp932(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  Iconv cd(kUtf16Native, "CP932");
  cd.Append(bytes.data(), bytes.size(), out, kDecodeSubstitute, 1);
  return out;
}

std::u16string NotKeptByCp932(std::u16string_view text) {
  Iconv there("CP932", kUtf16Native);
  Iconv back(kUtf16Native, "CP932");
  std::u16string found;
  for (std::size_t i = 0; i < text.size();) {
    const std::u16string_view character = text.substr(i, CharacterUnits(text, i));
    i += character.size();
    const std::optional<std::string> bytes =
        there.ConvertAll(Bytes(character), character.size() * sizeof(char16_t), 2);
    // Each byte decodes to at most one code unit.
    const std::optional<std::string> again =
        bytes ? back.ConvertAll(bytes->data(), bytes->size(), sizeof(char16_t)) : std::nullopt;
    if (again &&
        *again == std::string_view(Bytes(character), character.size() * sizeof(char16_t))) {
      continue;
    }
    if (found.find(character) == std::u16string::npos) found += character;
  }
  return found;
}

std::string Cp932ConverterProblem() {
  try {
    Iconv there("CP932", kUtf16Native);
    Iconv back(kUtf16Native, "CP932");
    return {};
  } catch (const std::system_error& e) {
    return std::string(e.what()) +
           " (glibc's code page 932 converter, CP932.so among its gconv modules, is missing)";
  }
}

std::string LocaleToUtf8(std::string_view bytes) {
  const char* codeset = ::nl_langinfo(CODESET);
  if (std::string_view(codeset) == "UTF-8" || std::string_view(codeset) == "ANSI_X3.4-1968") {
    return std::string(bytes);
  }
  try {
    std::string out;
    Iconv cd("UTF-8", codeset);
    cd.Append(bytes.data(), bytes.size(), out, '?', 1);
    return out;
  } catch (const std::system_error&) {
    return std::string(bytes);
  }
}

std::optional<std::string> EncodeIso2022Jp(std::u16string_view text) {
  Iconv cd("ISO-2022-JP", kUtf16Native);
  // Per code unit (two input bytes) at most an escape sequence (3) and two bytes.
  return cd.ConvertAll(Bytes(text), text.size() * sizeof(char16_t), 3);
}

const Cp932Widths& Cp932WidthTable() {
  static const Cp932Widths kTable = [] {
    Cp932Widths t;
    if (!FillWidthsAtOnce(t.m_double)) FillWidthsOneByOne(t.m_double);
    return t;
  }();
  return kTable;
}

}  // namespace kelmo

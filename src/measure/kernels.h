// The ways of measuring code page 932 widths: the portable scalar code, which is the
// reference, and vector kernels for the CPUs that have them. Every kernel gives exactly
// what the scalar code gives; the tests and fuzzers hold each one to it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kelmo {

enum class Kernel {
  kScalar,  // any CPU, any byte order
  kSse2,    // x86-64 (every one has SSE2) with POPCNT
  kAvx2,    // x86-64 with AVX2, BMI1 and POPCNT
};

// The scalar kernel first, then every vector kernel this CPU can run.
std::vector<Kernel> AvailableKernels();
// The one MeasureMbcs and Utf8MbcsCounter use unless told otherwise.
Kernel FastestKernel();
std::string_view KernelName(Kernel kernel);

// Bit (u & 31) of word (u >> 5) is set when code page 932 has the UTF-16 code unit u as a
// double-byte character: 8 KiB, so it stays in the first-level cache beside the text.
// Built once from the width table, and so from the same iconv conversion.
const std::uint32_t* Cp932DoubleByteBits();

inline unsigned IsDoubleByteBit(const std::uint32_t* bits, unsigned unit) {
  return (bits[unit >> 5] >> (unit & 31u)) & 1u;
}

// --- UTF-16: the double-byte mask of 64 code units (bit k for unit k) -------------------

// SSE2 has no gather, so its UTF-16 measure is the scalar one: a table look-up per unit
// either way.
inline constexpr std::size_t kMbcsBlock = 64;
// The scalar one: n <= 64 units, each looked up in the width table.
std::uint64_t DoubleByteMaskScalar(const char16_t* p, std::size_t n);
#if defined(__x86_64__)
std::uint64_t DoubleByteMaskAvx2(const char16_t* p, const std::uint32_t* bits);
#endif

// --- UTF-8: runs of one-byte and three-byte characters, a block at a time ----------------

// The measure of the characters a kernel took, and the state the next character needs.
struct Utf8Blocks {
  std::size_t length = 0;   // bytes taken, always whole characters
  std::int64_t bytes = 0;   // code page 932 bytes, every line break as CR LF
  std::int64_t runs = 0;    // double-byte runs that start in them
  bool afterCr = false;     // the last character taken was a CR
  bool endsDouble = false;  // the last character taken was double-byte
};

// What one block of w bytes at p looks like, bit i for byte i: ASCII bytes, CRs and LFs,
// the leads of three-byte sequences, the first byte that stops the block (a lead of
// another length, a misplaced continuation byte, a sequence that is a line break,
// a surrogate or overlong), and each lead's code unit (units[i] for a lead at i).
struct Utf8BlockMasks {
  std::uint64_t ascii;
  std::uint64_t cr;
  std::uint64_t lf;
  std::uint64_t lead;
  std::uint64_t continuation;
  std::uint64_t special;  // leads of sequences the scalar code must see
};

// Whole characters in the first `length` bytes of a block: `length` cut back where the block
// stops being plain, then back to before a sequence the block's end cuts off.
inline std::size_t PlainLength(const Utf8BlockMasks& m, std::size_t width) {
  const std::uint64_t all = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
  // A lead claims the two bytes after it; every claimed byte must be a continuation byte
  // and every continuation byte claimed. Past the first byte that breaks that, or that is
  // neither ASCII, nor a three-byte lead, nor a continuation, nothing is taken.
  const std::uint64_t claimed = (m.lead << 1) | (m.lead << 2);
  const std::uint64_t stop =
      ((claimed ^ m.continuation) | ~(m.ascii | m.lead | m.continuation) | m.special) & all;
  std::size_t length = stop == 0 ? width : static_cast<std::size_t>(std::countr_zero(stop));
  // Every byte before `length` is consistent, so at most one lead there lacks bytes: at
  // length - 2 or length - 1.
  if (length >= 2 && ((m.lead >> (length - 2)) & 1u) != 0) {
    length -= 2;
  } else if (length >= 1 && ((m.lead >> (length - 1)) & 1u) != 0) {
    length -= 1;
  }
  return length;
}

// Bit i set for each lead at i whose character is double-byte; units[i] is the code unit
// of the sequence at i, decoded in a vector for every position. The one look-up per
// character.
inline std::uint64_t DoubleByteLeads(const std::uint16_t* units, std::uint64_t leads,
                                     const std::uint32_t* bits) {
  std::uint64_t doubles = 0;
  for (; leads != 0; leads &= leads - 1) {
    const int i = std::countr_zero(leads);
    doubles |= std::uint64_t{IsDoubleByteBit(bits, units[i])} << i;
  }
  return doubles;
}

// The line breaks among the first `length` bytes of a block: a CR and a lone LF each stand
// for a whole CR LF, so one byte more each, and two fewer for every LF that completes a
// CR LF. Updates taken.afterCr; the extra bytes.
inline std::int64_t LineBreakBytes(const Utf8BlockMasks& m, std::size_t length, Utf8Blocks& taken) {
  const std::uint64_t within = length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
  const std::uint64_t cr = m.cr & within;
  const std::uint64_t lf = m.lf & within;
  const std::uint64_t crLf = ((cr << 1) | std::uint64_t{taken.afterCr}) & lf;
  taken.afterCr = ((cr >> (length - 1)) & 1u) != 0;
  return std::popcount(cr) + std::popcount(lf) - 2 * std::popcount(crLf);
}

// Adds the first `length` bytes of a block (whole characters) to `taken`; bit i of
// `doubles` is set for the lead of each double-byte character.
inline void AccountPlain(const Utf8BlockMasks& m, std::uint64_t doubles, std::size_t length,
                         Utf8Blocks& taken) {
  if (length == 0) return;
  const std::uint64_t within = length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
  const std::uint64_t ascii = m.ascii & within;
  const std::uint64_t leads = m.lead & within;
  doubles &= within;
  taken.bytes += std::popcount(ascii) + LineBreakBytes(m, length, taken) + std::popcount(leads) +
                 std::popcount(doubles);
  // The character before a lead at i is a three-byte one exactly when a lead stands at
  // i - 3, so a run starts at a double-byte lead whose i - 3 holds no double-byte lead
  // (bit 0: the character before the block).
  taken.runs += std::popcount(doubles & ~((doubles << 3) | std::uint64_t{taken.endsDouble}));
  // The last character is double-byte only if it is three bytes with its lead at length - 3.
  taken.endsDouble = length >= 3 && ((doubles >> (length - 3)) & 1u) != 0;
  taken.length += length;
}

#if defined(__x86_64__)
// Takes 16- or 32-byte blocks at p while they hold only ASCII and three-byte sequences
// that are ordinary characters (no line break, surrogate or overlong form), stopping at
// a block of ASCII alone (the ASCII path is faster), where such a sequence ends, or when
// fewer than width + 2 bytes are left. `start` is the state before p.
Utf8Blocks TakeUtf8BlocksSse2(const unsigned char* p, std::size_t size, Utf8Blocks start,
                              const std::uint32_t* bits);
Utf8Blocks TakeUtf8BlocksAvx2(const unsigned char* p, std::size_t size, Utf8Blocks start,
                              const std::uint32_t* bits);
#endif

}  // namespace kelmo

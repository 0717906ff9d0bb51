// The ways of measuring code page 932 widths: the portable scalar code, which is the
// reference, and vector kernels for the CPUs that have them. Every kernel gives exactly
// what the scalar code gives; the tests and fuzzers hold each one to it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "codec/codec.h"

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): bit positions, byte patterns and lane counts

enum class Kernel {
  kScalar,  // any CPU, any byte order
  kSsse3,   // x86-64 with SSSE3 and POPCNT (every one since 2008 or so)
  kAvx2,    // x86-64 with AVX2, BMI1 and POPCNT
  kAvx512,  // x86-64 with AVX2, AVX-512 F, BW and VBMI2, BMI1, BMI2 and POPCNT
};

// The scalar kernel first, then every vector kernel this CPU can run.
std::vector<Kernel> AvailableKernels();

// What a CPU offers, as far as the kernels care: each one needs every extension its
// functions are compiled for, or an instruction of one could fault. (The AVX-512 ones
// read true only where the operating system also saves the registers' state.)
struct CpuFeatures {
  bool ssse3 = false;
  bool popcnt = false;
  bool avx2 = false;
  bool bmi = false;
  bool bmi2 = false;
  bool avx512f = false;
  bool avx512bw = false;
  bool avx512vbmi2 = false;
};
// The kernels a CPU with these features can run, the scalar one first.
std::vector<Kernel> KernelsFor(const CpuFeatures& cpu);
// The one MeasureMbcs and Utf8MbcsCounter use unless told otherwise.
Kernel FastestKernel();
std::string_view KernelName(Kernel kernel);

// Bit k of word j: whether code page 932 has U+3000 + 16j + k (words 0-15) or
// U+FF00 + 16(j - 16) + k (words 16-31) as a double-byte character. Built once from the
// width table, and so from the same iconv conversion.
const std::uint16_t* Cp932PageBits();

// --- UTF-16: the double-byte mask of 64 code units (bit k for unit k) -------------------

inline constexpr std::size_t kMbcsBlock = 64;

// Bytes and runs from double-byte masks taken in order: the one place they are counted.
// Inlined into each kernel, so that its popcounts are that kernel's instructions (without
// POPCNT, the portable code's are calls).
struct MbcsTally {
  std::int64_t doubles = 0;
  std::int64_t runs = 0;
  std::uint64_t carry = 0;  // 1 when the last unit counted was double-byte

  [[gnu::always_inline]] void Add(std::uint64_t mask, std::size_t n) {
    doubles += std::popcount(mask);
    // A run starts at a double-byte unit whose predecessor is single-byte.
    runs += std::popcount(mask & ~((mask << 1) | carry));
    carry = (mask >> (n - 1)) & 1u;
  }
};

// The mask of 64 units from the width table. Four independent chains of 16, each built
// from its last unit to its first as mask * 2 + the unit's entry: per unit a load of the
// unit, a load from the table and one add, which is the least the loads allow (packing
// eight entries into a word first cost twice the instructions; gathering from a bitmap
// is no faster than the loads).
[[gnu::always_inline]] inline std::uint64_t DoubleByteMask(const Cp932Widths& widths,
                                                           const char16_t* p) {
  constexpr std::size_t kChain = kMbcsBlock / 4;
  std::uint64_t chains[4] = {0, 0, 0, 0};
#pragma GCC unroll 16
  for (std::size_t k = kChain; k-- > 0;) {
    for (std::size_t c = 0; c < 4; ++c) {
      chains[c] = chains[c] * 2 + widths.IsDoubleByte(p[c * kChain + k]);
    }
  }
  return chains[0] | chains[1] << kChain | chains[2] << (2 * kChain) | chains[3] << (3 * kChain);
}

// The same for n < 64 units, one at a time.
inline std::uint64_t DoubleByteMaskTail(const Cp932Widths& widths, const char16_t* p,
                                        std::size_t n) {
  std::uint64_t mask = 0;
  for (std::size_t k = 0; k < n; ++k) mask |= std::uint64_t{widths.IsDoubleByte(p[k])} << k;
  return mask;
}

// Whether the 64 units at p are all ASCII, by a few wide loads.
inline bool AllAscii(const char16_t* p) {
  std::uint64_t acc = 0;
  for (std::size_t k = 0; k < kMbcsBlock; k += 4) {
    std::uint64_t four;
    std::memcpy(&four, p + k, sizeof four);  // portable; compiles to one load
    acc |= four;
  }
  return (acc & 0xFF80FF80FF80FF80u) == 0;
}

// The scalar code's walk over whole blocks: ASCII ones skipped, the others looked up.
// (The tally is copied in and out: the table's bytes may alias anything, so a tally
// behind a reference would be stored and loaded again around every look-up.)
[[gnu::always_inline]] inline void TallyBlocks(const char16_t* p, std::size_t blocks,
                                               MbcsTally& tally) {
  const Cp932Widths& widths = Cp932WidthTable();
  MbcsTally local = tally;
  for (std::size_t b = 0; b < blocks; ++b, p += kMbcsBlock) {
    local.Add(AllAscii(p) ? 0 : DoubleByteMask(widths, p), kMbcsBlock);
  }
  tally = local;
}

using TallyFunction = void (*)(const char16_t* p, std::size_t blocks, MbcsTally& tally);

// n units: the whole blocks by kTally, the rest one at a time.
template <TallyFunction kTally>
[[gnu::always_inline]] inline void TallyUnits(const char16_t* p, std::size_t n, MbcsTally& tally) {
  kTally(p, n / kMbcsBlock, tally);
  if (const std::size_t rest = n % kMbcsBlock; rest > 0) {
    tally.Add(DoubleByteMaskTail(Cp932WidthTable(), p + n - rest, rest), rest);
  }
}

#if defined(__x86_64__)
// The same walk with POPCNT (the SSSE3 and AVX2 kernels have nothing faster for UTF-16).
void TallyBlocksPopcnt(const char16_t* p, std::size_t blocks, MbcsTally& tally);
// Where AVX-512 classifies the units in registers (kernels_avx512.cpp).
void TallyBlocksAvx512(const char16_t* p, std::size_t blocks, MbcsTally& tally);
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
// the leads of three-byte sequences, continuation bytes, and the leads of sequences the
// scalar code must see (a line break, a surrogate, an overlong form). Any other byte (a
// lead of another length) stops the block, as does a misplaced continuation byte.
struct Utf8BlockMasks {
  std::uint64_t ascii;
  std::uint64_t cr;
  std::uint64_t lf;
  std::uint64_t lead;
  std::uint64_t continuation;
  std::uint64_t special;  // leads of sequences the scalar code must see
};

// The kernels transcode as they go: each block's characters become their UTF-16 code
// units, packed one after another, and once there are kBatch of them they are measured
// as the window's text is, by kTally (TallyBlocks above or the AVX-512 one). A
// look-up per lead where it stands cost a mispredicted branch per block.
template <std::size_t kBatch, TallyFunction kTally>
struct PendingUnits {
  static_assert(kBatch % kMbcsBlock == 0);
  // Fewer than kBatch not measured yet, plus at most a block's 64 new ones (a kernel
  // stores whole vectors, but never past that).
  alignas(64) char16_t units[kBatch + 64];
  std::size_t count = 0;
  std::int64_t measured = 0;  // units measured, each at least one byte
  MbcsTally tally;

  // Measures kBatch once there are as many.
  [[gnu::always_inline]] void MeasureFull() {
    if (count < kBatch) return;
    kTally(units, kBatch / kMbcsBlock, tally);
    measured += static_cast<std::int64_t>(kBatch);
    count -= kBatch;
    // Fewer than 64 are left; copying all 64 places is one fixed move.
    std::memcpy(units, units + kBatch, 64 * sizeof(char16_t));
  }
  [[gnu::always_inline]] void MeasureRest() {
    TallyUnits<kTally>(units, count, tally);
    measured += static_cast<std::int64_t>(count);
    count = 0;
  }
};

// The lowest n bits (n <= 64).
constexpr std::uint64_t LowBits(std::size_t n) {
  return n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// For each 8-bit mask, the PSHUFB pattern that moves the 16-bit lanes whose bits are set
// to the front, in order.
struct PackPatterns {
  std::uint8_t pattern[256][16];
};
constexpr PackPatterns MakePackPatterns() {
  PackPatterns table{};
  for (std::size_t mask = 0; mask < 256; ++mask) {
    std::size_t to = 0;
    for (std::size_t lane = 0; lane < 8; ++lane) {
      if (((mask >> lane) & 1u) == 0) continue;
      table.pattern[mask][2 * to] = static_cast<std::uint8_t>(2 * lane);
      table.pattern[mask][2 * to + 1] = static_cast<std::uint8_t>(2 * lane + 1);
      ++to;
    }
    for (; to < 8; ++to) table.pattern[mask][2 * to] = table.pattern[mask][2 * to + 1] = 0x80;
  }
  return table;
}
alignas(16) inline constexpr PackPatterns kPackPatterns = MakePackPatterns();

// The line breaks among the first `length` bytes of a block: a CR and a lone LF each stand
// for a whole CR LF, so one byte more each, and two fewer for every LF that completes a
// CR LF. Updates afterCr (the last character taken was a CR); the extra bytes.
inline std::int64_t LineBreakBytes(const Utf8BlockMasks& m, std::size_t length, bool& afterCr) {
  const std::uint64_t within = LowBits(length);
  const std::uint64_t cr = m.cr & within;
  const std::uint64_t lf = m.lf & within;
  const std::uint64_t crLf = ((cr << 1) | std::uint64_t{afterCr}) & lf;
  afterCr = ((cr >> (length - 1)) & 1u) != 0;
  return std::popcount(cr) + std::popcount(lf) - 2 * std::popcount(crLf);
}

// The bookkeeping both UTF-8 kernels share around their own loads and masks, blocks of
// kWidth bytes at a fixed stride, so that where the next block starts never waits for
// this one's masks. A character that a block's end cuts (a lead in its last two bytes) is
// decoded with it but added with the next block, once that one shows the bytes it claims
// are continuation bytes; if they are not, the blocks end at that lead. A kernel's loop:
//   while (walk.More(size)) { q = p + walk.At(); masks m; if (walk.AsciiOnly(m.ascii)) break;
//     more masks; if (!walk.Take(m, pending)) break; add walk.Starts()' units to pending;
//     if (!walk.Advance(q, pending)) break; }
//   return walk.Finish(pending);
// Inlined into each kernel, so it is compiled for that kernel's instruction set; forced
// (always_inline), since only then are its members kept in registers rather than in a
// stack object the kernel's vector stores might alias (measured: 6-9% on Japanese prose). The
// pending units stay the kernel's own: they are stored to through pointers, and in the
// walk they would keep all its state in memory rather than in registers.
template <std::size_t kWidth, class Pending>
class Utf8BlockWalk {
 public:
  static_assert(kWidth >= 16 && kWidth <= 64);
  static constexpr std::uint64_t kAll = LowBits(kWidth);

  [[gnu::always_inline]] Utf8BlockWalk(Utf8Blocks start, Pending& pending)
      : m_afterCr(start.afterCr) {
    pending.tally.carry = start.endsDouble ? 1 : 0;
  }

  // Whether there is another block: the loads of the second and third byte of a lead at
  // the block's end reach two bytes past it.
  [[gnu::always_inline]] bool More(std::size_t size) const { return size - m_at >= kWidth + 2; }
  // Where it starts.
  std::size_t At() const { return m_at; }

  // A block of ASCII alone, with no character carried into it, is left to the ASCII path,
  // which is faster.
  [[gnu::always_inline]] bool AsciiOnly(std::uint64_t ascii) const {
    return ascii == kAll && m_claimedIn == 0;
  }

  // How much of the block is taken, and so which characters start in it (Starts()); counts
  // its line breaks. False when the character carried in from the last block is not whole:
  // the blocks end before it.
  [[gnu::always_inline]] bool Take(const Utf8BlockMasks& m, Pending& pending) {
    // A lead claims the two bytes after it (those past the block's end in the next one);
    // every claimed byte must be a continuation byte and every continuation byte claimed.
    // At the first byte that breaks that, or that is neither ASCII, nor a three-byte lead,
    // nor a continuation, or that leads a sequence the scalar code must see, the blocks end.
    const std::uint64_t claimed = ((m.lead << 1) | (m.lead << 2) | m_claimedIn) & kAll;
    m_stop = ((claimed ^ m.continuation) | ~(m.ascii | m.lead | m.continuation) | m.special) & kAll;
    m_lead = m.lead;
    m_length = kWidth;
    m_cut = 0;
    if (m_stop == 0) {
      m_cut = m.lead & ~(kAll >> 2);
    } else {
      m_length = static_cast<std::size_t>(std::countr_zero(m_stop));
      if ((m_claimedIn >> m_length) != 0) {
        m_end = m_carriedLead;
        m_stopped = true;
        return false;
      }
      // Every byte before m_length is consistent, so at most one lead there lacks bytes:
      // at m_length - 2 or m_length - 1.
      if (m_length >= 2 && ((m.lead >> (m_length - 2)) & 1u) != 0) {
        m_length -= 2;
      } else if (m_length >= 1 && ((m.lead >> (m_length - 1)) & 1u) != 0) {
        m_length -= 1;
      }
    }
    if (m_claimedIn != 0) pending.units[pending.count++] = m_carriedUnit;
    m_starts = 0;
    if (m_length > 0) {
      // Line breaks are counted from the bytes; in the units a CR or LF is single-byte.
      m_bytes += LineBreakBytes(m, m_length, m_afterCr);
      // A character starts at each ASCII byte and each lead; the cut one waits.
      m_starts = (m.ascii | m.lead) & LowBits(m_length) & ~m_cut;
    }
    return true;
  }

  // Bit i for each character that starts at byte i of the block and is taken with it: the
  // kernel adds their code units, in order, to the pending ones.
  std::uint64_t Starts() const { return m_starts; }

  // Measures the pending units once there are kBatch; moves to the next block (q is this one)
  // unless this one ended the blocks.
  [[gnu::always_inline]] bool Advance(const unsigned char* q, Pending& pending) {
    pending.MeasureFull();
    if (m_stop != 0) {
      m_end = m_at + m_length;
      m_stopped = true;
      return false;
    }
    // A lead in the last byte claims bytes 0 and 1 of the next block, one in the byte
    // before it byte 0.
    const std::uint64_t last = (m_lead >> (kWidth - 1)) & 1u;
    m_claimedIn = (last * 3) | ((m_lead >> (kWidth - 2)) & 1u);
    if (m_cut != 0) {
      const auto lead = static_cast<std::size_t>(std::countr_zero(m_cut));
      m_carriedUnit = static_cast<char16_t>(((q[lead] & 0x0Fu) << 12) |
                                            ((q[lead + 1] & 0x3Fu) << 6) | (q[lead + 2] & 0x3Fu));
      m_carriedLead = m_at + lead;
    }
    m_at += kWidth;
    return true;
  }

  // The measure of all the characters taken.
  [[gnu::always_inline]] Utf8Blocks Finish(Pending& pending) {
    if (!m_stopped) m_end = m_claimedIn != 0 ? m_carriedLead : m_at;
    pending.MeasureRest();
    return {m_end, m_bytes + pending.measured + pending.tally.doubles, pending.tally.runs,
            m_afterCr, pending.tally.carry != 0};
  }

 private:
  // Plain members, not a Utf8Blocks: kept in registers only while nothing takes their
  // address, and every kernel's vector stores might otherwise alias them.
  std::int64_t m_bytes = 0;  // of line breaks; the units' are the pending ones'
  bool m_afterCr;
  std::size_t m_at = 0;           // where this block starts
  std::uint64_t m_claimedIn = 0;  // bytes 0 and 1 that a lead in the last block claims
  char16_t m_carriedUnit = 0;     // that lead's code unit
  std::size_t m_carriedLead = 0;  // and where it stands
  std::size_t m_end = 0;          // where the characters taken end; set on leaving
  bool m_stopped = false;
  // This block's: where it stops (0 if nowhere), its leads, the bytes taken, the lead at
  // its end whose character the next block completes, and the characters taken.
  std::uint64_t m_stop = 0;
  std::uint64_t m_lead = 0;
  std::size_t m_length = 0;
  std::uint64_t m_cut = 0;
  std::uint64_t m_starts = 0;
};

#if defined(__x86_64__)
// Takes 16-, 32- or 64-byte blocks at p while they hold only ASCII and three-byte sequences
// that are ordinary characters (no line break, surrogate or overlong form), stopping at
// a block of ASCII alone (the ASCII path is faster), where such a sequence ends, or when
// fewer than width + 2 bytes are left. `start` is the state before p.
Utf8Blocks TakeUtf8BlocksSsse3(const unsigned char* p, std::size_t size, Utf8Blocks start);
Utf8Blocks TakeUtf8BlocksAvx2(const unsigned char* p, std::size_t size, Utf8Blocks start);
Utf8Blocks TakeUtf8BlocksAvx512(const unsigned char* p, std::size_t size, Utf8Blocks start);
#endif

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

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

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): bit positions, byte patterns and lane counts

enum class Kernel {
  kScalar,  // any CPU, any byte order
  kSsse3,   // x86-64 with SSSE3 and POPCNT (every one since 2008 or so)
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

// SSSE3 has no gather, so its UTF-16 measure is the scalar one: a table look-up per unit
// either way. The AVX2 one gathers each unit's word of the bitmap, eight at a time.
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

// The kernels transcode as they go: each block's characters become their UTF-16 code
// units, packed one after another, and every 64 of them are measured as the window's text
// is, a table look-up each with no branch, runs from the double-byte mask. A look-up per
// lead where it stands cost a mispredicted branch per block, and gathers are slow.
struct PendingUnits {
  // Fewer than 64 not measured yet, plus at most a block's 32 new ones.
  alignas(32) char16_t units[kMbcsBlock + 32];
  std::size_t count = 0;
  std::uint64_t carry = 0;  // 1 when the unit before them was double-byte
  std::int64_t bytes = 0;
  std::int64_t runs = 0;

  void Measure(std::size_t n) {
    const std::uint64_t mask = DoubleByteMaskScalar(units, n);
    bytes += static_cast<std::int64_t>(n) + std::popcount(mask);
    // A run starts at a double-byte unit whose predecessor is single-byte.
    runs += std::popcount(mask & ~((mask << 1) | carry));
    carry = (mask >> (n - 1)) & 1u;
  }
  // Measures 64 once there are as many.
  void MeasureFull() {
    if (count < kMbcsBlock) return;
    Measure(kMbcsBlock);
    count -= kMbcsBlock;
    // Fewer than 32 are left; copying all 32 places is one fixed move.
    std::memcpy(units, units + kMbcsBlock, 32 * sizeof(char16_t));
  }
  void MeasureRest() {
    if (count > 0) Measure(count);
    count = 0;
  }
};

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
  const std::uint64_t within = length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
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
template <std::size_t kWidth>
class Utf8BlockWalk {
 public:
  static constexpr std::uint64_t kAll = (std::uint64_t{1} << kWidth) - 1;

  [[gnu::always_inline]] Utf8BlockWalk(Utf8Blocks start, PendingUnits& pending)
      : m_afterCr(start.afterCr) {
    pending.carry = start.endsDouble ? 1 : 0;
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
  [[gnu::always_inline]] bool Take(const Utf8BlockMasks& m, PendingUnits& pending) {
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
      m_starts = (m.ascii | m.lead) & ((std::uint64_t{1} << m_length) - 1) & ~m_cut;
    }
    return true;
  }

  // Bit i for each character that starts at byte i of the block and is taken with it: the
  // kernel adds their code units, in order, to the pending ones.
  std::uint64_t Starts() const { return m_starts; }

  // Measures the pending units once there are 64; moves to the next block (q is this one)
  // unless this one ended the blocks.
  [[gnu::always_inline]] bool Advance(const unsigned char* q, PendingUnits& pending) {
    pending.MeasureFull();
    if (m_stop != 0) {
      m_end = m_at + m_length;
      m_stopped = true;
      return false;
    }
    m_claimedIn = (((m_lead << 1) | (m_lead << 2)) >> kWidth) & 3u;
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
  [[gnu::always_inline]] Utf8Blocks Finish(PendingUnits& pending) {
    if (!m_stopped) m_end = m_claimedIn != 0 ? m_carriedLead : m_at;
    pending.MeasureRest();
    return {m_end, m_bytes + pending.bytes, pending.runs, m_afterCr, pending.carry != 0};
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
// Takes 16- or 32-byte blocks at p while they hold only ASCII and three-byte sequences
// that are ordinary characters (no line break, surrogate or overlong form), stopping at
// a block of ASCII alone (the ASCII path is faster), where such a sequence ends, or when
// fewer than width + 2 bytes are left. `start` is the state before p.
Utf8Blocks TakeUtf8BlocksSsse3(const unsigned char* p, std::size_t size, Utf8Blocks start);
Utf8Blocks TakeUtf8BlocksAvx2(const unsigned char* p, std::size_t size, Utf8Blocks start);
#endif

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

#include "measure/ascii_blocks.h"

#include <bit>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): bit and byte positions in 64-bit words
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080u;
constexpr std::uint64_t kLowSeven = 0x7F7F7F7F7F7F7F7Fu;
constexpr std::uint64_t kEveryByte = 0x0101010101010101u;

// Eight bytes with the first one in the lowest bits, on any CPU.
std::uint64_t Load8(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Bits 0..7 of the result are the high bits of bytes 0..7 of x.
std::uint64_t PackHighBits(std::uint64_t x) {
  return (((x & kHighBits) >> 7) * 0x0102040810204080u) >> 56;
}

// The high bit of every byte of `ascii` (all below 0x80) that equals c. No byte can
// carry into the next, so the mask is exact.
std::uint64_t BytesEqual(std::uint64_t ascii, unsigned char c) {
  const std::uint64_t x = ascii ^ (kEveryByte * c);
  return ~(x + kLowSeven) & kHighBits;
}

}  // namespace

// A CR and a lone LF each stand for a whole CR LF, so a block's bytes are its 64, plus one
// for every CR and every LF, less two for every CR LF pair.
AsciiBlocks TakeAsciiBlocksInWords(const unsigned char* p, std::size_t size, bool afterCr) {
  AsciiBlocks taken;
  taken.endsInCr = afterCr;
  for (std::size_t& i = taken.length; i + kAsciiBlock <= size; i += kAsciiBlock) {
    std::uint64_t words[kAsciiBlock / 8];
    std::uint64_t any = 0;
    for (std::size_t k = 0; k < kAsciiBlock / 8; ++k) any |= words[k] = Load8(p + i + 8 * k);
    if (any & kHighBits) break;
    std::uint64_t cr = 0;  // bit j for byte j
    std::uint64_t lf = 0;
    for (std::size_t k = 0; k < kAsciiBlock / 8; ++k) {
      cr |= PackHighBits(BytesEqual(words[k], '\r')) << (8 * k);
      lf |= PackHighBits(BytesEqual(words[k], '\n')) << (8 * k);
    }
    const std::uint64_t crLf = ((cr << 1) | std::uint64_t{taken.endsInCr}) & lf;
    taken.bytes += static_cast<std::int64_t>(kAsciiBlock) + std::popcount(cr) + std::popcount(lf) -
                   std::int64_t{2} * std::popcount(crLf);
    taken.endsInCr = (cr >> 63) != 0;
  }
  return taken;
}

#if defined(__x86_64__)
__attribute__((target("avx2,popcnt"))) AsciiBlocks TakeAsciiBlocksAvx2(const unsigned char* p,
                                                                       std::size_t size,
                                                                       bool afterCr) {
  const __m256i cr = _mm256_set1_epi8('\r');
  const __m256i lf = _mm256_set1_epi8('\n');
  AsciiBlocks taken;
  taken.endsInCr = afterCr;
  for (std::size_t& i = taken.length; i + kAsciiBlock <= size; i += kAsciiBlock) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
    if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) != 0) break;
    // Bit j for byte j of the block. (A lambda would not have AVX2.)
    const std::uint64_t crs =
        std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, cr)))} |
        std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, cr)))}
            << 32;
    const std::uint64_t lfs =
        std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, lf)))} |
        std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, lf)))}
            << 32;
    const std::uint64_t crLf = ((crs << 1) | std::uint64_t{taken.endsInCr}) & lfs;
    taken.bytes += static_cast<std::int64_t>(kAsciiBlock) + __builtin_popcountll(crs) +
                   __builtin_popcountll(lfs) - std::int64_t{2} * __builtin_popcountll(crLf);
    taken.endsInCr = (crs >> 63) != 0;
  }
  // Cleared here rather than left to the compiler, which does it only when optimizing: the
  // SSE code after a kernel waits on upper halves left in use.
  _mm256_zeroupper();
  return taken;
}
#endif

bool HasAvx2() {
#if defined(__x86_64__)
  static const bool kHasAvx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  return kHasAvx2;
#else
  return false;
#endif
}

AsciiBlocks TakeAsciiBlocks(const unsigned char* p, std::size_t size, bool afterCr) {
#if defined(__x86_64__)
  if (HasAvx2()) return TakeAsciiBlocksAvx2(p, size, afterCr);
#endif
  return TakeAsciiBlocksInWords(p, size, afterCr);
}

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

// The SSSE3 kernel (with POPCNT), 16 bytes at a time: the AVX2 one's steps on half the
// width, for the CPUs without AVX2. For UTF-16, the scalar code with POPCNT. Chosen at run time
// where the CPU has both.
#if defined(__x86_64__)

#include <tmmintrin.h>

#include <bit>

#include "measure/kernels.h"

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): bit patterns of UTF-8 and lanes of vectors

// POPCNT as well: without it every popcount is a library call.
#define KELMO_SSSE3 __attribute__((target("ssse3,popcnt")))

namespace {

KELMO_SSSE3 std::uint64_t Movemask(__m128i bytes) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(bytes));
}
KELMO_SSSE3 __m128i Set1(int c) { return _mm_set1_epi8(static_cast<char>(c)); }
KELMO_SSSE3 __m128i Equal(__m128i a, __m128i b) { return _mm_cmpeq_epi8(a, b); }
KELMO_SSSE3 __m128i Both(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
KELMO_SSSE3 __m128i Either(__m128i a, __m128i b) { return _mm_or_si128(a, b); }

}  // namespace

// POPCNT alone: the AVX2 kernel takes this walk too, and KernelsFor does not ask for SSSE3
// there.
__attribute__((target("popcnt"))) void TallyBlocksPopcnt(const char16_t* p, std::size_t blocks,
                                                         MbcsTally& tally) {
  TallyBlocks(p, blocks, tally);
}

// Blocks of 16 bytes, walked as Utf8BlockWalk says.
KELMO_SSSE3 Utf8Blocks TakeUtf8BlocksSsse3(const unsigned char* p, std::size_t size,
                                           Utf8Blocks start) {
  using Pending = PendingUnits<kMbcsBlock, TallyBlocks>;
  using Walk = Utf8BlockWalk<16, Pending>;
  const __m128i zero = _mm_setzero_si128();
  Pending pending;
  Walk walk(start, pending);
  while (walk.More(size)) {
    const unsigned char* q = p + walk.At();
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
    const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2));
    Utf8BlockMasks m{};
    m.ascii = ~Movemask(b0) & Walk::kAll;
    if (walk.AsciiOnly(m.ascii)) break;
    m.cr = Movemask(Equal(b0, Set1('\r')));
    m.lf = Movemask(Equal(b0, Set1('\n')));
    const __m128i isLead = Equal(Both(b0, Set1(0xF0)), Set1(0xE0));
    m.lead = Movemask(isLead);
    m.continuation = Movemask(Equal(Both(b0, Set1(0xC0)), Set1(0x80)));
    // As in the AVX2 kernel: E0 overlong, ED surrogate, E2 80 A8/A9 and EF B7 90/91 are
    // left to the scalar code.
    const __m128i e0 = Equal(b0, Set1(0xE0));
    const __m128i ed = Equal(b0, Set1(0xED));
    const __m128i e2 = Both(Equal(b0, Set1(0xE2)), Equal(b1, Set1(0x80)));
    const __m128i ef = Both(Equal(b0, Set1(0xEF)), Equal(b1, Set1(0xB7)));
    if (Movemask(Either(Either(e0, ed), Either(e2, ef))) != 0) {
      const __m128i second20 = Equal(Both(b1, Set1(0x20)), zero);
      const __m128i thirdEven = Both(b2, Set1(0xFE));
      const __m128i special = Either(
          Either(Both(e0, second20), _mm_andnot_si128(second20, ed)),
          Either(Both(e2, Equal(thirdEven, Set1(0xA8))), Both(ef, Equal(thirdEven, Set1(0x90)))));
      m.special = Movemask(special) & m.lead;
    }
    if (!walk.Take(m, pending)) break;
    if (const std::uint64_t starts = walk.Starts(); starts != 0) {
      // Each unit's high and low byte, as in the AVX2 kernel; for ASCII 0 and the byte.
      const __m128i high = Both(isLead, Either(Both(_mm_slli_epi16(b0, 4), Set1(0xF0)),
                                               Both(_mm_srli_epi16(b1, 2), Set1(0x0F))));
      const __m128i low = Either(
          _mm_andnot_si128(isLead, b0),
          Both(isLead, Either(Both(_mm_slli_epi16(b1, 6), Set1(0xC0)), Both(b2, Set1(0x3F)))));
      const __m128i eights[2] = {_mm_unpacklo_epi8(low, high), _mm_unpackhi_epi8(low, high)};
      // The count in a register: a vector store may alias anything, so pending.count
      // would be stored and loaded again around every one.
      std::size_t count = pending.count;
      for (int k = 0; k < 2; ++k) {
        const auto mask = static_cast<unsigned>((starts >> (8 * k)) & 0xFFu);
        const __m128i packed = _mm_shuffle_epi8(
            eights[k],
            _mm_load_si128(reinterpret_cast<const __m128i*>(kPackPatterns.pattern[mask])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pending.units + count), packed);
        count += static_cast<std::size_t>(std::popcount(mask));
      }
      pending.count = count;
    }
    if (!walk.Advance(q, pending)) break;
  }
  return walk.Finish(pending);
}

#undef KELMO_SSSE3

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

#endif  // __x86_64__

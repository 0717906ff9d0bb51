// The AVX2 kernels (with BMI1 and POPCNT): 32 code units or bytes at a time. Chosen at run
// time, so every function here carries its target and is called only where HasAvx2().
#if defined(__x86_64__)

#include <immintrin.h>

#include <bit>
#include <cstring>

#include "measure/kernels.h"

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): bit patterns of UTF-8 and lanes of vectors

#define KELMO_AVX2 __attribute__((target("avx2,bmi,popcnt")))

namespace {

KELMO_AVX2 std::uint64_t Movemask(__m256i bytes) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
}
KELMO_AVX2 __m256i Set1(int c) { return _mm256_set1_epi8(static_cast<char>(c)); }
KELMO_AVX2 __m256i Equal(__m256i a, __m256i b) { return _mm256_cmpeq_epi8(a, b); }
KELMO_AVX2 __m256i Both(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }

}  // namespace

// Blocks of 32 bytes, walked as Utf8BlockWalk says.
KELMO_AVX2 Utf8Blocks TakeUtf8BlocksAvx2(const unsigned char* p, std::size_t size,
                                         Utf8Blocks start) {
  using Pending = PendingUnits<kMbcsBlock, TallyBlocks>;
  using Walk = Utf8BlockWalk<32, Pending>;
  const __m256i zero = _mm256_setzero_si256();
  Pending pending;
  Walk walk(start, pending);
  while (walk.More(size)) {
    const unsigned char* q = p + walk.At();
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 1));
    const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 2));
    Utf8BlockMasks m{};
    m.ascii = ~Movemask(b0) & Walk::kAll;
    if (walk.AsciiOnly(m.ascii)) break;
    m.cr = Movemask(Equal(b0, Set1('\r')));
    m.lf = Movemask(Equal(b0, Set1('\n')));
    const __m256i isLead = Equal(Both(b0, Set1(0xF0)), Set1(0xE0));
    m.lead = Movemask(isLead);
    m.continuation = Movemask(Equal(Both(b0, Set1(0xC0)), Set1(0x80)));
    // The sequences the scalar code decodes itself: E0 with a second byte below A0
    // (overlong), ED with one from A0 (a surrogate), and the editor's line breaks U+2028,
    // U+2029 (E2 80 A8/A9), U+FDD0 and U+FDD1 (EF B7 90/91). Only leads count here, and
    // only blocks with one of those four leads need the look.
    const __m256i e0 = Equal(b0, Set1(0xE0));
    const __m256i ed = Equal(b0, Set1(0xED));
    // E2 and EF lead many ordinary characters (… ― “ ” and the full-width forms), so the
    // look is taken only for E2 80 and EF B7, which keeps the branch predictable.
    const __m256i e2 = Both(Equal(b0, Set1(0xE2)), Equal(b1, Set1(0x80)));
    const __m256i ef = Both(Equal(b0, Set1(0xEF)), Equal(b1, Set1(0xB7)));
    if (Movemask(_mm256_or_si256(_mm256_or_si256(e0, ed), _mm256_or_si256(e2, ef))) != 0) {
      const __m256i second20 = Equal(Both(b1, Set1(0x20)), zero);
      const __m256i thirdEven = Both(b2, Set1(0xFE));
      const __m256i special =
          _mm256_or_si256(_mm256_or_si256(Both(e0, second20), _mm256_andnot_si256(second20, ed)),
                          _mm256_or_si256(Both(e2, Equal(thirdEven, Set1(0xA8))),
                                          Both(ef, Equal(thirdEven, Set1(0x90)))));
      m.special = Movemask(special) & m.lead;
    }
    if (!walk.Take(m, pending)) break;
    if (const std::uint64_t starts = walk.Starts(); starts != 0) {
      // A character starts at each ASCII byte and each lead: its unit is the byte, or the
      // sequence decoded, in byte lanes: (b0 & 0F) << 4 | b1 >> 2 & 0F and b1 << 6 | b2 &
      // 3F for a lead, 0 and the byte itself for ASCII. (AVX2 shifts only 16-bit lanes;
      // the masks keep each byte's own bits.)
      const __m256i high =
          Both(isLead, _mm256_or_si256(Both(_mm256_slli_epi16(b0, 4), Set1(0xF0)),
                                       Both(_mm256_srli_epi16(b1, 2), Set1(0x0F))));
      const __m256i low = _mm256_blendv_epi8(
          b0, _mm256_or_si256(Both(_mm256_slli_epi16(b1, 6), Set1(0xC0)), Both(b2, Set1(0x3F))),
          isLead);
      // Interleaved, units of positions 0-7 and 16-23, then 8-15 and 24-31; each eight
      // packed to the ones that start a character and added to the pending ones.
      const __m256i unitsLow = _mm256_unpacklo_epi8(low, high);
      const __m256i unitsHigh = _mm256_unpackhi_epi8(low, high);
      const __m128i eights[4] = {
          _mm256_castsi256_si128(unitsLow), _mm256_castsi256_si128(unitsHigh),
          _mm256_extracti128_si256(unitsLow, 1), _mm256_extracti128_si256(unitsHigh, 1)};
      // The count in a register: a vector store may alias anything, so pending.count
      // would be stored and loaded again around every one.
      std::size_t count = pending.count;
      for (int k = 0; k < 4; ++k) {
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
  const Utf8Blocks taken = walk.Finish(pending);
  _mm256_zeroupper();  // as the SSE code after it needs (see TakeAsciiBlocksAvx2)
  return taken;
}

#undef KELMO_AVX2

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

#endif  // __x86_64__

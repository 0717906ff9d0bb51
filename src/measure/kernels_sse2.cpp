// The SSE2 kernel (with POPCNT), 16 bytes at a time. Chosen at run time where HasPopcnt().
#if defined(__x86_64__)

#include <emmintrin.h>

#include "measure/kernels.h"

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): bit patterns of UTF-8 and lanes of vectors

// POPCNT as well: without it every popcount is a library call, and the kernel is slower
// than the scalar code. Every x86-64 CPU since 2008 has it.
#define KELMO_SSE2 __attribute__((target("popcnt")))

namespace {

KELMO_SSE2 std::uint64_t Movemask(__m128i bytes) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(bytes));
}
KELMO_SSE2 __m128i Set1(int c) { return _mm_set1_epi8(static_cast<char>(c)); }
KELMO_SSE2 __m128i Equal(__m128i a, __m128i b) { return _mm_cmpeq_epi8(a, b); }
KELMO_SSE2 __m128i Both(__m128i a, __m128i b) { return _mm_and_si128(a, b); }

}  // namespace

KELMO_SSE2 Utf8Blocks TakeUtf8BlocksSse2(const unsigned char* p, std::size_t size, Utf8Blocks start,
                                         const std::uint32_t* bits) {
  constexpr std::size_t kWidth = 16;
  const __m128i zero = _mm_setzero_si128();
  Utf8Blocks taken{0, 0, 0, start.afterCr, start.endsDouble};
  alignas(16) std::uint16_t units[kWidth];
  // The loads of the second and third byte of a lead at the block's end reach two bytes on.
  while (size - taken.length >= kWidth + 2) {
    const unsigned char* q = p + taken.length;
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
    const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2));
    Utf8BlockMasks m{};
    m.ascii = ~Movemask(b0) & 0xFFFFu;
    if (m.ascii == 0xFFFFu) break;
    m.cr = Movemask(Equal(b0, Set1('\r')));
    m.lf = Movemask(Equal(b0, Set1('\n')));
    m.lead = Movemask(Equal(Both(b0, Set1(0xF0)), Set1(0xE0)));
    m.continuation = Movemask(Equal(Both(b0, Set1(0xC0)), Set1(0x80)));
    // As in the AVX2 kernel: E0 overlong, ED surrogate, E2 80 A8/A9 and EF B7 90/91.
    const __m128i second20 = Equal(Both(b1, Set1(0x20)), zero);
    const __m128i thirdEven = Both(b2, Set1(0xFE));
    const __m128i special = _mm_or_si128(
        _mm_or_si128(Both(Equal(b0, Set1(0xE0)), second20),
                     _mm_andnot_si128(second20, Equal(b0, Set1(0xED)))),
        _mm_or_si128(
            Both(Both(Equal(b0, Set1(0xE2)), Equal(b1, Set1(0x80))), Equal(thirdEven, Set1(0xA8))),
            Both(Both(Equal(b0, Set1(0xEF)), Equal(b1, Set1(0xB7))),
                 Equal(thirdEven, Set1(0x90)))));
    m.special = Movemask(special) & m.lead;
    const std::size_t length = PlainLength(m, kWidth);
    if (length == 0) break;
    const std::uint64_t leads = m.lead & ((std::uint64_t{1} << length) - 1);
    if (leads != 0) {
      // Each position's code unit as if a lead stood there; only the leads' are read.
      const __m128i low4 = _mm_set1_epi16(0x0F);
      const __m128i low6 = _mm_set1_epi16(0x3F);
      const __m128i halves[2][3] = {
          {_mm_unpacklo_epi8(b0, zero), _mm_unpacklo_epi8(b1, zero), _mm_unpacklo_epi8(b2, zero)},
          {_mm_unpackhi_epi8(b0, zero), _mm_unpackhi_epi8(b1, zero), _mm_unpackhi_epi8(b2, zero)}};
      for (int half = 0; half < 2; ++half) {
        const __m128i unit =
            _mm_or_si128(_mm_or_si128(_mm_slli_epi16(Both(halves[half][0], low4), 12),
                                      _mm_slli_epi16(Both(halves[half][1], low6), 6)),
                         Both(halves[half][2], low6));
        _mm_store_si128(reinterpret_cast<__m128i*>(units + 8 * half), unit);
      }
    }
    AccountPlain(m, DoubleByteLeads(units, leads, bits), length, taken);
  }
  return taken;
}

#undef KELMO_SSE2

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

#endif  // __x86_64__

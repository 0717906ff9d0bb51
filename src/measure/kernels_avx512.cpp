// The AVX-512 kernels (BW and VBMI2, with BMI2 and POPCNT): UTF-16 text 32 code units at
// a time, UTF-8 64 bytes at a time. Chosen at run time, so every function here carries
// its target and is called only where the CPU has them (AvailableKernels()).
#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <bit>

#include "measure/kernels.h"

namespace kelmo {

// NOLINTBEGIN(readability-magic-numbers): code unit ranges and lanes of vectors

#define KELMO_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))

namespace {

// A look-up in the width table costs two loads per unit however it is made (a gather is
// no faster), so the kernel makes as few as it can. ASCII is single-byte. The pages U+30xx
// (kana and CJK punctuation) and U+FFxx (full-width forms, half-width kana) are 512 bits,
// one register, so their units are answered in it. Only the others (kanji, mostly) need
// the table: they are packed together, looked up in one pass over a batch of blocks with
// the scalar code's chains, and their bits put back in place with PDEP.
constexpr std::size_t kBatch = 16;  // blocks of 64 units

KELMO_AVX512 __m512i Bytes(int c) { return _mm512_set1_epi8(static_cast<char>(c)); }
KELMO_AVX512 std::uint64_t Equal(__m512i a, __m512i b) { return _mm512_cmpeq_epi8_mask(a, b); }

// The 32 bytes at q, each widened to a 16-bit lane. (Loaded again rather than taken
// from the 64-byte vector: GCC 12 warns about its own header on the extract.)
KELMO_AVX512 __m512i Widen(const unsigned char* q) {
  return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
}

KELMO_AVX512 void TallyBatch(const char16_t* p, std::size_t blocks, const Cp932Widths& widths,
                             MbcsTally& tally) {
  const __m512i pageBits = _mm512_loadu_si512(Cp932PageBits());
  const __m512i ascii = _mm512_set1_epi16(0x80);
  const __m512i kana = _mm512_set1_epi16(0x30);
  const __m512i fullWidth = _mm512_set1_epi16(0xFF);
  const __m512i low4 = _mm512_set1_epi16(15);
  const __m512i one = _mm512_set1_epi16(1);

  // The units that need the table, packed, then zeros (single-byte) to a whole block;
  // which units of each block they were; the bits the register gave.
  alignas(64) char16_t looked[(kBatch + 1) * kMbcsBlock];
  std::uint64_t needs[kBatch];
  std::uint64_t masks[kBatch];
  std::size_t count = 0;
  for (std::size_t b = 0; b < blocks; ++b) {
    std::uint64_t known = 0;
    std::uint64_t need = 0;
    for (std::size_t half = 0; half < 2; ++half) {
      const __m512i u = _mm512_loadu_si512(p + b * kMbcsBlock + half * 32);
      const __mmask32 single = _mm512_cmplt_epu16_mask(u, ascii);
      if (single == 0xFFFFFFFFu) continue;
      const __m512i page = _mm512_srli_epi16(u, 8);
      const __mmask32 inRegister =
          _mm512_cmpeq_epi16_mask(page, kana) | _mm512_cmpeq_epi16_mask(page, fullWidth);
      // Bits 4-7 of a unit pick the word of its page, bit 8 the page (0 for U+30xx, 1 for
      // U+FFxx): VPERMW reads only those five bits of the index.
      const __m512i word = _mm512_permutexvar_epi16(_mm512_srli_epi16(u, 4), pageBits);
      const __mmask32 isDouble =
          _mm512_test_epi16_mask(_mm512_srlv_epi16(word, _mm512_and_si512(u, low4)), one);
      const auto others = static_cast<__mmask32>(~(single | inRegister));
      _mm512_storeu_si512(looked + count, _mm512_maskz_compress_epi16(others, u));
      count += static_cast<std::size_t>(std::popcount(static_cast<std::uint32_t>(others)));
      known |= std::uint64_t{static_cast<std::uint32_t>(inRegister & isDouble)} << (32 * half);
      need |= std::uint64_t{others} << (32 * half);
    }
    masks[b] = known;
    needs[b] = need;
  }
  _mm512_storeu_si512(looked + count, _mm512_setzero_si512());
  _mm512_storeu_si512(looked + count + 32, _mm512_setzero_si512());

  // Their bits, in the order they were packed; one word more, of zeros, for the reads
  // below that reach past the last.
  std::uint64_t bits[kBatch + 1] = {};
  for (std::size_t at = 0; at < count; at += kMbcsBlock) {
    bits[at / kMbcsBlock] = DoubleByteMask(widths, looked + at);
  }
  MbcsTally local = tally;  // in registers, as in TallyBlocks
  std::size_t at = 0;
  for (std::size_t b = 0; b < blocks; ++b) {
    // The next bits from `at` on, across a word's end (shifted in two steps, since a
    // shift by 64 is undefined).
    const std::size_t shift = at % 64;
    const std::uint64_t next =
        (bits[at / 64] >> shift) | ((bits[at / 64 + 1] << 1) << (63 - shift));
    local.Add(masks[b] | _pdep_u64(next, needs[b]), kMbcsBlock);
    at += static_cast<std::size_t>(std::popcount(needs[b]));
  }
  tally = local;
}

}  // namespace

KELMO_AVX512 void TallyBlocksAvx512(const char16_t* p, std::size_t blocks, MbcsTally& tally) {
  if (blocks == 0) return;
  const Cp932Widths& widths = Cp932WidthTable();
  const __m512i notAscii = _mm512_set1_epi16(static_cast<short>(0xFF80));
  for (std::size_t b = 0; b < blocks;) {
    const char16_t* q = p + b * kMbcsBlock;
    const __m512i both = _mm512_or_si512(_mm512_loadu_si512(q), _mm512_loadu_si512(q + 32));
    if (_mm512_test_epi16_mask(both, notAscii) == 0) {
      // A block of ASCII alone, passed over as by the scalar code.
      tally.carry = 0;
      ++b;
      continue;
    }
    const std::size_t batch = std::min(blocks - b, kBatch);
    TallyBatch(q, batch, widths, tally);
    b += batch;
  }
  _mm256_zeroupper();  // as the SSE code after it needs (see TakeAsciiBlocksAvx2)
}

// Blocks of 64 bytes, walked as Utf8BlockWalk says; the units are measured a thousand at
// a time by TallyBlocksAvx512.
KELMO_AVX512 Utf8Blocks TakeUtf8BlocksAvx512(const unsigned char* p, std::size_t size,
                                             Utf8Blocks start) {
  using Pending = PendingUnits<kBatch * kMbcsBlock, TallyBlocksAvx512>;
  using Walk = Utf8BlockWalk<64, Pending>;
  Pending pending;
  Walk walk(start, pending);
  while (walk.More(size)) {
    const unsigned char* q = p + walk.At();
    const __m512i b0 = _mm512_loadu_si512(q);
    const __m512i b1 = _mm512_loadu_si512(q + 1);
    const __m512i b2 = _mm512_loadu_si512(q + 2);
    Utf8BlockMasks m{};
    m.ascii = _mm512_cmplt_epu8_mask(b0, Bytes(0x80));
    if (walk.AsciiOnly(m.ascii)) break;
    m.cr = Equal(b0, Bytes('\r'));
    m.lf = Equal(b0, Bytes('\n'));
    m.lead = Equal(_mm512_and_si512(b0, Bytes(0xF0)), Bytes(0xE0));
    m.continuation = Equal(_mm512_and_si512(b0, Bytes(0xC0)), Bytes(0x80));
    // As in the AVX2 kernel: E0 overlong, ED surrogate, E2 80 A8/A9 and EF B7 90/91 are
    // left to the scalar code.
    const std::uint64_t e0 = Equal(b0, Bytes(0xE0));
    const std::uint64_t ed = Equal(b0, Bytes(0xED));
    const std::uint64_t e2 = Equal(b0, Bytes(0xE2)) & Equal(b1, Bytes(0x80));
    const std::uint64_t ef = Equal(b0, Bytes(0xEF)) & Equal(b1, Bytes(0xB7));
    if ((e0 | ed | e2 | ef) != 0) {
      const std::uint64_t second20 = _mm512_testn_epi8_mask(b1, Bytes(0x20));
      const __m512i thirdEven = _mm512_and_si512(b2, Bytes(0xFE));
      m.special = ((e0 & second20) | (ed & ~second20) | (e2 & Equal(thirdEven, Bytes(0xA8))) |
                   (ef & Equal(thirdEven, Bytes(0x90)))) &
                  m.lead;
    }
    if (!walk.Take(m, pending)) break;
    if (const std::uint64_t starts = walk.Starts(); starts != 0) {
      // Each half's bytes widened to 16-bit lanes; a lead's unit is (b0 & 0F) << 12 |
      // (b1 & 3F) << 6 | b2 & 3F, an ASCII byte's the byte. The units of the characters
      // that start here are packed onto the pending ones.
      std::size_t count = pending.count;  // in a register, as in the AVX2 kernel
      for (std::size_t half = 0; half < 2; ++half) {
        const auto halfStarts = static_cast<__mmask32>(starts >> (32 * half));
        const unsigned char* at = q + 32 * half;
        const __m512i x0 = Widen(at);
        const __m512i x1 = Widen(at + 1);
        const __m512i x2 = Widen(at + 2);
        const __m512i low6 = _mm512_set1_epi16(0x3F);
        const __m512i decoded =
            _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi16(x0, 12),
                                            _mm512_slli_epi16(_mm512_and_si512(x1, low6), 6)),
                            _mm512_and_si512(x2, low6));
        const __m512i units =
            _mm512_mask_blend_epi16(static_cast<__mmask32>(m.lead >> (32 * half)), x0, decoded);
        _mm512_storeu_si512(pending.units + count, _mm512_maskz_compress_epi16(halfStarts, units));
        count += static_cast<std::size_t>(std::popcount(static_cast<std::uint32_t>(halfStarts)));
      }
      pending.count = count;
    }
    if (!walk.Advance(q, pending)) break;
  }
  const Utf8Blocks taken = walk.Finish(pending);
  _mm256_zeroupper();  // as the SSE code after it needs (see TakeAsciiBlocksAvx2)
  return taken;
}

#undef KELMO_AVX512

// NOLINTEND(readability-magic-numbers)

}  // namespace kelmo

#endif  // __x86_64__

// Every kernel this CPU can run against the scalar one, which is the reference: the whole
// Basic Multilingual Plane, surrogates, and random texts fed in every split into chunks.
#include "measure/kernels.h"

#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/utf8.h"
#include "measure/mbcs.h"
#include "measure/utf8_counter.h"
#include "support/text.h"

namespace kelmo {
namespace {

// The vector kernels only: each is compared with Kernel::kScalar.
std::vector<Kernel> VectorKernels() {
  std::vector<Kernel> kernels = AvailableKernels();
  kernels.erase(kernels.begin());
  return kernels;
}

TEST(kernels, scalar_first_and_the_fastest_among_them) {
  const std::vector<Kernel> kernels = AvailableKernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.front(), Kernel::kScalar);
  EXPECT_NE(std::find(kernels.begin(), kernels.end(), FastestKernel()), kernels.end());
  for (const Kernel kernel : kernels) std::cout << "kernel: " << KernelName(kernel) << '\n';
#if defined(__x86_64__)
  if (kernels.size() < 2) GTEST_SKIP() << "this x86-64 CPU has no POPCNT: only the scalar code";
#endif
}

TEST(kernels, page_bits_are_the_width_table) {
  const Cp932Widths& widths = Cp932WidthTable();
  const std::uint16_t* pages = Cp932PageBits();
  for (const unsigned page : {0x3000u, 0xFF00u}) {
    for (unsigned k = 0; k < 256; ++k) {
      const unsigned word = (page == 0x3000u ? 0 : 16) + k / 16;
      ASSERT_EQ((pages[word] >> (k % 16)) & 1u,
                widths.IsDoubleByte(static_cast<char16_t>(page + k)))
          << std::hex << page + k;
    }
  }
}

// A kernel is offered only where the CPU has every extension it is compiled for: one
// missing (as a virtual machine may hide any of them) and its instructions would fault.
TEST(kernels, offered_only_with_every_extension_they_use) {
  CpuFeatures all;
  all.ssse3 = all.popcnt = all.avx2 = all.bmi = all.bmi2 = true;
  all.avx512f = all.avx512bw = all.avx512vbmi2 = true;
  const auto without = [&all](bool CpuFeatures::*feature) {
    CpuFeatures cpu = all;
    cpu.*feature = false;
    return cpu;
  };
  const std::vector<Kernel> upToSsse3 = {Kernel::kScalar, Kernel::kSsse3};
  const std::vector<Kernel> upToAvx2 = {Kernel::kScalar, Kernel::kSsse3, Kernel::kAvx2};
  struct Row {
    const char* name;
    CpuFeatures cpu;
    std::vector<Kernel> expected;
  };
  const Row rows[] = {
      {"nothing", CpuFeatures{}, {Kernel::kScalar}},
      {"everything", all, {Kernel::kScalar, Kernel::kSsse3, Kernel::kAvx2, Kernel::kAvx512}},
      {"no POPCNT", without(&CpuFeatures::popcnt), {Kernel::kScalar}},
      {"no SSSE3", without(&CpuFeatures::ssse3), {Kernel::kScalar, Kernel::kAvx2, Kernel::kAvx512}},
      {"no AVX2", without(&CpuFeatures::avx2), upToSsse3},
      {"no BMI1", without(&CpuFeatures::bmi), upToSsse3},
      {"no BMI2", without(&CpuFeatures::bmi2), upToAvx2},
      {"no AVX-512 F", without(&CpuFeatures::avx512f), upToAvx2},
      {"no AVX-512 BW", without(&CpuFeatures::avx512bw), upToAvx2},
      {"no AVX-512 VBMI2", without(&CpuFeatures::avx512vbmi2), upToAvx2},
  };
  for (const Row& row : rows) {
    std::vector<std::string_view> names;
    for (const Kernel kernel : KernelsFor(row.cpu)) names.push_back(KernelName(kernel));
    std::vector<std::string_view> expected;
    for (const Kernel kernel : row.expected) expected.push_back(KernelName(kernel));
    EXPECT_EQ(names, expected) << row.name;
  }
}

// --- UTF-16 -------------------------------------------------------------------------------

// Every code unit, surrogate halves included, in order and between ASCII or kana, at every
// alignment to the 64-unit blocks.
TEST(kernels_utf16, whole_bmp_at_every_alignment) {
  std::u16string inOrder;
  std::u16string betweenAscii;
  std::u16string betweenKana;
  for (unsigned unit = 0; unit < 65536; ++unit) {
    const auto c = static_cast<char16_t>(unit);
    inOrder += c;
    betweenAscii += {c, u'a'};
    betweenKana += {c, c, u'あ'};
  }
  for (const Kernel kernel : VectorKernels()) {
    SCOPED_TRACE(KernelName(kernel));
    for (const std::u16string* text : {&inOrder, &betweenAscii, &betweenKana}) {
      for (std::size_t offset = 0; offset < kMbcsBlock; ++offset) {
        const std::u16string_view view = std::u16string_view(*text).substr(offset);
        ASSERT_EQ(MeasureMbcs(view, kernel), MeasureMbcs(view, Kernel::kScalar))
            << "offset " << offset;
      }
    }
  }
}

TEST(kernels_utf16, random_texts_with_surrogates) {
  // Pairs, lone halves, and the characters around them.
  const std::u16string alphabet = u"a\r\nあ漢ｱé〜\U0001F600\U00020BB7" +
                                  std::u16string{u'\xD800', u'\xDBFF', u'\xDC00', u'\xDFFF'};
  testing::RandomText random(16);
  for (int round = 0; round < 3000; ++round) {
    const std::u16string text = random.From(alphabet, random.Upto(300));
    for (const Kernel kernel : VectorKernels()) {
      ASSERT_EQ(MeasureMbcs(text, kernel), MeasureMbcs(text, Kernel::kScalar))
          << KernelName(kernel) << " round " << round;
    }
  }
}

// Texts of thousands of units, so that the AVX-512 kernel fills whole batches: the units
// it answers in a register (kana, CJK punctuation and its gaps, full-width and half-width
// forms) among those it looks up (kanji in and out of code page 932, Latin, surrogates).
TEST(kernels_utf16, long_texts_across_batches) {
  const std::u16string alphabet = u"a\r\nあ漢丂ｱ～。〄\u3040\u30FF\uFF00\uFFFFé§\U0001F600" +
                                  std::u16string{u'\xD800', u'\xDFFF'};
  testing::RandomText random(2912);
  for (int round = 0; round < 300; ++round) {
    const std::u16string text = random.From(alphabet, 1000 + random.Upto(4000));
    for (const Kernel kernel : VectorKernels()) {
      ASSERT_EQ(MeasureMbcs(text, kernel), MeasureMbcs(text, Kernel::kScalar))
          << KernelName(kernel) << " round " << round;
    }
  }
}

// A run ends at a single-byte unit, so a block of ASCII that the kernels pass over without
// a look-up still ends the run before it: a double-byte unit after it starts a new one.
// Exact figures, so the scalar code is held to them too; each row also as UTF-8.
TEST(kernels, runs_end_at_ascii_blocks_passed_over) {
  const auto repeat = [](std::u16string_view piece, std::size_t times) {
    std::u16string text;
    for (std::size_t k = 0; k < times; ++k) text += piece;
    return text;
  };
  const std::u16string a63 = repeat(u"a", 63);
  const std::u16string a64 = repeat(u"a", 64);
  const std::u16string kanji1024 = repeat(u"漢", 1024);  // the AVX-512 kernel's batch
  struct Row {
    const char* name;
    std::u16string text;
    MbcsSize expected;
  };
  const Row rows[] = {
      {"empty", u"", {0, 0}},
      {"kana ends a block, ASCII block, kana starts one",
       a63 + u"あ" + a64 + u"あ" + a63,
       {63 + 2 + 64 + 2 + 63, 2}},
      {"kanji ends a block, ASCII block, kanji starts one",
       a63 + u"漢" + a64 + u"漢" + a63,
       {194, 2}},
      {"full-width form, then two ASCII blocks",
       a63 + u"～" + a64 + a64 + u"ｱ漢" + a63,
       {63 + 2 + 128 + 1 + 2 + 63, 2}},
      {"double-byte across a block's end, no ASCII block", a63 + u"ああ" + a63, {130, 1}},
      {"ASCII block after a whole batch", kanji1024 + a64 + u"漢", {2048 + 64 + 2, 2}},
      {"a batch then an ASCII block and a tail",
       kanji1024 + u"漢" + a63 + a64 + u"あ",
       {2048 + 2 + 127 + 2, 2}},
      {"run across a batch's end", kanji1024 + u"漢", {2050, 1}},
      {"ASCII blocks only, kana in the tail", a64 + a64 + u"ア", {130, 1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string utf8 = EncodeUtf8(row.text);
    for (const Kernel kernel : AvailableKernels()) {
      SCOPED_TRACE(KernelName(kernel));
      EXPECT_EQ(MeasureMbcs(row.text, kernel), row.expected);
      Utf8MbcsCounter counter(false, kernel);
      ASSERT_TRUE(counter.Add(utf8) && counter.Finish());
      EXPECT_EQ(counter.Size(), row.expected);
    }
  }
}

// --- UTF-8 --------------------------------------------------------------------------------

struct Outcome {
  bool valid;
  MbcsSize size;
  std::optional<std::uint64_t> errorOffset;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << (o.valid ? "valid" : "invalid") << " bytes=" << o.size.bytes << " runs=" << o.size.runs;
  if (o.errorOffset) os << " error at " << *o.errorOffset;
  return os;
}

Outcome Measure(Kernel kernel, const std::vector<std::string_view>& chunks, bool skipBom = false) {
  Utf8MbcsCounter counter(skipBom, kernel);
  bool valid = true;
  for (const std::string_view chunk : chunks) {
    if (!(valid = counter.Add(chunk))) break;
  }
  valid = valid && counter.Finish();
  return {valid, counter.Size(), counter.ErrorOffset()};
}

std::string Join(std::initializer_list<std::string_view> pieces) {
  std::string joined;
  for (const std::string_view piece : pieces) joined += piece;
  return joined;
}

// Every character of the plane as UTF-8 (a surrogate as the three bytes that would encode
// it, which are not UTF-8), in a stretch of kana long enough for whole blocks, at every
// alignment to them.
TEST(kernels_utf8, whole_bmp_and_encoded_surrogates) {
  const std::string kana = EncodeUtf8(u"あいうえお漢字ｱa\r\n");
  for (const Kernel kernel : VectorKernels()) {
    SCOPED_TRACE(KernelName(kernel));
    std::string valid;
    for (unsigned c = 0; c < 65536; ++c) {
      std::string encoded;
      if (IsSurrogate(c)) {
        encoded = {static_cast<char>(0xED), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                   static_cast<char>(0x80 | (c & 0x3F))};
        for (const std::size_t before : {0u, 1u, 2u, 17u, 33u}) {
          const std::string text =
              Join({std::string_view(kana).substr(0, before), kana, encoded, kana});
          ASSERT_EQ(Measure(kernel, {text}), Measure(Kernel::kScalar, {text}))
              << std::hex << c << std::dec << " after " << before;
        }
        continue;
      }
      encoded = EncodeUtf8(std::u16string(1, static_cast<char16_t>(c)));
      // Each character twice among kana, then the whole plane as one text.
      const std::string text = Join({kana, encoded, kana, encoded, encoded, kana});
      ASSERT_EQ(Measure(kernel, {text}), Measure(Kernel::kScalar, {text})) << std::hex << c;
      valid += encoded;
    }
    for (std::size_t before = 0; before < 40; ++before) {
      const std::string text = std::string(before, 'x') + valid;
      ASSERT_EQ(Measure(kernel, {text}), Measure(Kernel::kScalar, {text})) << "after " << before;
    }
  }
}

// Random texts of every kind of character and of bytes that are not UTF-8, mostly kana and
// kanji so that whole blocks are taken, split in two at every byte and cut into random
// chunks: the same measure, validity and error offset as the scalar code.
TEST(kernels_utf8, random_texts_every_split) {
  const std::vector<std::string> pieces = {
      "a", "xyz", "\r", "\n", "\r\n", "\t", std::string(1, '\0'), EncodeUtf8(u"あ"),
      EncodeUtf8(u"漢"), EncodeUtf8(u"字"), EncodeUtf8(u"ア"), EncodeUtf8(u"。"), EncodeUtf8(u"（"),
      EncodeUtf8(u"ｱ"), EncodeUtf8(u"é"), EncodeUtf8(u"§"), EncodeUtf8(u"〜"), EncodeUtf8(u"①"),
      EncodeUtf8(u"\uFEFF"), EncodeUtf8(u"\U0001F600"), EncodeUtf8(u"\u0800"),
      EncodeUtf8(u"\u0FFF"), EncodeUtf8(u"\uD7FF"), EncodeUtf8(u"\uD000"), EncodeUtf8(u"\uE000"),
      EncodeUtf8(u"\u2028"), EncodeUtf8(u"\u2029"), EncodeUtf8(u"\u2027"), EncodeUtf8(u"\uFDD0"),
      EncodeUtf8(u"\uFDD1"), EncodeUtf8(u"\uFDCF"), EncodeUtf8(u"\uFFFF"),
      EncodeUtf8(u"丂"),  // a CJK ideograph code page 932 lacks
      // Not UTF-8: a lone continuation byte, an overlong form, an encoded surrogate, a cut-off
      // sequence before ASCII, bytes that start nothing.
      "\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xE3\x81", "\xC0", "\xFF"};
  testing::RandomText random(29);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    // Two in three texts are valid UTF-8, so that the measure is compared, not just the stop.
    const bool invalid = random.Upto(2) == 0;
    const std::size_t kinds = pieces.size() - (invalid ? 0 : 6);
    for (std::size_t n = random.Upto(round < 2000 ? 60 : 200); n > 0; --n) {
      // Mostly kana and kanji (pieces 7 to 11), as Japanese text is.
      text += random.Upto(2) != 0 ? pieces[7 + random.Upto(4)] : pieces[random.Upto(kinds - 1)];
    }
    const bool skipBom = random.Upto(1) != 0;
    const Outcome expected = Measure(Kernel::kScalar, {text}, skipBom);
    ASSERT_EQ(expected.valid, !expected.errorOffset);
    for (const Kernel kernel : VectorKernels()) {
      SCOPED_TRACE(KernelName(kernel));
      const std::string_view view = text;
      for (std::size_t at = 0; at <= text.size(); ++at) {
        ASSERT_EQ(Measure(kernel, {view.substr(0, at), view.substr(at)}, skipBom), expected)
            << "round " << round << " split at " << at << " text "
            << ::testing::PrintToString(text);
      }
      std::vector<std::string_view> chunks;
      for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = 1 + random.Upto(40);
        chunks.push_back(view.substr(at, n));
        at += n;
      }
      ASSERT_EQ(Measure(kernel, chunks, skipBom), expected) << "round " << round;
    }
  }
}

// Long valid texts, mostly kana and kanji with the characters that stop the blocks among
// them, in random chunks: the units of many blocks are measured a batch at a time, and a
// batch's end falls anywhere.
TEST(kernels_utf8, long_texts_in_random_chunks) {
  const std::vector<std::string> common = {EncodeUtf8(u"あ"),
                                           EncodeUtf8(u"漢"),
                                           EncodeUtf8(u"丂"),
                                           EncodeUtf8(u"ｱ"),
                                           EncodeUtf8(u"～"),
                                           EncodeUtf8(u"。"),
                                           "a",
                                           "\r\n",
                                           "\n",
                                           " taro@example.jp "};
  const std::vector<std::string> rare = {EncodeUtf8(u"é"), EncodeUtf8(u"\U0001F600"),
                                         EncodeUtf8(u"\u2028"), EncodeUtf8(u"\uFDD0"),
                                         std::string(70, 'x')};
  testing::RandomText random(2913);
  for (int round = 0; round < 200; ++round) {
    std::string text;
    for (std::size_t n = 2000 + random.Upto(6000); n > 0; --n) {
      text += random.Upto(200) == 0 ? rare[random.Upto(rare.size() - 1)]
                                    : common[random.Upto(common.size() - 1)];
    }
    const Outcome expected = Measure(Kernel::kScalar, {text});
    ASSERT_TRUE(expected.valid);
    const std::string_view view = text;
    for (const Kernel kernel : VectorKernels()) {
      SCOPED_TRACE(KernelName(kernel));
      ASSERT_EQ(Measure(kernel, {view}), expected) << "round " << round;
      std::vector<std::string_view> chunks;
      for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = 1 + random.Upto(5000);
        chunks.push_back(view.substr(at, n));
        at += n;
      }
      ASSERT_EQ(Measure(kernel, chunks), expected) << "round " << round;
    }
  }
}

#if defined(__x86_64__)
// Whether the CPU says which parts of the register state are in use (XGETBV with ECX = 1).
// XGETBV itself faults unless the operating system has enabled XSAVE (OSXSAVE, which a
// kernel booted with noxsave leaves clear while the CPU still lists XINUSE).
bool HasXinuse() {
  unsigned a = 0;
  unsigned b = 0;
  unsigned c = 0;
  unsigned d = 0;
  const bool osXsave = __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & (1u << 27)) != 0;
  return osXsave && __get_cpuid_count(0xD, 1, &a, &b, &c, &d) != 0 && (a & (1u << 2)) != 0;
}

// Bits 2 and 6: the upper halves of the YMM and ZMM registers.
__attribute__((target("xsave"))) unsigned long long UpperHalvesInUse() {
  return _xgetbv(1) & ((1u << 2) | (1u << 6));
}

// A kernel must return with the upper halves of the vector registers cleared (VZEROUPPER):
// otherwise every SSE instruction after it, in the window's code and in Qt's, waits on
// them; a function of the AVX-512 kernel that took a vector argument left them in use,
// and a plain summing loop ran four times slower after it.
TEST(kernels, leave_the_upper_halves_of_the_registers_clear) {
  if (!HasXinuse()) GTEST_SKIP() << "this CPU does not report the registers in use";
  std::u16string text;
  for (int k = 0; k < 300; ++k) text += u"明日の会議は午後三時。資料（v2）a\r\n";
  text += std::u16string(200, u'x');  // for the UTF-8 counter's ASCII path
  const std::string utf8 = EncodeUtf8(text);
  for (const Kernel kernel : AvailableKernels()) {
    SCOPED_TRACE(KernelName(kernel));
    (void)MeasureMbcs(text, kernel);
    EXPECT_EQ(UpperHalvesInUse(), 0u) << "after the UTF-16 measure";
    Utf8MbcsCounter counter(false, kernel);
    (void)counter.Add(utf8);
    EXPECT_EQ(UpperHalvesInUse(), 0u) << "after the UTF-8 measure";
  }
}
#endif

}  // namespace
}  // namespace kelmo

#include "measure/mbcs.h"

#include <gtest/gtest.h>

#include <string>
#include "support/text.h"

#include "codec/codec.h"

namespace kelmo {
namespace {

struct MeasureCase {
  const char* name;
  std::u16string text;
  std::int64_t lenMbcs;
  std::int64_t lenMbcsRuns;
};
void PrintTo(const MeasureCase& c, std::ostream* os) { *os << c.name; }

class measure : public ::testing::TestWithParam<MeasureCase> {};

TEST_P(measure, gives_bytes_and_run_charge) {
  EXPECT_EQ(LenMbcs(GetParam().text), GetParam().lenMbcs);
  EXPECT_EQ(LenMbcsRuns(GetParam().text), GetParam().lenMbcsRuns);
}

INSTANTIATE_TEST_SUITE_P(
    mbcs, measure,
    ::testing::Values(
        // The documented worked values.
        MeasureCase{"empty", u"", 0, 0}, MeasureCase{"ascii", u"abc", 3, 3},
        MeasureCase{"one_double_byte", u"あ", 2, 8},
        MeasureCase{"one_run_inside_ascii", u"aあいb", 6, 12},
        MeasureCase{"ascii_splits_runs", u"あaい", 5, 17},
        MeasureCase{"line_break_splits_runs", u"あ\r\nい", 6, 18},
        MeasureCase{"halfwidth_katakana_is_single_byte", u"ｱｲｳ", 3, 3},
        MeasureCase{"subject", u"件名テスト", 10, 16},
        // Further cases.
        MeasureCase{"one_ascii", u"a", 1, 1},
        MeasureCase{"long_run_charged_once", std::u16string(100, u'漢'), 200, 206},
        MeasureCase{"alternating_charges_each", u"aあbいcう", 9, 27},
        MeasureCase{"halfwidth_katakana_splits_runs", u"あｱい", 5, 17},
        MeasureCase{"surrogate_pair_splits_runs", u"あ\U0001F600い", 6, 18},
        MeasureCase{"wave_dash_is_double_byte", u"〜", 2, 8},
        MeasureCase{"unmappable_is_one_byte", u"é", 1, 1},
        MeasureCase{"run_across_block_boundary",
                    std::u16string(63, u'a') + u"ああ" + std::u16string(63, u'b'), 130, 136},
        MeasureCase{"run_starts_at_block_boundary", std::u16string(64, u'a') + u"あ", 66, 72},
        MeasureCase{"run_fills_block_then_continues", std::u16string(64, u'あ') + u"いa", 131, 137},
        MeasureCase{"ascii_block_between_runs", u"あ" + std::u16string(64 + 63, u'a') + u"い", 131,
                    143}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(mbcs, random_texts_match_encoded_length_and_reference_charge) {
  const std::u16string alphabet =
      u"aZ0 .\r\n\tあいう漢字件名カタナｱｲｳ〜～－①é\u00a0\uFFFD\U0001F600";
  testing::RandomText random(20261207);
  for (int round = 0; round < 2000; ++round) {
    const std::u16string text = random.From(alphabet, random.Upto(round < 1000 ? 70 : 400));
    ASSERT_EQ(LenMbcs(text), testing::ReferenceLenMbcs(text));
    ASSERT_EQ(LenMbcsRuns(text), testing::ReferenceLenMbcsRuns(text));
  }
}

}  // namespace
}  // namespace kelmo

namespace kelmo {
namespace {

TEST(mbcs_counter, pieces_measure_as_the_whole_text) {
  const std::u16string texts[] = {
      u"", u"abc", u"あいう", u"aあいb\r\nう", u"漢字かな混じりの文\r\n", u"ｱｲｳ\U0001F600え"};
  for (const std::u16string& text : texts) {
    for (std::size_t a = 0; a <= text.size(); ++a) {
      for (std::size_t b = a; b <= text.size(); ++b) {
        MbcsCounter counter;
        counter.Add(text.substr(0, a));
        counter.Add(text.substr(a, b - a));
        counter.Add(text.substr(b));
        ASSERT_EQ(counter.LenMbcsRuns(), LenMbcsRuns(text)) << a << " " << b;
      }
    }
  }
}

}  // namespace
}  // namespace kelmo

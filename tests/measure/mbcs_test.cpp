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
TEST(measure, gives_bytes_and_run_charge) {
  const MeasureCase rows[] = {
      // The documented worked values.
      MeasureCase{"empty", u"", 0, 0},
      {"ascii", u"abc", 3, 3},
      {"one_double_byte", u"あ", 2, 8},
      {"one_run_inside_ascii", u"aあいb", 6, 12},
      {"ascii_splits_runs", u"あaい", 5, 17},
      {"line_break_splits_runs", u"あ\r\nい", 6, 18},
      {"halfwidth_katakana_is_single_byte", u"ｱｲｳ", 3, 3},
      {"subject", u"件名テスト", 10, 16},
      // Further cases.
      MeasureCase{"one_ascii", u"a", 1, 1},
      {"long_run_charged_once", std::u16string(100, u'漢'), 200, 206},
      {"alternating_charges_each", u"aあbいcう", 9, 27},
      {"halfwidth_katakana_splits_runs", u"あｱい", 5, 17},
      {"surrogate_pair_splits_runs", u"あ\U0001F600い", 6, 18},
      {"wave_dash_is_double_byte", u"〜", 2, 8},
      {"unmappable_is_one_byte", u"é", 1, 1},
      {"run_across_block_boundary", std::u16string(63, u'a') + u"ああ" + std::u16string(63, u'b'),
       130, 136},
      {"run_starts_at_block_boundary", std::u16string(64, u'a') + u"あ", 66, 72},
      {"run_fills_block_then_continues", std::u16string(64, u'あ') + u"いa", 131, 137},
      {"ascii_block_between_runs", u"あ" + std::u16string(64 + 63, u'a') + u"い", 131, 143}};
  for (const MeasureCase& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(LenMbcs(row.text), row.lenMbcs);
    EXPECT_EQ(LenMbcsRuns(row.text), row.lenMbcsRuns);
  }
}

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

#include "measure/char_count.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "measure/codec.h"

namespace kelmo {
namespace {

// Reads the scratch file back as a line reader does: a line ends at CR or
// CR LF, a lone LF is part of the line; the lengths of all lines are added.
std::int64_t RoundTripCount(std::u16string_view body) {
  const std::u16string text = DecodeCp932(ScratchFileBytes(body));
  std::int64_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r') {
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      continue;
    }
    ++count;
  }
  return count;
}

struct CountCase {
  const char* name;
  std::u16string body;
  std::int64_t count;
};
void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

class character_count : public testing::TestWithParam<CountCase> {};

TEST_P(character_count, matches_value_and_round_trip) {
  EXPECT_EQ(CharacterCount(GetParam().body), GetParam().count);
  EXPECT_EQ(RoundTripCount(GetParam().body), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(
    char_count, character_count,
    testing::Values(CountCase{"empty", u"", 0}, CountCase{"two_lines", u"ab\r\ncd", 4},
                    CountCase{"four_hundred", std::u16string(400, u'x'), 400},
                    CountCase{"lone_lf_counts", u"a\nb", 3},
                    CountCase{"lone_cr_does_not", u"a\rb", 2},
                    CountCase{"cr_cr_lf", u"a\r\r\nb", 2}, CountCase{"leading_lf", u"\nab", 3},
                    CountCase{"trailing_cr", u"ab\r", 2}, CountCase{"japanese", u"件名テスト", 5},
                    CountCase{"outside_cp932_counts_one", u"é", 1},
                    CountCase{"surrogate_pair_counts_two", u"\U0001F600", 2}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(char_count, scratch_file_is_empty_line_then_body) {
  EXPECT_EQ(ScratchFileBytes(u""), "\r\n\r\n");
  EXPECT_EQ(ScratchFileBytes(u"あ\r\nb"), "\r\n\x82\xa0\r\nb\r\n");
}

TEST(char_count, random_bodies_match_round_trip) {
  const std::u16string alphabet = u"ab\r\n\r\nあ漢ｱ〜é\U0001F600";
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int round = 0; round < 1000; ++round) {
    std::u16string body;
    for (int i = round % 50; i > 0; --i) body += alphabet[pick(rng)];
    ASSERT_EQ(CharacterCount(body), RoundTripCount(body));
  }
}

}  // namespace
}  // namespace kelmo

#include "measure/char_count.h"

#include <gtest/gtest.h>

#include <string>

namespace kelmo {
namespace {

struct CountCase {
  const char* name;
  std::u16string body;
  std::int64_t count;
};
void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

class character_count : public testing::TestWithParam<CountCase> {};

TEST_P(character_count, counts_as_described) {
  EXPECT_EQ(CharacterCount(GetParam().body), GetParam().count);
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

}  // namespace
}  // namespace kelmo

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
TEST(character_count, counts_as_described) {
  const CountCase rows[] = {{"empty", u"", 0},
                            {"two_lines", u"ab\r\ncd", 4},
                            {"four_hundred", std::u16string(400, u'x'), 400},
                            {"lone_lf_counts", u"a\nb", 3},
                            {"lone_cr_does_not", u"a\rb", 2},
                            {"cr_cr_lf", u"a\r\r\nb", 2},
                            {"leading_lf", u"\nab", 3},
                            {"trailing_cr", u"ab\r", 2},
                            {"japanese", u"件名テスト", 5},
                            {"outside_cp932_counts_one", u"é", 1},
                            {"surrogate_pair_counts_two", u"\U0001F600", 2}};
  for (const CountCase& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CharacterCount(row.body), row.count);
  }
}

}  // namespace
}  // namespace kelmo

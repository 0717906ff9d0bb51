#include "message/limits.h"

#include <gtest/gtest.h>

#include <string>

namespace kelmo {
namespace {

TEST(message_total, empty_fields_carry_the_fixed_51_bytes) {
  EXPECT_EQ(MessageTotal(0, 0, 0), 51);
  EXPECT_EQ(MessageTotal(10, 20, 30), 111);
}

TEST(message_total, holds_counts_beyond_32_bits) {
  const std::int64_t huge = std::int64_t{3} << 31;
  EXPECT_EQ(MessageTotal(huge, huge, 0), 2 * huge + 51);
}

struct TitleCase {
  const char* name;
  std::int64_t address, subject, label;
  Title title;
};
void PrintTo(const TitleCase& c, std::ostream* os) { *os << c.name; }

class choose_title : public testing::TestWithParam<TitleCase> {};

TEST_P(choose_title, picks_the_warning) {
  const TitleCase& c = GetParam();
  EXPECT_EQ(ChooseTitle(c.address, c.subject, c.label), c.title);
}

INSTANTIATE_TEST_SUITE_P(
    message_total, choose_title,
    testing::Values(TitleCase{"all_within", 0, 0, 51, Title::Plain},
                    TitleCase{"address_at_limit", 55, 0, 106, Title::Plain},
                    TitleCase{"address_over", 56, 0, 107, Title::AddressTooLong},
                    TitleCase{"subject_at_limit", 0, 40, 91, Title::Plain},
                    TitleCase{"subject_over", 0, 41, 92, Title::SubjectTooLong},
                    TitleCase{"total_at_limit", 0, 0, 384, Title::Plain},
                    TitleCase{"total_over", 0, 0, 385, Title::MessageTooLong},
                    TitleCase{"subject_beats_address", 56, 41, 148, Title::SubjectTooLong},
                    TitleCase{"total_beats_both", 56, 41, 385, Title::MessageTooLong},
                    TitleCase{"total_beats_address", 56, 0, 1000, Title::MessageTooLong},
                    TitleCase{"character_mode_label_over", 0, 0, 400, Title::MessageTooLong},
                    TitleCase{"huge_label", 0, 0, std::int64_t{1} << 40, Title::MessageTooLong}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(message_total, title_texts_keep_their_spaces) {
  EXPECT_EQ(TitleText(Title::Plain), u"Kelmo");
  EXPECT_EQ(
      TitleText(Title::AddressTooLong),
      u"Kelmo\u3000\u30b5\u30fc\u30d0\u30fc\u4fdd\u5b58\u306b\u306a\u308b\u3088 \u30a2\u30c9");
  EXPECT_EQ(
      TitleText(Title::SubjectTooLong),
      u"Kelmo\u3000\u30b5\u30fc\u30d0\u30fc\u4fdd\u5b58\u306b\u306a\u308b\u3088\u3000\u4ef6\u540d");
  EXPECT_EQ(
      TitleText(Title::MessageTooLong),
      u"Kelmo\u3000\u30b5\u30fc\u30d0\u30fc\u4fdd\u5b58\u306b\u306a\u308b\u3088\u3000\u5168\u4f53");
}

}  // namespace
}  // namespace kelmo

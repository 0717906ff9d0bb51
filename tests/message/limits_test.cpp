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
TEST(choose_title, picks_the_warning) {
  const TitleCase rows[] = {{"all_within", 0, 0, 51, Title::kPlain},
                            {"address_at_limit", 55, 0, 106, Title::kPlain},
                            {"address_over", 56, 0, 107, Title::kAddressTooLong},
                            {"subject_at_limit", 0, 40, 91, Title::kPlain},
                            {"subject_over", 0, 41, 92, Title::kSubjectTooLong},
                            {"total_at_limit", 0, 0, 384, Title::kPlain},
                            {"total_over", 0, 0, 385, Title::kMessageTooLong},
                            {"subject_beats_address", 56, 41, 148, Title::kSubjectTooLong},
                            {"total_beats_both", 56, 41, 385, Title::kMessageTooLong},
                            {"total_beats_address", 56, 0, 1000, Title::kMessageTooLong},
                            {"character_mode_label_over", 0, 0, 400, Title::kMessageTooLong},
                            {"huge_label", 0, 0, std::int64_t{1} << 40, Title::kMessageTooLong}};
  for (const TitleCase& c : rows) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ChooseTitle(c.address, c.subject, c.label), c.title);
  }
}

// The command line and the model's recount share this: the fields measured as typed.
TEST(count_in_byte_mode, measures_the_fields_and_picks_the_title) {
  struct Row {
    const char* name;
    std::int64_t body;
    std::u16string own;
    std::u16string subject;
    ByteModeCount count;
  };
  const Row rows[] = {
      {"empty", 0, u"", u"", {0, 0, 51, Title::kPlain}},
      {"address_bytes_without_run_charge", 3, u"あ@x", u"", {4, 0, 58, Title::kPlain}},
      {"subject_with_run_charge", 0, u"", u"件名a", {0, 11, 62, Title::kPlain}},
      {"address_over", 0, std::u16string(56, u'a'), u"", {56, 0, 107, Title::kAddressTooLong}},
      {"subject_over",
       0,
       u"",
       std::u16string(17, u'漢') + u"x",
       {0, 41, 92, Title::kSubjectTooLong}},
      {"total_over", 334, u"", u"", {0, 0, 385, Title::kMessageTooLong}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ByteModeCount count = CountInByteMode(row.body, row.own, row.subject);
    EXPECT_EQ(count.addressCount, row.count.addressCount);
    EXPECT_EQ(count.subjectCount, row.count.subjectCount);
    EXPECT_EQ(count.total, row.count.total);
    EXPECT_EQ(count.title, row.count.title);
  }
}

TEST(message_total, title_texts_keep_their_spaces) {
  EXPECT_EQ(TitleText(Title::kPlain), u"Kelmo");
  EXPECT_EQ(
      TitleText(Title::kAddressTooLong),
      u"Kelmo\u3000\u30b5\u30fc\u30d0\u30fc\u4fdd\u5b58\u306b\u306a\u308b\u3088 \u30a2\u30c9");
  EXPECT_EQ(
      TitleText(Title::kSubjectTooLong),
      u"Kelmo\u3000\u30b5\u30fc\u30d0\u30fc\u4fdd\u5b58\u306b\u306a\u308b\u3088\u3000\u4ef6\u540d");
  EXPECT_EQ(
      TitleText(Title::kMessageTooLong),
      u"Kelmo\u3000\u30b5\u30fc\u30d0\u30fc\u4fdd\u5b58\u306b\u306a\u308b\u3088\u3000\u5168\u4f53");
  // The warning is what follows the name, its separator included.
  EXPECT_EQ(WarningText(Title::kPlain), u"");
  EXPECT_EQ(WarningText(Title::kAddressTooLong),
            u"\u3000\u30b5\u30fc\u30d0\u30fc\u4fdd\u5b58\u306b\u306a\u308b\u3088 \u30a2\u30c9");
}

TEST(crossings, each_limit_passed_or_come_back_once_in_the_titles_order) {
  using L = Limit;
  struct Row {
    const char* name;
    PastLimits before;
    PastLimits after;
    std::vector<Crossing> crossed;
  };
  const Row rows[] = {
      {"nothing_changes", {}, {}, {}},
      {"still_over", {true, true, true}, {true, true, true}, {}},
      {"message_goes_over", {}, {false, false, true}, {{L::kMessage, true}}},
      {"message_comes_back", {false, false, true}, {}, {{L::kMessage, false}}},
      {"subject_over_address_back",
       {true, false, false},
       {false, true, false},
       {{L::kSubject, true}, {L::kAddress, false}}},
      {"all_at_once",
       {},
       {true, true, true},
       {{L::kMessage, true}, {L::kSubject, true}, {L::kAddress, true}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Crossings(row.before, row.after), row.crossed);
  }
}

}  // namespace
}  // namespace kelmo

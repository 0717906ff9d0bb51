#include "message/body_tally.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measure/char_count.h"
#include "measure/mbcs.h"
#include "support/text.h"

namespace kelmo {

void PrintTo(const BodyPosition& p, std::ostream* os) {
  *os << "(" << p.paragraph << ", " << p.offset << ")";
}

namespace {

// The body as written: the plain paragraphs joined with CR LF.
std::u16string PlainBody(const std::vector<std::u16string>& paragraphs) {
  std::u16string body;
  for (std::size_t i = 0; i < paragraphs.size(); ++i) {
    if (i > 0) body += u"\r\n";
    body += PlainParagraph(paragraphs[i]);
  }
  return body;
}

std::vector<std::u16string_view> Views(const std::vector<std::u16string>& paragraphs) {
  return {paragraphs.begin(), paragraphs.end()};
}

TEST(body_tally, empty_body_is_one_empty_paragraph) {
  const BodyTally tally;
  EXPECT_EQ(tally.Paragraphs(), 1u);
  EXPECT_EQ(tally.Bytes(), 0);
  EXPECT_EQ(tally.Characters(), 0);
}

TEST(body_tally, plain_paragraph_turns_editor_separators_into_crlf) {
  EXPECT_EQ(PlainParagraph(u""), u"");
  EXPECT_EQ(PlainParagraph(u"a\u2028b"), u"a\r\nb");
  EXPECT_EQ(PlainParagraph(u"\uFDD0x\uFDD1\n"), u"\r\nx\r\n\r\n");
  EXPECT_EQ(PlainParagraph(u"a\u00A0b"), u"a b");
  EXPECT_EQ(PlainParagraph(u"\r"), u"\r");  // a lone CR stays, as the plain text keeps it
}

TEST(body_tally, separators_end_runs_and_count_as_crlf) {
  struct Row {
    const char* name;
    std::vector<std::u16string> paragraphs;
    std::int64_t bytes;
    std::int64_t characters;
  };
  const Row rows[] = {
      {"one_run", {u"あいう"}, 6 + 6, 3},
      {"two_paragraphs_two_runs", {u"あ", u"い"}, 8 + 2 + 8, 2},
      {"line_separator_inside", {u"あ\u2028い"}, 8 + 2 + 8, 2},
      {"empty_paragraphs", {u"", u"", u""}, 4, 0},
      {"nbsp_is_one_byte", {u"a\u00A0あ"}, 2 + 8, 3},
      {"emoji_is_two_substitutes", {u"\U0001F600"}, 2, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BodyTally tally;
    ASSERT_TRUE(tally.Replace(0, 1, Views(row.paragraphs)));
    EXPECT_EQ(tally.Bytes(), row.bytes);
    EXPECT_EQ(tally.Characters(), row.characters);
    EXPECT_EQ(tally.Bytes(), LenMbcsRuns(PlainBody(row.paragraphs)));
    EXPECT_EQ(tally.Characters(), CharacterCount(PlainBody(row.paragraphs)));
  }
}

TEST(body_tally, refuses_ranges_outside_the_body) {
  BodyTally tally;
  const std::vector<std::u16string> two = {u"a", u"b"};
  ASSERT_TRUE(tally.Replace(0, 1, Views(two)));
  EXPECT_FALSE(tally.Replace(3, 0, Views(two)));
  EXPECT_FALSE(tally.Replace(1, 2, Views(two)));
  EXPECT_FALSE(tally.Replace(0, 2, {}));  // would leave no paragraph at all
  EXPECT_EQ(tally.Paragraphs(), 2u);
  EXPECT_EQ(tally.Bytes(), 4);
}

// Random replacements against a full measure of the whole body after each one.
TEST(body_tally, random_replacements_match_a_full_measure) {
  testing::RandomText random(20261207);
  const std::u16string alphabet = u"aZ 1あ漢ｱ\u00A0\u2028\r\U0001F600";
  auto pick = [&](std::size_t n) { return random.Upto(n); };
  std::vector<std::u16string> model = {u""};
  BodyTally tally;
  for (int step = 0; step < 5000; ++step) {
    const std::size_t first = pick(model.size() - 1);
    const std::size_t removed = pick(std::min<std::size_t>(3, model.size() - first));
    std::vector<std::u16string> added(pick(3));
    if (model.size() - removed + added.size() == 0) added.resize(1);
    for (auto& paragraph : added) paragraph = random.From(alphabet, pick(8));
    ASSERT_TRUE(tally.Replace(first, removed, Views(added)));
    model.erase(model.begin() + static_cast<std::ptrdiff_t>(first),
                model.begin() + static_cast<std::ptrdiff_t>(first + removed));
    model.insert(model.begin() + static_cast<std::ptrdiff_t>(first), added.begin(), added.end());
    const std::u16string body = PlainBody(model);
    ASSERT_EQ(tally.Bytes(), LenMbcsRuns(body)) << "step " << step;
    ASSERT_EQ(tally.Characters(), CharacterCount(body)) << "step " << step;
  }
}

// The first place whose prefix of the plain body measures more than `budget`, found by
// measuring every prefix.
std::optional<BodyPosition> FirstPastByBruteForce(const std::vector<std::u16string>& paragraphs,
                                                  std::int64_t budget, bool bytes) {
  auto measure = [&](const std::u16string& plain) {
    return bytes ? LenMbcsRuns(plain) : CharacterCount(plain);
  };
  std::vector<std::u16string> done;
  for (std::size_t p = 0; p < paragraphs.size(); ++p) {
    for (std::size_t i = 0; i < paragraphs[p].size(); ++i) {
      std::vector<std::u16string> prefix = done;
      prefix.push_back(paragraphs[p].substr(0, i + 1));
      if (measure(PlainBody(prefix)) > budget) return BodyPosition{p, i};
    }
    done.push_back(paragraphs[p]);
    if (p + 1 < paragraphs.size()) {
      std::vector<std::u16string> prefix = done;
      prefix.push_back(u"");  // the line break after paragraph p
      if (measure(PlainBody(prefix)) > budget) return BodyPosition{p, paragraphs[p].size()};
    }
  }
  return std::nullopt;
}

TEST(body_tally, first_place_past_a_budget) {
  struct Row {
    const char* name;
    std::vector<std::u16string> paragraphs;
    std::int64_t budget;
    std::optional<BodyPosition> bytes;
    std::optional<BodyPosition> characters;
  };
  const Row rows[] = {
      {"fits", {u"abc"}, 3, std::nullopt, std::nullopt},
      {"last_unit_passes", {u"abc"}, 2, BodyPosition{0, 2}, BodyPosition{0, 2}},
      // あ is 2 bytes plus the run charge: 8 bytes at once.
      {"run_charge_comes_with_the_first_unit", {u"aあい"}, 8, BodyPosition{0, 1}, std::nullopt},
      {"line_break_passes", {u"ab", u"c"}, 3, BodyPosition{0, 2}, std::nullopt},
      {"next_paragraph_passes", {u"ab", u"c"}, 4, BodyPosition{1, 0}, std::nullopt},
      {"negative_budget_is_the_start", {u"", u"x"}, -5, BodyPosition{0, 0}, BodyPosition{0, 0}},
      {"line_separator_counts_no_character",
       {u"a\u2028b"},
       1,
       BodyPosition{0, 1},
       BodyPosition{0, 2}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BodyTally tally;
    ASSERT_TRUE(tally.Replace(0, 1, Views(row.paragraphs)));
    EXPECT_EQ(tally.FirstPastBytes(row.budget), row.bytes);
    EXPECT_EQ(tally.FirstPastCharacters(row.budget), row.characters);
  }
}

TEST(body_tally, first_place_past_a_budget_matches_every_prefix_measured) {
  testing::RandomText random(384);
  const std::u16string alphabet = u"a \rあ漢ｱ\u00A0\u2028\n\U0001F600";
  auto pick = [&](std::size_t n) { return random.Upto(n); };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::u16string> paragraphs(1 + pick(4));
    for (auto& paragraph : paragraphs) paragraph = random.From(alphabet, pick(6));
    BodyTally tally;
    ASSERT_TRUE(tally.Replace(0, 1, Views(paragraphs)));
    const auto budget = static_cast<std::int64_t>(pick(60)) - 5;
    ASSERT_EQ(tally.FirstPastBytes(budget), FirstPastByBruteForce(paragraphs, budget, true))
        << "round " << round;
    ASSERT_EQ(tally.FirstPastCharacters(budget), FirstPastByBruteForce(paragraphs, budget, false))
        << "round " << round;
  }
}

}  // namespace
}  // namespace kelmo

#include "message/message_model.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kelmo {
namespace {

// What the user does, and what the window must show afterwards.
struct Step {
  enum Kind { kBody, kOwn, kSubject, kTick, kUntick, kLoad, kClear } kind;
  std::u16string text;
  std::int64_t counter;
  Title title;
};

struct Scenario {
  const char* name;
  std::vector<Step> steps;
};
// The body as the editor holds it: paragraphs, here split at LF.
void SetBody(MessageModel& model, const std::u16string& text) {
  std::vector<std::u16string> paragraphs;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(u'\n', start)) != std::u16string::npos; start = end + 1)
    paragraphs.push_back(text.substr(start, end - start));
  paragraphs.push_back(text.substr(start));
  const std::vector<std::u16string_view> views(paragraphs.begin(), paragraphs.end());
  model.BodyReplaced(views);
}

void Apply(MessageModel& model, const Step& step) {
  switch (step.kind) {
    case Step::kBody:
      return SetBody(model, step.text);
    case Step::kOwn:
      return model.OwnAddressChanged(step.text);
    case Step::kSubject:
      return model.SubjectChanged(step.text);
    case Step::kTick:
      return model.ByteModeTicked();
    case Step::kUntick:
      return model.ByteModeUnticked();
    case Step::kLoad:
      return model.AddressesLoaded(step.text);
    case Step::kClear:
      return model.AllCleared();
  }
}

const std::u16string k55(55, u'a');
const std::u16string k56(56, u'a');
const std::u16string kKanji17(17, u'漢');  // 34 + 6 = 40
const std::u16string kKanji20(20, u'漢');  // 40 + 6 = 46
const std::u16string k41(41, u's');

constexpr Title kP = Title::kPlain;
constexpr Title kA = Title::kAddressTooLong;
constexpr Title kS = Title::kSubjectTooLong;
constexpr Title kM = Title::kMessageTooLong;

TEST(message_model, shows_counter_and_title) {
  const Scenario rows[] = {
      {"empty_fields_total_51", {{Step::kBody, u"", 51, kP}}},
      {"body_bytes_and_run_charge",
       {{Step::kBody, u"abc", 54, kP},
        {Step::kBody, u"abcあ", 62, kP},
        {Step::kBody, u"あ\nい", 51 + 18, kP},
        {Step::kBody, u"ｱｲｳ", 54, kP}}},
      {"address_has_no_run_charge",
       {{Step::kOwn, u"me@example.jp", 64, kP}, {Step::kOwn, u"あ", 53, kP}}},
      {"recipient_is_not_measured", {{Step::kSubject, u"件名テスト", 51 + 16, kP}}},
      {"address_limit_is_55",
       {{Step::kOwn, k55, 106, kP}, {Step::kOwn, k56, 107, kA}, {Step::kOwn, k55, 106, kP}}},
      {"subject_limit_counts_the_run_charge",
       {{Step::kSubject, kKanji17, 91, kP}, {Step::kSubject, kKanji20, 97, kS}}},
      {"total_limit_is_384_and_wins",
       {{Step::kOwn, k56, 107, kA},
        {Step::kSubject, k41, 148, kS},
        {Step::kBody, std::u16string(384 - 148, u'b'), 384, kS},
        {Step::kBody, std::u16string(385 - 148, u'b'), 385, kM},
        {Step::kSubject, u"", 385 - 41, kA}}},
      {"character_mode_counts_body_characters",
       {{Step::kBody, u"ab\ncd", 51 + 6, kP},
        {Step::kUntick, u"", 4, kP},
        {Step::kBody, u"", 0, kP},
        {Step::kBody, std::u16string(400, u'x'), 400, kM},
        {Step::kBody, u"\u2028あ\u2028", 1, kP}}},
      // Unticking forces the plain title; the next count brings the stale subject back.
      Scenario{
          "untick_forces_plain_title_until_the_next_count",
          {{Step::kSubject, k41, 92, kS}, {Step::kUntick, u"", 0, kP}, {Step::kBody, u"a", 1, kS}}},
      {"character_mode_leaves_address_and_subject_counts",
       {{Step::kUntick, u"", 0, kP},
        {Step::kOwn, k56, 0, kP},
        {Step::kSubject, u"件名", 0, kP},
        {Step::kBody, u"abc", 3, kP},
        // Ticking again recounts all three: 3 + 56 + 10 + 51.
        {Step::kTick, u"", 120, kA}}},
      {"load_recounts_in_byte_mode",
       {{Step::kUntick, u"", 0, kP},
        {Step::kSubject, u"件名テスト", 0, kP},
        {Step::kTick, u"", 51 + 16, kP},
        {Step::kLoad, k56, 51 + 16 + 56, kA}}},
      {"load_in_character_mode_keeps_the_count",
       {{Step::kBody, u"abc", 54, kP},
        {Step::kUntick, u"", 3, kP},
        {Step::kLoad, u"me@x.jp", 3, kP},
        {Step::kTick, u"", 51 + 3 + 7, kP}}},
      {"clear_in_byte_mode_ends_at_51",
       {{Step::kBody, u"本文です", 51 + 14, kP},
        {Step::kOwn, k56, 51 + 14 + 56, kA},
        {Step::kSubject, u"件名", 51 + 14 + 56 + 10, kA},
        {Step::kClear, u"", 51, kP}}},
      {"clear_in_character_mode_ends_at_0",
       {{Step::kUntick, u"", 0, kP}, {Step::kBody, u"abc", 3, kP}, {Step::kClear, u"", 0, kP}}}};
  for (const Scenario& row : rows) {
    SCOPED_TRACE(row.name);
    MessageModel model;
    EXPECT_EQ(model.Counter(), 0);
    EXPECT_EQ(model.WindowTitle(), Title::kPlain);
    EXPECT_TRUE(model.ByteMode());
    int n = 0;
    for (const Step& step : row.steps) {
      Apply(model, step);
      EXPECT_EQ(model.Counter(), step.counter) << "step " << n;
      EXPECT_EQ(model.WindowTitle(), step.title) << "step " << n;
      ++n;
    }
  }
}

// The counter's 0 at the start is no room: an empty message already costs 51 bytes.
TEST(message_model, room_left_of_an_untouched_message_counts_its_fixed_bytes) {
  MessageModel model;
  EXPECT_EQ(model.Counter(), 0);
  EXPECT_EQ(model.RoomLeft(), 333);
  model.ByteModeUnticked();
  EXPECT_EQ(model.RoomLeft(), 384);  // no characters yet
  model.ByteModeTicked();
  EXPECT_EQ(model.Counter(), 51);
  EXPECT_EQ(model.RoomLeft(), 333);
}

TEST(message_model, room_left_and_where_the_body_spills) {
  struct Row {
    const char* name;
    bool byteMode;
    std::u16string own, subject, body;
    std::int64_t roomLeft;
    std::optional<BodyPosition> spill;
  };
  const std::u16string body333(333, u'b');  // 51 + 333 = 384
  const Row rows[] = {
      {"exactly_384", true, u"", u"", body333, 0, std::nullopt},
      {"one_byte_over", true, u"", u"", body333 + u"c", -1, BodyPosition{0, 333}},
      {"address_and_subject_take_their_share", true, u"me@x.jp", u"件名", body333, -17,
       BodyPosition{0, 333 - 17}},
      // The run charge comes with the first double-byte character.
      {"double_byte_character_passes", true, u"", u"", std::u16string(330, u'b') + u"あ", -5,
       BodyPosition{0, 330}},
      {"line_break_passes", true, u"", u"", std::u16string(332, u'b') + u"\nx", -2,
       BodyPosition{0, 332}},
      {"fields_alone_past_the_limit", true, std::u16string(200, u'a'), std::u16string(140, u's'),
       u"xy", -9, BodyPosition{0, 0}},
      {"characters_past_the_384th", false, u"", u"", std::u16string(390, u'x'), -6,
       BodyPosition{0, 384}},
      {"line_breaks_are_no_characters", false, u"", u"", std::u16string(384, u'x') + u"\n\ny", -1,
       BodyPosition{2, 0}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MessageModel model;
    if (!row.byteMode) model.ByteModeUnticked();
    model.OwnAddressChanged(row.own);
    model.SubjectChanged(row.subject);
    SetBody(model, row.body);
    EXPECT_EQ(model.RoomLeft(), row.roomLeft);
    EXPECT_TRUE(model.Spill() == row.spill);
  }
}

TEST(message_model, fields_room_left_follows_the_text_in_either_mode) {
  MessageModel model;
  model.ByteModeUnticked();
  model.OwnAddressChanged(std::u16string(58, u'a'));
  model.SubjectChanged(u"件名");
  EXPECT_EQ(model.AddressRoomLeft(), -3);
  EXPECT_EQ(model.SubjectRoomLeft(), 30);
  EXPECT_EQ(model.AddressCount(), 0);  // the counters still wait for byte mode
}

TEST(message_model, body_edits_by_paragraph) {
  MessageModel model;
  const std::u16string_view lines[] = {u"一行目", u"二行目"};
  ASSERT_TRUE(model.BodyChanged(0, 1, lines));  // the empty paragraph becomes two lines
  EXPECT_EQ(model.BodyCount(), 12 + 2 + 12);
  const std::u16string_view replaced[] = {u"ab"};
  ASSERT_TRUE(model.BodyChanged(1, 1, replaced));
  EXPECT_EQ(model.BodyCount(), 12 + 2 + 2);
  EXPECT_EQ(model.Counter(), 51 + 16);
  // An edit outside the body is refused and changes nothing.
  EXPECT_FALSE(model.BodyChanged(2, 1, replaced));
  EXPECT_FALSE(model.BodyChanged(0, 3, replaced));
  EXPECT_EQ(model.Counter(), 51 + 16);
}

}  // namespace
}  // namespace kelmo

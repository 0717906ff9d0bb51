#include "message/split.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "measure/mbcs.h"
#include "message/limits.h"
#include "support/text.h"

namespace kelmo {
namespace {

std::u16string Repeat(std::u16string_view text, std::size_t times) {
  std::u16string out;
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}
std::u16string A(std::size_t n) { return std::u16string(n, u'a'); }

// What holds for every split: each part fits by the reference measure and starts with its
// marker; the shares join back into the body, with at most a line break dropped at a cut.
void ExpectSound(const std::vector<MessagePart>& parts, std::u16string_view body,
                 std::u16string_view own, std::u16string_view subject,
                 std::int64_t limit = kTariff.messageLimit) {
  ASSERT_FALSE(parts.empty());
  std::u16string joined;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const MessagePart& part = parts[k];
    SCOPED_TRACE(k + 1);
    const std::int64_t total =
        MessageTotal(testing::ReferenceLenMbcsRuns(part.body), testing::ReferenceLenMbcs(own),
                     testing::ReferenceLenMbcsRuns(subject));
    EXPECT_EQ(part.total, total);
    EXPECT_LE(total, limit);
    const std::u16string share(body.substr(part.shareBegin, part.shareEnd - part.shareBegin));
    EXPECT_EQ(part.body,
              parts.size() == 1 ? share : PartMarker(k + 1, parts.size()) + u"\r\n" + share);
    if (k > 0) {
      const std::u16string_view gap =
          body.substr(parts[k - 1].shareEnd, part.shareBegin - parts[k - 1].shareEnd);
      EXPECT_TRUE(gap.empty() || gap == u"\r\n" || gap == u"\n" || gap == u"\r")
          << "dropped " << gap.size() << " units";
      joined += gap;
    }
    joined += share;
  }
  EXPECT_EQ(parts.front().shareBegin, 0U);
  EXPECT_EQ(parts.back().shareEnd, body.size());
  EXPECT_TRUE(joined == body);
}

// With no own address and no subject, a part of a count below 10 has 384 - 51 - 5 - 2 = 326
// bytes for its share; of a count of 10 to 99, 325 (parts 1 to 9) or 324.
constexpr std::size_t kRoom = 326;

struct Row {
  const char* name;
  std::u16string body;
  std::vector<std::size_t> ends;  // each share's end
  std::u16string own = {};
  std::u16string subject = {};
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class SplitRows : public ::testing::TestWithParam<Row> {};

TEST_P(SplitRows, CutsWhereExpected) {
  const Row& row = GetParam();
  const auto parts = SplitMessage(row.body, row.own, row.subject);
  ASSERT_TRUE(parts.has_value()) << static_cast<int>(parts.error());
  ExpectSound(*parts, row.body, row.own, row.subject);
  std::vector<std::size_t> ends;
  for (const MessagePart& part : *parts) ends.push_back(part.shareEnd);
  EXPECT_EQ(ends, row.ends);
}

// A(n) costs n bytes; "あ" 2 bytes and 6 for each run it is in; "😀" 2 bytes ('?' for each
// surrogate); "ｶ" and "ﾞ" 1 byte each; "\u0301" 1 byte ('?').
INSTANTIATE_TEST_SUITE_P(
    Split, SplitRows,
    ::testing::Values(
        Row{"FitsAsOne", A(333), {333}}, Row{"EmptyBody", u"", {0}},
        Row{"OneByteOverIsTwoParts", A(334), {kRoom, 334}},
        Row{"OneHugeLine", A(1000), {kRoom, 2 * kRoom, 3 * kRoom, 1000}},
        Row{"JustFitsTwoParts", A(2 * kRoom), {kRoom, 2 * kRoom}},
        Row{"OneMoreIsThree", A(2 * kRoom + 1), {kRoom, 2 * kRoom, 2 * kRoom + 1}},
        Row{"JustFitsNineParts",
            A(9 * kRoom),
            {kRoom, 2 * kRoom, 3 * kRoom, 4 * kRoom, 5 * kRoom, 6 * kRoom, 7 * kRoom, 8 * kRoom,
             9 * kRoom}},
        // Ten parts: the count's second digit takes a byte from every part.
        Row{"TenPartsWidenEveryMarker",
            A(9 * kRoom + 1),
            {325, 650, 975, 1300, 1625, 1950, 2275, 2600, 2925, 2935}},
        Row{"LineBreakCloseEnoughIsDropped", A(300) + u"\r\n" + A(300), {300, 602}},
        Row{"LineBreakAtTheEndOfTheRoom", A(kRoom) + u"\r\n" + A(100), {kRoom, 428}},
        Row{"LineBreakRightAtTheQuarter", A(245) + u"\r\n" + A(300), {245, 547}},
        Row{"LineBreakTooEarlyIsNotCut", A(244) + u"\r\n" + A(300), {kRoom, 546}},
        // A joiner at the end of a line joins nothing across the line break.
        Row{"LineBreakAfterAJoiner", A(300) + u"\u200D\r\n" + A(300), {301, 603}},
        Row{"LoneLineFeedIsALineBreak", A(300) + u"\n" + A(300), {300, 601}},
        Row{"LatestLineBreakWins", A(250) + u"\r\n" + A(20) + u"\r\n" + A(300), {272, 574}},
        Row{"LineBreakBeforeSentenceEnd", A(250) + u"\r\n" + A(30) + u"。" + A(250), {250, 533}},
        // The line break would leave 338 bytes for the second part: the sentence end is cut.
        Row{"LineBreakThatWouldAddAPart", A(250) + u"\r\n" + A(30) + u"。" + A(300), {283, 583}},
        Row{"AfterSentenceEnd", A(300) + u"。" + A(300), {301, 601}},
        Row{"AfterAsciiQuestionMark", A(300) + u"?" + A(300), {301, 601}},
        Row{"AfterHalfWidthFullStop", A(300) + u"｡" + A(300), {301, 601}},
        Row{"AfterTheClosingBracket", A(290) + u"。」" + A(300), {292, 592}},
        Row{"SentenceEndBeforeComma", A(260) + u"。" + A(40) + u"、" + A(200), {261, 502}},
        Row{"CommaWhereTheSentenceEndWouldAddAPart",
            A(260) + u"。" + A(40) + u"、" + A(300),
            {302, 602}},
        Row{"AfterComma", A(300) + u"、" + A(300), {301, 601}},
        Row{"AsciiFullStopIsNoSentenceEnd", A(300) + u"." + A(300), {kRoom, 601}},
        // 160 of them cost 320 + 6; the run is charged again in the next part.
        Row{"DoubleByteRunStraddlesTheCut", Repeat(u"あ", 400), {160, 320, 400}},
        Row{"RunStartingLateInThePart",
            A(300) + Repeat(u"あ", 100),
            {310, 400}},  // 300 + 6 + 2*10 = 326
        Row{"HalfWidthKanaKeepsItsVoicedMark", u"a" + Repeat(u"ｶﾞ", 200), {325, 401}},
        Row{"EmojiPairNotCut", u"a" + Repeat(u"😀", 200), {325, 401}},
        Row{"EmojiWithSkinTone", u"a" + Repeat(u"👍🏽", 100), {325, 401}},
        Row{"FlagsStayPaired", u"a" + Repeat(u"🇯🇵", 100), {325, 401}},
        Row{"ZwjSequenceKept", Repeat(u"👨‍👩‍👧", 50), {320, 400}},
        Row{"CombiningAccentKept", u"a" + Repeat(u"e\u0301", 200), {325, 401}},
        Row{"VariationSelectorKept", u"a" + Repeat(u"#\uFE0F", 200), {325, 401}},
        // 葛 with a selector: 2 + 6 for a run of one, 2 for the selector's surrogates as '?'.
        Row{"IdeographicVariationKept", u"a" + Repeat(u"葛\U000E0100", 50), {1 + 3 * 32, 151}},
        Row{"CrLfNeverSplit", Repeat(u"\r\n", 300), {kRoom, 600}},
        // 55 + 10 ("件名", run charged) leave 384 - 51 - 65 - 7 = 261 a part.
        Row{"OwnAddressAndSubjectInEveryPart", A(600), {261, 522, 600}, A(55), u"件名"}),
    [](const ::testing::TestParamInfo<Row>& row) { return row.param.name; });

struct ErrorRow {
  const char* name;
  std::u16string body;
  std::u16string own;
  std::u16string subject;
  SplitProblem problem;
  std::int64_t limit = kTariff.messageLimit;
};

void PrintTo(const ErrorRow& row, std::ostream* out) { *out << row.name; }

class SplitErrorRows : public ::testing::TestWithParam<ErrorRow> {};

TEST_P(SplitErrorRows, SaysWhySplittingCannotHelp) {
  const ErrorRow& row = GetParam();
  const auto parts = SplitMessage(row.body, row.own, row.subject, row.limit);
  ASSERT_FALSE(parts.has_value());
  EXPECT_EQ(parts.error(), row.problem);
}

INSTANTIATE_TEST_SUITE_P(
    Split, SplitErrorRows,
    ::testing::Values(
        ErrorRow{"OwnAddressPastItsLimit", A(1000), A(56), u"", SplitProblem::kAddressTooLong},
        ErrorRow{"OwnAddressPastWithShortBody", A(10), A(56), u"", SplitProblem::kAddressTooLong},
        ErrorRow{"SubjectPastItsLimit", A(1000), u"", A(41), SplitProblem::kSubjectTooLong},
        // 18 kanji: 36 bytes and a run's 6, past 40.
        ErrorRow{"SubjectPastByItsRun", A(10), u"", Repeat(u"漢", 18),
                 SplitProblem::kSubjectTooLong},
        ErrorRow{"HundredParts", A(9 * 325 + 90 * 324 + 1), u"", u"", SplitProblem::kTooManyParts},
        ErrorRow{"NoRoomForOneCharacter", A(100), u"", u"", SplitProblem::kNoRoom, 58}),
    [](const ::testing::TestParamInfo<ErrorRow>& row) { return row.param.name; });

TEST(Split, NinetyNinePartsAtMost) {
  const std::u16string body = A(9 * 325 + 90 * 324);
  const auto parts = SplitMessage(body, u"", u"");
  ASSERT_TRUE(parts.has_value());
  EXPECT_EQ(parts->size(), kMostParts);
  EXPECT_EQ(parts->back().body.substr(0, 7), u"(99/99)");
  ExpectSound(*parts, body, u"", u"");
}

// A character whose marks alone outgrow a part is cut between code points, never inside a
// surrogate pair: all of it still arrives.
TEST(Split, CharacterLongerThanAPartIsCutBetweenCodePoints) {
  const std::u16string body = u"e" + Repeat(u"\u0301", 700);
  const auto parts = SplitMessage(body, u"", u"");
  ASSERT_TRUE(parts.has_value());
  ExpectSound(*parts, body, u"", u"");
  EXPECT_EQ(parts->size(), 3U);
}

TEST(Split, MixedTextIsSound) {
  testing::RandomText random(31);
  for (int round = 0; round < 200; ++round) {
    const std::u16string body =
        random.From(u"aあ漢ｶﾞ😀\u0301\uFE0F\u200D。、!\r\n \n🇯🇵", 200 + random.Upto(2000));
    const auto parts = SplitMessage(body, u"me@example.jp", u"件名");
    if (!parts) {
      EXPECT_EQ(parts.error(), SplitProblem::kTooManyParts);
      continue;
    }
    ExpectSound(*parts, body, u"me@example.jp", u"件名");
  }
}

// The largest body that can be split (99 parts), and 100 KB that cannot, each well under
// the 100 ms a user would notice: the best of five runs, after the width table is built,
// so that a busy machine, a sanitizer or an emulator does not decide the outcome.
TEST(Split, LargeBodiesAreQuick) {
  testing::RandomText random(7);
  const std::u16string big = random.From(u"aあ漢ｶ😀。、\r\n", 100 * 1024 / 2);
  const std::u16string longest = A(9 * 325 + 90 * 324);
  (void)LenMbcsRuns(u"あ");
  const auto best = [](const std::u16string& body) {
    auto fastest = std::chrono::steady_clock::duration::max();
    for (int run = 0; run < 5; ++run) {
      const auto start = std::chrono::steady_clock::now();
      (void)SplitMessage(body, u"", u"");
      fastest = std::min(fastest, std::chrono::steady_clock::now() - start);
    }
    return fastest;
  };
  EXPECT_FALSE(SplitMessage(big, u"", u"").has_value());
  EXPECT_EQ(SplitMessage(longest, u"", u"")->size(), kMostParts);
  EXPECT_LT(best(big), std::chrono::milliseconds(100));
  EXPECT_LT(best(longest), std::chrono::milliseconds(100));
}

TEST(Split, MarkerIsAsciiDigits) {
  EXPECT_EQ(PartMarker(1, 2), u"(1/2)");
  EXPECT_EQ(PartMarker(10, 99), u"(10/99)");
}

}  // namespace
}  // namespace kelmo

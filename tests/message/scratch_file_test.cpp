#include "message/scratch_file.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/codec.h"
#include "measure/char_count.h"
#include "support/text.h"

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

TEST(scratch_file, is_an_empty_line_then_the_body) {
  EXPECT_EQ(ScratchFileBytes(u""), "\r\n\r\n");
  EXPECT_EQ(ScratchFileBytes(u"あ\r\nb"), "\r\n\x82\xa0\r\nb\r\n");
}

TEST(scratch_file, character_count_is_what_reading_it_back_gives) {
  const std::u16string alphabet = u"ab\r\n\r\nあ漢ｱ〜é\U0001F600";
  testing::RandomText random(7);
  for (int round = 0; round < 1000; ++round) {
    const std::u16string body = random.From(alphabet, static_cast<std::size_t>(round % 50));
    ASSERT_EQ(CharacterCount(body), RoundTripCount(body));
  }
}

}  // namespace
}  // namespace kelmo

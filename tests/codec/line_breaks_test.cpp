#include "codec/line_breaks.h"

#include <gtest/gtest.h>

namespace kelmo {
namespace {

TEST(line_breaks, every_line_break_becomes_crlf) {
  EXPECT_EQ(WithCrLf(u""), u"");
  EXPECT_EQ(WithCrLf(u"a\nb\r\nc\rd"), u"a\r\nb\r\nc\r\nd");
  EXPECT_EQ(WithCrLf(u"\r\r\n\n\r"), u"\r\n\r\n\r\n\r\n");
  EXPECT_EQ(WithCrLf(u"あ\u2029い"), u"あ\u2029い");  // only CR and LF are line breaks
}

}  // namespace
}  // namespace kelmo

#include "codec/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace kelmo {
namespace {

TEST(utf8, decode_and_encode) {
  struct ConversionRow {
    const char* name;
    std::string_view utf8;
    std::u16string_view utf16;
  };
  const ConversionRow rows[] = {
      {"empty", "", u""},
      {"ascii_and_line_breaks", "a\r\nb\n", u"a\r\nb\n"},
      {"every_length", "\xc3\xa9\xe3\x81\x82\xf0\x9f\x98\x80", u"\u00e9\u3042\U0001F600"},
      {"limits", "\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf4\x8f\xbf\xbf",
       u"\u0080\u07ff\u0800\uffff\U0010FFFF"},
  };
  for (const ConversionRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DecodeUtf8(row.utf8), row.utf16);
    EXPECT_EQ(EncodeUtf8(row.utf16), row.utf8);
  }
}

// One U+FFFD for every byte that is not part of a well-formed sequence.
TEST(utf8, ill_formed_bytes_each_become_a_replacement) {
  EXPECT_EQ(DecodeUtf8("\xff"), u"\uFFFD");
  EXPECT_EQ(DecodeUtf8("\xe3\x81"), u"\uFFFD\uFFFD");
  EXPECT_EQ(DecodeUtf8("\xe3\x81x"), u"\uFFFD\uFFFDx");
  EXPECT_EQ(DecodeUtf8("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(DecodeUtf8("\xc0\x80\xe3\x81\x82"), u"\uFFFD\uFFFD\u3042");
  const char16_t loneHalves[] = {u'a', 0xD800, u'b', 0xDC00};
  EXPECT_EQ(EncodeUtf8(std::u16string_view(loneHalves, 4)),
            "a\xef\xbf\xbd"
            "b\xef\xbf\xbd");
}

}  // namespace
}  // namespace kelmo

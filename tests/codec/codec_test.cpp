#include "codec/codec.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "support/text.h"

namespace kelmo {
namespace {

TEST(codec, width_table_matches_platform_for_every_code_unit) {
  const Cp932Widths& table = Cp932WidthTable();
  int doubles = 0;
  for (std::uint32_t u = 0; u < 65536; ++u) {
    const auto unit = static_cast<char16_t>(u);
    // Unconvertible units (and lone surrogate halves) become a one-byte substitute.
    const auto expected = static_cast<int>(testing::ReferenceLenMbcs(std::u16string(1, unit)));
    ASSERT_EQ(table.Width(unit), expected) << "U+" << std::hex << u;
    ASSERT_EQ(EncodeCp932(std::u16string(1, unit)).size(), static_cast<std::size_t>(expected))
        << "U+" << std::hex << u;
    doubles += expected == 2;
  }
  // Code page 932 has 7,000-odd double-byte characters; a broken table has none or all.
  EXPECT_GT(doubles, 7000);
  EXPECT_LT(doubles, 12000);
}

struct EncodeCase {
  const char* name;
  std::u16string text;
  std::string bytes;
};
TEST(encode_cp932, gives_expected_bytes) {
  const EncodeCase rows[] = {
      {"empty", u"", ""},
      {"ascii_with_crlf", u"ab\r\nc", "ab\r\nc"},
      {"hiragana", u"あ", "\x82\xa0"},
      {"kanji", u"件名", "\x8c\x8f\x96\xbc"},
      {"halfwidth_katakana", u"ｱｲｳ", "\xb1\xb2\xb3"},
      {"wave_dash_as_input_methods_type_it", u"\u301C", "\x81\x60"},
      {"fullwidth_tilde", u"\uFF5E", "\x81\x60"},
      {"double_vertical_line", u"\u2016", "\x81\x61"},
      {"minus_sign", u"\u2212", "\x81\x7c"},
      {"em_dash", u"\u2014", "\x81\x5c"},
      {"nec_circled_one", u"\u2460", "\x87\x40"},
      {"not_in_cp932", u"a\u00e9b", "a?b"},
      {"emoji_is_two_substitutes", u"x\U0001F600y", "x??y"},
      {"lone_high_surrogate_at_end", std::u16string(u"a") + char16_t(0xD800), "a?"},
      {"lone_low_surrogate", std::u16string(1, char16_t(0xDC00)) + u"あ", "?\x82\xa0"},
      {"nul", std::u16string(1, u'\0'), std::string(1, '\0')}};
  for (const EncodeCase& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(EncodeCp932(row.text), row.bytes);
  }
}

TEST(codec, decode_reads_back_what_was_written) {
  EXPECT_EQ(DecodeCp932(""), u"");
  EXPECT_EQ(DecodeCp932("\x82\xa0\x8c\x8f\x96\xbc\xb1"), u"あ件名ｱ");
  EXPECT_EQ(DecodeCp932("a?b"), u"a?b");
}

TEST(codec, decode_substitutes_bytes_that_are_not_cp932) {
  EXPECT_EQ(DecodeCp932("a\x82"), u"a\uFFFD");  // lead byte cut off at the end
  EXPECT_EQ(DecodeCp932("\x82\x20"
                        "b"),
            u"\uFFFD b");  // lead byte with an invalid trail
}

TEST(codec, every_code_unit_reads_back_as_one_character) {
  // Character counting relies on this: whatever a unit is written as comes back as one unit.
  for (std::uint32_t u = 1; u < 65536; ++u) {
    std::u16string text(1, static_cast<char16_t>(u));
    text += u"a";
    ASSERT_EQ(DecodeCp932(EncodeCp932(text)).size(), 2u) << "U+" << std::hex << u;
  }
}

TEST(codec, conversion_does_not_depend_on_the_locale) {
  const std::u16string text = u"件名〜ｱ\U0001F600";
  const std::string expected = EncodeCp932(text);
  for (const char* locale : {"C", "C.UTF-8"}) {
    if (!std::setlocale(LC_ALL, locale)) continue;
    EXPECT_EQ(EncodeCp932(text), expected) << locale;
  }
  std::setlocale(LC_ALL, "C");
}

TEST(codec, characters_not_kept_by_cp932_are_listed_once_each) {
  struct Row {
    const char* name;
    std::u16string text;
    std::u16string unencodable;
  };
  const Row rows[] = {
      {"empty", u"", u""},
      {"ascii_kana_kanji", u"me@x.jp あア漢ｱ～①", u""},
      {"question_mark_itself", u"?", u""},
      {"emoji_pair_stays_whole", u"a\U0001F600b\U0001F600", u"\U0001F600"},
      {"accents_in_order", u"café naïve é", u"éï"},
      {"lone_surrogates",
       u"a\xD800"
       u"b\xDC00",
       u"\xD800\xDC00"},
      // Written as the bytes of another character, they come back as that one.
      {"near_mappings", u"me¥‾〜—@x.jp ¢£¬‖−", u"¥‾〜—¢£¬‖−"},
      {"their_cp932_forms_are_kept", u"\\~～―￠￡￢∥－", u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(NotKeptByCp932(row.text), row.unencodable);
  }
}

TEST(codec, locale_text_becomes_utf8) {
  // "そのようなファイルやディレクトリはありません" in Shift_JIS, as glibc's ja_JP.SJIS has it.
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  if (std::setlocale(LC_ALL, "ja_JP.SJIS") == nullptr) GTEST_SKIP() << "no ja_JP.SJIS locale";
  EXPECT_EQ(LocaleToUtf8("\x83\x74\x83\x40\x83\x43\x83\x8B"), "ファイル");
  EXPECT_EQ(LocaleToUtf8("abc"), "abc");
  EXPECT_EQ(LocaleToUtf8("\x83"), "?");  // cut off
  std::setlocale(LC_ALL, "C.UTF-8");
  EXPECT_EQ(LocaleToUtf8("\xE3\x83\x95"), "\xE3\x83\x95");
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(codec, the_cp932_converter_is_there) { EXPECT_EQ(Cp932ConverterProblem(), ""); }

TEST(codec, iso_2022_jp_ends_in_ascii_or_fails_whole) {
  EXPECT_EQ(EncodeIso2022Jp(u""), "");
  EXPECT_EQ(EncodeIso2022Jp(u"a"), "a");
  EXPECT_EQ(EncodeIso2022Jp(u"あ"), "\x1b$B$\"\x1b(B");
  EXPECT_EQ(EncodeIso2022Jp(u"ｱ"), std::nullopt);
  EXPECT_EQ(EncodeIso2022Jp(u"\xD800"), std::nullopt);
  // The worst case for the output size: a shift before every character.
  std::u16string alternating;
  for (int i = 0; i < 1000; ++i) alternating += u"aあ";
  ASSERT_TRUE(EncodeIso2022Jp(alternating).has_value());
  EXPECT_EQ(EncodeIso2022Jp(alternating)->size(), 1000u * (1 + 3 + 2 + 3));
}

}  // namespace
}  // namespace kelmo

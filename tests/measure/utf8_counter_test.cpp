#include "measure/utf8_counter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "codec/line_breaks.h"
#include "codec/utf8.h"
#include "support/text.h"

namespace kelmo {
namespace {

struct Outcome {
  bool valid;
  MbcsSize size;
  std::optional<std::uint64_t> errorOffset;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << (o.valid ? "valid" : "invalid") << " bytes=" << o.size.bytes << " runs=" << o.size.runs;
  if (o.errorOffset) os << " error at " << *o.errorOffset;
  return os;
}

Outcome Measure(const std::vector<std::string_view>& chunks, bool skipBom = false) {
  Utf8MbcsCounter counter(skipBom);
  bool valid = true;
  for (const std::string_view chunk : chunks) {
    if (!(valid = counter.Add(chunk))) break;
  }
  valid = valid && counter.Finish();
  return {valid, valid ? counter.Size() : MbcsSize{}, counter.ErrorOffset()};
}

struct Row {
  const char* name;
  std::string_view utf8;
  std::int64_t bytes;  // bytes and runs when valid
  std::int64_t runs;
  std::optional<std::uint64_t> errorAt;  // the offset reported when it is not
};
Outcome Expected(const Row& row) {
  if (row.errorAt) return {false, {}, row.errorAt};
  return {true, {row.bytes, row.runs}, std::nullopt};
}

using namespace std::string_view_literals;

const Row kRows[] = {
    {"empty", "", 0, 0, {}},
    {"ascii", "abc", 3, 0, {}},
    {"lf_counts_as_crlf", "a\nb", 4, 0, {}},
    {"crlf", "a\r\nb", 4, 0, {}},
    {"lone_cr_counts_as_crlf", "a\rb", 4, 0, {}},
    {"cr_then_crlf", "\r\r\n", 4, 0, {}},
    {"lf_then_cr", "\n\r", 4, 0, {}},
    {"sixteen_lfs", "\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n", 32, 0, {}},
    {"crlf_across_words", "1234567\r\n12345678", 17, 0, {}},
    {"cr_ends_word_before_text", "1234567\rx", 10, 0, {}},
    {"nul_is_a_character", "a\0b"sv, 3, 0, {}},
    {"hiragana", "\xe3\x81\x82", 2, 1, {}},
    {"line_break_splits_runs", "\xe3\x81\x82\n\xe3\x81\x84", 6, 2, {}},
    {"one_run_after_ascii_words", "abcdefgh\xe6\xbc\xa2\xe5\xad\x97", 12, 1, {}},
    {"halfwidth_katakana_single_byte", "\xef\xbd\xb1", 1, 0, {}},
    {"two_byte_unmappable", "\xc3\xa9", 1, 0, {}},
    {"two_byte_mappable_double", "\xc2\xa7", 2, 1, {}},  // § is in JIS X 0208
    {"emoji_is_two_single_units", "\xf0\x9f\x98\x80", 2, 0, {}},
    {"emoji_splits_runs", "\xe3\x81\x82\xf0\x9f\x98\x80\xe3\x81\x84", 6, 2, {}},
    {"bom_counts_unless_skipped",
     "\xef\xbb\xbf"
     "a",
     2,
     0,
     {}},
    {"noncharacter_fffe", "\xef\xbf\xbe", 1, 0, {}},
    {"last_code_point", "\xf4\x8f\xbf\xbf", 2, 0, {}},
    {"smallest_three_byte", "\xe0\xa0\x80", 1, 0, {}},
    // Leads E0 and ED, which need more than the bit pattern, among kana.
    {"leads_e0_and_ed_among_kana", "\xe3\x81\x82\xe0\xa0\x80\xed\x9f\xbf\xe3\x81\x84", 6, 2, {}},
    {"private_use_is_double_byte", "\xee\x80\x80\xe3\x81\x82", 4, 1, {}},
    // Not UTF-8: the offset is that of the first byte of the first ill-formed sequence.
    {"lone_continuation", "ab\x80", 0, 0, 2},
    {"overlong_two_byte_c0", "\xc0\x80", 0, 0, 0},
    {"overlong_two_byte_c1", "x\xc1\xbf", 0, 0, 1},
    {"overlong_three_byte", "\xe0\x80\x80", 0, 0, 0},
    {"overlong_three_byte_7ff", "\xe0\x9f\xbf", 0, 0, 0},
    {"overlong_four_byte", "\xf0\x8f\xbf\xbf", 0, 0, 0},
    {"surrogate_high_encoded", "\xed\xa0\x80", 0, 0, 0},
    {"overlong_before_kana", "\xe3\x81\x82\xe0\x80\x80\xe3\x81\x82", 0, 0, 3},
    {"surrogate_before_kana", "\xed\xa0\x80\xe3\x81\x82", 0, 0, 0},
    {"surrogate_low_encoded", "\xe3\x81\x82\xed\xbf\xbf", 0, 0, 3},
    {"past_10ffff", "\xf4\x90\x80\x80", 0, 0, 0},
    {"lead_f5", "\xf5\x80\x80\x80", 0, 0, 0},
    {"byte_ff", "abcdefghij\xff", 0, 0, 10},
    {"lead_then_ascii", "\xe3\x41", 0, 0, 0},
    {"third_byte_not_continuation", "abcdefgh\xe3\x81\x41", 0, 0, 8},
    {"cut_off_at_end", "ab\xe3\x81", 0, 0, 2},
    {"cut_off_four_byte", "\xe3\x81\x82\xf0\x9f\x98", 0, 0, 3},
    {"error_after_valid_text_stops_there", "\xc3\xa9\x80\xff", 0, 0, 2},
};

TEST(utf8, whole_input) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Measure({row.utf8}), Expected(row));
  }
}

// However the input is cut, the result is the same: a sequence, a CR LF or a word of
// ASCII split between two chunks, or the input fed a byte at a time.
TEST(utf8, any_split_into_chunks) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    const std::string_view text = row.utf8;
    for (std::size_t at = 0; at <= text.size(); ++at) {
      EXPECT_EQ(Measure({text.substr(0, at), text.substr(at)}), Expected(row)) << "split at " << at;
    }
    std::vector<std::string_view> bytes;
    for (std::size_t i = 0; i < text.size(); ++i) bytes.push_back(text.substr(i, 1));
    EXPECT_EQ(Measure(bytes), Expected(row)) << "a byte at a time";
  }
}

// The same inside long ASCII, at every alignment to the 64-byte blocks ASCII is taken in.
TEST(utf8, inside_ascii_at_any_alignment) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    const std::string after(70, 'y');
    for (std::size_t before = 1; before <= 70; ++before) {
      const std::string text = std::string(before, 'x') + std::string(row.utf8) + after;
      Outcome expected = Expected(row);
      if (expected.valid) {
        expected.size.bytes += static_cast<std::int64_t>(before + after.size());
      } else {
        *expected.errorOffset += before;
      }
      EXPECT_EQ(Measure({text}), expected) << before << " bytes before";
    }
  }
}

TEST(utf8_bom, skipped_only_at_the_very_start) {
  struct BomRow {
    const char* name;
    std::vector<std::string_view> chunks;
    std::int64_t bytes;
  };
  const BomRow rows[] = {
      {"bom_alone", {"\xef\xbb\xbf"}, 0},
      {"bom_split_over_chunks",
       {"\xef", "\xbb",
        "\xbf"
        "a"},
       1},
      {"empty_chunk_first",
       {"",
        "\xef\xbb\xbf"
        "a"},
       1},
      {"second_bom_counts", {"\xef\xbb\xbf\xef\xbb\xbf"}, 1},
      {"bom_after_text_counts", {"a", "\xef\xbb\xbf"}, 2},
  };
  for (const BomRow& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome outcome = Measure(row.chunks, /*skipBom=*/true);
    EXPECT_TRUE(outcome.valid);
    EXPECT_EQ(outcome.size.bytes, row.bytes);
  }
}

TEST(utf8_state, nothing_counts_after_an_error) {
  Utf8MbcsCounter counter;
  EXPECT_FALSE(counter.Add("ab\xff"));
  EXPECT_FALSE(counter.Add("cd"));
  EXPECT_FALSE(counter.Finish());
  EXPECT_EQ(counter.ErrorOffset(), 2u);
}

TEST(utf8_state, offsets_count_from_the_first_chunk) {
  EXPECT_EQ(Measure({"abcd", "ef", "\xe3\x81\x82", "\xe3\x81"}).errorOffset, 9u);
  EXPECT_EQ(Measure({"abcd", "ef\xe3", "\x81", "x"}).errorOffset, 6u);
}

// Random text of every kind of character, as UTF-8 and as the window holds it, cut into
// random chunks: the measure equals that of the UTF-16 text with CR LF line breaks.
TEST(utf8_property, equals_the_utf16_measure) {
  const std::u16string alphabet =
      u"a \r\n\tあ漢ｱé§〜～①\uFEFF\U0001F600\U0010FFFF\uFFFF\u007F\u0080\u07FF\u0800\uD7FF\uE000"
      u"\u2028\u2029\uFDD0\uFDD1\u2027\u202A\uFDCF\uFDD2";
  testing::RandomText random(932);
  for (int round = 0; round < 300; ++round) {
    std::u16string utf16;
    for (std::size_t i = random.Upto(200); i > 0; --i) {
      // Stretches of ASCII too, so that whole blocks of it are taken at once.
      utf16 += random.Upto(3) == 0 ? std::u16string(1 + random.Upto(79), u'x')
                                   : random.From(alphabet, 1);
    }
    const std::string utf8 = EncodeUtf8(utf16);
    std::vector<std::string_view> chunks;
    for (std::size_t at = 0; at < utf8.size();) {
      const std::size_t n = 1 + random.Upto(19);
      chunks.push_back(std::string_view(utf8).substr(at, n));
      at += n;
    }
    const Outcome outcome = Measure(chunks);
    ASSERT_TRUE(outcome.valid) << "round " << round;
    // The editor's own line breaks are line breaks too.
    // each one a line break of its own, even right after a CR.
    std::u16string lines;
    for (const char16_t unit : utf16) {
      const bool editorBreak =
          unit == u'\u2028' || unit == u'\u2029' || unit == u'\uFDD0' || unit == u'\uFDD1';
      lines += editorBreak ? std::u16string(u"\r\n") : std::u16string(1, unit);
    }
    ASSERT_EQ(outcome.size, MeasureMbcs(WithCrLf(lines))) << "round " << round;
  }
}

}  // namespace
}  // namespace kelmo

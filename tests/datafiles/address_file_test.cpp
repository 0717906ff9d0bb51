#include "datafiles/address_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <optional>

#include "support/sandbox.h"
#include "support/text.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

struct ParseCase {
  const char* name;
  std::string bytes;
  bool wholeFile;
  int error;  // 0, or the AddressFileError
  std::u16string own;
  std::u16string recipient;
};
constexpr int kTooFewLines = static_cast<int>(AddressFileError::kTooFewLines);
constexpr int kLineTooLong = static_cast<int>(AddressFileError::kLineTooLong);
constexpr int kNotText = static_cast<int>(AddressFileError::kNotText);
constexpr int kNotShiftJis = static_cast<int>(AddressFileError::kNotShiftJis);
constexpr int kNotRegularFile = static_cast<int>(FileError::kNotRegularFile);
const std::string kLongest(kMaxAddressLineBytes, 'x');
const std::u16string kLongest16(kMaxAddressLineBytes, u'x');

TEST(parse_address_file, reads_two_lines) {
  const ParseCase rows[] = {
      {"crlf", "a@b\r\nc@d\r\n", true, 0, u"a@b", u"c@d"},
      {"cr", "a@b\rc@d\r", true, 0, u"a@b", u"c@d"},
      {"lf", "a@b\nc@d\n", true, 0, u"a@b", u"c@d"},
      {"mixed", "a@b\nc@d\r", true, 0, u"a@b", u"c@d"},
      {"cr_cr_is_an_empty_second_line", "a@b\r\rc@d\r\n", true, 0, u"a@b", u""},
      {"empty_lines", "\r\n\r\n", true, 0, u"", u""},
      {"third_line_ignored", "a\r\nb\r\nc\r\n", true, 0, u"a", u"b"},
      {"binary_after_two_lines_ignored", std::string("a\r\nb\r\n\0\x01\xff", 9), true, 0, u"a",
       u"b"},
      {"last_line_unterminated", "a\r\nb", true, 0, u"a", u"b"},
      {"cp932", "\x82\xa0@x\r\n\x8c\x8f\x96\xbc\r\n", true, 0, u"あ@x", u"件名"},
      {"tab_allowed", "a\tb\r\nc\r\n", true, 0, u"a\tb", u"c"},
      {"longest_lines", kLongest + "\r\n" + kLongest + "\r\n", false, 0, kLongest16, kLongest16},
      // Errors.
      ParseCase{"empty", "", true, kTooFewLines, u"", u""},
      {"one_line", "a@b\r\n", true, kTooFewLines, u"", u""},
      {"one_unterminated_line", "a@b", true, kTooFewLines, u"", u""},
      {"first_line_too_long", kLongest + "x\r\nb\r\n", true, kLineTooLong, u"", u""},
      {"second_line_too_long", "a\r\n" + kLongest + "x", true, kLineTooLong, u"", u""},
      {"no_break_in_prefix", std::string(2 * kMaxAddressLineBytes, 'a'), false, kLineTooLong, u"",
       u""},
      {"second_line_cut_off", "a\r\n" + kLongest + "x", false, kLineTooLong, u"", u""},
      {"nul_in_line", std::string("a\0b\r\nc\r\n", 7), true, kNotText, u"", u""},
      {"escape_in_second_line", "a\r\n\x1b[31m\r\n", true, kNotText, u"", u""},
      // Not code page 932: nothing the file does not hold reaches a field.
      {"utf8_with_byte_order_mark", "\xEF\xBB\xBFme@x.jp\r\nyou@x.jp\r\n", true, kNotShiftJis, u"",
       u""},
      {"utf8_without_byte_order_mark", "\xE8\x87\xAA\xE5\x88\x86@x.jp\r\nyou@x.jp\r\n", true,
       kNotShiftJis, u"", u""},
      {"utf8_that_is_also_valid_cp932", "me@x.jp\r\n\xE3\x81\x82\xE3\x81\x84@x.jp\r\n", true,
       kNotShiftJis, u"", u""},
      {"byte_cp932_does_not_define", "me\x80@x.jp\r\nyou@x.jp\r\n", true, kNotShiftJis, u"", u""},
      {"undefined_double_byte", "me@x.jp\r\n\x86\x40@x.jp\r\n", true, kNotShiftJis, u"", u""},
      {"lead_byte_cut_off_by_the_line_end", "me\x82\r\nyou@x.jp\r\n", true, kNotShiftJis, u"",
       u""}};
  for (const ParseCase& c : rows) {
    SCOPED_TRACE(c.name);
    const auto parsed = ParseAddressFile(c.bytes, c.wholeFile);
    EXPECT_EQ(parsed ? 0 : static_cast<int>(parsed.error().error), c.error);
    if (parsed) {
      EXPECT_EQ(parsed->own, c.own);
      EXPECT_EQ(parsed->recipient, c.recipient);
    }
  }
}

TEST(address_file, bytes_are_cp932_lines_with_crlf) {
  EXPECT_EQ(AddressFileBytes(u"", u""), "\r\n\r\n");
  EXPECT_EQ(AddressFileBytes(u"me@x.jp", u"相手"), "me@x.jp\r\n\x91\x8a\x8e\xe8\r\n");
  EXPECT_EQ(AddressFileBytes(u"é", u"\U0001F600"), "?\r\n??\r\n");
  // Half-width kana, the wave dash and the NEC specials are code page 932's own.
  EXPECT_EQ(AddressFileBytes(u"ｱｲ～①@x.jp", u"相手?@x.jp"),
            "\xb1\xb2\x81\x60\x87\x40@x.jp\r\n\x91\x8a\x8e\xe8?@x.jp\r\n");
}

TEST(address_file, save_replaces_and_load_reads_back) {
  ScratchDir dir;
  WriteAll(u"kelmo.ini"_s, "old\r\nold\r\n");
  ASSERT_TRUE(SaveAddresses(u"kelmo.ini"_s, {u"自分ｱ～①@x.jp"_s, u"you@y.jp"_s}));
  EXPECT_EQ(ReadAll(u"kelmo.ini"_s), "\x8e\xa9\x95\xaa\xb1\x81\x60\x87\x40@x.jp\r\nyou@y.jp\r\n");
  const Result<AddressPair> loaded = LoadAddresses(u"kelmo.ini"_s);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->own, u"自分ｱ～①@x.jp"_s);
  EXPECT_EQ(loaded->recipient, u"you@y.jp"_s);
}

// Written as '?', such an address would come back as another one: nothing is written,
// and the message names the characters.
TEST(address_file, save_refuses_what_cp932_cannot_hold) {
  struct Row {
    const char* name;
    QString own;
    QString recipient;
    QString shows;
  };
  const Row rows[] = {
      {"emoji_in_recipient", u"me@x.jp"_s, u"a\U0001F600b@x.jp"_s, u"\U0001F600"_s},
      {"accent_in_own_address", u"café@x.jp"_s, u"you@x.jp"_s, u"é"_s},
      {"several", u"é€ü@x.jp"_s, u"y\U0001F600@x.jp"_s, u"é € ü \U0001F600"_s},
      // Written as another character's bytes, they would load back as that character.
      {"near_mappings", u"me¥‾〜—@x.jp"_s, u"¢£¬‖−@x.jp"_s, u"¥ ‾ 〜 — ¢ £ ¬ ‖ −"_s},
      // A line break would end the line early; an ESC makes a file the loader refuses.
      {"pasted_line_break", u"me@example.jp\n"_s, u"you@x.jp"_s, u"U+000A"_s},
      {"second_line_inside", u"me@x\r\nevil@x"_s, u"you@x.jp"_s, u"U+000D U+000A"_s},
      {"escape", u"me@x.jp"_s, u"\x1b[31m@x.jp"_s, u"U+001B"_s},
      {"next_line_and_separator", u"a\u0085b\u2028@x.jp"_s, u"you@x.jp"_s, u"U+0085 U+2028"_s},
      // One rule for every control character, TAB included.
      {"tab", u"me\t@x.jp"_s, u"you@x.jp"_s, u"U+0009"_s},
      // What shows nothing, or turns the rest of the message around, is named by number.
      {"invisible_ones", u"\uFEFFme\u200B@x.jp"_s, u"\u00A0\u202Eyou@x.jp\u2066"_s,
       u"U+FEFF U+200B U+00A0 U+202E U+2066"_s},
      {"combining_mark_alone", u"e\u0301@x.jp"_s, u"you@x.jp"_s, u"U+0301"_s},
      // Half-width katakana whose bytes are also UTF-8 ("ý@x.jp") would be refused on load.
      {"katakana_that_reads_as_utf8", u"me@x.jp"_s, u"ﾃｽ@x.jp"_s, u"2 行目"_s},
  };
  for (const std::optional<QByteArray>& before :
       {std::optional<QByteArray>(), std::optional<QByteArray>("old@a.jp\r\nold@b.jp\r\n")}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      ScratchDir dir;
      if (before) WriteAll(u"kelmo.ini"_s, *before);
      const Result<> saved = SaveAddresses(u"kelmo.ini"_s, {row.own, row.recipient});
      ASSERT_FALSE(saved);
      EXPECT_EQ(saved.error().number, static_cast<int>(AddressFileError::kNotStorable));
      EXPECT_TRUE(saved.error().description.contains(u"kelmo.ini"_s));
      EXPECT_TRUE(saved.error().description.contains(row.shows))
          << saved.error().description.toStdString();
      for (const QChar c : saved.error().description) {
        EXPECT_NE(c.category(), QChar::Other_Format) << "an invisible character shown as itself";
      }
      EXPECT_EQ(ReadAll(u"kelmo.ini"_s), before.value_or("<missing>"));
    }
  }
}

// Whatever the fields hold, a save either refuses or writes what loads back exactly.
TEST(address_file, what_is_saved_loads_back_exactly) {
  const std::u16string alphabet =
      u"az09.@-_ \tあア漢ｱ～①¥‾〜—¢£¬‖−\\~\r\n\x1b\x7f\u0085\u2028é\U0001F600";
  testing::RandomText random(21);
  ScratchDir dir;
  int saved = 0;
  for (int i = 0; i < 400; ++i) {
    const QString own = QString::fromStdU16String(random.From(alphabet, random.Upto(8)));
    const QString recipient = QString::fromStdU16String(random.From(alphabet, random.Upto(8)));
    SCOPED_TRACE(own.toStdString() + " | " + recipient.toStdString());
    if (!SaveAddresses(u"kelmo.ini"_s, {own, recipient})) continue;
    ++saved;
    const Result<AddressPair> loaded = LoadAddresses(u"kelmo.ini"_s);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->own, own);
    EXPECT_EQ(loaded->recipient, recipient);
  }
  EXPECT_GT(saved, 10);  // the rule lets ordinary addresses through
}

// The message names the line, and says when it is UTF-8, so that the user knows what
// to convert; files written on Windows, code page 932 with CR LF, load as they are.
TEST(address_file, load_refuses_what_is_not_shift_jis_naming_the_line) {
  struct Row {
    const char* name;
    QByteArray file;
    int number;
    QString says;
  };
  const Row rows[] = {
      {"utf8_with_byte_order_mark", "\xEF\xBB\xBFme@x.jp\r\nyou@x.jp\r\n", kNotShiftJis,
       u"1 行目が UTF-8"_s},
      {"utf8_second_line", "me@x.jp\n\xE7\x9B\xB8\xE6\x89\x8B@x.jp\n", kNotShiftJis,
       u"2 行目が UTF-8"_s},
      {"bytes_cp932_does_not_define", "\xFD@x.jp\r\nyou@x.jp\r\n", kNotShiftJis,
       u"1 行目に Shift_JIS"_s},
      {"windows_cp932_crlf", "\x8e\xa9\x95\xaa\xb1@x.jp\r\n\x91\x8a\x8e\xe8@x.jp\r\n", 0, u""_s},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    WriteAll(u"kelmo.ini"_s, row.file);
    const Result<AddressPair> loaded = LoadAddresses(u"kelmo.ini"_s);
    if (row.number == 0) {
      ASSERT_TRUE(loaded) << loaded.error().description.toStdString();
      EXPECT_EQ(loaded->own, u"自分ｱ@x.jp"_s);
      EXPECT_EQ(loaded->recipient, u"相手@x.jp"_s);
      continue;
    }
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error().number, row.number);
    EXPECT_TRUE(loaded.error().description.contains(row.says))
        << loaded.error().description.toStdString();
    EXPECT_TRUE(loaded.error().description.startsWith(u"kelmo.ini "_s));
  }
}

TEST(address_file, an_address_too_long_to_load_is_not_saved) {
  ScratchDir dir;
  const Result<> saved =
      SaveAddresses(u"kelmo.ini"_s, {QString(kMaxAddressLineBytes + 1, u'a'), u"b"_s});
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().number, kLineTooLong);
  EXPECT_FALSE(QFile::exists(u"kelmo.ini"_s));
  EXPECT_TRUE(SaveAddresses(u"kelmo.ini"_s, {QString(kMaxAddressLineBytes, u'a'), u"b"_s}));
}

int LoadError(const QString& path) {
  const Result<AddressPair> loaded = LoadAddresses(path);
  return loaded ? 0 : loaded.error().number;
}

TEST(address_file, load_reports_what_the_system_says) {
  ScratchDir dir;
  EXPECT_EQ(LoadError(u"kelmo.ini"_s), ENOENT);
  QDir().mkdir(u"kelmo.ini"_s);
  EXPECT_EQ(LoadError(u"kelmo.ini"_s), kNotRegularFile);
  const Result<AddressPair> loaded = LoadAddresses(u"kelmo.ini"_s);
  EXPECT_TRUE(loaded.error().description.contains(u"kelmo.ini"_s));
}

// Another user's kelmo.ini (one left in /tmp, say) is neither loaded as the user's nor
// replaced, for root too, and the message says whose it is rather than "read-only". A
// link of the user's own to another's file is replaced by a save, its target left alone;
// another's link is theirs too.
TEST(address_file, another_users_file_is_not_loaded_or_replaced) {
  constexpr int kNotOwned = static_cast<int>(FileError::kNotOwned);
  constexpr uid_t kNobody = 65534;
  struct Row {
    const char* name;
    bool othersFile;  // kelmo.ini (or what the link leads to) belongs to another user
    enum { kNoLink, kOwnLink, kOthersLink } link;  // kelmo.ini is a link to the file
    mode_t mode;
    bool save;
    int error;
  };
  const Row rows[] = {
      {"own file loads", false, Row::kNoLink, 0644, false, 0},
      {"own file is saved", false, Row::kNoLink, 0644, true, 0},
      {"another's file is not loaded", true, Row::kNoLink, 0644, false, kNotOwned},
      {"another's file is not replaced", true, Row::kNoLink, 0644, true, kNotOwned},
      {"another's file anyone may write is not replaced", true, Row::kNoLink, 0666, true,
       kNotOwned},
      {"own link to another's file is not loaded", true, Row::kOwnLink, 0644, false, kNotOwned},
      {"own link to another's file is replaced, not the file", true, Row::kOwnLink, 0644, true, 0},
      {"another's link to own file is not loaded", false, Row::kOthersLink, 0644, false, kNotOwned},
      {"another's link to own file is not replaced", false, Row::kOthersLink, 0644, true,
       kNotOwned},
  };
  QStringList skipped;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if ((row.othersFile || row.link == Row::kOthersLink) && ::geteuid() != 0) {
      skipped << QString::fromLatin1(row.name);
      continue;
    }
    ScratchDir dir;
    const QByteArray original = "other@x.jp\r\nswapped@evil.example\r\n";
    const QString file = row.link != Row::kNoLink ? u"target.ini"_s : u"kelmo.ini"_s;
    WriteAll(file, original);
    const QByteArray native = QFile::encodeName(file);
    ASSERT_EQ(::chmod(native.constData(), row.mode), 0);
    if (row.othersFile) {
      ASSERT_EQ(::chown(native.constData(), kNobody, kNobody), 0);
    }
    if (row.link != Row::kNoLink) {
      ASSERT_TRUE(QFile::link(file, u"kelmo.ini"_s));
    }
    if (row.link == Row::kOthersLink) {
      ASSERT_EQ(::lchown("kelmo.ini", kNobody, kNobody), 0);
    }
    const FilePath path = FilePath::InFolder(QDir(), u"kelmo.ini"_s);
    Error error;
    if (row.save) {
      const Result<> saved = SaveAddresses(path, {u"me@x.jp"_s, u"you@y.jp"_s});
      if (!saved) error = saved.error();
    } else {
      const Result<AddressPair> loaded = LoadAddresses(path);
      if (!loaded) error = loaded.error();
      if (loaded) {
        EXPECT_EQ(loaded->recipient, u"swapped@evil.example"_s);
      }
    }
    EXPECT_EQ(error.number, row.error) << error.description.toStdString();
    if (row.error != 0) {
      EXPECT_TRUE(error.description.contains(path.shown));
      EXPECT_TRUE(error.description.contains(u"他のユーザー"_s));
      EXPECT_FALSE(error.description.contains(u"読み取り専用"_s));
    }
    if (row.link == Row::kOthersLink) {
      EXPECT_TRUE(QFileInfo(u"kelmo.ini"_s).isSymLink());  // not replaced
    }
    if (row.othersFile || row.link == Row::kOthersLink) {
      EXPECT_EQ(ReadAll(file), original);  // never written
    }
  }
  // Without root, a system file is the other user's file at hand: root owns /bin/sh.
  if (::geteuid() != 0) {
    ScratchDir dir;
    ASSERT_TRUE(QFile::link(u"/bin/sh"_s, u"kelmo.ini"_s));
    EXPECT_EQ(LoadError(u"kelmo.ini"_s), kNotOwned);
  }
  if (!skipped.isEmpty()) {
    GTEST_SKIP() << "not root: no file of another user can be made here, so these rows did "
                    "not run: "
                 << skipped.join(u"; "_s).toStdString();
  }
}

TEST(address_file, huge_or_endless_files_are_read_only_as_far_as_needed) {
  ScratchDir dir;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(QFile::link(u"/dev/zero"_s, u"zero.ini"_s));
  EXPECT_EQ(LoadError(u"zero.ini"_s), kNotRegularFile);
  ASSERT_TRUE(QFile::copy(u"/bin/sh"_s, u"program.ini"_s));  // the user's own
  EXPECT_EQ(LoadError(u"program.ini"_s), kNotText);
  WriteAll(u"big.ini"_s, QByteArray(32 << 20, 'a'));
  EXPECT_EQ(LoadError(u"big.ini"_s), kLineTooLong);
  // A FIFO with no writer would block an ordinary open; it is refused before that.
  ASSERT_EQ(::mkfifo("fifo.ini", 0600), 0);
  EXPECT_EQ(LoadError(u"fifo.ini"_s), kNotRegularFile);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace kelmo

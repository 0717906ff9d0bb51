// The window's files: saving and loading addresses, and the character-mode scratch file.
#include <gtest/gtest.h>

#include <cerrno>

#include "form_driver.h"

namespace kelmo {
namespace {

using testing::FileSizeLimit;
using testing::FormDriver;
using testing::kAddressWarning;
using testing::kPlain;
using testing::ReadAll;
using testing::Unprivileged;
using testing::WriteAll;

void ExpectOneWarning(FormDriver& d, int number, const char* mentions) {
  ASSERT_EQ(d.messages().size(), 1u);
  const auto& box = d.messages().front();
  EXPECT_EQ(box.title, kPlain);
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.buttons, QMessageBox::Ok);
  EXPECT_TRUE(box.text.startsWith(QString::number(number) + QLatin1Char('\r')))
      << box.text.toStdString();
  EXPECT_TRUE(box.text.contains(QLatin1String(mentions))) << box.text.toStdString();
}

TEST(file_handling, save_writes_both_addresses_in_cp932_with_crlf) {
  FormDriver d;
  d.type("Text2", "me@example.jp");
  d.type("Text3", u"相手@example.jp"_qs);
  d.click("Command3");
  EXPECT_TRUE(d.messages().empty());
  EXPECT_EQ(ReadAll("kelmo.ini"), QByteArray("me@example.jp\r\n\x91\x8a\x8e\xe8@example.jp\r\n"));
}

TEST(file_handling, save_then_load_keeps_fields_and_total) {
  FormDriver d;
  d.type("Text1", u"本文"_qs);
  d.type("Text2", "me@example.jp");
  d.type("Text3", "you@example.jp");
  d.type("Text4", u"件名"_qs);
  d.click("Command3");
  const QString label = d.label();
  d.click("Command4");
  EXPECT_EQ(d.lineText("Text2"), "me@example.jp");
  EXPECT_EQ(d.lineText("Text3"), "you@example.jp");
  EXPECT_EQ(d.label(), label);
  EXPECT_EQ(label, QString::number(51 + 10 + 13 + 10));
  EXPECT_TRUE(d.messages().empty());
}

TEST(file_handling, load_accepts_every_line_ending_and_ignores_a_third_line) {
  struct Row {
    const char* name;
    QByteArray bytes;
  };
  const Row rows[] = {
      {"windows_crlf", "own@a.jp\r\nrcpt@b.jp\r\n"},
      {"cr", "own@a.jp\rrcpt@b.jp\r"},
      {"lone_lf", "own@a.jp\nrcpt@b.jp\n"},
      {"third_line", "own@a.jp\r\nrcpt@b.jp\r\nthird line\r\n"},
      {"no_final_break", "own@a.jp\r\nrcpt@b.jp"},
  };
  for (const Row& row : rows) {
    FormDriver d;
    WriteAll("kelmo.ini", row.bytes);
    d.click("Command4");
    EXPECT_EQ(d.lineText("Text2"), "own@a.jp") << row.name;
    EXPECT_EQ(d.lineText("Text3"), "rcpt@b.jp") << row.name;
    EXPECT_EQ(d.label(), QString::number(51 + 8)) << row.name;
    EXPECT_TRUE(d.messages().empty()) << row.name;
  }
}

TEST(file_handling, characters_outside_cp932_come_back_as_the_substitute) {
  FormDriver d;
  d.type("Text2", u"café@x.jp"_qs);
  d.type("Text3", u"a\U0001F600b"_qs);
  d.click("Command3");
  d.click("Command4");
  EXPECT_EQ(d.lineText("Text2"), "caf?@x.jp");
  EXPECT_EQ(d.lineText("Text3"), "a??b");
}

TEST(file_handling, long_own_address_from_file_warns_in_byte_mode) {
  FormDriver d;
  WriteAll("kelmo.ini", QByteArray(56, 'a') + "\r\nyou@x.jp\r\n");
  d.click("Command4");
  EXPECT_EQ(d.title(), kAddressWarning);
  EXPECT_EQ(d.label(), QString::number(51 + 56));
}

TEST(file_handling, load_recounts_counters_left_stale_by_character_mode) {
  FormDriver d;
  d.click("Ch");
  d.type("Text4", u"件名テスト"_qs);  // not measured in character mode
  d.type("Text1", "abc");
  EXPECT_EQ(d.label(), "3");
  WriteAll("kelmo.ini", "me@x.jp\r\nyou@x.jp\r\n");
  d.click("Command4");  // character mode: fields filled, label keeps the body's count
  EXPECT_EQ(d.lineText("Text2"), "me@x.jp");
  EXPECT_EQ(d.label(), "3");
  // Ticking back recounts everything, subject included.
  d.click("Ch");
  EXPECT_EQ(d.label(), QString::number(51 + 3 + 7 + 16));
}

TEST(file_handling, load_failure_leaves_everything_as_it_was) {
  struct Row {
    const char* name;
    std::optional<QByteArray> file;
    int number;
  };
  const Row rows[] = {
      {"missing", std::nullopt, ENOENT},
      {"one_line", QByteArray("only@one.jp\r\n"), 1001},
      {"empty", QByteArray(""), 1001},
      {"over_long_line", QByteArray(5000, 'a') + "\r\nb\r\n", 1002},
      {"binary",
       QByteArray("\x7f"
                  "ELF\x02\x01\x01\x00\x00\x00\n\n",
                  12),
       1003},
  };
  for (const Row& row : rows) {
    FormDriver d;
    d.type("Text2", "keep@me.jp");
    d.type("Text3", "keep@you.jp");
    if (row.file) WriteAll("kelmo.ini", *row.file);
    const QString label = d.label();
    d.click("Command4");
    SCOPED_TRACE(row.name);
    ExpectOneWarning(d, row.number, "kelmo.ini");
    EXPECT_EQ(d.lineText("Text2"), "keep@me.jp");
    EXPECT_EQ(d.lineText("Text3"), "keep@you.jp");
    EXPECT_EQ(d.label(), label);
    EXPECT_TRUE(d.form().isVisible());
  }
}

TEST(file_handling, save_into_read_only_directory_keeps_the_old_file) {
  FormDriver d;
  WriteAll("kelmo.ini", "old@a.jp\r\nold@b.jp\r\n");
  d.type("Text2", "new@a.jp");
  d.dir().setWritable(false);
  {
    Unprivileged nobody;
    d.click("Command3");
  }
  ExpectOneWarning(d, EACCES, "kelmo.ini");
  EXPECT_EQ(ReadAll("kelmo.ini"), "old@a.jp\r\nold@b.jp\r\n");
  EXPECT_EQ(d.lineText("Text2"), "new@a.jp");
}

TEST(file_handling, save_on_a_full_disk_keeps_the_old_file) {
  FormDriver d;
  WriteAll("kelmo.ini", "old@a.jp\r\nold@b.jp\r\n");
  d.type("Text2", QString(200, QLatin1Char('n')));
  {
    FileSizeLimit limit(64);
    d.click("Command3");
  }
  ExpectOneWarning(d, EFBIG, "kelmo.ini");
  EXPECT_EQ(ReadAll("kelmo.ini"), "old@a.jp\r\nold@b.jp\r\n");
}

TEST(file_handling, character_mode_writes_the_scratch_file) {
  FormDriver d;
  d.click("Ch");
  EXPECT_EQ(ReadAll("temp.tmp"), "\r\n\r\n");
  d.type("Text1", u"ab\nあ"_qs);
  EXPECT_EQ(ReadAll("temp.tmp"), "\r\nab\r\n\x82\xa0\r\n");
  EXPECT_EQ(d.label(), "3");
  d.click("Ch");  // byte mode leaves the file as it was
  d.type("Text1", "z");
  EXPECT_EQ(ReadAll("temp.tmp"), "\r\nab\r\n\x82\xa0\r\n");
}

TEST(file_handling, unwritable_scratch_file_is_reported_once_and_counting_goes_on) {
  FormDriver d;
  d.click("Ch");
  d.dir().setWritable(false);
  QFile::remove("temp.tmp");
  {
    Unprivileged nobody;
    d.type("Text1", "abcd");
  }
  ExpectOneWarning(d, EACCES, "temp.tmp");
  EXPECT_EQ(d.label(), "4");
  EXPECT_EQ(d.bodyText(), "abcd");

  d.dir().setWritable(true);  // a write succeeds again, then fails again: reported again
  d.type("Text1", "e");
  EXPECT_EQ(ReadAll("temp.tmp"), "\r\nabcde\r\n");
  EXPECT_EQ(d.messages().size(), 1u);
  d.dir().setWritable(false);
  QFile::remove("temp.tmp");
  {
    Unprivileged nobody;
    d.type("Text1", "f");
  }
  EXPECT_EQ(d.messages().size(), 2u);
  EXPECT_EQ(d.label(), "6");
}

}  // namespace
}  // namespace kelmo

// The window's files: saving and loading addresses, and the character-mode scratch file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "fileio/file_error.h"
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
  d.type("ownAddress", "me@example.jp");
  d.type("recipient", u"相手@example.jp"_qs);
  d.click("saveAddresses");
  EXPECT_TRUE(d.messages().empty());
  EXPECT_EQ(ReadAll("kelmo.ini"), QByteArray("me@example.jp\r\n\x91\x8a\x8e\xe8@example.jp\r\n"));
}

TEST(file_handling, save_then_load_keeps_fields_and_total) {
  FormDriver d;
  d.type("body", u"本文"_qs);
  d.type("ownAddress", "me@example.jp");
  d.type("recipient", "you@example.jp");
  d.type("subject", u"件名"_qs);
  d.click("saveAddresses");
  const QString label = d.label();
  d.click("loadAddresses");
  EXPECT_EQ(d.lineText("ownAddress"), "me@example.jp");
  EXPECT_EQ(d.lineText("recipient"), "you@example.jp");
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
    d.click("loadAddresses");
    EXPECT_EQ(d.lineText("ownAddress"), "own@a.jp") << row.name;
    EXPECT_EQ(d.lineText("recipient"), "rcpt@b.jp") << row.name;
    EXPECT_EQ(d.label(), QString::number(51 + 8)) << row.name;
    EXPECT_TRUE(d.messages().empty()) << row.name;
  }
}

TEST(file_handling, everything_cp932_holds_is_saved_byte_for_byte) {
  FormDriver d;
  d.type("ownAddress", u"ｱｲ～①@x.jp"_qs);
  d.type("recipient", u"相手?@x.jp"_qs);
  d.click("saveAddresses");
  EXPECT_TRUE(d.messages().empty());
  EXPECT_EQ(ReadAll("kelmo.ini"), QByteArray("\xb1\xb2\x81\x60\x87\x40@x.jp\r\n"
                                             "\x91\x8a\x8e\xe8?@x.jp\r\n"));
  d.click("loadAddresses");
  EXPECT_EQ(d.lineText("ownAddress"), u"ｱｲ～①@x.jp"_qs);
  EXPECT_EQ(d.lineText("recipient"), u"相手?@x.jp"_qs);
}

TEST(file_handling, long_own_address_from_file_warns_in_byte_mode) {
  FormDriver d;
  WriteAll("kelmo.ini", QByteArray(56, 'a') + "\r\nyou@x.jp\r\n");
  d.click("loadAddresses");
  EXPECT_EQ(d.title(), kAddressWarning);
  EXPECT_EQ(d.label(), QString::number(51 + 56));
}

TEST(file_handling, load_recounts_counters_left_stale_by_character_mode) {
  FormDriver d;
  d.click("byteMode");
  d.type("subject", u"件名テスト"_qs);  // not measured in character mode
  d.type("body", "abc");
  EXPECT_EQ(d.label(), "3");
  WriteAll("kelmo.ini", "me@x.jp\r\nyou@x.jp\r\n");
  d.click("loadAddresses");  // character mode: fields filled, label keeps the body's count
  EXPECT_EQ(d.lineText("ownAddress"), "me@x.jp");
  EXPECT_EQ(d.label(), "3");
  // Ticking back recounts everything, subject included.
  d.click("byteMode");
  EXPECT_EQ(d.label(), QString::number(51 + 3 + 7 + 16));
}

TEST(file_handling, load_failure_leaves_everything_as_it_was) {
  struct Row {
    const char* name;
    std::optional<QByteArray> file;
    int number;
    std::function<void()> arrange = nullptr;  // instead of a file with those bytes
  };
  const Row rows[] = {
      {"missing", std::nullopt, ENOENT},
      {"a_directory", std::nullopt, EISDIR, [] { QDir().mkdir("kelmo.ini"); }},
      {"a_fifo_nobody_writes", std::nullopt, 1001, [] { ::mkfifo("kelmo.ini", 0600); }},
      {"a_link_to_an_endless_device", std::nullopt, 1003,
       [] { (void)::symlink("/dev/zero", "kelmo.ini"); }},
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
    d.type("ownAddress", "keep@me.jp");
    d.type("recipient", "keep@you.jp");
    if (row.file) WriteAll("kelmo.ini", *row.file);
    if (row.arrange) row.arrange();
    const QString label = d.label();
    d.click("loadAddresses");
    SCOPED_TRACE(row.name);
    ExpectOneWarning(d, row.number, "kelmo.ini");
    EXPECT_EQ(d.lineText("ownAddress"), "keep@me.jp");
    EXPECT_EQ(d.lineText("recipient"), "keep@you.jp");
    EXPECT_EQ(d.label(), label);
    EXPECT_TRUE(d.form().isVisible());
  }
}

TEST(file_handling, save_into_read_only_directory_keeps_the_old_file) {
  FormDriver d;
  WriteAll("kelmo.ini", "old@a.jp\r\nold@b.jp\r\n");
  d.type("ownAddress", "new@a.jp");
  d.dir().setWritable(false);
  {
    Unprivileged nobody;
    d.click("saveAddresses");
  }
  ExpectOneWarning(d, EACCES, "kelmo.ini");
  EXPECT_EQ(ReadAll("kelmo.ini"), "old@a.jp\r\nold@b.jp\r\n");
  EXPECT_EQ(d.lineText("ownAddress"), "new@a.jp");
}

TEST(file_handling, save_on_a_full_disk_keeps_the_old_file) {
  FormDriver d;
  WriteAll("kelmo.ini", "old@a.jp\r\nold@b.jp\r\n");
  d.type("ownAddress", QString(200, QLatin1Char('n')));
  {
    FileSizeLimit limit(64);
    d.click("saveAddresses");
  }
  ExpectOneWarning(d, EFBIG, "kelmo.ini");
  EXPECT_EQ(ReadAll("kelmo.ini"), "old@a.jp\r\nold@b.jp\r\n");
}

// Polls the event loop until the file holds `bytes`, for at most two seconds.
bool FileBecomes(const QString& path, const QByteArray& bytes) {
  for (int waited = 0; waited < 2000; waited += 20) {
    if (QFile::exists(path) && ReadAll(path) == bytes) return true;
    QTest::qWait(20);
  }
  return false;
}

TEST(file_handling, character_mode_writes_the_scratch_file) {
  FormDriver d;
  d.click("byteMode");
  EXPECT_EQ(ReadAll("temp.tmp"), "\r\n\r\n");
  d.type("body", u"ab\nあ"_qs);
  EXPECT_EQ(d.label(), "3");  // at once; the file follows shortly
  EXPECT_TRUE(FileBecomes("temp.tmp", "\r\nab\r\n\x82\xa0\r\n"))
      << ReadAll("temp.tmp").toStdString();
  d.type("body", "c");
  d.click("byteMode");  // byte mode leaves the file as character mode left it
  d.type("body", "z");
  QTest::qWait(400);
  EXPECT_EQ(ReadAll("temp.tmp"),
            "\r\nab\r\n\x82\xa0"
            "c\r\n");
}

// Works for any user: temp.tmp is removed while the folder may still be written to.
TEST(file_handling, unwritable_scratch_file_is_reported_once_and_counting_goes_on) {
  FormDriver d;
  d.click("byteMode");
  QFile::remove("temp.tmp");
  d.dir().setWritable(false);
  {
    Unprivileged nobody;
    d.type("body", "abcd");
    d.form().FlushScratchFile();
  }
  ExpectOneWarning(d, EACCES, "temp.tmp");
  EXPECT_EQ(d.label(), "4");
  EXPECT_EQ(d.bodyText(), "abcd");

  d.dir().setWritable(true);  // a write succeeds again, then fails again: reported again
  d.type("body", "e");
  d.form().FlushScratchFile();
  EXPECT_EQ(ReadAll("temp.tmp"), "\r\nabcde\r\n");
  EXPECT_EQ(d.messages().size(), 1u);
  QFile::remove("temp.tmp");
  d.dir().setWritable(false);
  {
    Unprivileged nobody;
    d.type("body", "f");
    d.form().FlushScratchFile();
  }
  EXPECT_EQ(d.messages().size(), 2u);
  EXPECT_EQ(d.label(), "6");
}

// A link named temp.tmp or kelmo.ini is replaced by the file; its target keeps its bytes.
TEST(file_handling, links_in_place_of_the_files_are_replaced_not_written_through) {
  FormDriver d;
  WriteAll("precious.txt", "keep me\n");
  ASSERT_EQ(::symlink("precious.txt", "temp.tmp"), 0);
  ASSERT_EQ(::symlink("precious.txt", "kelmo.ini"), 0);
  d.click("byteMode");
  d.type("body", "ab");
  d.form().FlushScratchFile();
  d.type("ownAddress", "me@example.jp");
  d.click("saveAddresses");
  EXPECT_TRUE(d.messages().empty());
  EXPECT_EQ(ReadAll("precious.txt"), "keep me\n");
  EXPECT_FALSE(QFileInfo("temp.tmp").isSymLink());
  EXPECT_EQ(ReadAll("temp.tmp"), "\r\nab\r\n");
  EXPECT_FALSE(QFileInfo("kelmo.ini").isSymLink());
  EXPECT_EQ(ReadAll("kelmo.ini"), "me@example.jp\r\n\r\n");
}

// A change still waiting to be written when the window closes is written then.
TEST(file_handling, closing_writes_the_last_body) {
  FormDriver d;
  d.click("byteMode");
  d.type("body", "last words");
  d.click("exit");
  EXPECT_EQ(ReadAll("temp.tmp"), "\r\nlast words\r\n");
}

// Written as '?', an address would come back as another one: the save is refused.
TEST(file_handling, addresses_the_file_cannot_hold_are_not_saved) {
  struct Row {
    const char* name;
    QString own;
    QString recipient;
    const char* shows;
  };
  const Row rows[] = {
      {"emoji_in_recipient", "me@x.jp", u"a\U0001F600b@x.jp"_qs, "\U0001F600"},
      {"accent_in_own_address", u"café@x.jp"_qs, "you@x.jp", "é"},
  };
  for (const std::optional<QByteArray>& before :
       {std::optional<QByteArray>(), std::optional<QByteArray>("old@a.jp\r\nold@b.jp\r\n")}) {
    for (const Row& row : rows) {
      FormDriver d;
      if (before) WriteAll("kelmo.ini", *before);
      d.type("ownAddress", row.own);
      d.type("recipient", row.recipient);
      d.click("saveAddresses");
      SCOPED_TRACE(row.name);
      ExpectOneWarning(d, kNotStorable, "kelmo.ini");
      EXPECT_TRUE(d.messages().front().text.contains(QString::fromUtf8(row.shows)));
      EXPECT_EQ(ReadAll("kelmo.ini"), before.value_or("<missing>"));
      EXPECT_EQ(d.lineText("ownAddress"), row.own);
      EXPECT_EQ(d.lineText("recipient"), row.recipient);
    }
  }
}

}  // namespace
}  // namespace kelmo

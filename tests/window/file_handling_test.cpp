// The window's files: saving and loading addresses, and the character-mode scratch file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include <QAccessible>
#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>

#include "datafiles/address_file.h"
#include "form_driver.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

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
  // The folder too: it is the current directory, wherever that was.
  EXPECT_TRUE(box.text.contains(QDir(d.dir().path()).canonicalPath() + QLatin1Char('/')) ||
              box.text.contains(d.dir().path() + QLatin1Char('/')))
      << box.text.toStdString();
}

TEST(file_handling, save_writes_both_addresses_in_cp932_with_crlf) {
  FormDriver d;
  d.type("ownAddress", u"me@example.jp"_s);
  d.type("recipient", u"相手@example.jp"_s);
  d.click("saveAddresses");
  EXPECT_TRUE(d.messages().empty());
  EXPECT_EQ(ReadAll(d.file(u"kelmo.ini"_s)),
            QByteArray("me@example.jp\r\n\x91\x8a\x8e\xe8@example.jp\r\n"));
}

TEST(file_handling, save_then_load_keeps_fields_and_total) {
  FormDriver d;
  d.type("body", u"本文"_s);
  d.type("ownAddress", u"me@example.jp"_s);
  d.type("recipient", u"you@example.jp"_s);
  d.type("subject", u"件名"_s);
  d.click("saveAddresses");
  const QString label = d.label();
  d.click("loadAddresses");
  EXPECT_EQ(d.lineText("ownAddress"), u"me@example.jp"_s);
  EXPECT_EQ(d.lineText("recipient"), u"you@example.jp"_s);
  EXPECT_EQ(d.label(), label);
  EXPECT_EQ(label, QString::number(51 + 10 + 13 + 10));
  EXPECT_TRUE(d.messages().empty());
}

TEST(file_handling, long_own_address_from_file_warns_in_byte_mode) {
  FormDriver d;
  WriteAll(d.file(u"kelmo.ini"_s), QByteArray(56, 'a') + "\r\nyou@x.jp\r\n");
  d.click("loadAddresses");
  EXPECT_EQ(d.title(), kAddressWarning);
  EXPECT_EQ(d.label(), QString::number(51 + 56));
}

TEST(file_handling, load_recounts_counters_left_stale_by_character_mode) {
  FormDriver d;
  d.click("byteMode");
  d.type("subject", u"件名テスト"_s);  // not measured in character mode
  d.type("body", u"abc"_s);
  EXPECT_EQ(d.label(), u"3"_s);
  WriteAll(d.file(u"kelmo.ini"_s), "me@x.jp\r\nyou@x.jp\r\n");
  d.click("loadAddresses");  // character mode: fields filled, label keeps the body's count
  EXPECT_EQ(d.lineText("ownAddress"), u"me@x.jp"_s);
  EXPECT_EQ(d.label(), u"3"_s);
  // Ticking back recounts everything, subject included.
  d.click("byteMode");
  EXPECT_EQ(d.label(), QString::number(51 + 3 + 7 + 16));
}

// Which files cannot be loaded, and why, is the address file's to tell: here the window
// shows it and keeps what was typed.
TEST(file_handling, load_failure_leaves_everything_as_it_was) {
  struct Row {
    const char* name;
    std::optional<QByteArray> file;
    int number;
  };
  const Row rows[] = {
      {"missing", std::nullopt, ENOENT},
      {"one_line", QByteArray("only@one.jp\r\n"), 1001},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    d.type("ownAddress", u"keep@me.jp"_s);
    d.type("recipient", u"keep@you.jp"_s);
    if (row.file) WriteAll(d.file(u"kelmo.ini"_s), *row.file);
    const QString label = d.label();
    d.click("loadAddresses");
    ExpectOneWarning(d, row.number, "kelmo.ini");
    EXPECT_EQ(d.lineText("ownAddress"), u"keep@me.jp"_s);
    EXPECT_EQ(d.lineText("recipient"), u"keep@you.jp"_s);
    EXPECT_EQ(d.label(), label);
    EXPECT_TRUE(d.form().isVisible());
  }
}

// Why a save fails is the file module's to tell: here the window shows it.
TEST(file_handling, save_failure_is_shown_and_the_fields_stay) {
  FormDriver d;
  WriteAll(d.file(u"kelmo.ini"_s), "old@a.jp\r\nold@b.jp\r\n");
  d.type("ownAddress", u"new@a.jp"_s);
  d.dir().setWritable(false);
  {
    Unprivileged nobody;
    d.click("saveAddresses");
  }
  ExpectOneWarning(d, EACCES, "kelmo.ini");
  EXPECT_EQ(ReadAll(d.file(u"kelmo.ini"_s)), "old@a.jp\r\nold@b.jp\r\n");
  EXPECT_EQ(d.lineText("ownAddress"), u"new@a.jp"_s);
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
  EXPECT_EQ(ReadAll(d.file(u"temp.tmp"_s)), "\r\n\r\n");
  d.type("body", u"ab\nあ"_s);
  EXPECT_EQ(d.label(), u"3"_s);  // at once; the file follows shortly
  EXPECT_TRUE(FileBecomes(d.file(u"temp.tmp"_s), "\r\nab\r\n\x82\xa0\r\n"))
      << ReadAll(d.file(u"temp.tmp"_s)).toStdString();
  d.type("body", u"c"_s);
  d.click("byteMode");  // byte mode leaves the file as character mode left it
  d.type("body", u"z"_s);
  QTest::qWait(400);
  EXPECT_EQ(ReadAll(d.file(u"temp.tmp"_s)),
            "\r\nab\r\n\x82\xa0"
            "c\r\n");
}

// Works for any user: temp.tmp is removed while the folder may still be written to.
TEST(file_handling, unwritable_scratch_file_is_reported_once_and_counting_goes_on) {
  FormDriver d;
  d.click("byteMode");
  QFile::remove(d.file(u"temp.tmp"_s));
  d.dir().setWritable(false);
  {
    Unprivileged nobody;
    d.type("body", u"abcd"_s);
    d.form().FlushScratchFile();
  }
  ExpectOneWarning(d, EACCES, "temp.tmp");
  EXPECT_EQ(d.label(), u"4"_s);
  EXPECT_EQ(d.bodyText(), u"abcd"_s);

  d.dir().setWritable(true);  // a write succeeds again, then fails again: reported again
  d.type("body", u"e"_s);
  d.form().FlushScratchFile();
  EXPECT_EQ(ReadAll(d.file(u"temp.tmp"_s)), "\r\nabcde\r\n");
  EXPECT_EQ(d.messages().size(), 1u);
  QFile::remove(d.file(u"temp.tmp"_s));
  d.dir().setWritable(false);
  {
    Unprivileged nobody;
    d.type("body", u"f"_s);
    d.form().FlushScratchFile();
  }
  EXPECT_EQ(d.messages().size(), 2u);
  EXPECT_EQ(d.label(), u"6"_s);
}

// A link named temp.tmp or kelmo.ini is replaced by the file; its target keeps its bytes.
TEST(file_handling, links_in_place_of_the_files_are_replaced_not_written_through) {
  FormDriver d;
  WriteAll(d.file(u"precious.txt"_s), "keep me\n");
  ASSERT_TRUE(QFile::link(u"precious.txt"_s, d.file(u"temp.tmp"_s)));
  ASSERT_TRUE(QFile::link(u"precious.txt"_s, d.file(u"kelmo.ini"_s)));
  d.click("byteMode");
  d.type("body", u"ab"_s);
  d.form().FlushScratchFile();
  d.type("ownAddress", u"me@example.jp"_s);
  d.click("saveAddresses");
  EXPECT_TRUE(d.messages().empty());
  EXPECT_EQ(ReadAll(d.file(u"precious.txt"_s)), "keep me\n");
  EXPECT_FALSE(QFileInfo(d.file(u"temp.tmp"_s)).isSymLink());
  EXPECT_EQ(ReadAll(d.file(u"temp.tmp"_s)), "\r\nab\r\n");
  EXPECT_FALSE(QFileInfo(d.file(u"kelmo.ini"_s)).isSymLink());
  EXPECT_EQ(ReadAll(d.file(u"kelmo.ini"_s)), "me@example.jp\r\n\r\n");
}

// A change still waiting to be written when the window closes is written then.
TEST(file_handling, closing_writes_the_last_body) {
  FormDriver d;
  d.click("byteMode");
  d.type("body", u"last words"_s);
  d.click("exit");
  EXPECT_EQ(ReadAll(d.file(u"temp.tmp"_s)), "\r\nlast words\r\n");
}

// Pasted with the line break a spreadsheet cell or a terminal adds, or with one inside,
// the addresses save and load back as the fields show them: one line each.
TEST(file_handling, pasted_line_breaks_never_reach_the_file) {
  struct Row {
    const char* name;
    QString pasted;
    QString field;
  };
  const Row rows[] = {
      {"line_break_at_the_end", u"me@example.jp\n"_s, u"me@example.jp"_s},
      {"crlf_at_both_ends", u"\r\nme@example.jp\r\n"_s, u"me@example.jp"_s},
      {"second_line_inside", u"me@x\r\nevil@x"_s, u"me@xevil@x"_s},
      {"line_separator", u"me@x\u2028.jp"_s, u"me@x.jp"_s},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    d.type("recipient", u"friend@example.jp"_s);
    QLineEdit* own = d.control<QLineEdit>("ownAddress");
    own->setFocus();
    QGuiApplication::clipboard()->setText(row.pasted);
    QTest::keyClick(own, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(own->text(), row.field);
    d.click("saveAddresses");
    EXPECT_EQ(ReadAll(d.file(u"kelmo.ini"_s)), row.field.toLatin1() + "\r\nfriend@example.jp\r\n");
    d.click("clear");
    d.click("loadAddresses");
    EXPECT_EQ(own->text(), row.field);
    EXPECT_EQ(d.lineText("recipient"), u"friend@example.jp"_s);
    EXPECT_TRUE(d.messages().empty());
  }
}

// What would load back as other characters, or make the file unreadable, is refused and
// named, and the old file stays: '?' for what Shift_JIS cannot hold, another character's
// bytes for its near mappings, a control character.
TEST(file_handling, addresses_that_would_load_back_changed_are_not_saved) {
  struct Row {
    const char* name;
    QString own;
    QString recipient;
    QString named;
  };
  const Row rows[] = {
      {"not_in_shift_jis", u"café@x.jp"_s, u"a\U0001F600b@x.jp"_s, u"é \U0001F600"_s},
      {"near_mappings_and_escape", u"me¥‾〜—@x.jp"_s, u"a\x1b@x.jp"_s, u"¥ ‾ 〜 — U+001B"_s},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    WriteAll(d.file(u"kelmo.ini"_s), "old@a.jp\r\nold@b.jp\r\n");
    d.type("ownAddress", row.own);
    d.paste("recipient", row.recipient);
    d.click("saveAddresses");
    ExpectOneWarning(d, static_cast<int>(AddressFileError::kNotStorable), "kelmo.ini");
    EXPECT_TRUE(d.messages().front().text.contains(row.named))
        << d.messages().front().text.toStdString();
    EXPECT_EQ(ReadAll(d.file(u"kelmo.ini"_s)), "old@a.jp\r\nold@b.jp\r\n");
    EXPECT_EQ(d.lineText("ownAddress"), row.own);
    EXPECT_EQ(d.lineText("recipient"), row.recipient);
  }
}

// Leftovers of saves killed before their rename are removed when the window opens; a
// recent one may be another window's save in progress and stays.
TEST(file_handling, leftovers_of_killed_saves_go_at_start) {
  testing::SandboxDir folder;
  for (const char* name : {"kelmo.ini.Ab12Cd", "temp.tmp.xY9z8W", "kelmo.ini.new123"}) {
    WriteAll(folder.file(QString::fromLatin1(name)), "half");
  }
  for (const char* name : {"kelmo.ini.Ab12Cd", "temp.tmp.xY9z8W"}) {
    QFile file(folder.file(QString::fromLatin1(name)));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime);
  }
  MainForm form(std::make_unique<SystemMailTransport>(), QDir(folder.path()));
  EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList({u"kelmo.ini.new123"_s}));
}

// However the mode box changes, a screen reader's or a switch device's toggle action
// included, the counter follows it.
TEST(file_handling, the_mode_box_toggled_without_a_click_is_followed) {
  FormDriver d;
  d.type("body", u"ab\ncd"_s);
  const QString bytes = d.label();
  auto* box = d.control<QCheckBox>("byteMode");
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(box);
  ASSERT_NE(accessible, nullptr);
  ASSERT_NE(accessible->actionInterface(), nullptr);
  accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  ASSERT_FALSE(box->isChecked());
  EXPECT_EQ(d.label(), u"4"_s);
  EXPECT_EQ(d.title(), kPlain);
  d.form().close();
  EXPECT_EQ(ReadAll(d.file(u"temp.tmp"_s)), "\r\nab\r\ncd\r\n");
  accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(d.label(), bytes);
}

}  // namespace
}  // namespace kelmo

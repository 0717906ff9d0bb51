// The window's files: saving and loading addresses, and the character-mode scratch file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include <QAccessible>
#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>

#include "datafiles/address_file.h"
#include "fileio/file_io.h"
#include "form_driver.h"

using namespace Qt::StringLiterals;

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
  ASSERT_EQ(d.Messages().size(), 1u);
  const auto& box = d.Messages().front();
  EXPECT_EQ(box.title, kPlain);
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.buttons, QMessageBox::Ok);
  EXPECT_TRUE(box.text.startsWith(QString::number(number) + u"。\r"_s)) << box.text.toStdString();
  EXPECT_TRUE(box.text.contains(QLatin1String(mentions))) << box.text.toStdString();
  // The folder too: it is the current directory, wherever that was.
  EXPECT_TRUE(box.text.contains(QDir(d.Dir().Path()).canonicalPath() + QLatin1Char('/')) ||
              box.text.contains(d.Dir().Path() + QLatin1Char('/')))
      << box.text.toStdString();
}

TEST(file_handling, save_writes_both_addresses_in_cp932_with_crlf) {
  FormDriver d;
  d.Type("ownAddress", u"me@example.jp"_s);
  d.Type("recipient", u"相手@example.jp"_s);
  d.Click("saveAddresses");
  EXPECT_TRUE(d.Messages().empty());
  EXPECT_EQ(ReadAll(d.File(u"kelmo.ini"_s)),
            QByteArray("me@example.jp\r\n\x91\x8a\x8e\xe8@example.jp\r\n"));
}

TEST(file_handling, save_then_load_keeps_fields_and_total) {
  FormDriver d;
  d.Type("body", u"本文"_s);
  d.Type("ownAddress", u"me@example.jp"_s);
  d.Type("recipient", u"you@example.jp"_s);
  d.Type("subject", u"件名"_s);
  d.Click("saveAddresses");
  const QString label = d.Counter();
  d.Click("loadAddresses");
  EXPECT_EQ(d.LineText("ownAddress"), u"me@example.jp"_s);
  EXPECT_EQ(d.LineText("recipient"), u"you@example.jp"_s);
  EXPECT_EQ(d.Counter(), label);
  EXPECT_EQ(label, QString::number(51 + 10 + 13 + 10));
  EXPECT_TRUE(d.Messages().empty());
}

TEST(file_handling, long_own_address_from_file_warns_in_byte_mode) {
  FormDriver d;
  WriteAll(d.File(u"kelmo.ini"_s), QByteArray(56, 'a') + "\r\nyou@x.jp\r\n");
  d.Click("loadAddresses");
  EXPECT_EQ(d.Title(), kAddressWarning);
  EXPECT_EQ(d.Counter(), QString::number(51 + 56));
}

TEST(file_handling, load_recounts_counters_left_stale_by_character_mode) {
  FormDriver d;
  d.Click("byteMode");
  d.Type("subject", u"件名テスト"_s);  // not measured in character mode
  d.Type("body", u"abc"_s);
  EXPECT_EQ(d.Counter(), u"3"_s);
  WriteAll(d.File(u"kelmo.ini"_s), "me@x.jp\r\nyou@x.jp\r\n");
  d.Click("loadAddresses");  // character mode: fields filled, label keeps the body's count
  EXPECT_EQ(d.LineText("ownAddress"), u"me@x.jp"_s);
  EXPECT_EQ(d.Counter(), u"3"_s);
  // Ticking back recounts everything, subject included.
  d.Click("byteMode");
  EXPECT_EQ(d.Counter(), QString::number(51 + 3 + 7 + 16));
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
    d.Type("ownAddress", u"keep@me.jp"_s);
    d.Type("recipient", u"keep@you.jp"_s);
    if (row.file) WriteAll(d.File(u"kelmo.ini"_s), *row.file);
    const QString label = d.Counter();
    d.Click("loadAddresses");
    ExpectOneWarning(d, row.number, "kelmo.ini");
    EXPECT_EQ(d.LineText("ownAddress"), u"keep@me.jp"_s);
    EXPECT_EQ(d.LineText("recipient"), u"keep@you.jp"_s);
    EXPECT_EQ(d.Counter(), label);
    EXPECT_TRUE(d.Form().isVisible());
  }
}

// Why a save fails is the file module's to tell: here the window shows it.
TEST(file_handling, save_failure_is_shown_and_the_fields_stay) {
  FormDriver d;
  WriteAll(d.File(u"kelmo.ini"_s), "old@a.jp\r\nold@b.jp\r\n");
  // The file of the user the save runs as, so that the folder is what refuses it.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(QFile::encodeName(d.File(u"kelmo.ini"_s)).constData(), 65534, 65534), 0);
  }
  d.Type("ownAddress", u"new@a.jp"_s);
  d.Dir().SetWritable(false);
  {
    Unprivileged nobody;
    d.Click("saveAddresses");
  }
  ExpectOneWarning(d, EACCES, "kelmo.ini");
  EXPECT_EQ(ReadAll(d.File(u"kelmo.ini"_s)), "old@a.jp\r\nold@b.jp\r\n");
  EXPECT_EQ(d.LineText("ownAddress"), u"new@a.jp"_s);
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
  d.Click("byteMode");
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\n\r\n");
  d.Type("body", u"ab\nあ"_s);
  EXPECT_EQ(d.Counter(), u"3"_s);  // at once; the file follows shortly
  EXPECT_TRUE(FileBecomes(d.File(u"temp.tmp"_s), "\r\nab\r\n\x82\xa0\r\n"))
      << ReadAll(d.File(u"temp.tmp"_s)).toStdString();
  d.Type("body", u"c"_s);
  d.Click("byteMode");  // byte mode leaves the file as character mode left it
  d.Type("body", u"z"_s);
  QTest::qWait(400);
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)),
            "\r\nab\r\n\x82\xa0"
            "c\r\n");
}

// Works for any user: temp.tmp is removed while the folder may still be written to.
TEST(file_handling, unwritable_scratch_file_is_reported_once_and_counting_goes_on) {
  FormDriver d;
  d.Click("byteMode");
  QFile::remove(d.File(u"temp.tmp"_s));
  d.Dir().SetWritable(false);
  {
    Unprivileged nobody;
    d.Type("body", u"abcd"_s);
    d.Form().FlushScratchFile();
  }
  ExpectOneWarning(d, EACCES, "temp.tmp");
  EXPECT_EQ(d.Counter(), u"4"_s);
  EXPECT_EQ(d.BodyText(), u"abcd"_s);

  d.Dir().SetWritable(true);  // a write succeeds again, then fails again: reported again
  d.Type("body", u"e"_s);
  d.Form().FlushScratchFile();
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\nabcde\r\n");
  EXPECT_EQ(d.Messages().size(), 1u);
  QFile::remove(d.File(u"temp.tmp"_s));
  d.Dir().SetWritable(false);
  {
    Unprivileged nobody;
    d.Type("body", u"f"_s);
    d.Form().FlushScratchFile();
  }
  EXPECT_EQ(d.Messages().size(), 2u);
  EXPECT_EQ(d.Counter(), u"6"_s);
}

// A link named temp.tmp or kelmo.ini is replaced by the file; its target keeps its bytes.
// The temp.tmp link, not this window's, is kept under a new name first, and said so.
TEST(file_handling, links_in_place_of_the_files_are_replaced_not_written_through) {
  FormDriver d;
  WriteAll(d.File(u"precious.txt"_s), "keep me\n");
  ASSERT_TRUE(QFile::link(u"precious.txt"_s, d.File(u"temp.tmp"_s)));
  ASSERT_TRUE(QFile::link(u"precious.txt"_s, d.File(u"kelmo.ini"_s)));
  d.Click("byteMode");
  d.Type("body", u"ab"_s);
  d.Form().FlushScratchFile();
  d.Type("ownAddress", u"me@example.jp"_s);
  d.Click("saveAddresses");
  ExpectOneWarning(d, static_cast<int>(FileError::kKeptAside), "temp.tmp.kelmo-kept-");
  const QStringList kept =
      QDir(d.Dir().Path()).entryList({u"temp.tmp.kelmo-kept-*"_s}, QDir::Files | QDir::System);
  ASSERT_EQ(kept.size(), 1);
  EXPECT_EQ(QFileInfo(d.File(kept.front())).symLinkTarget(), d.File(u"precious.txt"_s));
  EXPECT_EQ(ReadAll(d.File(u"precious.txt"_s)), "keep me\n");
  EXPECT_FALSE(QFileInfo(d.File(u"temp.tmp"_s)).isSymLink());
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\nab\r\n");
  EXPECT_FALSE(QFileInfo(d.File(u"kelmo.ini"_s)).isSymLink());
  EXPECT_EQ(ReadAll(d.File(u"kelmo.ini"_s)), "me@example.jp\r\n\r\n");
}

// A change still waiting to be written when the window closes is written then.
TEST(file_handling, closing_writes_the_last_body) {
  FormDriver d;
  d.Click("byteMode");
  d.Type("body", u"last words"_s);
  d.Click("exit");
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\nlast words\r\n");
}

// A full disk when the window closes in character mode: the body cannot reach the
// scratch file. The window says so, naming the file and the error, and stays open with
// the body in it; closed again with the body as it was, it closes. Whether the disk was
// already full while typing (reported once then) or fills at the close, the same.
TEST(file_handling, closing_on_a_full_disk_keeps_the_window_open_once) {
  struct Row {
    const char* name;
    bool fullWhileTyping;  // the write after typing failed and was reported already
    bool typeAfterMessage;
    std::size_t boxes;  // shown in all
  };
  const Row rows[] = {
      {"full_at_the_close", false, false, 1},
      {"full_while_typing", true, false, 2},
      {"typed_after_the_message", false, true, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    d.Click("byteMode");  // "\r\n\r\n", within the limit below
    d.Type("body", u"last words"_s);
    {
      FileSizeLimit full(8);
      if (row.fullWhileTyping) {
        d.Form().FlushScratchFile();
        ASSERT_EQ(d.Messages().size(), 1u);
      }
      d.Click("exit");
      EXPECT_TRUE(d.Form().isVisible());
      ASSERT_EQ(d.Messages().size(), row.fullWhileTyping ? 2u : 1u);
      const QString text = d.Messages().back().text;
      EXPECT_TRUE(text.startsWith(QString::number(EFBIG) + u"。\r"_s)) << text.toStdString();
      EXPECT_TRUE(text.contains(u"temp.tmp"_s)) << text.toStdString();
      EXPECT_TRUE(text.contains(u"本文は保存されていません"_s)) << text.toStdString();
      EXPECT_EQ(d.BodyText(), u"last words"_s);
      if (row.typeAfterMessage) {
        d.Type("body", u"!"_s);
        d.Click("exit");
        EXPECT_TRUE(d.Form().isVisible());
      }
      d.Click("exit");
      EXPECT_FALSE(d.Form().isVisible());
      EXPECT_EQ(d.Messages().size(), row.boxes);
    }
    EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\n\r\n");  // the old file, whole
  }
}

// Closes the form once, as soon as a message box shows: a second close while the message
// is still up.
class CloseUnderMessage : public QObject {
 public:
  explicit CloseUnderMessage(QWidget& form) : m_form(form) { qApp->installEventFilter(this); }
  ~CloseUnderMessage() override { qApp->removeEventFilter(this); }
  std::optional<bool> closed;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && !closed && qobject_cast<QMessageBox*>(watched)) {
      closed = m_form.close();
    }
    return false;
  }

 private:
  QWidget& m_form;
};

// A second close while the message is still up (a second SIGTERM at a logout) does not
// close the window under it: Qt starts no close inside another. Once the message is
// answered, the next close closes.
TEST(file_handling, a_close_during_the_full_disk_message_waits_for_it) {
  FormDriver d;
  d.Click("byteMode");
  d.Type("body", u"last words"_s);
  FileSizeLimit full(8);
  CloseUnderMessage second(d.Form());
  d.Click("exit");
  ASSERT_TRUE(second.closed.has_value());
  EXPECT_TRUE(d.Form().isVisible());
  EXPECT_EQ(d.BodyText(), u"last words"_s);
  d.Click("exit");
  EXPECT_FALSE(d.Form().isVisible());
  EXPECT_EQ(d.Messages().size(), 1u);
}

// The display gone (Qt ends the program next) after a write failed and was reported: the
// body is written if it can be now, and otherwise standard error says it is not kept. (A
// folder it cannot write to, not a full disk: standard error is caught in a file here.)
TEST(file_handling, a_lost_display_tries_the_failed_write_again) {
  struct Row {
    const char* name;
    bool stillFailing;
  };
  for (const Row row : {Row{"still_failing", true}, Row{"writable_again", false}}) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    d.Click("byteMode");
    d.Type("body", u"last words"_s);
    QFile::remove(d.File(u"temp.tmp"_s));
    d.Dir().SetWritable(false);
    {
      Unprivileged nobody;
      d.Form().FlushScratchFile();
    }
    ASSERT_EQ(d.Messages().size(), 1u);
    d.Dir().SetWritable(!row.stillFailing);
    std::string said;
    {
      Unprivileged nobody;
      ::testing::internal::CaptureStderr();
      d.Form().FlushScratchFileWithoutDisplay();
      said = ::testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(d.Messages().size(), 1u);  // no box without a display
    if (row.stillFailing) {
      EXPECT_NE(said.find(std::to_string(EACCES) + ": "), std::string::npos) << said;
      EXPECT_NE(said.find("temp.tmp"), std::string::npos) << said;
      EXPECT_NE(said.find("本文は保存されていません"), std::string::npos) << said;
      EXPECT_FALSE(QFile::exists(d.File(u"temp.tmp"_s)));
    } else {
      EXPECT_EQ(said, "");
      EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\nlast words\r\n");
    }
  }
}

// Another program rewrote temp.tmp while a change of the body waited: the close keeps that
// file under a new name, says where, writes the body and closes.
TEST(file_handling, closing_keeps_a_temp_tmp_rewritten_meanwhile_and_says_so) {
  FormDriver d;
  d.Click("byteMode");
  d.Type("body", u"last words"_s);
  WriteAll(d.File(u"temp.tmp"_s), "another program's notes\n");
  d.Click("exit");
  EXPECT_FALSE(d.Form().isVisible());
  ExpectOneWarning(d, static_cast<int>(FileError::kKeptAside), "temp.tmp.kelmo-kept-");
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\nlast words\r\n");
  const QStringList kept = QDir(d.Dir().Path()).entryList({u"temp.tmp.kelmo-kept-*"_s});
  ASSERT_EQ(kept.size(), 1);
  EXPECT_EQ(ReadAll(d.File(kept.front())), "another program's notes\n");
}

// Room on the disk again by the close: the body is written and the window closes.
TEST(file_handling, closing_after_the_disk_has_room_again_writes_the_body) {
  FormDriver d;
  d.Click("byteMode");
  d.Type("body", u"abcdef"_s);
  {
    FileSizeLimit full(8);
    d.Form().FlushScratchFile();
  }
  ASSERT_EQ(d.Messages().size(), 1u);
  d.Click("exit");
  EXPECT_FALSE(d.Form().isVisible());
  EXPECT_EQ(d.Messages().size(), 1u);
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\nabcdef\r\n");
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
    d.Type("recipient", u"friend@example.jp"_s);
    QLineEdit* own = d.Control<QLineEdit>("ownAddress");
    own->setFocus();
    QGuiApplication::clipboard()->setText(row.pasted);
    QTest::keyClick(own, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(own->text(), row.field);
    d.Click("saveAddresses");
    EXPECT_EQ(ReadAll(d.File(u"kelmo.ini"_s)), row.field.toLatin1() + "\r\nfriend@example.jp\r\n");
    d.Click("clear");
    d.Click("loadAddresses");
    EXPECT_EQ(own->text(), row.field);
    EXPECT_EQ(d.LineText("recipient"), u"friend@example.jp"_s);
    EXPECT_TRUE(d.Messages().empty());
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
    WriteAll(d.File(u"kelmo.ini"_s), "old@a.jp\r\nold@b.jp\r\n");
    d.Type("ownAddress", row.own);
    d.Paste("recipient", row.recipient);
    d.Click("saveAddresses");
    ExpectOneWarning(d, static_cast<int>(AddressFileError::kNotStorable), "kelmo.ini");
    EXPECT_TRUE(d.Messages().front().text.contains(row.named))
        << d.Messages().front().text.toStdString();
    EXPECT_EQ(ReadAll(d.File(u"kelmo.ini"_s)), "old@a.jp\r\nold@b.jp\r\n");
    EXPECT_EQ(d.LineText("ownAddress"), row.own);
    EXPECT_EQ(d.LineText("recipient"), row.recipient);
  }
}

// The user's own temp.tmp is kept under a new name the first time character mode would
// replace it, and the window says where.
TEST(file_handling, the_users_temp_tmp_is_kept_and_the_window_says_where) {
  FormDriver d;
  WriteAll(d.File(u"temp.tmp"_s), "the user's notes\n");
  d.Click("byteMode");
  ExpectOneWarning(d, static_cast<int>(FileError::kKeptAside), "temp.tmp.kelmo-kept-");
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\n\r\n");
  const QStringList kept =
      QDir(d.Dir().Path()).entryList({u"temp.tmp.kelmo-kept-*"_s}, QDir::Files);
  ASSERT_EQ(kept.size(), 1);
  EXPECT_EQ(ReadAll(d.File(kept.front())), "the user's notes\n");
}

// However the mode box changes, a screen reader's or a switch device's toggle action
// included, the counter follows it.
TEST(file_handling, the_mode_box_toggled_without_a_click_is_followed) {
  FormDriver d;
  d.Type("body", u"ab\ncd"_s);
  const QString bytes = d.Counter();
  auto* box = d.Control<QCheckBox>("byteMode");
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(box);
  ASSERT_NE(accessible, nullptr);
  ASSERT_NE(accessible->actionInterface(), nullptr);
  accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  ASSERT_FALSE(box->isChecked());
  EXPECT_EQ(d.Counter(), u"4"_s);
  EXPECT_EQ(d.Title(), kPlain);
  d.Form().close();
  EXPECT_EQ(ReadAll(d.File(u"temp.tmp"_s)), "\r\nab\r\ncd\r\n");
  accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(d.Counter(), bytes);
}

}  // namespace
}  // namespace kelmo

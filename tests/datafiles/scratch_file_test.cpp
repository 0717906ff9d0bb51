#include "datafiles/scratch_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTest>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "datafiles/address_file.h"
#include "datafiles/data_folder.h"
#include "error/error.h"
#include "fileio/file_io.h"
#include "measure/char_count.h"
#include "support/sandbox.h"
#include "support/text.h"

using namespace Qt::StringLiterals;

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

// The policy without a window: a scratch file in a sandbox, a body the test sets, and the
// failures it reports.
struct ScratchFileRig {
  testing::SandboxDir dir;
  std::u16string body;
  int reads = 0;  // how often the body was fetched: once per write
  std::vector<int> reported;
  QString lastReport;
  ScratchFile file{dir.File(QStringLiteral("temp.tmp")),
                   [this] {
                     ++reads;
                     return body;
                   },
                   [this](const Error& error) {
                     reported.push_back(error.number);
                     lastReport = error.description;
                   }};

  QByteArray Bytes() const {
    QFile f(dir.File(QStringLiteral("temp.tmp")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
  }
};

TEST(scratch_file, changes_within_the_interval_are_written_once_at_its_end) {
  ScratchFileRig rig;
  for (const char16_t* text : {u"a", u"ab", u"abc"}) {
    rig.body = text;
    rig.file.BodyChanged();
  }
  EXPECT_EQ(rig.reads, 0);
  EXPECT_EQ(rig.Bytes(), "(none)");
  EXPECT_TRUE(QTest::qWaitFor([&] { return rig.reads > 0; }, 5000));
  EXPECT_EQ(rig.Bytes(), "\r\nabc\r\n");
  QTest::qWait(static_cast<int>(2 * ScratchFile::kInterval.count()));
  EXPECT_EQ(rig.reads, 1);  // and not again without a change
}

TEST(scratch_file, flush_writes_only_a_change_that_waits) {
  ScratchFileRig rig;
  rig.file.Flush();
  EXPECT_EQ(rig.reads, 0);
  rig.body = u"x";
  rig.file.BodyChanged();
  rig.file.Flush();
  EXPECT_EQ(rig.Bytes(), "\r\nx\r\n");
  rig.file.Flush();
  QTest::qWait(static_cast<int>(2 * ScratchFile::kInterval.count()));
  EXPECT_EQ(rig.reads, 1);
}

// Works for any user: a directory where temp.tmp should be makes every write fail.
TEST(scratch_file, failure_is_reported_once_until_a_write_succeeds) {
  ScratchFileRig rig;
  ASSERT_TRUE(QDir(rig.dir.Path()).mkdir(QStringLiteral("temp.tmp")));
  rig.file.Write();
  rig.file.Write();
  EXPECT_EQ(rig.reported.size(), 1u);
  ASSERT_TRUE(QDir(rig.dir.Path()).rmdir(QStringLiteral("temp.tmp")));
  rig.file.Write();  // succeeds: the next failure is news again
  ASSERT_TRUE(QFile::remove(rig.dir.File(QStringLiteral("temp.tmp"))));
  ASSERT_TRUE(QDir(rig.dir.Path()).mkdir(QStringLiteral("temp.tmp")));
  rig.file.Write();
  EXPECT_EQ(rig.reported.size(), 2u);
  rig.file.StopReporting();  // for good, a write that succeeds in between notwithstanding
  ASSERT_TRUE(QDir(rig.dir.Path()).rmdir(QStringLiteral("temp.tmp")));
  rig.file.Write();
  ASSERT_TRUE(QFile::remove(rig.dir.File(QStringLiteral("temp.tmp"))));
  ASSERT_TRUE(QDir(rig.dir.Path()).mkdir(QStringLiteral("temp.tmp")));
  rig.file.Write();
  EXPECT_EQ(rig.reported.size(), 2u);
}

// A temp.tmp this window did not write (the user's notes; one another program rewrote)
// keeps its bytes under a new name before it is replaced, and the report says where; the
// window's own is replaced without a word.
TEST(scratch_file, a_temp_tmp_this_window_did_not_write_is_kept) {
  ScratchFileRig rig;
  const QString scratch = rig.dir.File(QStringLiteral("temp.tmp"));
  const auto kept = [&rig] {
    return QDir(rig.dir.Path())
        .entryList({QStringLiteral("temp.tmp.kelmo-kept-*")}, QDir::Files, QDir::Name);
  };
  testing::WriteAll(scratch, "2,600 bytes of the user's notes\n");
  rig.body = u"a";
  rig.file.Write();
  EXPECT_EQ(rig.Bytes(), "\r\na\r\n");
  ASSERT_EQ(kept().size(), 1);
  EXPECT_EQ(testing::ReadAll(rig.dir.File(kept()[0])), "2,600 bytes of the user's notes\n");
  EXPECT_EQ(rig.reported, std::vector<int>{static_cast<int>(FileError::kKeptAside)});
  EXPECT_TRUE(rig.lastReport.contains(rig.dir.File(kept()[0]))) << rig.lastReport.toStdString();
  rig.body = u"b";
  rig.file.Write();  // its own: replaced
  EXPECT_EQ(rig.Bytes(), "\r\nb\r\n");
  EXPECT_EQ(kept().size(), 1);
  EXPECT_EQ(rig.reported.size(), 1u);
  testing::WriteAll(scratch, "another program's\n");
  rig.file.Write();
  EXPECT_EQ(rig.Bytes(), "\r\nb\r\n");
  ASSERT_EQ(kept().size(), 2);
  EXPECT_EQ(rig.reported.size(), 2u);
  // Whatever else stands beside it is never written.
  for (const QString& name : kept()) EXPECT_NE(testing::ReadAll(rig.dir.File(name)), "\r\nb\r\n");
}

// The next session finds the file an earlier one saved: its own, replaced without a word,
// unless it has been written since.
TEST(scratch_file, an_earlier_sessions_file_is_its_own_until_edited) {
  ScratchFileRig rig;
  const QString scratch = rig.dir.File(QStringLiteral("temp.tmp"));
  rig.body = u"earlier session";
  rig.file.Write();
  if (!SavedByKelmo(scratch)) GTEST_SKIP() << "this file system keeps no extended attributes";
  std::vector<int> reported;
  const auto session = [&scratch, &reported] {
    return std::make_unique<ScratchFile>(
        scratch, [] { return std::u16string(u"next session"); },
        [&reported](const Error& error) { reported.push_back(error.number); });
  };
  session()->Write();
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(testing::ReadAll(scratch), "\r\nnext session\r\n");
  QFile edited(scratch);  // the user adds a line in place, as some editors write
  ASSERT_TRUE(edited.open(QIODevice::Append));
  edited.write("a note\r\n");
  edited.close();
  session()->Write();
  EXPECT_EQ(reported, std::vector<int>{static_cast<int>(FileError::kKeptAside)});
  EXPECT_EQ(QDir(rig.dir.Path()).entryList({QStringLiteral("temp.tmp.kelmo-kept-*")}).size(), 1);
}

// A report shows a message box, whose event loop may close the window (a logout, Ctrl+C)
// or lose the display: by then the state must say whether the body is in the file.
TEST(scratch_file, a_report_comes_once_the_body_is_written_or_known_not_to_be) {
  struct Row {
    const char* name;
    bool keepAsideFails;  // the folder refuses new names: the user's file cannot be kept
  };
  for (const Row& row : {Row{"kept_aside_then_written", false}, Row{"not_kept_aside", true}}) {
    SCOPED_TRACE(row.name);
    testing::SandboxDir dir;
    const QString scratch = dir.File(QStringLiteral("temp.tmp"));
    testing::WriteAll(scratch, "the user's notes\n");
    std::vector<bool> settledDuringReport;
    QByteArray fileDuringReport;  // what a close made from the message box leaves
    std::unique_ptr<ScratchFile> file;
    file = std::make_unique<ScratchFile>(
        scratch, [] { return std::u16string(u"typed"); },
        [&](const Error&) {
          settledDuringReport.push_back(bool(file->Settle()));
          fileDuringReport = testing::ReadAll(scratch);
        });
    // Hard links and new names need a writable folder; root ignores the mode, so the test
    // takes the other way for root: a file where the kept name would go cannot stand in,
    // so root runs only the first row.
    if (row.keepAsideFails) {
      if (::geteuid() == 0) continue;
      ASSERT_EQ(::chmod(QFile::encodeName(dir.Path()).constData(), 0555), 0);
    }
    file->Write();
    if (row.keepAsideFails) (void)::chmod(QFile::encodeName(dir.Path()).constData(), 0755);
    ASSERT_EQ(settledDuringReport.size(), 1u);
    EXPECT_EQ(settledDuringReport[0], !row.keepAsideFails);
    EXPECT_EQ(fileDuringReport,
              row.keepAsideFails ? QByteArray("the user's notes\n") : QByteArray("\r\ntyped\r\n"));
  }
}

// Kept aside once: a save that fails after it (a full disk) does not keep the same file
// again, under a new name, on every later write.
TEST(scratch_file, a_file_kept_aside_is_kept_once) {
  ScratchFileRig rig;
  const QString scratch = rig.dir.File(QStringLiteral("temp.tmp"));
  testing::WriteAll(scratch, "the user's notes\n");
  rig.body = std::u16string(200, u'a');
  {
    const testing::FileSizeLimit full(64);
    for (int i = 0; i < 3; ++i) rig.file.Write();
  }
  EXPECT_EQ(QDir(rig.dir.Path()).entryList({QStringLiteral("temp.tmp.kelmo-kept-*")}).size(), 1);
  EXPECT_EQ(rig.reported, (std::vector<int>{static_cast<int>(FileError::kKeptAside), EFBIG}));
  rig.file.Write();  // room again: written, and nothing kept a second time
  EXPECT_EQ(rig.Bytes(), "\r\n" + QByteArray(200, 'a') + "\r\n");
  EXPECT_EQ(QDir(rig.dir.Path()).entryList({QStringLiteral("temp.tmp.kelmo-kept-*")}).size(), 1);
}

// Kelmo's mark names the very file: a copy that keeps the attributes (cp -a, a restore)
// is another file, the user's, and is kept aside before it is replaced.
TEST(scratch_file, a_copy_of_kelmos_file_is_not_kelmos) {
  testing::SandboxDir from;
  ScratchFile original(
      from.File(QStringLiteral("temp.tmp")), [] { return std::u16string(u"a draft"); },
      [](const Error&) {});
  original.Write();
  if (!SavedByKelmo(from.File(QStringLiteral("temp.tmp")))) {
    GTEST_SKIP() << "this file system keeps no extended attributes";
  }
  ScratchFileRig rig;
  const QByteArray command = "cp -a " + QFile::encodeName(from.File(QStringLiteral("temp.tmp"))) +
                             ' ' + QFile::encodeName(rig.dir.Path()) + "/temp.tmp";
  ASSERT_EQ(std::system(command.constData()), 0);
  EXPECT_FALSE(SavedByKelmo(rig.dir.File(QStringLiteral("temp.tmp"))));
  rig.body = u"b";
  rig.file.Write();
  EXPECT_EQ(rig.reported, std::vector<int>{static_cast<int>(FileError::kKeptAside)});
}

// Another window in the same folder, or another program, replaced the file since this
// window wrote it: a close writes this window's body again rather than take it as done.
TEST(scratch_file, settle_writes_again_what_was_replaced_since) {
  ScratchFileRig rig;
  const QString scratch = rig.dir.File(QStringLiteral("temp.tmp"));
  rig.body = u"window A";
  rig.file.Write();
  ScratchFile other(
      scratch, [] { return std::u16string(u"window B"); }, [](const Error&) {});
  other.Write();
  EXPECT_TRUE(rig.file.Settle());
  EXPECT_EQ(rig.Bytes(), "\r\nwindow A\r\n");
}

// Started in a folder named in Shift_JIS (a disk from an older Japanese system): the
// window's files are found by their names in it, and messages show it decoded.
TEST(data_folder, works_in_a_folder_named_in_shift_jis) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"C.UTF-8", "ja_JP.UTF-8"}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) continue;
    SCOPED_TRACE(locale);
    testing::ScratchDir dir;
    const char folder[] = "\x83\x5c\x83\x74\x83\x67";  // ソフト: a trail byte is '\\'
    ASSERT_EQ(::mkdir(folder, 0700), 0);
    ASSERT_EQ(::chdir(folder), 0);
    const DataFolder files{QDir()};
    EXPECT_TRUE(SaveAddresses(files.AddressFile(), {u"me@x.jp"_s, u"you@x.jp"_s}));
    const Result<AddressPair> loaded = LoadAddresses(files.AddressFile());
    ASSERT_TRUE(loaded) << loaded.error().description.toStdString();
    EXPECT_EQ(loaded->recipient, u"you@x.jp"_s);
    std::vector<int> reported;
    ScratchFile scratch(
        files.ScratchFile(), [] { return std::u16string(u"body"); },
        [&reported](const Error& error) { reported.push_back(error.number); });
    scratch.Write();
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(testing::ReadAll(u"temp.tmp"_s), "\r\nbody\r\n");
    EXPECT_TRUE(files.AddressFile().shown.endsWith(u"/ソフト/kelmo.ini"_s))
        << files.AddressFile().shown.toStdString();
    ASSERT_EQ(::unlink("kelmo.ini"), 0);
    const Result<AddressPair> missing = LoadAddresses(files.AddressFile());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().number, ENOENT);
    EXPECT_TRUE(missing.error().description.contains(u"/ソフト/kelmo.ini "_s))
        << missing.error().description.toStdString();
    // Qt would decode the name to remove it: removed here as bytes.
    ASSERT_EQ(::unlink("temp.tmp"), 0);
    ASSERT_EQ(::chdir(".."), 0);
    ASSERT_EQ(::rmdir(folder), 0);
  }
  std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace kelmo

// The body keeper on its own: the body in the scratch file in character mode, and what a
// close or a lost display finds when it cannot be written.
#include "window/body_keeper.h"

#include <gtest/gtest.h>

#include <QTest>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "message/message_model.h"
#include "support/sandbox.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::FileSizeLimit;
using testing::ReadAll;
using testing::SandboxDir;
using testing::Unprivileged;

// A keeper over a body the test sets, in character mode unless untold, with every report
// it makes.
struct Kept {
  explicit Kept(bool characterMode = true) {
    if (characterMode) model.ByteModeUnticked();
  }
  QString File() const { return dir.File(u"temp.tmp"_s); }
  bool Reported(int number, const char* mentions) const {
    return !reports.empty() && reports.back().number == number &&
           reports.back().description.contains(QString::fromUtf8(mentions));
  }

  SandboxDir dir;
  MessageModel model;
  std::u16string body = u"last words";
  std::int64_t edits = 1;
  std::vector<Error> reports;
  BodyKeeper keeper{FilePath(dir.File(u"temp.tmp"_s)), model, [this] { return body; },
                    [this] { return edits; }, [this](const Error& e) { reports.push_back(e); }};
};

TEST(body_keeper, an_edit_is_kept_shortly_in_character_mode_only) {
  for (const bool characterMode : {true, false}) {
    SCOPED_TRACE(characterMode ? "character_mode" : "byte_mode");
    Kept k(characterMode);
    k.keeper.BodyEdited();
    EXPECT_FALSE(QFile::exists(k.File()));  // not at the keystroke
    QTest::qWait(static_cast<int>(ScratchFile::kInterval.count()) + 200);
    EXPECT_EQ(ReadAll(k.File()), characterMode ? "\r\nlast words\r\n" : "<missing>");
    EXPECT_TRUE(k.reports.empty());
  }
}

// Whether a close may go ahead, and what the user is told when it may not.
TEST(body_keeper, a_close_goes_ahead_only_with_the_body_kept) {
  struct Row {
    const char* name;
    bool characterMode;
    bool readOnlyFolder;
    bool kept;
    QByteArray file;
  };
  const Row rows[] = {
      {"character_mode_writable", true, false, true, "\r\nlast words\r\n"},
      {"byte_mode_read_only", false, true, true, "<missing>"},
      {"character_mode_read_only", true, true, false, "<missing>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Kept k(row.characterMode);
    k.keeper.BodyEdited();
    k.dir.SetWritable(!row.readOnlyFolder);
    bool kept = false;
    {
      Unprivileged nobody;  // root too is kept out of a folder it may not write to
      kept = k.keeper.KeptForClose();
    }
    EXPECT_EQ(kept, row.kept);
    EXPECT_EQ(ReadAll(k.File()), row.file);
    if (row.kept) {
      EXPECT_TRUE(k.reports.empty());
    } else {
      ASSERT_EQ(k.reports.size(), 1u);
      EXPECT_TRUE(k.Reported(EACCES, "temp.tmp")) << k.reports.back().description.toStdString();
      EXPECT_TRUE(k.Reported(EACCES, "本文は保存されていません。コピーしてから"));
    }
  }
}

// Told once, a user who closes again with the body as it was closes; one who edited since
// is told again.
TEST(body_keeper, a_failed_close_stops_the_close_once_per_body) {
  Kept k;
  FileSizeLimit full(4);
  EXPECT_FALSE(k.keeper.KeptForClose());
  EXPECT_TRUE(k.Reported(EFBIG, "temp.tmp"));
  EXPECT_TRUE(k.keeper.KeptForClose());
  EXPECT_EQ(k.reports.size(), 1u);
  ++k.edits;
  k.body += u'!';
  EXPECT_FALSE(k.keeper.KeptForClose());
  EXPECT_EQ(k.reports.size(), 2u);
  EXPECT_TRUE(k.keeper.KeptForClose());
  EXPECT_EQ(ReadAll(k.File()), "<missing>");
}

// The display gone: the body is written if it can be, and a failure is said without the
// advice to copy the body, which no window is left to copy from.
TEST(body_keeper, a_lost_display_keeps_the_body_or_says_it_is_lost) {
  struct Row {
    const char* name;
    bool characterMode;
    bool readOnlyFolder;
    std::size_t reports;
    QByteArray file;
  };
  const Row rows[] = {
      {"writable", true, false, 0, "\r\nlast words\r\n"},
      {"read_only", true, true, 1, "<missing>"},
      {"byte_mode", false, true, 0, "<missing>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Kept k(row.characterMode);
    EXPECT_FALSE(k.keeper.DisplayGone());
    k.dir.SetWritable(!row.readOnlyFolder);
    {
      Unprivileged nobody;
      k.keeper.KeepWithoutDisplay();
    }
    EXPECT_TRUE(k.keeper.DisplayGone());
    ASSERT_EQ(k.reports.size(), row.reports);
    if (row.reports != 0) {
      EXPECT_TRUE(k.Reported(EACCES, "本文は保存されていません。"));
      EXPECT_FALSE(k.Reported(EACCES, "コピー"));
    }
    EXPECT_EQ(ReadAll(k.File()), row.file);
  }
}

// A change still waiting when the keeper goes is written; a failure then (a full disk) is
// not reported, as nothing is left to show it in.
TEST(body_keeper, going_writes_what_waits_unreported) {
  for (const bool full : {false, true}) {
    SCOPED_TRACE(full ? "full_disk" : "room");
    SandboxDir dir;
    std::vector<Error> reports;
    {
      std::optional<FileSizeLimit> limit;
      if (full) limit.emplace(4);
      MessageModel model;
      model.ByteModeUnticked();
      BodyKeeper keeper(
          FilePath(dir.File(u"temp.tmp"_s)), model, [] { return std::u16string(u"bye"); },
          [] { return std::int64_t{1}; }, [&](const Error& e) { reports.push_back(e); });
      keeper.BodyEdited();
    }
    EXPECT_EQ(ReadAll(dir.File(u"temp.tmp"_s)), full ? "<missing>" : "\r\nbye\r\n");
    EXPECT_TRUE(reports.empty());
  }
}

}  // namespace
}  // namespace kelmo

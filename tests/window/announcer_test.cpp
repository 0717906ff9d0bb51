// The announcer on its own: every announcement heard with its own text, in order, and
// the crossings of the limits said once each.
#include "window/announcer.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>

#include "announcement_log.h"
#include "message/limits.h"
#include "utf16/utf16.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::AnnouncementLog;

QString Warning(Title title) { return ToQString(WarningText(title)).trimmed(); }

TEST(announcer, announcements_of_one_turn_are_each_heard_in_order) {
  QWidget window;
  Announcer announcer(&window);
  window.show();
  AnnouncementLog log;
  announcer.Announce(u"一"_s);
  announcer.Announce(u"二"_s);
  announcer.Announce(u"三"_s);
  EXPECT_EQ(log.Take(), QStringList({u"一"_s, u"二"_s, u"三"_s}));
  announcer.Announce(u"四"_s);  // the earlier ones still show: a fourth notification
  EXPECT_EQ(log.Take(), QStringList({u"四"_s}));
  const QList<QLabel*> notices = window.findChildren<QLabel*>();
  ASSERT_EQ(notices.size(), 4);
  for (QLabel* notice : notices) {
    EXPECT_EQ(notice->size(), QSize(1, 1));  // nothing a sighted user sees
    EXPECT_EQ(notice->text(), QString());
  }
}

// A key held at a limit announces on every keystroke; the notifications stay few.
TEST(announcer, a_flood_of_announcements_reuses_a_few_notifications) {
  QWidget window;
  Announcer announcer(&window);
  window.show();
  AnnouncementLog log;
  for (int i = 0; i < 50; ++i) announcer.Announce(QString::number(i));
  EXPECT_EQ(log.Take().size(), 50);
  EXPECT_LE(window.findChildren<QLabel*>().size(), 8);
  announcer.Announce(u"最後"_s);
  EXPECT_EQ(log.Take(), QStringList({u"最後"_s}));
}

TEST(announcer, each_crossing_is_said_once_either_way) {
  struct Step {
    const char* name;
    PastLimits past;
    QStringList said;
  };
  const Step steps[] = {
      {"within_all", {}, {}},
      {"message_passed", {false, false, true}, {Warning(Title::kMessageTooLong)}},
      {"still_past", {false, false, true}, {}},
      {"subject_passed_too", {false, true, true}, {Warning(Title::kSubjectTooLong)}},
      {"both_back_in_one_edit", {}, {u"全体が制限内に戻りました。件名が制限内に戻りました"_s}},
      {"address_passed", {true, false, false}, {Warning(Title::kAddressTooLong)}},
      {"address_back", {}, {u"アドが制限内に戻りました"_s}},
  };
  QWidget window;
  Announcer announcer(&window);
  window.show();
  AnnouncementLog log;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    announcer.AnnounceCrossings(step.past);
    EXPECT_EQ(log.Take(), step.said);
  }
}

}  // namespace
}  // namespace kelmo

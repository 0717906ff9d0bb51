// What a screen reader is given: the window as a frame named by its title, the count with
// the room left and the warning where the user is, and one notification per crossing of a
// limit and per success.
#include <gtest/gtest.h>

#include <QAccessible>

#include "announcement_log.h"
#include "form_driver.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::AnnouncedWarning;
using testing::AnnouncementLog;
using testing::FormDriver;
using testing::kTotalWarning;

QAccessibleInterface* Accessible(QWidget* widget) {
  return QAccessible::queryAccessibleInterface(widget);
}

TEST(accessibility, the_window_is_a_frame_named_by_its_title) {
  FormDriver d;
  QAccessibleInterface* window = Accessible(&d.Form());
  EXPECT_EQ(window->role(), QAccessible::Window);
  d.Paste("body", QString(334, u'a'));
  EXPECT_EQ(window->text(QAccessible::Name), kTotalWarning);
  EXPECT_GE(window->childCount(), 15);  // the controls are still reached through it
}

// The counter's name starts with its number; the body's description adds the warning.
TEST(accessibility, the_count_room_and_warning_are_spoken_where_the_user_is) {
  struct Row {
    const char* name;
    int bodyLength;
    const char* counterName;
    QString bodyDescription;
  };
  const Row rows[] = {
      {"at_the_limit", 333, "384 あと0バイト", u"384 あと0バイト"_s},
      {"past_it", 338, "389 5バイト超過",
       u"389 5バイト超過"_s + ToQString(WarningText(Title::kMessageTooLong))},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    d.Paste("body", QString(row.bodyLength, u'a'));
    EXPECT_EQ(Accessible(d.Control("counter"))->text(QAccessible::Name),
              QString::fromUtf8(row.counterName));
    EXPECT_EQ(Accessible(d.Body())->text(QAccessible::Description), row.bodyDescription);
  }
  FormDriver d;
  d.Click("byteMode");
  d.Type("body", u"ab"_s);
  EXPECT_EQ(Accessible(d.Control("counter"))->text(QAccessible::Name), u"2 あと382文字"_s);
}

// The counter shows 0 until the first edit, but an empty message already costs 51 bytes:
// the room said is what is left of the 384.
TEST(accessibility, the_room_left_is_true_from_the_start) {
  FormDriver d;
  EXPECT_EQ(d.Counter(), u"0"_s);
  EXPECT_EQ(Accessible(d.Control("counter"))->text(QAccessible::Name), u"0 あと333バイト"_s);
  EXPECT_EQ(Accessible(d.Body())->text(QAccessible::Description), u"0 あと333バイト"_s);
  EXPECT_EQ(d.Control("counter")->toolTip(), u"あと333バイト"_s);
  EXPECT_EQ(d.Control("ownAddress")->toolTip(), u"あと55バイト"_s);
  EXPECT_EQ(d.Control("subject")->toolTip(), u"あと40バイト"_s);
  d.Type("body", u"a"_s);
  EXPECT_EQ(Accessible(d.Control("counter"))->text(QAccessible::Name), u"52 あと332バイト"_s);
}

// Several announcements in one turn of the event loop are each heard, in order, with
// their own text: a crossing before the success that caused it.
TEST(accessibility, a_crossing_and_a_success_of_one_click_are_both_heard) {
  FormDriver d;
  d.Type("ownAddress", QString(55, u'a'));
  d.Type("recipient", u"you@example.jp"_s);
  d.Click("saveAddresses");
  d.Control<QLineEdit>("ownAddress")->clear();
  d.Paste("body", QString(300, u'b'));
  ASSERT_EQ(d.Counter(), u"351"_s);
  AnnouncementLog log;
  d.Click("loadAddresses");
  EXPECT_EQ(d.Counter(), u"406"_s);
  EXPECT_EQ(log.Take(),
            QStringList({AnnouncedWarning(Title::kMessageTooLong), u"読み込みました"_s}));
  // CLS brings the message back within the limit.
  d.Click("clear");
  EXPECT_EQ(log.Take(), QStringList({u"全体が制限内に戻りました"_s, u"消しました"_s}));
}

// The box says only ticked or not; the count it changed is announced with its unit, and
// a crossing the change makes comes after it.
TEST(accessibility, a_mode_change_says_the_new_count_and_its_unit) {
  struct Row {
    const char* name;
    QString body;
    QStringList unticked;
    QStringList ticked;
  };
  const Row rows[] = {
      {"untouched", u""_s, {u"0文字 あと384文字"_s}, {u"51バイト あと333バイト"_s}},
      {"double_byte", u"こんにちは"_s, {u"5文字 あと379文字"_s}, {u"67バイト あと317バイト"_s}},
      {"past_the_limit_in_bytes_only",
       QString(340, u'a'),
       {u"340文字 あと44文字"_s, u"全体が制限内に戻りました"_s},
       {u"391バイト 7バイト超過"_s, AnnouncedWarning(Title::kMessageTooLong)}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    if (!row.body.isEmpty()) d.Paste("body", row.body);
    AnnouncementLog log;
    d.Click("byteMode");
    EXPECT_EQ(log.Take(), row.unticked);
    d.Click("byteMode");
    EXPECT_EQ(log.Take(), row.ticked);
  }
}

TEST(accessibility, each_crossing_is_announced_once) {
  FormDriver d;
  AnnouncementLog log;
  d.Paste("body", QString(333, u'a'));
  EXPECT_EQ(log.Take(), QStringList());
  d.Type("body", u"a"_s);  // 385
  EXPECT_EQ(log.Take(), QStringList({AnnouncedWarning(Title::kMessageTooLong)}));
  d.Type("body", u"aa"_s);  // still past it: nothing new
  EXPECT_EQ(log.Take(), QStringList());
  for (int i = 0; i < 3; ++i) QTest::keyClick(d.Body(), Qt::Key_Backspace);
  EXPECT_EQ(log.Take(), QStringList({u"全体が制限内に戻りました"_s}));
  QTest::keyClick(d.Body(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(d.Body(), Qt::Key_Delete);
  d.Type("subject", QString(21, u'あ'));
  EXPECT_EQ(log.Take(), QStringList({AnnouncedWarning(Title::kSubjectTooLong)}));
  d.Paste("ownAddress", QString(56, u'a'));
  EXPECT_EQ(log.Take(), QStringList({AnnouncedWarning(Title::kAddressTooLong)}));
  EXPECT_FALSE(d.Control("announcement")->isHidden());
  EXPECT_EQ(d.Control("announcement")->size(), QSize(1, 1));  // nothing a sighted user sees
}

TEST(accessibility, successes_are_announced) {
  FormDriver d;
  AnnouncementLog log;
  d.Type("ownAddress", u"me@example.jp"_s);
  d.Type("recipient", u"you@example.jp"_s);
  d.Click("saveAddresses");
  d.Click("loadAddresses");
  d.Click("clear");
  EXPECT_EQ(log.Take(), QStringList({u"保存しました"_s, u"読み込みました"_s, u"消しました"_s}));
  // A failure is a message box, not an announcement.
  d.Click("loadAddresses");
  QFile::remove(d.File(u"kelmo.ini"_s));
  d.Click("loadAddresses");
  EXPECT_EQ(log.Take(), QStringList({u"読み込みました"_s}));
  EXPECT_EQ(d.Messages().size(), 1u);
}

// Entered by Tab, a field still selects its text, as everywhere on the desktop, but only
// once the focus has been reported, so that a screen reader names the field first.
TEST(accessibility, tab_into_a_field_selects_its_text_after_the_focus) {
  FormDriver d;
  d.Type("subject", u"hello"_s);
  auto* subject = d.Control<QLineEdit>("subject");
  d.Body()->setFocus();
  for (int i = 0; i < 3; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), subject);
  EXPECT_FALSE(subject->hasSelectedText());  // not while the focus is being reported
  QCoreApplication::processEvents();
  EXPECT_EQ(subject->selectedText(), u"hello"_s);
}

}  // namespace
}  // namespace kelmo

// What a screen reader is given: the window as a frame named by its title, the count with
// the room left and the warning where the user is, and one notification per crossing of a
// limit and per success.
#include <gtest/gtest.h>

#include <QAccessible>

#include "form_driver.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::AnnouncedWarning;
using testing::FormDriver;
using testing::kTotalWarning;

QAccessibleInterface* Accessible(QWidget* widget) {
  return QAccessible::queryAccessibleInterface(widget);
}

// Every announcement as it shows: Qt tells AT-SPI of each show of the notification (the
// AT-SPI test sees that on a real bus; offscreen Qt has no accessibility bridge).
class AnnouncementLog : public QObject {
 public:
  explicit AnnouncementLog(FormDriver& d) : m_label(d.Control("announcement")) {
    m_label->installEventFilter(this);
  }
  // The announcements since the last call.
  QStringList Take() { return std::exchange(m_said, {}); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == m_label && event->type() == QEvent::Show) {
      QAccessibleInterface* accessible = Accessible(m_label);
      EXPECT_EQ(accessible->role(), QAccessible::Notification);
      m_said << accessible->text(QAccessible::Name);
    }
    return false;
  }

 private:
  QWidget* m_label;
  QStringList m_said;
};

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

TEST(accessibility, each_crossing_is_announced_once) {
  FormDriver d;
  AnnouncementLog log(d);
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
  AnnouncementLog log(d);
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

// The window's wiring: every control reaches the model, and the counter and the title
// show what the model says. The counting rules themselves are tested on the model.
#include "window/main_form.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include "support/text.h"

#include "form_driver.h"
#include "measure/mbcs.h"
#include "utf16/utf16.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::FormDriver;
using testing::kAddressWarning;
using testing::kPlain;
using testing::kSubjectWarning;
using testing::kTotalWarning;

// The counter as a full recount of the body's plain text says it should be.
QString ExpectedCounter(FormDriver& d) {
  const MessageModel& m = d.Form().Model();
  return QString::number(
      MessageTotal(LenMbcsRuns(View(d.Form().BodyText())), m.AddressCount(), m.SubjectCount()));
}

TEST(main_form, opens_empty_and_ready) {
  FormDriver d;
  EXPECT_EQ(d.Title(), kPlain);
  EXPECT_EQ(d.Counter(), u"0"_s);
  EXPECT_TRUE(d.Control<QCheckBox>("byteMode")->isChecked());
  EXPECT_FALSE(d.Control<QCheckBox>("showCompose")->isChecked());
  EXPECT_EQ(QApplication::focusWidget(), d.Body());
  for (const char* name : {"ownAddress", "recipient", "subject"}) {
    EXPECT_EQ(d.LineText(name), u""_s) << name;
  }
  EXPECT_EQ(d.BodyText(), u""_s);
}

TEST(main_form, each_field_reaches_the_counter_and_the_title) {
  struct Row {
    const char* field;
    QString typed;
    QString counter;
    QString title;
  };
  const Row rows[] = {
      {"body", u"abcあ"_s, u"62"_s, kPlain},
      {"body", QString(334, QLatin1Char('x')), u"385"_s, kTotalWarning},
      {"ownAddress", u"me@example.jp"_s, u"64"_s, kPlain},
      {"ownAddress", QString(56, QLatin1Char('a')), u"107"_s, kAddressWarning},
      {"subject", u"件名"_s, u"61"_s, kPlain},
      {"subject", QString(41, QLatin1Char('s')), u"92"_s, kSubjectWarning},
      {"recipient", QString(100, QLatin1Char('x')), u"0"_s, kPlain},  // never measured
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.field);
    FormDriver d;
    d.Type(row.field, row.typed);
    EXPECT_EQ(d.Counter(), row.counter);
    EXPECT_EQ(d.Title(), row.title);
    EXPECT_EQ(d.Counter(), QString::number(d.Form().Model().Counter()));
  }
}

TEST(main_form, backspace_and_enter_are_counted) {
  FormDriver d;
  d.Type("body", u"あ\nい"_s);
  EXPECT_EQ(d.Form().BodyText(), u"あ\r\nい"_s);
  EXPECT_EQ(d.Counter(), QString::number(51 + 18));
  QTest::keyClick(d.Body(), Qt::Key_Backspace);
  QTest::keyClick(d.Body(), Qt::Key_Backspace);
  EXPECT_EQ(d.Counter(), QString::number(51 + 8));
}

TEST(main_form, body_count_is_the_measure_of_its_crlf_text) {
  struct Row {
    const char* name;
    QString typed;
  };
  const Row rows[] = {
      {"enter_between_runs", u"漢字\n\nかな\n"_s},
      {"nbsp_and_halfwidth", u"a\u00a0ｱ\u00a0あ"_s},
      {"pasted_crlf_and_lf", u"一\r\n二\n三\r四"_s},
      {"emoji", u"あ\U0001F600い"_s},
      {"frame_marks", u"あ\uFDD0い"_s},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    d.Paste("body", row.typed);
    d.Type("body", u"末"_s);
    QTest::keyClick(d.Body(), Qt::Key_Return, Qt::ShiftModifier);  // line separator
    d.Type("body", u"尾"_s);
    const QString crlf = d.Form().BodyText();
    EXPECT_FALSE(crlf.contains(QRegularExpression(QStringLiteral("\r(?!\n)|(?<!\r)\n"))));
    EXPECT_EQ(d.Counter(), ExpectedCounter(d));
  }
}

// Thousands of random edits through the real editor (typing, pasting, deleting,
// selecting, undo and redo, CLS), each followed by a full recount to compare with.
TEST(main_form, random_edits_keep_the_count_exact) {
  FormDriver d;
  QPlainTextEdit* body = d.Body();
  testing::RandomText random(7);
  auto pick = [&](std::size_t n) { return random.Upto(n); };
  const QString pieces[] = {
      u"a"_s, u"あ"_s,         u"漢字"_s,         u"ｱ"_s,      u"\n"_s,     u"\u2028"_s,
      u" "_s, u"\U0001F600"_s, u"一\n二\r\n三"_s, u"\u00a0"_s, u"xyz\n\n"_s};
  const Qt::Key keys[] = {Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return,
                          Qt::Key_Left,      Qt::Key_Right,  Qt::Key_Up,
                          Qt::Key_Down,      Qt::Key_Home,   Qt::Key_End};
  body->setFocus();
  for (int step = 0; step < 3000; ++step) {
    const std::size_t action = pick(99);
    if (action < 45) {
      d.Paste("body", pieces[pick(std::size(pieces) - 1)]);
    } else if (action < 75) {
      QTest::keyClick(body, keys[pick(std::size(keys) - 1)],
                      pick(3) == 0 ? Qt::ShiftModifier : Qt::NoModifier);
    } else if (action < 85) {
      QTest::keySequence(body, QKeySequence::Undo);
    } else if (action < 93) {
      QTest::keySequence(body, QKeySequence::Redo);
    } else if (action < 96) {
      QTextCursor cursor = body->textCursor();
      cursor.setPosition(
          static_cast<int>(pick(static_cast<std::size_t>(body->document()->characterCount() - 1))));
      body->setTextCursor(cursor);
    } else if (action < 98) {
      QTest::keySequence(body, QKeySequence::SelectAll);
      d.Paste("body", pieces[pick(std::size(pieces) - 1)]);
    } else {
      d.Click("clear");
      body->setFocus();
    }
    ASSERT_EQ(d.Counter(), ExpectedCounter(d)) << "step " << step;
  }
}

TEST(main_form, mode_box_switches_what_the_counter_shows) {
  FormDriver d;
  d.Type("body", u"ab\ncd"_s);
  d.Type("subject", QString(41, QLatin1Char('s')));
  ASSERT_EQ(d.Title(), kSubjectWarning);

  d.Click("byteMode");  // untick: the body's characters, then the plain title
  EXPECT_FALSE(d.Form().Model().ByteMode());
  EXPECT_EQ(d.Counter(), u"4"_s);
  EXPECT_EQ(d.Title(), kPlain);
  d.Type("ownAddress", u"me@example.jp"_s);  // not measured in this mode
  QTest::keyClick(d.Control("subject"), Qt::Key_Backspace);
  EXPECT_EQ(d.Counter(), u"4"_s);

  d.Click("byteMode");  // tick again: every counter is brought up to date
  EXPECT_TRUE(d.Form().Model().ByteMode());
  EXPECT_EQ(d.Counter(), QString::number(51 + 6 + 13 + 40));
  EXPECT_EQ(d.Title(), kPlain);
}

// A misclick on CLS costs nothing: Ctrl+Z in each field brings its text back.
TEST(main_form, clear_can_be_undone_in_every_field) {
  for (const bool byteMode : {true, false}) {
    FormDriver d;
    if (!byteMode) d.Click("byteMode");
    d.Type("body", u"本文です\n二行目"_s);
    d.Type("ownAddress", QString(60, QLatin1Char('a')));
    d.Type("recipient", u"you@example.jp"_s);
    d.Type("subject", u"件名"_s);
    const QString counter = d.Counter();
    const QString title = d.Title();
    const QString body = d.BodyText();

    d.Click("clear");
    EXPECT_EQ(d.Counter(), byteMode ? u"51"_s : u"0"_s);
    EXPECT_EQ(d.Title(), kPlain);
    EXPECT_EQ(d.BodyText(), u""_s);
    for (const char* name : {"ownAddress", "recipient", "subject"}) {
      EXPECT_EQ(d.LineText(name), u""_s) << name;
    }

    for (const char* name : {"body", "ownAddress", "recipient", "subject"}) {
      QTest::keySequence(d.Control(name), QKeySequence::Undo);
    }
    EXPECT_EQ(d.BodyText(), body);
    EXPECT_EQ(d.LineText("ownAddress"), QString(60, QLatin1Char('a')));
    EXPECT_EQ(d.LineText("recipient"), u"you@example.jp"_s);
    EXPECT_EQ(d.LineText("subject"), u"件名"_s);
    EXPECT_EQ(d.Counter(), counter) << "byte mode " << byteMode;
    EXPECT_EQ(d.Title(), title) << "byte mode " << byteMode;
  }
}

const char* const kTabOrder[] = {"body",          "exit",          "ownAddress", "subject",
                                 "saveAddresses", "loadAddresses", "byteMode",   "clear",
                                 "send",          "recipient",     "showCompose"};

TEST(main_form, tab_visits_every_control_in_order) {
  FormDriver d;
  d.Body()->setFocus();
  const std::size_t n = std::size(kTabOrder);
  for (std::size_t i = 1; i <= n; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), d.Control(kTabOrder[i % n]))
        << "after " << kTabOrder[i - 1];
  }
  EXPECT_EQ(d.BodyText(), u""_s);  // Tab moved the focus; it typed nothing
}

TEST(main_form, controls_fit_the_client_area_without_overlapping) {
  FormDriver d;
  EXPECT_EQ(d.Form().size(), QSize(422, 245));
  EXPECT_EQ(d.Form().minimumSize(), d.Form().maximumSize());
  QList<QWidget*> controls = d.Form().findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  // What shows only for a moment (a close waiting for a send) is left out.
  controls.removeIf([](QWidget* control) { return control->isHidden(); });
  ASSERT_EQ(controls.size(), 15);
  const QRect client(QPoint(0, 0), d.Form().size());
  for (QWidget* a : controls) {
    // Only the compose box runs past the right edge.
    if (a->objectName() != u"showCompose"_s) {
      EXPECT_TRUE(client.contains(a->geometry())) << a->objectName().toStdString();
    }
    for (QWidget* b : controls) {
      if (a != b) {
        EXPECT_FALSE(a->geometry().intersects(b->geometry()))
            << a->objectName().toStdString() << " / " << b->objectName().toStdString();
      }
    }
  }
  EXPECT_EQ(d.Control("body")->geometry(), QRect(0, 88, 345, 153));
  EXPECT_EQ(d.Control("counter")->geometry(), QRect(352, 64, 65, 25));
}

TEST(main_form, each_control_shows_its_caption) {
  FormDriver d;
  const std::pair<const char*, QString> captions[] = {
      {"recipientCaption", u"相手のアド"_s},
      {"ownAddressCaption", u"自分のアド"_s},
      {"subjectCaption", u"件名"_s},
      {"byteMode", u"J対応"_s},
      {"clear", u"CLS"_s},
      {"saveAddresses", u"メアド保存"_s},
      {"loadAddresses", u"メアド読込"_s},
      {"send", u"送信"_s},
      {"showCompose", u"送信確認"_s},
      {"exit", u"EXIT"_s},
  };
  for (const auto& [name, caption] : captions) {
    QWidget* w = d.Control(name);
    const QString text = qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text()
                                                  : qobject_cast<QAbstractButton*>(w)->text();
    EXPECT_EQ(text, caption) << name;
  }
}

// Every caption keeps the style's margins inside its button's frame.
TEST(main_form, button_captions_keep_clear_of_their_frames) {
  FormDriver d;
  for (QPushButton* button : d.Form().findChildren<QPushButton*>()) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect contents =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    const QFontMetrics metrics(button->font());
    const QSize caption(metrics.horizontalAdvance(button->text()), metrics.height());
    // The style's own margin beside the caption, and a frame's width above and below it.
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
    const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button);
    EXPECT_LE(caption.width() + margin, contents.width())
        << button->objectName().toStdString() << ": " << caption.width() << " in "
        << contents.width();
    EXPECT_LE(caption.height() + 2 * frame, contents.height())
        << button->objectName().toStdString() << ": " << caption.height() << " in "
        << contents.height();
  }
}

TEST(main_form, screen_readers_get_names) {
  FormDriver d;
  d.Type("body", u"abc"_s);
  auto name = [](QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
  };
  EXPECT_EQ(name(d.Control("body")), u"本文"_s);
  EXPECT_EQ(name(d.Control("counter")), u"54 あと330バイト"_s);
  EXPECT_EQ(name(d.Control("ownAddress")), u"自分のアド"_s);  // from its buddy label
  EXPECT_EQ(name(d.Control("recipient")), u"相手のアド"_s);
  EXPECT_EQ(name(d.Control("subject")), u"件名"_s);
}

TEST(main_form, exit_closes_the_window) {
  FormDriver d;
  d.Click("exit");
  QTest::qWait(0);
  EXPECT_FALSE(d.Form().isVisible());
}

}  // namespace
}  // namespace kelmo

#include "window/main_form.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QPushButton>
#include <QRegularExpression>

#include "form_driver.h"
#include "measure/mbcs.h"

namespace kelmo {
namespace {

using testing::FormDriver;
using testing::kAddressWarning;
using testing::kPlain;
using testing::kSubjectWarning;
using testing::kTotalWarning;

std::u16string_view View(const QString& s) {
  return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}

TEST(main_form, opens_in_its_design_state) {
  FormDriver d;
  EXPECT_EQ(d.title(), kPlain);
  EXPECT_EQ(d.label(), "0");
  EXPECT_TRUE(d.control<QCheckBox>("Ch")->isChecked());
  EXPECT_FALSE(d.control<QCheckBox>("Ch1")->isChecked());
  EXPECT_EQ(QApplication::focusWidget(), d.control("Text1"));
  for (const char* name : {"Text2", "Text3", "Text4"}) EXPECT_EQ(d.lineText(name), "") << name;
  EXPECT_EQ(d.bodyText(), "");
}

TEST(main_form, typing_in_body_shows_message_total) {
  FormDriver d;
  d.type("Text1", "abc");
  EXPECT_EQ(d.label(), "54");
  d.type("Text1", u"あ"_qs);
  EXPECT_EQ(d.label(), "62");  // 51 + 3 + 2 + 6
  QTest::keyClick(d.control("Text1"), Qt::Key_Backspace);
  EXPECT_EQ(d.label(), "54");
}

TEST(main_form, line_break_in_body_counts_two_bytes_and_ends_a_run) {
  FormDriver d;
  d.type("Text1", u"あ\nい"_qs);
  EXPECT_EQ(d.form().BodyText(), u"あ\r\nい"_qs);
  EXPECT_EQ(d.label(), QString::number(51 + 18));
}

TEST(main_form, body_count_is_the_measure_of_its_crlf_text) {
  struct Row {
    const char* name;
    QString typed;
  };
  const Row rows[] = {
      {"enter_between_runs", u"漢字\n\nかな\n"_qs},
      {"nbsp_and_halfwidth", u"a\u00a0ｱ\u00a0あ"_qs},
      {"pasted_crlf_and_lf", u"一\r\n二\n三\r四"_qs},
      {"emoji", u"あ\U0001F600い"_qs},
  };
  for (const Row& row : rows) {
    FormDriver d;
    d.paste("Text1", row.typed);
    d.type("Text1", u"末"_qs);
    QTest::keyClick(d.control("Text1"), Qt::Key_Return, Qt::ShiftModifier);  // line separator
    d.type("Text1", u"尾"_qs);
    const QString crlf = d.form().BodyText();
    EXPECT_FALSE(crlf.contains(QRegularExpression(QStringLiteral("\r(?!\n)|(?<!\r)\n"))))
        << row.name;
    EXPECT_EQ(d.label(), QString::number(51 + LenMbcsRuns(View(crlf)))) << row.name;
  }
}

TEST(main_form, address_and_subject_add_their_shares) {
  FormDriver d;
  d.type("Text2", "me@example.jp");  // 13 bytes, no run charge
  EXPECT_EQ(d.label(), "64");
  d.type("Text4", u"件名"_qs);  // 4 + 6
  EXPECT_EQ(d.label(), "74");
}

TEST(main_form, recipient_changes_nothing) {
  FormDriver d;
  d.type("Text3", std::string(100, 'x').c_str());
  EXPECT_EQ(d.label(), "0");
  EXPECT_EQ(d.title(), kPlain);
}

TEST(main_form, clear_with_all_fields_filled_ends_at_51) {
  FormDriver d;
  d.type("Text1", u"本文です"_qs);
  d.type("Text2", QString(60, QLatin1Char('a')));
  d.type("Text3", "you@example.jp");
  d.type("Text4", u"件名"_qs);
  ASSERT_EQ(d.title(), kAddressWarning);
  d.click("Command1");
  EXPECT_EQ(d.label(), "51");
  EXPECT_EQ(d.title(), kPlain);
  EXPECT_EQ(d.bodyText(), "");
  for (const char* name : {"Text2", "Text3", "Text4"}) EXPECT_EQ(d.lineText(name), "") << name;
}

TEST(main_form, address_limit_is_55_bytes) {
  FormDriver d;
  d.type("Text2", QString(55, QLatin1Char('a')));
  EXPECT_EQ(d.title(), kPlain);
  d.type("Text2", "a");
  EXPECT_EQ(d.title(), kAddressWarning);
  QTest::keyClick(d.control("Text2"), Qt::Key_Backspace);
  EXPECT_EQ(d.title(), kPlain);
}

TEST(main_form, subject_limit_counts_the_run_charge) {
  FormDriver d;
  d.type("Text4", QString(17, QChar(u'漢')));  // 34 + 6 = 40
  EXPECT_EQ(d.title(), kPlain);
  d.type("Text4", QString(3, QChar(u'漢')));  // 40 + 6 = 46
  EXPECT_EQ(d.title(), kSubjectWarning);
}

TEST(main_form, total_limit_is_384_and_wins_over_the_others) {
  FormDriver d;
  d.type("Text2", QString(56, QLatin1Char('a')));
  d.type("Text4", QString(41, QLatin1Char('s')));
  EXPECT_EQ(d.title(), kSubjectWarning);
  d.paste("Text1", QString(384 - 51 - 56 - 41 - 1, QLatin1Char('b')));
  EXPECT_EQ(d.label(), "383");
  d.type("Text1", "b");
  EXPECT_EQ(d.label(), "384");
  EXPECT_EQ(d.title(), kSubjectWarning);
  d.type("Text1", "b");
  EXPECT_EQ(d.title(), kTotalWarning);
}

TEST(main_form, character_mode_round_trip) {
  FormDriver d;
  d.type("Text1", u"ab\ncd"_qs);
  d.type("Text4", QString(41, QLatin1Char('s')));
  ASSERT_EQ(d.title(), kSubjectWarning);

  d.click("Ch");  // untick: character count, then the plain title
  EXPECT_FALSE(d.control<QCheckBox>("Ch")->isChecked());
  EXPECT_EQ(d.label(), "4");
  EXPECT_EQ(d.title(), kPlain);

  d.type("Text1", "e");
  EXPECT_EQ(d.label(), "5");
  d.type("Text2", "me@example.jp");  // not measured in this mode
  QTest::keyClick(d.control("Text4"), Qt::Key_Backspace);
  EXPECT_EQ(d.label(), "5");

  d.click("Ch");  // tick again: every counter is brought up to date
  EXPECT_EQ(d.label(), QString::number(51 + 7 + 13 + 40));
  EXPECT_EQ(d.title(), kPlain);
}

TEST(main_form, character_mode_applies_the_total_limit) {
  FormDriver d;
  d.click("Ch");
  d.paste("Text1", QString(400, QLatin1Char('x')));
  EXPECT_EQ(d.label(), "400");
  EXPECT_EQ(d.title(), kTotalWarning);
}

TEST(main_form, tab_order_follows_the_layout) {
  FormDriver d;
  const char* order[] = {"Text1", "Command2", "Text2",    "Text4", "Command3", "Command4",
                         "Ch",    "Command1", "Command5", "Text3", "Ch1",      "Text1"};
  d.control("Text1")->setFocus();
  for (std::size_t i = 1; i < std::size(order); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), d.control(order[i])) << "after " << order[i - 1];
  }
  EXPECT_EQ(d.bodyText(), "");  // Tab moved the focus; it typed nothing
}

TEST(main_form, every_control_has_its_place) {
  FormDriver d;
  struct Place {
    const char* name;
    QRect rect;
    QString caption;
  };
  const Place places[] = {
      {"Label1_1", {8, 16, 55, 12}, u"相手のアド"_qs},
      {"Text3", {80, 8, 265, 25}, ""},
      {"Label1_2", {8, 40, 55, 12}, u"自分のアド"_qs},
      {"Text2", {80, 32, 265, 25}, ""},
      {"Label1_0", {8, 64, 24, 12}, u"件名"_qs},
      {"Text4", {80, 56, 265, 25}, ""},
      {"Text1", {0, 88, 345, 153}, ""},
      {"Ch", {352, 8, 57, 25}, u"J対応"_qs},
      {"Command1", {352, 32, 65, 25}, "CLS"},
      {"L", {352, 64, 65, 25}, "0"},
      {"Command3", {352, 96, 65, 17}, u"メアド保存"_qs},
      {"Command4", {352, 120, 65, 17}, u"メアド読込"_qs},
      {"Command5", {352, 144, 65, 33}, u"送信"_qs},
      {"Ch1", {352, 184, 73, 17}, u"送信確認"_qs},
      {"Command2", {352, 208, 65, 33}, "EXIT"},
  };
  EXPECT_EQ(d.form().size(), QSize(422, 245));
  EXPECT_EQ(d.form().minimumSize(), d.form().maximumSize());
  for (const Place& p : places) {
    QWidget* w = d.control(p.name);
    EXPECT_EQ(w->geometry(), p.rect) << p.name;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->text(), p.caption) << p.name;
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_EQ(button->text(), p.caption) << p.name;
    }
  }
}

TEST(main_form, screen_readers_get_names) {
  FormDriver d;
  d.type("Text1", "abc");
  auto name = [](QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
  };
  EXPECT_EQ(name(d.control("Text1")), u"本文"_qs);
  EXPECT_EQ(name(d.control("L")), "54");
  EXPECT_EQ(name(d.control("Text2")), u"自分のアド"_qs);  // from its buddy label
  EXPECT_EQ(name(d.control("Text3")), u"相手のアド"_qs);
  EXPECT_EQ(name(d.control("Text4")), u"件名"_qs);
}

TEST(main_form, exit_closes_the_window) {
  FormDriver d;
  d.click("Command2");
  QTest::qWait(0);
  EXPECT_FALSE(d.form().isVisible());
}

}  // namespace
}  // namespace kelmo

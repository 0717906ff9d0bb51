// The dialog before a split send: what it shows, to the eye and to a screen reader, and
// which keys send and which send nothing.
#include "window/split_dialog.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

std::vector<MessagePart> Parts(std::u16string_view body) {
  auto parts = SplitMessage(body, u"me@example.jp", u"件名");
  EXPECT_TRUE(parts.has_value());
  return parts ? *parts : std::vector<MessagePart>{};
}

const std::u16string kLongBody = u"明日は三時から会議です。\r\n" + std::u16string(580, u'a') + u"😀";

TEST(split_dialog, says_how_many_mails_and_lists_each_part) {
  const std::vector<MessagePart> parts = Parts(kLongBody);
  ASSERT_EQ(parts.size(), 3U);
  SplitDialog dialog(parts);
  EXPECT_TRUE(dialog.findChild<QLabel*>()->text().contains(u"3通"_s));
  auto* list = dialog.findChild<QListWidget*>();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 3);
  // Number, size by the window's measure, first words without the marker.
  EXPECT_EQ(list->item(0)->text(),
            u"1/3\u3000%1バイト\u3000明日は三時から会議です。 aaaaaaaaaaa…"_s.arg(parts[0].total));
  EXPECT_TRUE(list->item(2)->text().startsWith(u"3/3\u3000%1バイト\u3000"_s.arg(parts[2].total)));
  EXPECT_TRUE(list->item(2)->text().endsWith(u"a😀"_s));
  EXPECT_EQ(dialog.SendButton()->text(), u"3通送信"_s);
}

TEST(split_dialog, first_words_never_cut_an_emoji_in_half) {
  MessagePart part;
  part.body = u"(1/2)\r\n" + std::u16string(23, u'a') + u"😀😀";
  part.total = 70;
  const QString line = SplitDialog::PartLine(part, 1, 2);
  EXPECT_TRUE(line.endsWith(QString(23, u'a') + u"…"_s)) << line.toStdString();
}

TEST(split_dialog, a_screen_reader_hears_the_count_and_each_part) {
  const std::vector<MessagePart> parts = Parts(kLongBody);
  SplitDialog dialog(parts);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  auto* list = dialog.findChild<QListWidget*>();
  EXPECT_TRUE(list->hasFocus());
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(list);
  ASSERT_NE(accessible, nullptr);
  EXPECT_EQ(accessible->text(QAccessible::Name), u"3通のメール"_s);
  EXPECT_TRUE(accessible->text(QAccessible::Description).contains(u"3通"_s));
  ASSERT_EQ(accessible->childCount(), 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(accessible->child(k)->text(QAccessible::Name), list->item(k)->text());
  }
}

// After a send that stopped: the parts that went are marked, the summary and the default
// button count the others.
TEST(split_dialog, parts_already_sent_are_marked_and_the_button_sends_the_rest) {
  const std::vector<MessagePart> parts = Parts(kLongBody);
  ASSERT_EQ(parts.size(), 3U);
  struct Row {
    const char* name;
    std::vector<bool> went;
    QString button;
    const char* summaryEnd;
  };
  const Row rows[] = {
      {"none_yet", {}, u"3通送信"_s, "されます。"},
      {"none_of_three", {false, false, false}, u"3通送信"_s, "されます。"},
      {"the_first", {true, false, false}, u"残り2通送信"_s, "1通は送信済みです。"},
      {"first_and_last", {true, false, true}, u"残り1通送信"_s, "2通は送信済みです。"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SplitDialog dialog(parts, row.went);
    EXPECT_EQ(dialog.SendButton()->text(), row.button);
    EXPECT_TRUE(dialog.findChild<QLabel*>()->text().endsWith(QString::fromUtf8(row.summaryEnd)))
        << dialog.findChild<QLabel*>()->text().toStdString();
    auto* list = dialog.findChild<QListWidget*>();
    ASSERT_EQ(list->count(), 3);
    for (int k = 0; k < 3; ++k) {
      const bool went =
          static_cast<std::size_t>(k) < row.went.size() && row.went[static_cast<std::size_t>(k)];
      EXPECT_EQ(list->item(k)->text().endsWith(u"（送信済み）"_s), went) << k;
      EXPECT_EQ(list->item(k)->data(Qt::AccessibleTextRole).toString(), list->item(k)->text());
    }
  }
}

TEST(split_dialog, return_sends_escape_and_cancel_send_nothing) {
  const std::vector<MessagePart> parts = Parts(kLongBody);
  struct Row {
    const char* name;
    std::function<void(SplitDialog&)> act;
    int result;
  };
  const Row rows[] = {
      {"return_in_the_list",
       [](SplitDialog& d) { QTest::keyClick(d.findChild<QListWidget*>(), Qt::Key_Return); },
       QDialog::Accepted},
      {"enter_on_the_keypad",
       [](SplitDialog& d) {
         QTest::keyClick(d.findChild<QListWidget*>(), Qt::Key_Enter, Qt::KeypadModifier);
       },
       QDialog::Accepted},
      {"escape", [](SplitDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, QDialog::Rejected},
      {"cancel_button",
       [](SplitDialog& d) {
         for (QPushButton* button : d.findChildren<QPushButton*>()) {
           if (button->text() == u"キャンセル"_s) button->click();
         }
       },
       QDialog::Rejected},
      {"send_button", [](SplitDialog& d) { d.SendButton()->click(); }, QDialog::Accepted},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SplitDialog dialog(parts);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    int result = -1;
    QObject::connect(&dialog, &QDialog::finished, [&](int r) { result = r; });
    row.act(dialog);
    EXPECT_EQ(result, row.result);
    EXPECT_FALSE(dialog.isVisible());
  }
}

}  // namespace
}  // namespace kelmo

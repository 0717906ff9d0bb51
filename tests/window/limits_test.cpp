// What the window shows about the limits besides the title: room left, marked fields,
// and the tint over the part of the body past 384.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QTextEdit>

#include "form_driver.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::FormDriver;
using testing::WriteAll;

QString Description(QWidget* w) {
  return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Description);
}

// The tinted range of the body as [start, end) in the document, or {-1, -1}: once the
// event loop has turned, as a user sees it.
std::pair<int, int> Tint(FormDriver& d) {
  QCoreApplication::processEvents();
  const auto selections = d.Body()->extraSelections();
  if (selections.isEmpty()) return {-1, -1};
  EXPECT_EQ(selections.size(), 1);
  return {selections.front().cursor.selectionStart(), selections.front().cursor.selectionEnd()};
}

TEST(limits, counter_tells_the_room_left_in_the_unit_of_the_mode) {
  struct Row {
    const char* name;
    bool byteMode;
    int bodyLength;
    QString text;
  };
  const Row rows[] = {
      {"bytes_empty", true, 0, u"あと333バイト"_s},
      {"bytes_at_the_limit", true, 333, u"あと0バイト"_s},
      {"bytes_over", true, 345, u"12バイト超過"_s},
      {"characters_within", false, 372, u"あと12文字"_s},
      {"characters_over", false, 396, u"12文字超過"_s},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    if (!row.byteMode) d.Click("byteMode");
    d.Paste("body", QString(row.bodyLength, QLatin1Char('x')));
    if (row.bodyLength == 0) d.Type("body", u""_s);
    QWidget* counter = d.Control("counter");
    EXPECT_EQ(counter->toolTip(), row.text);
    EXPECT_EQ(Description(counter), row.text);
    EXPECT_EQ(d.Counter(), QString::number(d.Form().Model().Counter()));  // still the bare number
  }
}

TEST(limits, address_and_subject_show_when_they_are_over) {
  struct Row {
    const char* field;
    QString within;
    QString over;
    QString withinText;
    QString overText;
  };
  const Row rows[] = {
      {"ownAddress", QString(52, QLatin1Char('a')), QString(58, QLatin1Char('a')), u"あと3バイト"_s,
       u"3バイト超過"_s},
      {"subject", QString(10, QChar(u'件')), QString(20, QChar(u'件')), u"あと14バイト"_s,
       u"6バイト超過"_s},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.field);
    FormDriver d;
    auto* field = d.Control<QLineEdit>(row.field);
    const QColor normal = field->palette().color(QPalette::Base);
    field->setText(row.within);
    EXPECT_EQ(field->toolTip(), row.withinText);
    EXPECT_EQ(Description(field), row.withinText);
    EXPECT_EQ(field->palette().color(QPalette::Base), normal);

    field->setText(row.over);
    EXPECT_EQ(field->toolTip(), row.overText);
    EXPECT_EQ(Description(field), row.overText);
    EXPECT_NE(field->palette().color(QPalette::Base), normal);

    field->setText(row.within);
    EXPECT_EQ(field->palette().color(QPalette::Base), normal);
  }
}

TEST(limits, body_is_tinted_from_where_it_passes_384_to_its_end) {
  FormDriver d;
  d.Paste("body", QString(333, QLatin1Char('x')));  // 384: within
  EXPECT_EQ(Tint(d), std::make_pair(-1, -1));
  d.Type("body", u"あい"_s);  // あ brings 8 bytes: it is the first past
  EXPECT_EQ(Tint(d), std::make_pair(333, 335));
  d.Type("subject", u"abc"_s);  // the subject's share moves the place back
  EXPECT_EQ(Tint(d), std::make_pair(330, 335));

  // Edits before the place, and undo, keep the tint where the count says.
  QTextCursor cursor = d.Body()->textCursor();
  cursor.setPosition(0);
  d.Body()->setTextCursor(cursor);
  d.Type("body", u"\n"_s);
  EXPECT_EQ(Tint(d), std::make_pair(329, 336));
  QTest::keySequence(d.Body(), QKeySequence::Undo);
  EXPECT_EQ(Tint(d), std::make_pair(330, 335));

  // Character mode: from the 385th character on.
  const int undoSteps = d.Body()->document()->availableUndoSteps();
  d.Click("byteMode");
  EXPECT_EQ(Tint(d), std::make_pair(-1, -1));  // 335 characters
  d.Body()->moveCursor(QTextCursor::End);
  d.Paste("body", QString(60, QLatin1Char('y')));
  EXPECT_EQ(Tint(d), std::make_pair(384, 395));
  d.Click("byteMode");
  EXPECT_EQ(Tint(d), std::make_pair(330, 395));
  // The tint is no edit: the text and its undo history are as the typing left them.
  EXPECT_EQ(d.Body()->document()->availableUndoSteps(), undoSteps + 1);
  EXPECT_EQ(d.BodyText(),
            QString(333, QLatin1Char('x')) + u"あい"_s + QString(60, QLatin1Char('y')));

  d.Click("clear");
  EXPECT_EQ(Tint(d), std::make_pair(-1, -1));
}

// A body past the limit replaced whole, by a paste or a keystroke over a selection of all
// of it: the tint follows the new text (it once read the old layout's freed lines).
TEST(limits, replacing_a_body_past_the_limit_moves_the_tint_with_it) {
  struct Row {
    const char* name;
    int kanji;            // the body before: that many 漢
    QString replacement;  // pasted over all of it ("" types one 'z' instead)
    std::pair<int, int> tint;
  };
  const Row rows[] = {
      {"paste_shorter_past", 1000, QString(400, QLatin1Char('x')), {333, 400}},
      {"paste_within", 1000, u"abc"_s, {-1, -1}},
      {"type_over", 1000, u""_s, {-1, -1}},
      {"paste_kanji_over_kanji", 1000, QString(600, QChar(u'字')), {163, 600}},
      {"paste_over_50000", 50000, QString(500, QLatin1Char('y')), {333, 500}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    d.Paste("body", QString(row.kanji, QChar(u'漢')));
    EXPECT_EQ(Tint(d), std::make_pair(163, row.kanji));
    QTest::keyClick(d.Body(), Qt::Key_A, Qt::ControlModifier);
    if (row.replacement.isEmpty()) {
      d.Type("body", u"z"_s);
    } else {
      QGuiApplication::clipboard()->setText(row.replacement);
      QTest::keyClick(d.Body(), Qt::Key_V, Qt::ControlModifier);
    }
    EXPECT_EQ(Tint(d), row.tint);
  }
}

TEST(limits, loading_a_long_own_address_moves_the_tint) {
  FormDriver d;
  d.Paste("body", QString(330, QLatin1Char('x')));
  EXPECT_EQ(Tint(d), std::make_pair(-1, -1));
  WriteAll(d.File(u"kelmo.ini"_s), "me@example.jp\r\nyou@example.jp\r\n");
  d.Click("loadAddresses");
  EXPECT_EQ(Tint(d), std::make_pair(330 - 13 + 3, 330));
}

}  // namespace
}  // namespace kelmo

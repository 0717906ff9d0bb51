// The spill tint on its own: where it falls in the body, when it moves, and its colour.
#include "window/spill_tint.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <string_view>
#include <utility>
#include <vector>

#include "message/message_model.h"
#include "utf16/utf16.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

// The tinted range as [start, end), or {-1, -1} with no tint.
std::pair<int, int> Tinted(const QPlainTextEdit& editor) {
  const QList<QTextEdit::ExtraSelection> tints = editor.extraSelections();
  if (tints.isEmpty()) return {-1, -1};
  EXPECT_EQ(tints.size(), 1);
  return {tints.front().cursor.selectionStart(), tints.front().cursor.selectionEnd()};
}

// An editor holding `text`, and the model counting it, as the body sync would leave them.
struct Body {
  void Set(const QString& text) {
    editor.setPlainText(text);
    std::vector<QString> paragraphs;
    for (QTextBlock b = editor.document()->firstBlock(); b.isValid(); b = b.next()) {
      paragraphs.push_back(b.text());
    }
    std::vector<std::u16string_view> views;
    views.reserve(paragraphs.size());
    for (const QString& p : paragraphs) views.push_back(View(p));
    model.BodyReplaced(views);
  }
  QPlainTextEdit editor;
  MessageModel model;
  SpillTint tint{&editor, model};
};

// An empty message costs 51 of its 384 bytes: the body has 333.
constexpr int kBodyRoom = 384 - 51;

TEST(spill_tint, follows_the_model_when_the_event_loop_next_turns) {
  struct Row {
    const char* name;
    QString text;
    std::pair<int, int> tinted;
  };
  const QString fits(kBodyRoom, u'a');
  const Row rows[] = {
      {"within_the_limit", fits, {-1, -1}},
      {"one_byte_over", fits + u"b"_s, {kBodyRoom, kBodyRoom + 1}},
      // The second paragraph's line break costs two bytes: it spills at its third character.
      {"over_in_a_later_paragraph",
       QString(kBodyRoom - 4, u'a') + u"\nxyz"_s,
       {kBodyRoom - 4 + 1 + 2, kBodyRoom - 4 + 4}},
      // A double-byte run costs 6 bytes more: its first character is past the limit.
      {"over_at_a_double_byte_run",
       QString(kBodyRoom - 7, u'a') + u"あい"_s,
       {kBodyRoom - 7, kBodyRoom - 5}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Body b;
    b.Set(row.text);
    b.tint.Schedule();
    EXPECT_EQ(Tinted(b.editor), std::make_pair(-1, -1));  // not inside the edit
    QCoreApplication::processEvents();
    EXPECT_EQ(Tinted(b.editor), row.tinted);
  }
}

// A burst of edits moves the tint once, to where the last one leaves it; back within the
// limit, it goes.
TEST(spill_tint, a_burst_moves_it_to_the_last_place_and_a_fit_removes_it) {
  Body b;
  const QString fits(kBodyRoom, u'a');
  b.Set(fits + u"bcd"_s);
  b.tint.Schedule();
  b.Set(fits + u"b"_s);
  b.tint.Schedule();
  QCoreApplication::processEvents();
  EXPECT_EQ(Tinted(b.editor), std::make_pair(kBodyRoom, kBodyRoom + 1));
  b.Set(fits);
  b.tint.Schedule();
  QCoreApplication::processEvents();
  EXPECT_EQ(Tinted(b.editor), std::make_pair(-1, -1));
  // Edits that leave the spill in place keep the tint the view already has.
  b.Set(fits + u"xy"_s);
  b.tint.Schedule();
  QCoreApplication::processEvents();
  EXPECT_EQ(Tinted(b.editor), std::make_pair(kBodyRoom, kBodyRoom + 2));
}

// The tint is the base mixed with red: the text stays readable on a light and a dark base.
TEST(spill_tint, tint_keeps_the_base_light_or_dark) {
  struct Row {
    const char* name;
    QColor base;
    bool light;
  };
  const Row rows[] = {{"light", Qt::white, true}, {"dark", QColor(0x20, 0x20, 0x20), false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QPalette palette;
    palette.setColor(QPalette::Base, row.base);
    const QColor tint = OverLimitTint(palette);
    EXPECT_GT(tint.redF(), tint.greenF());
    EXPECT_GT(tint.redF(), tint.blueF());
    EXPECT_EQ(tint.lightnessF() > 0.5F, row.light) << tint.name().toStdString();
  }
}

}  // namespace
}  // namespace kelmo

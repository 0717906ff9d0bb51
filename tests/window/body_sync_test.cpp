// The body sync on its own: an editor driven through typing, pastes, undo and redo, and
// after every change the model holds what a count of the whole text from scratch says.
#include "window/body_sync.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <functional>
#include <vector>

#include "message/message_model.h"
#include "utf16/utf16.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

// The model a count from scratch gives: the editor's paragraphs measured one by one.
MessageModel Recounted(const QPlainTextEdit& editor) {
  std::vector<QString> texts;
  for (QTextBlock block = editor.document()->firstBlock(); block.isValid(); block = block.next()) {
    texts.push_back(block.text());
  }
  std::vector<std::u16string_view> views;
  views.reserve(texts.size());
  for (const QString& text : texts) views.push_back(View(text));
  MessageModel model;
  model.BodyReplaced(views);
  return model;
}

void ExpectSameBody(const MessageModel& kept, const MessageModel& recounted) {
  EXPECT_EQ(kept.Body().Paragraphs(), recounted.Body().Paragraphs());
  EXPECT_EQ(kept.Body().Bytes(), recounted.Body().Bytes());
  EXPECT_EQ(kept.Body().Characters(), recounted.Body().Characters());
  EXPECT_EQ(kept.Counter(), recounted.Counter());
  EXPECT_EQ(kept.WindowTitle(), recounted.WindowTitle());
  EXPECT_TRUE(kept.Spill() == recounted.Spill());
}

// Selects from paragraph `fromBlock` at `fromOffset` to `toBlock` at `toOffset`.
void Select(QPlainTextEdit& editor, int fromBlock, int fromOffset, int toBlock, int toOffset) {
  QTextCursor cursor(editor.document());
  cursor.setPosition(editor.document()->findBlockByNumber(fromBlock).position() + fromOffset);
  cursor.setPosition(editor.document()->findBlockByNumber(toBlock).position() + toOffset,
                     QTextCursor::KeepAnchor);
  editor.setTextCursor(cursor);
}

TEST(body_sync, the_model_equals_a_recount_after_every_edit) {
  struct Step {
    const char* name;
    std::function<void(QPlainTextEdit&)> edit;
    QString text;  // the editor's text after it
  };
  const QString overLimit = QString(200, u'あ') + u"\n"_s + QString(100, u'x');
  const Step steps[] = {
      {"typing", [](QPlainTextEdit& e) { QTest::keyClicks(&e, u"ab"_s); }, u"ab"_s},
      {"typing_a_line_break",
       [](QPlainTextEdit& e) {
         QTest::keyClick(&e, Qt::Key_Return);
         QTest::keyClicks(&e, u"cd"_s);
       },
       u"ab\ncd"_s},
      {"double_byte_text", [](QPlainTextEdit& e) { e.insertPlainText(u"あい"_s); },
       u"ab\ncdあい"_s},
      {"paste_of_lines_within_a_paragraph",
       [](QPlainTextEdit& e) {
         Select(e, 0, 1, 0, 1);
         e.insertPlainText(u"1\n2\n3"_s);
       },
       u"a1\n2\n3b\ncdあい"_s},
      {"paste_over_a_selection_across_paragraphs",
       [](QPlainTextEdit& e) {
         Select(e, 0, 1, 3, 2);
         e.insertPlainText(u"ｶﾅ"_s);
       },
       u"aｶﾅあい"_s},
      {"undo", [](QPlainTextEdit& e) { e.undo(); }, u"a1\n2\n3b\ncdあい"_s},
      {"undo_again", [](QPlainTextEdit& e) { e.undo(); }, u"ab\ncdあい"_s},
      {"redo", [](QPlainTextEdit& e) { e.redo(); }, u"a1\n2\n3b\ncdあい"_s},
      {"backspace_joins_paragraphs",
       [](QPlainTextEdit& e) {
         Select(e, 1, 0, 1, 0);
         QTest::keyClick(&e, Qt::Key_Backspace);
       },
       u"a12\n3b\ncdあい"_s},
      {"cr_lf_and_a_lone_cr_pasted",
       [](QPlainTextEdit& e) {
         Select(e, 2, 4, 2, 4);
         e.insertPlainText(u"x\r\ny\rz"_s);
       },
       u"a12\n3b\ncdあいx\ny\nz"_s},
      {"the_whole_body_replaced_past_the_limit",
       [&overLimit](QPlainTextEdit& e) { e.setPlainText(overLimit); }, overLimit},
      {"a_body_past_the_limit_replaced_by_a_short_one",
       [](QPlainTextEdit& e) {
         e.selectAll();
         e.insertPlainText(u"short\n"_s);
       },
       u"short\n"_s},
      {"undo_brings_it_back", [](QPlainTextEdit& e) { e.undo(); }, overLimit},
      {"everything_deleted",
       [](QPlainTextEdit& e) {
         e.selectAll();
         QTest::keyClick(&e, Qt::Key_Delete);
       },
       u""_s},
      {"paragraph_separator_and_tab",
       [](QPlainTextEdit& e) { e.insertPlainText(u"a\u2029b\tc"_s); }, u"a\nb\tc"_s},
      {"cleared", [](QPlainTextEdit& e) { e.clear(); }, u""_s},
  };
  QPlainTextEdit editor;
  MessageModel model;
  BodySync sync(editor.document(), model);
  QSignalSpy edited(&sync, &BodySync::Edited);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const auto editsBefore = sync.Edits();
    edited.clear();
    step.edit(editor);
    ASSERT_EQ(editor.toPlainText(), step.text);
    EXPECT_GT(sync.Edits(), editsBefore);
    EXPECT_EQ(edited.count(), sync.Edits() - editsBefore);  // every change shown
    ExpectSameBody(model, Recounted(editor));
  }
}

// In character mode the same: the counter is the body's characters.
TEST(body_sync, character_mode_follows_the_edits_too) {
  QPlainTextEdit editor;
  MessageModel model;
  model.ByteModeUnticked();
  BodySync sync(editor.document(), model);
  editor.insertPlainText(u"あい\nう"_s);
  EXPECT_EQ(model.Counter(), 3);
  editor.undo();
  EXPECT_EQ(model.Counter(), 0);
}

// A clear tells the model itself: while held, changes are counted and nothing else.
TEST(body_sync, held_changes_are_counted_but_not_measured) {
  QPlainTextEdit editor;
  MessageModel model;
  BodySync sync(editor.document(), model);
  editor.insertPlainText(u"abc"_s);
  QSignalSpy edited(&sync, &BodySync::Edited);
  const auto edits = sync.Edits();
  {
    const BodySync::Hold held(sync);
    editor.clear();
  }
  EXPECT_GT(sync.Edits(), edits);
  EXPECT_EQ(edited.count(), 0);
  EXPECT_EQ(model.Body().Characters(), 3);  // left to the one who held it
  editor.insertPlainText(u"d"_s);           // no longer held
  ExpectSameBody(model, Recounted(editor));
}

// CLS empties the body held and the model at once; Ctrl+Z brings the paragraphs back.
TEST(body_sync, undo_after_a_held_clear_brings_the_count_back) {
  QPlainTextEdit editor;
  MessageModel model;
  BodySync sync(editor.document(), model);
  editor.insertPlainText(QString(300, u'あ') + u"\nab\n\ncd"_s);
  {
    const BodySync::Hold held(sync);
    QTextCursor cursor(editor.document());
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
  }
  model.AllCleared();
  ExpectSameBody(model, Recounted(editor));
  editor.undo();
  ASSERT_EQ(editor.document()->blockCount(), 4);
  ExpectSameBody(model, Recounted(editor));
  editor.redo();
  ExpectSameBody(model, Recounted(editor));
}

}  // namespace
}  // namespace kelmo

// `kelmo --measure` and the window give the same number and title for the same text:
// random texts pasted into the body, against the command line's streaming measure of
// the same text as UTF-8, with every character the editor takes for a line break.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

#include "form_driver.h"
#include "support/text.h"

#include "codec/utf8.h"
#include "measure/utf8_counter.h"
#include "message/limits.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

TEST(measure_agreement, command_line_and_window_agree_on_pasted_text) {
  const std::u16string alphabet =
      u"aZ0 .\tあア漢ｱ～①é\u00A0\U0001F600\r\n\u2028\u2029\uFDD0\uFDD1\u3000";
  testing::RandomText random(7);
  testing::FormDriver d;
  QPlainTextEdit* body = d.Body();
  for (int i = 0; i < 300; ++i) {
    const std::u16string text = random.From(alphabet, 1 + random.Upto(i < 150 ? 12 : 200));
    SCOPED_TRACE(EncodeUtf8(text));
    QGuiApplication::clipboard()->setText(QString::fromStdU16String(text));
    body->setFocus();
    QTest::keyClick(body, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(body, Qt::Key_V, Qt::ControlModifier);

    Utf8MbcsCounter counter;
    ASSERT_TRUE(counter.Add(EncodeUtf8(text)));
    ASSERT_TRUE(counter.Finish());
    const ByteModeCount command = CountInByteMode(counter.LenMbcsRuns(), u"", u"");
    ASSERT_EQ(d.Counter(), QString::number(command.total));
    ASSERT_EQ(d.Title(), QString::fromStdU16String(std::u16string(TitleText(command.title))));
  }
}

// The case that was found: 332 "a" and a line separator, 384 on the command line, 385
// in the window.
TEST(measure_agreement, a_line_separator_costs_a_line_break) {
  Utf8MbcsCounter counter;
  ASSERT_TRUE(counter.Add(std::string(332, 'a') + "\xE2\x80\xA8"));
  ASSERT_TRUE(counter.Finish());
  EXPECT_EQ(CountInByteMode(counter.LenMbcsRuns(), u"", u"").total, 385);
}

}  // namespace
}  // namespace kelmo

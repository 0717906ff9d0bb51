// A long day at the window: its memory stays where it was once it has settled. Under
// AddressSanitizer the same session runs for LeakSanitizer, which checks it at exit.
#include <gtest/gtest.h>

#include <QTest>

#include "form_driver.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::FormDriver;

// Keystrokes that leave the body as it was: a line typed, then taken back.
void TypeAndErase(FormDriver& d, int keystrokes) {
  QWidget* body = d.Body();
  body->setFocus();
  const char line[] = "Meeting at 3 pm, room 204.";
  for (int done = 0; done < keystrokes;) {
    const int n = std::min<int>(sizeof line - 1, (keystrokes - done) / 2);
    for (int i = 0; i < n; ++i) QTest::keyClick(body, line[i]);
    for (int i = 0; i < n; ++i) QTest::keyClick(body, Qt::Key_Backspace);
    done += 2 * std::max(n, 1);
  }
}

void ClearAndUndo(FormDriver& d) {
  d.Click("clear");
  for (const char* name : {"body", "ownAddress", "recipient", "subject"}) {
    QTest::keySequence(d.Control(name), QKeySequence::Undo);
  }
}

void SaveAndLoad(FormDriver& d) {
  d.Click("saveAddresses");
  d.Click("loadAddresses");
}

struct Rounds {
  int keystrokes;
  int clears;
  int saves;
};

void Session(FormDriver& d, const Rounds& rounds) {
  TypeAndErase(d, rounds.keystrokes);
  for (int i = 0; i < rounds.clears; ++i) ClearAndUndo(d);
  for (int i = 0; i < rounds.saves; ++i) SaveAndLoad(d);
  d.Click("byteMode");  // and the same in character mode, scratch file and all
  TypeAndErase(d, rounds.keystrokes / 10);
  d.Form().FlushScratchFile();
  d.Click("byteMode");
  QTest::qWait(0);
}

TEST(long_use, memory_stays_where_it_started) {
  FormDriver d;
  d.Type("ownAddress", u"me@example.jp"_s);
  d.Type("recipient", u"you@example.jp"_s);
  d.Type("subject", u"明日の会議"_s);
  d.Type("body", u"明日は三時から。\n資料を持ってきてください。"_s);
  Session(d, {2000, 20, 20});  // the caches, fonts and undo stacks settle
  const long before = testing::ProcessMemoryKiB("VmRSS");
  Session(d, {100000, 1000, 1000});
  [[maybe_unused]] const long after = testing::ProcessMemoryKiB("VmRSS");
  EXPECT_TRUE(d.Messages().empty());
  EXPECT_EQ(d.LineText("ownAddress"), u"me@example.jp"_s);
  EXPECT_EQ(d.BodyText(), u"明日は三時から。\n資料を持ってきてください。"_s);
  EXPECT_GT(before, 0);
#if !defined(__SANITIZE_ADDRESS__)  // freed memory waits in the sanitizer's quarantine
  EXPECT_LT(after - before, 4 * 1024) << "KiB, from " << before;
#endif
}

}  // namespace
}  // namespace kelmo

// Random edits of the real window, as a user makes them: typing, deleting, replacing and
// pasting over selections, undo and redo, CLS, the mode box, the own address and the
// subject, with the body crossing 384 both ways and growing to about 10^5 characters.
// After every step the counter, the title and the tint are held to a measure of the text
// the editor holds, made apart from the window: the streaming measure `kelmo --measure`
// runs, and at a sample of steps the built `kelmo --measure` itself.
//
// The same seed gives the same edits; KELMO_TEST_SEED=<number> repeats a run, and
// KELMO_TEST_STEPS=<number> makes it shorter (under valgrind) or longer.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QTextBlock>
#include <QTextEdit>
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>

#include "form_driver.h"
#include "support/text.h"

#include "codec/utf8.h"
#include "measure/utf8_counter.h"
#include "message/limits.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::FormDriver;

constexpr std::uint32_t kDefaultSeed = 20261209;
constexpr int kSteps = 360;            // enough to reach every kind of edit at every size
constexpr int kCommandLineEvery = 30;  // steps between runs of the built program
constexpr qsizetype kLargest = 100'000;

std::uint32_t Seed() {
  bool ok = false;
  const std::uint32_t given = qEnvironmentVariable("KELMO_TEST_SEED").toUInt(&ok);
  return ok ? given : kDefaultSeed;
}

int Steps() {
  bool ok = false;
  const int given = qEnvironmentVariable("KELMO_TEST_STEPS").toInt(&ok);
  return ok && given > 0 ? given : kSteps;
}

// Everything the editor takes for a line break, double-byte and single-byte text, and
// characters code page 932 does not have. No surrogate pairs: a selection may end inside
// one, and half a pair is no text the command line can be given.
constexpr std::u16string_view kBodyAlphabet =
    u"aZ0 .\tあいア漢字ｱ～①é\r\n\n\n\u2028\u2029\u3000\uFDD0";
// Long paragraphs: the editor wraps them over many lines.
constexpr std::u16string_view kParagraphAlphabet = u"aZ0 .あいア漢字ｱ～①é\u3000";
constexpr std::u16string_view kFieldAlphabet = u"az09@.-_あ漢ｱé";

// The body's measure in byte mode, as the command line streams it: the editor's text as
// UTF-8, every line break counted as CR LF.
ByteModeCount MeasureBytes(const QString& body, const QString& own, const QString& subject) {
  Utf8MbcsCounter counter;
  EXPECT_TRUE(counter.Add(EncodeUtf8(View(body))));
  EXPECT_TRUE(counter.Finish());
  return CountInByteMode(counter.LenMbcsRuns(), View(own), View(subject));
}

// Character mode counts the body's code units, line breaks none.
std::int64_t MeasureCharacters(const QString& body) {
  return std::count_if(body.cbegin(), body.cend(), [](QChar c) {
    return c != u'\n' && c != u'\r' && c != QChar::LineSeparator && c != QChar::ParagraphSeparator;
  });
}

// What the built `kelmo --measure` prints for the message.
QString CommandLineOutput(const QString& body, const QString& own, const QString& subject) {
  QProcess kelmo;
  kelmo.start(QStringLiteral(KELMO_BINARY),
              {u"--measure"_s, u"--own"_s, own, u"--subject"_s, subject, u"--"_s, u"-"_s});
  if (!kelmo.waitForStarted()) return u"<did not start>"_s;
  kelmo.write(body.toUtf8());
  kelmo.closeWriteChannel();
  if (!kelmo.waitForFinished(30'000)) return u"<did not finish>"_s;
  return QString::fromUtf8(kelmo.readAllStandardOutput());
}

class RandomEdits {
 public:
  explicit RandomEdits(std::uint32_t seed) : m_random(seed) {
    QObject::connect(m_d.Body()->document(), &QTextDocument::contentsChange,
                     [this] { m_bodyEdited = true; });
    for (const char* field : {"ownAddress", "subject"}) {
      QObject::connect(m_d.Control<QLineEdit>(field), &QLineEdit::textChanged,
                       [this] { m_fieldEdited = true; });
    }
  }

  void Run(int steps) {
    for (int step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
      m_bodyEdited = m_fieldEdited = false;
      const std::string what = Step();
      SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
      QCoreApplication::processEvents();  // the tint follows the edit by then
      Check(step % kCommandLineEvery == 0 || step == steps - 1);
    }
  }

  qsizetype Largest() const { return m_largest; }
  int CrossingsUp() const { return m_crossingsUp; }
  int CrossingsDown() const { return m_crossingsDown; }
  int CharacterModeChecks() const { return m_characterModeChecks; }

 private:
  std::size_t Upto(std::size_t most) { return m_random.Upto(most); }
  QString Text(std::u16string_view alphabet, std::size_t characters) {
    return QString::fromStdU16String(m_random.From(alphabet, characters));
  }
  // A length for inserted text: mostly a few characters, at times a page, rarely a lot.
  std::size_t Length() {
    const std::size_t roll = Upto(99);
    if (roll < 60) return 1 + Upto(12);
    if (roll < 90) return 50 + Upto(600);
    return 20'000 + Upto(50'000);
  }
  int End() { return m_d.Body()->document()->characterCount() - 1; }
  void Select(int anchor, int position) {
    QTextCursor cursor = m_d.Body()->textCursor();
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    m_d.Body()->setTextCursor(cursor);
    m_d.Body()->setFocus();
  }
  void SelectSome() {
    const int a = static_cast<int>(Upto(static_cast<std::size_t>(End())));
    const int b = static_cast<int>(Upto(static_cast<std::size_t>(End())));
    Select(a, b);
  }
  // Pasted text: lines of a few characters, or (more often) long paragraphs.
  QString PastedText(std::size_t length) {
    return Text(Upto(2) == 0 ? kBodyAlphabet : kParagraphAlphabet, length);
  }
  void PasteFromClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(m_d.Body(), Qt::Key_V, Qt::ControlModifier);
  }

  // One edit; says what it was.
  std::string Step() {
    const bool tooLong = m_d.Body()->document()->characterCount() > kLargest;
    const std::size_t roll = tooLong ? 20 + Upto(41) : Upto(99);
    if (roll < 20) {  // type where the caret is put
      const int at = static_cast<int>(Upto(static_cast<std::size_t>(End())));
      Select(at, at);
      m_d.Type("body", Text(kBodyAlphabet, 1 + Upto(5)));
      return "type at " + std::to_string(at);
    }
    if (roll < 30) {  // delete a selection, or a character
      SelectSome();
      QTest::keyClick(m_d.Body(), Upto(1) ? Qt::Key_Delete : Qt::Key_Backspace);
      return "delete";
    }
    if (roll < 40) {  // type over a selection
      SelectSome();
      m_d.Type("body", Text(kBodyAlphabet, 1 + Upto(3)));
      return "type over a selection";
    }
    if (roll < 52) {  // paste over a selection
      const std::size_t length = tooLong ? Upto(400) : Length();
      SelectSome();
      PasteFromClipboard(PastedText(length));
      return "paste " + std::to_string(length) + " over a selection";
    }
    if (roll < 62) {  // replace everything, as select all and paste or type do
      Select(0, End());
      if (Upto(3) == 0) {
        m_d.Type("body", Text(kBodyAlphabet, 1));
        return "type over everything";
      }
      const std::size_t length = tooLong ? Upto(400) : Length();
      PasteFromClipboard(PastedText(length));
      return "paste " + std::to_string(length) + " over everything";
    }
    if (roll < 72) {  // paste where the caret is put
      const int at = static_cast<int>(Upto(static_cast<std::size_t>(End())));
      Select(at, at);
      const std::size_t length = Length();
      PasteFromClipboard(PastedText(length));
      return "paste " + std::to_string(length) + " at " + std::to_string(at);
    }
    if (roll < 80) {
      m_d.Body()->setFocus();
      QTest::keySequence(m_d.Body(), QKeySequence::Undo);
      return "undo";
    }
    if (roll < 86) {
      m_d.Body()->setFocus();
      QTest::keySequence(m_d.Body(), QKeySequence::Redo);
      return "redo";
    }
    if (roll < 88) {
      m_d.Click("clear");
      m_cleared = true;
      return "CLS";
    }
    if (roll < 94) {
      m_d.Click("byteMode");
      m_toggled = true;
      return "J対応 toggled";
    }
    // The own address and the subject, within their limits and past them.
    const char* field = Upto(1) ? "ownAddress" : "subject";
    m_d.Control<QLineEdit>(field)->setText(Text(kFieldAlphabet, Upto(32)));
    return std::string("edit ") + field;
  }

  void Check(bool runCommandLine) {
    const bool byteMode = m_d.Control<QCheckBox>("byteMode")->isChecked();
    const QString body = m_d.BodyText();
    const QString own = m_d.LineText("ownAddress");
    const QString subject = m_d.LineText("subject");
    m_largest = std::max(m_largest, body.size());
    const ByteModeCount bytes = MeasureBytes(body, own, subject);
    if (runCommandLine) {
      ASSERT_EQ(CommandLineOutput(body, own, subject).toStdU16String(),
                QString::number(bytes.total).toStdU16String() + u'\t' +
                    std::u16string(TitleText(bytes.title)) + u'\n');
    }

    // Nothing is counted until the first edit: the counter reads 0.
    m_counted = m_counted || m_bodyEdited || m_fieldEdited || m_toggled || m_cleared;
    if (!m_counted) {
      ASSERT_EQ(m_d.Counter().toStdString(), "0");
      ASSERT_EQ(m_d.Title(), testing::kPlain);
      return;
    }

    // Character mode keeps the address's and the subject's last byte-mode counts, and
    // shows the plain title from the untick until the body is next counted.
    std::int64_t counter = 0;
    Title title = Title::kPlain;
    if (byteMode) {
      m_addressCount = bytes.addressCount;
      m_subjectCount = bytes.subjectCount;
      m_titleCounted = true;
      counter = bytes.total;
      title = bytes.title;
    } else {
      ++m_characterModeChecks;
      if (m_toggled) m_titleCounted = false;
      if (m_bodyEdited || m_cleared) m_titleCounted = true;
      counter = MeasureCharacters(body);
      title = m_titleCounted ? ChooseTitle(m_addressCount, m_subjectCount, counter) : Title::kPlain;
    }
    m_toggled = m_cleared = false;
    ASSERT_EQ(m_d.Counter().toStdString(), std::to_string(counter)) << "byte mode " << byteMode;
    ASSERT_EQ(m_d.Title().toStdU16String(), TitleText(title));

    const bool over = counter > kTariff.messageLimit;
    if (over && !m_wasOver) ++m_crossingsUp;
    if (!over && m_wasOver) ++m_crossingsDown;
    m_wasOver = over;
    CheckTint(body, own, subject, byteMode, over);
  }

  // The tint runs from the first character whose count takes the message past 384 to
  // the end of the body: the text before it is within the limit, with it past.
  void CheckTint(const QString& body, const QString& own, const QString& subject, bool byteMode,
                 bool over) {
    const QList<QTextEdit::ExtraSelection> tints = m_d.Body()->extraSelections();
    if (!over) {
      ASSERT_TRUE(tints.isEmpty()) << tints.front().cursor.selectionStart();
      return;
    }
    ASSERT_EQ(tints.size(), 1);
    const QTextCursor tint = tints.front().cursor;
    ASSERT_EQ(tint.selectionEnd(), body.size());
    const qsizetype start = tint.selectionStart();
    ASSERT_LT(start, body.size());
    auto measure = [&](qsizetype length) {
      const QString prefix = body.left(length);
      return byteMode ? MeasureBytes(prefix, own, subject).total : MeasureCharacters(prefix);
    };
    ASSERT_LE(measure(start), kTariff.messageLimit) << "tint from " << start;
    ASSERT_GT(measure(start + 1), kTariff.messageLimit) << "tint from " << start;
  }

  FormDriver m_d;
  testing::RandomText m_random;
  bool m_bodyEdited = false;   // the editor reported a change of the body in this step
  bool m_fieldEdited = false;  // or of the own address or the subject
  bool m_counted = false;      // something has been counted since the window opened
  bool m_toggled = false;
  bool m_cleared = false;
  bool m_titleCounted = true;  // the title says what the count is (see Check)
  std::int64_t m_addressCount = 0;
  std::int64_t m_subjectCount = 0;
  bool m_wasOver = false;
  qsizetype m_largest = 0;
  int m_crossingsUp = 0;
  int m_crossingsDown = 0;
  int m_characterModeChecks = 0;
};

TEST(random_edit, counter_title_and_tint_follow_every_edit) {
  const std::uint32_t seed = Seed();
  std::cout << "random_edit seed " << seed << " (KELMO_TEST_SEED=" << seed << " repeats it)\n";
  RecordProperty("seed", std::to_string(seed));
  SCOPED_TRACE("seed " + std::to_string(seed));
  const int steps = Steps();
  RandomEdits edits(seed);
  edits.Run(steps);
  if (HasFatalFailure()) return;
  std::cout << "longest body " << edits.Largest() << ", past 384 " << edits.CrossingsUp()
            << " times, back " << edits.CrossingsDown() << " times, " << edits.CharacterModeChecks()
            << " steps in character mode\n";
  // A full run went where the faults were: past the limit and back, to long bodies, and
  // through character mode.
  if (steps < kSteps) return;
  EXPECT_GE(edits.CrossingsUp(), 3);
  EXPECT_GE(edits.CrossingsDown(), 3);
  EXPECT_GE(edits.Largest(), 50'000);
  EXPECT_GE(edits.CharacterModeChecks(), 20);
}

}  // namespace
}  // namespace kelmo

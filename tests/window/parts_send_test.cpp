// A message past the limit sent in parts from the window: the shortcut and the menu entry,
// the dialog, the parts in order through a stand-in sendmail and a stand-in mail client,
// a part that fails and the retry of the rest, a slow sendmail, a close meanwhile.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <memory>

#include "announcement_log.h"
#include "codec/line_breaks.h"
#include "form_driver.h"
#include "support/fake_programs.h"
#include "window/parts_send.h"
#include "window/split_dialog.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::FormDriver;

// Three parts with the own address and subject below: the first and second in
// ISO-2022-JP, the last (an emoji) in UTF-8.
const QString kLongBody = u"明日は三時から会議です。\n"_s + QString(580, u'a') + u"😀"_s;
const QString kOwn = u"me@example.jp"_s;
const QString kSubject = u"件名"_s;

struct Journal {
  std::vector<OutgoingMail> sent;
  std::vector<MailTransport::Done> done;  // each send's outcome, to report when told
};

class RecordingTransport : public MailTransport {
 public:
  explicit RecordingTransport(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}
  void Send(const OutgoingMail& mail, Done done) override {
    m_journal->sent.push_back(mail);
    m_journal->done.push_back(std::move(done));
  }

 private:
  std::shared_ptr<Journal> m_journal;
};

void Fill(FormDriver& d, const QString& body = kLongBody) {
  d.Type("recipient", u"you@example.jp"_s);
  d.Paste("ownAddress", kOwn);
  d.Paste("subject", kSubject);
  d.Paste("body", body);
}

// The parts as the window is to send them, from its fields as they stand.
std::vector<MessagePart> PartsNow(FormDriver& d) {
  auto parts = SplitMessage(WithCrLf(View(d.BodyText())), View(d.LineText("ownAddress")),
                            View(d.LineText("subject")));
  EXPECT_TRUE(parts.has_value());
  return parts ? *parts : std::vector<MessagePart>{};
}

PartsSend& Parts(FormDriver& d) { return *d.Form().findChild<PartsSend*>(); }

// The keys, in `where`. The window is made active first: offscreen, a dialog or a box
// that closed leaves no window active, where a desktop gives the window back its focus.
void PressSplitKeys(QWidget* where) {
  QWidget* window = where->window();
  window->activateWindow();
  (void)QTest::qWaitForWindowActive(window);
  QTest::keyClick(where, Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
}

// The body's context menu, opened from the keyboard: whether its entry is there and
// usable. `trigger`: chooses it when it is.
bool MenuEntryEnabled(FormDriver& d, bool trigger) {
  QPlainTextEdit* body = d.Body();
  QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                          body->viewport()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(body->viewport(), &event);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  EXPECT_NE(menu, nullptr);
  if (!menu) return false;
  QAction* entry = nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == PartsSend::ActionText()) entry = action;
  }
  EXPECT_NE(entry, nullptr) << "no entry in the body's menu";
  const bool enabled = entry && entry->isEnabled();
  if (trigger && enabled) {
    menu->setActiveAction(entry);
    QTest::keyClick(menu, Qt::Key_Return);
  } else {
    menu->close();
  }
  return enabled;
}

SplitDialog* WaitForDialog(FormDriver& d) {
  (void)QTest::qWaitFor([&] { return Parts(d).Dialog() && Parts(d).Dialog()->isVisible(); }, 2000);
  return Parts(d).Dialog();
}

void Accept(SplitDialog* dialog) {
  ASSERT_NE(dialog, nullptr);
  QTest::keyClick(dialog->findChild<QListWidget*>(), Qt::Key_Return);
}

// A mail sendmail was given, decoded by Python's email package.
QJsonObject Decode(const QString& file) {
  QProcess decode;
  decode.start(u"/usr/bin/python3"_s,
               {QStringLiteral(KELMO_TEST_SUPPORT_DIR "/decode_mail.py"), file});
  decode.waitForFinished(15000);
  return QJsonDocument::fromJson(decode.readAllStandardOutput()).object();
}

QString DecodedBody(const QJsonObject& mail) {
  QString body = mail[u"body"_s].toString();
  if (mail[u"encoding"_s].toString() == u"7bit"_s && body.endsWith(u'\n')) body.chop(1);
  return body.replace(u"\r\n"_s, u"\n"_s);
}

QString Expected(const MessagePart& part) {
  return ToQString(part.body).replace(u"\r\n"_s, u"\n"_s);
}

TEST(parts_send, shortcut_and_menu_entry_follow_the_message) {
  struct Row {
    const char* name;
    QString body;
    bool available;
  };
  const Row rows[] = {
      {"fits", u"short\nnote"_s, false},
      {"just_at_the_limit", QString(384 - 51 - 13 - 10, u'a'), false},
      {"one_byte_past", QString(384 - 51 - 13 - 10 + 1, u'a'), true},
      {"far_past", kLongBody, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    FormDriver d({std::make_unique<RecordingTransport>(journal),
                  std::make_unique<RecordingTransport>(journal)});
    Fill(d, row.body);
    const QString body = d.BodyText();
    for (const char* field : {"body", "recipient", "ownAddress", "subject", "send"}) {
      SCOPED_TRACE(field);
      d.Control(field)->setFocus();
      PressSplitKeys(d.Control(field));
      SplitDialog* dialog = row.available ? WaitForDialog(d) : Parts(d).Dialog();
      EXPECT_EQ(dialog != nullptr, row.available);
      if (dialog) QTest::keyClick(dialog, Qt::Key_Escape);
      ASSERT_TRUE(QTest::qWaitFor([&] { return !Parts(d).Dialog(); }, 2000));
      // The keys themselves go nowhere: no line break in the body, nothing sent.
      EXPECT_EQ(d.BodyText(), body);
      EXPECT_TRUE(journal->sent.empty());
    }
    // Enter on the keypad is Return too.
    d.Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d.Form()));
    QTest::keyClick(d.Body(), Qt::Key_Enter,
                    Qt::ControlModifier | Qt::ShiftModifier | Qt::KeypadModifier);
    SplitDialog* keypad = row.available ? WaitForDialog(d) : Parts(d).Dialog();
    EXPECT_EQ(keypad != nullptr, row.available);
    if (keypad) QTest::keyClick(keypad, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Parts(d).Dialog(); }, 2000));
    EXPECT_EQ(d.BodyText(), body);
    d.Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d.Form()));
    EXPECT_EQ(MenuEntryEnabled(d, true), row.available);
    SplitDialog* dialog = row.available ? WaitForDialog(d) : Parts(d).Dialog();
    EXPECT_EQ(dialog != nullptr, row.available);
    if (dialog) QTest::keyClick(dialog, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Parts(d).Dialog(); }, 2000));
    EXPECT_TRUE(journal->sent.empty());
    // While a send runs, neither asks.
    d.Click("send");
    ASSERT_EQ(journal->sent.size(), 1u);
    EXPECT_FALSE(MenuEntryEnabled(d, false));
    PressSplitKeys(d.Body());
    QTest::qWait(50);
    EXPECT_EQ(Parts(d).Dialog(), nullptr);
    journal->done.back()({});
    EXPECT_EQ(MenuEntryEnabled(d, false), row.available);
  }
}

TEST(parts_send, says_why_splitting_cannot_help) {
  struct Row {
    const char* name;
    QString own;
    QString subject;
    QString body;
    SplitProblem problem;
  };
  const Row rows[] = {
      {"own_address_past_its_limit", QString(56, u'm'), kSubject, kLongBody,
       SplitProblem::kAddressTooLong},
      {"subject_past_its_limit", kOwn, QString(41, u's'), kLongBody, SplitProblem::kSubjectTooLong},
      {"more_than_99_parts", kOwn, kSubject, QString(qsizetype{99} * 360, u'a'),
       SplitProblem::kTooManyParts},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    FormDriver d({std::make_unique<RecordingTransport>(journal),
                  std::make_unique<RecordingTransport>(journal)});
    d.Type("recipient", u"you@example.jp"_s);
    d.Paste("ownAddress", row.own);
    d.Paste("subject", row.subject);
    d.Paste("body", row.body);
    PressSplitKeys(d.Body());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.Messages().empty(); }, 2000));
    EXPECT_EQ(d.Messages().front().text, PartsSend::ProblemText(row.problem));
    EXPECT_EQ(Parts(d).Dialog(), nullptr);
    EXPECT_TRUE(journal->sent.empty());
  }
}

// Through the stand-in sendmail: every part a mail of its own, in order, each in the
// charset its own text needs; the progress and the outcome are said.
TEST(parts_send, parts_go_in_order_through_sendmail) {
  testing::FakeMailPrograms fake;
  FormDriver d;
  Fill(d);
  const std::vector<MessagePart> parts = PartsNow(d);
  ASSERT_EQ(parts.size(), 3u);
  testing::AnnouncementLog log;
  PressSplitKeys(d.Body());
  SplitDialog* dialog = WaitForDialog(d);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->SendButton()->text(), u"3通送信"_s);
  Accept(dialog);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d.Messages().empty(); }, 15000));
  EXPECT_FALSE(d.Sending());
  EXPECT_EQ(d.Messages().front().text, u"3通のメールを送信しました。"_s);
  EXPECT_EQ(fake.Recorded("sendmail.runs"), "run\nrun\nrun\n");
  const char* charsets[] = {"iso-2022-jp", "iso-2022-jp", "utf-8"};
  for (std::size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(k + 1);
    const QJsonObject mail =
        Decode(QDir(qEnvironmentVariable("FAKE_DIR")).filePath(u"sendmail.%1.stdin"_s.arg(k + 1)));
    EXPECT_EQ(mail[u"to"_s].toString(), u"you@example.jp"_s);
    EXPECT_EQ(mail[u"subject"_s].toString(), kSubject);
    EXPECT_EQ(mail[u"charset"_s].toString(), QLatin1String(charsets[k]));
    EXPECT_EQ(DecodedBody(mail), Expected(parts[k]));
  }
  EXPECT_EQ(d.BodyText(), kLongBody);
  const QStringList said = log.Take();
  for (const QString& text : {u"1/3 送信しました"_s, u"2/3 送信しました"_s, u"3/3 送信しました"_s,
                              u"3通のメールを送信しました。"_s}) {
    EXPECT_TRUE(said.contains(text))
        << text.toStdString() << " not in " << said.join(u'|').toStdString();
  }
}

// The second part fails: the rest stays unsent, the window says which went and which did
// not, the body stays; asked again with the message unchanged, only parts 2 and 3 go. An
// edit of the message instead makes it a new one, all of whose parts go.
TEST(parts_send, a_failed_part_stops_there_and_the_retry_sends_only_the_rest) {
  for (const bool edit : {false, true}) {
    SCOPED_TRACE(edit ? "edited after the failure" : "unchanged");
    testing::FakeMailPrograms fake;
    fake.FailRun(2);
    FormDriver d;
    Fill(d);
    const std::vector<MessagePart> parts = PartsNow(d);
    ASSERT_EQ(parts.size(), 3u);
    PressSplitKeys(d.Body());
    Accept(WaitForDialog(d));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.Messages().empty(); }, 15000));
    EXPECT_FALSE(d.Sending());
    EXPECT_EQ(fake.Recorded("sendmail.runs"), "run\nrun\n");
    const QString failure = d.Messages().front().text;
    EXPECT_TRUE(failure.contains(u"3通のうち1通を送信しました。2通目: "_s))
        << failure.toStdString();
    EXPECT_TRUE(failure.contains(u"refused run 2"_s)) << failure.toStdString();
    EXPECT_EQ(d.BodyText(), kLongBody);

    fake.FailRun(0);
    if (edit) d.Type("body", u"b"_s);
    PressSplitKeys(d.Body());
    SplitDialog* dialog = WaitForDialog(d);
    ASSERT_NE(dialog, nullptr);
    auto* list = dialog->findChild<QListWidget*>();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text().endsWith(u"（送信済み）"_s), !edit);
    EXPECT_FALSE(list->item(1)->text().endsWith(u"（送信済み）"_s));
    EXPECT_EQ(dialog->SendButton()->text(), edit ? u"3通送信"_s : u"残り2通送信"_s);
    const std::vector<MessagePart> now = PartsNow(d);
    Accept(dialog);
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.Messages().size() == 2; }, 15000));
    EXPECT_EQ(d.Messages().back().text, u"3通のメールを送信しました。"_s);
    const QDir fakeDir(qEnvironmentVariable("FAKE_DIR"));
    const std::vector<std::size_t> sentParts =
        edit ? std::vector<std::size_t>{0, 1, 2} : std::vector<std::size_t>{1, 2};
    EXPECT_EQ(fake.Recorded("sendmail.runs").count('\n'),
              2 + static_cast<qsizetype>(sentParts.size()));
    for (std::size_t k = 0; k < sentParts.size(); ++k) {
      SCOPED_TRACE(k);
      const QJsonObject mail = Decode(fakeDir.filePath(u"sendmail.%1.stdin"_s.arg(3 + k)));
      EXPECT_EQ(DecodedBody(mail), Expected(now[sentParts[k]]));
    }
  }
}

// A sendmail that takes a while for each part: the window answers, a second request and
// the send button do nothing, the progress is on the button, and edits made meanwhile
// change the window, not the parts that go (those the dialog showed).
TEST(parts_send, a_slow_sendmail_leaves_the_window_answering) {
  testing::FakeMailPrograms fake;
  fake.SetSleep("0.6");
  FormDriver d;
  Fill(d);
  const std::vector<MessagePart> parts = PartsNow(d);
  testing::TickCounter ticks;
  PressSplitKeys(d.Body());
  Accept(WaitForDialog(d));
  EXPECT_TRUE(d.Sending());
  QStringList progress;
  QWidget* send = d.Control("send");
  d.Type("body", u"zz"_s);
  PressSplitKeys(d.Body());
  d.Click("send");
  while (
      QTest::qWaitFor([&] { return !d.Sending() || !progress.contains(send->toolTip()); }, 10000)) {
    if (!d.Sending()) break;
    progress << send->toolTip();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(send)->text(QAccessible::Description),
              send->toolTip());
  }
  EXPECT_EQ(Parts(d).Dialog(), nullptr);
  EXPECT_EQ(progress,
            QStringList({SendSession::SeriesBusyText(1, 3), SendSession::SeriesBusyText(2, 3),
                         SendSession::SeriesBusyText(3, 3)}));
  EXPECT_TRUE(send->toolTip().isEmpty());
  EXPECT_GE(ticks.Ticks(), 20);
  EXPECT_EQ(fake.Recorded("sendmail.runs"), "run\nrun\nrun\n");
  EXPECT_EQ(d.BodyText(), kLongBody + u"zz"_s);
  const QDir fakeDir(qEnvironmentVariable("FAKE_DIR"));
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(DecodedBody(Decode(fakeDir.filePath(u"sendmail.%1.stdin"_s.arg(k + 1)))),
              Expected(parts[k]));
  }
}

// Closed while the parts go: the window waits for all of them, then closes; when one
// fails, it says which went first, and closes then.
TEST(parts_send, closing_during_the_parts_waits_for_all_of_them) {
  for (const int failing : {0, 2}) {
    SCOPED_TRACE(failing);
    testing::FakeMailPrograms fake;
    fake.SetSleep("0.4");
    fake.FailRun(failing);
    FormDriver d;
    Fill(d);
    PressSplitKeys(d.Body());
    Accept(WaitForDialog(d));
    QTest::qWait(100);
    d.Form().close();
    EXPECT_TRUE(d.Form().isVisible());
    EXPECT_TRUE(d.Control("closingNotice")->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.Form().isVisible(); }, 15000));
    EXPECT_EQ(fake.Recorded("sendmail.runs").count('\n'), failing ? failing : 3);
    if (failing) {
      ASSERT_EQ(d.Messages().size(), 1u);
      EXPECT_TRUE(d.Messages().front().text.contains(u"3通のうち1通を送信しました。2通目: "_s));
    }
  }
}

// 送信確認 ticked: one compose window per part, in order; one that cannot open stops the rest.
TEST(parts_send, the_compose_way_opens_one_compose_window_per_part) {
  for (const int failing : {0, 2}) {
    SCOPED_TRACE(failing);
    testing::FakeMailPrograms fake;
    fake.FailRun(failing);
    FormDriver d;
    Fill(d);
    const std::vector<MessagePart> parts = PartsNow(d);
    d.Click("showCompose");
    PressSplitKeys(d.Body());
    Accept(WaitForDialog(d));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.Messages().empty(); }, 15000));
    EXPECT_FALSE(fake.Ran("sendmail"));
    const int opened = failing ? failing : 3;
    EXPECT_EQ(fake.Recorded("xdg-email.runs").count('\n'), opened);
    for (int k = 1; k <= opened; ++k) {
      const QString argv =
          QString::fromUtf8(fake.Recorded(qPrintable(u"xdg-email.%1.argv"_s.arg(k))));
      EXPECT_TRUE(argv.contains(u"body=%28"_s + QString::number(k) + u"%2F3%29%0D%0A"_s))
          << argv.toStdString();
    }
    EXPECT_EQ(d.Messages().front().text,
              failing ? d.Messages().front().text : u"3通のメールをメールソフトに渡しました。"_s);
    if (failing) {
      EXPECT_TRUE(d.Messages().front().text.contains(u"3通のうち1通を送信しました。2通目: "_s))
          << d.Messages().front().text.toStdString();
    }
  }
}

// A transport that fails before Send() returns (no recipient): nothing went, said so, and
// the window is not left busy. A compose window that fails after it was taken as opened:
// that part counts as not sent, and the retry offers it alone.
TEST(parts_send, early_and_late_failures) {
  {
    testing::FakeMailPrograms fake;
    FormDriver d;
    Fill(d);
    d.Control<QLineEdit>("recipient")->clear();
    PressSplitKeys(d.Body());
    Accept(WaitForDialog(d));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.Messages().empty(); }, 5000));
    EXPECT_TRUE(d.Messages().front().text.contains(u"3通のうち0通を送信しました。1通目: "_s))
        << d.Messages().front().text.toStdString();
    EXPECT_FALSE(d.Sending());
    EXPECT_FALSE(fake.Ran("sendmail"));
  }
  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  FormDriver d({std::make_unique<RecordingTransport>(journal),
                std::make_unique<RecordingTransport>(journal)});
  Fill(d);
  d.Click("showCompose");
  PressSplitKeys(d.Body());
  Accept(WaitForDialog(d));
  for (std::size_t k = 0; k < 3; ++k) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return journal->sent.size() == k + 1; }, 2000));
    journal->done[k]({});
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return d.Messages().size() == 1; }, 2000));
  EXPECT_FALSE(d.Sending());
  journal->done[0](Error(MailError::kComposeFailed, u"the mail client gave up"_s));
  ASSERT_EQ(d.Messages().size(), 2u);
  EXPECT_TRUE(d.Messages().back().text.contains(u"3通のうち2通を送信しました。1通目: "_s))
      << d.Messages().back().text.toStdString();
  PressSplitKeys(d.Body());
  SplitDialog* dialog = WaitForDialog(d);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->SendButton()->text(), u"残り1通送信"_s);
  Accept(dialog);
  ASSERT_EQ(journal->sent.size(), 4u);
  EXPECT_TRUE(journal->sent.back().body.startsWith(u"(1/3)\r\n"_s));
  journal->done[3]({});
  ASSERT_TRUE(QTest::qWaitFor([&] { return d.Messages().size() == 3; }, 2000));
  EXPECT_EQ(d.Messages().back().text, u"3通のメールをメールソフトに渡しました。"_s);
}

// The same late failure while later parts still go: it names its part; the box at the
// end gives the count, and the retry offers that part alone.
TEST(parts_send, a_late_failure_while_the_parts_go) {
  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  FormDriver d({std::make_unique<RecordingTransport>(journal),
                std::make_unique<RecordingTransport>(journal)});
  Fill(d);
  d.Click("showCompose");
  PressSplitKeys(d.Body());
  Accept(WaitForDialog(d));
  ASSERT_EQ(journal->sent.size(), 1u);
  journal->done[0]({});
  ASSERT_TRUE(QTest::qWaitFor([&] { return journal->sent.size() == 2; }, 2000));
  journal->done[0](Error(MailError::kComposeFailed, u"the mail client gave up"_s));
  ASSERT_EQ(d.Messages().size(), 1u);
  EXPECT_TRUE(d.Messages().front().text.endsWith(u"1通目: the mail client gave up"_s))
      << d.Messages().front().text.toStdString();
  EXPECT_FALSE(d.Messages().front().text.contains(u"通のうち"_s));
  EXPECT_TRUE(d.Sending());  // the others still go
  journal->done[1]({});
  ASSERT_TRUE(QTest::qWaitFor([&] { return journal->sent.size() == 3; }, 2000));
  journal->done[2]({});
  ASSERT_TRUE(QTest::qWaitFor([&] { return d.Messages().size() == 2; }, 2000));
  EXPECT_EQ(d.Messages().back().text, u"3通のうち2通を送信しました。"_s);
  PressSplitKeys(d.Body());
  SplitDialog* dialog = WaitForDialog(d);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->SendButton()->text(), u"残り1通送信"_s);
  QTest::keyClick(dialog, Qt::Key_Escape);
}

}  // namespace
}  // namespace kelmo

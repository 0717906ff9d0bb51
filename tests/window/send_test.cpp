// The send button, through a MailTransport that records what it is handed and answers
// when the test says so; and through the Linux transport with a slow stand-in sendmail.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QElapsedTimer>
#include <memory>

#include "form_driver.h"
#include "support/fake_programs.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::FormDriver;

struct Journal {
  std::vector<OutgoingMail> sent;
  std::vector<bool> composed;   // for each, whether it went the compose way
  MailTransport::Done pending;  // the outcome of the last send, not yet reported
};

// One of the window's two ways, writing into the journal both share.
class RecordingTransport : public MailTransport {
 public:
  RecordingTransport(std::shared_ptr<Journal> journal, bool compose)
      : m_journal(std::move(journal)), m_compose(compose) {}
  void Send(const OutgoingMail& mail, Done done) override {
    m_journal->sent.push_back(mail);
    m_journal->composed.push_back(m_compose);
    m_journal->pending = std::move(done);
  }

 private:
  std::shared_ptr<Journal> m_journal;
  bool m_compose;
};

// What assistive technology is told of the send button: that a send runs, or nothing.
bool BusyExposed(FormDriver& d) {
  QAccessibleInterface* button = QAccessible::queryAccessibleInterface(d.Control("send"));
  const bool busy = button && button->state().busy;
  EXPECT_EQ(busy, button && button->text(QAccessible::Description) == SendSession::BusyText());
  return busy;
}

struct Sender {
  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  FormDriver d{{std::make_unique<RecordingTransport>(journal, false),
                std::make_unique<RecordingTransport>(journal, true)}};

  void Fill() {
    d.Type("body", u"一行目\n二行目"_s);
    d.Type("ownAddress", u"me@example.jp"_s);
    d.Type("recipient", u"you@example.jp"_s);
    d.Type("subject", u"件名"_s);
  }
  void Answer(const Result<>& outcome) {
    ASSERT_TRUE(journal->pending);
    std::exchange(journal->pending, nullptr)(outcome);
  }
};

TEST(send, hands_over_the_fields_as_they_stand_at_the_click) {
  for (const bool compose : {false, true}) {
    Sender s;
    s.Fill();
    if (compose) s.d.Click("showCompose");
    s.d.Click("send");
    ASSERT_EQ(s.journal->sent.size(), 1u);
    const OutgoingMail& mail = s.journal->sent.front();
    EXPECT_EQ(mail.recipient, u"you@example.jp"_s);
    EXPECT_EQ(mail.subject, u"件名"_s);
    EXPECT_EQ(mail.body, u"一行目\r\n二行目"_s);
    EXPECT_EQ(s.journal->composed.front(), compose);

    // Edits while the mail program runs change the window, not the message on its way.
    s.d.Type("body", u"x"_s);
    EXPECT_EQ(s.journal->sent.front().body, u"一行目\r\n二行目"_s);
    s.Answer({});
    EXPECT_TRUE(s.d.Messages().empty());
    // Said to a screen reader, which cannot see the button come back.
    QWidget* announcement = s.d.Control("announcement");
    EXPECT_TRUE(announcement->isVisible());
    EXPECT_EQ(announcement->accessibleName(),
              compose ? u"メールソフトに渡しました"_s : u"送信しました"_s);
  }
}

// During a send the button stays where it is and as it is, but does nothing: a click,
// Space or Return on it starts no second send. The busy state is shown by the cursor and
// told to assistive technology.
TEST(send, one_send_at_a_time) {
  Sender s;
  s.Fill();
  QWidget* send = s.d.Control("send");
  EXPECT_FALSE(BusyExposed(s.d));
  s.d.Click("send");
  EXPECT_TRUE(BusyExposed(s.d));
  EXPECT_NE(QApplication::overrideCursor(), nullptr);
  s.d.Click("send");
  send->setFocus(Qt::TabFocusReason);
  QTest::keyClick(send, Qt::Key_Space);
  QTest::keyClick(send, Qt::Key_Return);
  EXPECT_EQ(s.journal->sent.size(), 1u);
  s.Answer({});
  EXPECT_FALSE(BusyExposed(s.d));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  s.d.Click("send");
  EXPECT_EQ(s.journal->sent.size(), 2u);
  s.Answer({});
  EXPECT_FALSE(BusyExposed(s.d));
}

TEST(send, a_failure_is_shown_and_the_window_and_text_stay) {
  Sender s;
  s.Fill();
  const QString counter = s.d.Counter();
  s.d.Click("send");
  s.Answer(Error(MailError::kTransportFailed, u"sendmail: failed"_s));
  ASSERT_EQ(s.d.Messages().size(), 1u);
  const auto& box = s.d.Messages().front();
  // The number a sentence of its own, so that a screen reader pauses after it.
  EXPECT_EQ(box.text, u"2010。\rsendmail: failed"_s);
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.buttons, QMessageBox::Ok);
  EXPECT_EQ(box.title, u"Kelmo"_s);
  EXPECT_TRUE(s.d.Form().isVisible());
  EXPECT_FALSE(BusyExposed(s.d));
  EXPECT_EQ(s.d.BodyText(), u"一行目\n二行目"_s);
  EXPECT_EQ(s.d.Counter(), counter);
}

TEST(send, measuring_plays_no_part) {
  Sender s;
  s.Fill();
  s.d.Paste("body", QString(500, QLatin1Char('x')));
  ASSERT_NE(s.d.Title(), u"Kelmo"_s);
  s.d.Click("send");
  EXPECT_EQ(s.journal->sent.size(), 1u);
  s.Answer({});
}

// The real transport with a sendmail that takes a while: the window keeps answering.
TEST(send, window_answers_while_a_slow_sendmail_runs) {
  testing::FakeMailPrograms fake;
  fake.SetSleep("1.5");
  FormDriver d;
  d.Type("recipient", u"you@example.jp"_s);
  d.Type("body", u"hello"_s);
  testing::TickCounter ticks;
  QElapsedTimer clock;
  clock.start();
  d.Click("send");
  EXPECT_LT(clock.elapsed(), 1000);  // the click returns before sendmail ends
  EXPECT_TRUE(BusyExposed(d));
  d.Type("body", u" world"_s);  // editing goes on meanwhile
  d.Click("send");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !BusyExposed(d); }, 10000));
  EXPECT_GE(ticks.Ticks(), 15);
  EXPECT_TRUE(d.Messages().empty());
  EXPECT_EQ(fake.Recorded("sendmail.runs"), "run\n");  // the second click started nothing
  EXPECT_EQ(fake.Recorded("sendmail.argv"), "-t\n-i\n");
  const QByteArray message = fake.Recorded("sendmail.stdin");
  EXPECT_TRUE(message.endsWith("\n\nhello\n")) << message.toStdString();
  EXPECT_EQ(d.BodyText(), u"hello world"_s);
}

// During a send and after it, successful or not, the keyboard is where it was: no
// address is selected, and the next keys go where they went before the click. Keys typed
// on the button during the send go nowhere, the body included.
TEST(send, the_keyboard_stays_where_it_was) {
  for (const bool keyboard : {false, true}) {
    for (const bool success : {true, false}) {
      SCOPED_TRACE(std::string(keyboard ? "space on the button" : "mouse click") +
                   (success ? ", sent" : ", failed"));
      Sender s;
      s.Fill();
      QWidget* send = s.d.Control("send");
      if (keyboard) {
        send->setFocus(Qt::TabFocusReason);
        QTest::keyClick(send, Qt::Key_Space);
      } else {
        s.d.Body()->setFocus();
        s.d.Click("send");
      }
      ASSERT_EQ(s.journal->sent.size(), 1u);
      QWidget* const before = keyboard ? send : s.d.Body();
      EXPECT_EQ(QApplication::focusWidget(), before);
      QTest::keyClicks(QApplication::focusWidget(), u"during"_s);
      EXPECT_EQ(QApplication::focusWidget(), before);
      const QString body = keyboard ? u"一行目\n二行目"_s : u"一行目\n二行目during"_s;
      EXPECT_EQ(s.d.BodyText(), body);
      s.Answer(success ? Result<>() : Result<>(Error(MailError::kTransportFailed, u"x"_s)));
      // The window's own focus; an error box in between had the keyboard for a while.
      s.d.Form().activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(&s.d.Form()));
      EXPECT_EQ(s.d.Form().focusWidget(), before);
      for (const char* name : {"recipient", "ownAddress", "subject"}) {
        EXPECT_FALSE(s.d.Control<QLineEdit>(name)->hasSelectedText()) << name;
      }
      QTest::keyClicks(s.d.Form().focusWidget(), u"word"_s);
      EXPECT_EQ(s.d.LineText("recipient"), u"you@example.jp"_s);
      EXPECT_EQ(s.d.BodyText(), keyboard ? body : body + u"word"_s);
      EXPECT_EQ(s.journal->sent.size(), 1u);
    }
  }
}

// Closing during a send waits for it: the window says so and closes when it is over, after
// showing a failure if there is one.
TEST(send, closing_during_a_send_waits_for_it) {
  for (const bool success : {true, false}) {
    SCOPED_TRACE(success ? "sent" : "failed");
    Sender s;
    s.Fill();
    s.d.Click("send");
    s.d.Click("exit");
    EXPECT_TRUE(s.d.Form().isVisible());
    EXPECT_TRUE(s.d.Control("closingNotice")->isVisible());
    s.Answer(success ? Result<>() : Result<>(Error(MailError::kTimedOut, u"late"_s)));
    EXPECT_FALSE(s.d.Form().isVisible());
    EXPECT_EQ(s.d.Messages().size(), success ? 0u : 1u);
  }
}

// The same with the real transport and a sendmail that takes a while: the mail arrives.
TEST(send, closing_during_a_slow_sendmail_lets_the_mail_go) {
  testing::FakeMailPrograms fake;
  fake.SetSleep("1");
  FormDriver d;
  d.Type("recipient", u"you@example.jp"_s);
  d.Type("body", u"do not drop me"_s);
  d.Click("send");
  QTest::qWait(200);
  d.Form().close();
  EXPECT_TRUE(d.Form().isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d.Form().isVisible(); }, 10000));
  EXPECT_TRUE(fake.Recorded("sendmail.stdin").endsWith("do not drop me\n"));
  EXPECT_TRUE(d.Messages().empty());
}

// A mail client's launcher that fails after it was taken as opened: the failure is shown
// when it comes.
TEST(send, a_failure_after_the_compose_window_was_taken_as_open_is_shown) {
  Sender s;
  s.Fill();
  s.d.Click("showCompose");
  s.d.Click("send");
  MailTransport::Done done = s.journal->pending;
  s.Answer({});
  EXPECT_FALSE(BusyExposed(s.d));
  EXPECT_TRUE(s.d.Messages().empty());
  // It may come while the next send runs: that one is still waited for.
  s.d.Click("send");
  ASSERT_TRUE(BusyExposed(s.d));
  done(Error(MailError::kComposeFailed, u"xdg-email failed late"_s));
  ASSERT_EQ(s.d.Messages().size(), 1u);
  EXPECT_EQ(s.d.Messages().front().text, u"2009。\rxdg-email failed late"_s);
  EXPECT_TRUE(BusyExposed(s.d));
  s.Answer({});
  EXPECT_FALSE(BusyExposed(s.d));
}

// A close held for a send and refused as the send ends (the body could not be kept):
// the window stays open without the closing notice, and a later send does not close it.
TEST(send, a_close_refused_as_the_send_ends_is_not_taken_up_later) {
  Sender s;
  s.d.Click("byteMode");  // the body is kept in temp.tmp
  s.Fill();
  s.d.Click("send");
  s.d.Click("exit");
  ASSERT_TRUE(s.d.Control("closingNotice")->isVisible());
  s.d.Type("body", u"more words"_s);
  {
    testing::FileSizeLimit full(8);
    s.Answer({});
  }
  EXPECT_TRUE(s.d.Form().isVisible());
  EXPECT_EQ(s.d.Messages().size(), 1u);  // the body not kept, said
  EXPECT_FALSE(s.d.Control("closingNotice")->isVisible());
  s.d.Click("send");
  s.Answer({});
  EXPECT_TRUE(s.d.Form().isVisible());
}

}  // namespace
}  // namespace kelmo

// The send button, through a MailTransport that records what it is handed and answers
// when the test says so; and through the Linux transport with a slow stand-in sendmail.
#include <gtest/gtest.h>

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
  MailTransport::Done pending;  // the outcome of the last send, not yet reported
};

class RecordingTransport : public MailTransport {
 public:
  explicit RecordingTransport(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}
  void send(const OutgoingMail& mail, Done done) override {
    m_journal->sent.push_back(mail);
    m_journal->pending = std::move(done);
  }

 private:
  std::shared_ptr<Journal> m_journal;
};

struct Sender {
  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  FormDriver d{std::make_unique<RecordingTransport>(journal)};

  void fill() {
    d.type("body", u"一行目\n二行目"_s);
    d.type("ownAddress", u"me@example.jp"_s);
    d.type("recipient", u"you@example.jp"_s);
    d.type("subject", u"件名"_s);
  }
  void answer(const Result<>& outcome) {
    ASSERT_TRUE(journal->pending);
    std::exchange(journal->pending, nullptr)(outcome);
  }
};

TEST(send, hands_over_the_fields_as_they_stand_at_the_click) {
  for (const bool compose : {false, true}) {
    Sender s;
    s.fill();
    if (compose) s.d.click("showCompose");
    s.d.click("send");
    ASSERT_EQ(s.journal->sent.size(), 1u);
    const OutgoingMail& mail = s.journal->sent.front();
    EXPECT_EQ(mail.recipient, u"you@example.jp"_s);
    EXPECT_EQ(mail.subject, u"件名"_s);
    EXPECT_EQ(mail.body, u"一行目\r\n二行目"_s);
    EXPECT_EQ(mail.showCompose, compose);

    // Edits while the mail program runs change the window, not the message on its way.
    s.d.type("body", u"x"_s);
    EXPECT_EQ(s.journal->sent.front().body, u"一行目\r\n二行目"_s);
    s.answer({});
    EXPECT_TRUE(s.d.messages().empty());
    // Said to a screen reader, which cannot see the button come back.
    QWidget* announcement = s.d.control("announcement");
    EXPECT_TRUE(announcement->isVisible());
    EXPECT_EQ(announcement->accessibleName(),
              compose ? u"メールソフトに渡しました"_s : u"送信しました"_s);
  }
}

TEST(send, one_send_at_a_time) {
  Sender s;
  s.fill();
  s.d.click("send");
  EXPECT_FALSE(s.d.control("send")->isEnabled());
  EXPECT_NE(QApplication::overrideCursor(), nullptr);
  s.d.click("send");  // a disabled button starts nothing
  EXPECT_EQ(s.journal->sent.size(), 1u);
  s.answer({});
  EXPECT_TRUE(s.d.control("send")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  s.d.click("send");
  EXPECT_EQ(s.journal->sent.size(), 2u);
  s.answer({});
}

TEST(send, a_failure_is_shown_and_the_window_and_text_stay) {
  Sender s;
  s.fill();
  const QString label = s.d.label();
  s.d.click("send");
  s.answer(Error(MailError::kTransportFailed, u"sendmail: failed"_s));
  ASSERT_EQ(s.d.messages().size(), 1u);
  const auto& box = s.d.messages().front();
  EXPECT_EQ(box.text, u"2010\rsendmail: failed"_s);
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.buttons, QMessageBox::Ok);
  EXPECT_EQ(box.title, u"Kelmo"_s);
  EXPECT_TRUE(s.d.form().isVisible());
  EXPECT_TRUE(s.d.control("send")->isEnabled());
  EXPECT_EQ(s.d.bodyText(), u"一行目\n二行目"_s);
  EXPECT_EQ(s.d.label(), label);
}

TEST(send, measuring_plays_no_part) {
  Sender s;
  s.fill();
  s.d.paste("body", QString(500, QLatin1Char('x')));
  ASSERT_NE(s.d.title(), u"Kelmo"_s);
  s.d.click("send");
  EXPECT_EQ(s.journal->sent.size(), 1u);
  s.answer({});
}

// The real transport with a sendmail that takes a while: the window keeps answering.
TEST(send, window_answers_while_a_slow_sendmail_runs) {
  testing::FakeMailPrograms fake;
  fake.setSleep("1.5");
  FormDriver d;
  d.type("recipient", u"you@example.jp"_s);
  d.type("body", u"hello"_s);
  testing::TickCounter ticks;
  QElapsedTimer clock;
  clock.start();
  d.click("send");
  EXPECT_LT(clock.elapsed(), 1000);  // the click returns before sendmail ends
  EXPECT_FALSE(d.control("send")->isEnabled());
  d.type("body", u" world"_s);  // editing goes on meanwhile
  d.click("send");
  ASSERT_TRUE(QTest::qWaitFor([&] { return d.control("send")->isEnabled(); }, 10000));
  EXPECT_GE(ticks.ticks(), 15);
  EXPECT_TRUE(d.messages().empty());
  EXPECT_EQ(fake.recorded("sendmail.runs"), "run\n");  // the second click started nothing
  EXPECT_EQ(fake.recorded("sendmail.argv"), "-t\n-i\n");
  const QByteArray message = fake.recorded("sendmail.stdin");
  EXPECT_TRUE(message.endsWith("\n\nhello\n")) << message.toStdString();
  EXPECT_EQ(d.bodyText(), u"hello world"_s);
}

// After a send, successful or not, the keyboard is where it was: no address is selected
// and the next keys go where they went before the click.
TEST(send, the_keyboard_stays_where_it_was) {
  for (const bool keyboard : {false, true}) {
    for (const bool success : {true, false}) {
      SCOPED_TRACE(std::string(keyboard ? "space on the button" : "mouse click") +
                   (success ? ", sent" : ", failed"));
      Sender s;
      s.fill();
      QWidget* send = s.d.control("send");
      if (keyboard) {
        send->setFocus(Qt::TabFocusReason);
        QTest::keyClick(send, Qt::Key_Space);
      } else {
        s.d.body()->setFocus();
        s.d.click("send");
      }
      ASSERT_EQ(s.journal->sent.size(), 1u);
      // While the button is disabled the keyboard waits in the body, never in an address.
      EXPECT_EQ(QApplication::focusWidget(), s.d.body());
      s.answer(success ? Result<>() : Result<>(Error(MailError::kTransportFailed, u"x"_s)));
      // The window's own focus; an error box in between had the keyboard for a while.
      s.d.form().activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(&s.d.form()));
      EXPECT_EQ(s.d.form().focusWidget(), keyboard ? send : s.d.body());
      for (const char* name : {"recipient", "ownAddress", "subject"}) {
        EXPECT_FALSE(s.d.control<QLineEdit>(name)->hasSelectedText()) << name;
      }
      QTest::keyClicks(s.d.form().focusWidget(), u"word"_s);
      EXPECT_EQ(s.d.lineText("recipient"), u"you@example.jp"_s);
      EXPECT_EQ(s.d.bodyText(), keyboard ? u"一行目\n二行目"_s : u"一行目\n二行目word"_s);
    }
  }
}

// Closing during a send waits for it: the window says so and closes when it is over, after
// showing a failure if there is one.
TEST(send, closing_during_a_send_waits_for_it) {
  for (const bool success : {true, false}) {
    SCOPED_TRACE(success ? "sent" : "failed");
    Sender s;
    s.fill();
    s.d.click("send");
    s.d.click("exit");
    EXPECT_TRUE(s.d.form().isVisible());
    EXPECT_TRUE(s.d.control("closingNotice")->isVisible());
    s.answer(success ? Result<>() : Result<>(Error(MailError::kTimedOut, u"late"_s)));
    EXPECT_FALSE(s.d.form().isVisible());
    EXPECT_EQ(s.d.messages().size(), success ? 0u : 1u);
  }
}

// The same with the real transport and a sendmail that takes a while: the mail arrives.
TEST(send, closing_during_a_slow_sendmail_lets_the_mail_go) {
  testing::FakeMailPrograms fake;
  fake.setSleep("1");
  FormDriver d;
  d.type("recipient", u"you@example.jp"_s);
  d.type("body", u"do not drop me"_s);
  d.click("send");
  QTest::qWait(200);
  d.form().close();
  EXPECT_TRUE(d.form().isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d.form().isVisible(); }, 10000));
  EXPECT_TRUE(fake.recorded("sendmail.stdin").endsWith("do not drop me\n"));
  EXPECT_TRUE(d.messages().empty());
}

// A mail client's launcher that fails after it was taken as opened: the failure is shown
// when it comes.
TEST(send, a_failure_after_the_compose_window_was_taken_as_open_is_shown) {
  Sender s;
  s.fill();
  s.d.click("showCompose");
  s.d.click("send");
  MailTransport::Done done = s.journal->pending;
  s.answer({});
  EXPECT_TRUE(s.d.control("send")->isEnabled());
  EXPECT_TRUE(s.d.messages().empty());
  // It may come while the next send runs: that one is still waited for.
  s.d.click("send");
  ASSERT_FALSE(s.d.control("send")->isEnabled());
  done(Error(MailError::kComposeFailed, u"xdg-email failed late"_s));
  ASSERT_EQ(s.d.messages().size(), 1u);
  EXPECT_EQ(s.d.messages().front().text, u"2009\rxdg-email failed late"_s);
  EXPECT_FALSE(s.d.control("send")->isEnabled());
  s.answer({});
  EXPECT_TRUE(s.d.control("send")->isEnabled());
}

}  // namespace
}  // namespace kelmo

// The send button, through a MailTransport that records what it is asked to do.
#include <gtest/gtest.h>

#include <memory>

#include "form_driver.h"

namespace kelmo {
namespace {

using testing::FormDriver;

struct Journal {
  QStringList calls;
  QString failAt;  // the operation that throws, if any
};

class RecordingTransport : public MailTransport {
 public:
  explicit RecordingTransport(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}

  void signOn() override { Record("signOn"); }
  qint32 sessionId() override {
    Record("sessionId");
    return 7;
  }
  void setSessionId(qint32 id) override { Record("setSessionId", QString::number(id)); }
  void compose() override { Record("compose"); }
  void setRecipientDisplayName(const QString& text) override {
    Record("setRecipientDisplayName", text);
  }
  void setRecipientAddress(const QString& text) override { Record("setRecipientAddress", text); }
  void setSubject(const QString& text) override { Record("setSubject", text); }
  void setNoteText(const QString& text) override { Record("setNoteText", text); }
  void send(bool showDialog) override { Record("send", showDialog ? "true" : "false"); }
  void signOff() override { Record("signOff"); }

 private:
  void Record(const char* operation, const QString& argument = QString()) {
    const QString name = QString::fromLatin1(operation);
    m_journal->calls << (argument.isNull() ? name : name + QLatin1Char(':') + argument);
    if (name == m_journal->failAt)
      throw MailError(400 + int(m_journal->calls.size()), "failed: " + name);
  }
  std::shared_ptr<Journal> m_journal;
};

struct Sender {
  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  FormDriver d{std::make_unique<RecordingTransport>(journal)};

  void fill() {
    d.type("Text1", u"一行目\n二行目"_qs);
    d.type("Text2", "me@example.jp");
    d.type("Text3", "you@example.jp");
    d.type("Text4", u"件名"_qs);
  }
};

const QStringList kFullSend = {
    "signOn",
    "sessionId",
    "setSessionId:7",
    "compose",
    "setRecipientDisplayName:you@example.jp",
    "setRecipientAddress:you@example.jp",
    u"setSubject:件名"_qs,
    u"setNoteText:一行目\r\n二行目"_qs,
    "send:false",
    "signOff",
};

TEST(send, hands_the_fields_over_in_order) {
  Sender s;
  s.fill();
  s.d.click("Command5");
  EXPECT_EQ(s.journal->calls, kFullSend);
  EXPECT_TRUE(s.d.messages().empty());
}

TEST(send, confirmation_box_asks_for_the_compose_window) {
  Sender s;
  s.fill();
  s.d.click("Ch1");
  s.d.click("Command5");
  ASSERT_EQ(s.journal->calls.size(), kFullSend.size());
  EXPECT_EQ(s.journal->calls[8], "send:true");
}

TEST(send, a_failing_step_stops_the_send_and_signs_off) {
  for (qsizetype failing = 0; failing < kFullSend.size(); ++failing) {
    Sender s;
    s.fill();
    const QString operation = kFullSend[failing].section(':', 0, 0);
    s.journal->failAt = operation;
    const QString label = s.d.label();
    s.d.click("Command5");
    SCOPED_TRACE(operation.toStdString());

    QStringList expected = kFullSend.mid(0, failing + 1);
    // Sign-off follows any failure after sign-on; nothing follows a failed sign-on.
    if (operation != "signOn" && operation != "signOff") expected << "signOff";
    EXPECT_EQ(s.journal->calls, expected);

    ASSERT_EQ(s.d.messages().size(), 1u);
    const auto& box = s.d.messages().front();
    EXPECT_EQ(box.text, QString::number(400 + failing + 1) + "\rfailed: " + operation);
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::Ok);
    EXPECT_EQ(box.title, "Kelmo");

    EXPECT_TRUE(s.d.form().isVisible());
    EXPECT_EQ(s.d.bodyText(), u"一行目\n二行目"_qs);
    EXPECT_EQ(s.d.lineText("Text3"), "you@example.jp");
    EXPECT_EQ(s.d.label(), label);
  }
}

TEST(send, unusable_recipient_is_refused_before_anything_runs) {
  struct Row {
    const char* name;
    QString recipient;
    int number;
  };
  for (const Row& row : {Row{"empty", "", kNoRecipient}, Row{"blank", "   ", kNoRecipient},
                         Row{"line_break", "you@x.jp\r\nBcc: evil@x.jp", kBadRecipient}}) {
    Sender s;
    s.d.control<QLineEdit>("Text3")->setText(row.recipient);
    s.d.click("Command5");
    EXPECT_TRUE(s.journal->calls.isEmpty()) << row.name;
    ASSERT_EQ(s.d.messages().size(), 1u) << row.name;
    EXPECT_TRUE(s.d.messages().front().text.startsWith(QString::number(row.number) + "\r"))
        << row.name;
  }
}

TEST(send, measuring_plays_no_part) {
  Sender s;
  s.fill();
  s.d.paste("Text1", QString(500, QLatin1Char('x')));
  ASSERT_NE(s.d.title(), "Kelmo");
  s.d.click("Command5");
  EXPECT_EQ(s.journal->calls.size(), kFullSend.size());
}

}  // namespace
}  // namespace kelmo

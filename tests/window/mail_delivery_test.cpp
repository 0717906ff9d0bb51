// End to end: the window hands its message to Debian's msmtp as sendmail, which delivers
// it over SMTP to a local aiosmtpd sink; Python's email package reads back what arrived.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QProcess>
#include <chrono>

#include "codec/line_breaks.h"
#include "form_driver.h"
#include "window/parts_send.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using namespace std::chrono_literals;
using testing::FormDriver;

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("no free loopback port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// Waits with the event loop running: the window talks to sendmail through it.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
  return QTest::qWaitFor(condition, static_cast<int>(limit.count()));
}

// An SMTP sink on a loopback port storing into a maildir, and msmtp as the sendmail on PATH.
class MailSink {
 public:
  MailSink() : m_port(FreeLoopbackPort()), m_savedPath(qgetenv("PATH")) {
    const QString maildir = m_dir.filePath(u"maildir"_s);
    m_server.setProcessChannelMode(QProcess::ForwardedChannels);
    m_server.start(QStringLiteral(KELMO_TEST_PYTHON),
                   {u"-m"_s, u"aiosmtpd"_s, u"-n"_s, u"-l"_s, u"127.0.0.1:%1"_s.arg(m_port),
                    u"-c"_s, u"aiosmtpd.handlers.Mailbox"_s, maildir});
    if (!m_server.waitForStarted() || !WaitFor([this] { return Accepts(m_port); }, 15s)) {
      throw std::runtime_error("the SMTP sink did not start (is python3-aiosmtpd installed?)");
    }
    const QString config = m_dir.filePath(u"msmtprc"_s);
    testing::WriteAll(config, QStringLiteral("defaults\nauth off\ntls off\n"
                                             "account default\nhost 127.0.0.1\nport %1\n"
                                             "from kelmo-test@example.jp\n")
                                  .arg(m_port)
                                  .toUtf8());
    QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString sendmail = m_dir.filePath(u"bin/sendmail"_s);
    QDir(m_dir.path()).mkdir(u"bin"_s);
    testing::WriteAll(
        sendmail, (u"#!/bin/sh\nexec /usr/bin/msmtp -C '"_s + config + u"' \"$@\"\n"_s).toUtf8());
    QFile::setPermissions(sendmail, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    qputenv("PATH", m_dir.filePath(u"bin"_s).toLocal8Bit());
  }
  ~MailSink() {
    qputenv("PATH", m_savedPath);
    m_server.terminate();  // stopped by its pid
    if (!m_server.waitForFinished(5000)) {
      m_server.kill();
      m_server.waitForFinished(5000);
    }
  }

  // The one message that arrived since the last call, decoded.
  QJsonObject Take() {
    const QDir inbox(m_dir.filePath(u"maildir/new"_s));
    if (!WaitFor([&] { return !inbox.entryList(QDir::Files).isEmpty(); }, 15s)) return {};
    const QString file = inbox.filePath(inbox.entryList(QDir::Files).first());
    QProcess decode;
    decode.start(QStringLiteral(KELMO_TEST_PYTHON),
                 {QStringLiteral(KELMO_TEST_SUPPORT_DIR "/decode_mail.py"), file});
    decode.waitForFinished(15000);
    QFile::remove(file);
    return QJsonDocument::fromJson(decode.readAllStandardOutput()).object();
  }

  // The `count` messages that arrived since the last call, as one message in parts joined
  // back by join_parts.py.
  QJsonObject JoinAll(int count) {
    const QDir inbox(m_dir.filePath(u"maildir/new"_s));
    if (!WaitFor([&] { return inbox.entryList(QDir::Files).size() >= count; }, 30s)) return {};
    QStringList files;
    for (const QString& name : inbox.entryList(QDir::Files)) files << inbox.filePath(name);
    QProcess join;
    join.start(u"/usr/bin/python3"_s,
               QStringList{QStringLiteral(KELMO_TEST_SUPPORT_DIR "/join_parts.py")} + files);
    join.waitForFinished(15000);
    for (const QString& file : files) QFile::remove(file);
    return QJsonDocument::fromJson(join.readAllStandardOutput()).object();
  }

 private:
  QTemporaryDir m_dir;
  int m_port;
  QByteArray m_savedPath;
  QProcess m_server;
};

TEST(mail_delivery, messages_arrive_exactly_as_typed) {
  struct Row {
    const char* name;
    QString subject;
    QString body;
    const char* charset;
  };
  const Row rows[] = {
      {"plain_japanese", u"会議の件"_s, u"明日は三時からです。\n資料をお願いします。"_s,
       "iso-2022-jp"},
      {"halfwidth_katakana_and_emoji", u"ｶﾀｶﾅ\U0001F600"_s, u"ﾊﾝｶｸ\U0001F389です\nok"_s, "utf-8"},
      {"subject_that_folds", QString(u"とても長い件名になってしまいました"_s).repeated(5),
       u"本文"_s, "iso-2022-jp"},
      {"single_dot_line", u"点"_s, u"前\n.\n後\n"_s, "iso-2022-jp"},
  };
  MailSink sink;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FormDriver d;
    d.Type("recipient", u"you@example.jp"_s);
    d.Control<QLineEdit>("subject")->setText(row.subject);
    d.Paste("body", row.body);
    d.Click("send");
    const QJsonObject mail = sink.Take();
    ASSERT_TRUE(WaitFor([&] { return !d.Sending(); }, 15s));
    ASSERT_TRUE(d.Messages().empty()) << d.Messages().front().text.toStdString();
    ASSERT_FALSE(mail.isEmpty()) << "nothing arrived";
    EXPECT_EQ(mail[u"rcpt"_s].toString(), u"you@example.jp"_s);
    EXPECT_EQ(mail[u"to"_s].toString(), u"you@example.jp"_s);
    EXPECT_EQ(mail[u"subject"_s].toString(), row.subject);
    EXPECT_EQ(mail[u"charset"_s].toString(), QLatin1String(row.charset));
    QString body = mail[u"body"_s].toString().replace(u"\r\n"_s, u"\n"_s);
    // A 7bit body ends with the line break that ends its last line.
    if (mail[u"encoding"_s].toString() == u"7bit"_s && body.endsWith(u'\n')) body.chop(1);
    EXPECT_EQ(body, row.body);
  }
}

// Whether `shares`, in order, give back `body`, where at most the one line break at each
// cut may be missing.
bool JoinsBack(const QString& body, const QStringList& shares) {
  qsizetype at = 0;
  for (qsizetype k = 0; k < shares.size(); ++k) {
    if (k > 0 && !QStringView(body).mid(at).startsWith(shares[k]) &&
        QStringView(body).mid(at).startsWith(u'\n')) {
      ++at;  // the line break the cut was made at
    }
    if (!QStringView(body).mid(at).startsWith(shares[k])) return false;
    at += shares[k].size();
  }
  return at == body.size();
}

// A message past the limit, sent in parts through msmtp: a mail per part arrives, each in
// the charset its own text needs, and joined in order the parts give back the body.
TEST(mail_delivery, parts_arrive_and_join_back_into_the_body) {
  const QString line = u"今日の会議は三時からです。資料を忘れずにお持ちください。"_s;
  const QString body = (line + u"\n"_s).repeated(12) + u"最後に一言😀ok"_s;
  MailSink sink;
  FormDriver d;
  d.Type("recipient", u"you@example.jp"_s);
  d.Paste("ownAddress", u"me@example.jp"_s);
  d.Control<QLineEdit>("subject")->setText(u"会議"_s);
  d.Paste("body", body);
  const auto parts = SplitMessage(WithCrLf(View(d.BodyText())), u"me@example.jp", u"会議");
  ASSERT_TRUE(parts.has_value());
  const int count = static_cast<int>(parts->size());
  ASSERT_GE(count, 3);
  QTest::keyClick(d.Body(), Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
  auto* partsSend = d.Form().findChild<PartsSend*>();
  ASSERT_TRUE(WaitFor([&] { return partsSend->Dialog() != nullptr; }, 5s));
  QTest::keyClick(partsSend->Dialog()->findChild<QListWidget*>(), Qt::Key_Return);
  const QJsonObject joined = sink.JoinAll(count);
  ASSERT_TRUE(WaitFor([&] { return !d.Sending(); }, 30s));
  ASSERT_FALSE(joined.isEmpty()) << "not every part arrived";
  EXPECT_EQ(joined[u"counts"_s].toArray(), QJsonArray({count}));
  QJsonArray numbers;
  for (int k = 1; k <= count; ++k) numbers.append(k);
  EXPECT_EQ(joined[u"numbers"_s].toArray(), numbers);
  QStringList shares;
  for (const QJsonValue share : joined[u"shares"_s].toArray()) shares << share.toString();
  EXPECT_TRUE(JoinsBack(body, shares)) << shares.join(u"|"_s).toStdString();
  // Decided per part: only the last one's emoji needs UTF-8.
  const QJsonArray charsets = joined[u"charsets"_s].toArray();
  for (int k = 0; k < count; ++k) {
    EXPECT_EQ(charsets[k].toString(), k + 1 < count ? u"iso-2022-jp"_s : u"utf-8"_s) << k;
  }
  ASSERT_EQ(d.Messages().size(), 1u);
  EXPECT_EQ(d.Messages().front().text, u"%1通のメールを送信しました。"_s.arg(count));
}

}  // namespace
}  // namespace kelmo

#include "mail/compose_transport.h"
#include "mail/sendmail_transport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>

#include "support/fake_programs.h"
#include "support/sandbox.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using namespace std::chrono_literals;
using testing::FakeMailPrograms;

// The numbers as the window shows them.
constexpr int kBadRecipient = static_cast<int>(MailError::kBadRecipient);
constexpr int kCommandLineTooLong = static_cast<int>(MailError::kCommandLineTooLong);
constexpr int kComposeFailed = static_cast<int>(MailError::kComposeFailed);
constexpr int kInputNotRead = static_cast<int>(MailError::kInputNotRead);
constexpr int kNoMailSystem = static_cast<int>(MailError::kNoMailSystem);
constexpr int kNoRecipient = static_cast<int>(MailError::kNoRecipient);
constexpr int kProgramMissing = static_cast<int>(MailError::kProgramMissing);
constexpr int kTimedOut = static_cast<int>(MailError::kTimedOut);
constexpr int kTransportFailed = static_cast<int>(MailError::kTransportFailed);

// The Linux mail system's two ways, as the window chooses between them by its 送信確認
// box: the compose window's launcher and sendmail, each with its time limit.
struct Timeouts {
  std::chrono::milliseconds launcher = ComposeTransport::kLauncherTimeout;
  std::chrono::milliseconds transport = SendmailTransport::kTimeout;
};
struct TestMail {
  QString recipient;
  QString subject;
  QString body;
  bool compose = false;
};
class SystemMail {
 public:
  SystemMail() : SystemMail(Timeouts{}) {}
  explicit SystemMail(Timeouts timeouts)
      : m_compose(timeouts.launcher), m_sendmail(timeouts.transport) {}
  void Send(const TestMail& mail, MailTransport::Done done) {
    MailTransport& way = mail.compose ? static_cast<MailTransport&>(m_compose) : m_sendmail;
    way.Send({mail.recipient, mail.subject, mail.body}, std::move(done));
  }

 private:
  ComposeTransport m_compose;
  SendmailTransport m_sendmail;
};

// For stand-ins that hang: the limits are what the test waits for.
Timeouts Short() { return {300ms, 500ms}; }
// For stand-ins that exit at once: limits far above a loaded machine's start-up time, so an
// exit status is never mistaken for a launcher left running or a sendmail that hung.
Timeouts Patient() { return {5s, 10s}; }

// Whether the process `pid` (decimal) has ended: gone, or killed and a zombie until whoever
// inherited it reaps it.
bool Ended(const QByteArray& pid) {
  if (pid.isEmpty()) return false;
  QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
  if (!stat.open(QIODevice::ReadOnly)) return true;
  const QByteArray fields = stat.readAll();
  return fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z";
}

// Sends and runs the event loop until the outcome arrives: nothing, or the error.
std::optional<Error> Send(SystemMail& t, const QString& to, const QString& subject,
                          const QString& body, bool compose) {
  bool arrived = false;
  std::optional<Error> outcome;
  t.Send({to, subject, body, compose}, [&](const Result<>& sent) {
    EXPECT_FALSE(arrived) << "outcome reported twice";
    arrived = true;
    if (!sent) outcome = sent.error();
  });
  // A real event loop: QTest::qWaitFor sleeps between its rounds, which would throttle
  // reading a program's output to a pipe's worth every 10 ms.
  if (!arrived) {
    QEventLoop loop;
    QTimer::singleShot(35000, &loop, &QEventLoop::quit);  // past every time limit used here
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
      if (arrived) loop.quit();
    });
    check.start(5);
    loop.exec();
  }
  EXPECT_TRUE(arrived) << "no outcome";
  return outcome;
}

Error SendError(SystemMail& t, bool compose, const QString& body = u"body"_s) {
  if (auto error = Send(t, u"you@example.jp"_s, u"subject"_s, body, compose)) return *error;
  ADD_FAILURE() << "no error";
  return {};
}

TEST(system_transport, direct_send_pipes_the_message_to_sendmail) {
  FakeMailPrograms fake;
  SystemMail transport(Patient());
  EXPECT_EQ(Send(transport, u"you@example.jp"_s, u"件名"_s, u"一行目\r\n二行目"_s, false),
            std::nullopt);
  EXPECT_EQ(fake.Recorded("sendmail.argv"), "-t\n-i\n");
  const QByteArray message = fake.Recorded("sendmail.stdin");
  EXPECT_TRUE(message.startsWith("To: you@example.jp\nSubject: =?ISO-2022-JP?B?"));
  EXPECT_TRUE(message.contains("\nDate: "));
  EXPECT_FALSE(message.contains("From:"));
  EXPECT_FALSE(message.contains('\r'));
  EXPECT_TRUE(message.endsWith("\n\n\x1b$B0l9TL\\\x1b(B\n\x1b$BFs9TL\\\x1b(B\n"));
  EXPECT_FALSE(fake.Ran("xdg-email"));
}

TEST(system_transport, sendmail_failures_carry_status_meaning_and_stderr) {
  struct Row {
    int code;
    const char* meaning;
  };
  for (const Row row : {Row{75, "EX_TEMPFAIL"}, Row{78, "EX_CONFIG"}, Row{1, "sendmail"}}) {
    SCOPED_TRACE(row.meaning);
    FakeMailPrograms fake;
    fake.SetExit(row.code);
    fake.SetStderr("msmtp: cannot connect to smtp.example.jp");
    SystemMail transport(Patient());
    const Error error = SendError(transport, false);
    // Our own number, never the exit status, which could read as an errno.
    EXPECT_EQ(error.number, kTransportFailed);
    EXPECT_TRUE(error.description.contains(QStringLiteral("(終了コード %1)").arg(row.code)));
    EXPECT_TRUE(error.description.contains(QLatin1String(row.meaning))) << row.code;
    EXPECT_TRUE(error.description.contains(u"cannot connect to smtp.example.jp"_s)) << row.code;
  }
}

TEST(system_transport, hanging_sendmail_is_stopped_and_reported) {
  FakeMailPrograms fake;
  fake.SetHang(true);
  SystemMail transport(Short());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendError(transport, false).number, kTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// A sendmail that works against us: the outcome comes, promptly, without a crash, and
// this process does not swallow what the program pours out.
TEST(system_transport, misbehaving_sendmail) {
  struct Row {
    const char* name;
    const char* misbehaviour;
    int exitCode;
    std::optional<int> number;  // nothing: a success
    const char* mentions;
  };
  const Row rows[] = {
      // Exits at once, as if it had sent, without reading a 4 MiB message.
      {"exits_without_reading", "no-read", 0, kInputNotRead, "読まず"},
      // Reads, exits, and leaves a child with its output open.
      {"leaves_a_child_behind", "background", 0, std::nullopt, ""},
      // 300 MB on standard error: only its end is kept and shown.
      {"floods_standard_error", "flood", 1, kTransportFailed, "the end"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeMailPrograms fake;
    fake.SetMisbehaviour(row.misbehaviour);
    fake.SetExit(row.exitCode);
    // The product's own time limit: 300 MB take a while on a loaded machine.
    SystemMail transport({5s, 30s});
    const long peakBefore = testing::ProcessMemoryKiB("VmHWM");
    QElapsedTimer clock;
    clock.start();
    const auto outcome = Send(transport, u"you@example.jp"_s, u"subject"_s,
                              QString(4 << 20, QLatin1Char('a')), false);
    EXPECT_LT(clock.elapsed(), 25000);
#if !defined(__SANITIZE_ADDRESS__)  // freed memory waits in the sanitizer's quarantine
    EXPECT_LT(testing::ProcessMemoryKiB("VmHWM") - peakBefore, 64 * 1024) << ": memory grew";
#else
    (void)peakBefore;
#endif
    EXPECT_EQ(outcome.has_value(), row.number.has_value());
    if (outcome && row.number) {
      EXPECT_EQ(outcome->number, *row.number);
      EXPECT_TRUE(outcome->description.contains(QString::fromUtf8(row.mentions)))
          << outcome->description.left(300).toStdString();
      EXPECT_LT(outcome->description.size(), 2000);
    }
  }
}

TEST(system_transport, dialog_send_passes_one_mailto_url_to_xdg_email) {
  FakeMailPrograms fake;
  SystemMail transport(Patient());
  const QString body = u"1行目 a&b=c+d%e\\f\r\n\r\n.\r\n最後"_s;
  EXPECT_EQ(Send(transport, u"you+tag@example.jp"_s, u"件名 & more"_s, body, true), std::nullopt);
  const QList<QByteArray> argv = fake.Recorded("xdg-email.argv").split('\n');
  ASSERT_GE(argv.size(), 2);
  EXPECT_EQ(argv[0], "1");  // one argument, no --subject or --body
  const QByteArray& url = argv[1];
  EXPECT_TRUE(url.startsWith("mailto:you+tag@example.jp?subject=")) << url.toStdString();
  EXPECT_TRUE(url.contains("%0D%0A%0D%0A.%0D%0A")) << url.toStdString();
  EXPECT_FALSE(url.contains(' '));
  // Decoded, the fields are exactly what was typed.
  const QUrl parsed(QString::fromLatin1(url));
  const QString query = parsed.query(QUrl::FullyEncoded);
  const QString subject = query.section(u'&', 0, 0).mid(8);
  const QString encodedBody = query.section(u'&', 1).mid(5);
  EXPECT_EQ(QUrl::fromPercentEncoding(subject.toLatin1()), u"件名 & more"_s);
  EXPECT_EQ(QUrl::fromPercentEncoding(encodedBody.toLatin1()), body);
  EXPECT_FALSE(fake.Ran("sendmail"));
}

TEST(system_transport, xdg_email_exit_codes_become_clear_errors) {
  for (int code = 1; code <= 5; ++code) {
    FakeMailPrograms fake;
    fake.SetExit(code);
    SystemMail transport(Patient());
    const Error error = SendError(transport, true);
    EXPECT_EQ(error.number, kComposeFailed);
    EXPECT_TRUE(error.description.contains(QStringLiteral("(終了コード %1)").arg(code)));
  }
  FakeMailPrograms fake;
  fake.SetExit(3);
  SystemMail transport(Patient());
  EXPECT_TRUE(SendError(transport, true).description.contains(u"メールソフトが見つかりません"_s));
}

TEST(system_transport, launcher_that_stays_with_its_client_counts_as_opened) {
  FakeMailPrograms fake;
  fake.SetHang(true);
  SystemMail transport(Short());
  EXPECT_EQ(Send(transport, u"you@example.jp"_s, u"s"_s, u"b"_s, true), std::nullopt);
}

// A launcher taken as opened that fails later is still reported; one that succeeds later
// is not reported again.
TEST(system_transport, launcher_failing_after_it_was_taken_as_opened_is_reported) {
  for (const int code : {4, 0}) {
    SCOPED_TRACE(code);
    FakeMailPrograms fake;
    fake.SetSleep("1");
    fake.SetExit(code);
    SystemMail transport({300ms, 10s});
    std::vector<std::optional<int>> reports;  // each report: the number, or nothing on success
    transport.Send({u"you@example.jp"_s, u"s"_s, u"b"_s, true}, [&](const Result<>& sent) {
      reports.push_back(sent ? std::nullopt : std::optional<int>(sent.error().number));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reports.empty(); }, 5000));
    EXPECT_EQ(reports.front(), std::nullopt);
    QTest::qWait(2500);  // past the launcher's end
    if (code == 0) {
      EXPECT_EQ(reports.size(), 1u);
    } else {
      ASSERT_EQ(reports.size(), 2u);
      EXPECT_EQ(reports[1], kComposeFailed);
    }
  }
}

// What a hanging sendmail started is stopped with it at the time limit: in its process
// group, in a session of its own, and with its parent gone.
TEST(system_transport, hanging_sendmail_is_stopped_with_its_children) {
  for (const char* misbehaviour :
       {"hang-with-child", "hang-with-session-child", "hang-with-orphan"}) {
    SCOPED_TRACE(misbehaviour);
    FakeMailPrograms fake;
    fake.SetMisbehaviour(misbehaviour);
    SystemMail transport(Short());
    // By the time the timeout is reported (a message box may then wait), sendmail and what
    // it started are gone.
    bool goneAtReport = false;
    bool childGoneAtReport = false;
    std::optional<int> number;
    transport.Send({u"you@example.jp"_s, u"s"_s, u"b"_s, false}, [&](const Result<>& sent) {
      goneAtReport = Ended(fake.Recorded("sendmail.pid").trimmed());
      childGoneAtReport = Ended(fake.Recorded("child.pid").trimmed());
      number = sent ? 0 : sent.error().number;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return number.has_value(); }, 10000));
    EXPECT_EQ(number, kTimedOut);
    EXPECT_TRUE(goneAtReport);
    ASSERT_FALSE(fake.Recorded("child.pid").trimmed().isEmpty());
    EXPECT_TRUE(childGoneAtReport);
  }
}

// Whether no other process shares this one's process group: one that does (a pipe's
// other end when the tests run in a shell pipeline) would take a signal sent to it.
bool AloneInProcessGroup() {
  const pid_t group = ::getpgrp();
  for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
    bool isPid = false;
    const int pid = entry.toInt(&isPid);
    if (!isPid || pid == ::getpid()) continue;
    QFile stat(u"/proc/%1/stat"_s.arg(entry));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray fields = stat.readAll();
    // After "pid (name) ": the state, the parent and the group.
    const QList<QByteArray> rest = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
    if (rest.size() > 2 && rest[2].toInt() == group) return false;
  }
  return true;
}

// For the scope of this object the test process leads a process group of its own, as
// Kelmo started from a shell does, so that a signal sent to the group reaches no program
// that started the tests.
class OwnProcessGroup {
 public:
  OwnProcessGroup() : m_previous(::getpgrp()) {
    if (m_previous != ::getpid()) m_ok = ::setpgid(0, 0) == 0;
  }
  ~OwnProcessGroup() {
    if (m_previous != ::getpid()) (void)::setpgid(0, m_previous);
  }
  OwnProcessGroup(const OwnProcessGroup&) = delete;
  OwnProcessGroup& operator=(const OwnProcessGroup&) = delete;
  bool Ok() const { return m_ok && AloneInProcessGroup(); }

 private:
  pid_t m_previous;
  bool m_ok = true;
};

volatile std::sig_atomic_t g_caught = 0;

// Catches `signal` for the scope of this object, as Kelmo's window does: a handler, which
// exec resets to the default in a child, unlike an ignored signal.
class CaughtSignal {
 public:
  explicit CaughtSignal(int signal) : m_signal(signal) {
    g_caught = 0;
    struct sigaction action {};
    action.sa_handler = [](int) { g_caught = 1; };
    action.sa_flags = SA_RESTART;
    ::sigaction(m_signal, &action, &m_saved);
  }
  ~CaughtSignal() { ::sigaction(m_signal, &m_saved, nullptr); }
  CaughtSignal(const CaughtSignal&) = delete;
  CaughtSignal& operator=(const CaughtSignal&) = delete;

 private:
  int m_signal;
  struct sigaction m_saved {};
};

// Ctrl+C or Ctrl+\ in the terminal that started Kelmo goes to its process group while the
// launcher for 送信確認 runs: the launcher, and the mail client it would start with the
// compose window, carry on, and the send is reported as done.
TEST(system_transport, terminal_interrupt_leaves_the_launcher_running) {
  for (const int signal : {SIGINT, SIGQUIT}) {
    SCOPED_TRACE(::strsignal(signal));
    OwnProcessGroup group;
    if (!group.Ok()) GTEST_SKIP() << "another program shares this process group";
    const CaughtSignal caught(signal);
    FakeMailPrograms fake;
    fake.SetSleep("1");
    SystemMail transport(Patient());
    bool arrived = false;
    std::optional<Error> outcome;
    transport.Send({u"you@example.jp"_s, u"s"_s, u"b"_s, true}, [&](const Result<>& sent) {
      arrived = true;
      if (!sent) outcome = sent.error();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.Recorded("xdg-email.pid").isEmpty(); }, 5000));
    ASSERT_EQ(::kill(-::getpgrp(), signal), 0);  // as the terminal sends it
    ASSERT_TRUE(QTest::qWaitFor([&] { return arrived; }, 10000));
    EXPECT_EQ(g_caught, 1);
    EXPECT_FALSE(outcome) << outcome->description.toStdString();
    EXPECT_EQ(fake.Recorded("xdg-email.exit").trimmed(), "0");  // it ran to its end
  }
}

TEST(system_transport, body_too_long_for_a_command_line_is_refused_before_running) {
  FakeMailPrograms fake;
  SystemMail transport(Patient());
  const Error error = SendError(transport, true, QString(20000, QChar(u'あ')));
  EXPECT_EQ(error.number, kCommandLineTooLong);
  EXPECT_FALSE(fake.Ran("xdg-email"));
}

TEST(system_transport, missing_programs_are_reported) {
  FakeMailPrograms fake;
  fake.Remove("xdg-email");
  SystemMail transport(Patient());
  EXPECT_EQ(SendError(transport, true).number, kProgramMissing);
  EXPECT_EQ(Send(transport, u"you@example.jp"_s, u"s"_s, u"b"_s, false),
            std::nullopt);  // sendmail still there

  if (QFile::exists(u"/usr/sbin/sendmail"_s) || QFile::exists(u"/usr/lib/sendmail"_s)) {
    GTEST_SKIP() << "this machine has a system sendmail";
  }
  fake.Remove("sendmail");
  EXPECT_EQ(SendError(transport, false).number, kNoMailSystem);
}

// Each way runs its own program and never the other's: the window's choice is the way
// it picks, nothing inside a transport.
TEST(system_transport, each_way_runs_only_its_program) {
  const struct {
    const char* name;
    bool compose;
    const char* runs;
    const char* never;
  } rows[] = {{"sendmail", false, "sendmail", "xdg-email"},
              {"compose", true, "xdg-email", "sendmail"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeMailPrograms fake;
    SystemMail transport(Patient());
    EXPECT_EQ(Send(transport, u"you@example.jp"_s, u"s"_s, u"b"_s, row.compose), std::nullopt);
    EXPECT_TRUE(fake.Ran(row.runs));
    EXPECT_FALSE(fake.Ran(row.never));
  }
}

TEST(system_transport, sending_does_not_block_the_event_loop) {
  FakeMailPrograms fake;
  fake.SetHang(true);
  SystemMail transport({300ms, 1500ms});
  testing::TickCounter ticks;
  QElapsedTimer clock;
  clock.start();
  bool arrived = false;
  transport.Send({u"you@example.jp"_s, u"s"_s, u"b"_s, false},
                 [&](const auto&) { arrived = true; });
  EXPECT_LT(clock.elapsed(), 500);  // Send() itself returns at once
  EXPECT_FALSE(arrived);
  ASSERT_TRUE(QTest::qWaitFor([&] { return arrived; }, 10000));
  EXPECT_GE(ticks.Ticks(), 10);  // the timer kept firing while sendmail ran
}

TEST(system_transport, destroying_the_transport_stops_the_program_and_reports_nothing) {
  FakeMailPrograms fake;
  fake.SetHang(true);
  bool reported = false;
  {
    SystemMail transport;
    transport.Send({u"you@example.jp"_s, u"s"_s, u"b"_s, false},
                   [&](const auto&) { reported = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.Ran("sendmail"); }, 10000));
  }
  EXPECT_FALSE(reported);
  // The stand-in exec'd sleep in its own process: it is gone, not left running or a zombie.
  const QByteArray pid = fake.Recorded("sendmail.pid").trimmed();
  ASSERT_FALSE(pid.isEmpty());
  EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1").arg(QString::fromLatin1(pid))));
}

TEST(system_transport, unusable_recipients_are_refused_before_anything_runs) {
  FakeMailPrograms fake;
  SystemMail transport(Patient());
  for (const QString& recipient :
       {QString(), u"   "_s, u"you@x.jp\r\nBcc: evil@x.jp"_s, u"あなた@x.jp"_s}) {
    const auto error = Send(transport, recipient, u"s"_s, u"b"_s, false);
    ASSERT_TRUE(error.has_value()) << recipient.toStdString();
    EXPECT_TRUE(error->number == kNoRecipient || error->number == kBadRecipient)
        << recipient.toStdString();
  }
  EXPECT_FALSE(fake.Ran("sendmail"));
}

// Whatever a paste leaves in the fields, what the mail programs get has no header line
// and no URL parameter of its own, and no argument that reads as an option.
TEST(system_transport, hostile_fields_add_no_header_parameter_or_option) {
  struct Row {
    const char* name;
    QString recipient;
    QString subject;
    bool refused;  // the recipient is refused with kBadRecipient before anything runs
  };
  const Row rows[] = {
      {"recipient_like_an_option", u"-oQ/tmp/x@example.jp"_s, u"s"_s, false},
      {"recipient_with_url_parameters", u"you@example.jp?bcc=evil@x.jp&cc=a@b.jp"_s, u"s"_s, true},
      {"subject_with_crlf_header", u"you@example.jp"_s, u"hi\r\nBcc: evil@x.jp"_s, false},
      {"subject_with_lone_cr", u"you@example.jp"_s, u"hi\rBcc: evil@x.jp"_s, false},
      {"subject_with_line_separator", u"you@example.jp"_s, u"hi\u2028Bcc: evil@x.jp"_s, false},
      {"subject_with_url_parameter", u"you@example.jp"_s, u"&bcc=evil@x.jp"_s, false},
      {"subject_with_controls", u"you@example.jp"_s, QString::fromLatin1("a\0b\x1b[31mc", 9),
       false},
      {"recipient_with_crlf", u"you@example.jp\r\nBcc: evil@x.jp"_s, u"s"_s, true},
      {"recipient_with_lone_cr", u"you@example.jp\rBcc: evil@x.jp"_s, u"s"_s, true},
      {"recipient_with_next_line", u"you@example.jp\u0085Bcc: evil@x.jp"_s, u"s"_s, true},
      {"recipient_with_line_separator", u"you@example.jp\u2028Bcc: evil@x.jp"_s, u"s"_s, true},
      {"recipient_with_tab", u"you@example.jp\tBcc"_s, u"s"_s, true},
      {"recipient_with_nul", QString::fromLatin1("you@example.jp\0x", 16), u"s"_s, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const bool compose : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (compose ? " (compose)" : " (sendmail)"));
      FakeMailPrograms fake;
      SystemMail transport(Patient());
      const auto outcome = Send(transport, row.recipient, row.subject, u"body"_s, compose);
      if (row.refused) {
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->number, kBadRecipient);
        EXPECT_FALSE(fake.Ran("sendmail") || fake.Ran("xdg-email"));
        continue;
      }
      ASSERT_EQ(outcome, std::nullopt);
      if (compose) {
        const QList<QByteArray> argv = fake.Recorded("xdg-email.argv").split('\n');
        ASSERT_GE(argv.size(), 2);
        EXPECT_EQ(argv[0], "1");
        EXPECT_TRUE(argv[1].startsWith("mailto:"));
        const QUrl url(QString::fromLatin1(argv[1]));
        QStringList keys;
        for (const QString& pair : url.query(QUrl::FullyEncoded).split(u'&')) {
          keys << pair.section(u'=', 0, 0);
        }
        EXPECT_EQ(keys, QStringList({u"subject"_s, u"body"_s})) << argv[1].toStdString();
      } else {
        EXPECT_EQ(fake.Recorded("sendmail.argv"), "-t\n-i\n");
        const QByteArray message = fake.Recorded("sendmail.stdin");
        const QByteArray headers = message.left(message.indexOf("\n\n"));
        for (const QByteArray& line : headers.split('\n')) {
          const bool continuation = line.startsWith(' ') || line.startsWith('\t');
          const QByteArray name = line.left(line.indexOf(':'));
          EXPECT_TRUE(continuation ||
                      QList<QByteArray>({"To", "Subject", "Date", "MIME-Version", "Content-Type",
                                         "Content-Transfer-Encoding"})
                          .contains(name))
              << line.toStdString();
        }
        EXPECT_FALSE(headers.contains('\r'));
      }
    }
  }
}

}  // namespace
}  // namespace kelmo

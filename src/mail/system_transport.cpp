#include "mail/system_transport.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDateTime>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/codec.h"
#include "mail/mime_message.h"

namespace kelmo {
namespace {

// Linux refuses a single program argument longer than this (MAX_ARG_STRLEN).
constexpr qsizetype kMaxArgumentBytes = 32 * 4096 - 1;
// What is shown of a mail program's standard error: its end, where the reason usually is.
// Only somewhat more is kept while it runs, however much it writes.
constexpr qsizetype kMaxReportedStderr = 800;
constexpr qsizetype kKeptStderr = 4 * kMaxReportedStderr;
// How long a killed mail program may take to be reaped.
constexpr int kReapMs = 5000;
// How often the processes a stopped mail program started are looked for again, in case
// one was starting another as it was stopped.
constexpr int kStopRounds = 100;

// Every process now running that `root` started, directly or not, from /proc.
std::vector<pid_t> Descendants(pid_t root) {
  std::multimap<pid_t, pid_t> children;  // parent -> child
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;  // ended meanwhile
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    std::istringstream rest(line.substr(close + 1));
    if (rest >> state >> parent) children.emplace(parent, std::stoi(name));
  }
  std::vector<pid_t> found;
  std::vector<pid_t> waiting = {root};
  while (!waiting.empty()) {
    const pid_t parent = waiting.back();
    waiting.pop_back();
    for (auto [it, end] = children.equal_range(parent); it != end; ++it) {
      found.push_back(it->second);
      waiting.push_back(it->second);
    }
  }
  return found;
}

// Whether process `pid` has ended: gone, or a zombie waiting for its parent.
bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && line.compare(close + 1, 2, " Z") == 0;
}

// Stops `root` and everything it started: each is frozen first, so that none starts
// another behind the search, then all are killed. `root` is the subreaper of what it
// starts, so a process whose parent ended is found under it all the same. Returns the
// processes that could not be stopped (another user's).
std::vector<pid_t> KillTree(pid_t root) {
  std::vector<pid_t> frozen;
  std::vector<pid_t> refused;
  if (::kill(root, SIGSTOP) != 0 && errno == EPERM) refused.push_back(root);
  for (int round = 0; round < kStopRounds; ++round) {
    bool more = false;
    for (const pid_t pid : Descendants(root)) {
      if (std::find(frozen.begin(), frozen.end(), pid) != frozen.end() ||
          std::find(refused.begin(), refused.end(), pid) != refused.end()) {
        continue;
      }
      more = true;
      (::kill(pid, SIGSTOP) == 0 ? frozen : refused).push_back(pid);
    }
    if (!more) break;
  }
  for (const pid_t pid : frozen) ::kill(pid, SIGKILL);
  ::kill(-root, SIGKILL);
  ::kill(root, SIGKILL);
  // A kill takes effect once the process next runs: gone before anything says so.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReapMs);
  for (const pid_t pid : frozen) {
    while (!Ended(pid) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return refused;
}

QString FindXdgEmail() { return QStandardPaths::findExecutable(QStringLiteral("xdg-email")); }

QString FindSendmail() {
  QString path = QStandardPaths::findExecutable(QStringLiteral("sendmail"));
  if (path.isEmpty()) {
    path = QStandardPaths::findExecutable(
        QStringLiteral("sendmail"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/lib")});
  }
  return path;
}

// NOLINTBEGIN(readability-magic-numbers): the programs' exit statuses are the data here
QString XdgEmailFailure(int code) {
  switch (code) {
    case 1:
      return QObject::tr("xdg-email が呼び出し方の誤りを報告しました。");
    case 2:
      return QObject::tr("xdg-email: 指定されたファイルがありません。");
    case 3:
      return QObject::tr("メールソフトが見つかりません。既定のメールソフトを設定してください。");
    case 4:
      return QObject::tr("メールソフトの作成画面を開けませんでした。");
    case 5:
      return QObject::tr("xdg-email: 権限がありません。");
    default:
      return QObject::tr("xdg-email が失敗しました。");
  }
}

// The meaning of a sendmail exit status, as sysexits.h defines them.
QString SendmailFailure(int code) {
  switch (code) {
    case 64:
      return QObject::tr("使い方の誤り (EX_USAGE)");
    case 65:
      return QObject::tr("メッセージの形式の誤り (EX_DATAERR)");
    case 66:
      return QObject::tr("入力を開けません (EX_NOINPUT)");
    case 67:
      return QObject::tr("宛先のユーザーがいません (EX_NOUSER)");
    case 68:
      return QObject::tr("宛先のホストがありません (EX_NOHOST)");
    case 69:
      return QObject::tr("サービスを使えません (EX_UNAVAILABLE)");
    case 70:
      return QObject::tr("内部エラー (EX_SOFTWARE)");
    case 71:
      return QObject::tr("システムエラー (EX_OSERR)");
    case 72:
      return QObject::tr("システムファイルの誤り (EX_OSFILE)");
    case 73:
      return QObject::tr("出力ファイルを作れません (EX_CANTCREAT)");
    case 74:
      return QObject::tr("入出力エラー (EX_IOERR)");
    case 75:
      return QObject::tr("一時的な失敗です。あとでもう一度送ってください (EX_TEMPFAIL)");
    case 76:
      return QObject::tr("相手のサーバーとのやり取りの誤り (EX_PROTOCOL)");
    case 77:
      return QObject::tr("権限がありません (EX_NOPERM)");
    case 78:
      return QObject::tr("メール送信の設定の誤り (EX_CONFIG)");
    default:
      return QObject::tr("失敗しました");
  }
}

// NOLINTEND(readability-magic-numbers)

QString ExitStatus(int code) { return QObject::tr("(終了コード %1)").arg(code); }

}  // namespace

QString MailtoUrl(const QString& recipient, const QString& subject, const QString& body) {
  // RFC 6068: the address keeps '@' and the delimiters allowed there; header values are
  // encoded but for unreserved characters, so '&', '=', '+', '%' and line breaks survive.
  const QByteArray to = QUrl::toPercentEncoding(recipient, "@!$'()*+,;:");
  const QByteArray fields = "subject=" + QUrl::toPercentEncoding(SingleLine(subject)) +
                            "&body=" + QUrl::toPercentEncoding(body);
  return QString::fromLatin1("mailto:" + to + '?' + fields);
}

// A mail program started for one send, and the outcome it reports.
class SystemMailTransport::Job {
 public:
  explicit Job(Done done) : m_done(std::move(done)) { m_timer.setSingleShot(true); }
  ~Job() {
    // The window waiting for the outcome may be gone: report nothing, leave nothing running.
    QObject::disconnect(&m_process, nullptr, nullptr, nullptr);
    m_done = nullptr;
    if (m_process.state() != QProcess::NotRunning) Stop();
  }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  QProcess& Process() { return m_process; }
  QTimer& Timer() { return m_timer; }

  // Starts the program as the leader of a process group of its own, which a Ctrl+C in
  // Kelmo's terminal does not reach, and as the subreaper of what it starts: a process
  // whose parent ends, or that starts a session of its own, stays under it, where Stop()
  // finds it.
  void OwnProcessTree() {
    m_ownTree = true;
    m_process.setChildProcessModifier([] {
      ::setpgid(0, 0);
      ::prctl(PR_SET_CHILD_SUBREAPER, 1);  // kept across exec
    });
  }
  // Starts the program, and so what it starts, with Ctrl+C and Ctrl+\ from Kelmo's
  // terminal ignored (an ignored signal stays ignored across exec): a mail client the
  // launcher starts keeps its compose window and what was typed there when Kelmo is
  // interrupted. Not a process group of its own, as for sendmail: a launcher that opens a
  // client in this terminal (mutt) must stay in its foreground group to read it, and would
  // be stopped by SIGTTIN elsewhere. A client that installs its own handler still gets the
  // signal, as it asked.
  void IgnoreTerminalInterrupts() {
    m_process.setChildProcessModifier([] {
      struct sigaction ignore {};  // sigaction: safe between fork and exec
      ignore.sa_handler = SIG_IGN;
      ::sigaction(SIGINT, &ignore, nullptr);
      ::sigaction(SIGQUIT, &ignore, nullptr);
    });
  }
  // Kills the program, and everything it started when it owns its process tree, and
  // reaps it. Returns what could not be stopped.
  std::vector<pid_t> Stop() {
    std::vector<pid_t> refused;
    if (m_ownTree && m_process.processId() > 0) {
      refused = KillTree(static_cast<pid_t>(m_process.processId()));
    }
    m_process.kill();
    m_process.waitForFinished(kReapMs);
    return refused;
  }

  // Reads standard error as it comes, keeping only its end, and drops standard output, so
  // that a program pouring out text costs no memory.
  void KeepStderrTail() {
    QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process, [this] {
      m_stderrTail += m_process.readAllStandardError();
      if (m_stderrTail.size() > 2 * kKeptStderr) m_stderrTail = m_stderrTail.right(kKeptStderr);
    });
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                     [this] { m_process.readAllStandardOutput(); });
  }
  QString StderrTail() {
    m_stderrTail += m_process.readAllStandardError();
    const QByteArray tail = m_stderrTail.right(kMaxReportedStderr);
    // In the locale's character set, which Qt 6 would take for UTF-8.
    return QString::fromStdString(LocaleToUtf8(std::string_view(
                                      tail.constData(), static_cast<std::size_t>(tail.size()))))
        .trimmed();
  }
  bool IsOver() const { return !m_done && m_process.state() == QProcess::NotRunning; }

  void Start(const QString& program, const QStringList& arguments,
             QProcess::ProcessChannelMode channels) {
    m_process.setProcessChannelMode(channels);
    QObject::connect(
        &m_process, &QProcess::errorOccurred, &m_process,
        [this, program](QProcess::ProcessError error) {
          if (error != QProcess::FailedToStart) return;
          Finish(
              Error(MailError::kProgramFailed,
                    QObject::tr("%1 を起動できません: %2").arg(program, m_process.errorString())));
        });
    m_process.start(program, arguments);
  }

  // Reports the outcome; nothing after it.
  void Finish(const Result<>& outcome) {
    m_timer.stop();
    if (!m_done) return;
    const Done done = std::move(m_done);
    m_done = nullptr;
    done(outcome);
  }
  // Reports success while the program goes on, keeping the way to report a failure that
  // comes later: Finish() then reports that failure, and success not again.
  void ReportStartedAndWatch() {
    if (!m_done || m_started) return;
    m_started = true;
    m_done({});
  }
  bool ReportedStarted() const { return m_started; }
  // Stops the program and reports `error` rather than the program's killed end, naming
  // what it started that could not be stopped. The program is gone before the report,
  // which may wait on a message box.
  void StopWith(Error error) {
    m_timer.stop();
    const Done done = std::move(m_done);
    m_done = nullptr;
    const std::vector<pid_t> refused = Stop();
    if (!refused.empty()) {
      QStringList pids;
      for (const pid_t pid : refused) pids << QString::number(pid);
      error.description +=
          QObject::tr("それが起動したプロセス %1 は止められませんでした (権限がありません)。")
              .arg(pids.join(QLatin1String(", ")));
    }
    if (done) done(error);
  }
  // Ends the job without a report.
  void End() {
    m_timer.stop();
    m_done = nullptr;
  }

 private:
  Done m_done;
  bool m_started = false;
  bool m_ownTree = false;
  QTimer m_timer;
  QProcess m_process;
  QByteArray m_stderrTail;
};

SystemMailTransport::SystemMailTransport() : SystemMailTransport(Timeouts{}) {}

SystemMailTransport::SystemMailTransport(Timeouts timeouts) : m_timeouts(timeouts) {}

SystemMailTransport::~SystemMailTransport() = default;

void SystemMailTransport::Send(const OutgoingMail& mail, Done done) {
  std::erase_if(m_jobs, [](const auto& job) { return job->IsOver(); });
  const Result<Recipient> recipient = CheckRecipient(mail.recipient);
  if (!recipient) return done(recipient.error());
  if (FindXdgEmail().isEmpty() && FindSendmail().isEmpty()) {
    return done(Error(MailError::kNoMailSystem,
                      QObject::tr("メールを渡す先がありません。xdg-email (xdg-utils) か "
                                  "sendmail (msmtp-mta など) を入れてください。")));
  }
  if (mail.showCompose) {
    OpenComposeWindow(*recipient, mail, std::move(done));
  } else {
    Deliver(*recipient, mail, std::move(done));
  }
}

SystemMailTransport::Job& SystemMailTransport::NewJob(Done done) {
  return *m_jobs.emplace_back(std::make_unique<Job>(std::move(done)));
}

void SystemMailTransport::OpenComposeWindow(const Recipient& recipient, const OutgoingMail& mail,
                                            Done done) {
  const QString program = FindXdgEmail();
  if (program.isEmpty()) {
    return done(Error(MailError::kProgramMissing,
                      QObject::tr("xdg-email が見つかりません (Debian のパッケージ xdg-utils)。")));
  }
  const QString url = MailtoUrl(recipient.Text(), mail.subject, mail.body);
  if (url.size() > kMaxArgumentBytes) {
    return done(
        Error(MailError::kCommandLineTooLong,
              QObject::tr(
                  "本文が長すぎてメールソフトに渡せません (URL にして %1 バイト、上限 %2 バイト)。"
                  "「送信確認」を外して直接送ってください。")
                  .arg(url.size())
                  .arg(kMaxArgumentBytes)));
  }
  Job& job = NewJob(std::move(done));
  job.IgnoreTerminalInterrupts();
  job.Start(program, {url}, QProcess::ForwardedChannels);
  // Some clients keep their launcher until the compose window closes: by then it is open,
  // and the window may go on. A failure it reports later is still reported.
  QObject::connect(&job.Timer(), &QTimer::timeout, &job.Process(),
                   [&job] { job.ReportStartedAndWatch(); });
  QObject::connect(
      &job.Process(), &QProcess::finished, &job.Process(),
      [&job](int code, QProcess::ExitStatus status) {
        if (job.ReportedStarted() && status == QProcess::NormalExit && code == 0) {
          job.End();  // its success was reported already
          return;
        }
        if (status != QProcess::NormalExit) {
          job.Finish(
              Error(MailError::kProgramFailed, QObject::tr("xdg-email が異常終了しました。")));
        } else if (code != 0) {
          job.Finish(Error(MailError::kComposeFailed,
                           XdgEmailFailure(code) + QLatin1Char(' ') + ExitStatus(code)));
        } else {
          job.Finish({});
        }
      });
  job.Timer().start(m_timeouts.launcher);
}

void SystemMailTransport::Deliver(const Recipient& recipient, const OutgoingMail& mail, Done done) {
  const QString program = FindSendmail();
  if (program.isEmpty()) {
    return done(Error(
        MailError::kProgramMissing,
        QObject::tr(
            "sendmail が見つかりません。msmtp-mta などのメール送信の仕組みを入れてください。")));
  }
  const Result<QByteArray> message = BuildMessage(
      {recipient, mail.subject, mail.body, QDateTime::currentDateTime().toString(Qt::RFC2822Date)});
  if (!message) return done(message.error());

  Job& job = NewJob(std::move(done));
  job.KeepStderrTail();
  QObject::connect(&job.Process(), &QProcess::started, &job.Process(), [&job, bytes = *message] {
    job.Process().write(bytes);
    job.Process().closeWriteChannel();
  });
  const auto limit = m_timeouts.transport;
  QObject::connect(&job.Timer(), &QTimer::timeout, &job.Process(), [&job, program, limit] {
    job.StopWith(Error(
        MailError::kTimedOut,
        QObject::tr(
            "%1 が %2 秒たっても終わらないので止めました。メールは送られていないかもしれません。")
            .arg(program)
            .arg(std::chrono::duration<double>(limit).count())));
  });
  QObject::connect(
      &job.Process(), &QProcess::finished, &job.Process(),
      [&job, program](int code, QProcess::ExitStatus status) {
        const QString diagnostics = job.StderrTail();
        if (status != QProcess::NormalExit) {
          job.Finish(Error(MailError::kProgramFailed,
                           QObject::tr("%1 が異常終了しました。%2").arg(program, diagnostics)));
        } else if (code != 0) {
          QString description =
              QObject::tr("%1: %2 %3").arg(program, SendmailFailure(code), ExitStatus(code));
          if (!diagnostics.isEmpty()) description += QLatin1Char('\n') + diagnostics;
          job.Finish(Error(MailError::kTransportFailed, description));
        } else if (job.Process().bytesToWrite() > 0) {
          // It closed its input with part of the message still unread, yet says it sent it.
          job.Finish(Error(MailError::kInputNotRead,
                           QObject::tr("%1 がメッセージを最後まで読まずに終わりました。"
                                       "メールは送られていないかもしれません。%2")
                               .arg(program, diagnostics)));
        } else {
          job.Finish({});
        }
      });
  job.OwnProcessTree();
  job.Start(program, {QStringLiteral("-t"), QStringLiteral("-i")}, QProcess::SeparateChannels);
  job.Timer().start(limit);
}

}  // namespace kelmo

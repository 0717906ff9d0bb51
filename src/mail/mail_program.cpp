#include "mail/mail_program.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QObject>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "codec/codec.h"

namespace kelmo {
namespace {

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

}  // namespace

QString FindXdgEmail() { return QStandardPaths::findExecutable(QStringLiteral("xdg-email")); }

QString FindSendmail() {
  QString path = QStandardPaths::findExecutable(QStringLiteral("sendmail"));
  if (path.isEmpty()) {
    path = QStandardPaths::findExecutable(
        QStringLiteral("sendmail"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/lib")});
  }
  return path;
}

QString ExitStatus(int code) { return QObject::tr("(終了コード %1)").arg(code); }

Result<Recipient> CheckSendable(const OutgoingMail& mail) {
  Result<Recipient> recipient = CheckRecipient(mail.recipient);
  if (!recipient) return recipient;
  if (FindXdgEmail().isEmpty() && FindSendmail().isEmpty()) {
    return Error(MailError::kNoMailSystem,
                 QObject::tr("メールを渡す先がありません。xdg-email (xdg-utils) か "
                             "sendmail (msmtp-mta など) を入れてください。"));
  }
  return recipient;
}

MailProgram::MailProgram(Done done) : m_done(std::move(done)) { m_timer.setSingleShot(true); }

MailProgram::~MailProgram() {
  QObject::disconnect(&m_process, nullptr, nullptr, nullptr);
  m_done = nullptr;
  if (m_process.state() != QProcess::NotRunning) Stop();
}

void MailProgram::OwnProcessTree() {
  m_ownTree = true;
  m_process.setChildProcessModifier([] {
    ::setpgid(0, 0);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);  // kept across exec
  });
}

void MailProgram::IgnoreTerminalInterrupts() {
  m_process.setChildProcessModifier([] {
    struct sigaction ignore {};  // sigaction: safe between fork and exec
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, nullptr);
    ::sigaction(SIGQUIT, &ignore, nullptr);
  });
}

std::vector<pid_t> MailProgram::Stop() {
  std::vector<pid_t> refused;
  if (m_ownTree && m_process.processId() > 0) {
    refused = KillTree(static_cast<pid_t>(m_process.processId()));
  }
  m_process.kill();
  m_process.waitForFinished(kReapMs);
  return refused;
}

void MailProgram::KeepStderrTail() {
  QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process, [this] {
    m_stderrTail += m_process.readAllStandardError();
    if (m_stderrTail.size() > 2 * kKeptStderr) m_stderrTail = m_stderrTail.right(kKeptStderr);
  });
  QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                   [this] { m_process.readAllStandardOutput(); });
}

QString MailProgram::StderrTail() {
  m_stderrTail += m_process.readAllStandardError();
  const QByteArray tail = m_stderrTail.right(kMaxReportedStderr);
  // In the locale's character set, which Qt 6 would take for UTF-8.
  return QString::fromStdString(LocaleToUtf8(std::string_view(
                                    tail.constData(), static_cast<std::size_t>(tail.size()))))
      .trimmed();
}

void MailProgram::Start(const QString& program, const QStringList& arguments,
                        QProcess::ProcessChannelMode channels) {
  m_process.setProcessChannelMode(channels);
  QObject::connect(
      &m_process, &QProcess::errorOccurred, &m_process,
      [this, program](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        Finish(Error(MailError::kProgramFailed,
                     QObject::tr("%1 を起動できません: %2").arg(program, m_process.errorString())));
      });
  m_process.start(program, arguments);
}

void MailProgram::Finish(const Result<>& outcome) {
  m_timer.stop();
  if (!m_done) return;
  const Done done = std::move(m_done);
  m_done = nullptr;
  done(outcome);
}

void MailProgram::ReportStartedAndWatch() {
  if (!m_done || m_started) return;
  m_started = true;
  m_done({});
}

void MailProgram::StopWith(Error error) {
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

void MailProgram::End() {
  m_timer.stop();
  m_done = nullptr;
}

void MailPrograms::Prune() {
  std::erase_if(m_programs, [](const auto& program) { return program->IsOver(); });
}

MailProgram& MailPrograms::Add(MailTransport::Done done) {
  return *m_programs.emplace_back(std::make_unique<MailProgram>(std::move(done)));
}

}  // namespace kelmo

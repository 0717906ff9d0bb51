// What the Linux mail transports share: a mail program started for one send, and the
// checks every send makes before one is started.
#pragma once

#include <sys/types.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

#include "mail/mail_transport.h"

namespace kelmo {

QString FindXdgEmail();
QString FindSendmail();
// "(終了コード 3)": a program's exit status as the messages show it.
QString ExitStatus(int code);

// The recipient checked, or why this mail cannot go: an unusable recipient, or no way at
// all to hand mail on (neither xdg-email nor sendmail), which either transport reports
// the same.
Result<Recipient> CheckSendable(const OutgoingMail& mail);

// A mail program started for one send, and the outcome it reports.
class MailProgram {
 public:
  using Done = MailTransport::Done;

  explicit MailProgram(Done done);
  // The window waiting for the outcome may be gone: reports nothing, leaves nothing running.
  ~MailProgram();
  MailProgram(const MailProgram&) = delete;
  MailProgram& operator=(const MailProgram&) = delete;

  QProcess& Process() { return m_process; }
  QTimer& Timer() { return m_timer; }

  // Starts the program as the leader of a process group of its own, which a Ctrl+C in
  // Kelmo's terminal does not reach, and as the subreaper of what it starts: a process
  // whose parent ends, or that starts a session of its own, stays under it, where Stop()
  // finds it.
  void OwnProcessTree();
  // Starts the program, and so what it starts, with Ctrl+C and Ctrl+\ from Kelmo's
  // terminal ignored (an ignored signal stays ignored across exec): a mail client the
  // launcher starts keeps its compose window and what was typed there when Kelmo is
  // interrupted. Not a process group of its own, as for sendmail: a launcher that opens a
  // client in this terminal (mutt) must stay in its foreground group to read it, and would
  // be stopped by SIGTTIN elsewhere. A client that installs its own handler still gets the
  // signal, as it asked.
  void IgnoreTerminalInterrupts();
  // Reads standard error as it comes, keeping only its end, and drops standard output, so
  // that a program pouring out text costs no memory.
  void KeepStderrTail();
  QString StderrTail();
  bool IsOver() const { return !m_done && m_process.state() == QProcess::NotRunning; }

  void Start(const QString& program, const QStringList& arguments,
             QProcess::ProcessChannelMode channels);

  // Reports the outcome; nothing after it.
  void Finish(const Result<>& outcome);
  // Reports success while the program goes on, keeping the way to report a failure that
  // comes later: Finish() then reports that failure, and success not again.
  void ReportStartedAndWatch();
  bool ReportedStarted() const { return m_started; }
  // Stops the program and reports `error` rather than the program's killed end, naming
  // what it started that could not be stopped. The program is gone before the report,
  // which may wait on a message box.
  void StopWith(Error error);
  // Ends the job without a report.
  void End();

 private:
  // Kills the program, and everything it started when it owns its process tree, and
  // reaps it. Returns what could not be stopped.
  std::vector<pid_t> Stop();

  Done m_done;
  bool m_started = false;
  bool m_ownTree = false;
  QTimer m_timer;
  QProcess m_process;
  QByteArray m_stderrTail;
};

// The programs one transport started, the finished ones until its next send. Destroyed,
// it stops those still running and waits for them, so none is left behind.
class MailPrograms {
 public:
  // Forgets the finished ones; called as a send begins.
  void Prune();
  MailProgram& Add(MailTransport::Done done);

 private:
  std::vector<std::unique_ptr<MailProgram>> m_programs;
};

}  // namespace kelmo

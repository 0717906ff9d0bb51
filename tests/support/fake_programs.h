// Stand-ins for sendmail and xdg-email, first on PATH: they record their arguments and
// input (xdg-email also its pid and, when it gets there, its exit) and exit as told (FAKE_EXIT,
// FAKE_STDERR, FAKE_HANG, FAKE_SLEEP, FAKE_FAIL_RUN), or misbehave as told (FAKE_MISBEHAVE).
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <stdexcept>

namespace kelmo::testing {

class FakeMailPrograms {
 public:
  FakeMailPrograms() : m_savedPath(qgetenv("PATH")) {
    Write("sendmail",
          "#!/bin/sh\n"
          "echo $$ > \"$FAKE_DIR/sendmail.pid\"\n"
          "echo run >> \"$FAKE_DIR/sendmail.runs\"\n"
          "printf '%s\\n' \"$@\" > \"$FAKE_DIR/sendmail.argv\"\n"
          "case \"$FAKE_MISBEHAVE\" in\n"
          "  no-read) exit 0 ;;\n"
          "  background) /bin/sleep 20 & ;;\n"
          "  hang-with-child) /bin/sleep 30 & echo $! > \"$FAKE_DIR/child.pid\"\n"
          "                   exec /bin/sleep 30 ;;\n"
          "  hang-with-session-child) /usr/bin/setsid /bin/sleep 30 &\n"
          "                   echo $! > \"$FAKE_DIR/child.pid\"\n"
          "                   exec /bin/sleep 30 ;;\n"
          "  hang-with-orphan) (/usr/bin/setsid /bin/sleep 30 &\n"
          "                    echo $! > \"$FAKE_DIR/child.pid\")\n"
          "                   exec /bin/sleep 30 ;;\n"
          "  flood) /usr/bin/head -c 300000000 /dev/zero | /usr/bin/tr '\\0' e >&2\n"
          "         echo ' the end' >&2 ;;\n"
          "esac\n"
          "/bin/cat > \"$FAKE_DIR/sendmail.stdin\"\n"
          "n=$(/usr/bin/wc -l < \"$FAKE_DIR/sendmail.runs\")\n"
          "/bin/cp \"$FAKE_DIR/sendmail.stdin\" \"$FAKE_DIR/sendmail.$n.stdin\"\n"
          "[ \"$n\" = \"$FAKE_FAIL_RUN\" ] && { printf 'refused run %s' $n >&2; exit 75; }\n"
          "[ -n \"$FAKE_STDERR\" ] && printf '%s' \"$FAKE_STDERR\" >&2\n"
          "[ \"$FAKE_HANG\" = 1 ] && exec /bin/sleep 30\n"
          "[ -n \"$FAKE_SLEEP\" ] && /bin/sleep \"$FAKE_SLEEP\"\n"
          "exit \"${FAKE_EXIT:-0}\"\n");
    Write("xdg-email",
          "#!/bin/sh\n"
          "echo $$ > \"$FAKE_DIR/xdg-email.pid\"\n"
          "printf '%s\\n' \"$#\" \"$@\" > \"$FAKE_DIR/xdg-email.argv\"\n"
          "echo run >> \"$FAKE_DIR/xdg-email.runs\"\n"
          "n=$(/usr/bin/wc -l < \"$FAKE_DIR/xdg-email.runs\")\n"
          "/bin/cp \"$FAKE_DIR/xdg-email.argv\" \"$FAKE_DIR/xdg-email.$n.argv\"\n"
          "[ \"$n\" = \"$FAKE_FAIL_RUN\" ] && { printf 'refused run %s' $n >&2; exit 3; }\n"
          "[ \"$FAKE_HANG\" = 1 ] && exec /bin/sleep 30\n"
          "[ -n \"$FAKE_SLEEP\" ] && /bin/sleep \"$FAKE_SLEEP\"\n"
          "echo \"${FAKE_EXIT:-0}\" > \"$FAKE_DIR/xdg-email.exit\"\n"
          "exit \"${FAKE_EXIT:-0}\"\n");
    qputenv("FAKE_DIR", m_dir.path().toLocal8Bit());
    qputenv("PATH", m_dir.path().toLocal8Bit());  // nothing real is found
    SetExit(0);
    SetStderr("");
    SetHang(false);
    SetSleep(QByteArray());
    SetMisbehaviour(nullptr);
    FailRun(0);
  }
  ~FakeMailPrograms() { qputenv("PATH", m_savedPath); }

  void SetExit(int code) { qputenv("FAKE_EXIT", QByteArray::number(code)); }
  void SetStderr(const QByteArray& text) { qputenv("FAKE_STDERR", text); }
  void SetHang(bool hang) { qputenv("FAKE_HANG", hang ? "1" : "0"); }
  // sendmail or xdg-email takes this long (sleep(1) syntax) before it exits as told.
  void SetSleep(const QByteArray& seconds) { qputenv("FAKE_SLEEP", seconds); }
  // "no-read": exits at once without reading its input; "background": leaves a child
  // holding its output open for 20 s; "hang-with-child": starts a child that would run
  // 30 s (its pid in child.pid) and hangs; "hang-with-session-child": the same, the child
  // in a session (and process group) of its own; "hang-with-orphan": the same again, the
  // child's parent gone before it hangs; "flood": writes 300 MB to standard error.
  void SetMisbehaviour(const char* what) { qputenv("FAKE_MISBEHAVE", what ? what : ""); }
  // Run `run` (from 1) of sendmail or xdg-email fails; 0: none does. Every run's input
  // or arguments stay in sendmail.N.stdin and xdg-email.N.argv.
  void FailRun(int run) { qputenv("FAKE_FAIL_RUN", QByteArray::number(run)); }
  void Remove(const char* program) { QFile::remove(m_dir.filePath(QString::fromLatin1(program))); }

  QByteArray Recorded(const char* file) const {
    QFile f(m_dir.filePath(QString::fromLatin1(file)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  bool Ran(const char* program) const {
    return QFile::exists(m_dir.filePath(QString::fromLatin1(program) + QStringLiteral(".argv")));
  }

 private:
  void Write(const char* name, const QByteArray& script) {
    QFile file(m_dir.filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size()) {
      throw std::runtime_error("cannot write fake program");
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ExeGroup | QFileDevice::ExeOther | QFileDevice::ReadOther);
  }

  QByteArray m_savedPath;
  QTemporaryDir m_dir;
};

// Counts the ticks of a 50-ms timer: they only come while the event loop runs.
class TickCounter {
 public:
  TickCounter() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_ticks; });
    m_timer.start(50);
  }
  int Ticks() const { return m_ticks; }

 private:
  QTimer m_timer;
  int m_ticks = 0;
};

}  // namespace kelmo::testing

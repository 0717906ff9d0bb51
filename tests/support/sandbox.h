// Test helpers for file conditions: scratch directories, a directory we cannot write to
// (even as root), and a file-size limit that makes writes fail as on a full disk; and a
// process's memory as the kernel counts it.
#pragma once

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <stdexcept>

namespace kelmo::testing {

// A fresh temporary directory that any user may write to, so that a test can drop root.
class SandboxDir {
 public:
  SandboxDir() {
    if (!m_dir.isValid()) throw std::runtime_error("no temp dir");
    SetWritable(true);
  }
  ~SandboxDir() { SetWritable(true); }  // so that it can be removed
  SandboxDir(const SandboxDir&) = delete;
  SandboxDir& operator=(const SandboxDir&) = delete;

  QString Path() const { return m_dir.path(); }
  QString File(const QString& name) const { return m_dir.filePath(name); }
  void SetWritable(bool writable) {
    ::chmod(QFile::encodeName(m_dir.path()).constData(), writable ? 0777 : 0555);
  }

 private:
  QTemporaryDir m_dir;
};

// Runs the test inside a fresh SandboxDir, for code that takes names relative to the
// working directory; the old one is restored afterwards.
class ScratchDir : public SandboxDir {
 public:
  ScratchDir() : m_previous(QDir::currentPath()) {
    if (!QDir::setCurrent(Path())) throw std::runtime_error("cannot enter temp dir");
  }
  ~ScratchDir() { QDir::setCurrent(m_previous); }

 private:
  QString m_previous;
};

// Root ignores permissions; for the scope of this object the process acts as 'nobody'.
class Unprivileged {
 public:
  Unprivileged() : m_wasRoot(::geteuid() == 0) {
    if (m_wasRoot && ::seteuid(65534) != 0) throw std::runtime_error("seteuid failed");
  }
  ~Unprivileged() {
    if (m_wasRoot) (void)::seteuid(0);
  }

 private:
  bool m_wasRoot;
};

// Writes past `bytes` in any file fail with EFBIG, as they would on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &m_saved);
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_previousHandler);
  }

 private:
  rlimit m_saved{};
  void (*m_previousHandler)(int);
};

inline QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    throw std::runtime_error("cannot write test file");
  }
}

// A memory figure of a process from /proc/<process>/status, in KiB: "VmRSS" now, "VmHWM"
// the peak so far; -1 when it cannot be read.
inline long ProcessMemoryKiB(const char* field, const QString& process = QStringLiteral("self")) {
  QFile status(QStringLiteral("/proc/%1/status").arg(process));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  const QByteArray name = QByteArray(field) + ':';
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(name)) return line.mid(name.size()).trimmed().split(' ').front().toLong();
  }
  return -1;
}

}  // namespace kelmo::testing

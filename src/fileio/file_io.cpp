#include "fileio/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QObject>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

namespace kelmo {
namespace {

FileError SystemError(int number, const QString& what, const QString& path, const QString& why) {
  return {number, QObject::tr("%1 %2: %3").arg(path, what, why)};
}

// errno as the failing call left it; Qt gives no number of its own that users could look up.
int LastErrno() { return errno != 0 ? errno : EIO; }

// The description of the error `number` that just happened.
FileError SystemError(int number, const QString& what, const QString& path) {
  return SystemError(number, what, path, SystemErrorText(number));
}

template <typename File>
std::optional<FileError> WriteAll(File& file, const QByteArray& bytes, const QString& path) {
  const qint64 written = file.write(bytes);
  if (written != bytes.size()) {
    const int number = LastErrno();
    return SystemError(
        number, QObject::tr("に書き込めません"), path,
        written < 0 ? SystemErrorText(number) : QObject::tr("途中までしか書けませんでした"));
  }
  return std::nullopt;
}

}  // namespace

std::optional<FileError> WriteFileBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  errno = 0;
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    return SystemError(LastErrno(), QObject::tr("を作れません"), path);
  }
  if (auto error = WriteAll(file, bytes, path)) return error;
  errno = 0;
  if (!file.flush()) {
    return SystemError(LastErrno(), QObject::tr("に書き込めません"), path);
  }
  return std::nullopt;
}

std::optional<FileError> SaveFileBytes(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  errno = 0;
  if (!file.open(QIODevice::WriteOnly)) {
    return SystemError(LastErrno(), QObject::tr("に保存できません"), path);
  }
  errno = 0;
  if (auto error = WriteAll(file, bytes, path)) {
    file.cancelWriting();  // otherwise commit() could replace the file with a truncated one
    return error;
  }
  // write() only fills Qt's buffer. Flush it here: commit() flushes too, but renames the
  // file into place even when that final write fails (a full disk, say).
  errno = 0;
  if (!file.flush()) {
    const int number = LastErrno();
    file.cancelWriting();
    return SystemError(number, QObject::tr("に保存できません"), path);
  }
  errno = 0;
  if (!file.commit()) {
    return SystemError(LastErrno(), QObject::tr("に保存できません"), path);
  }
  return std::nullopt;
}

std::optional<FileError> ReadFilePrefix(const QString& path, qsizetype limit, FilePrefix& out) {
  // POSIX rather than QFile: O_NONBLOCK keeps a FIFO from hanging the window, and the
  // failures come with errno.
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int number = errno;
    return SystemError(number, QObject::tr("を開けません"), path);
  }
  out.bytes.resize(limit + 1);  // one byte more tells whether the file goes on
  qsizetype got = 0;
  while (got < out.bytes.size()) {
    const ssize_t n =
        ::read(fd, out.bytes.data() + got, static_cast<std::size_t>(out.bytes.size() - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      const int number = errno;
      ::close(fd);
      return SystemError(number, QObject::tr("を読めません"), path);
    }
    if (n <= 0) break;  // end of file, or nothing waiting in a FIFO
    got += n;
  }
  ::close(fd);
  out.wholeFile = got <= limit;
  out.bytes.resize(std::min(got, limit));
  return std::nullopt;
}

QString SystemErrorText(int number) {
  char buffer[256];
  // The GNU strerror_r, which follows LC_MESSAGES (set from the environment by Qt).
  return QString::fromLocal8Bit(::strerror_r(number, buffer, sizeof buffer));
}

}  // namespace kelmo

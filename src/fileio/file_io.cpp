#include "fileio/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QObject>
#include <QSaveFile>
#include <cerrno>

namespace kelmo {
namespace {

FileError SystemError(int number, const QString& what, const QString& path, const QString& why) {
  return {number, QObject::tr("%1 %2: %3").arg(path, what, why)};
}

// errno as the failing call left it; Qt gives no number of its own that users could look up.
int LastErrno() { return errno != 0 ? errno : EIO; }

template <typename File>
std::optional<FileError> WriteAll(File& file, const QByteArray& bytes, const QString& path) {
  const qint64 written = file.write(bytes);
  if (written != bytes.size()) {
    return SystemError(
        LastErrno(), QObject::tr("に書き込めません"), path,
        written < 0 ? file.errorString() : QObject::tr("途中までしか書けませんでした"));
  }
  return std::nullopt;
}

}  // namespace

std::optional<FileError> WriteFileBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  errno = 0;
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    return SystemError(LastErrno(), QObject::tr("を作れません"), path, file.errorString());
  }
  if (auto error = WriteAll(file, bytes, path)) return error;
  errno = 0;
  if (!file.flush()) {
    return SystemError(LastErrno(), QObject::tr("に書き込めません"), path, file.errorString());
  }
  return std::nullopt;
}

std::optional<FileError> SaveFileBytes(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  errno = 0;
  if (!file.open(QIODevice::WriteOnly)) {
    return SystemError(LastErrno(), QObject::tr("に保存できません"), path, file.errorString());
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
    const QString why = file.errorString();
    file.cancelWriting();
    return SystemError(number, QObject::tr("に保存できません"), path, why);
  }
  errno = 0;
  if (!file.commit()) {
    return SystemError(LastErrno(), QObject::tr("に保存できません"), path, file.errorString());
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
    return SystemError(number, QObject::tr("を開けません"), path, qt_error_string(number));
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
      return SystemError(number, QObject::tr("を読めません"), path, qt_error_string(number));
    }
    if (n <= 0) break;  // end of file, or nothing waiting in a FIFO
    got += n;
  }
  ::close(fd);
  out.wholeFile = got <= limit;
  out.bytes.resize(std::min(got, limit));
  return std::nullopt;
}

}  // namespace kelmo

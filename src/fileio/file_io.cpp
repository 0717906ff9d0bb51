#include "fileio/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <QFile>
#include <QObject>
#include <cerrno>
#include <cstring>

namespace kelmo {
namespace {

// errno as the failing call left it; Qt gives no number of its own that users could look up.
int LastErrno() { return errno != 0 ? errno : EIO; }

// The file, what could not be done with it, and the system's reason.
Error SystemError(int number, const QString& what, const QString& path) {
  return {number, QObject::tr("%1 %2: %3").arg(path, what, SystemErrorText(number))};
}

// Every byte of `bytes` to fd; false with errno set when the system refuses one.
bool WriteAll(int fd, const QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += n;
  }
  return true;
}

// The permissions the saved file gets: those of the regular file it replaces, or what a
// new file gets under the umask.
mode_t ModeFor(const QByteArray& name) {
  struct stat status {};
  if (::lstat(name.constData(), &status) == 0 && S_ISREG(status.st_mode)) {
    return status.st_mode & ALLPERMS;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return DEFFILEMODE & ~mask;
}

}  // namespace

// Not QSaveFile: it writes through a symbolic link into the file the link points to, and
// a save must only ever replace the file of the name it was given.
Result<> SaveFileBytes(const QString& path, const QByteArray& bytes, Durability durability) {
  const QByteArray name = QFile::encodeName(path);
  const mode_t mode = ModeFor(name);
  QByteArray temporary = name + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return SystemError(LastErrno(), QObject::tr("に保存できません"), path);
  int number = 0;
  if (::fchmod(fd, mode) != 0 || !WriteAll(fd, bytes) ||
      (durability == Durability::kSynced && ::fsync(fd) != 0)) {
    number = LastErrno();
  }
  if (::close(fd) != 0 && number == 0) number = LastErrno();
  // rename() replaces the name itself: a link there is replaced, its target left alone.
  if (number == 0 && ::rename(temporary.constData(), name.constData()) != 0) number = LastErrno();
  if (number != 0) {
    ::unlink(temporary.constData());
    return SystemError(number, QObject::tr("に保存できません"), path);
  }
  return {};
}

Result<FilePrefix> ReadFilePrefix(const QString& path, qsizetype limit) {
  // POSIX rather than QFile: O_NONBLOCK keeps a FIFO from hanging the window, and the
  // failures come with errno.
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int number = errno;
    return SystemError(number, QObject::tr("を開けません"), path);
  }
  FilePrefix out;
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
  return out;
}

QString SystemErrorText(int number) {
  char buffer[256];
  // The GNU strerror_r, which follows LC_MESSAGES (set from the environment by Qt).
  return QString::fromLocal8Bit(::strerror_r(number, buffer, sizeof buffer));
}

}  // namespace kelmo

#include "fileio/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <cerrno>
#include <cstring>

#include "codec/codec.h"

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

// What the saved file takes over from the regular file it replaces: its permissions and
// group; for a new file, what the umask leaves and the saver's group.
struct Inherited {
  mode_t mode = 0;
  gid_t group = static_cast<gid_t>(-1);  // -1: leave it as created
};

Inherited InheritedFrom(const QByteArray& name) {
  struct stat status {};
  if (::lstat(name.constData(), &status) == 0 && S_ISREG(status.st_mode)) {
    return {static_cast<mode_t>(status.st_mode & ALLPERMS), status.st_gid};
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return {static_cast<mode_t>(DEFFILEMODE & ~mask)};
}

// The temporary names a save uses: the file's name and six characters of mkostemp's.
constexpr int kTemporarySuffix = 6;

}  // namespace

// Not QSaveFile: it writes through a symbolic link into the file the link points to, and
// a save must only ever replace the file of the name it was given.
Result<> SaveFileBytes(const QString& path, const QByteArray& bytes, Durability durability) {
  const QByteArray name = QFile::encodeName(path);
  // A FIFO, a device or a directory of that name, or a link to one, is not ours to replace.
  struct stat target {};
  if (::stat(name.constData(), &target) == 0 && !S_ISREG(target.st_mode)) {
    return Error(FileError::kNotRegularFile,
                 QObject::tr("%1 に保存できません: 通常のファイルではありません "
                             "(ディレクトリ、FIFO、デバイスなど)。そのままにしました。")
                     .arg(path));
  }
  const Inherited inherited = InheritedFrom(name);
  QByteArray temporary = name + QByteArray(1, '.') + QByteArray(kTemporarySuffix, 'X');
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return SystemError(LastErrno(), QObject::tr("に保存できません"), path);
  int number = 0;
  // The group where the system lets us keep it (a group we are a member of); the mode
  // after it, since a change of owner may clear the set-group-ID bit.
  if (inherited.group != static_cast<gid_t>(-1))
    (void)::fchown(fd, static_cast<uid_t>(-1), inherited.group);
  if (::fchmod(fd, inherited.mode) != 0 || !WriteAll(fd, bytes) ||
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

int RemoveLeftoverSaves(const QString& path, std::chrono::seconds olderThan) {
  const QFileInfo file(path);
  const QString prefix = file.fileName() + QLatin1Char('.');
  const QDateTime before = QDateTime::currentDateTime().addSecs(-olderThan.count());
  int removed = 0;
  const QFileInfoList found =
      file.dir().entryInfoList({prefix + QString(kTemporarySuffix, QLatin1Char('?'))},
                               QDir::Files | QDir::Hidden | QDir::System);
  for (const QFileInfo& leftover : found) {
    // Only what mkostemp makes: a regular file of ours, suffix letters and digits.
    const QString suffix = leftover.fileName().mid(prefix.size());
    const bool ours = std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
      return c.unicode() < 0x80 && c.isLetterOrNumber();
    });
    if (!ours || leftover.isSymLink() || !leftover.isFile() || leftover.ownerId() != ::geteuid() ||
        leftover.lastModified() > before) {
      continue;
    }
    if (QFile::remove(leftover.filePath())) ++removed;
  }
  return removed;
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
  // The GNU strerror_r, which follows LC_MESSAGES (set from the environment by Qt), in
  // the locale's character set: Qt 6 would take it for UTF-8.
  return QString::fromStdString(LocaleToUtf8(::strerror_r(number, buffer, sizeof buffer)));
}

}  // namespace kelmo

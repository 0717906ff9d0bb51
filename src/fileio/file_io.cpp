#include "fileio/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

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

// Closes on leaving the scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }

 private:
  int m_fd;
};

// The folder part ("" for the working directory) and the last part of a name.
std::pair<QByteArray, QByteArray> Split(const QByteArray& name) {
  const qsizetype slash = name.lastIndexOf('/');
  if (slash < 0) return {QByteArray(), name};
  return {name.left(slash + 1), name.mid(slash + 1)};
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

// Read-only for us by its mode bits, which root's writes ignore, or by the system's check.
bool IsReadOnly(const struct stat& status, const QByteArray& name) {
  const mode_t writeBits =
      status.st_uid == ::geteuid() ? S_IWUSR : static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  if ((status.st_mode & writeBits) == 0) return true;
  return ::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

// Marks a file as saved by Kelmo, with which file it was (device and inode), whose, and
// the length and time it had then: a later session can tell its own file from one edited
// since, made by someone else, or copied with its attributes (cp -a, a restore), which is
// another file.
constexpr char kSavedMark[] = "user.kelmo.saved";
// Marks a save's new file as Kelmo's from its creation, by its device and inode: the
// clean-up of killed saves removes only a file so marked, never one that merely has the
// name (copied from elsewhere, or the user's own).
constexpr char kSaveMark[] = "user.kelmo.save";

QByteArray FileMarkOf(const struct stat& status) {
  return QByteArray::number(static_cast<qulonglong>(status.st_dev)) + ' ' +
         QByteArray::number(static_cast<qulonglong>(status.st_ino));
}

QByteArray SavedMarkOf(const struct stat& status) {
  return FileMarkOf(status) + ' ' + QByteArray::number(static_cast<qulonglong>(status.st_uid)) +
         ' ' + QByteArray::number(static_cast<qlonglong>(status.st_size)) + ' ' +
         QByteArray::number(static_cast<qlonglong>(status.st_mtim.tv_sec)) + '.' +
         QByteArray::number(static_cast<qlonglong>(status.st_mtim.tv_nsec));
}

// Whether the descriptor's file carries `mark` under `attribute`.
bool HasMark(int fd, const char* attribute, const QByteArray& mark) {
  char stored[128] = {};
  const ssize_t length = ::fgetxattr(fd, attribute, stored, sizeof stored - 1);
  return length > 0 && QByteArray(stored, length) == mark;
}

const QByteArray kSaveMarker = QByteArrayLiteral(".kelmo-save-");
const QByteArray kKeptMarker = QByteArrayLiteral(".kelmo-kept-");
constexpr int kRandomLetters = 6;  // what mkostemp puts in place of "XXXXXX"

// The process a save name was made by, or 0 when the name is not one KelmoSaveName makes.
pid_t SaverOf(const QByteArray& entry, const QByteArray& prefix) {
  if (!entry.startsWith(prefix)) return 0;
  const QByteArray rest = entry.mid(prefix.size());
  const qsizetype dash = rest.indexOf('-');
  if (dash <= 0 || rest.size() - dash - 1 != kRandomLetters) return 0;
  const QByteArray digits = rest.left(dash);
  const QByteArray letters = rest.mid(dash + 1);
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  const auto isLetterOrDigit = [&isDigit](char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  if (!std::all_of(digits.begin(), digits.end(), isDigit) ||
      !std::all_of(letters.begin(), letters.end(), isLetterOrDigit)) {
    return 0;
  }
  bool ok = false;
  const int process = digits.toInt(&ok);
  return ok && process > 0 ? static_cast<pid_t>(process) : 0;
}

// Whether a process of that number runs: ours counts as running, since our own saves
// hold their lock until they end and a leftover under our number is another's older one.
bool Runs(pid_t process) {
  if (process == ::getpid()) return true;
  return ::kill(process, 0) == 0 || errno == EPERM;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

FileIdentity IdentityFrom(const struct stat& status) {
  return {status.st_dev, status.st_ino, status.st_size, status.st_mtim};
}

// A copy of a regular file under a name that does not exist yet: O_EXCL never overwrites.
int CopyToNewName(const QByteArray& from, const QByteArray& to) {
  const Descriptor source(
      ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat status {};
  if (!source.Valid() || ::fstat(source.Get(), &status) != 0) return LastErrno();
  if (!S_ISREG(status.st_mode)) return static_cast<int>(FileError::kNotRegularFile);
  const int fd = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        status.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO));
  if (fd < 0) return LastErrno();
  const Descriptor target(fd);
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(source.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0 || !WriteAll(fd, QByteArray::fromRawData(buffer, n))) {
      const int number = LastErrno();
      ::unlink(to.constData());  // the copy we just made, and nothing else
      return number;
    }
  }
  if (::fsync(fd) != 0) {
    const int number = LastErrno();
    ::unlink(to.constData());
    return number;
  }
  return 0;
}

// The state of an open file a read is checked against: its identity and when it last
// changed in any way.
struct ReadState {
  FileIdentity identity;
  timespec changed{};
  friend bool operator==(const ReadState& a, const ReadState& b) {
    return a.identity == b.identity && a.changed.tv_sec == b.changed.tv_sec &&
           a.changed.tv_nsec == b.changed.tv_nsec;
  }
};

// A file that reads the same twice this far apart is taken as whole: a sync tool that
// truncates and writes in parts leaves it short for a moment. File times cannot tell
// that moment: the kernel stamps them from a clock that may lag by tens of milliseconds.
constexpr std::chrono::milliseconds kQuiet{50};
constexpr std::chrono::milliseconds kAfterChange{10};  // before reading a changed file again
constexpr int kReadAttempts = 8;

Error NotRegularFile(const QString& path, const QString& what) {
  return {FileError::kNotRegularFile,
          QObject::tr("%1 %2: 通常のファイルではありません (ディレクトリ、FIFO、デバイスなど)。"
                      "そのままにしました。")
              .arg(path, what)};
}

}  // namespace

FilePath::FilePath(const QString& name) : native(QFile::encodeName(name)), shown(name) {}

FilePath FilePath::InFolder(const QDir& folder, const QString& name) {
  if (!folder.isRelative()) {
    const QString path = QDir::cleanPath(folder.absoluteFilePath(name));
    return {QFile::encodeName(path), path};
  }
  const QByteArray relative = QFile::encodeName(QDir::cleanPath(folder.path() + u'/' + name));
  // The working directory's own bytes, which QDir would decode as UTF-8 whatever they are.
  const std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0), &std::free);
  if (!current) return {relative, ShownName(relative)};
  return {relative, ShownName(QByteArray(current.get()) + '/' + relative)};
}

QString ShownName(const QByteArray& native) {
  QString shown;
  const QList<QByteArray> parts = native.split('/');
  for (qsizetype i = 0; i < parts.size(); ++i) {
    if (i > 0) shown += u'/';
    const QByteArray& part = parts[i];
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString asUtf8 = utf8(part);
    if (!utf8.hasError()) {
      shown += asUtf8;
      continue;
    }
    const std::u16string asCp932 =
        DecodeCp932(std::string_view(part.constData(), static_cast<std::size_t>(part.size())));
    if (asCp932.find(kDecodeSubstitute) == std::u16string::npos) {
      shown += QString::fromStdU16String(asCp932);
      continue;
    }
    for (const char c : part) {
      const auto byte = static_cast<unsigned char>(c);
      shown += byte < 0x80 ? QString(QLatin1Char(c))
                           : QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
  }
  return shown;
}

std::optional<FileIdentity> IdentityOf(const FilePath& path) {
  struct stat status {};
  if (::lstat(path.native.constData(), &status) != 0) return std::nullopt;
  return IdentityFrom(status);
}

Result<> CheckReplaceable(const FilePath& path) {
  // A FIFO, a device or a directory of that name, or a link to one, is not ours to replace.
  struct stat target {};
  if (::stat(path.native.constData(), &target) == 0 && !S_ISREG(target.st_mode)) {
    return NotRegularFile(path.shown, QObject::tr("に保存できません"));
  }
  struct stat name {};
  if (::lstat(path.native.constData(), &name) == 0 && S_ISREG(name.st_mode) &&
      IsReadOnly(name, path.native)) {
    return Error(EACCES, QObject::tr("%1 に保存できません: 読み取り専用のファイルです。"
                                     "そのままにしました。")
                             .arg(path.shown));
  }
  return {};
}

bool MarkAsSave(int fd) {
  struct stat created {};
  if (::fstat(fd, &created) != 0) return false;
  const QByteArray mark = FileMarkOf(created);
  return ::fsetxattr(fd, kSaveMark, mark.constData(), static_cast<std::size_t>(mark.size()), 0) ==
         0;
}

QByteArray KelmoSaveName(const QByteArray& name, pid_t process) {
  const auto [folder, file] = Split(name);
  return folder + '.' + file + kSaveMarker + QByteArray::number(process) + '-' +
         QByteArray(kRandomLetters, 'X');
}

// Not QSaveFile: it writes through a symbolic link into the file the link points to, and
// a save must only ever replace the file of the name it was given.
Result<> SaveFileBytes(const FilePath& path, const QByteArray& bytes, Durability durability,
                       FileIdentity* written) {
  if (Result<> replaceable = CheckReplaceable(path); !replaceable) return replaceable;
  const QByteArray& name = path.native;
  const Inherited inherited = InheritedFrom(name);
  QByteArray temporary = KelmoSaveName(name, ::getpid());
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return SystemError(LastErrno(), QObject::tr("に保存できません"), path.shown);
  // Held until the rename: a clean-up in another window leaves a locked file alone. A
  // second descriptor keeps it while the first is closed, which reports late write errors.
  (void)::flock(fd, LOCK_EX);
  const Descriptor lock(::dup(fd));
  int number = 0;
  (void)MarkAsSave(fd);
  // The group where the system lets us keep it (a group we are a member of); the mode
  // after it, since a change of owner may clear the set-group-ID bit.
  if (inherited.group != static_cast<gid_t>(-1))
    (void)::fchown(fd, static_cast<uid_t>(-1), inherited.group);
  if (::fchmod(fd, inherited.mode) != 0 || !WriteAll(fd, bytes) ||
      (durability == Durability::kSynced && ::fsync(fd) != 0)) {
    number = LastErrno();
  }
  // Where the file system keeps extended attributes; without them a session knows only
  // what it wrote itself.
  struct stat status {};
  if (number == 0 && ::fstat(fd, &status) == 0) {
    const QByteArray mark = SavedMarkOf(status);
    (void)::fsetxattr(fd, kSavedMark, mark.constData(), static_cast<std::size_t>(mark.size()), 0);
  }
  if (::close(fd) != 0 && number == 0) number = LastErrno();
  // rename() replaces the name itself: a link there is replaced, its target left alone.
  if (number == 0 && ::rename(temporary.constData(), name.constData()) != 0) number = LastErrno();
  if (number != 0) {
    ::unlink(temporary.constData());  // our own, made above
    return SystemError(number, QObject::tr("に保存できません"), path.shown);
  }
  // After the close, which on a network file system may still change the file's time.
  if (written != nullptr && ::fstat(lock.Get(), &status) == 0) *written = IdentityFrom(status);
  return {};
}

bool SavedByKelmo(const FilePath& path) {
  // Looked at before it is opened: opening a device may do something.
  struct stat named {};
  if (::lstat(path.native.constData(), &named) != 0 || !S_ISREG(named.st_mode)) return false;
  const Descriptor file(
      ::open(path.native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat status {};
  if (!file.Valid() || ::fstat(file.Get(), &status) != 0 || !SameFile(status, named) ||
      status.st_uid != ::geteuid()) {
    return false;
  }
  return HasMark(file.Get(), kSavedMark, SavedMarkOf(status));
}

int RemoveLeftoverSaves(const FilePath& path, std::chrono::seconds olderThan) {
  const auto [folder, file] = Split(path.native);
  const Descriptor directory(
      ::open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.Valid()) return 0;
  const int listing = ::dup(directory.Get());
  DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (entries == nullptr) {
    if (listing >= 0) ::close(listing);
    return 0;
  }
  const QByteArray prefix = '.' + file + kSaveMarker;
  const time_t before = ::time(nullptr) - static_cast<time_t>(olderThan.count());
  int removed = 0;
  while (const dirent* entry = ::readdir(entries)) {
    const QByteArray name(entry->d_name);
    const pid_t saver = SaverOf(name, prefix);
    if (saver == 0) continue;
    const Descriptor leftover(::openat(directory.Get(), entry->d_name,
                                       O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (!leftover.Valid() || ::fstat(leftover.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid()) {
      continue;
    }
    // Made by a save as this very file, not merely named like one.
    if (!HasMark(leftover.Get(), kSaveMark, FileMarkOf(status))) continue;
    // A save in progress holds the lock; one killed lost it with its process.
    if (::flock(leftover.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (Runs(saver) && status.st_mtime > before) continue;
    // Still the very file examined: nothing else is removed under its name.
    struct stat now {};
    if (::fstatat(directory.Get(), entry->d_name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(now, status)) {
      continue;
    }
    if (::unlinkat(directory.Get(), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(entries);
  return removed;
}

Result<QString> KeepAside(const FilePath& path) {
  struct stat status {};
  if (::lstat(path.native.constData(), &status) != 0) {
    return SystemError(LastErrno(), QObject::tr("を別の名前で残せません"), path.shown);
  }
  if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
    return NotRegularFile(path.shown, QObject::tr("を別の名前で残せません"));
  }
  const QByteArray stamp =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
  constexpr int kTries = 100;
  for (int n = 1; n <= kTries; ++n) {
    const QByteArray suffix =
        kKeptMarker + stamp + (n > 1 ? '-' + QByteArray::number(n) : QByteArray());
    const QByteArray kept = path.native + suffix;
    // A second name for the same file: its bytes, owner and times exactly as they were.
    int number =
        ::linkat(AT_FDCWD, path.native.constData(), AT_FDCWD, kept.constData(), 0) == 0 ? 0 : errno;
    if (number == EPERM || number == EXDEV || number == EMLINK || number == EOPNOTSUPP) {
      number = CopyToNewName(path.native, kept);  // a file system without hard links
    }
    if (number == 0) return path.shown + QString::fromLatin1(suffix);
    if (number == EEXIST) continue;
    if (number == static_cast<int>(FileError::kNotRegularFile)) {
      return NotRegularFile(path.shown, QObject::tr("を別の名前で残せません"));
    }
    return SystemError(number, QObject::tr("を別の名前で残せません"), path.shown);
  }
  return SystemError(EEXIST, QObject::tr("を別の名前で残せません"), path.shown);
}

Result<FilePrefix> ReadFilePrefix(const FilePath& path, qsizetype limit,
                                  const std::function<void()>& afterRead) {
  const QByteArray& name = path.native;
  // Refused before it is opened: reading a FIFO takes another program's data, and
  // opening some devices does something.
  struct stat status {};
  if (::stat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
    return NotRegularFile(path.shown, QObject::tr("を読み込めません"));
  }
  // O_NONBLOCK: should a FIFO take the name's place after that check, the open does not
  // hang the window.
  const Descriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.Valid()) return SystemError(LastErrno(), QObject::tr("を開けません"), path.shown);
  std::optional<std::pair<ReadState, QByteArray>> quiet;  // the read before
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (::fstat(fd.Get(), &status) != 0) {
      return SystemError(LastErrno(), QObject::tr("を読めません"), path.shown);
    }
    if (!S_ISREG(status.st_mode))
      return NotRegularFile(path.shown, QObject::tr("を読み込めません"));
    const ReadState before{IdentityFrom(status), status.st_ctim};
    FilePrefix out;
    out.bytes.resize(limit + 1);  // one byte more tells whether the file goes on
    qsizetype got = 0;
    while (got < out.bytes.size()) {
      const ssize_t n = ::pread(fd.Get(), out.bytes.data() + got,
                                static_cast<std::size_t>(out.bytes.size() - got), got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return SystemError(LastErrno(), QObject::tr("を読めません"), path.shown);
      if (n == 0) break;
      got += n;
    }
    if (afterRead) afterRead();
    if (::fstat(fd.Get(), &status) != 0) {
      return SystemError(LastErrno(), QObject::tr("を読めません"), path.shown);
    }
    const ReadState after{IdentityFrom(status), status.st_ctim};
    // Changed during the read, or a length that is not the file's: read it again.
    if (!(before == after) || (got <= limit && got != status.st_size)) {
      std::this_thread::sleep_for(kAfterChange);
      continue;
    }
    out.wholeFile = got <= limit;
    out.bytes.resize(std::min(got, limit));
    // The same bytes a moment later, or it is still being written.
    if (!(quiet && quiet->first == after && quiet->second == out.bytes)) {
      quiet.emplace(after, out.bytes);
      std::this_thread::sleep_for(kQuiet);
      continue;
    }
    return out;
  }
  return Error(FileError::kChangedWhileRead,
               QObject::tr("%1 を読み込めません: 読んでいる間に書き換えられ続けました。"
                           "書き換えが終わってから、もう一度読み込んでください。")
                   .arg(path.shown));
}

QString SystemErrorText(int number) {
  char buffer[256];
  // The GNU strerror_r, which follows LC_MESSAGES (set from the environment by Qt), in
  // the locale's character set: Qt 6 would take it for UTF-8.
  return QString::fromStdString(LocaleToUtf8(::strerror_r(number, buffer, sizeof buffer)));
}

// ---- Whose file it is ----

Result<> CheckOwnedByUser(const FilePath& path, const QString& what, Ownership check) {
  // Not faccessat: root may read and write anyone's file, and another user's file that
  // lets others write it passes a check of permissions, yet neither is the user's own.
  // A directory, FIFO or device is left to the checks that refuse it as such.
  const auto othersOwner = [&path](bool followLink) -> std::optional<uid_t> {
    struct stat status {};
    const int got = followLink ? ::stat(path.native.constData(), &status)
                               : ::lstat(path.native.constData(), &status);
    if (got != 0 || !(S_ISREG(status.st_mode) || S_ISLNK(status.st_mode)) ||
        status.st_uid == ::geteuid()) {
      return std::nullopt;
    }
    return status.st_uid;
  };
  std::optional<uid_t> found = othersOwner(false);
  if (!found && check == Ownership::kNameAndTarget) found = othersOwner(true);
  if (!found) return {};
  return Error(FileError::kNotOwned,
               QObject::tr("%1 %2: 他のユーザー (uid %3) のファイルです。自分のファイルとしては"
                           "扱いません。そのままにしました。")
                   .arg(path.shown, what)
                   .arg(static_cast<qulonglong>(*found)));
}

}  // namespace kelmo

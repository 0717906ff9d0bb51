// Every file operation Kelmo makes: whole-file saves, bounded reads, keeping a file aside
// and clearing what killed saves left. A failure is the errno and the system's text for
// it, or one of FileError's numbers.
//
// The rule every function here keeps:
//
//   Kelmo deletes or replaces only a file it created itself. A file it did not create —
//   whatever its name — is never deleted, never replaced and never read as if it were
//   Kelmo's without the user being told.
//
// How each operation keeps it:
// - SaveFileBytes writes a new file under a name no user types (KelmoSaveName), marks it
//   as Kelmo's (SavedByKelmo) and renames it over the target. It refuses a target that is
//   a directory, FIFO or device (or a link to one) and a read-only file, whoever runs it.
//   The address file is replaced only on the user's own command to save it; the scratch
//   file's caller first keeps aside (KeepAside) a file that is not as Kelmo left it.
// - RemoveLeftoverSaves removes only files of that save name, owned by this user, marked
//   by the save that made them as that very file (MarkAsSave: a copy or a look-alike is
//   not), whose save has ended (its lock is free) and whose saver is gone or long done.
// - ReadFilePrefix reads only a regular file, and reports one that changes under the read
//   rather than handing back part of it.
// - KeepAside never overwrites: it makes a new name for the existing file.
// Names go to the system as bytes, never through a decoded path: a folder named in
// Shift_JIS works as any other.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QDir>
#include <QString>
#include <chrono>
#include <ctime>
#include <functional>
#include <optional>

#include "error/error.h"

namespace kelmo {

// Failures of ours among the system's errno values.
enum class FileError : int {
  kNotRegularFile = 1005,    // a directory, FIFO or device where a file is to be read or saved
  kChangedWhileRead = 1006,  // the file was rewritten while it was read, again and again
  kKeptAside = 1008,         // not a failure: a file we did not write was kept under a new name
  kNotOwned = 1009,          // another user's file, to be read or replaced as if it were ours
};

// A file as the system is given it and as messages name it.
struct FilePath {
  FilePath() = default;
  // A name as the program spells it, in UTF-8; relative to the working directory or not.
  FilePath(const QString& name);  // NOLINT(google-explicit-constructor): tests and callers
  FilePath(QByteArray nativeName, QString shownName)
      : native(std::move(nativeName)), shown(std::move(shownName)) {}

  // `name` in `folder`. A relative folder (the working directory, QDir()) stays relative
  // for the system, so that a folder name that is not UTF-8 is never decoded on the way;
  // the message shows the working directory decoded as well as it can be.
  static FilePath InFolder(const QDir& folder, const QString& name);

  QByteArray native;  // for the system
  QString shown;      // for the user: with its folder where the caller gave one
};

// A folder's or file's name as bytes, decoded for a message: UTF-8 where it is UTF-8,
// else code page 932 where it is that (names from older Japanese systems), else the bytes
// as \xHH.
QString ShownName(const QByteArray& native);

// What identifies one version of one file: which file, and when and how long it was last
// written. Another program's file, or ours rewritten by another program, differs.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  friend bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
  }
};

// What stands at the name itself (a link is not followed); nullopt when nothing does.
std::optional<FileIdentity> IdentityOf(const FilePath& path);

enum class Durability {
  kSynced,    // on the disk before the save returns
  kUnsynced,  // a scratch file: whole or absent after a crash is enough
};

// Whether a save could replace what stands at the name: nothing, a regular file that is
// not read-only, or a link (replaced itself; its target is never written). A read-only
// file is refused even for root, who could write it.
Result<> CheckReplaceable(const FilePath& path);

// Replaces the file atomically through a new file renamed over it: readers see the old
// file or the new one, never part of it, and on any failure the old file stays as it was.
// A symbolic link of that name is replaced by the file; its target is never written. The
// file keeps the permissions and, where the system allows, the group of the one it
// replaces. What CheckReplaceable refuses is left alone. `written`, when given, receives
// the identity of the new file. The file is marked as Kelmo's (SavedByKelmo).
Result<> SaveFileBytes(const FilePath& path, const QByteArray& bytes,
                       Durability durability = Durability::kSynced,
                       FileIdentity* written = nullptr);

// Whether the regular file at the name is as a save of Kelmo's left it: its extended
// attribute says so and it has not been written since. False where the file system keeps
// no extended attributes.
bool SavedByKelmo(const FilePath& path);

// The name a save of `name` writes before its rename: hidden, with a marker no user types
// and the saver's process: ".kelmo.ini.kelmo-save-<pid>-" followed by six random letters
// and digits (the last six "X" here).
QByteArray KelmoSaveName(const QByteArray& name, pid_t process);

// Marks a save's new file, as it is made, as that file of Kelmo's (its device and inode in
// an extended attribute). False where the file system keeps no extended attributes: such
// a leftover is then never removed, which costs a hidden file, not the user's data.
bool MarkAsSave(int fd);

// Removes what saves of `path` that never finished (the program killed between writing
// and renaming) left behind: only names KelmoSaveName makes, regular files of this user
// marked by MarkAsSave as themselves, whose save holds no lock on them any more, and whose saver is
// gone or which are older than `olderThan`. A save in progress in another window holds its lock.
// Returns how many.
int RemoveLeftoverSaves(const FilePath& path, std::chrono::seconds olderThan);

// Gives the file at `path` (a link: the link itself) a second name beside it that did
// not exist, "<name>.kelmo-kept-YYYYMMDD-HHMMSS" (then "-2", "-3"...), so that replacing
// `path` keeps its bytes. Returns the new name as messages show it. Copies where the file
// system has no hard links; never overwrites.
Result<QString> KeepAside(const FilePath& path);

struct FilePrefix {
  QByteArray bytes;
  bool wholeFile = false;  // false when the file goes on past `limit`
};

// Reads at most `limit` bytes from the start of a regular file; anything else (a FIFO, a
// device, a directory, or a link to one) is refused with kNotRegularFile and not opened
// for long enough to take anything from it. The file is read twice, a moment apart: one
// that changes while it is read, or between the reads, is read again; kChangedWhileRead
// when it never holds still. `afterRead`, for tests, runs after each read before the file
// is checked.
Result<FilePrefix> ReadFilePrefix(const FilePath& path, qsizetype limit,
                                  const std::function<void()>& afterRead = {});

// Whether the file at the name belongs to the effective user: `kName`, what stands at the
// name itself (a save replaces that, a link too); `kNameAndTarget`, that and, for a link,
// the file it leads to (a load reads that). Another user's regular file or link is refused
// with kNotOwned, for root too: a file someone else left in a shared folder (/tmp) is
// still theirs. Nothing at the name, or a directory, FIFO or device, passes: the caller's
// other checks report those.
enum class Ownership { kName, kNameAndTarget };
Result<> CheckOwnedByUser(const FilePath& path, const QString& what, Ownership check);

// The system's text for an errno in the user's language, as glibc has it; Qt's own
// file error texts are English only.
QString SystemErrorText(int number);

}  // namespace kelmo

// Whole-file reads and writes; a failure is the errno and the system's text for it.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>

#include "error/error.h"

namespace kelmo {

// The one failure of ours among the system's errno values.
enum class FileError : int {
  kNotRegularFile = 1005,  // a directory, FIFO or device where a file is to be saved
};

enum class Durability {
  kSynced,    // on the disk before the save returns
  kUnsynced,  // a scratch file: whole or absent after a crash is enough
};

// Replaces the file atomically through a new file renamed over it: readers see the old
// file or the new one, never part of it, and on any failure the old file stays as it was.
// A symbolic link of that name is replaced by the file; its target is never written. The
// file keeps the permissions and, where the system allows, the group of the one it
// replaces. A name that is, or links to, anything but a regular file is left alone.
Result<> SaveFileBytes(const QString& path, const QByteArray& bytes,
                       Durability durability = Durability::kSynced);

// Removes what saves of `path` that never finished (the program killed between writing
// and renaming) left behind, if older than `olderThan`: a save in progress in another
// window is younger. Returns how many.
int RemoveLeftoverSaves(const QString& path, std::chrono::seconds olderThan);

struct FilePrefix {
  QByteArray bytes;
  bool wholeFile = false;  // false when the file goes on past `limit`
};

// Reads at most `limit` bytes from the start of the file. Never blocks on a FIFO.
Result<FilePrefix> ReadFilePrefix(const QString& path, qsizetype limit);

// The system's text for an errno in the user's language, as glibc has it; Qt's own
// file error texts are English only.
QString SystemErrorText(int number);

}  // namespace kelmo

// A file operation that failed: a number and a description naming the file.
#pragma once

#include <QString>
#include <optional>

namespace kelmo {

// Numbers of our own, for what the system has no errno for.
enum FileErrorNumber : int {
  kTooFewLines = 1001,  // fewer than the two lines an address file holds
  kLineTooLong = 1002,  // a line longer than any address can be
  kNotText = 1003,      // control characters: not a text file
};

struct FileError {
  int number = 0;  // errno, or one of FileErrorNumber
  QString description;
};

// Writes the file in place (create or truncate).
std::optional<FileError> WriteFileBytes(const QString& path, const QByteArray& bytes);

// Replaces the file atomically: on any failure the previous file stays as it was.
std::optional<FileError> SaveFileBytes(const QString& path, const QByteArray& bytes);

struct FilePrefix {
  QByteArray bytes;
  bool wholeFile = false;  // false when the file goes on past `limit`
};

// Reads at most `limit` bytes from the start of the file. Never blocks on a FIFO.
std::optional<FileError> ReadFilePrefix(const QString& path, qsizetype limit, FilePrefix& out);

}  // namespace kelmo

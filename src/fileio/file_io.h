// Whole-file reads and writes that report failures as FileError.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "fileio/file_error.h"

namespace kelmo {

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

// The system's text for an errno in the user's language, as glibc has it; Qt's own
// file error texts are English only.
QString SystemErrorText(int number);

}  // namespace kelmo

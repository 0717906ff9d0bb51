// A file operation that failed: a number and a description naming the file.
#pragma once

#include <QString>

namespace kelmo {

// Numbers of our own, for what the system has no errno for.
enum FileErrorNumber : int {
  kTooFewLines = 1001,  // fewer than the two lines an address file holds
  kLineTooLong = 1002,  // a line longer than any address can be
  kNotText = 1003,      // control characters: not a text file
  kNotStorable = 1004,  // characters the file's code page has no form for
};

struct FileError {
  int number = 0;  // errno, or one of FileErrorNumber
  QString description;
};

}  // namespace kelmo

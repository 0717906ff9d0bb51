// The scratch file character mode keeps the body in, for whoever reads it.
#pragma once

#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "error/error.h"
#include "fileio/file_io.h"

namespace kelmo {

inline const QString kScratchFileName = QStringLiteral("temp.tmp");

// The file's bytes: an empty line, then the body, each ending in CR LF, in code page 932.
std::string ScratchFileBytes(std::u16string_view body);

// When the file is written, and what happens when it cannot be. A keystroke must not
// rewrite a long body's file: a change is written within kInterval, the first change
// starting the wait. The count never depends on the file, so a folder we cannot write to
// costs one report until a write succeeds again, not the count or the text.
// A temp.tmp Kelmo did not write (the user's notes, another program's file, or one edited
// since) is kept under a new name beside it before it is first replaced, and the report
// says where. Kelmo's own is one this window wrote, or one marked by an earlier session's
// save and not written since (where the file system keeps the mark).
class ScratchFile {
 public:
  static constexpr std::chrono::milliseconds kInterval{300};

  // `body` gives the body as it is to be written (CR LF); `report` shows a failure, or
  // where a file we did not write was kept (FileError::kKeptAside).
  ScratchFile(FilePath path, std::function<std::u16string()> body,
              std::function<void(const Error&)> report);
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // The body changed: written within kInterval.
  void BodyChanged();
  // Writes a change still waiting, now.
  void Flush();
  // Writes the body now.
  void Write();
  // Writes the body now unless the file already holds it (no change waits, the last write
  // worked and the file is still the one written): for a window about to close, which
  // must know. A failure is returned,
  // not reported; where a file we did not write was kept still is.
  Result<> Settle();
  // Failures from now on are not reported: nothing is left to show them in.
  void StopReporting() { m_reporting = false; }

 private:
  // Whether the file at the name may be replaced: keeps one this window did not write,
  // and gives the notice that says where.
  bool KeepOthersFile(std::optional<Error>& notice);
  void Report(const Error& error);

  FilePath m_path;
  std::optional<FileIdentity> m_written;    // what the last write of this window left
  std::optional<FileIdentity> m_keptAside;  // the file this window last kept aside
  std::function<std::u16string()> m_body;
  std::function<void(const Error&)> m_report;
  QTimer m_timer;           // runs while a change waits to be written
  bool m_failing = false;   // reported once until a write succeeds again
  bool m_reporting = true;  // false once nothing is left to show a failure in
  bool m_settling = false;  // a failure is returned by Settle rather than reported
  Error m_lastError;        // why the last write failed, while m_failing
};

}  // namespace kelmo

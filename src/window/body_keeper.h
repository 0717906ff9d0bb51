// Where the body is kept while character mode counts it: the scratch file, written
// shortly after each change, and at once when the mode or the whole text changes. Knows
// whether the body is kept when the window is to close, and says so when it is not.
#pragma once

#include <QCoreApplication>
#include <cstdint>
#include <functional>
#include <string>

#include "datafiles/scratch_file.h"
#include "error/error.h"
#include "fileio/file_io.h"

namespace kelmo {

class MessageModel;

class BodyKeeper {
  Q_DECLARE_TR_FUNCTIONS(BodyKeeper)

 public:
  // Keeps `body` (as written: CR LF) in the file at `path` while `model` is in character
  // mode; `edits` counts the body's edits, so that a close can tell the body that could
  // not be kept from a later one. `report` shows a failure, or where a file Kelmo did not
  // write was kept.
  BodyKeeper(FilePath path, const MessageModel& model, std::function<std::u16string()> body,
             std::function<std::int64_t()> edits, std::function<void(const Error&)> report);
  // A change still waiting is written, unreported: nothing is left to show a failure.
  ~BodyKeeper();
  BodyKeeper(const BodyKeeper&) = delete;
  BodyKeeper& operator=(const BodyKeeper&) = delete;

  // The body changed: kept shortly, in character mode.
  void BodyEdited();
  // Before byte mode begins: the file keeps the body as character mode left it.
  void CharacterModeEnds() { m_file.Flush(); }
  // Once character mode has begun: the body as it stands now.
  void CharacterModeBegan() { m_file.Write(); }
  // After the whole message was cleared: the emptied body, at once, in character mode.
  void Cleared();
  // Writes a change still waiting now rather than shortly.
  void Flush() { m_file.Flush(); }

  // Whether the window may close: in byte mode, or with the body in the file. When it
  // cannot be written (a full disk), says so and answers no, so that the body can be
  // copied elsewhere; asked again with the body as it was, answers yes: the user has been
  // told, and a disk that stays full must not keep the window (or a logout) waiting.
  bool KeptForClose();
  // The display is gone and the program ends next: in character mode the body is written
  // unless the file holds it already (a failed write is tried again), and a failure is
  // said again. Errors from now on go to standard error (see DisplayGone).
  void KeepWithoutDisplay();
  bool DisplayGone() const { return m_displayGone; }

 private:
  const MessageModel& m_model;
  std::function<std::int64_t()> m_edits;
  std::function<void(const Error&)> m_report;
  bool m_displayGone = false;
  std::int64_t m_editsUnkept = -1;  // the body's edits when a close could not keep it
  ScratchFile m_file;
};

}  // namespace kelmo

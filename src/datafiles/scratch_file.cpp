#include "datafiles/scratch_file.h"

#include <QByteArray>
#include <QObject>
#include <utility>

#include "codec/codec.h"
#include "error/error.h"
#include "fileio/file_io.h"

namespace kelmo {

std::string ScratchFileBytes(std::u16string_view body) {
  std::string bytes = "\r\n";
  bytes += EncodeCp932(body);
  bytes += "\r\n";
  return bytes;
}

ScratchFile::ScratchFile(FilePath path, std::function<std::u16string()> body,
                         std::function<void(const Error&)> report)
    : m_path(std::move(path)), m_body(std::move(body)), m_report(std::move(report)) {
  m_timer.setSingleShot(true);
  m_timer.setInterval(kInterval);
  QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { Write(); });
}

void ScratchFile::BodyChanged() {
  if (!m_timer.isActive()) m_timer.start();
}

void ScratchFile::Flush() {
  if (m_timer.isActive()) Write();
}

// A new file renamed over the old one: never seen half-written, and never written through
// a link. Whole or absent after a crash is enough for a scratch file. What is to be said is
// said only once the state is settled: a message box runs the event loop, where a close, a
// signal or the display's end may ask whether the body is written.
void ScratchFile::Write() {
  m_timer.stop();
  const std::string bytes = ScratchFileBytes(m_body());
  const bool reported = m_failing;
  std::optional<Error> notice;
  if (!KeepOthersFile(notice)) {
    m_failing = true;
    if (!reported && !m_settling) Report(m_lastError);
    return;
  }
  FileIdentity written;
  const Result<> saved = SaveFileBytes(
      m_path, QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())),
      Durability::kUnsynced, &written);
  m_failing = !saved;
  if (saved) {
    m_written = written;
  } else {
    m_lastError = saved.error();
  }
  if (notice) Report(*notice);
  if (!saved && !reported && !m_settling) Report(saved.error());
}

bool ScratchFile::KeepOthersFile(std::optional<Error>& notice) {
  const std::optional<FileIdentity> there = IdentityOf(m_path);
  // Ours: written by this window, or left by an earlier session and not written since.
  // One already kept aside (a save after it failed) is not kept a second time.
  if (!there || there == m_written || there == m_keptAside || SavedByKelmo(m_path)) return true;
  // What no save replaces (a directory, a FIFO, a read-only file) the save reports.
  if (!CheckReplaceable(m_path)) return true;
  const Result<QString> kept = KeepAside(m_path);
  if (!kept) {
    m_lastError = kept.error();
    m_lastError.description += QObject::tr(" 上書きしませんでした。");
    return false;
  }
  m_keptAside = there;
  notice = Error(FileError::kKeptAside,
                 QObject::tr("%1 は Kelmo が書いたままのファイルではないため、上書きする前に "
                             "%2 として残しました。")
                     .arg(m_path.shown, *kept));
  return true;
}

void ScratchFile::Report(const Error& error) {
  if (m_reporting) m_report(error);
}

Result<> ScratchFile::Settle() {
  // Written and still there as written: not replaced by another window or program since.
  if (!m_timer.isActive() && !m_failing && m_written && IdentityOf(m_path) == m_written) {
    return {};
  }
  m_settling = true;
  Write();
  m_settling = false;
  if (m_failing) return m_lastError;
  return {};
}

}  // namespace kelmo

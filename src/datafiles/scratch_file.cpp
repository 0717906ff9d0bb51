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
// a link. Whole or absent after a crash is enough for a scratch file.
void ScratchFile::Write() {
  m_timer.stop();
  const std::string bytes = ScratchFileBytes(m_body());
  const bool reported = m_failing;
  if (!KeepOthersFile()) {
    m_failing = true;
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
    if (!reported && !m_settling) Report(saved.error());
  }
}

bool ScratchFile::KeepOthersFile() {
  const std::optional<FileIdentity> there = IdentityOf(m_path);
  // Ours: written by this window, or left by an earlier session and not written since.
  if (!there || there == m_written || SavedByKelmo(m_path)) return true;
  // What no save replaces (a directory, a FIFO, a read-only file) the save reports.
  if (!CheckReplaceable(m_path)) return true;
  const Result<QString> kept = KeepAside(m_path);
  if (!kept) {
    m_lastError = kept.error();
    m_lastError.description += QObject::tr(" 上書きしませんでした。");
    if (!m_failing && !m_settling) Report(m_lastError);
    return false;
  }
  Report(Error(FileError::kKeptAside,
               QObject::tr("%1 は Kelmo が書いたままのファイルではないため、上書きする前に "
                           "%2 として残しました。")
                   .arg(m_path.shown, *kept)));
  return true;
}

void ScratchFile::Report(const Error& error) {
  if (m_reporting) m_report(error);
}

Result<> ScratchFile::Settle() {
  if (!m_timer.isActive() && !m_failing) return {};
  m_settling = true;
  Write();
  m_settling = false;
  if (m_failing) return m_lastError;
  return {};
}

}  // namespace kelmo

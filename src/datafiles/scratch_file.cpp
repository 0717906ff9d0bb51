#include "datafiles/scratch_file.h"

#include <QByteArray>
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

ScratchFile::ScratchFile(QString path, std::function<std::u16string()> body,
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
  const Result<> saved = SaveFileBytes(
      m_path, QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())),
      Durability::kUnsynced);
  const bool reported = m_failing;
  m_failing = !saved;
  if (!saved) m_lastError = saved.error();
  if (!saved && !reported && m_reporting) m_report(saved.error());
}

Result<> ScratchFile::Settle() {
  if (!m_timer.isActive() && !m_failing) return {};
  const bool reporting = std::exchange(m_reporting, false);
  Write();
  m_reporting = reporting;
  if (m_failing) return m_lastError;
  return {};
}

}  // namespace kelmo

#include "window/body_keeper.h"

#include <QLatin1Char>
#include <utility>

#include "message/message_model.h"

namespace kelmo {
namespace {

// A write of the scratch file that failed as the window goes: what failed, and what it
// means for the body.
Error BodyNotKept(const Error& failed, const QString& meaning) {
  return Error(failed.number, failed.description + QLatin1Char('\n') + meaning);
}

}  // namespace

BodyKeeper::BodyKeeper(FilePath path, const MessageModel& model,
                       std::function<std::u16string()> body, std::function<std::int64_t()> edits,
                       std::function<void(const Error&)> report)
    : m_model(model),
      m_edits(std::move(edits)),
      m_report(std::move(report)),
      m_file(std::move(path), std::move(body), [this](const Error& error) { m_report(error); }) {}

BodyKeeper::~BodyKeeper() {
  m_file.StopReporting();
  m_file.Flush();
}

void BodyKeeper::BodyEdited() {
  if (!m_model.ByteMode()) m_file.BodyChanged();
}

void BodyKeeper::Cleared() {
  if (!m_model.ByteMode()) m_file.Write();
}

bool BodyKeeper::KeptForClose() {
  if (m_model.ByteMode()) return true;
  const Result<> settled = m_file.Settle();
  if (settled || m_edits() == m_editsUnkept) return true;
  m_editsUnkept = m_edits();
  m_report(BodyNotKept(settled.error(),
                       tr("本文は保存されていません。コピーしてから、もう一度閉じてください。")));
  return false;
}

void BodyKeeper::KeepWithoutDisplay() {
  m_displayGone = true;
  if (m_model.ByteMode()) return;
  if (const Result<> settled = m_file.Settle(); !settled) {
    m_report(BodyNotKept(settled.error(), tr("本文は保存されていません。")));
  }
}

}  // namespace kelmo

#include "window/parts_send.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QShortcut>
#include <algorithm>

#include "codec/line_breaks.h"
#include "measure/mbcs.h"
#include "message/limits.h"
#include "utf16/utf16.h"
#include "window/announcer.h"
#include "window/split_dialog.h"

namespace kelmo {
namespace {

// A box that says something and lets the window go on: the sequence's outcome, or why
// the message cannot go in parts.
void ShowNote(QWidget* window, const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Kelmo"), text,
                              QMessageBox::Ok, window);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace

PartsSend::PartsSend(SendSession& session, const Fields& fields, Announcer& announcer,
                     QWidget* window)
    : QObject(window),
      m_session(session),
      m_fields(fields),
      m_announcer(announcer),
      m_window(window) {
  // Return alone belongs to the body and the focused button; with Ctrl and Shift no field
  // takes it, so the window's shortcut hears it wherever the keyboard is.
  const QKeyCombination keys[] = {
      QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Return),
      QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier | Qt::KeypadModifier, Qt::Key_Enter)};
  for (const QKeyCombination combination : keys) {
    auto* shortcut = new QShortcut(QKeySequence(combination), window);
    connect(shortcut, &QShortcut::activated, this, &PartsSend::Ask);
  }
  m_action = new QAction(ActionText(), this);
  m_action->setObjectName(QStringLiteral("sendInParts"));
  connect(m_action, &QAction::triggered, this, &PartsSend::Ask);
  m_fields.body->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_fields.body, &QWidget::customContextMenuRequested, this, &PartsSend::ShowBodyMenu);

  connect(&m_session, &SendSession::PartSent, this, &PartsSend::PartSent);
  connect(&m_session, &SendSession::SeriesSent, this, &PartsSend::SeriesSent);
  connect(&m_session, &SendSession::PartFailed, this, [this](int series, std::size_t number) {
    // Only a series of the message on record: another message's parts are not these.
    if (m_recordFirstSeries > 0 && series >= m_recordFirstSeries && number - 1 < m_went.size())
      m_went[number - 1] = false;
  });
}

QString PartsSend::ActionText() { return tr("分けて送信…"); }

QString PartsSend::ProblemText(SplitProblem problem) {
  switch (problem) {
    case SplitProblem::kAddressTooLong:
      return tr("自分のアドが長すぎます。分けて送信しても届きません。");
    case SplitProblem::kSubjectTooLong:
      return tr("件名が長すぎます。分けて送信しても届きません。");
    case SplitProblem::kTooManyParts:
      return tr("本文が長すぎます。%1通までしか分けられません。").arg(kMostParts);
    case SplitProblem::kNoRoom:
      break;
  }
  return tr("自分のアドと件名だけで一杯です。本文を分けて送信できません。");
}

PartsSend::Message PartsSend::Current() const {
  return {m_fields.recipient->text(), m_fields.ownAddress->text(), m_fields.subject->text(),
          ToQString(WithCrLf(View(m_fields.body->toPlainText())))};
}

bool PartsSend::Available() const {
  if (m_session.Busy() || m_dialog) return false;
  const Message message = Current();
  return CountInByteMode(LenMbcsRuns(View(message.body)), View(message.ownAddress),
                         View(message.subject))
             .total > kTariff.messageLimit;
}

// The body's own menu (undo, copy, paste…) and the entry, whose availability is that of
// the moment the menu opens.
void PartsSend::ShowBodyMenu(const QPoint& position) {
  QMenu* menu = m_fields.body->createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addSeparator();
  m_action->setEnabled(Available());
  menu->addAction(m_action);
  menu->popup(m_fields.body->viewport()->mapToGlobal(position));
}

void PartsSend::Ask() {
  if (!Available()) return;
  const Message message = Current();
  auto parts = SplitMessage(View(message.body), View(message.ownAddress), View(message.subject));
  if (!parts) {
    ShowNote(m_window, ProblemText(parts.error()));
    return;
  }
  // After a send that stopped, the same message offers only the parts that did not go;
  // any other message, or one all of whose parts went, starts afresh.
  if (!(message == m_sentMessage) || m_went.size() != parts->size() ||
      std::find(m_went.begin(), m_went.end(), false) == m_went.end()) {
    m_sentMessage = {};
    m_went.clear();
  }
  m_dialog = new SplitDialog(*parts, m_went, m_window);
  m_dialog->setAttribute(Qt::WA_DeleteOnClose);
  // What the dialog shows is what goes: the parts are made here, and edits made while they
  // go change the window, not them.
  connect(m_dialog, &QDialog::accepted, this,
          [this, parts = *parts, message] { Send(parts, message); });
  m_dialog->open();
}

void PartsSend::Send(const std::vector<MessagePart>& parts, const Message& message) {
  if (m_session.Busy()) return;
  const bool newRecord = m_went.empty();
  m_sentMessage = message;
  m_went.resize(parts.size(), false);
  std::vector<SeriesMail> mails;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (m_went[k]) continue;
    mails.push_back({k + 1, {message.recipient, message.subject, ToQString(parts[k].body)}});
  }
  const int series =
      m_session.StartSeries(std::move(mails), parts.size(), m_fields.compose->isChecked());
  if (newRecord && series > 0) m_recordFirstSeries = series;
}

void PartsSend::PartSent(std::size_t number, std::size_t count, bool compose) {
  if (number - 1 < m_went.size()) m_went[number - 1] = true;
  m_announcer.Announce(compose ? tr("%1/%2 メールソフトに渡しました").arg(number).arg(count)
                               : tr("%1/%2 送信しました").arg(number).arg(count));
}

void PartsSend::SeriesSent(std::size_t sent, std::size_t count, bool compose) {
  // A compose window may have failed to open late, while later parts went.
  QString text = compose ? tr("%1通のメールをメールソフトに渡しました。").arg(count)
                         : tr("%1通のメールを送信しました。").arg(count);
  if (sent < count) text = SendSession::SeriesWentText(sent, count);
  m_announcer.Announce(text);
  ShowNote(m_window, text);
}

}  // namespace kelmo

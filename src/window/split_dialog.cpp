#include "window/split_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "utf16/utf16.h"

namespace kelmo {
namespace {

// Enough of a share to tell the parts apart; the list stays one line per part.
constexpr qsizetype kFirstWords = 24;

// The first words of a part's share: its line breaks as spaces, cut with an ellipsis.
QString FirstWords(const MessagePart& part, std::size_t count) {
  QString words = ToQString(part.body);
  // The marker and its line break: the list gives the number already.
  if (count > 1) words = words.mid(words.indexOf(QStringLiteral("\r\n")) + 2);
  words = words.simplified();
  if (words.size() > kFirstWords) {
    qsizetype cut = kFirstWords;
    if (words.at(cut - 1).isHighSurrogate()) --cut;  // never half an emoji
    words = words.left(cut) + u'…';
  }
  return words;
}

}  // namespace

QString SplitDialog::PartLine(const MessagePart& part, std::size_t number, std::size_t count) {
  return tr("%1/%2\u3000%3バイト\u3000%4")
      .arg(number)
      .arg(count)
      .arg(part.total)
      .arg(FirstWords(part, count));
}

SplitDialog::SplitDialog(const std::vector<MessagePart>& parts, const std::vector<bool>& went,
                         QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("分けて送信"));
  auto sent = [&went](std::size_t k) { return k < went.size() && went[k]; };
  std::size_t left = 0;
  for (std::size_t k = 0; k < parts.size(); ++k) left += sent(k) ? 0U : 1U;
  QString summary = tr("このメッセージは%1通のメールに分けて送信されます。").arg(parts.size());
  if (left < parts.size()) summary += tr("%1通は送信済みです。").arg(parts.size() - left);
  m_summary = new QLabel(summary, this);
  m_summary->setWordWrap(true);

  m_parts = new QListWidget(this);
  m_parts->setAccessibleName(tr("%1通のメール").arg(parts.size()));
  m_parts->setAccessibleDescription(m_summary->text());
  for (std::size_t k = 0; k < parts.size(); ++k) {
    QString line = PartLine(parts[k], k + 1, parts.size());
    if (sent(k)) line += tr("（送信済み）");
    auto* item = new QListWidgetItem(line, m_parts);
    item->setData(Qt::AccessibleTextRole, item->text());
  }
  m_parts->setCurrentRow(0);
  m_summary->setBuddy(m_parts);

  auto* buttons = new QDialogButtonBox(this);
  m_send = buttons->addButton(
      left < parts.size() ? tr("残り%1通送信").arg(left) : tr("%1通送信").arg(parts.size()),
      QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("キャンセル"), QDialogButtonBox::RejectRole);
  m_send->setDefault(true);
  m_send->setAutoDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_summary);
  layout->addWidget(m_parts);
  layout->addWidget(buttons);
  // The list has the keyboard, so that a screen reader speaks the parts at once; Return in
  // it still presses the default button.
  m_parts->setFocus();
}

}  // namespace kelmo

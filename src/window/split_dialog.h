// The question before a message goes as several mails: how many it becomes and each part
// (its number, its size by the window's measure, its first words), in a list a screen
// reader reads item by item. Return sends all parts (those not sent yet); Escape or キャンセル
// sends nothing.
#pragma once

#include <QDialog>
#include <vector>

#include "message/split.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace kelmo {

class SplitDialog : public QDialog {
  Q_OBJECT

 public:
  // At least one part. `went`, when given, says for each part whether it was sent already
  // (an earlier send of the same message that stopped): those are shown as sent, and the
  // default button sends the others.
  explicit SplitDialog(const std::vector<MessagePart>& parts, const std::vector<bool>& went = {},
                       QWidget* parent = nullptr);

  // "N通送信" or "残りN通送信", the default: accepts the dialog.
  QPushButton* SendButton() const { return m_send; }

  // A part's line in the list: "2/3　384バイト　明日は三時から…".
  static QString PartLine(const MessagePart& part, std::size_t number, std::size_t count);

 private:
  QLabel* m_summary = nullptr;
  QListWidget* m_parts = nullptr;
  QPushButton* m_send = nullptr;
};

}  // namespace kelmo

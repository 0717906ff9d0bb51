// A message past the whole-message limit, sent in parts when the user asks for it: by
// Ctrl+Shift+Return in any field or by 分けて送信… in the body's context menu. It asks
// first (SplitDialog), hands the parts to the send session one after another, shows and
// announces the progress and the outcome, and remembers which parts went, so that after a
// part failed the rest can go without the others going twice.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <vector>

#include "message/split.h"
#include "window/send_session.h"
#include "window/split_dialog.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace kelmo {

class Announcer;

class PartsSend : public QObject {
  Q_OBJECT

 public:
  // The window's fields the parts are made from, and its 送信確認 box, which picks the way.
  struct Fields {
    QLineEdit* recipient;
    QLineEdit* ownAddress;
    QLineEdit* subject;
    QPlainTextEdit* body;
    QCheckBox* compose;
  };

  // Adds the shortcut to `window` and the entry to the body's context menu.
  PartsSend(SendSession& session, const Fields& fields, Announcer& announcer, QWidget* window);

  // The shortcut and the menu entry: the dialog with the parts, or why splitting cannot
  // help. Nothing while the message fits or a send runs.
  void Ask();
  // Whether asking would do anything now: the message is past a limit and no send runs.
  bool Available() const;
  // The dialog Ask() opened, while it shows.
  SplitDialog* Dialog() const { return m_dialog; }

  // "分けて送信…".
  static QString ActionText();
  // Why a message cannot be sent in parts.
  static QString ProblemText(SplitProblem problem);

 private:
  // The message as the parts are made from it: the body with CR LF.
  struct Message {
    QString recipient;
    QString ownAddress;
    QString subject;
    QString body;
    friend bool operator==(const Message&, const Message&) = default;
  };
  Message Current() const;
  void ShowBodyMenu(const QPoint& position);
  void Send(const std::vector<MessagePart>& parts, const Message& message);
  void PartSent(std::size_t number, std::size_t count, bool compose);
  void SeriesSent(std::size_t sent, std::size_t count, bool compose);

  SendSession& m_session;
  Fields m_fields;
  Announcer& m_announcer;
  QWidget* m_window;
  QAction* m_action = nullptr;
  QPointer<SplitDialog> m_dialog;
  // The message last sent in parts, and which of its parts went: while the message stays
  // as it was, asking again offers only the others.
  Message m_sentMessage;
  std::vector<bool> m_went;
  int m_recordFirstSeries = 0;  // the send session's first series of that message
};

}  // namespace kelmo

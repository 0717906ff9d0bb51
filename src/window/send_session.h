// One send at a time, from the press of 送信 to its outcome: which way the mail goes, the
// busy state, an earlier send's late failure, and a close that waits for the send.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "error/error.h"
#include "mail/mail_transport.h"

namespace kelmo {

// The ways the window sends, as its 送信確認 box picks them: straight to the mail system,
// or into the mail client's compose window, from which the user sends it.
struct SendWays {
  std::unique_ptr<MailTransport> direct;
  std::unique_ptr<MailTransport> compose;
};

// The busy cursor of one send: shown once and taken away once, however the send ends.
class BusyCursor {
 public:
  BusyCursor() = default;
  ~BusyCursor() { Hide(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

  void Show();
  void Hide();

 private:
  bool m_shown = false;
};

class SendSession : public QObject {
  Q_OBJECT

 public:
  // `button` starts the sends. It stays enabled and keeps the keyboard during one (a
  // disabled button would pass the keyboard on, and the next keys with it), but a press
  // then does nothing; assistive technology is told that a send runs (the busy state, and
  // the accessible description).
  SendSession(SendWays ways, QWidget* button, QObject* parent = nullptr);
  ~SendSession() override;

  bool Busy() const { return m_busy; }
  // Hands `mail` over, through the compose way or the direct one, and returns without
  // waiting: edits made meanwhile do not change what is sent. Nothing while a send runs.
  void Start(const OutgoingMail& mail, bool compose);
  // The window is being closed. False: it may close now. True: a send runs, which would
  // be lost with the window; CloseDue() comes once it is over.
  bool HoldClose();
  // The ways go, stopping what they started, and nothing is reported any more: for the
  // window's destructor, while the window the reports go to still stands.
  void Drop();

  // What the button's accessible description says while a send runs.
  static QString BusyText();

 Q_SIGNALS:
  // The send running worked; `compose`: it went to a compose window.
  void Sent(bool compose);
  // The send running failed, or an earlier one failed late (a mail client's launcher
  // that was taken as started).
  void Failed(const Error& error);
  // The send a close waited for is over, its outcome reported: the window may close.
  void CloseDue();

 private:
  void Over(int send, bool compose, const Result<>& outcome);
  void ShowBusy(bool busy);

  SendWays m_ways;
  QPointer<QWidget> m_button;
  QString m_buttonDescription;  // the button's own, back once a send is over
  BusyCursor m_cursor;
  bool m_busy = false;           // a mail program has the message and has not answered
  int m_sendsStarted = 0;        // numbers each send, to tell its outcome from a late report
  bool m_closeWhenSent = false;  // the window was closed during the send
};

}  // namespace kelmo

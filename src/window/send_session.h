// One send at a time, from the press of 送信 to its outcome: which way the mail goes, the
// busy state, an earlier send's late failure, and a close that waits for the send.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <memory>
#include <vector>

#include "error/error.h"
#include "mail/mail_transport.h"

namespace kelmo {

// The ways the window sends, as its 送信確認 box picks them: straight to the mail system,
// or into the mail client's compose window, from which the user sends it.
// One mail of a message sent in parts, and its number among them.
struct SeriesMail {
  std::size_t number = 0;  // from 1
  OutgoingMail mail;
};

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
  // Hands `mails` over one after another, in order, through one way, as one send: busy
  // from the first to the last outcome, and a close waits for all of them. Stops at the
  // first that fails. `count`: how many parts the message has (some may have gone before).
  // Nothing while a send runs.
  // Returns the series' number (from 1, rising), which PartFailed() names; 0 when nothing
  // started.
  int StartSeries(std::vector<SeriesMail> mails, std::size_t count, bool compose);
  // The window is being closed. False: it may close now. True: a send runs, which would
  // be lost with the window; CloseDue() comes once it is over.
  bool HoldClose();
  // The ways go, stopping what they started, and nothing is reported any more: for the
  // window's destructor, while the window the reports go to still stands.
  void Drop();

  // What the button's accessible description says while a send runs; with the part
  // being handed over, when a message goes in parts.
  static QString BusyText();
  static QString SeriesBusyText(std::size_t number, std::size_t count);
  // "3通のうち2通を送信しました。"
  static QString SeriesWentText(std::size_t went, std::size_t count);
  // A series stopped at part `failed`: which parts went and which did not, then why.
  static QString SeriesFailureText(std::size_t went, std::size_t count, std::size_t failed,
                                   const QString& why);

 Q_SIGNALS:
  // The send running worked; `compose`: it went to a compose window.
  void Sent(bool compose);
  // The send running failed, or an earlier one failed late (a mail client's launcher
  // that was taken as started).
  void Failed(const Error& error);
  // Part `number` of a series went (handed to a compose window when `compose`).
  void PartSent(std::size_t number, std::size_t count, bool compose);
  // Part `number` of series `series` failed: the series stops there, or it had been taken
  // as handed over (a mail client's launcher that fails late, maybe once a later series
  // runs). Failed() follows, with the whole story.
  void PartFailed(int series, std::size_t number);
  // Every mail of the series went.
  void SeriesSent(std::size_t sent, std::size_t count, bool compose);
  // The send a close waited for is over, its outcome reported: the window may close.
  void CloseDue();

 private:
  // `series` and `number`: the series and part the send belongs to; 0 for a single mail.
  void Over(int send, bool compose, const Result<>& outcome, int series = 0,
            std::size_t number = 0);
  void ShowBusy(bool busy);
  void SendNextInSeries();
  void SeriesOver(std::size_t index, bool current, bool compose, const Result<>& outcome);

  SendWays m_ways;
  QPointer<QWidget> m_button;
  QString m_buttonDescription;  // the button's own, back once a send is over
  QString m_buttonToolTip;      // the same; a series shows its progress there
  BusyCursor m_cursor;
  bool m_busy = false;           // a mail program has the message and has not answered
  int m_sendsStarted = 0;        // numbers each send, to tell its outcome from a late report
  bool m_closeWhenSent = false;  // the window was closed during the send
  // The latest series: its mails, the next to go, and the number of its first send (its
  // sends are numbered one after another), to tell its late failures from others.
  std::vector<SeriesMail> m_series;
  std::size_t m_seriesNext = 0;
  std::size_t m_seriesCount = 0;
  std::size_t m_seriesWent = 0;  // parts of the message sent, counting earlier ones
  bool m_seriesCompose = false;
  int m_seriesFirstSend = 0;
  int m_seriesStarted = 0;           // numbers each series
  std::size_t m_seriesAnswered = 0;  // parts of the latest series whose outcome came
};

}  // namespace kelmo

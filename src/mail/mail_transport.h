// The narrow interface through which a message reaches the user's mail system.
#pragma once

#include <QString>
#include <functional>

#include "error/error.h"

namespace kelmo {

// Numbers of our own for every mail failure; a mail program's exit status goes into the
// description.
enum class MailError : int {
  kNoRecipient = 2001,
  kBadRecipient = 2002,
  kNoMailSystem = 2003,
  kProgramMissing = 2004,
  kCommandLineTooLong = 2005,
  kProgramFailed = 2006,  // could not be started, or crashed
  kTimedOut = 2007,
  kInputNotRead = 2008,     // sendmail ended before it had read the whole message
  kComposeFailed = 2009,    // xdg-email exited with an error status
  kTransportFailed = 2010,  // sendmail exited with an error status
};

// One message as the window hands it over.
struct OutgoingMail {
  QString recipient;
  QString subject;
  QString body;  // line breaks as CR LF
};

// One way of handing a message on: sendmail, a compose window… The window is given the
// ways it chooses from.
class MailTransport {
 public:
  // Receives the outcome of one send: success, or the error.
  using Done = std::function<void(const Result<>&)>;

  virtual ~MailTransport() = default;

  // Starts handing `mail` over without waiting for it. `done` runs once with the outcome:
  // from the event loop, or before Send() returns when the mail cannot even be started.
  // When a mail client's launcher was taken as started while it still runs, `done` runs
  // once more if it then fails, with that failure. A transport destroyed first never runs it.
  virtual void Send(const OutgoingMail& mail, Done done) = 0;
};

// A recipient that can be handed on: one address of letters, digits and ". - _ + /",
// one '@' with text on both sides, at most 254 characters; nothing a header, a URL or a
// command line could take for more than one address.
class Recipient {
 public:
  const QString& Text() const { return m_text; }

 private:
  friend Result<Recipient> CheckRecipient(const QString& recipient);
  explicit Recipient(QString text) : m_text(std::move(text)) {}
  QString m_text;
};

// The recipient as typed, trimmed, or why it cannot be used.
Result<Recipient> CheckRecipient(const QString& recipient);

}  // namespace kelmo

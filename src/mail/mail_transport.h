// The narrow interface through which a message reaches the user's mail system.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <optional>

namespace kelmo {

// Numbers of our own for every mail failure, apart from the system's errno values; a
// mail program's exit status goes into the description.
enum MailErrorNumber : int {
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

class MailError : public std::exception {
 public:
  MailError(int number, QString description)
      : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8()) {}
  int number() const { return m_number; }
  const QString& description() const { return m_description; }
  const char* what() const noexcept override { return m_what.constData(); }

 private:
  int m_number;
  QString m_description;
  QByteArray m_what;
};

// One message as the window hands it over.
struct OutgoingMail {
  QString recipient;
  QString subject;
  QString body;              // line breaks as CR LF
  bool showCompose = false;  // open the mail client's compose window instead of sending
};

class MailTransport {
 public:
  // Receives the outcome of one send: nothing on success.
  using Done = std::function<void(const std::optional<MailError>&)>;

  virtual ~MailTransport() = default;

  // Starts handing `mail` over without waiting for it. `done` runs exactly once: from
  // the event loop, or before send() returns when the mail cannot even be started. A
  // transport destroyed first never runs it.
  virtual void send(const OutgoingMail& mail, Done done) = 0;
};

// Why a recipient cannot be used, if it cannot: empty, or holding a line break or another
// control character that could start a new header line.
std::optional<MailError> CheckRecipient(const QString& recipient);

}  // namespace kelmo

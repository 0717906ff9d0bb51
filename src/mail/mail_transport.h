// The narrow interface through which a message reaches the user's mail system.
#pragma once

#include <QString>
#include <exception>
#include <optional>

namespace kelmo {

// Numbers of our own; errors from a mail program carry that program's exit status.
enum MailErrorNumber : int {
  kNoRecipient = 2001,
  kBadRecipient = 2002,
  kNoMailSystem = 2003,
  kProgramMissing = 2004,
  kCommandLineTooLong = 2005,
  kProgramFailed = 2006,
  kTimedOut = 2007,
  kNotSignedOn = 2008,
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

// Operations in the order a send uses them; each throws MailError when it fails.
class MailTransport {
 public:
  virtual ~MailTransport() = default;
  virtual void signOn() = 0;
  virtual qint32 sessionId() = 0;
  virtual void setSessionId(qint32 id) = 0;
  virtual void compose() = 0;
  virtual void setRecipientDisplayName(const QString& text) = 0;
  virtual void setRecipientAddress(const QString& text) = 0;
  virtual void setSubject(const QString& text) = 0;
  virtual void setNoteText(const QString& text) = 0;
  virtual void send(bool showDialog) = 0;
  virtual void signOff() = 0;
};

// Why a recipient cannot be used, if it cannot: empty, or holding a line break that
// would start a new header line.
std::optional<MailError> CheckRecipient(const QString& recipient);

}  // namespace kelmo

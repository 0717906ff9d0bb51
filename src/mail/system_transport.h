// The Linux mail system behind MailTransport: the user's mail client through
// xdg-email when a compose window is wanted, sendmail otherwise.
#pragma once

#include <QString>
#include <chrono>
#include <memory>
#include <vector>

#include "mail/mail_transport.h"

class QProcess;

namespace kelmo {

// The mailto: URL that opens a compose window filled with these fields (RFC 6068, UTF-8).
QString MailtoUrl(const QString& recipient, const QString& subject, const QString& body);

class SystemMailTransport : public MailTransport {
 public:
  struct Timeouts {
    // How long a mail client's launcher may take before it is left to run on its own.
    std::chrono::milliseconds launcher{5000};
    // How long sendmail may take before it is stopped and reported.
    std::chrono::milliseconds transport{30000};
  };

  SystemMailTransport();
  explicit SystemMailTransport(Timeouts timeouts);
  ~SystemMailTransport() override;

  void signOn() override;
  qint32 sessionId() override;
  void setSessionId(qint32 id) override;
  void compose() override;
  void setRecipientDisplayName(const QString& text) override;
  void setRecipientAddress(const QString& text) override;
  void setSubject(const QString& text) override;
  void setNoteText(const QString& text) override;
  void send(bool showDialog) override;
  void signOff() override;

 private:
  void requireSession() const;
  void openComposeWindow();
  void deliver();

  Timeouts m_timeouts;
  qint32 m_session = 0;  // 0: not signed on
  qint32 m_lastSession = 0;
  bool m_messageBound = false;
  QString m_recipient;
  QString m_subject;
  QString m_body;
  // Launchers that are still running (the mail client they started stays open).
  std::vector<std::unique_ptr<QProcess>> m_launchers;
};

}  // namespace kelmo

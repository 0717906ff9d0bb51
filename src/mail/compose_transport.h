// Hands the message to the user's mail client through xdg-email, which opens a compose
// window filled with it; the user sends it from there.
#pragma once

#include <QString>
#include <chrono>

#include "mail/mail_program.h"
#include "mail/mail_transport.h"

namespace kelmo {

// The mailto: URL that opens a compose window filled with these fields (RFC 6068, UTF-8).
QString MailtoUrl(const QString& recipient, const QString& subject, const QString& body);

class ComposeTransport : public MailTransport {
 public:
  // How long a mail client's launcher may take before it is left to run on its own.
  static constexpr std::chrono::milliseconds kLauncherTimeout{5000};

  explicit ComposeTransport(std::chrono::milliseconds launcherTimeout = kLauncherTimeout)
      : m_launcherTimeout(launcherTimeout) {}

  void Send(const OutgoingMail& mail, Done done) override;

 private:
  std::chrono::milliseconds m_launcherTimeout;
  MailPrograms m_programs;
};

}  // namespace kelmo

// Sends the message itself: sendmail (msmtp-mta, exim, postfix…) reads it on its input.
#pragma once

#include <chrono>

#include "mail/mail_program.h"
#include "mail/mail_transport.h"

namespace kelmo {

class SendmailTransport : public MailTransport {
 public:
  // How long sendmail may take before it is stopped and reported.
  static constexpr std::chrono::milliseconds kTimeout{30000};

  explicit SendmailTransport(std::chrono::milliseconds timeout = kTimeout) : m_timeout(timeout) {}

  void Send(const OutgoingMail& mail, Done done) override;

 private:
  std::chrono::milliseconds m_timeout;
  MailPrograms m_programs;
};

}  // namespace kelmo

// The Linux mail system behind MailTransport: the user's mail client through
// xdg-email when a compose window is wanted, sendmail otherwise.
#pragma once

#include <QString>
#include <chrono>
#include <memory>
#include <vector>

#include "mail/mail_transport.h"

namespace kelmo {

// The mailto: URL that opens a compose window filled with these fields (RFC 6068, UTF-8).
QString MailtoUrl(const QString& recipient, const QString& subject, const QString& body);

class SystemMailTransport : public MailTransport {
 public:
  // How long a mail client's launcher may take before it is left to run on its own, and
  // how long sendmail may take before it is stopped and reported.
  static constexpr std::chrono::milliseconds kLauncherTimeout{5000};
  static constexpr std::chrono::milliseconds kTransportTimeout{30000};
  struct Timeouts {
    std::chrono::milliseconds launcher = kLauncherTimeout;
    std::chrono::milliseconds transport = kTransportTimeout;
  };

  SystemMailTransport();
  explicit SystemMailTransport(Timeouts timeouts);
  // Stops every mail program still running and waits for it, so none is left behind.
  ~SystemMailTransport() override;

  void Send(const OutgoingMail& mail, Done done) override;

 private:
  class Job;
  void OpenComposeWindow(const Recipient& recipient, const OutgoingMail& mail, Done done);
  void Deliver(const Recipient& recipient, const OutgoingMail& mail, Done done);
  Job& NewJob(Done done);

  Timeouts m_timeouts;
  // Mail programs started, the finished ones until the next send.
  std::vector<std::unique_ptr<Job>> m_jobs;
};

}  // namespace kelmo

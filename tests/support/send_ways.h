// The Linux mail system's two ways, as the window program is given them.
#pragma once

#include <memory>

#include "mail/compose_transport.h"
#include "mail/sendmail_transport.h"
#include "window/send_session.h"

namespace kelmo::testing {

inline SendWays SystemSendWays() {
  return {std::make_unique<SendmailTransport>(), std::make_unique<ComposeTransport>()};
}

}  // namespace kelmo::testing

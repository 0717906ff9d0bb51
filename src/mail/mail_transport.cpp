#include "mail/mail_transport.h"

#include <QObject>

namespace kelmo {

Result<Recipient> CheckRecipient(const QString& recipient) {
  QString trimmed = recipient.trimmed();
  if (trimmed.isEmpty()) {
    return Error(MailError::kNoRecipient,
                 QObject::tr("相手のアドが空です。送り先を入れてください。"));
  }
  for (const QChar c : recipient) {
    // U+2028 and U+2029 break lines too, for whatever reads the address as text.
    if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c.category() == QChar::Other_Control ||
        c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph) {
      return Error(MailError::kBadRecipient,
                   QObject::tr("相手のアドに改行か制御文字が入っています。取り除いてください。"));
    }
  }
  return Recipient(std::move(trimmed));
}

}  // namespace kelmo

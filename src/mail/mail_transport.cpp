#include "mail/mail_transport.h"

#include <QObject>
#include <QStringList>
#include <algorithm>

#include "codec/utf8.h"
#include "utf16/utf16.h"

namespace kelmo {

namespace {

// Longer than any address can be (RFC 5321's path less its angle brackets).
constexpr qsizetype kMaxAddressOctets = 254;

// What an address may hold here: letters, digits and the few signs Japanese mobile
// addresses use. Nothing that a mailto: URL, a shell script such as xdg-email or a mail
// client's command line reads as syntax: no quotes, commas, brackets, semicolons, white
// space, '%', '?', '&', '*' or '\\'.
bool IsAddressCharacter(QChar c) {
  const char16_t u = c.unicode();
  return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
         u == u'.' || u == u'-' || u == u'_' || u == u'+' || u == u'/' || u == u'@';
}

bool BreaksLines(QChar c) {
  // U+2028 and U+2029 break lines too, for whatever reads the address as text.
  return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c.category() == QChar::Other_Control ||
         c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
}

}  // namespace

Result<Recipient> CheckRecipient(const QString& recipient) {
  QString trimmed = recipient.trimmed();
  if (trimmed.isEmpty()) {
    return Error(MailError::kNoRecipient,
                 QObject::tr("相手のアドが空です。送り先を入れてください。"));
  }
  if (std::any_of(recipient.begin(), recipient.end(), BreaksLines)) {
    return Error(MailError::kBadRecipient,
                 QObject::tr("相手のアドに改行か制御文字が入っています。取り除いてください。"));
  }
  QStringList refused;
  for (qsizetype i = 0; i < trimmed.size(); ++i) {
    if (IsAddressCharacter(trimmed[i])) continue;
    const auto units =
        static_cast<qsizetype>(CharacterUnits(View(trimmed), static_cast<std::size_t>(i)));
    const QString shown = trimmed[i].isSpace() ? QObject::tr("空白") : trimmed.mid(i, units);
    i += units - 1;
    if (!refused.contains(shown)) refused << shown;
  }
  if (!refused.isEmpty()) {
    return Error(MailError::kBadRecipient,
                 QObject::tr("相手のアドに使えない文字があります: %1 (使えるのは英数字と "
                             ". - _ + / と @ ひとつです。宛先はひとつだけ書いてください)")
                     .arg(refused.join(QLatin1Char(' '))));
  }
  const qsizetype at = trimmed.indexOf(QLatin1Char('@'));
  if (at <= 0 || at == trimmed.size() - 1 || trimmed.indexOf(QLatin1Char('@'), at + 1) >= 0) {
    return Error(MailError::kBadRecipient,
                 QObject::tr("相手のアドがメールアドレスの形 (名前@ドメイン) ではありません。"));
  }
  if (trimmed.size() > kMaxAddressOctets) {
    return Error(MailError::kBadRecipient,
                 QObject::tr("相手のアドが長すぎます (%1 文字、アドは %2 文字まで)。")
                     .arg(trimmed.size())
                     .arg(kMaxAddressOctets));
  }
  return Recipient(std::move(trimmed));
}

}  // namespace kelmo

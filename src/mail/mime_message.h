// The RFC 5322 message handed to sendmail: ISO-2022-JP for plain Japanese,
// UTF-8 in base64 for anything JIS X 0208 cannot hold.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

#include "mail/mail_transport.h"

namespace kelmo {

enum class MailCharset { kIso2022Jp, kUtf8 };

struct MailMessage {
  Recipient recipient;
  QString subject;
  QString body;  // line breaks as CR LF, CR or LF
  QString date;  // RFC 5322 date-time
};

// Replaces the code page 932 look-alikes (— ～ ∥ － ￠ ￡ ￢) with the JIS X 0208
// characters they stand for (― 〜 ‖ − ¢ £ ¬).
QString MapToJisForms(QString text);

// The text in ISO-2022-JP, ending in ASCII; nullopt when a character is not in
// ASCII or JIS X 0208.
std::optional<QByteArray> ToIso2022Jp(QStringView text);

// The subject as it may stand in a header: line breaks and control characters become spaces.
QString SingleLine(const QString& text);

// RFC 2047 "B" encoded-words for the text, none longer than 66 characters, so that
// every folded header line stays within 76.
QList<QByteArray> EncodedWords(QStringView text, MailCharset charset);

// The whole message, lines ending in `newline`; an error for a recipient that cannot
// stand in a To header as it is (characters outside ASCII).
Result<QByteArray> BuildMessage(const MailMessage& message, const QByteArray& newline = "\n");

}  // namespace kelmo

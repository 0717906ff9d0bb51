#include "mail/mime_message.h"

#include <QObject>
#include <algorithm>
#include <array>

#include "codec/codec.h"
#include "codec/line_breaks.h"
#include "mail/mail_transport.h"
#include "utf16/utf16.h"

namespace kelmo {
namespace {

constexpr int kMaxEncodedWord = 66;  // "Subject: " + word fits in 76
constexpr int kMaxLineOctets = 998;  // RFC 5322 line limit, without CR LF
constexpr int kMaxHeaderLine = 78;   // what RFC 5322 asks of every line it can
constexpr int kBase64LineLength = 76;
constexpr char16_t kDelete = 0x7F;

QByteArray CharsetName(MailCharset charset) {
  return charset == MailCharset::kIso2022Jp ? QByteArrayLiteral("ISO-2022-JP")
                                            : QByteArrayLiteral("UTF-8");
}

std::optional<QByteArray> Encode(QStringView text, MailCharset charset) {
  if (charset == MailCharset::kUtf8) return text.toUtf8();
  return ToIso2022Jp(text);
}

// Control characters other than TAB and line breaks have no place in a 7bit text body.
bool HasControls(QStringView text) {
  return std::ranges::any_of(text, [](QChar c) {
    const bool allowed = c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
    return (c.unicode() < 0x20 && !allowed) || c.unicode() == kDelete;
  });
}

// A final line break leaves an empty last line, kept.
QStringList Lines(QStringView text) {
  return ToQString(WithCrLf(View(text))).split(QStringLiteral("\r\n"));
}

// The body in ISO-2022-JP 7bit, each line back in ASCII at its end; nullopt when a
// character or a line does not fit.
std::optional<QByteArray> Iso2022JpBody(QStringView body, const QByteArray& newline) {
  if (HasControls(body)) return std::nullopt;
  QByteArray out;
  for (const QString& line : Lines(body)) {
    const auto encoded = ToIso2022Jp(line);
    if (!encoded || encoded->size() > kMaxLineOctets) return std::nullopt;
    out += *encoded + newline;
  }
  return out;
}

QByteArray Base64Body(QStringView body, const QByteArray& newline) {
  const QByteArray base64 = ToQString(WithCrLf(View(body))).toUtf8().toBase64();
  QByteArray out;
  for (qsizetype i = 0; i < base64.size(); i += kBase64LineLength) {
    out += base64.mid(i, kBase64LineLength) + newline;
  }
  return out;
}

QByteArray SubjectHeader(const QString& subject, MailCharset charset, const QByteArray& newline) {
  const QByteArray name = "Subject: ";
  // Readers drop spaces at either end and may merge runs of them; encoded, they stay.
  bool plainAscii = name.size() + subject.size() <= kMaxHeaderLine &&
                    !subject.contains(QLatin1String("=?")) && subject == subject.simplified();
  for (const QChar c : subject)
    plainAscii = plainAscii && c.unicode() >= 0x20 && c.unicode() < kDelete;
  if (plainAscii) return name + subject.toLatin1() + newline;
  return name + EncodedWords(subject, charset).join(newline + ' ') + newline;
}

// The header line folded at white space into lines of at most 78 octets where it can be:
// before the last space of a run, so that no line holds white space only. A word longer
// than a line stays whole.
QByteArray Folded(const QByteArray& line, const QByteArray& newline) {
  QByteArray out;
  qsizetype start = 0;
  while (line.size() - start > kMaxHeaderLine) {
    qsizetype fold = -1;
    for (qsizetype i = start + 1; i < line.size() && (fold < 0 || i <= start + kMaxHeaderLine);
         ++i) {
      if (line[i] == ' ' && i + 1 < line.size() && line[i + 1] != ' ') fold = i;
    }
    if (fold < 0) break;
    out += line.mid(start, fold - start) + newline;
    start = fold;
  }
  return out + line.mid(start);
}

bool IsAscii(const QString& text) {
  return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < kDelete; });
}

}  // namespace

QString MapToJisForms(QString text) {
  static constexpr std::array<std::pair<char16_t, char16_t>, 7> kLookAlikes{{
      {u'\u2014', u'\u2015'},  // — → ―
      {u'\uFF5E', u'\u301C'},  // ～ → 〜
      {u'\u2225', u'\u2016'},  // ∥ → ‖
      {u'\uFF0D', u'\u2212'},  // － → −
      {u'\uFFE0', u'\u00A2'},  // ￠ → ¢
      {u'\uFFE1', u'\u00A3'},  // ￡ → £
      {u'\uFFE2', u'\u00AC'},  // ￢ → ¬
  }};
  for (const auto& [from, to] : kLookAlikes) text.replace(QChar(from), QChar(to));
  return text;
}

std::optional<QByteArray> ToIso2022Jp(QStringView text) {
  const auto encoded = EncodeIso2022Jp(View(text));
  if (!encoded) return std::nullopt;
  return QByteArray(encoded->data(), static_cast<qsizetype>(encoded->size()));
}

QString SingleLine(const QString& text) {
  QString line = text;
  line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  for (QChar& c : line) {
    if (c.unicode() < 0x20 || c.unicode() == kDelete) c = QLatin1Char(' ');
  }
  return line;
}

QList<QByteArray> EncodedWords(QStringView text, MailCharset charset) {
  const QByteArray prefix = "=?" + CharsetName(charset) + "?B?";
  const qsizetype maxBase64 = (kMaxEncodedWord - prefix.size() - 2) / 4 * 4;
  const qsizetype maxBytes = maxBase64 / 4 * 3;
  QList<QByteArray> words;
  qsizetype start = 0;
  while (start < text.size()) {
    // Every place the word could end, with the bytes it would hold.
    QList<std::pair<qsizetype, QByteArray>> ends;
    qsizetype end = start;
    while (end < text.size()) {
      // Never split a surrogate pair between two words.
      const qsizetype next = end + (text[end].isHighSurrogate() && end + 1 < text.size() &&
                                            text[end + 1].isLowSurrogate()
                                        ? 2
                                        : 1);
      QByteArray bytes = Encode(text.mid(start, next - start), charset).value_or(QByteArray());
      if (bytes.size() > maxBytes && end > start) break;
      ends.append({next, std::move(bytes)});
      end = next;
    }
    // Some readers (GMime among them) join adjacent words before decoding them, and lose
    // what follows base64 padding: a word with more to come ends, where it can, on a whole
    // number of three-byte groups, which need no padding.
    auto chosen = ends.crbegin();
    if (end < text.size()) {
      const auto whole = std::find_if(ends.crbegin(), ends.crend(),
                                      [](const auto& e) { return e.second.size() % 3 == 0; });
      if (whole != ends.crend()) chosen = whole;
    }
    words << prefix + chosen->second.toBase64() + "?=";
    start = chosen->first;
  }
  return words;
}

Result<QByteArray> BuildMessage(const MailMessage& message, const QByteArray& newline) {
  const QString& recipient = message.recipient.Text();
  if (!IsAscii(recipient)) {
    return Error(MailError::kBadRecipient,
                 QObject::tr("相手のアドに半角英数字以外の文字が入っています: %1").arg(recipient));
  }
  const QString subject = SingleLine(message.subject);

  // ISO-2022-JP when subject and body both fit it; UTF-8 otherwise.
  MailCharset charset = MailCharset::kUtf8;
  QString headerSubject = subject;
  std::optional<QByteArray> body;
  const QString jisSubject = MapToJisForms(subject);
  if (ToIso2022Jp(jisSubject)) {
    body = Iso2022JpBody(MapToJisForms(message.body), newline);
    if (body) {
      charset = MailCharset::kIso2022Jp;
      headerSubject = jisSubject;
    }
  }

  QByteArray out;
  out += Folded("To: " + recipient.toLatin1(), newline) + newline;
  out += SubjectHeader(headerSubject, charset, newline);
  out += "Date: " + message.date.toLatin1() + newline;
  out += "MIME-Version: 1.0" + newline;
  out += "Content-Type: text/plain; charset=" + CharsetName(charset) + newline;
  out += "Content-Transfer-Encoding: " +
         QByteArray(charset == MailCharset::kIso2022Jp ? "7bit" : "base64") + newline;
  out += newline;
  out += charset == MailCharset::kIso2022Jp ? *body : Base64Body(message.body, newline);
  return out;
}

}  // namespace kelmo

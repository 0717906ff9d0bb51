// The mail encoder against a second, independent reader: arbitrary recipient, subject
// and body go through Kelmo's message builder and are read back with GMime; the same
// fields go through the mailto: URL builder and are read back with QUrl and RFC 6068.
#include <gmime/gmime.h>

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>
#include <QUrl>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "codec/line_breaks.h"
#include "mail/compose_transport.h"
#include "mail/mail_transport.h"
#include "mail/mime_message.h"
#include "utf16/utf16.h"

using namespace Qt::StringLiterals;

namespace {

void Fail(const char* what, const QByteArray& detail = {}) {
  std::fprintf(stderr, "mail_fuzz: %s\n%s\n", what, detail.constData());
  std::abort();
}

void Check(bool ok, const char* what, const QByteArray& detail = {}) {
  if (!ok) Fail(what, detail);
}

// UTF-8 as it is, a byte order mark at the start included: QString::fromUtf8() drops one
// there, which would make a typed U+FEFF vanish on one side of a comparison only.
QString FromUtf8(QByteArrayView bytes) {
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                     QStringConverter::Flag::Stateless);
  return decoder.decode(bytes);
}

QString Crlf(const QString& text) { return kelmo::ToQString(kelmo::WithCrLf(kelmo::View(text))); }

// The message's own text, line by line: lengths, header names, encoded-words, 7 bits.
void CheckRawMessage(const QByteArray& message, bool iso2022jp) {
  const qsizetype blank = message.indexOf("\n\n");
  Check(blank > 0, "no blank line after the header", message);
  const QByteArray header = message.left(blank);
  const QByteArray body = message.mid(blank + 2);
  for (const QByteArray& line : message.split('\n')) {
    Check(line.size() <= 998, "line over 998 octets", line);
  }
  QStringList names;
  for (const QByteArray& line : header.split('\n')) {
    // Folding happens at white space, so only a line of a single word (white space
    // around it aside) may be longer.
    Check(line.size() <= 78 || !line.trimmed().contains(' '), "header line over 78 octets", line);
    if (line.startsWith(' ') || line.startsWith('\t')) continue;  // folded
    names << QString::fromLatin1(line.left(line.indexOf(':')));
  }
  names.sort();
  Check(names == QStringList{u"Content-Transfer-Encoding"_s, u"Content-Type"_s, u"Date"_s,
                             u"MIME-Version"_s, u"Subject"_s, u"To"_s},
        "headers other than the six written on purpose", header);
  static const QRegularExpression kWord(QStringLiteral("=\\?[^?\\s]+\\?[BbQq]\\?[^?\\s]*\\?="));
  for (auto it = kWord.globalMatch(QString::fromLatin1(header)); it.hasNext();) {
    Check(it.next().capturedLength() <= 75, "encoded-word over 75 characters", header);
  }
  if (!iso2022jp) return;
  for (const char c : body) Check(static_cast<unsigned char>(c) < 0x80, "8-bit ISO-2022-JP", body);
  for (const QByteArray& line : body.split('\n')) {
    const qsizetype escape = line.lastIndexOf('\x1b');
    Check(escape < 0 || line.mid(escape).startsWith("\x1b(B"), "line not back in ASCII at its end",
          line);
  }
}

QString ToUnicode(const QByteArray& bytes, const char* charset) {
  gsize written = 0;
  GError* error = nullptr;
  gchar* utf8 =
      g_convert(bytes.constData(), bytes.size(), "UTF-8", charset, nullptr, &written, &error);
  if (!utf8) Fail("body not in its charset", bytes);
  QString text = FromUtf8(QByteArrayView(utf8, static_cast<qsizetype>(written)));
  g_free(utf8);
  return text;
}

QList<QByteArray> SubjectWords(const QByteArray& message) {
  QByteArray subject;
  bool inSubject = false;
  for (const QByteArray& line : message.left(message.indexOf("\n\n")).split('\n')) {
    if (line.startsWith("Subject: ")) {
      inSubject = true;
      subject = line.mid(9);
    } else if (inSubject && line.startsWith(' ')) {
      subject += line;
    } else {
      inSubject = false;
    }
  }
  return subject.simplified().split(' ');
}

bool HasPaddedWordBeforeAnother(const QByteArray& message) {
  const QList<QByteArray> words = SubjectWords(message);
  for (qsizetype i = 0; i + 1 < words.size(); ++i) {
    if (words[i].endsWith("=?=")) return true;
  }
  return false;
}

// The subject's encoded-words decoded one at a time and joined.
QString SubjectWordByWord(const QByteArray& message) {
  QString text;
  for (const QByteArray& word : SubjectWords(message)) {
    const QList<QByteArray> parts = word.split('?');  // "=", charset, "B", text, "="
    if (parts.size() != 5 || parts[2] != "B") return QStringLiteral("<not an encoded-word>");
    text += ToUnicode(QByteArray::fromBase64(parts[3]), parts[1].constData());
  }
  return text;
}

// GMime's reading of the message: one To header, and subject and body as typed.
void CheckWithGMime(const QByteArray& message, const QString& recipient, const QString& subject,
                    const QString& body) {
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(message.constData(),
                                                          static_cast<std::size_t>(message.size()));
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* parsed = g_mime_parser_construct_message(parser, nullptr);
  Check(parsed != nullptr, "GMime cannot read the message", message);

  GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(parsed));
  int to = 0;
  for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
    GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
    if (g_ascii_strcasecmp(g_mime_header_get_name(header), "To") == 0) {
      ++to;
      // Unfolded: the line breaks go, the white space after them stays.
      const QString value = FromUtf8(g_mime_header_get_raw_value(header))
                                .remove(QLatin1Char('\r'))
                                .remove(QLatin1Char('\n'));
      Check(value.trimmed() == recipient, "To header does not hold the recipient", message);
    }
  }
  Check(to == 1, "not exactly one To header", message);

  const char* decodedSubject = g_mime_message_get_subject(parsed);
  if (FromUtf8(decodedSubject ? decodedSubject : "") != subject) {
    // GMime joins adjacent words before decoding and loses what follows base64 padding.
    // The encoder avoids padding where whole characters allow; where they do not, the
    // words must still read back one by one, as RFC 2047 has them read.
    Check(HasPaddedWordBeforeAnother(message) && SubjectWordByWord(message) == subject,
          "subject read back differs",
          message + "\n--- typed:\n" + subject.toUtf8() + "\n--- read:\n" + decodedSubject);
  }

  GMimeObject* part = g_mime_message_get_mime_part(parsed);
  Check(GMIME_IS_PART(part), "body is not a single part", message);
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
  GMimeStream* decoded = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(content, decoded);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(decoded));
  const char* charset = g_mime_object_get_content_type_parameter(part, "charset");
  const QString readBack = Crlf(ToUnicode(
      QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len)),
      charset ? charset : "US-ASCII"));
  Check(readBack == body, "body read back differs",
        message + "\n--- typed:\n" + body.toUtf8() + "\n--- read:\n" + readBack.toUtf8());

  g_object_unref(decoded);
  g_object_unref(parsed);
  g_object_unref(parser);
  g_object_unref(stream);
}

// The mailto: URL: printable ASCII, valid to a strict parser, and the fields come back.
void CheckMailto(const QString& recipient, const QString& subject, const QString& body) {
  const QString url = kelmo::MailtoUrl(recipient, subject, body);
  for (const QChar c : url) {
    Check(c.unicode() > 0x20 && c.unicode() < 0x7F, "URL not printable ASCII", url.toUtf8());
  }
  Check(QUrl(url, QUrl::StrictMode).isValid(), "URL invalid to QUrl", url.toUtf8());
  Check(url.startsWith(QLatin1String("mailto:")), "not a mailto: URL", url.toUtf8());
  const QString rest = url.mid(7);
  const qsizetype question = rest.indexOf(u'?');
  Check(question >= 0, "no header fields", url.toUtf8());
  auto decode = [](QStringView text) {
    return FromUtf8(QByteArray::fromPercentEncoding(text.toLatin1()));
  };
  Check(decode(QStringView(rest).left(question)) == recipient, "URL recipient differs",
        url.toUtf8());
  QString urlSubject;
  QString urlBody;
  for (const QString& field : rest.mid(question + 1).split(u'&')) {
    const qsizetype equals = field.indexOf(u'=');
    Check(equals > 0, "header field without a value", url.toUtf8());
    const QString name = field.left(equals);
    if (name == u"subject")
      urlSubject = decode(QStringView(field).mid(equals + 1));
    else if (name == u"body")
      urlBody = decode(QStringView(field).mid(equals + 1));
    else
      Fail("unexpected header field in the URL", url.toUtf8());
  }
  Check(urlSubject == subject, "URL subject differs", url.toUtf8());
  Check(urlBody == body, "URL body differs", url.toUtf8());
}

// The recipient rule, written again: no control or line-separating character anywhere;
// trimmed, one address of ASCII letters, digits and ". - _ + /" with one '@' inside it,
// at most 254 characters.
bool UsableInToHeader(const QString& recipient) {
  const bool controls = std::ranges::any_of(recipient, [](QChar c) {
    return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F) ||
           c.unicode() == 0x2028 || c.unicode() == 0x2029;
  });
  const QString address = recipient.trimmed();
  const qsizetype at = address.indexOf(u'@');
  return !controls && !address.isEmpty() && address.size() <= 254 && at > 0 &&
         at == address.lastIndexOf(u'@') && at < address.size() - 1 &&
         std::ranges::all_of(address, [](QChar c) {
           return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                  (c >= u'0' && c <= u'9') || u".-_+/@"_s.contains(c);
         });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_mime_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Recipient, subject and body, separated by NUL bytes, as UTF-8.
  const QList<QByteArray> fields =
      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0');
  const QString recipient = FromUtf8(fields.value(0));
  const QString subject = FromUtf8(fields.value(1));
  const QString body = FromUtf8(fields.value(2));

  const kelmo::Result<kelmo::Recipient> checked = kelmo::CheckRecipient(recipient);
  if (checked) CheckMailto(recipient, kelmo::SingleLine(subject), body);

  const kelmo::Result<QByteArray> built =
      checked ? kelmo::BuildMessage({*checked, subject, body, u"Mon, 7 Dec 2026 12:00:00 +0900"_s})
              : kelmo::Result<QByteArray>(checked.error());
  if (!built) {
    Check(!UsableInToHeader(recipient), "a usable recipient was refused", recipient.toUtf8());
    return 0;
  }
  const QByteArray& message = *built;
  Check(UsableInToHeader(recipient), "an unusable recipient was taken", recipient.toUtf8());
  const bool iso2022jp = message.contains("charset=ISO-2022-JP\n");
  CheckRawMessage(message, iso2022jp);
  const QString sentSubject =
      iso2022jp ? kelmo::MapToJisForms(kelmo::SingleLine(subject)) : kelmo::SingleLine(subject);
  // A 7bit body ends each line, the last one too, with a line break.
  const QString sentBody = iso2022jp ? Crlf(kelmo::MapToJisForms(body)) + u"\r\n"_s : Crlf(body);
  CheckWithGMime(message, recipient.trimmed(), sentSubject, sentBody);
  return 0;
}

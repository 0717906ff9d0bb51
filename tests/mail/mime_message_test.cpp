#include "mail/mime_message.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <QStringDecoder>

#include "mail/mail_transport.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

QString FromIso2022Jp(const QByteArray& bytes) {
  iconv_t cd = iconv_open("UTF-8", "ISO-2022-JP");
  QByteArray out(bytes.size() * 4 + 4, '\0');
  auto* src = const_cast<char*>(bytes.constData());
  std::size_t srcLeft = static_cast<std::size_t>(bytes.size());
  char* dst = out.data();
  std::size_t dstLeft = static_cast<std::size_t>(out.size());
  const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  EXPECT_TRUE(ok) << bytes.toStdString();
  out.truncate(out.size() - static_cast<qsizetype>(dstLeft));
  return QString::fromUtf8(out);
}

// The message's fields as typed: the recipient goes through CheckRecipient first, as it
// does on its way to BuildMessage.
struct Fields {
  QString recipient;
  QString subject;
  QString body;
  QString date;
};

Result<QByteArray> TryBuild(const Fields& fields, const QByteArray& newline = "\n") {
  const Result<Recipient> recipient = CheckRecipient(fields.recipient);
  if (!recipient) return recipient.error();
  return BuildMessage({*recipient, fields.subject, fields.body, fields.date}, newline);
}

QByteArray Build(const Fields& fields, const QByteArray& newline = "\n") {
  const Result<QByteArray> message = TryBuild(fields, newline);
  EXPECT_TRUE(message) << (message ? std::string() : message.error().description.toStdString());
  return message ? *message : QByteArray();
}

// Decodes "=?charset?B?...?=" words joined by folding white space.
QString DecodeWords(const QList<QByteArray>& words, MailCharset charset) {
  QString text;
  for (const QByteArray& word : words) {
    const QByteArray prefix =
        charset == MailCharset::kIso2022Jp ? "=?ISO-2022-JP?B?" : "=?UTF-8?B?";
    EXPECT_TRUE(word.startsWith(prefix) && word.endsWith("?=")) << word.toStdString();
    EXPECT_LE(word.size(), 66) << word.toStdString();
    const QByteArray raw =
        QByteArray::fromBase64(word.mid(prefix.size(), word.size() - prefix.size() - 2));
    if (charset == MailCharset::kIso2022Jp) {
      // Every word stands alone: it returns to ASCII before it ends.
      EXPECT_EQ(raw.lastIndexOf('\x1b'), raw.lastIndexOf("\x1b(B")) << raw.toStdString();
      text += FromIso2022Jp(raw);
    } else {
      auto decoder = QStringDecoder(QStringDecoder::Utf8);
      text += decoder.decode(raw);
      EXPECT_FALSE(decoder.hasError()) << "a word split a character";
    }
  }
  return text;
}

TEST(mime_message, look_alikes_map_to_jis_forms) {
  EXPECT_EQ(MapToJisForms(u"—～∥－￠￡￢abc"_s), u"―〜‖−¢£¬abc"_s);
  EXPECT_EQ(MapToJisForms(u""_s), u""_s);
}

TEST(mime_message, iso_2022_jp_holds_ascii_and_jis_x_0208_only) {
  EXPECT_EQ(ToIso2022Jp(u""), QByteArray(""));
  EXPECT_EQ(ToIso2022Jp(u"abc"), QByteArray("abc"));
  EXPECT_EQ(ToIso2022Jp(u"あa"), QByteArray("\x1b$B$\"\x1b(Ba"));
  EXPECT_EQ(ToIso2022Jp(u"〜"), QByteArray("\x1b$B!A\x1b(B"));
  EXPECT_EQ(ToIso2022Jp(u"―"), QByteArray("\x1b$B!=\x1b(B"));
  EXPECT_EQ(ToIso2022Jp(u"—"), std::nullopt);           // the em dash, until mapped
  EXPECT_EQ(ToIso2022Jp(u"ｱ"), std::nullopt);           // half-width katakana
  EXPECT_EQ(ToIso2022Jp(u"①"), std::nullopt);           // NEC special character
  EXPECT_EQ(ToIso2022Jp(u"\U0001F600"), std::nullopt);  // emoji
  EXPECT_EQ(ToIso2022Jp(u"～"), std::nullopt);          // until mapped to its JIS form
}

TEST(mime_message, encoded_words_round_trip_and_stay_short) {
  struct Row {
    const char* name;
    QString text;
    MailCharset charset;
  };
  const Row rows[] = {
      {"short_japanese", u"件名テスト"_s, MailCharset::kIso2022Jp},
      {"long_japanese", QString(u"長い件名のテストです、折り返されるはず。"_s).repeated(4),
       MailCharset::kIso2022Jp},
      {"mixed_scripts", QString(u"abcかなdef漢字"_s).repeated(6), MailCharset::kIso2022Jp},
      {"ascii", QString(100, QLatin1Char('a')), MailCharset::kIso2022Jp},
      {"utf8_emoji", QString(u"絵文字\U0001F600ｱｲｳ"_s).repeated(8), MailCharset::kUtf8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const QList<QByteArray> words = EncodedWords(row.text, row.charset);
    EXPECT_EQ(DecodeWords(words, row.charset), row.text);
  }
  EXPECT_TRUE(EncodedWords(u"", MailCharset::kUtf8).isEmpty());
}

// Readers that join adjacent words before decoding (GMime) lose what follows padding.
TEST(mime_message, words_with_more_to_come_end_without_padding_where_they_can) {
  struct Row {
    const char* name;
    QString text;
    MailCharset charset;
  };
  const Row rows[] = {
      {"japanese", QString(u"会議の件で連絡します。"_s).repeated(6), MailCharset::kIso2022Jp},
      {"mixed", QString(u"abcかなdef漢字"_s).repeated(6), MailCharset::kIso2022Jp},
      {"utf8_with_spaces", QString(u"会議す 😀 ok "_s).repeated(6), MailCharset::kUtf8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const QList<QByteArray> words = EncodedWords(row.text, row.charset);
    ASSERT_GT(words.size(), 2);
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
      EXPECT_FALSE(words[i].endsWith("=?=")) << " " << words[i].toStdString();
    }
    EXPECT_EQ(DecodeWords(words, row.charset), row.text);
  }
}

TEST(mime_message, plain_japanese_goes_as_iso_2022_jp_7bit) {
  const QByteArray message = Build({u"you@example.jp"_s, u"件名"_s, u"本文です\r\n.\r\nおわり～"_s,
                                    u"Mon, 07 Dec 2026 11:10:52 +0000"_s});
  EXPECT_EQ(message,
            "To: you@example.jp\n"
            "Subject: =?ISO-2022-JP?B?GyRCN29MPhsoQg==?=\n"
            "Date: Mon, 07 Dec 2026 11:10:52 +0000\n"
            "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=ISO-2022-JP\n"
            "Content-Transfer-Encoding: 7bit\n"
            "\n"
            "\x1b$BK\\J8$G$9\x1b(B\n"
            ".\n"
            "\x1b$B$*$o$j!A\x1b(B\n");
}

TEST(mime_message, em_dash_goes_as_iso_2022_jp_like_the_horizontal_bar) {
  for (const QString& subject : {u"会議—連絡"_s, u"会議―連絡"_s}) {
    const QByteArray message = Build({u"a@b.jp"_s, subject, subject, u"date"_s});
    EXPECT_TRUE(message.contains("charset=ISO-2022-JP\n")) << subject.toStdString();
    EXPECT_TRUE(message.endsWith("\n\n\x1b$B2q5D!=O\"Mm\x1b(B\n")) << message.toStdString();
  }
}

TEST(mime_message, anything_else_goes_as_utf8_base64) {
  struct Row {
    const char* name;
    QString subject;
    QString body;
  };
  const Row rows[] = {
      {"halfwidth_katakana_in_body", u"件名"_s, u"ｶﾀｶﾅ"_s},
      {"emoji_in_subject", u"やあ\U0001F600"_s, u"本文"_s},
      {"nec_special_in_body", u"subject"_s, u"①"_s},
      {"control_character_in_body", u"subject"_s, u"a\u0001b"_s},
      {"line_over_998_octets", u"subject"_s, QString(600, QChar(u'あ'))},
      // A byte order mark is text here, however many: none is dropped on the way.
      {"byte_order_marks_at_the_start_of_body", u"subject"_s, u"\uFEFF\uFEFF本文"_s},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const QByteArray message = Build({u"a@b.jp"_s, row.subject, row.body, u"date"_s});
    EXPECT_TRUE(message.contains("Content-Type: text/plain; charset=UTF-8\n"));
    EXPECT_TRUE(message.contains("Content-Transfer-Encoding: base64\n"));
    const QByteArray base64 = message.mid(message.indexOf("\n\n") + 2);
    for (const QByteArray& line : base64.split('\n')) EXPECT_LE(line.size(), 76);
    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    EXPECT_EQ(decoder.decode(QByteArray::fromBase64(base64)), row.body);
  }
}

TEST(mime_message, headers_never_carry_a_line_break_from_the_fields) {
  const QByteArray message =
      Build({u"a@b.jp"_s, u"one\r\nBcc: evil@x.jp\nthree"_s, u"body"_s, u"d"_s});
  EXPECT_FALSE(message.contains("\nBcc:"));
  EXPECT_TRUE(message.contains("Subject: one Bcc: evil@x.jp three\n"));
  EXPECT_FALSE(TryBuild({u"a@b.jp\r\nBcc: evil@x.jp"_s, u"s"_s, u"b"_s, u"d"_s}));
  EXPECT_FALSE(TryBuild({u"a@b.jp\nBcc: evil@x.jp"_s, u"s"_s, u"b"_s, u"d"_s}));
  EXPECT_FALSE(TryBuild({u"あ@b.jp"_s, u"s"_s, u"b"_s, u"d"_s}));
  EXPECT_FALSE(TryBuild({u""_s, u"s"_s, u"b"_s, u"d"_s}));
}

TEST(mime_message, long_subject_folds_within_76_columns) {
  const QString subject = QString(u"とても長い件名"_s).repeated(10);
  const QByteArray message = Build({u"a@b.jp"_s, subject, u""_s, u"d"_s});
  const QByteArray head = message.left(message.indexOf("\n\n"));
  int subjectLines = 0;
  for (const QByteArray& line : head.split('\n')) {
    EXPECT_LE(line.size(), 76) << line.toStdString();
    if (line.startsWith("Subject:") || line.startsWith(' ')) ++subjectLines;
  }
  EXPECT_GT(subjectLines, 2);
}

TEST(mime_message, subject_with_spaces_at_its_ends_is_encoded_to_keep_them) {
  for (const QString& subject :
       {QString(u" leading"_s), QString(u"trailing "_s), QString(u"two  spaces"_s)}) {
    const QByteArray message = Build({u"a@b.jp"_s, subject, u"b"_s, u"d"_s});
    EXPECT_TRUE(message.contains("Subject: =?ISO-2022-JP?B?")) << subject.toStdString();
  }
}

TEST(mime_message, long_to_header_folds_at_white_space) {
  // An address longer than a line cannot be folded: it goes on a line of its own, whole.
  // A word longer than a line cannot be folded: it goes on a line of its own, whole.
  const QByteArray longAddress = QByteArray(90, 'a') + "@example.jp";
  EXPECT_TRUE(Build({QString::fromLatin1(longAddress), u"s"_s, u"b"_s, u"d"_s})
                  .startsWith("To:\n " + longAddress + "\nSubject: s\n"));
}

TEST(mime_message, short_ascii_subject_stays_plain) {
  EXPECT_TRUE(Build({u"a@b.jp"_s, u"Hello"_s, u""_s, u"d"_s}).contains("\nSubject: Hello\n"));
  // Text that would read as an encoded word is encoded itself.
  EXPECT_FALSE(Build({u"a@b.jp"_s, u"=?x?B?YQ==?="_s, u""_s, u"d"_s}).contains("Subject: =?x?"));
}

TEST(mime_message, trailing_line_breaks_are_kept) {
  EXPECT_TRUE(Build({u"a@b.jp"_s, u"s"_s, u""_s, u"d"_s}).endsWith("\n\n\n"));
  EXPECT_TRUE(Build({u"a@b.jp"_s, u"s"_s, u"x"_s, u"d"_s}).endsWith("\n\nx\n"));
  EXPECT_TRUE(Build({u"a@b.jp"_s, u"s"_s, u"x\r\n"_s, u"d"_s}).endsWith("\n\nx\n\n"));
  EXPECT_TRUE(Build({u"a@b.jp"_s, u"s"_s, u"x\r\n\r\n"_s, u"d"_s}).endsWith("\n\nx\n\n\n"));
}

TEST(mime_message, crlf_newline_for_smtp) {
  const QByteArray message = Build({u"a@b.jp"_s, u"s"_s, u"x\r\ny"_s, u"d"_s}, "\r\n");
  EXPECT_TRUE(message.endsWith("\r\n\r\nx\r\ny\r\n"));
  EXPECT_FALSE(message.contains("\r\r"));
}

}  // namespace
}  // namespace kelmo

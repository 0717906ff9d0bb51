// The one recipient a mail program is handed: what is taken, what is refused, and what
// Debian's real xdg-email hands a mail client for it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "mail/compose_transport.h"
#include "support/sandbox.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

constexpr int kBadRecipient = static_cast<int>(MailError::kBadRecipient);
constexpr int kNoRecipient = static_cast<int>(MailError::kNoRecipient);

TEST(recipient, what_is_taken_and_what_is_refused) {
  struct Row {
    const char* name;
    QString typed;
    std::optional<int> refusedWith;  // nothing: taken, trimmed
  };
  const QString local243(243, u'a');
  const Row rows[] = {
      {"plain", u"you@example.jp"_s, {}},
      {"spaces_at_the_ends", u"  you@example.jp "_s, {}},
      {"consecutive_dots", u"taro..yamada@docomo.ne.jp"_s, {}},
      {"dot_before_at", u"taro.@ezweb.ne.jp"_s, {}},
      {"plus_slash_hyphen_underscore", u"a+b/c-d_e@x.jp"_s, {}},
      {"254_characters", local243 + u"@example.jp"_s, {}},
      {"empty", u""_s, kNoRecipient},
      {"only_spaces", u"   "_s, kNoRecipient},
      {"255_characters", local243 + u"a@example.jp"_s, kBadRecipient},
      {"2000_characters", QString(1988, u'a') + u"@example.jp"_s, kBadRecipient},
      {"quote_and_comma_attachment", u"you@example.jp',attachment='file:///home/you/secret',x='"_s,
       kBadRecipient},
      {"double_quote", u"\"you\"@example.jp"_s, kBadRecipient},
      {"two_addresses_with_comma", u"you@example.jp,evil@x.jp"_s, kBadRecipient},
      {"semicolon", u"you@example.jp;evil@x.jp"_s, kBadRecipient},
      {"inner_space", u"you @example.jp"_s, kBadRecipient},
      {"display_name", u"You <you@example.jp>"_s, kBadRecipient},
      {"comment", u"you@example.jp(x)"_s, kBadRecipient},
      {"percent_encoded_quote", u"you%27@example.jp"_s, kBadRecipient},
      {"url_parameters", u"you@example.jp?bcc=evil@x.jp"_s, kBadRecipient},
      {"glob_and_escape", u"*\\@example.jp"_s, kBadRecipient},
      {"shell_syntax", u"$(id)`id`@example.jp"_s, kBadRecipient},
      {"not_ascii", u"あなた@example.jp"_s, kBadRecipient},
      {"full_width_at", u"you＠example.jp"_s, kBadRecipient},
      {"no_at", u"you.example.jp"_s, kBadRecipient},
      {"two_at", u"you@me@example.jp"_s, kBadRecipient},
      {"at_first", u"@example.jp"_s, kBadRecipient},
      {"at_last", u"you@"_s, kBadRecipient},
      {"line_break", u"you@example.jp\r\nBcc: evil@x.jp"_s, kBadRecipient},
      {"line_break_at_the_end", u"you@example.jp\n"_s, kBadRecipient},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Result<Recipient> checked = CheckRecipient(row.typed);
    ASSERT_EQ(checked.has_value(), !row.refusedWith.has_value());
    if (checked) {
      EXPECT_EQ(checked->Text(), row.typed.trimmed());
    } else {
      EXPECT_EQ(checked.error().number, *row.refusedWith);
    }
  }
  // The message names what is in the way.
  const Result<Recipient> quoted = CheckRecipient(u"a'b,c d@x.jp"_s);
  ASSERT_FALSE(quoted);
  EXPECT_TRUE(quoted.error().description.contains(u"' , 空白"_s))
      << quoted.error().description.toStdString();
  // An emoji is named whole, once, however often it stands.
  const Result<Recipient> emoji = CheckRecipient(u"a\U0001F600b\U0001F600@x.jp"_s);
  ASSERT_FALSE(emoji);
  EXPECT_TRUE(emoji.error().description.contains(u": \U0001F600 ("_s))
      << emoji.error().description.toStdString();
}

// Debian's own xdg-email, with Thunderbird as the mailto: handler, runs a stand-in
// "thunderbird" that records its command line: a good address arrives as one address,
// a hostile one never reaches it.
TEST(recipient, real_xdg_email_hands_the_client_one_address) {
  if (!QFile::exists(u"/usr/bin/xdg-email"_s)) GTEST_SKIP() << "no xdg-email (xdg-utils)";
  QTemporaryDir home;
  const QString bin = home.filePath(u"bin"_s);
  QDir().mkpath(bin);
  QDir().mkpath(home.filePath(u"config"_s));
  QDir().mkpath(home.filePath(u"data/applications"_s));
  testing::WriteAll(bin + u"/thunderbird"_s, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$RECORD\"\n");
  QFile::setPermissions(bin + u"/thunderbird"_s, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                     QFileDevice::ReadOther |
                                                     QFileDevice::ExeOther);
  testing::WriteAll(home.filePath(u"data/applications/thunderbird.desktop"_s),
                    "[Desktop Entry]\nType=Application\nName=Thunderbird\n"
                    "Exec=thunderbird %u\nMimeType=x-scheme-handler/mailto;\n");
  testing::WriteAll(home.filePath(u"config/mimeapps.list"_s),
                    "[Default Applications]\nx-scheme-handler/mailto=thunderbird.desktop\n");
  const QString record = home.filePath(u"argv"_s);

  // The desktop xdg-email sees: none it knows, so it asks xdg-mime for the handler.
  const QByteArray saved[] = {qgetenv("PATH"), qgetenv("HOME"), qgetenv("XDG_CONFIG_HOME"),
                              qgetenv("XDG_DATA_HOME"), qgetenv("XDG_CURRENT_DESKTOP")};
  qputenv("PATH", (bin + u":/usr/bin:/bin"_s).toLocal8Bit());
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", home.filePath(u"config"_s).toLocal8Bit());
  qputenv("XDG_DATA_HOME", home.filePath(u"data"_s).toLocal8Bit());
  qunsetenv("XDG_CURRENT_DESKTOP");
  qputenv("RECORD", record.toLocal8Bit());

  struct Row {
    const char* name;
    QString recipient;
    QByteArray commandLine;  // empty: refused, the client never runs
  };
  const Row rows[] = {
      {"plain", u"you@example.jp"_s, "-compose\nto='you@example.jp,',subject=s,body=b\n"},
      {"mobile_dots", u"taro..ya.@docomo.ne.jp"_s,
       "-compose\nto='taro..ya.@docomo.ne.jp,',subject=s,body=b\n"},
      {"attachment", u"you@example.jp',attachment='file:///etc/passwd',x='"_s, ""},
      {"encoded_quote", u"you@example.jp%27,attachment=%27file:///etc/passwd"_s, ""},
      {"second_address", u"you@example.jp,evil@example.jp"_s, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QFile::remove(record);
    ComposeTransport transport(std::chrono::seconds(10));
    std::optional<Result<>> outcome;
    transport.Send({row.recipient, u"s"_s, u"b"_s}, [&](const Result<>& sent) { outcome = sent; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 15000));
    if (row.commandLine.isEmpty()) {
      ASSERT_FALSE(*outcome);
      EXPECT_EQ(outcome->error().number, kBadRecipient);
      EXPECT_FALSE(QFile::exists(record));
    } else {
      EXPECT_TRUE(*outcome) << outcome->error().description.toStdString();
      EXPECT_EQ(testing::ReadAll(record), row.commandLine);
    }
  }
  const char* names[] = {"PATH", "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CURRENT_DESKTOP"};
  for (std::size_t i = 0; i < std::size(names); ++i) qputenv(names[i], saved[i]);
}

}  // namespace
}  // namespace kelmo

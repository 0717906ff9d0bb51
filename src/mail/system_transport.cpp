#include "mail/system_transport.h"

#include <QDateTime>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "mail/mime_message.h"

namespace kelmo {
namespace {

// Linux refuses a single program argument longer than this (MAX_ARG_STRLEN).
constexpr qsizetype kMaxArgumentBytes = 32 * 4096 - 1;
constexpr qsizetype kMaxReportedStderr = 800;

MailError NotSignedOn() {
  return MailError(kNotSignedOn, QObject::tr("メールシステムにつながっていません。"));
}

QString FindXdgEmail() { return QStandardPaths::findExecutable(QStringLiteral("xdg-email")); }

QString FindSendmail() {
  QString path = QStandardPaths::findExecutable(QStringLiteral("sendmail"));
  if (path.isEmpty()) {
    path = QStandardPaths::findExecutable(
        QStringLiteral("sendmail"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/lib")});
  }
  return path;
}

QString XdgEmailFailure(int code) {
  switch (code) {
    case 1:
      return QObject::tr("xdg-email が呼び出し方の誤りを報告しました。");
    case 2:
      return QObject::tr("xdg-email: 指定されたファイルがありません。");
    case 3:
      return QObject::tr("メールソフトが見つかりません。既定のメールソフトを設定してください。");
    case 4:
      return QObject::tr("メールソフトの作成画面を開けませんでした。");
    case 5:
      return QObject::tr("xdg-email: 権限がありません。");
    default:
      return QObject::tr("xdg-email が失敗しました (終了コード %1)。").arg(code);
  }
}

// The meaning of a sendmail exit status, as sysexits.h defines them.
QString SendmailFailure(int code) {
  switch (code) {
    case 64:
      return QObject::tr("使い方の誤り (EX_USAGE)");
    case 65:
      return QObject::tr("メッセージの形式の誤り (EX_DATAERR)");
    case 66:
      return QObject::tr("入力を開けません (EX_NOINPUT)");
    case 67:
      return QObject::tr("宛先のユーザーがいません (EX_NOUSER)");
    case 68:
      return QObject::tr("宛先のホストがありません (EX_NOHOST)");
    case 69:
      return QObject::tr("サービスを使えません (EX_UNAVAILABLE)");
    case 70:
      return QObject::tr("内部エラー (EX_SOFTWARE)");
    case 71:
      return QObject::tr("システムエラー (EX_OSERR)");
    case 72:
      return QObject::tr("システムファイルの誤り (EX_OSFILE)");
    case 73:
      return QObject::tr("出力ファイルを作れません (EX_CANTCREAT)");
    case 74:
      return QObject::tr("入出力エラー (EX_IOERR)");
    case 75:
      return QObject::tr("一時的な失敗です。あとでもう一度送ってください (EX_TEMPFAIL)");
    case 76:
      return QObject::tr("相手のサーバーとのやり取りの誤り (EX_PROTOCOL)");
    case 77:
      return QObject::tr("権限がありません (EX_NOPERM)");
    case 78:
      return QObject::tr("メール送信の設定の誤り (EX_CONFIG)");
    default:
      return QObject::tr("失敗しました");
  }
}

}  // namespace

QString MailtoUrl(const QString& recipient, const QString& subject, const QString& body) {
  // RFC 6068: the address keeps '@' and the delimiters allowed there; header values are
  // encoded but for unreserved characters, so '&', '=', '+', '%' and line breaks survive.
  const QByteArray to = QUrl::toPercentEncoding(recipient, "@!$'()*+,;:");
  const QByteArray fields = "subject=" + QUrl::toPercentEncoding(SingleLine(subject)) +
                            "&body=" + QUrl::toPercentEncoding(body);
  return QString::fromLatin1("mailto:" + to + '?' + fields);
}

SystemMailTransport::SystemMailTransport() : SystemMailTransport(Timeouts{}) {}

SystemMailTransport::SystemMailTransport(Timeouts timeouts) : m_timeouts(timeouts) {}

SystemMailTransport::~SystemMailTransport() {
  // A launcher still running waits on the mail client; the client is its own process and
  // stays open when the launcher goes.
  for (auto& launcher : m_launchers) launcher->kill();
}

void SystemMailTransport::signOn() {
  if (FindXdgEmail().isEmpty() && FindSendmail().isEmpty()) {
    throw MailError(kNoMailSystem,
                    QObject::tr("メールを渡す先がありません。xdg-email (xdg-utils) か sendmail "
                                "(msmtp-mta など) を入れてください。"));
  }
  m_session = ++m_lastSession;
  m_messageBound = false;
}

void SystemMailTransport::requireSession() const {
  if (m_session == 0 || !m_messageBound) throw NotSignedOn();
}

qint32 SystemMailTransport::sessionId() {
  if (m_session == 0) throw NotSignedOn();
  return m_session;
}

void SystemMailTransport::setSessionId(qint32 id) {
  if (m_session == 0 || id != m_session) {
    throw MailError(kNotSignedOn, QObject::tr("メールシステムのセッションが違います。"));
  }
  m_messageBound = true;
}

void SystemMailTransport::compose() {
  requireSession();
  m_recipient.clear();
  m_subject.clear();
  m_body.clear();
}

void SystemMailTransport::setRecipientDisplayName(const QString& text) {
  requireSession();
  if (auto error = CheckRecipient(text)) throw *error;
}

void SystemMailTransport::setRecipientAddress(const QString& text) {
  requireSession();
  if (auto error = CheckRecipient(text)) throw *error;
  m_recipient = text.trimmed();
}

void SystemMailTransport::setSubject(const QString& text) {
  requireSession();
  m_subject = text;
}

void SystemMailTransport::setNoteText(const QString& text) {
  requireSession();
  m_body = text;
}

void SystemMailTransport::send(bool showDialog) {
  requireSession();
  if (showDialog) {
    openComposeWindow();
  } else {
    deliver();
  }
}

void SystemMailTransport::signOff() {
  m_session = 0;
  m_messageBound = false;
}

void SystemMailTransport::openComposeWindow() {
  const QString program = FindXdgEmail();
  if (program.isEmpty()) {
    throw MailError(kProgramMissing,
                    QObject::tr("xdg-email が見つかりません (Debian のパッケージ xdg-utils)。"));
  }
  const QString url = MailtoUrl(m_recipient, m_subject, m_body);
  if (url.size() > kMaxArgumentBytes) {
    throw MailError(
        kCommandLineTooLong,
        QObject::tr(
            "本文が長すぎてメールソフトに渡せません (URL にして %1 バイト、上限 %2 バイト)。"
            "「送信確認」を外して直接送ってください。")
            .arg(url.size())
            .arg(kMaxArgumentBytes));
  }
  std::erase_if(m_launchers, [](const auto& p) { return p->state() == QProcess::NotRunning; });

  auto launcher = std::make_unique<QProcess>();
  launcher->setProcessChannelMode(QProcess::ForwardedOutputChannel);
  launcher->start(program, {url});
  if (!launcher->waitForStarted()) {
    throw MailError(kProgramFailed,
                    QObject::tr("xdg-email を起動できません: %1").arg(launcher->errorString()));
  }
  if (!launcher->waitForFinished(static_cast<int>(m_timeouts.launcher.count()))) {
    // Some clients keep their launcher until the compose window closes: it is open.
    m_launchers.push_back(std::move(launcher));
    return;
  }
  if (launcher->exitStatus() != QProcess::NormalExit) {
    throw MailError(kProgramFailed, QObject::tr("xdg-email が異常終了しました。"));
  }
  if (launcher->exitCode() != 0) {
    throw MailError(launcher->exitCode(), XdgEmailFailure(launcher->exitCode()));
  }
}

void SystemMailTransport::deliver() {
  const QString program = FindSendmail();
  if (program.isEmpty()) {
    throw MailError(
        kProgramMissing,
        QObject::tr(
            "sendmail が見つかりません。msmtp-mta などのメール送信の仕組みを入れてください。"));
  }
  const QByteArray message = BuildMessage(
      {m_recipient, m_subject, m_body, QDateTime::currentDateTime().toString(Qt::RFC2822Date)});

  QProcess sendmail;
  sendmail.start(program, {QStringLiteral("-t"), QStringLiteral("-i")});
  if (!sendmail.waitForStarted()) {
    throw MailError(kProgramFailed,
                    QObject::tr("%1 を起動できません: %2").arg(program, sendmail.errorString()));
  }
  sendmail.write(message);
  sendmail.closeWriteChannel();
  if (!sendmail.waitForFinished(static_cast<int>(m_timeouts.transport.count()))) {
    sendmail.kill();
    sendmail.waitForFinished();
    throw MailError(
        kTimedOut,
        QObject::tr(
            "%1 が %2 秒たっても終わらないので止めました。メールは送られていないかもしれません。")
            .arg(program)
            .arg(m_timeouts.transport.count() / 1000.0));
  }
  const QString diagnostics =
      QString::fromLocal8Bit(sendmail.readAllStandardError().left(kMaxReportedStderr)).trimmed();
  if (sendmail.exitStatus() != QProcess::NormalExit) {
    throw MailError(kProgramFailed,
                    QObject::tr("%1 が異常終了しました。%2").arg(program, diagnostics));
  }
  if (const int code = sendmail.exitCode(); code != 0) {
    QString description = QObject::tr("%1: %2").arg(program, SendmailFailure(code));
    if (!diagnostics.isEmpty()) description += QLatin1Char('\n') + diagnostics;
    throw MailError(code, description);
  }
}

}  // namespace kelmo

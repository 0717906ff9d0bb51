#include "mail/compose_transport.h"

#include <QObject>
#include <QUrl>

#include "mail/mime_message.h"

namespace kelmo {
namespace {

// Linux refuses a single program argument longer than this (MAX_ARG_STRLEN).
constexpr qsizetype kMaxArgumentBytes = 32 * 4096 - 1;

// NOLINTBEGIN(readability-magic-numbers): the exit statuses are the data here
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
      return QObject::tr("xdg-email が失敗しました。");
  }
}
// NOLINTEND(readability-magic-numbers)

}  // namespace

QString MailtoUrl(const QString& recipient, const QString& subject, const QString& body) {
  // RFC 6068: the address keeps '@' and the delimiters allowed there; header values are
  // encoded but for unreserved characters, so '&', '=', '+', '%' and line breaks survive.
  const QByteArray to = QUrl::toPercentEncoding(recipient, "@!$'()*+,;:");
  const QByteArray fields = "subject=" + QUrl::toPercentEncoding(SingleLine(subject)) +
                            "&body=" + QUrl::toPercentEncoding(body);
  return QString::fromLatin1("mailto:" + to + '?' + fields);
}

void ComposeTransport::Send(const OutgoingMail& mail, Done done) {
  m_programs.Prune();
  const Result<Recipient> recipient = CheckSendable(mail);
  if (!recipient) return done(recipient.error());
  const QString program = FindXdgEmail();
  if (program.isEmpty()) {
    return done(Error(MailError::kProgramMissing,
                      QObject::tr("xdg-email が見つかりません (Debian のパッケージ xdg-utils)。")));
  }
  const QString url = MailtoUrl(recipient->Text(), mail.subject, mail.body);
  if (url.size() > kMaxArgumentBytes) {
    return done(
        Error(MailError::kCommandLineTooLong,
              QObject::tr(
                  "本文が長すぎてメールソフトに渡せません (URL にして %1 バイト、上限 %2 バイト)。"
                  "「送信確認」を外して直接送ってください。")
                  .arg(url.size())
                  .arg(kMaxArgumentBytes)));
  }
  MailProgram& job = m_programs.Add(std::move(done));
  job.IgnoreTerminalInterrupts();
  job.Start(program, {url}, QProcess::ForwardedChannels);
  // Some clients keep their launcher until the compose window closes: by then it is open,
  // and the window may go on. A failure it reports later is still reported.
  QObject::connect(&job.Timer(), &QTimer::timeout, &job.Process(),
                   [&job] { job.ReportStartedAndWatch(); });
  QObject::connect(
      &job.Process(), &QProcess::finished, &job.Process(),
      [&job](int code, QProcess::ExitStatus status) {
        if (job.ReportedStarted() && status == QProcess::NormalExit && code == 0) {
          job.End();  // its success was reported already
          return;
        }
        if (status != QProcess::NormalExit) {
          job.Finish(
              Error(MailError::kProgramFailed, QObject::tr("xdg-email が異常終了しました。")));
        } else if (code != 0) {
          job.Finish(Error(MailError::kComposeFailed,
                           XdgEmailFailure(code) + QLatin1Char(' ') + ExitStatus(code)));
        } else {
          job.Finish({});
        }
      });
  job.Timer().start(m_launcherTimeout);
}

}  // namespace kelmo

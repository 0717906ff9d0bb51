#include "mail/sendmail_transport.h"

#include <QDateTime>
#include <QObject>

#include "mail/mime_message.h"

namespace kelmo {
namespace {

// The meaning of a sendmail exit status, as sysexits.h defines them.
QString SendmailFailure(int code) {
  // NOLINTBEGIN(readability-magic-numbers): the exit statuses are the data here
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

// NOLINTEND(readability-magic-numbers)

}  // namespace

void SendmailTransport::Send(const OutgoingMail& mail, Done done) {
  m_programs.Prune();
  const Result<Recipient> recipient = CheckSendable(mail);
  if (!recipient) return done(recipient.error());
  const QString program = FindSendmail();
  if (program.isEmpty()) {
    return done(Error(
        MailError::kProgramMissing,
        QObject::tr(
            "sendmail が見つかりません。msmtp-mta などのメール送信の仕組みを入れてください。")));
  }
  const Result<QByteArray> message =
      BuildMessage({*recipient, mail.subject, mail.body,
                    QDateTime::currentDateTime().toString(Qt::RFC2822Date)});
  if (!message) return done(message.error());

  MailProgram& job = m_programs.Add(std::move(done));
  job.KeepStderrTail();
  QObject::connect(&job.Process(), &QProcess::started, &job.Process(), [&job, bytes = *message] {
    job.Process().write(bytes);
    job.Process().closeWriteChannel();
  });
  const auto limit = m_timeout;
  QObject::connect(&job.Timer(), &QTimer::timeout, &job.Process(), [&job, program, limit] {
    job.StopWith(Error(
        MailError::kTimedOut,
        QObject::tr(
            "%1 が %2 秒たっても終わらないので止めました。メールは送られていないかもしれません。")
            .arg(program)
            .arg(std::chrono::duration<double>(limit).count())));
  });
  QObject::connect(
      &job.Process(), &QProcess::finished, &job.Process(),
      [&job, program](int code, QProcess::ExitStatus status) {
        const QString diagnostics = job.StderrTail();
        if (status != QProcess::NormalExit) {
          job.Finish(Error(MailError::kProgramFailed,
                           QObject::tr("%1 が異常終了しました。%2").arg(program, diagnostics)));
        } else if (code != 0) {
          QString description =
              QObject::tr("%1: %2 %3").arg(program, SendmailFailure(code), ExitStatus(code));
          if (!diagnostics.isEmpty()) description += QLatin1Char('\n') + diagnostics;
          job.Finish(Error(MailError::kTransportFailed, description));
        } else if (job.Process().bytesToWrite() > 0) {
          // It closed its input with part of the message still unread, yet says it sent it.
          job.Finish(Error(MailError::kInputNotRead,
                           QObject::tr("%1 がメッセージを最後まで読まずに終わりました。"
                                       "メールは送られていないかもしれません。%2")
                               .arg(program, diagnostics)));
        } else {
          job.Finish({});
        }
      });
  job.OwnProcessTree();
  job.Start(program, {QStringLiteral("-t"), QStringLiteral("-i")}, QProcess::SeparateChannels);
  job.Timer().start(limit);
}

}  // namespace kelmo

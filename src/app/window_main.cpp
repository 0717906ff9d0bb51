#include <QDir>
#include <QMessageBox>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "app/application.h"
#include "codec/codec.h"
#include "datafiles/data_folder.h"
#include "mail/compose_transport.h"
#include "mail/sendmail_transport.h"
#include "window/main_form.h"

// The window sends through the Linux mail system, straight through sendmail or into the
// mail client's compose window, and keeps its files in the directory it was started in.
int main(int argc, char* argv[]) {
  kelmo::Application app(argc, argv);
  // Every count goes through code page 932: without its converter there is nothing right
  // to show, so the window does not open.
  if (const std::string problem = kelmo::Cp932ConverterProblem(); !problem.empty()) {
    std::fprintf(stderr, "kelmo: no code page 932 converter: %s\n", problem.c_str());
    const kelmo::Error error(EINVAL,
                             QObject::tr("code page 932 の変換器がないので数えられません: %1")
                                 .arg(QString::fromStdString(problem)));
    QMessageBox::critical(nullptr, QStringLiteral("Kelmo"), kelmo::ErrorBoxText(error));
    return 2;
  }
  const QDir dataFolder;
  // What saves killed before their rename left there goes before the window can start one.
  kelmo::DataFolder(dataFolder).RemoveLeftoverSaves();
  kelmo::MainForm form({.direct = std::make_unique<kelmo::SendmailTransport>(),
                        .compose = std::make_unique<kelmo::ComposeTransport>()},
                       dataFolder);
  kelmo::CloseOnTerminationSignals(form);
  kelmo::BeforeDisplayLoss([&form] { form.FlushScratchFileWithoutDisplay(); });
  form.show();
  const int status = kelmo::Application::exec();
  kelmo::BeforeDisplayLoss({});
  return status;
}

#include "app/application.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QTranslator>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

#include "codec/codec.h"

namespace kelmo {

Error DescribeFatal(std::exception_ptr error) {
  try {
    std::rethrow_exception(std::move(error));
  } catch (const std::system_error& e) {
    return {e.code().value(), QString::fromStdString(LocaleToUtf8(e.what()))};
  } catch (const std::bad_alloc&) {
    return {ENOMEM, QObject::tr("メモリが足りません。")};
  } catch (const std::exception& e) {
    return {-1, QString::fromStdString(LocaleToUtf8(e.what()))};
  } catch (...) {
    return {-1, QObject::tr("不明なエラーです。")};
  }
}

namespace {

// The signal handler's one safe way to reach the event loop: a byte down a socket pair.
int g_signalSocket[2] = {-1, -1};

extern "C" void NoteTerminationSignal(int /*signal*/) {
  const int saved = errno;
  const char byte = 1;
  (void)::write(g_signalSocket[0], &byte, 1);
  errno = saved;
}

}  // namespace

void CloseOnTerminationSignals(QWidget& window) {
  if (g_signalSocket[0] < 0 &&
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSocket) != 0) {
    return;  // then the signals end the program as they would anyway
  }
  auto* notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window,
                   [window = QPointer<QWidget>(&window)] {
                     char bytes[16];
                     while (::read(g_signalSocket[1], bytes, sizeof bytes) > 0) {
                     }
                     if (window) window->close();
                   });
  struct sigaction action {};
  action.sa_handler = NoteTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

bool InstallQtTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_ja"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  InstallQtTranslations(*this);
  setApplicationName(QStringLiteral("Kelmo"));
  setApplicationVersion(QStringLiteral(KELMO_VERSION));
  setDesktopFileName(QStringLiteral("org.kelmo.Kelmo"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    QMessageBox::critical(nullptr, applicationName(),
                          ErrorBoxText(DescribeFatal(std::current_exception())));
    std::_Exit(EXIT_FAILURE);
  }
}

}  // namespace kelmo

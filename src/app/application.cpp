#include "app/application.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTranslator>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/measure_command.h"
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

// What the toolkit says, as the program's messages are handled: held back while the
// application object is being made, passed on afterwards.
struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};
std::mutex g_messagesMutex;
bool g_starting = false;
std::vector<HeldMessage> g_held;
QtMessageHandler g_passOn = nullptr;
std::function<void()> g_beforeDisplayLoss;
bool g_displayLost = false;

// The endings of Qt's display connections (xcb and Wayland), after which Qt ends the
// program at once.
bool SaysDisplayLost(const QString& text) {
  return text.contains(QLatin1String("X11 connection broke")) ||
         text.contains(QLatin1String("Wayland connection broke")) ||
         text.contains(QLatin1String("Wayland connection experienced a fatal error"));
}

// No platform could be started: one line on what was named and why it failed, then the
// status of no display at all, rather than Qt's abort (a screenful and a core file).
[[noreturn]] void EndWithoutDisplay(const QString& fatal) {
  QStringList reasons;
  QStringList plugins;
  for (const HeldMessage& message : g_held) {
    // "Could not load the Qt platform plugin …" repeats that the one named before failed;
    // it is the reason only when nothing else is said ("Could not find … plugin").
    (message.category == "qt.qpa.plugin" ? plugins : reasons) << message.text.trimmed();
  }
  if (reasons.isEmpty()) reasons = plugins;
  if (reasons.isEmpty()) reasons << fatal.section(QLatin1Char('\n'), 0, 0).trimmed();
  std::string named;
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    named.append(named.empty() ? "" : " or ").append(variable).append("=").append(Shown(value));
  }
  const std::string line = (named.empty() ? std::string("no display can be reached")
                                          : "no display: " + named + " cannot be reached") +
                           " (" + Shown(reasons.join(QLatin1String("; ")).toStdString()) +
                           "), so the window cannot open; 'kelmo --measure' needs none";
  std::fprintf(stderr, "kelmo: %s\n", line.c_str());
  std::fflush(stderr);
  std::_Exit(kNoDisplayStatus);
}

void HandleMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  {
    const std::lock_guard lock(g_messagesMutex);
    if (g_starting) {
      if (type == QtFatalMsg) EndWithoutDisplay(text);
      g_held.push_back({type, QByteArray(context.category), text});
      return;
    }
  }
  g_passOn(type, context, text);
  // Qt ends the program right after these; what the window has not written yet is written
  // first. Only on the thread the window lives in, and once.
  if ((type == QtFatalMsg || SaysDisplayLost(text)) && g_beforeDisplayLoss && !g_displayLost &&
      QCoreApplication::instance() != nullptr &&
      QThread::currentThread() == QCoreApplication::instance()->thread()) {
    g_displayLost = true;
    g_beforeDisplayLoss();
  }
}

}  // namespace

int& WatchDisplayStart(int& argc) {
  const std::lock_guard lock(g_messagesMutex);
  g_starting = true;
  g_passOn = qInstallMessageHandler(HandleMessage);
  return argc;
}

void DisplayStarted() {
  std::vector<HeldMessage> held;
  {
    const std::lock_guard lock(g_messagesMutex);
    if (!g_starting) return;
    g_starting = false;
    held.swap(g_held);
  }
  for (const HeldMessage& message : held) {
    const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
    g_passOn(message.type, context, message.text);
  }
}

void BeforeDisplayLoss(std::function<void()> action) { g_beforeDisplayLoss = std::move(action); }

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
  for (const int signal : kClosingSignals) ::sigaction(signal, &action, nullptr);
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

// The display is reached while QApplication is made: watched from before it, so that a
// display that cannot be reached ends the program in one line.
Application::Application(int& argc, char** argv) : QApplication(WatchDisplayStart(argc), argv) {
  DisplayStarted();
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

// The application object and its last-resort error report.
#pragma once

#include <QApplication>
#include <QWidget>
#include <csignal>
#include <exception>
#include <functional>

#include "error/error.h"

namespace kelmo {

// Loads Qt's Japanese texts (context menus, standard buttons), whatever the locale, as the
// window's own are Japanese; false, and nothing changes, when they are not installed.
bool InstallQtTranslations(QCoreApplication& app);

// The number and description shown for an error that escaped every handler.
Error DescribeFatal(std::exception_ptr error);

// The exit status when the window cannot open for want of a display, as `kelmo` gives it
// when none is named.
constexpr int kNoDisplayStatus = 3;

// The signals that close the window as its close box would: a logout (SIGTERM, SIGHUP),
// Ctrl+C and Ctrl+Backslash in the terminal that started it (SIGINT, SIGQUIT).
constexpr int kClosingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// Closes `window` as its close box would on any of kClosingSignals: a pending write of the
// body is made, a send is let finish (and its outcome shown).
void CloseOnTerminationSignals(QWidget& window);

// From here until DisplayStarted(), Qt's messages are held back; if Qt cannot start any
// platform (a display named but not reached), they are said in one line on standard error
// and the program ends with kNoDisplayStatus instead of aborting. Returns `argc`, for
// QApplication's constructor.
int& WatchDisplayStart(int& argc);
// The display was reached: the messages held back are passed on as Qt would have shown them.
void DisplayStarted();
// `action` runs once, before Qt ends the program when the display connection breaks
// (the X server or Wayland compositor gone) or on a fatal error: what is not written yet
// is written then. An empty one stops that.
void BeforeDisplayLoss(std::function<void()> action);

class Application : public QApplication {
  Q_OBJECT

 public:
  Application(int& argc, char** argv);

  // Any exception a handler lets escape is shown in a message box, then the
  // program ends: its state can no longer be trusted.
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kelmo

// The application object and its last-resort error report.
#pragma once

#include <QApplication>
#include <QWidget>
#include <exception>

#include "error/error.h"

namespace kelmo {

// Loads Qt's Japanese texts (context menus, standard buttons), whatever the locale, as the
// window's own are Japanese; false, and nothing changes, when they are not installed.
bool InstallQtTranslations(QCoreApplication& app);

// The number and description shown for an error that escaped every handler.
Error DescribeFatal(std::exception_ptr error);

// Closes `window` as its close box would when the session ends or the process is asked
// to stop (SIGTERM, SIGHUP): a pending write of the body is made, a send is let finish.
void CloseOnTerminationSignals(QWidget& window);

class Application : public QApplication {
  Q_OBJECT

 public:
  Application(int& argc, char** argv);

  // Any exception a handler lets escape is shown in a message box, then the
  // program ends: its state can no longer be trusted.
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kelmo

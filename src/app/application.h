// The application object and its last-resort error report.
#pragma once

#include <QApplication>
#include <exception>

namespace kelmo {

struct FatalReport {
  int number = 0;
  QString description;
};

// The number and description shown for an error that escaped every handler.
FatalReport DescribeFatal(std::exception_ptr error);

class Application : public QApplication {
  Q_OBJECT

 public:
  Application(int& argc, char** argv);

  // Any exception a handler lets escape is shown in a message box, then the
  // program ends: its state can no longer be trusted.
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kelmo

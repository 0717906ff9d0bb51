#include <QCoreApplication>

#include "app/application.h"
#include "app/measure_command.h"
#include "window/main_form.h"

int main(int argc, char* argv[]) {
  if (kelmo::WantsCommandLine(argc, argv)) {
    // No window, so no display either: a core application is enough.
    QCoreApplication app(argc, argv);
    kelmo::SetApplicationIdentity();
    return kelmo::RunCommandLine();
  }
  kelmo::Application app(argc, argv);
  kelmo::MainForm form;
  form.show();
  return app.exec();
}

#include <QDir>
#include <memory>

#include "app/application.h"
#include "mail/system_transport.h"
#include "window/main_form.h"

// The window sends through the Linux mail system and keeps its files in the directory it
// was started in.
int main(int argc, char* argv[]) {
  kelmo::Application app(argc, argv);
  kelmo::MainForm form(std::make_unique<kelmo::SystemMailTransport>(), QDir());
  kelmo::CloseOnTerminationSignals(form);
  form.show();
  return kelmo::Application::exec();
}

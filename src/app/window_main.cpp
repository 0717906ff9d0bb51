#include "app/application.h"
#include "window/main_form.h"

int main(int argc, char* argv[]) {
  kelmo::Application app(argc, argv);
  kelmo::MainForm form;
  form.show();
  return app.exec();
}

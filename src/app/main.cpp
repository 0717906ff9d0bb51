#include "app/measure_command.h"
#include "app/window_launcher.h"

// Without Qt: the command line answers at once, and the window is a program of its own.
int main(int argc, char* argv[]) {
  if (kelmo::WantsCommandLine(argc, argv)) return kelmo::RunCommandLine(argc, argv);
  if (const int refused = kelmo::CheckWindowArguments(argc, argv)) return refused;
  return kelmo::StartWindow(argv);
}

// `kelmo --measure`: the window's count and title for a message given on the command
// line, without a display.
#pragma once

namespace kelmo {

// Whether the arguments ask for the command line (--measure, --help or --version) rather
// than the window; decided before any application object exists.
bool WantsCommandLine(int argc, char** argv);

// Runs the command line on the QCoreApplication's arguments; returns the exit status:
// 0 within every limit, 1 past one, 2 for a usage error or unreadable input.
int RunCommandLine();

}  // namespace kelmo

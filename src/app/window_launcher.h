// Starting the window program from `kelmo`.
#pragma once

namespace kelmo {

// Replaces this process with the window program, which lives beside `kelmo` in a build
// and under libexec once installed, passing the arguments on. Returns only on failure,
// with the exit status to end with, after saying why on standard error.
int StartWindow(char** argv);

}  // namespace kelmo

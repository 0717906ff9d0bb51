// `kelmo --measure`: the window's count and title for a message given on the command
// line. Plain C++ without Qt, so that it starts in a few milliseconds and needs no display.
#pragma once

#include <string>
#include <string_view>

namespace kelmo {

// The bytes of a name, argument or value as a message shows them: each byte of a control
// or bidirectional formatting character, or of no well-formed UTF-8 sequence, as \xhh,
// a backslash as \\.
std::string Shown(std::string_view bytes);

// Whether the arguments ask for the command line (--measure, --split, --help or --version) rather
// than the window.
bool WantsCommandLine(int argc, char** argv);

// Whether the window can be started with these arguments: 0, or the exit status to end
// with (2 for an argument the window does not take, 3 for no display) after saying why
// on standard error.
int CheckWindowArguments(int argc, char** argv);

// Runs the command line; returns the exit status: 0 within every limit (or split into
// parts that are), 1 past one (where splitting cannot help), 2 for a usage error,
// unreadable input or output that cannot be written.
int RunCommandLine(int argc, char** argv);

}  // namespace kelmo

// The message box that shows an error: its number, then what failed.
#pragma once

#include <QWidget>

#include "error/error.h"

namespace kelmo {

// Shows `error` in a warning box with OK over `parent` and waits for the user. The
// pointer is the ordinary one over the box: a busy cursor (a send running) is taken away
// while it shows and comes back after it.
void ShowErrorBox(QWidget* parent, const Error& error);

}  // namespace kelmo

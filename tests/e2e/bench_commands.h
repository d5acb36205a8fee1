// The command only the transfer benchmark uses: the program's start-up time.
#pragma once

#include <string>

namespace driver {

// time-start: answers {"ready":true} at once, then waits (polling every few milliseconds, also
// for the desktop `desktop`) until the program's dialog is shown and answers a message, answers
// {"ok":true}, and closes the dialog with IDCANCEL. The caller starts the program after "ready",
// so the time between the two answers is the program's start-up as the operator sees it.
int time_start(const std::wstring& desktop, double secs);

}  // namespace driver

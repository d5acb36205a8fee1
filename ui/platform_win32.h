// The operating system as the update run sees it inside the Windows program.
#pragma once

#include "update/platform.h"

namespace ui {

// The program's one platform: opens the chosen serial port, gives the calendar clock and a pump
// of one pending window message, the local time and the file append of the production log.
update::Platform& windows_platform();

}  // namespace ui

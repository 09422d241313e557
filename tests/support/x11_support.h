// Finding and closing another program's window on the test display.
#pragma once

#include <sys/types.h>

namespace ryt {

// The top-level window that process pid has mapped, or 0 after timeout_ms.
unsigned long wait_for_window_of(pid_t pid, int timeout_ms = 20000);
// Asks the window to close, as a window manager does (WM_DELETE_WINDOW).
void send_close_request(unsigned long window);
// Destroys the window under its owner's feet, as a killed window manager or xkill may.
void destroy_window(unsigned long window);

}  // namespace ryt

// Whether a display opens, asked of Xlib directly: FLTK ends the process
// when it cannot open one.
#include <X11/Xlib.h>

#include <cstdlib>

#include "platform/dialogs/views.h"

bool DesktopAvailable() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  Display* probe = XOpenDisplay(display);
  if (probe == nullptr) return false;
  XCloseDisplay(probe);
  return true;
}

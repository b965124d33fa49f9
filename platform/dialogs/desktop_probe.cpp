// Whether a display opens, asked of Xlib directly: FLTK ends the process
// when it cannot open one. The probe's connection stays open until the view
// has its own, since an X server may reset when its last client leaves and
// refuse connections for a moment.
#include <X11/Xlib.h>

#include <cstdlib>

#include "platform/dialogs/views.h"

namespace {
Display* g_probe = nullptr;
}

bool DesktopAvailable() {
  if (g_probe != nullptr) return true;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  g_probe = XOpenDisplay(display);
  return g_probe != nullptr;
}

void CloseDesktopProbe() {
  if (g_probe != nullptr) XCloseDisplay(g_probe);
  g_probe = nullptr;
}

// FLTK's connection, once open: waits until the server has carried out
// everything drawn so far, so that what the view records is on the screen.
extern Display* fl_display;

void SyncDesktop() {
  if (fl_display != nullptr) XSync(fl_display, False);
}

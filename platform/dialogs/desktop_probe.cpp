// Whether a display opens, asked of Xlib directly: FLTK ends the process
// when it cannot open one. The probe's connection stays open until the view
// has its own, since an X server may reset when its last client leaves and
// refuse connections for a moment.
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/dialogs/desktop_scale.h"
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
void SyncDesktop() {
  if (fl_display != nullptr) XSync(fl_display, False);
}

// A dialog's window just mapped: it takes the keyboard focus, as a new
// dialog does, and stands in the taskbar like any application window (FLTK
// marks a window without the window manager's frame to skip it).
void PresentDesktopWindow(Fl_Window* window) {
  if (fl_display == nullptr || window == nullptr || !window->shown()) return;
  Window xid = fl_xid(window);
  Window root = DefaultRootWindow(fl_display);
  Atom state = XInternAtom(fl_display, "_NET_WM_STATE", False);
  Atom skip = XInternAtom(fl_display, "_NET_WM_STATE_SKIP_TASKBAR", False);
  Atom active = XInternAtom(fl_display, "_NET_ACTIVE_WINDOW", False);
  // The property for a display without a window manager (the other states
  // kept), the request below for one that manages the window already.
  Atom actual_type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(fl_display, xid, state, 0, 64, False, XA_ATOM, &actual_type, &format,
                         &count, &after, &data) == Success &&
      data != nullptr) {
    if (format == 32) {
      auto* atoms = reinterpret_cast<Atom*>(data);
      unsigned long kept = 0;
      for (unsigned long i = 0; i < count; ++i)
        if (atoms[i] != skip) atoms[kept++] = atoms[i];
      if (kept != count)
        XChangeProperty(fl_display, xid, state, XA_ATOM, 32, PropModeReplace, data,
                        static_cast<int>(kept));
    }
    XFree(data);
  }
  auto send = [&](Atom type, long a, long b) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = a;
    event.xclient.data.l[1] = b;
    event.xclient.data.l[2] = 0;
    event.xclient.data.l[3] = 1;  // source: an application
    XSendEvent(fl_display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  };
  send(state, 0 /* remove */, static_cast<long>(skip));
  send(active, 1 /* an application */, CurrentTime);
  XSetInputFocus(fl_display, xid, RevertToParent, CurrentTime);
  XFlush(fl_display);
}

// --- the screen's scale and where windows may stand ---

// The scales the desktop's settings ask for what is laid out at 96 dpi:
// Xft.dpi in the X resources (what the desktop's settings write there) over
// 96, and the toolkits' variables GDK_SCALE and QT_SCALE_FACTOR. Each within
// what Windows itself offers, 100 % to 500 %; none when nothing is set.
std::vector<double> DesktopScaleSettings() {
  std::vector<double> scales;
  const auto take = [&](double scale) {
    if (scale >= 0.5 && scale <= 8) scales.push_back(std::clamp(scale, 1.0, 5.0));
  };
  if (fl_display != nullptr) {
    if (const char* resources = XResourceManagerString(fl_display); resources != nullptr) {
      for (const char* line = resources; line != nullptr && *line != '\0';) {
        if (std::strncmp(line, "Xft.dpi:", 8) == 0) take(std::strtod(line + 8, nullptr) / 96);
        line = std::strchr(line, '\n');
        if (line != nullptr) ++line;
      }
    }
  }
  for (const char* name : {"GDK_SCALE", "QT_SCALE_FACTOR"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') take(std::strtod(value, nullptr));
  }
  return scales;
}

// Where windows may stand, in the screen's pixels: the work area the window
// manager leaves free of its panels (_NET_WORKAREA of the current desktop),
// within the screen; the whole screen where it gives none.
DesktopArea DesktopWorkArea() {
  if (fl_display == nullptr) return DesktopArea{0, 0, 1024, 768};
  const int screen = DefaultScreen(fl_display);
  DesktopArea whole{0, 0, DisplayWidth(fl_display, screen), DisplayHeight(fl_display, screen)};
  Window root = RootWindow(fl_display, screen);
  auto cardinals = [&](const char* name) {
    std::vector<long> values;
    Atom actual_type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(fl_display, root, XInternAtom(fl_display, name, False), 0, 1024, False,
                           XA_CARDINAL, &actual_type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
      if (format == 32) {
        const long* longs = reinterpret_cast<const long*>(data);
        values.assign(longs, longs + count);
      }
      XFree(data);
    }
    return values;
  };
  std::vector<long> areas = cardinals("_NET_WORKAREA");
  std::vector<long> current = cardinals("_NET_CURRENT_DESKTOP");
  std::size_t desktop = current.empty() ? 0 : static_cast<std::size_t>(current[0]);
  if (areas.size() < 4 * (desktop + 1)) desktop = 0;
  if (areas.size() < 4) return whole;
  const long* a = &areas[4 * desktop];
  const long left = std::max(0L, a[0]);
  const long top = std::max(0L, a[1]);
  const long right = std::min<long>(whole.width, a[0] + a[2]);
  const long bottom = std::min<long>(whole.height, a[1] + a[3]);
  // A work area that leaves less than half the screen is taken for a
  // mistake of the window manager's.
  if (2 * (right - left) < whole.width || 2 * (bottom - top) < whole.height) return whole;
  return DesktopArea{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                     static_cast<int>(bottom - top)};
}

// The scale for a run whose largest window is `width` x `height` of the
// model's pixels: the largest the desktop's settings ask for at which that
// window fits the work area, so that no dialog nor its status line falls
// off the screen; 1 when none fits or none is set.
double DesktopScale(int width, int height) {
  const DesktopArea area = DesktopWorkArea();
  double chosen = 1;
  for (double scale : DesktopScaleSettings()) {
    if (std::lround(width * scale) <= area.width && std::lround(height * scale) <= area.height)
      chosen = std::max(chosen, scale);
  }
  return chosen;
}

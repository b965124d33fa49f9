// Whether a display opens, asked of Xlib directly: FLTK ends the process
// when it cannot open one. The probe's connection stays open until the view
// has its own, since an X server may reset when its last client leaves and
// refuse connections for a moment.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
// Fl_X, whose flag says whether a window has been drawn yet.
#define FL_INTERNALS
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

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

namespace {
void (*g_on_lost)() = nullptr;

// Called by Xlib when the connection breaks (the X server ended, the
// client killed with xkill or xdotool, an ssh -X link dropped), in place of
// FLTK's own handler, installed with the display, which ends the process as
// Xlib's default does.
int OnIoError(Display*) {
  if (g_on_lost != nullptr) g_on_lost();
  return 0;
}

// What Xlib does once the handler above has returned: by default it ends
// the process. Returning instead leaves the connection marked broken, and
// every later call on it returns at once, drawing nothing.
void OnIoErrorExit(Display*, void*) {}
}  // namespace

void WatchForLostDisplay(void (*on_lost)()) {
  if (fl_display == nullptr) return;
  g_on_lost = on_lost;
  XSetIOErrorHandler(OnIoError);
  XSetIOErrorExitHandler(fl_display, OnIoErrorExit, nullptr);
}

bool WaitForExposeUnlessLost(Fl_Window* window, bool (*lost)()) {
  // Fl_Window::wait_for_expose would wait for ever on a broken connection,
  // whose socket stays readable with nothing ever coming.
  while (!lost() && window->shown()) {
    Fl_X* x = Fl_X::i(window);
    if (x != nullptr && !x->wait_for_expose) return true;
    Fl::wait();
  }
  return !lost();
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

// The desktop's own scale for what is laid out at 96 dpi: Xft.dpi in the X
// resources (what the desktop's settings write there), else the toolkits'
// variables GDK_SCALE and QT_SCALE_FACTOR; 1 when none says otherwise.
// Within what Windows itself offers, 100 % to 500 %.
double DesktopScale() {
  const auto usable = [](double scale) { return scale >= 0.5 && scale <= 8; };
  const auto clamp = [](double scale) { return scale < 1 ? 1 : scale > 5 ? 5 : scale; };
  if (fl_display != nullptr) {
    if (const char* resources = XResourceManagerString(fl_display); resources != nullptr) {
      for (const char* line = resources; line != nullptr && *line != '\0';) {
        if (std::strncmp(line, "Xft.dpi:", 8) == 0) {
          double dpi = std::strtod(line + 8, nullptr);
          if (usable(dpi / 96)) return clamp(dpi / 96);
        }
        line = std::strchr(line, '\n');
        if (line != nullptr) ++line;
      }
    }
  }
  for (const char* name : {"GDK_SCALE", "QT_SCALE_FACTOR"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    double scale = std::strtod(value, nullptr);
    if (usable(scale)) return clamp(scale);
  }
  return 1;
}

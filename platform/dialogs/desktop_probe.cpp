// Whether a display opens, asked of Xlib directly: FLTK ends the process
// when it cannot open one. The probe's connection stays open until the view
// has its own, since an X server may reset when its last client leaves and
// refuse connections for a moment.
#include <FL/Fl.H>
#include <FL/Fl_Browser_.H>
#include <FL/Fl_Input_.H>
#include <FL/Fl_Menu_.H>
#include <FL/Fl_Window.H>
// Fl_X, whose flag says whether a window has been drawn yet.
#define FL_INTERNALS
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
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
// within the first monitor; the whole monitor where it gives none.
DesktopArea DesktopWorkArea() {
  if (fl_display == nullptr) return DesktopArea{0, 0, 1024, 768};
  DesktopArea whole;
  Fl::screen_xywh(whole.x, whole.y, whole.width, whole.height, 0);
  Window root = RootWindow(fl_display, DefaultScreen(fl_display));
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
  const long left = std::max<long>(whole.x, a[0]);
  const long top = std::max<long>(whole.y, a[1]);
  const long right = std::min<long>(whole.x + whole.width, a[0] + a[2]);
  const long bottom = std::min<long>(whole.y + whole.height, a[1] + a[3]);
  // A work area that leaves less than half the screen is taken for a
  // mistake of the window manager's.
  if (2 * (right - left) < whole.width || 2 * (bottom - top) < whole.height) return whole;
  return DesktopArea{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                     static_cast<int>(bottom - top)};
}

// The scale for a run whose largest window, centred, takes `width` x
// `height` of the model's pixels: the largest the desktop's settings ask for
// at which that fits the work area, so that no dialog nor its status line
// falls off the screen; 1 when none fits or none is set.
double DesktopScale(int width, int height) {
  const DesktopArea area = DesktopWorkArea();
  double chosen = 1;
  for (double scale : DesktopScaleSettings()) {
    if (std::lround(width * scale) <= area.width && std::lround(height * scale) <= area.height)
      chosen = std::max(chosen, scale);
  }
  return chosen;
}

// GTK's folder chooser at the windows' scale. GTK 2, which FLTK's native
// chooser loads when it is there, knows no GDK_SCALE and scales only its
// text, by the resolution of its settings: set here for the chooser, as
// FLTK's own would find GTK already started (its start is a no-op then).
static void ScaleGtkChooser(double scale) {
  if (!Fl::option(Fl::OPTION_FNFC_USES_GTK)) return;
  void* gtk = dlopen("libgtk-x11-2.0.so.0", RTLD_LAZY | RTLD_GLOBAL);
  if (gtk == nullptr) return;
  using InitCheck = int (*)(int*, char***);
  using SettingsDefault = void* (*)();
  using SetLong = void (*)(void*, const char*, long, const char*);
  auto init_check = reinterpret_cast<InitCheck>(dlsym(gtk, "gtk_init_check"));
  auto settings_default = reinterpret_cast<SettingsDefault>(dlsym(gtk, "gtk_settings_get_default"));
  auto set_long = reinterpret_cast<SetLong>(dlsym(gtk, "gtk_settings_set_long_property"));
  if (init_check == nullptr || settings_default == nullptr || set_long == nullptr) return;
  // GTK's start sets the locale from the environment: the program's stays.
  const char* locale = std::setlocale(LC_ALL, nullptr);
  const std::string kept = locale != nullptr ? locale : "C";
  int argc = 0;
  const bool started = init_check(&argc, nullptr) != 0;
  std::setlocale(LC_ALL, kept.c_str());
  if (!started) return;
  void* settings = settings_default();
  // In 1024ths of a dot per inch.
  if (settings != nullptr)
    set_long(settings, "gtk-xft-dpi", std::lround(96 * 1024 * scale), "quorvanta");
}

namespace {

// FLTK's own chooser, laid out in pixels: each of its widgets taken to the
// scale once its window is up (its first frame is drawn at its own size),
// its texts as large.
struct OwnChooserScale {
  double scale;
  std::string title;
  bool done = false;
};

void ScaleWidgetTexts(Fl_Widget* widget, double scale) {
  auto scaled = [&](int size) { return static_cast<int>(std::lround(size * scale)); };
  widget->labelsize(scaled(widget->labelsize()));
  if (auto* input = dynamic_cast<Fl_Input_*>(widget)) input->textsize(scaled(input->textsize()));
  if (auto* browser = dynamic_cast<Fl_Browser_*>(widget))
    browser->textsize(scaled(browser->textsize()));
  if (auto* menu = dynamic_cast<Fl_Menu_*>(widget)) menu->textsize(scaled(menu->textsize()));
}

void ScaleOwnChooser(void* data) {
  auto* wanted = static_cast<OwnChooserScale*>(data);
  if (wanted->done) return;
  for (Fl_Window* window = Fl::first_window(); window != nullptr;
       window = Fl::next_window(window)) {
    if (window->label() == nullptr || wanted->title != window->label()) continue;
    wanted->done = true;
    // Every widget's place in its window, before the window's own resize
    // moves them by its rules.
    struct Place {
      Fl_Widget* widget;
      int x, y, w, h;
    };
    std::vector<Place> places;
    std::vector<Fl_Group*> groups{window};
    for (std::size_t g = 0; g < groups.size(); ++g) {
      for (int i = 0; i < groups[g]->children(); ++i) {
        Fl_Widget* child = groups[g]->child(i);
        places.push_back({child, child->x(), child->y(), child->w(), child->h()});
        if (Fl_Group* group = child->as_group(); group != nullptr && child->as_window() == nullptr)
          groups.push_back(group);
      }
    }
    const double scale = wanted->scale;
    auto scaled = [&](int v) { return static_cast<int>(std::lround(v * scale)); };
    window->size_range(scaled(window->w()) / 2, scaled(window->h()) / 2);
    // Grown about its middle, where it was placed.
    const int width = scaled(window->w());
    const int height = scaled(window->h());
    window->resize(std::max(0, window->x() - (width - window->w()) / 2),
                   std::max(0, window->y() - (height - window->h()) / 2), width, height);
    for (const Place& p : places) {
      p.widget->Fl_Widget::resize(scaled(p.x), scaled(p.y), scaled(p.w), scaled(p.h));
      ScaleWidgetTexts(p.widget, scale);
    }
    for (Fl_Group* group : groups) group->init_sizes();
    window->redraw();
    return;
  }
}

}  // namespace

ScaledFolderChooser::ScaledFolderChooser(double scale, const std::string& title) {
  // GTK is told even at 1: it would otherwise take the desktop's own dpi.
  ScaleGtkChooser(scale);
  if (scale == 1) return;
  own_ = new OwnChooserScale{scale, title};
  Fl::add_check(ScaleOwnChooser, own_);
}

ScaledFolderChooser::~ScaledFolderChooser() {
  if (own_ == nullptr) return;
  Fl::remove_check(ScaleOwnChooser, own_);
  delete static_cast<OwnChooserScale*>(own_);
}

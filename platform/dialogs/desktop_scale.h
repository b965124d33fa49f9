// The desktop view's scale and where on the screen its windows may stand,
// shared by its windows and its folder chooser (desktop_probe.cpp asks the X
// display; desktop_view.cpp knows its windows' sizes).
#pragma once

#include <string>

// A rectangle of the screen, in its pixels.
struct DesktopArea {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Where windows may stand: the window manager's work area, else the screen.
DesktopArea DesktopWorkArea();
// The largest scale the desktop's settings ask for at which a window of
// `width` x `height` model pixels, centred, fits the work area; never
// below 1.
double DesktopScale(int width, int height);
// The scale of this run's windows: DesktopScale for the largest of them
// with the view's status line. Needs the display open.
double DesktopViewScale();
// While it lives, the folder chooser titled `title` is drawn at `scale`, as
// the windows are: GTK's through its settings, FLTK's own widget by widget.
class ScaledFolderChooser {
 public:
  ScaledFolderChooser(double scale, const std::string& title);
  ~ScaledFolderChooser();
  ScaledFolderChooser(const ScaledFolderChooser&) = delete;
  ScaledFolderChooser& operator=(const ScaledFolderChooser&) = delete;

 private:
  void* own_ = nullptr;
};

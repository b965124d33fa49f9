// Built when FLTK is missing: the desktop view is refused by name.
#include "platform/dialogs/views.h"

bool StartDesktopView(std::FILE*, std::string* error) {
  *error = "the desktop view is not part of this build (FLTK 1.3 was missing)";
  return false;
}
void FinishDesktopView() {}
bool DesktopAvailable() { return false; }

// The desktop's folder chooser, asked before the dialogs start when the
// program was started without its firmware package: FLTK's native chooser
// (the desktop's own where FLTK finds one, else FLTK's).
#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/x.H>

#include <string>

#include "platform/dialogs/desktop_scale.h"
#include "platform/dialogs/views.h"

bool AskFolderOnDesktop(const std::string& title, const std::string& suggestion,
                        std::string* answer) {
  fl_open_display();
  if (fl_display == nullptr) return false;
  ScaledFolderChooser scaled(DesktopViewScale(), title);
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_DIRECTORY);
  chooser.title(title.c_str());
  chooser.directory(suggestion.c_str());
  // 0: chosen; 1: cancelled; -1: the chooser could not be shown.
  if (chooser.show() != 0 || chooser.filename() == nullptr || chooser.filename()[0] == '\0') {
    return false;
  }
  *answer = chooser.filename();
  // The chooser's window is gone from the screen before the dialogs open.
  Fl::check();
  return true;
}

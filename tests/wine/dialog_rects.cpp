// Prints where the dialogs group lays out every dialog template: the
// window's and the client area's size, and each control's rectangle from the
// window's top-left corner, in pixels. The same source is built natively
// (the dialog model) and into the Windows build (USER32 itself), so the two
// listings can be compared line by line.
//
//   TEMPLATE window WIDTH HEIGHT client WIDTH HEIGHT
//   TEMPLATE ID LEFT TOP RIGHT BOTTOM
#include <cstdio>

#include "platform/dialogs.h"

namespace {

constexpr const char* kTemplates[] = {"KYODAKU", "KYODAKUUS", "MainDialog", "MainDialogUS"};
// Control ids run below this in every template.
constexpr int kLastControlId = 1100;

const char* g_template = "";

INT_PTR ListRectangles(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return 0;
  RECT window;
  RECT client;
  GetWindowRect(dialog, &window);
  GetClientRect(dialog, &client);
  std::printf("%s window %d %d client %d %d\n", g_template, window.right - window.left,
              window.bottom - window.top, client.right, client.bottom);
  for (int id = 1; id <= kLastControlId; ++id) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) continue;
    RECT r;
    GetWindowRect(control, &r);
    std::printf("%s %d %d %d %d %d\n", g_template, id, r.left - window.left, r.top - window.top,
                r.right - window.left, r.bottom - window.top);
  }
  EndDialog(dialog, 1);
  return 1;
}

}  // namespace

int main() {
  int status = 0;
  for (const char* name : kTemplates) {
    g_template = name;
    if (DialogBoxParamA(nullptr, name, nullptr, ListRectangles, 0) != 1) {
      std::fprintf(stderr, "dialog_rects: %s cannot be shown\n", name);
      status = 1;
    }
  }
  std::fflush(stdout);
  return status;
}

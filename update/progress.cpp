#include "update/progress.h"

#include "platform/dialogs.h"
#include "resources/resource.h"
#include "state/app_state.h"

namespace {

// The bar of the open main dialog, looked up once per dialog, and the width
// last filled into it; -1 when what it shows is not known (a new dialog, or
// its paint handling has erased it since).
HWND g_bar_dialog = nullptr;
HWND g_bar = nullptr;
RECT g_bar_client{0, 0, 0, 0};
std::int64_t g_filled_width = -1;

}  // namespace

void PaintProgress(std::int32_t n) {
  if (g_app.MainDialogWindow != g_bar_dialog) {
    g_bar_dialog = g_app.MainDialogWindow;
    g_bar = GetDlgItem(g_bar_dialog, IDC_PROGRESS_BAR);
    g_filled_width = -1;
    if (GetClientRect(g_bar, &g_bar_client) == 0) g_bar = nullptr;
  }
  if (g_bar == nullptr) return;
  const RECT& client = g_bar_client;
  // 64-bit so that no count, however large, overflows on its way to a width.
  const std::int64_t percent = static_cast<std::int64_t>(n) * 100 / 1000;
  const std::int64_t width = percent * (client.right - client.left) / 100;
  // The width moves in whole percents, so most counts would paint what is
  // already there. A repaint still due may yet erase the bar, so while one
  // is pending every count paints.
  const bool repaint_due = GetUpdateRect(g_bar, nullptr, 0) != 0;
  if (width != g_filled_width || repaint_due) {
    RECT fill = client;
    if (width < client.right) fill.right = static_cast<LONG>(width);
    HDC dc = GetDC(g_bar);
    if (dc != nullptr) {
      HBRUSH blue = CreateSolidBrush(0xFF0000);  // 0x00BBGGRR: pure blue
      FillRect(dc, &fill, blue);
      DeleteObject(blue);
      ReleaseDC(g_bar, dc);
      g_filled_width = repaint_due ? -1 : width;
    }
  }
  if (n % 10 == 0) UpdateWindow(g_app.MainDialogWindow);
}

void ProgressBarErased() { g_filled_width = -1; }

void NewProgressBar() {
  g_bar_dialog = nullptr;
  g_bar = nullptr;
  g_filled_width = -1;
}

void ShowDurationNote() {
  ShowNoteText(g_app.MainDialogWindow, IDC_DURATION_NOTE, g_app.MsgMayTakeMinutes);
}

#include "update/progress.h"

#include "platform/dialogs.h"
#include "resources/resource.h"
#include "state/app_state.h"

void PaintProgress(std::int32_t n) {
  HWND bar = GetDlgItem(g_app.MainDialogWindow, IDC_PROGRESS_BAR);
  RECT client{0, 0, 0, 0};
  if (GetClientRect(bar, &client) == 0) return;
  // 64-bit so that no count, however large, overflows on its way to a width.
  const std::int64_t percent = static_cast<std::int64_t>(n) * 100 / 1000;
  const std::int64_t width = percent * (client.right - client.left) / 100;
  RECT fill = client;
  if (width < client.right) fill.right = static_cast<LONG>(width);
  HDC dc = GetDC(bar);
  if (dc != nullptr) {
    HBRUSH blue = CreateSolidBrush(0xFF0000);  // 0x00BBGGRR: pure blue
    FillRect(dc, &fill, blue);
    DeleteObject(blue);
    ReleaseDC(bar, dc);
  }
  if (n % 10 == 0) UpdateWindow(g_app.MainDialogWindow);
}

void ShowDurationNote() {
  ShowNoteText(g_app.MainDialogWindow, IDC_DURATION_NOTE, g_app.MsgMayTakeMinutes);
}

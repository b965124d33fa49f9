#include "update/main_dialog.h"

#include "drive/channel.h"
#include "resources/resource.h"
#include "state/app_state.h"
#include "ui/drive_list.h"
#include "update/progress.h"

INT_PTR MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      g_app.MainDialogWindow = dialog;
      NewProgressBar();
      SetProgressSink(PaintProgress);
      ShowVersionCaption(dialog);
      CenterOnScreen(dialog);
      FillDriveList(dialog);
      return 1;
    case WM_PAINT: {
      // Erasing everything also wipes the self-painted progress bar until it
      // is next painted.
      InvalidateRect(dialog, nullptr, 1);
      ProgressBarErased();
      PAINTSTRUCT paint;
      BeginPaint(dialog, &paint);
      EndPaint(dialog, &paint);
      return 1;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      if (id >= IDC_DRIVE_RADIO1 && id <= IDC_DRIVE_RADIO4) {
        const DrivePair& pair = g_app.ListedDrives[id - IDC_DRIVE_RADIO1];
        g_app.SelectedAdapter = pair.adapter;
        g_app.SelectedTarget = pair.target;
      } else if (id == IDC_EXIT) {
        EndDialog(dialog, 0);
      } else if (id == IDC_UPDATE) {
        OnUpdatePressed(dialog);
      }
      return 1;
    }
    default:
      return 0;
  }
}

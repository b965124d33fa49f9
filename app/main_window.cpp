#include "app/main_window.h"

#include <cstdio>
#include <cstring>

#include "drive/discovery.h"
#include "platform/aspi.h"
#include "platform/files.h"
#include "resume/resume_state.h"
#include "state/app_state.h"
#include "state/catalogue.h"
#include "ui/agreement.h"
#include "update/main_dialog.h"

namespace {

constexpr std::uint16_t kJapanese = 0x11;

// Whether the scan met a drive of ours that it did not list (one the package
// does not fit): then "none of them a VANTROS drive" would be untrue.
bool OurDriveSeen() {
  for (const auto& product : g_app.DeviceProductId)
    if (std::strncmp(product, kFirstModelId, 12) == 0 ||
        std::strncmp(product, kSecondModelId, 13) == 0)
      return true;
  return false;
}

// Why no drive was found, where the platform can tell, after an empty line:
// said beside the message rather than left for the user to guess, since a
// launch from the desktop's menu shows no standard error.
void AppendNoDriveReason(char* text, int size) {
  const char* line = nullptr;
  char filled[kMessageSize];
  const ScanFindings found = AspiScanFindings();
  if (AspiDevicesRefused() > 0) {
    line = MsgNoRightsToDrive();
  } else if (found.what == ScanFinding::kNoNodes) {
    line = MsgNoSgNode();
  } else if (found.what != ScanFinding::kNothingToSay &&
             (found.what != ScanFinding::kDevicesOnly || !OurDriveSeen())) {
    const char* format = found.what == ScanFinding::kRefused ? MsgDrivesRefused()
                         : found.what == ScanFinding::kBusy  ? MsgDrivesBusy()
                                                             : MsgNoVantrosDrive();
    std::snprintf(filled, sizeof filled, format, found.count);
    line = filled;
  }
  if (line == nullptr) return;
  AppendText(text, size, "\r\n\r\n");
  AppendText(text, size, line);
}

// The whole dialogue with the user, run while the window is being created.
void RunDialogue(HWND window) {
  const bool japanese = g_app.PrimaryLanguage == kJapanese;
  INT_PTR result = 1;
  if (g_app.IsNT == 1 || g_app.NoRestartNeeded == 0) {
    result = DialogBoxParamA(g_app.AppInstance, japanese ? "KYODAKU" : "KYODAKUUS", nullptr,
                             AgreementDialog, 0);
    // An agreement that could not be shown has not been accepted.
    if (result == -1) result = 0;
  }
  if (result != 0) {
    g_app.FirstModelCount = 0;
    g_app.SecondModelCount = 0;
    if (ScanDrives(1) == 1) {
      DialogBoxParamA(g_app.AppInstance, japanese ? "MainDialog" : "MainDialogUS", nullptr,
                      MainDialogProc, 0);
      // The main dialog ends only with 0; should it fail to show, the hidden
      // window must still close, or nobody could ever end the program.
      result = 0;
    } else {
      g_app.RunOutcome = kRunNoDrive;
      SetRunEntry(kRunEntryDisable);
      char text[2 * kMessageSize];
      CopyText(text, sizeof text, g_app.MsgNoDevice);
      AppendNoDriveReason(text, sizeof text);
      MessageBoxExA(nullptr, text, "Quorvanta", MB_OK, g_app.MessageLanguage);
      result = 0;
    }
  }
  // A continued update leaves nothing behind, whatever happened above.
  if (g_app.NoRestartNeeded == 1 && g_app.IsNT == 0) {
    RemoveResumeState();
    SetRunEntry(kRunEntryDisable);
  }
  if (result == 0) SendMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      RunDialogue(window);
      return 0;
    case WM_PAINT: {
      InvalidateRect(window, nullptr, 1);
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_VSCROLL:
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

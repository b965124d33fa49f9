#include "ui/drive_list.h"

#include <cstdio>

#include "drive/transfer.h"
#include "resources/resource.h"
#include "state/app_state.h"

namespace {

constexpr int kRevisionIds[kListedDriveRows] = {IDC_REVISION1, IDC_REVISION2, IDC_REVISION3,
                                                IDC_REVISION4};
// The controls below the rows, in the order they are moved.
constexpr int kMovedIds[] = {IDC_UPDATE, IDC_PROGRESS_BAR, IDC_EXIT, IDC_DURATION_NOTE};

// Grows the dialog by one row pitch and moves the controls below the rows.
// The move takes each control's screen position minus the dialog's outer
// rectangle as its new client position, so each added row also shifts them
// by the dialog's left frame and its caption and top frame.
void MakeRoomForRow(HWND dialog) {
  RECT first{0, 0, 0, 0};
  RECT second{0, 0, 0, 0};
  GetWindowRect(GetDlgItem(dialog, IDC_DRIVE_RADIO1), &first);
  GetWindowRect(GetDlgItem(dialog, IDC_DRIVE_RADIO2), &second);
  const LONG pitch = second.top - first.top;
  RECT outer{0, 0, 0, 0};
  GetWindowRect(dialog, &outer);
  MoveWindow(dialog, outer.left, outer.top, outer.right - outer.left,
             outer.bottom - outer.top + pitch, 1);
  for (int id : kMovedIds) {
    HWND control = GetDlgItem(dialog, id);
    RECT r{0, 0, 0, 0};
    GetWindowRect(control, &r);
    MoveWindow(control, r.left - outer.left, r.top - outer.top, r.right - r.left, r.bottom - r.top,
               1);
  }
}

}  // namespace

int CollectListedDrives(ListedDrive rows[kListedDriveRows]) {
  return CollectSupportedDrives(rows, kListedDriveRows);
}

int CollectSupportedDrives(ListedDrive* rows, int capacity) {
  int count = 0;
  for (int adapter = 0; adapter < g_app.AdapterCount; ++adapter) {
    for (int target = 0; target < 8; ++target) {
      const int slot = adapter * 8 + target;
      if (slot >= kDeviceSlots || g_app.DeviceSupported[slot] != 1) continue;
      ListedDrive drive{static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target), slot,
                        false, 0};
      if (ProbeDriveInfo(drive.adapter, drive.target) != 0) {
        g_app.CurrentAdapter = drive.adapter;
        g_app.CurrentTarget = drive.target;
        ReadDriveInfo();
        drive.usb = true;
        drive.version_code = g_app.DriveVersionCode;
      }
      if (count == capacity) return count;
      rows[count++] = drive;
    }
  }
  return count;
}

void FillDriveList(HWND dialog) {
  ListedDrive drives[kListedDriveRows];
  const int count = CollectListedDrives(drives);
  for (int row = 0; row < count; ++row) {
    const ListedDrive& drive = drives[row];
    if (row >= 1) MakeRoomForRow(dialog);
    char code_text[16] = "";
    if (drive.usb) {
      std::snprintf(code_text, sizeof code_text, " (%2x)",
                    static_cast<unsigned>(drive.version_code));
    }
    HWND radio = GetDlgItem(dialog, IDC_DRIVE_RADIO1 + row);
    SetWindowTextA(radio, drive.usb ? "USB" : "ATAPI");
    ShowWindow(radio, SW_SHOW);
    char revision[32];
    CopyText(revision, 5, g_app.DeviceRevision[drive.slot]);
    AppendText(revision, sizeof revision, code_text);
    HWND revision_text = GetDlgItem(dialog, kRevisionIds[row]);
    SetWindowTextA(revision_text, revision);
    ShowWindow(revision_text, SW_SHOW);
    ShowWindow(GetDlgItem(dialog, IDC_FW_LABEL1 + row), SW_SHOW);

    g_app.ListedDrives[row] = DrivePair{drive.adapter, drive.target};
    g_app.ListedVersionCodes[row] = drive.usb ? drive.version_code : -1;
    if (row == 0) {
      CheckDlgButton(dialog, IDC_DRIVE_RADIO1, BST_CHECKED);
      g_app.SelectedAdapter = drive.adapter;
      g_app.SelectedTarget = drive.target;
    }
  }
}

void ReadFileVersion(const char* file_name, DWORD* first, DWORD* second) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(file_name, &handle);
  if (size == 0) return;
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (block == nullptr) return;
  if (GetFileVersionInfoA(file_name, handle, size, block) == 0) {
    HeapFree(GetProcessHeap(), 0, block);
    return;
  }
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(block, "\\", &value, &length) != 0 && value != nullptr &&
      length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    *first = HIWORD(info->dwFileVersionLS);
    *second = LOWORD(info->dwFileVersionLS);
  }
  HeapFree(GetProcessHeap(), 0, block);
}

void ShowVersionCaption(HWND window) {
  DWORD first = 0;
  DWORD second = 0;
  ReadFileVersion("Quorvanta.exe", &first, &second);
  char caption[64];
  std::snprintf(caption, sizeof caption, "Quorvanta        Ver. %d.%d", static_cast<int>(first),
                static_cast<int>(second));
  SetWindowTextA(window, caption);
}

void CenterOnScreen(HWND window) {
  const int screen_width = GetSystemMetrics(SM_CXSCREEN);
  const int screen_height = GetSystemMetrics(SM_CYSCREEN);
  RECT r{0, 0, 0, 0};
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  MoveWindow(window, screen_width / 2 - width / 2, screen_height / 2 - height / 2, width, height,
             1);
}

bool ListedDriveAt(int row, int* adapter, int* target) {
  if (row < 0 || row >= kListedDriveRows) return false;
  *adapter = g_app.ListedDrives[row].adapter;
  *target = g_app.ListedDrives[row].target;
  return true;
}

bool ListedDriveModel(int row, char* product, int size) {
  if (row < 0 || row >= kListedDriveRows || size <= 0) return false;
  const int slot = g_app.ListedDrives[row].adapter * 8 + g_app.ListedDrives[row].target;
  if (slot >= kDeviceSlots) return false;
  const int field = static_cast<int>(sizeof g_app.DeviceProductId[slot]);
  int n = 0;
  for (; n < field && n < size - 1 && g_app.DeviceProductId[slot][n] != '\0'; ++n) {
    const char c = g_app.DeviceProductId[slot][n];
    product[n] = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  }
  while (n > 0 && product[n - 1] == ' ') --n;
  product[n] = '\0';
  return true;
}

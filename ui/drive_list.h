// Drive rows of the main dialog, the version caption and the centring of
// dialogs.
#pragma once

#include <cstdint>

#include "platform/dialogs.h"

inline constexpr int kListedDriveRows = 4;

// A drive the main dialog lists: its address, its device-table slot, and
// whether it answered the drive information query (a USB bridge does), with
// the version code it gave.
struct ListedDrive {
  std::uint8_t adapter;
  std::uint8_t target;
  int slot;
  bool usb;
  std::uint8_t version_code;
};

// The drives the main dialog lists, in its order: the supported drives of
// the device table, adapter by adapter, at most kListedDriveRows. Each is
// probed with the drive information query and, when it answers, its codes
// are read (CurrentAdapter and CurrentTarget are left at it). A fifth
// supported drive is probed too, as the dialog always has, but not listed.
// Returns how many rows were filled.
int CollectListedDrives(ListedDrive rows[kListedDriveRows]);
// The same for up to `capacity` rows (the list of every drive).
int CollectSupportedDrives(ListedDrive* rows, int capacity);

// One row (radio button, "F/W         version" label, revision text) per
// supported drive, up to four, growing the dialog by one row pitch for each
// row after the first; fills g_app.ListedDrives and selects the first row.
void FillDriveList(HWND dialog);
// The drive behind row `row` (0..3) as FillDriveList left it; false for a
// row out of range.
bool ListedDriveAt(int row, int* adapter, int* target);
// The product id of that drive from the device table, trailing blanks
// dropped, into `product` (`size` bytes, zero-terminated); false for a row
// out of range.
bool ListedDriveModel(int row, char* product, int size);
// "Quorvanta", eight spaces, "Ver. " and the two low parts of the file
// version of Quorvanta.exe ("Ver. 0.0" when it cannot be read).
void ShowVersionCaption(HWND window);
// Fills the two numbers from the fixed file information of the file's
// version resource; leaves them as they are when it cannot be read.
void ReadFileVersion(const char* file_name, DWORD* first, DWORD* second);
// Moves the window, size unchanged, to the middle of the primary screen.
void CenterOnScreen(HWND window);

// Drive rows of the main dialog, the version caption and the centring of
// dialogs.
#pragma once

#include "platform/dialogs.h"

// One row (radio button, "F/W         version" label, revision text) per
// supported drive, up to four, growing the dialog by one row pitch for each
// row after the first; fills g_app.ListedDrives and selects the first row.
void FillDriveList(HWND dialog);
// The drive behind row `row` (0..3) as FillDriveList left it; false for a
// row out of range.
bool ListedDriveAt(int row, int* adapter, int* target);
// "Quorvanta", eight spaces, "Ver. " and the two low parts of the file
// version of Quorvanta.exe ("Ver. 0.0" when it cannot be read).
void ShowVersionCaption(HWND window);
// Fills the two numbers from the fixed file information of the file's
// version resource; leaves them as they are when it cannot be read.
void ReadFileVersion(const char* file_name, DWORD* first, DWORD* second);
// Moves the window, size unchanged, to the middle of the primary screen.
void CenterOnScreen(HWND window);

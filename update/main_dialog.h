// The main dialog (templates MainDialog and MainDialogUS): set-up, painting
// and the dispatch of its commands.
#pragma once

#include "platform/dialogs.h"

// The dialog procedure; EXIT ends the dialog with 0.
INT_PTR MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
// The UPDATE button, run to its end inside the command.
void OnUpdatePressed(HWND dialog);

// The hidden main window of class LINKTEST, whose creation runs the whole
// dialogue with the user.
#pragma once

#include "platform/dialogs.h"

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

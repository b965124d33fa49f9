// The Windows build's hold of a firmware write: while it runs, the end of
// the session (log-off, shutdown) is refused. Every top-level window of the
// program answers WM_QUERYENDSESSION with "no", the waits of the write let
// such a question in (only sent messages, nothing of the user's), and where
// the system has it (Vista and later, looked up when the write starts, so
// that Windows 95/98, 2000 and XP still start the program)
// ShutdownBlockReasonCreate tells the user why.
#pragma once

#include "platform/hold.h"

// True while a write is held.
bool Win32WriteHeld();
// The window that names the reason (the program's hidden main window).
void NoteWin32MainWindow(HWND window);
WriteHold* Win32WriteHoldInstance();

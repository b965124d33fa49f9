// The Windows build's hold of a firmware write: while it runs, the end of
// the session (log-off, shutdown) is refused. Every top-level window of the
// program answers WM_QUERYENDSESSION with "no", the waits of the write let
// such a question in (only sent messages, nothing of the user's; commands
// posted meanwhile are dropped, not kept for later), and where
// the system has it (Vista and later, looked up when the write starts, so
// that Windows 95/98, 2000 and XP still start the program)
// ShutdownBlockReasonCreate tells the user why.
#pragma once

#include "platform/dialogs.h"
#include "platform/hold.h"

// True while a write is held.
bool Win32WriteHeld();
// True while the end of the session is refused: during a write, until the
// program asks for the restart or shutdown itself.
bool Win32SessionEndRefused();
// The program's own restart or shutdown request follows: Windows 95/98 ask
// its windows at once, inside the request, and they must then say yes.
void Win32OwnSessionEndComing();
// True when `message` must not reach the program's own window or dialog
// procedure: during a write nothing from another thread or process (only
// the end of the session is answered, by the stand-ins) and no command or
// close request, which a message box's loop could otherwise bring in.
bool Win32KeptFromProcedures(UINT message);
// The window that names the reason (the program's hidden main window).
void NoteWin32MainWindow(HWND window);
WriteHold* Win32WriteHoldInstance();

// Handing the computer back to Windows: the restart before a resumed update
// and the shutdown after a direct transfer. None of them forces programs to
// close; each returns at once and Windows ends the program.
#pragma once

// EWX_REBOOT; the result is not used.
void RestartWindows();
// EWX_SHUTDOWN on Windows 95/98; the result is not used.
void ShutDownWindows();
// NT family: enables the shutdown privilege, then asks for the shutdown even
// when the privilege could not be enabled. 1 when both succeeded.
int ShutDownWithPrivilege();

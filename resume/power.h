// Handing the PC back to Windows: the restart before a continued update and
// the shutdown after a direct one. The requests return at once; a refused one
// leaves the program running where it was, with nothing shown.
#pragma once

// Windows 95/98: restart Windows (EWX_REBOOT).
void RestartWindows();
// Windows 95/98: shut Windows down (EWX_SHUTDOWN).
void ShutDownWindows();
// NT family: enables the shutdown privilege in this process's token, then
// asks for the shutdown even when the privilege could not be enabled. 1 when
// the privilege was enabled and the request accepted; 0 otherwise, and 0
// without any request when the token cannot be opened.
int ShutDownWithPrivilege();

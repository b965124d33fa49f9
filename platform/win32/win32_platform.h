// A genuine Windows as the program's platform: every group passes straight
// through to the system (KERNEL32, ADVAPI32, USER32, GDI32, VERSION).
//
// - clock: the system tick count; a wait for a command sleeps on the
//   completion event of that command, any other wait sleeps.
// - aspi: wnaspi32.dll when it is installed (loaded at run time; its entry
//   points are cdecl), otherwise the SCSI pass-through interface on the
//   CD-ROM devices (see win32_aspi.h).
// - system, files, registry: the system's own calls.
#pragma once

#include "platform/platform.h"
#include "platform/win32/win32_api.h"

// Chooses the command channel and installs every group. Call once, first.
void InstallWin32Platform();

// The command line the program is given instead of the process's own (the
// launch options taken off it). Call after InstallWin32Platform.
void SetWin32CommandLine(const char* text);

// Which command channel InstallWin32Platform chose: "wnaspi32.dll" or
// "SCSI pass-through".
const char* Win32CommandChannelName();

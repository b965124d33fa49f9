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

#include <string>

#include "platform/platform.h"
#include "platform/win32/win32_api.h"

// Chooses the command channel and installs every group. Call once, first.
// Takes "--rehearsal-clock-rate N" off the command line the logic sees (tests
// and rehearsals only: the clock runs N times as fast); false, with the
// reason in `error`, when N is not 1 to 1000 or the drives are not emulated
// on that clock.
bool InstallWin32Platform(std::string* error);

// The command line the program is given instead of the process's own (the
// launch options taken off it). Call after InstallWin32Platform.
void SetWin32CommandLine(const char* text);

// Which command channel InstallWin32Platform chose: "wnaspi32.dll" or
// "SCSI pass-through".
const char* Win32CommandChannelName();

// The command line the program is given from now on instead of the
// process's own (after the launcher has taken its own options from it).
void SetWin32CommandLine(const char* text);

// The entry point of Quorvanta.exe, the Windows build: the system's own
// platform is installed and start-up runs as the program always has.
#include <cstdio>
#include <string>

#include "app/startup.h"
#include "platform/win32/win32_platform.h"

// Called by the C runtime of a GUI-subsystem program (stdcall on i686).
extern "C" int QV_WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, char*, int) {
  std::string error;
  if (!InstallWin32Platform(&error)) {
    // A usage error of a test-only option: no dialog, nothing sent to a drive.
    std::fprintf(stderr, "Quorvanta: %s\n", error.c_str());
    return 2;
  }
  return AppMain(instance, previous);
}

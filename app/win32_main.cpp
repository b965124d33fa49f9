// The entry point of Quorvanta.exe, the Windows build: the system's own
// platform is installed, "--package DIR" taken, and start-up runs as the
// program always has.
#include <cstdio>
#include <string>

#include "app/package_option.h"
#include "app/startup.h"
#include "platform/system.h"
#include "platform/win32/win32_platform.h"

// Called by the C runtime of a GUI-subsystem program (stdcall on i686).
extern "C" int QV_WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, char*, int) {
  std::string error;
  if (!InstallWin32Platform(&error)) {
    // A usage error of a test-only option: no dialog, nothing sent to a drive.
    std::fprintf(stderr, "Quorvanta: %s\n", error.c_str());
    return 2;
  }
  // "--package DIR" first: the program reads its package from the current
  // directory, as it always has, so that becomes DIR; a folder that cannot
  // be entered leaves the program where it is, and the package check says
  // what is missing.
  char rest[kMaxPath] = {};
  char folder[kMaxPath] = {};
  if (TakePackageOption(GetCommandLineA(), rest, folder) == 1) {
    SetWin32CommandLine(rest);
    SetCurrentDirectoryA(folder);
  }
  return AppMain(instance, previous);
}

#include "resume/power.h"

#include "platform/system.h"

void RestartWindows() { ExitWindowsEx(EWX_REBOOT, 0); }

void ShutDownWindows() { ExitWindowsEx(EWX_SHUTDOWN, 0); }

int ShutDownWithPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return 0;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // A failed look-up leaves the zero identifier, which the adjustment then
  // reports as not assigned; the shutdown is asked for all the same.
  LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
  AdjustTokenPrivileges(token, 0, &privileges, 0, nullptr, nullptr);
  const DWORD adjust_error = GetLastError();
  // The token stays open: the shutdown ends the process.
  if (!ExitWindowsEx(EWX_SHUTDOWN, 0)) return 0;
  return adjust_error == 0 ? 1 : 0;
}

#include "resume/power.h"

#include "platform/system.h"

void RestartWindows() { ExitWindowsEx(EWX_REBOOT, 0); }

void ShutDownWindows() { ExitWindowsEx(EWX_SHUTDOWN, 0); }

int ShutDownWithPrivilege() {
  const BOOL enabled = EnableShutdownPrivilege();
  if (ExitWindowsEx(EWX_SHUTDOWN, 0) == 0) return 0;
  return enabled != 0 ? 1 : 0;
}

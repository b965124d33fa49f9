#include "platform/sim/sim_system.h"

#include <cstring>
#include <fstream>

#include "platform/events.h"

DWORD CopyOut(const std::string& text, char* buffer, DWORD size) {
  const DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (buffer == nullptr || size < needed) return needed;
  std::memcpy(buffer, text.c_str(), needed);
  return needed - 1;
}

SimSystem::SimSystem(const std::filesystem::path& machine_dir, SimSystemSettings settings,
                     SimFiles* files)
    : power_log_(machine_dir / "power.log"),
      settings_(settings),
      files_(files),
      mutexes_(machine_dir / "locks", "") {}

DWORD SimSystem::Version() { return settings_.nt ? kVersionWindowsNt : kVersionWindows98; }

DWORD SimSystem::WindowsDirectory(char* buffer, DWORD size) {
  // Like GetWindowsDirectoryA: a too small buffer gives the size needed and
  // receives nothing.
  return CopyOut("C:\\WINDOWS", buffer, size);
}

BOOL SimSystem::SetCurrentDirectory(const char* path) {
  return files_->SetCurrentDirectory(path) ? 1 : 0;
}

DWORD SimSystem::CurrentDirectory(DWORD size, char* buffer) {
  return CopyOut(files_->current_directory(), buffer, size);
}

HANDLE SimSystem::OpenMutex(DWORD, BOOL, const char* name) { return mutexes_.Open(name); }

HANDLE SimSystem::CreateMutex(BOOL initial_owner, const char* name) {
  return mutexes_.Create(initial_owner != 0, name);
}

BOOL SimSystem::EnableShutdownPrivilege() {
  if (!settings_.nt) return 1;  // Windows 95/98 has no privileges to enable
  if (!settings_.shutdown_right) return 0;
  privilege_enabled_ = true;
  return 1;
}

BOOL SimSystem::ExitWindows(DWORD flags, DWORD) {
  const char* what = nullptr;
  PowerRequest request = PowerRequest::kNone;
  if ((flags & EWX_REBOOT) != 0) {
    what = "restart";
    request = PowerRequest::kRestart;
  } else if ((flags & (EWX_SHUTDOWN | EWX_POWEROFF)) != 0) {
    what = "shutdown";
    request = PowerRequest::kShutdown;
  } else {
    return 0;  // logging off is nothing a virtual PC acts on
  }
  // The NT family refuses a process that has not enabled the privilege.
  if (settings_.nt && !privilege_enabled_) return 0;
  {
    std::ofstream log(power_log_, std::ios::app | std::ios::binary);
    log << what << '\n';
    if (!log.flush()) return 0;
  }
  RaisePlatformEvent(PlatformEventKind::kPowerRequest, what);
  // A restart wins over a later shutdown request: it has already been asked.
  if (power_request_ != PowerRequest::kRestart) power_request_ = request;
  if (power_handler_) power_handler_(request);
  return 1;
}

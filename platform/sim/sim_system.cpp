#include "platform/sim/sim_system.h"

#include <cstdio>
#include <cstring>
#include <ctime>
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

namespace {

// The identifier this PC gives the shutdown privilege, as Windows NT does.
constexpr LUID kShutdownLuid = {19, 0};
constexpr DWORD kAccessDenied = 5;
constexpr DWORD kInvalidParameter = 87;
HANDLE const kTokenHandle = reinterpret_cast<HANDLE>(std::uintptr_t{0x7070});

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

bool SameLuid(const LUID& a, const LUID& b) {
  return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

}  // namespace

BOOL SimSystem::OpenProcessToken(DWORD access, HANDLE* token) {
  // Windows 95/98 has no access tokens at all.
  if (!settings_.nt || token == nullptr) {
    last_error_ = settings_.nt ? kInvalidParameter : ERROR_CALL_NOT_IMPLEMENTED;
    privilege_log_.push_back("OpenProcessToken " + Hex(access) + ": refused");
    return 0;
  }
  token_open_ = true;
  token_access_ = access;
  *token = kTokenHandle;
  last_error_ = 0;
  privilege_log_.push_back("OpenProcessToken " + Hex(access) + ": opened");
  return 1;
}

BOOL SimSystem::LookupPrivilegeValue(const char*, const char* name, LUID* luid) {
  std::string shown = name == nullptr ? "(null)" : name;
  if (!settings_.nt || luid == nullptr || name == nullptr ||
      !SameWindowsName(name, SE_SHUTDOWN_NAME)) {
    last_error_ = settings_.nt ? ERROR_NO_SUCH_PRIVILEGE : ERROR_CALL_NOT_IMPLEMENTED;
    privilege_log_.push_back("LookupPrivilegeValue " + shown + ": unknown");
    return 0;
  }
  *luid = kShutdownLuid;
  last_error_ = 0;
  privilege_log_.push_back("LookupPrivilegeValue " + shown + ": found");
  return 1;
}

BOOL SimSystem::AdjustTokenPrivileges(HANDLE token, BOOL disable_all,
                                      const TOKEN_PRIVILEGES* state) {
  if (!settings_.nt || token != kTokenHandle || !token_open_ ||
      (token_access_ & TOKEN_ADJUST_PRIVILEGES) == 0 || (!disable_all && state == nullptr)) {
    last_error_ = settings_.nt ? kAccessDenied : ERROR_CALL_NOT_IMPLEMENTED;
    privilege_log_.push_back("AdjustTokenPrivileges: refused");
    return 0;
  }
  if (disable_all) {
    privilege_enabled_ = false;
    last_error_ = 0;
    privilege_log_.push_back("AdjustTokenPrivileges all: disabled");
    return 1;
  }
  bool all_assigned = true;
  const DWORD count = state->PrivilegeCount > 1 ? 1 : state->PrivilegeCount;
  for (DWORD i = 0; i < count; ++i) {
    const LUID_AND_ATTRIBUTES& p = state->Privileges[i];
    if (!SameLuid(p.Luid, kShutdownLuid) || !settings_.shutdown_right) {
      all_assigned = false;  // a privilege the token does not hold stays as it is
      continue;
    }
    privilege_enabled_ = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  last_error_ = all_assigned ? 0 : ERROR_NOT_ALL_ASSIGNED;
  privilege_log_.push_back(std::string("AdjustTokenPrivileges SeShutdownPrivilege: ") +
                           (all_assigned ? "done" : "not all assigned"));
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
  if (settings_.nt && !privilege_enabled_) {
    last_error_ = ERROR_PRIVILEGE_NOT_HELD;
    privilege_log_.push_back(std::string("ExitWindows ") + what + ": refused");
    return 0;
  }
  {
    std::ofstream log(power_log_, std::ios::app | std::ios::binary);
    log << what << '\n';
    if (!log.flush()) return 0;
  }
  last_error_ = 0;
  privilege_log_.push_back(std::string("ExitWindows ") + what + ": accepted");
  RaisePlatformEvent(PlatformEventKind::kPowerRequest, what);
  // A restart wins over a later shutdown request: it has already been asked.
  if (power_request_ != PowerRequest::kRestart) power_request_ = request;
  if (power_handler_) power_handler_(request);
  return 1;
}

void SimSystem::SystemTime(SYSTEMTIME* time) {
  // 2026-01-01T00:00:00Z, the day every virtual PC is switched on.
  constexpr std::time_t kPowerOnDay = 1767225600;
  const std::uint64_t ms = ms_since_power_on_ ? ms_since_power_on_() : 0;
  const std::time_t now = kPowerOnDay + static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&now, &utc);
  *time = SYSTEMTIME{static_cast<WORD>(utc.tm_year + 1900), static_cast<WORD>(utc.tm_mon + 1),
                     static_cast<WORD>(utc.tm_wday),        static_cast<WORD>(utc.tm_mday),
                     static_cast<WORD>(utc.tm_hour),        static_cast<WORD>(utc.tm_min),
                     static_cast<WORD>(utc.tm_sec),         static_cast<WORD>(ms % 1000)};
}

// The virtual PC's system group: its Windows family and language, C:\WINDOWS,
// the command line it started the program with, the current directory (kept
// by its C: drive), named mutexes as lock files in DIR/locks, and the power
// requests, which are appended to DIR/power.log.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/lock_file.h"
#include "platform/sim/sim_files.h"
#include "platform/system.h"

enum class PowerRequest { kNone, kRestart, kShutdown };

struct SimSystemSettings {
  bool nt = false;
  LANGID lang = 0x0409;
  // NT family: whether the user holds the right to shut the PC down.
  bool shutdown_right = true;
  // As on a real host: the drive gets its power cycle from the user, not
  // from the shutdown.
  bool power_cycle_by_hand = false;
};

class SimSystem final : public System {
 public:
  SimSystem(const std::filesystem::path& machine_dir, SimSystemSettings settings, SimFiles* files);

  void set_command_line(std::string text) { command_line_ = std::move(text); }
  PowerRequest power_request() const { return power_request_; }
  // Called after a request was accepted, logged and told.
  void set_power_handler(std::function<void(PowerRequest)> handler) {
    power_handler_ = std::move(handler);
  }

  DWORD Version() override;
  LANGID UserDefaultLangID() override { return settings_.lang; }
  DWORD WindowsDirectory(char* buffer, DWORD size) override;
  const char* CommandLine() override { return command_line_.c_str(); }
  BOOL SetCurrentDirectory(const char* path) override;
  DWORD CurrentDirectory(DWORD size, char* buffer) override;
  HANDLE OpenMutex(DWORD access, BOOL inherit, const char* name) override;
  HANDLE CreateMutex(BOOL initial_owner, const char* name) override;
  BOOL ReleaseMutex(HANDLE mutex) override { return mutexes_.Release(mutex); }
  BOOL CloseHandle(HANDLE handle) override { return mutexes_.Close(handle); }
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override;
  BOOL LookupPrivilegeValue(const char* system, const char* name, LUID* luid) override;
  BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all,
                             const TOKEN_PRIVILEGES* state) override;
  DWORD LastError() override { return last_error_; }
  BOOL ExitWindows(DWORD flags, DWORD reason) override;
  // A capture made on this host, replayed: the drive's power was cycled by
  // hand after the direct update's shutdown, as this host asks for.
  void set_power_cycled_by_hand(bool by_hand) { settings_.power_cycle_by_hand = by_hand; }
  BOOL DrivePowerCycledByHand() override { return settings_.power_cycle_by_hand ? 1 : 0; }
  // The PC's calendar runs with its virtual clock from a fixed day at
  // power-on, so a run gives the same times every time it is repeated.
  void set_time_source(std::function<std::uint64_t()> ms_since_power_on) {
    ms_since_power_on_ = std::move(ms_since_power_on);
  }
  void SystemTime(SYSTEMTIME* time) override;

  // The token steps and power requests in the order the program made them,
  // with what the PC answered: "OpenProcessToken 0x28: refused",
  // "AdjustTokenPrivileges SeShutdownPrivilege: not all assigned",
  // "ExitWindows shutdown: refused", ...
  const std::vector<std::string>& privilege_log() const { return privilege_log_; }

 private:
  std::filesystem::path power_log_;
  SimSystemSettings settings_;
  SimFiles* files_;
  NamedMutexTable mutexes_;
  std::string command_line_;
  bool token_open_ = false;
  DWORD token_access_ = 0;
  bool privilege_enabled_ = false;
  DWORD last_error_ = 0;
  std::vector<std::string> privilege_log_;
  PowerRequest power_request_ = PowerRequest::kNone;
  std::function<void(PowerRequest)> power_handler_;
  std::function<std::uint64_t()> ms_since_power_on_;
};

// Copies `text` and its terminator into a Win32-style buffer; returns the
// length without the terminator, or the size needed (terminator included)
// when the buffer is too small.
DWORD CopyOut(const std::string& text, char* buffer, DWORD size);

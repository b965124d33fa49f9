// This Linux host as the program's platform.
//
// - clock: CLOCK_MONOTONIC milliseconds folded into 32 bits; waits sleep. A
//   rehearsal (tests, drives emulated behind the kernel) may run the tick
//   count a whole number of times as fast as the wall clock; a real drive's
//   own times never shrink, so a real update always runs at rate 1.
// - system: the NT family; language from LC_ALL / LC_MESSAGES / LANG ("ja*"
//   is Japanese 0x0411, anything else US English 0x0409); the Windows
//   directory is the state directory; named mutexes are lock files in it,
//   beside what they guard; power requests never power this host off.
// - files: native paths, '\' read as '/'.
// - registry: the registry store in the state directory (registry.reg).
// - aspi: the kernel's SCSI generic driver (SgAspi).
// - family: the NT family, or Windows 95/98 when asked for (--family 98).
//
// The state directory is $QUORVANTA_STATE_DIR (a relative one taken from the
// folder the program was started in), else $XDG_STATE_HOME/quorvanta (when
// that is absolute), else ~/.local/state/quorvanta; it is created private
// (0700) when missing and refused when a folder on the way to it is not
// root's or this user's or may be written by others (see StateDir), or a
// file of the program's there is not this user's own regular file. Once
// checked it is held open and its files are opened through it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/aspi.h"
#include "platform/clock.h"
#include "platform/host/sg_aspi.h"
#include "platform/platform.h"
#include "platform/posix/lock_file.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/state_dir.h"
#include "platform/system.h"

// What the views tell the user after a restart request, which this host
// never carries out (English, and Japanese in code page 932). A shutdown's
// power cycle is asked for by the update itself (DrivePowerCycledByHand).
inline constexpr const char* kRestartNotCarriedOut =
    "This computer is not restarted by the program. Turn the drive's power off and on, then "
    "start the program again to go on with the update.";
inline constexpr const char* kRestartNotCarriedOutJapanese =
    "\x82\xB1\x82\xCC\x83\x52\x83\x93\x83\x73\x83\x85\x81\x5B\x83\x5E\x82\xCD\x8D\xC4"
    "\x8B\x4E\x93\xAE\x82\xB3\x82\xEA\x82\xDC\x82\xB9\x82\xF1\x81\x42\x83\x68\x83\x89"
    "\x83\x43\x83\x75\x82\xCC\x93\x64\x8C\xB9\x82\xF0\x90\xD8\x82\xC1\x82\xC4\x82\xA9"
    "\x82\xE7\x93\xFC\x82\xEA\x92\xBC\x82\xB5\x81\x41\x82\xE0\x82\xA4\x88\xEA\x93\x78"
    "\x8B\x4E\x93\xAE\x82\xB5\x82\xC4\x8D\x58\x90\x56\x82\xF0\x91\xB1\x82\xAF\x82\xC4"
    "\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42";

class HostClock final : public Clock {
 public:
  static constexpr std::uint32_t kMaxRehearsalRate = 1000;

  explicit HostClock(CompletionPump* pump = nullptr) : pump_(pump) {}
  DWORD TickCount() override;
  // Sleeps to the deadline inside the pump, which reads the drives' answers
  // meanwhile and ends the wait early once `request` has ended; without a
  // pump, a plain sleep.
  void Wait(const SRB_ExecSCSICmd* request, DWORD ms) override;
  // From now on the tick count runs `rate` times as fast as the wall clock
  // (1 to kMaxRehearsalRate), going on from its present reading.
  void SetRehearsalRate(std::uint32_t rate);
  std::uint32_t rate() const { return rate_; }

 private:
  CompletionPump* pump_;
  std::uint32_t rate_ = 1;
  std::int64_t origin_ns_ = 0;
  DWORD origin_ticks_ = 0;
};

// The language id for a locale name such as "ja_JP.UTF-8" or "C".
LANGID LanguageFromLocale(std::string_view locale);
// The language of this process's environment (LC_ALL, LC_MESSAGES, LANG:
// the first that is set and not empty).
LANGID LanguageFromEnvironment();
// What is wrong with a package file the program could not use, in one line
// that names its whole path (`path` as the program gave it, relative to the
// current directory, '\' read as '/'); `largest` as NotePackageFileProblem.
std::string PackageFileProblem(const char* path, DWORD largest = 0);
// The state directory as above (not created); empty when none can be named.
std::filesystem::path StateDirectory();

class HostFiles final : public PosixFiles {
 public:
  HostFiles() { follow_links_ = true; }
  bool Map(const char* path, bool for_create, std::filesystem::path* out) override;
  // From now on the files of `state` are opened through its descriptor.
  void set_state_dir(const StateDir* state) { state_ = state; }

 protected:
  int FolderOf(const std::filesystem::path& host, std::string* name) override;
  // The state files, the history among them, go through the open folder.
  const StateDir* StateFolderOf(const std::filesystem::path& host, std::string* name) override;

 private:
  const StateDir* state_ = nullptr;
};

class HostSystem final : public System {
 public:
  // The lock files go into the open `state` folder, which outlives this.
  explicit HostSystem(const StateDir* state);

  void set_command_line(std::string text) { command_line_ = std::move(text); }
  void set_windows_98(bool on) { windows_98_ = on; }

  DWORD Version() override;
  LANGID UserDefaultLangID() override { return language_; }
  DWORD WindowsDirectory(char* buffer, DWORD size) override;
  const char* CommandLine() override { return command_line_.c_str(); }
  BOOL SetCurrentDirectory(const char* path) override;
  DWORD CurrentDirectory(DWORD size, char* buffer) override;
  HANDLE OpenMutex(DWORD access, BOOL inherit, const char* name) override;
  HANDLE CreateMutex(BOOL initial_owner, const char* name) override;
  BOOL ReleaseMutex(HANDLE mutex) override { return mutexes_.Release(mutex); }
  BOOL CloseHandle(HANDLE handle) override { return mutexes_.Close(handle); }
  // This host's user may ask; the request itself is never carried out.
  BOOL OpenProcessToken(DWORD, HANDLE* token) override {
    *token = reinterpret_cast<HANDLE>(std::uintptr_t{1});
    return 1;
  }
  BOOL LookupPrivilegeValue(const char*, const char*, LUID* luid) override {
    *luid = LUID{19, 0};
    return 1;
  }
  BOOL AdjustTokenPrivileges(HANDLE, BOOL, const TOKEN_PRIVILEGES*) override { return 1; }
  DWORD LastError() override { return 0; }
  // Raises the power request (the transcript's "power: restart" or
  // "power: shutdown"), then what the user is to do instead, and refuses (0):
  // this host is never powered off by the program.
  BOOL ExitWindows(DWORD flags, DWORD reason) override;
  // One line (a host note: standard error, or the status line of a view
  // that owns the terminal): the whole path and what is wrong with it.
  void NotePackageFileProblem(const char* path, DWORD largest) override;
  // The drive's power cycle is the user's: the program then looks for it.
  BOOL DrivePowerCycledByHand() override { return 1; }
  bool package_problems_noted() const { return package_problems_ != 0; }
  // The whole path of the package file last reported, empty before one.
  const std::string& last_package_problem() const { return last_package_problem_; }

 private:
  int package_problems_ = 0;
  std::string last_package_problem_;
  const StateDir* state_;
  NamedMutexTable mutexes_;
  std::string command_line_;
  LANGID language_;
  bool windows_98_ = false;
};

// How this host reaches the drives: "sg" when the kernel's SCSI generic
// driver is there, else "none" and what to do about it.
const char* HostDriveAccess();

class HostPlatform {
 public:
  // Creates the state directory and loads its registry; null and one line
  // in *error when that fails.
  static std::unique_ptr<HostPlatform> Create(std::string* error);

  Platform platform();
  void SetCommandLine(std::string text) { system_->set_command_line(std::move(text)); }
  // Windows 95/98 instead of the NT family: the two-stage update for drives
  // that answer the vendor query.
  void SetWindows98(bool on) { system_->set_windows_98(on); }
  // Rehearsals and tests only (see HostClock::SetRehearsalRate).
  void SetRehearsalClockRate(std::uint32_t rate) {
    clock_->SetRehearsalRate(rate);
    aspi_->set_rehearsal_rate(clock_->rate());
  }
  const std::filesystem::path& state_dir() const { return state_.path(); }
  // The state directory, held open since it was checked.
  const StateDir& state() const { return state_; }
  const SgAspi& sg() const { return *aspi_; }
  // A package file was named as missing or unreadable on standard error.
  bool package_problems_noted() const { return system_->package_problems_noted(); }
  const std::string& last_package_problem() const { return system_->last_package_problem(); }
  RegistryStore& registry() { return *registry_; }

 private:
  HostPlatform() = default;

  StateDir state_;
  std::unique_ptr<SgAspi> aspi_;
  std::unique_ptr<HostClock> clock_;
  HostFiles files_;
  std::unique_ptr<HostSystem> system_;
  std::unique_ptr<RegistryStore> registry_;
};

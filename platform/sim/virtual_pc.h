// The virtual PC: a directory that stands for one whole computer.
//
//   DIR/machine.ini    key=value lines, '#' starts a comment line:
//                        os=98|nt          Windows family (default 98)
//                        lang=0x0409       the user's default language id
//                        ticks=N           tick count at power-on (0..4294967295),
//                                          to cross the 2^32 wrap on purpose
//                        screen=WxH        screen size in pixels (default 1024x768)
//                        adapters=N        host adapters, 0..8 (default 1)
//                        realtime=0|1      waits follow the wall clock (default 0)
//                        shutdownright=0|1 NT family: the user may shut down (default 1)
//                        byhand=0|1        the shutdown request is followed by the user
//                                          switching the drives off and on, as on a
//                                          real host (default 0)
//                        fail=LIST         calls that fail on purpose, counted from
//                                          power-on: files.OP@N or registry.OP@N[=CODE]
//                                          separated by commas; OP is a call of
//                                          the group (files: open create read write
//                                          seek size close delete; registry: open
//                                          create info enum query set delete close),
//                                          N its 1-based count, CODE the Win32
//                                          error (default 5, access denied)
//   DIR/drive_c/       the C: drive; C:\WINDOWS is DIR/drive_c/WINDOWS, the
//                      package folder C:\Quorvanta is DIR/drive_c/Quorvanta and
//                      the program is C:\Quorvanta\Quorvanta.exe
//   DIR/registry.reg   HKEY_LOCAL_MACHINE as REGEDIT4 text, replaced atomically
//   DIR/power.log      one line per accepted request: "restart" or "shutdown"
//   DIR/drives/        the emulated drives and their firmware (SimAspi)
//   DIR/locks/         lock files of the named mutexes (made when first used)
//   DIR/replay.jsonl   (quorvanta-sim replay) a capture: when present, the
//                      program's commands are answered from it by the replay
//                      adapter instead of by the drives, and the verdict is
//                      written to DIR/replay.result (at the first divergence,
//                      which also ends a launched program with exit code 1,
//                      or when the PC is saved)
//
// Opening a virtual PC powers it on: the drives start from what they hold,
// the tick count from `ticks`, the current directory is C:\Quorvanta and the
// command line is that of a user who started C:\Quorvanta\Quorvanta.exe.
// Opening changes nothing in the directory; only the program's own actions
// (registry changes, files, power requests) and Save() do.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/registry_store.h"
#include "platform/sim/crash_point.h"
#include "platform/sim/replay_aspi.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

struct MachineSettings {
  bool nt = false;
  LANGID lang = 0x0409;
  DWORD ticks = 0;
  int screen_width = 1024;
  int screen_height = 768;
  int adapters = 1;
  bool realtime = false;
  bool shutdown_right = true;
  std::string fail;  // the fail= list as written
  bool power_cycle_by_hand = false;
};

struct ArmedFault {
  bool registry = false;  // else files
  std::string operation;
  int nth = 1;
  long code = 5;
};
// Parses a fail= list; false with a reason for an unknown group or call.
bool ParseFaultList(std::string_view text, std::vector<ArmedFault>* out, std::string* error);

// A decimal or 0x-prefixed hexadecimal number no greater than `max`.
bool ParseSettingNumber(std::string_view text, std::uint64_t max, std::uint64_t* out);

// Reads machine.ini text; false with a one-line reason on an unknown key, a
// repeated key or a value out of range.
bool ParseMachineIni(std::string_view text, MachineSettings* out, std::string* error);
std::string FormatMachineIni(const MachineSettings& settings);

inline constexpr const char* kProgramWindowsPath = "C:\\Quorvanta\\Quorvanta.exe";
inline constexpr const char* kPackageWindowsDir = "C:\\Quorvanta";
inline constexpr const char* kRunKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run";
inline constexpr const char* kRunValueName = "Quorvanta";
// Set by `quorvanta-sim run` when it boots the program from the Run entry:
// the entry's data. The command line is then that text as it stands (Windows
// starts a Run entry with exactly its data) and the current directory is the
// program's folder; SetCommandLine() leaves such a command line alone.
inline constexpr const char* kRunEntryEnvironment = "QUORVANTA_SIM_RUN_ENTRY";
// Set (to 1) by `quorvanta-sim run` for every boot: a restart request ends
// the process as Windows would (see EndProcessOnRestart).
inline constexpr const char* kEndOnRestartEnvironment = "QUORVANTA_SIM_END_ON_RESTART";
// The crash knob (see crash_point.h): set to N, the program is killed just
// before its Nth call on the registry or on a file in C:\WINDOWS. It is read
// at power-on and applies to this one launch; crash tests set it for a
// single run of the program, never for quorvanta-sim run.
inline constexpr const char* kDieAtEnvironment = "QUORVANTA_SIM_DIE_AT";

// The signal knob (see crash_point.h): "N:SIGNAL" (SIGNAL a number, or INT,
// TERM, HUP, QUIT, PIPE or TSTP) sends the program that signal just before
// its Nth drive command of this launch; "N:-SIGNAL" sends it to the
// program's whole process group.
inline constexpr const char* kSignalAtEnvironment = "QUORVANTA_SIM_SIGNAL_AT";

class VirtualPc {
 public:
  // Null and one clear line in *error for a missing or malformed virtual PC.
  static std::unique_ptr<VirtualPc> Open(const std::filesystem::path& dir, std::string* error);
  ~VirtualPc();

  // The groups of this PC; they live as long as the VirtualPc.
  Platform platform();
  // The Windows-style command line of a user's launch (quoted program path,
  // arguments). Ignored for a start from the Run entry (see above).
  void SetCommandLine(std::string text);
  // Persists the registry and the drives. False when either failed.
  bool Save();
  // When on, an accepted restart request saves the PC, flushes every open
  // stdio stream and ends the process with exit code 0 right there, as
  // Windows ends a program when it restarts; the program's code after the
  // request never runs. Off by default (tests run in-process); on when
  // kEndOnRestartEnvironment is set.
  void EndProcessOnRestart(bool on) { end_on_restart_ = on; }

  VirtualClock& clock() { return *clock_; }
  RegistryStore& registry() { return *registry_; }
  SimFiles& files() { return *files_; }
  SimSystem& system() { return *system_; }
  SimAspi& aspi() { return *aspi_; }
  // Null unless DIR/replay.jsonl was there when the PC was opened.
  ReplayAspi* replay() { return replay_.get(); }
  PowerRequest power_request() const { return system_->power_request(); }
  bool restart_requested() const { return power_request() == PowerRequest::kRestart; }
  bool shutdown_requested() const { return power_request() == PowerRequest::kShutdown; }
  bool started_from_run_entry() const { return from_run_entry_; }

  const MachineSettings& settings() const { return settings_; }
  int screen_width() const { return settings_.screen_width; }
  int screen_height() const { return settings_.screen_height; }
  const std::filesystem::path& dir() const { return dir_; }

 private:
  VirtualPc() = default;
  bool OpenReplay(std::string* error);

  std::filesystem::path dir_;
  MachineSettings settings_;
  std::unique_ptr<VirtualClock> clock_;
  std::unique_ptr<RegistryStore> registry_;
  std::unique_ptr<SimFiles> files_;
  std::unique_ptr<SimSystem> system_;
  std::unique_ptr<SimAspi> aspi_;
  std::unique_ptr<ReplayAspi> replay_;
  bool from_run_entry_ = false;
  bool end_on_restart_ = false;
  // Only with the crash knob set: the groups the program is given instead.
  std::unique_ptr<CrashPoint> crash_;
  std::unique_ptr<CrashingFiles> crashing_files_;
  std::unique_ptr<CrashingRegistry> crashing_registry_;
  std::unique_ptr<SignallingAspi> signalling_aspi_;
};

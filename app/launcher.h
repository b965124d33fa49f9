// The `quorvanta` command line: options, the platform chosen once, the view,
// and the Windows-style command line handed to the program.
#pragma once

#include <string>
#include <vector>

struct LaunchOptions {
  std::string machine_dir;  // empty: run on this host
  std::string ui;           // headless, terminal, desktop; empty: the default
  bool autopilot = false;
  std::string script_path;
  int drive_adapter = -1;  // --drive A:T; -1: the first listed drive
  int drive_target = -1;
  bool list = false;
  bool history = false;  // --history: the update history, then end
  bool json = false;
  std::string trace_path;
  std::string record_path;  // --record FILE: a replayable capture
  bool rehearse = false;    // --rehearse (this host): rehearse on the drive's twin
  // The Windows family this host acts as: 95/98 unless --family nt, since
  // its update checks the drive's new revision and model code before it
  // reports success, where the NT family's direct write verifies nothing.
  bool family_98 = true;  // --family 98|nt (this host only)
  bool family_given = false;
  // --package DIR (this host only): the folder that holds Tellumar.inf (or
  // Tellumar.inf itself); the
  // program runs in it, so the image named on the command line is relative
  // to it. Empty: the current directory.
  std::string package_dir;
  // --rehearsal-clock-rate N (this host only): the tick count runs N times
  // as fast as the wall clock, for rehearsals against emulated drives.
  int rehearsal_clock_rate = 1;
  bool help = false;
  bool version = false;
  std::vector<std::string> arguments;  // IMAGE [OPTION] and anything after
};

// Parses argv[1..]. False with a one-line message on a usage error, which
// ends with the pointer to --help.
bool ParseLaunchOptions(int argc, const char* const* argv, LaunchOptions* options,
                        std::string* error);

// The quoted program path, then a blank and the arguments joined by single
// blanks (nothing after the quote when there are no arguments).
std::string BuildWindowsCommandLine(const std::string& program_path,
                                    const std::vector<std::string>& arguments);

// Runs the program as the options say and returns the process exit code.
int RunLauncher(const LaunchOptions& options, const char* argv0);

const char* LauncherUsage();

// After a fault that ends the launch early: what a normal end finishes
// (the trace, the view with its transcript, the virtual PC); nothing when no
// launch runs.
void FinishInterruptedLaunch();

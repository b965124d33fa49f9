#include "app/launcher.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/launch.h"
#include "app/list_command.h"
#include "app/startup.h"
#include "platform/dialogs/views.h"
#include "platform/host/host_platform.h"
#include "platform/platform.h"
#include "platform/sim/virtual_pc.h"
#include "platform/trace.h"
#include "ui/drive_list.h"

namespace {

int UsageError(const std::string& text) {
  std::fprintf(stderr, "quorvanta: %s\n", text.c_str());
  return 2;
}

std::string OwnProgramPath(const char* argv0) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) self = std::filesystem::absolute(argv0, ec);
  return self.string();
}

// The one platform of this launch, kept alive until the program has ended.
struct ChosenPlatform {
  std::unique_ptr<VirtualPc> pc;
  std::unique_ptr<HostPlatform> host;
};

bool ChoosePlatform(const LaunchOptions& options, const char* argv0, ChosenPlatform* chosen,
                    std::string* error) {
  if (!options.machine_dir.empty()) {
    chosen->pc = VirtualPc::Open(options.machine_dir, error);
    if (!chosen->pc) return false;
    // One launch: a restart request ends the process, as Windows would.
    chosen->pc->EndProcessOnRestart(true);
    chosen->pc->SetCommandLine(BuildWindowsCommandLine(kProgramWindowsPath, options.arguments));
    InstallPlatform(chosen->pc->platform());
    SetScreenSize(chosen->pc->screen_width(), chosen->pc->screen_height());
    return true;
  }
  chosen->host = HostPlatform::Create(error);
  if (!chosen->host) return false;
  chosen->host->SetCommandLine(BuildWindowsCommandLine(OwnProgramPath(argv0), options.arguments));
  chosen->host->SetWindows98(options.family_98);
  if (options.rehearsal_clock_rate != 1) {
    // Every wait and time-out shrinks with it, a real drive's save and
    // restart do not: said on every run, so that it is never taken for a
    // faster update.
    std::fprintf(stderr,
                 "quorvanta: note: rehearsal clock, %d times as fast as the wall clock; "
                 "for emulated drives only, a real drive would fail its update\n",
                 options.rehearsal_clock_rate);
    chosen->host->SetRehearsalClockRate(static_cast<std::uint32_t>(options.rehearsal_clock_rate));
  }
  InstallPlatform(chosen->host->platform());
  return true;
}

bool ChooseView(const LaunchOptions& options, ViewKind* view, std::string* error) {
  bool scripted = options.autopilot || !options.script_path.empty() || options.list;
  bool display = options.ui.empty() && !scripted && DesktopAvailable();
  bool terminal = isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
  // The list never shows a dialog of its own.
  *view =
      options.list ? ViewKind::kHeadless : DefaultViewKind(options.ui, scripted, display, terminal);
  // Every view may say which drive a row is (the autopilot chooses by it).
  SetListedDriveQuery(ListedDriveAt);
  SetListedDriveModelQuery(ListedDriveModel);
  if (*view != ViewKind::kHeadless) {
    if (options.autopilot || !options.script_path.empty()) {
      *error = "--yes and --script drive the headless view, not the " + options.ui + " view";
      return false;
    }
    if (*view == ViewKind::kTerminal) return StartTerminalView(error);
    return StartDesktopView(stdout, error);
  }
  if (!options.list && !options.autopilot && options.script_path.empty()) {
    *error = options.ui.empty()
                 ? "no display and no terminal to show the dialogs on: pass --yes or --script FILE"
                 : "the headless view needs a user: pass --yes or --script FILE";
    return false;
  }
  // The list goes to standard output alone; its start-up messages, if any,
  // go to standard error.
  std::FILE* transcript = options.list ? stderr : stdout;
  return StartHeadlessView(transcript,
                           options.script_path.empty() ? nullptr : options.script_path.c_str(),
                           options.autopilot, options.drive_adapter, options.drive_target, error);
}

int FinishView(ViewKind view, std::string* error) {
  switch (view) {
    case ViewKind::kTerminal:
      FinishTerminalView();
      return 0;
    case ViewKind::kDesktop:
      FinishDesktopView();
      return 0;
    case ViewKind::kHeadless:
      break;
  }
  return FinishHeadlessView(error);
}

}  // namespace

int RunLauncher(const LaunchOptions& options, const char* argv0) {
  if (options.help) {
    std::fputs(LauncherUsage(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("quorvanta 1.0");
    return 0;
  }
  ResetLaunch();
  std::string error;
  ChosenPlatform chosen;
  if (!ChoosePlatform(options, argv0, &chosen, &error)) return UsageError(error);
  ViewKind view = ViewKind::kHeadless;
  if (!ChooseView(options, &view, &error)) {
    InstallPlatform(Platform{});
    return UsageError(error);
  }
  if (!options.trace_path.empty() && !OpenTrace(options.trace_path.c_str())) {
    FinishView(view, &error);
    InstallPlatform(Platform{});
    return UsageError("cannot write the trace file " + options.trace_path);
  }

  int exit_code = 0;
  if (options.list) {
    if (RunStartupChecks(nullptr, nullptr, &exit_code)) exit_code = RunListCommand(options.json);
  } else {
    exit_code = AppMain(nullptr, nullptr);
  }

  CloseTrace();
  int view_code = FinishView(view, &error);
  if (chosen.pc && !chosen.pc->Save()) {
    std::fprintf(stderr, "quorvanta: could not save the virtual PC at %s\n",
                 options.machine_dir.c_str());
  }
  InstallPlatform(Platform{});
  if (view_code != 0) {
    std::fprintf(stderr, "quorvanta: %s\n", error.c_str());
    return view_code;
  }
  return exit_code;
}

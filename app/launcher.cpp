#include "app/launcher.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/history.h"
#include "app/launch.h"
#include "app/list_command.h"
#include "app/package_folder.h"
#include "app/recording.h"
#include "app/startup.h"
#include "platform/dialogs/model.h"
#include "platform/dialogs/view_support.h"
#include "platform/dialogs/views.h"
#include "platform/hold.h"
#include "platform/host/host_platform.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "platform/posix/file_read.h"
#include "platform/posix/signal_hold.h"
#include "platform/sim/virtual_pc.h"
#include "platform/system.h"
#include "platform/text_convert.h"
#include "platform/trace.h"
#include "state/app_state.h"
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

// This host's drives for the list's JSON form, while its platform lives.
const SgAspi* g_host_sg = nullptr;

bool HostKernelDevice(int adapter, int target, std::string* node, std::string* address) {
  if (g_host_sg == nullptr) return false;
  *node = g_host_sg->NodeAt(adapter, target);
  *address = g_host_sg->KernelAddressAt(adapter, target);
  return !node->empty();
}

// The list's start-up messages, held until the run has ended: where this
// host has already said in one line what is wrong (a missing package file),
// the box would only repeat it; otherwise they go to standard error.
struct ListMessages {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* stream = nullptr;

  std::FILE* Open() {
    stream = open_memstream(&text, &size);
    return stream != nullptr ? stream : stderr;
  }
  // The messages, after writing them to standard error unless already said.
  std::string Finish(bool already_said) {
    if (stream == nullptr) return "";
    std::fclose(stream);
    stream = nullptr;
    if (!already_said && text != nullptr) std::fputs(text, stderr);
    std::string messages = text != nullptr ? text : "";
    std::free(text);
    text = nullptr;
    return messages;
  }
};
ListMessages g_list_messages;

// The one platform of this launch, kept alive until the program has ended.
struct ChosenPlatform {
  std::unique_ptr<VirtualPc> pc;
  std::unique_ptr<HostPlatform> host;
};

// The program reads Tellumar.inf and the files it names from its current
// directory, as it always has: --package makes that the folder given (or
// the folder of the Tellumar.inf given).
bool EnterPackageFolder(const std::string& given, std::string* error) {
  if (given.empty()) return true;
  std::filesystem::path dir;
  if (!PackageFolderOf(given, &dir, error)) return false;
  std::error_code ec;
  std::filesystem::current_path(dir, ec);
  if (ec) {
    *error = "cannot use the package folder " + VisibleText(dir.string()) + ": " + ec.message() +
             " (see quorvanta --help)";
    return false;
  }
  return true;
}

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
  // After the state directory is named, so that a relative one stays where
  // the program was started.
  if (!EnterPackageFolder(options.package_dir, error)) return false;
  InstallPlatform(chosen->host->platform());
  g_host_sg = &chosen->host->sg();
  SetKernelDeviceQuery(HostKernelDevice);
  return true;
}

// Start-up ends a second copy at once and silently; it is told apart first,
// so that such a copy asks nothing and remembers no folder either.
bool AnotherCopyRunning() {
  HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, 0, kInstanceMutexName);
  if (other == nullptr) return false;
  CloseHandle(other);
  return true;
}

// `ask_package_in`: this host's state directory when the program has no
// package to read and the person at the view is to be asked for its folder;
// null otherwise.
bool ChooseView(const LaunchOptions& options, const StateDir* ask_package_in, ViewKind* view,
                std::string* error) {
  view_support::OfferAutopilot(!options.machine_dir.empty());
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
      *error = "--yes and --script drive the headless view, not the " + options.ui +
               " view (see quorvanta --help)";
      return false;
    }
    if (ask_package_in != nullptr) AskForPackageFolder(*view, *ask_package_in);
    if (*view == ViewKind::kTerminal) return StartTerminalView(error);
    return StartDesktopView(stdout, error);
  }
  if (!options.list && !options.autopilot && options.script_path.empty()) {
    // The autopilot is named on a virtual PC only (OfferAutopilot).
    *error = options.ui.empty()
                 ? "no display and no terminal to show the dialogs on: run it in a terminal "
                   "(--ui terminal) or give a scripted user (--script FILE); see quorvanta --help"
                 : view_support::ViewLine(ViewText::kNoAnswerSource,
                                          view_support::AnswerSources().c_str());
    return false;
  }
  // The list goes to standard output alone; its start-up messages, if any,
  // go to standard error.
  std::FILE* transcript = stdout;
  if (options.list) transcript = g_list_messages.Open();
  return StartHeadlessView(transcript,
                           options.script_path.empty() ? nullptr : options.script_path.c_str(),
                           options.autopilot, options.drive_adapter, options.drive_target, error);
}

// The version, then where the program would run and how it would reach the
// drives, so that a bug report says which build met which machine.
void PrintVersion(const LaunchOptions& options) {
  std::printf("quorvanta %s\n", QV_VERSION);
  if (options.machine_dir.empty()) {
    std::puts("platform: this host");
    std::printf("drives: %s\n", HostDriveAccess());
  } else {
    std::printf("platform: a virtual PC (%s)\n", options.machine_dir.c_str());
    std::puts("drives: none (the virtual PC's drives are emulated)");
  }
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

// The files the user named on the command line are named from the folder
// the program was started in, before it makes the package folder current.
void AnchorUserPaths(LaunchOptions* options) {
  for (std::string* path : {&options->record_path, &options->trace_path, &options->script_path}) {
    std::error_code ec;
    if (!path->empty()) *path = std::filesystem::absolute(*path, ec).string();
  }
}

// A rehearsal's scratch directory, removed with everything in it when the
// launch returns, and by the end hook when a signal ends the program.
struct ScratchDir;
ScratchDir* g_scratch = nullptr;
struct ScratchDir {
  std::filesystem::path path;
  ScratchDir() { g_scratch = this; }
  ~ScratchDir() {
    Remove();
    g_scratch = nullptr;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  void Remove() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
    path.clear();
  }
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool MakeScratchDir(ScratchDir* scratch, std::string* error) {
  std::error_code ec;
  std::string name =
      (std::filesystem::temp_directory_path(ec) / "quorvanta-rehearsal-XXXXXX").string();
  if (::mkdtemp(name.data()) == nullptr) {
    *error = "cannot make a scratch directory for the rehearsal";
    return false;
  }
  scratch->path = name;
  return true;
}

// A list that start-up stopped (no package, another copy running): nothing
// listed, one line on standard error (start-up's own message, or this one),
// exit code 1 as for a failed scan.
int ListNotPossible() {
  if (g_app.InstanceMutex == nullptr) {
    std::fputs("quorvanta: another copy of the program is running\n", stderr);
  }
  return 1;
}

// A scripted run (--yes, --script) ends with what became of its update, so
// that a script can tell: 0 updated or already up to date (or nothing was
// asked of it), 1 failed, 2 the package refused, 3 another copy running, 4
// no drive the package can update. A person at a view gets 0, as always.
int ScriptedExitStatus() {
  switch (g_app.RunOutcome) {
    case kRunFailed:
      return 1;
    case kRunPackageRefused:
      return 2;
    case kRunAnotherCopy:
      std::fputs("quorvanta: another copy of the program is running\n", stderr);
      return 3;
    case kRunNoDrive:
      return 4;
    default:
      return 0;
  }
}

// What a signal that ends the program must still finish: the launch as it
// runs.
struct RunningLaunch {
  const LaunchOptions* options = nullptr;
  ChosenPlatform* chosen = nullptr;
  ViewKind view = ViewKind::kHeadless;
  std::unique_ptr<CaptureRecorder>* recorder = nullptr;
};
RunningLaunch g_running;

// 1 when the virtual PC (if any) was saved, else 0 with one line.
int SaveMachine(const LaunchOptions& options, ChosenPlatform* chosen) {
  if (!chosen->pc || chosen->pc->Save()) return 1;
  std::fprintf(stderr, "quorvanta: could not save the virtual PC at %s\n",
               options.machine_dir.c_str());
  return 0;
}

// A launch that cannot go on after its platform (and perhaps its view) has
// started: everything started so far is let go, then the usage error.
// What a launch hooked into the platform and the dialogs, let go.
void LetGoOfPlatform() {
  dialog_model::SetBoxAddendum(nullptr);
  InstallPlatform(Platform{});
  SetKernelDeviceQuery(nullptr);
  g_host_sg = nullptr;
}

int AbandonLaunch(ViewKind view, bool view_started, const std::string& why) {
  std::string error;
  CloseTrace();
  if (view_started) FinishView(view, &error);
  g_list_messages.Finish(false);
  LetGoOfPlatform();
  return UsageError(why);
}

// `--history`: on the platform chosen, without a package, a drive or the
// single-instance check.
int RunHistory(const LaunchOptions& options, const char* argv0) {
  ChosenPlatform chosen;
  std::string error;
  if (!ChoosePlatform(options, argv0, &chosen, &error)) return UsageError(error);
  const int code = RunHistoryCommand(options.json);
  LetGoOfPlatform();
  return code;
}

// A signal ends the program: the trace closed, the terminal given back with
// the transcript, the virtual PC's drives saved, as on a normal end.
void EndForSignal(int) {
  FinishInterruptedLaunch();
  if (g_scratch != nullptr) g_scratch->Remove();
}

}  // namespace

void FinishInterruptedLaunch() {
  if (g_running.chosen == nullptr) return;
  CloseTrace();
  // The capture's last lines: the commands still pending.
  if (g_running.recorder != nullptr) g_running.recorder->reset();
  std::string error;
  FinishView(g_running.view, &error);
  SaveMachine(*g_running.options, g_running.chosen);
  g_running = RunningLaunch{};
}

int RunLauncher(const LaunchOptions& given, const char* argv0) {
  if (given.help) {
    std::fputs(LauncherUsage(), stdout);
    return 0;
  }
  if (given.version) {
    PrintVersion(given);
    return 0;
  }
  ResetLaunch();
  if (given.history) return RunHistory(given, argv0);
  std::string error;
  // A rehearsal scans this host's drives as the list does, recording the
  // scan with only read-only questions let through, and then runs the
  // update on their twins.
  LaunchOptions asked = given;
  AnchorUserPaths(&asked);
  LaunchOptions options = asked;
  ScratchDir scratch;
  // A rehearsal's capture is its scan, recorded in the scratch directory and
  // written to the file the user named (opened first, as every file the
  // program creates) however the scan ended.
  std::unique_ptr<std::FILE, FileCloser> rehearsal_capture;
  if (given.rehearse) {
    if (!asked.record_path.empty()) {
      rehearsal_capture.reset(CreateOutputFile(asked.record_path, "capture file", &error));
      if (!rehearsal_capture) return UsageError(error);
    }
    if (!MakeScratchDir(&scratch, &error)) return UsageError(error);
    // Nothing of a rehearsal needs holding; a signal ends it at the next look
    // with the scratch directory removed.
    SignalHold::Instance().SetEndHook(EndForSignal);
    SignalHold::Instance().CatchAlways(true);
    options.list = true;
    options.json = false;
    options.autopilot = false;
    options.script_path.clear();
    options.record_path = (scratch.path / "scan.jsonl").string();
  }
  ChosenPlatform chosen;
  if (!ChoosePlatform(options, argv0, &chosen, &error)) return UsageError(error);
  // This host without a package (none given, none here, no image named):
  // the list shows every drive, a view asks where the package is.
  const bool no_package = chosen.host && options.package_dir.empty() && options.arguments.empty() &&
                          !given.rehearse && NoPackageHere(chosen.host->state()) &&
                          !AnotherCopyRunning();
  if (chosen.host) {
    NameSearchedFolderInBoxes([host = chosen.host.get()] { return host->last_package_problem(); });
  }
  ViewKind view = ViewKind::kHeadless;
  if (!ChooseView(options, no_package ? &chosen.host->state() : nullptr, &view, &error)) {
    return AbandonLaunch(view, false, error);
  }
  if (!options.trace_path.empty() && !OpenTrace(options.trace_path.c_str(), &error)) {
    return AbandonLaunch(view, true, error);
  }
  std::unique_ptr<CaptureRecorder> recorder;
  if (!options.record_path.empty()) {
    std::filesystem::path package_dir = std::filesystem::current_path();
    if (chosen.pc) chosen.pc->files().Map(kPackageWindowsDir, false, &package_dir);
    recorder = StartRecording(
        options.record_path,
        CaptureHeader(options, chosen.pc ? "virtual PC" : "this host", package_dir), &error);
    if (!recorder) return AbandonLaunch(view, true, error);
    recorder->SetReadOnly(given.rehearse);
  }

  g_running = RunningLaunch{&options, &chosen, view, &recorder};
  SignalHold::Instance().SetEndHook(EndForSignal);
  InstallWriteHold(&SignalHold::Instance());

  int exit_code = 0;
  if (options.list) {
    // A list that start-up ended (a missing or refused package, another
    // copy) lists nothing, and says so by its exit code; a rehearsal then has
    // nothing to rehearse.
    if (no_package) {
      std::fputs(
          "quorvanta: no firmware package here: every VANTROS drive found is listed, "
          "not only those a package would offer\n",
          stderr);
      int listed = 0;
      exit_code =
          RunDriveOnlyStartup() ? RunListCommand(options.json, true, &listed) : ListNotPossible();
      // Why none was found (no sg node, no access), the host has said.
      if (exit_code == 0 && listed == 0) std::fputs("quorvanta: no VANTROS drive found\n", stderr);
    } else if (!RunStartupChecks(nullptr, nullptr, &exit_code)) {
      exit_code = ListNotPossible();
    } else if (given.rehearse) {
      // The scan alone, recorded for the twins; the rehearsal prints its own.
      char listing[2048];
      FormatDriveList(false, listing, sizeof listing);
      exit_code = g_app.AbortFlag != 0 ? 1 : 0;
    } else {
      exit_code = RunListCommand(options.json);
    }
  } else {
    exit_code = AppMain(nullptr, nullptr);
    if (exit_code == 0 && (options.autopilot || !options.script_path.empty())) {
      exit_code = ScriptedExitStatus();
    }
  }

  InstallWriteHold(nullptr);
  g_running = RunningLaunch{};
  CloseTrace();
  recorder.reset();
  int view_code = FinishView(view, &error);
  // A rehearsal tells the scan's messages itself.
  const std::string scan_messages = g_list_messages.Finish(
      given.rehearse || (chosen.host && chosen.host->package_problems_noted()));
  // A virtual PC that forgot what the run did is a failed run.
  if (SaveMachine(options, &chosen) == 0 && exit_code == 0) exit_code = 1;
  LetGoOfPlatform();
  // A signal that came after the last look still ends the program by it.
  if (const int signal_number = SignalHold::Instance().pending(); signal_number != 0) {
    SignalHold::Instance().EndProgram(signal_number);
  }
  if (view_code != 0) {
    std::fprintf(stderr, "quorvanta: %s\n", error.c_str());
    return view_code;
  }
  if (given.rehearse) {
    chosen.host.reset();  // the drives are let go before the rehearsal
    if (rehearsal_capture) {
      std::string text, why;
      if (!ReadRegularFile(options.record_path, &text, &why) ||
          std::fwrite(text.data(), 1, text.size(), rehearsal_capture.get()) != text.size() ||
          std::fflush(rehearsal_capture.get()) != 0) {
        std::fprintf(stderr, "quorvanta: cannot write the capture file %s\n",
                     asked.record_path.c_str());
      }
      rehearsal_capture.reset();
    }
    exit_code =
        RunRehearsal(asked, options.record_path, OwnProgramPath(argv0), exit_code, scan_messages);
  }
  return exit_code;
}

// What a user's run costs, measured on the whole program as a process:
// `quorvanta --version`, and a whole two-stage update on a fresh default
// virtual PC (start-up, the update, the save), beside a C++ hello world built
// with the same flags (qv_hello_world). Each row's time is the processor time
// the process used (user + system, from wait4); its counters are the
// instructions it executed (callgrind, when valgrind is installed: this
// machine's processor counters are not reachable; 0 without it), the ratio
// to the hello world, the shared libraries mapped when it ended and how many
// of those are GUI or terminal libraries.
//
// QV_BENCH_BEFORE=DIR adds the same rows for the programs of another build
// (an earlier revision), so that before and after are measured side by side
// in one run (bench/before_after.sh does that).
//
// BM_TransferAllocations runs the same update in this process under a
// counting allocator (every malloc, calloc and realloc, operator new
// included) and reports the allocations per drive command in the transfer's
// steady state: the second half of the image stage's WRITE BUFFERs, each with
// its waits and the painting of the bar (the first fill of the bar makes the
// record of what it shows, once per dialog), and over the whole run.
#include <benchmark/benchmark.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/launch.h"
#include "app/launcher.h"
#include "app/startup.h"
#include "platform/dialogs/views.h"
#include "platform/platform.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_pc.h"

namespace fs = std::filesystem;

// --- the counting allocator ---

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
}

namespace {
std::uint64_t g_allocations = 0;
}

extern "C" {
void* malloc(std::size_t size) {
  ++g_allocations;
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  ++g_allocations;
  return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) {
  ++g_allocations;
  return __libc_realloc(block, size);
}
}

namespace {

// --- programs run as processes ---

fs::path OwnDirectory() { return fs::read_symlink("/proc/self/exe").parent_path(); }

bool HaveValgrind() {
  static const bool have = std::system("valgrind --version >/dev/null 2>&1") == 0;
  return have;
}

// What a run of a program left: processor time, the libraries it had mapped
// when it ended, and its exit status.
struct ProcessRun {
  double cpu_seconds = 0;
  std::vector<std::string> libraries;
  int status = -1;
};

std::vector<std::string> MappedLibraries(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::map<std::string, bool> seen;
  std::string line;
  while (std::getline(maps, line)) {
    const std::size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string path = line.substr(slash);
    if (path.find(".so") != std::string::npos) seen[path] = true;
  }
  std::vector<std::string> libraries;
  for (const auto& [path, _] : seen) libraries.push_back(path);
  return libraries;
}

// Runs `argv` with standard output and error on /dev/null. Traced only to be
// stopped at its exit, where its mappings can still be read.
ProcessRun RunProcess(const std::vector<std::string>& argv) {
  ProcessRun run;
  const pid_t pid = fork();
  if (pid == 0) {
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null != nullptr) {
      dup2(fileno(null), STDOUT_FILENO);
      dup2(fileno(null), STDERR_FILENO);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  // Stopped at the exec: ask for a stop at the exit as well.
  if (wait4(pid, &status, 0, &usage) == pid && WIFSTOPPED(status)) {
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
    ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    while (wait4(pid, &status, 0, &usage) == pid && WIFSTOPPED(status)) {
      int signal = 0;
      if ((status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
        run.libraries = MappedLibraries(pid);
      } else {
        signal = WSTOPSIG(status);
      }
      ptrace(PTRACE_CONT, pid, nullptr, signal);
    }
  }
  run.status = status;
  run.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return run;
}

// Instructions of one run under callgrind; 0 without valgrind.
double Instructions(const std::vector<std::string>& argv) {
  if (!HaveValgrind()) return 0;
  std::string command = "valgrind --tool=callgrind --callgrind-out-file=/dev/null";
  for (const std::string& a : argv) command += " '" + a + "'";
  command += " 2>&1 >/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  double collected = 0;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    if (const char* at = std::strstr(line, "Collected :")) collected = std::atof(at + 11);
  }
  pclose(pipe);
  return collected;
}

bool IsGuiLibrary(const std::string& path) {
  static const char* const kNames[] = {"libfltk",     "libX",   "libxcb",     "libfontconfig",
                                       "libfreetype", "libpng", "libncurses", "libtinfo"};
  const std::string name = fs::path(path).filename().string();
  for (const char* n : kNames)
    if (name.rfind(n, 0) == 0) return true;
  return false;
}

// The default virtual PC of `quorvanta-sim init`, made once; each update
// runs on a fresh copy, since a run saves the updated drive.
const fs::path& PristinePc() {
  static const fs::path dir = [] {
    const fs::path d = fs::temp_directory_path() / ("qv_update_bench_" + std::to_string(getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    const std::string command = (OwnDirectory() / "quorvanta-sim").string() + " init '" +
                                (d / "pristine").string() + "' >/dev/null";
    if (std::system(command.c_str()) != 0) return fs::path();
    return d;
  }();
  return dir;
}

fs::path FreshPc() {
  const fs::path pc = PristinePc() / "pc";
  fs::remove_all(pc);
  fs::copy(PristinePc() / "pristine", pc, fs::copy_options::recursive);
  return pc;
}

double g_hello_instructions = 0;

enum class What { kHello, kVersion, kUpdate };

// One row: `program_dir` empty is this build.
void BM_Process(benchmark::State& state, What what, const char* before_variable) {
  fs::path dir = OwnDirectory();
  if (before_variable != nullptr) {
    const char* before = std::getenv(before_variable);
    if (before == nullptr || *before == '\0') {
      state.SkipWithError("QV_BENCH_BEFORE is not set");
      return;
    }
    dir = before;
  }
  if (what == What::kUpdate && PristinePc().empty()) {
    state.SkipWithError("quorvanta-sim init failed");
    return;
  }
  auto argv = [&]() -> std::vector<std::string> {
    switch (what) {
      case What::kHello:
        return {(OwnDirectory() / "qv_hello_world").string()};
      case What::kVersion:
        return {(dir / "quorvanta").string(), "--version"};
      case What::kUpdate:
        return {(dir / "quorvanta").string(),
                "--machine",
                FreshPc().string(),
                "--ui",
                "headless",
                "--yes"};
    }
    return {};
  };
  ProcessRun last;
  for (auto _ : state) {
    const std::vector<std::string> args = argv();
    last = RunProcess(args);
    if (!WIFEXITED(last.status) || WEXITSTATUS(last.status) != 0) {
      state.SkipWithError("the program did not end with exit code 0");
      return;
    }
    state.SetIterationTime(last.cpu_seconds);
  }
  const double instructions = Instructions(argv());
  if (what == What::kHello) g_hello_instructions = instructions;
  int gui = 0;
  for (const std::string& library : last.libraries) gui += IsGuiLibrary(library) ? 1 : 0;
  state.counters["instructions"] = instructions;
  if (g_hello_instructions > 0) state.counters["x_hello"] = instructions / g_hello_instructions;
  state.counters["libraries"] = static_cast<double>(last.libraries.size());
  state.counters["gui_libraries"] = gui;
}

// The rows in the order they print: the yardstick first, then each program
// before and after.
struct ProcessRow {
  const char* name;
  What what;
  const char* before_variable;
};
constexpr ProcessRow kProcessRows[] = {
    {"hello_world", What::kHello, nullptr}, {"version_before", What::kVersion, "QV_BENCH_BEFORE"},
    {"version", What::kVersion, nullptr},   {"update_before", What::kUpdate, "QV_BENCH_BEFORE"},
    {"update", What::kUpdate, nullptr},
};

const bool g_process_rows = [] {
  for (const ProcessRow& row : kProcessRows) {
    benchmark::RegisterBenchmark((std::string("BM_Process/") + row.name).c_str(), BM_Process,
                                 row.what, row.before_variable)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

// --- allocations per drive command, in process ---

// Passes every command on and notes, for each, the opcode and the allocation
// count when it was sent.
class CountingAspi final : public AspiLayer {
 public:
  explicit CountingAspi(AspiLayer* layer) : layer_(layer) {}
  DWORD SupportInfo() override { return layer_->SupportInfo(); }
  DWORD Send(SRB_ExecSCSICmd* request) override {
    if (sends_.size() < sends_.capacity()) sends_.push_back({request->CDBByte[0], g_allocations});
    return layer_->Send(request);
  }
  bool Holds(const SRB_ExecSCSICmd* request) const override { return layer_->Holds(request); }

  struct Sent {
    BYTE opcode;
    std::uint64_t allocations;
  };
  void Reserve() { sends_.reserve(4096); }
  const std::vector<Sent>& sends() const { return sends_; }

 private:
  AspiLayer* layer_;
  std::vector<Sent> sends_;
};

void BM_TransferAllocations(benchmark::State& state) {
  if (PristinePc().empty()) {
    state.SkipWithError("quorvanta-sim init failed");
    return;
  }
  double per_command = 0;
  double whole = 0;
  double commands = 0;
  for (auto _ : state) {
    const fs::path dir = FreshPc();
    std::string error;
    auto pc = VirtualPc::Open(dir, &error);
    if (!pc) {
      state.SkipWithError(error.c_str());
      return;
    }
    ResetLaunch();
    pc->SetCommandLine(BuildWindowsCommandLine(kProgramWindowsPath, {}));
    CountingAspi counting(&pc->aspi());
    counting.Reserve();
    Platform platform = pc->platform();
    platform.aspi = &counting;
    InstallPlatform(platform);
    std::FILE* null = std::fopen("/dev/null", "w");
    StartHeadlessView(null, nullptr, true, -1, -1, &error);
    const std::uint64_t start = g_allocations;
    AppMain(nullptr, nullptr);
    const std::uint64_t end = g_allocations;
    FinishHeadlessView(&error);
    InstallPlatform(Platform{});
    std::fclose(null);

    // The second half of the image stage's WRITE BUFFERs: by then the bar
    // has been painted and every record the channel reuses exists.
    std::vector<std::uint64_t> at;
    for (const auto& sent : counting.sends())
      if (sent.opcode == 0x3B) at.push_back(sent.allocations);
    if (at.size() < 16) {
      state.SkipWithError("the update sent no image");
      return;
    }
    const std::size_t first = at.size() / 2;
    const std::size_t last = at.size() - 2;  // the final chunk's save is not steady
    per_command = static_cast<double>(at[last] - at[first]) / static_cast<double>(last - first);
    commands = static_cast<double>(counting.sends().size());
    whole = static_cast<double>(end - start) / commands;
  }
  state.counters["allocs_per_command"] = per_command;
  state.counters["allocs_per_command_whole_run"] = whole;
  state.counters["commands"] = commands;
}

BENCHMARK(BM_TransferAllocations)->Iterations(1)->Unit(benchmark::kMillisecond);

struct RemovePcAtExit {
  ~RemovePcAtExit() {
    std::error_code ec;
    fs::remove_all(fs::temp_directory_path() / ("qv_update_bench_" + std::to_string(getpid())), ec);
  }
} g_remove_pc_at_exit;

}  // namespace

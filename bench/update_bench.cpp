// A whole two-stage update on a virtual PC, from start-up to "Succeed to load
// F/W!!": the autopilot accepts the agreement and updates the default T71 USB
// drive with a newer package. In virtual time the 100 seconds of waiting cost
// nothing, so the real time is the program's own work; with realtime=1 the
// waits follow the wall clock and the `cpu_share_pct` counter says how much
// of that time the process spent on a processor.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/launch.h"
#include "app/launcher.h"
#include "app/startup.h"
#include "platform/dialogs/views.h"
#include "platform/platform.h"
#include "platform/posix/registry_store.h"
#include "platform/sim/emulated_drive.h"
#include "platform/sim/package_maker.h"
#include "platform/sim/virtual_pc.h"

namespace fs = std::filesystem;

namespace {

double Seconds(clockid_t id) {
  timespec ts;
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The PC that `quorvanta-sim init` makes by default.
fs::path MakePc(bool realtime) {
  const fs::path dir = fs::temp_directory_path() /
                       ("qv_update_bench_" + std::to_string(::getpid()) + (realtime ? "_rt" : ""));
  fs::remove_all(dir);
  fs::create_directories(dir / "drive_c" / "WINDOWS");
  fs::create_directories(dir / "drive_c" / "Quorvanta");
  MachineSettings settings;
  settings.realtime = realtime;
  std::ofstream(dir / "machine.ini") << FormatMachineIni(settings);
  std::ofstream(dir / "registry.reg") << RegistryStore().Serialize();
  DriveSetup drive;
  std::string error;
  ParseDriveSetup("0:0:t71:usb:rev=1.00,code=0x11,modelcode=0x04", &drive, &error);
  SimAspi::WriteDrives(dir, {drive}, &error);
  WritePackage(dir / "drive_c" / "Quorvanta", DefaultPackage("t71"), &error);
  return dir;
}

// One launch; true when the drive took both stages. The PC is not saved, so
// every launch starts from the old firmware.
bool UpdateOnce(const fs::path& dir) {
  std::string error;
  auto pc = VirtualPc::Open(dir, &error);
  if (!pc) return false;
  ResetLaunch();
  pc->SetCommandLine(BuildWindowsCommandLine(kProgramWindowsPath, {}));
  InstallPlatform(pc->platform());
  StartHeadlessView(nullptr, nullptr, true, -1, -1, &error);
  AppMain(nullptr, nullptr);
  const int view = FinishHeadlessView(&error);
  InstallPlatform(Platform{});
  const EmulatedDrive* drive = pc->aspi().DriveAt(0, 0);
  return view == 0 && drive != nullptr && drive->BootSetup().code == 0x12;
}

void BM_TwoStageUpdateVirtualTime(benchmark::State& state) {
  const fs::path dir = MakePc(false);
  for (auto _ : state) {
    if (!UpdateOnce(dir)) state.SkipWithError("the update did not succeed");
  }
  fs::remove_all(dir);
}

void BM_TwoStageUpdateRealTime(benchmark::State& state) {
  const fs::path dir = MakePc(true);
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    const double wall0 = Seconds(CLOCK_MONOTONIC);
    if (!UpdateOnce(dir)) state.SkipWithError("the update did not succeed");
    cpu += Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    wall += Seconds(CLOCK_MONOTONIC) - wall0;
  }
  state.counters["cpu_share_pct"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
  state.counters["cpu_ms"] = cpu * 1000.0;
  fs::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_TwoStageUpdateVirtualTime)->Unit(benchmark::kMillisecond);
// About two minutes of wall time.
BENCHMARK(BM_TwoStageUpdateRealTime)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

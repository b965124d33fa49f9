// CPU time over wall time of one long real-time wait: on this host's clock and
// on the virtual clock in real-time mode. A wait must sleep, not spin: the
// share should stay well below 1%. The `cpu_share_pct` counter is the figure.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>

#include "platform/host/host_platform.h"
#include "platform/sim/virtual_clock.h"

namespace {

double Seconds(clockid_t id) {
  timespec ts;
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename MakeClock>
void MeasureWait(benchmark::State& state, MakeClock make_clock) {
  const DWORD ms = static_cast<DWORD>(state.range(0));
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    auto clock = make_clock();
    double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    double wall0 = Seconds(CLOCK_MONOTONIC);
    clock->Wait(nullptr, ms);
    cpu += Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    wall += Seconds(CLOCK_MONOTONIC) - wall0;
  }
  state.counters["cpu_share_pct"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
  state.counters["cpu_ms"] = cpu * 1000.0;
}

void BM_HostClockWait(benchmark::State& state) {
  MeasureWait(state, [] { return std::make_unique<HostClock>(); });
}

void BM_VirtualClockRealTimeWait(benchmark::State& state) {
  MeasureWait(state, [] { return std::make_unique<VirtualClock>(0, true); });
}

}  // namespace

BENCHMARK(BM_HostClockWait)->Arg(10000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_VirtualClockRealTimeWait)
    ->Arg(10000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

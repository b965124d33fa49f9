// Reading and saving the registry text as the number of keys grows: N
// subkeys under Enum\SCSI, each with one value. Time per key should stay
// flat from 20,000 to 100,000 keys (the `ns_per_key` counter is the figure);
// 100,000 keys should read in well under a second.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/posix/registry_store.h"

namespace {

std::string WideRegistry(int keys) {
  std::string text = "REGEDIT4\r\n";
  for (int i = 0; i < keys; ++i) {
    text += "\r\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\VANTROS_DEVICE_" + std::to_string(i) +
            "]\r\n\"AutoInsertNotification\"=hex:01\r\n";
  }
  return text;
}

void BM_ReadRegistry(benchmark::State& state) {
  const std::string text = WideRegistry(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    RegistryStore store;
    std::string error;
    benchmark::DoNotOptimize(store.Parse(text, &error));
  }
  state.counters["ns_per_key"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(state.range(0)),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReadRegistry)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SaveRegistry(benchmark::State& state) {
  RegistryStore store;
  std::string error;
  store.Parse(WideRegistry(static_cast<int>(state.range(0))), &error);
  for (auto _ : state) benchmark::DoNotOptimize(store.Serialize());
  state.counters["ns_per_key"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(state.range(0)),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SaveRegistry)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

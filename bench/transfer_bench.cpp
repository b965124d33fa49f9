// The whole direct transfer, and the whole image stage of the loader path,
// into an emulated drive in virtual time: what the channel costs per chunk
// when the waits themselves cost nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "drive/discovery.h"
#include "drive/transfer.h"
#include "package/package_files.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sim/package_maker.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"
#include "state/app_state.h"

namespace {

// The image in memory, read as a file.
class ImageFiles final : public Files {
 public:
  explicit ImageFiles(std::string image) : image_(std::move(image)) {}
  HANDLE OpenExisting(const char*) override {
    position_ = 0;
    return this;
  }
  HANDLE CreateAlways(const char*) override { return INVALID_HANDLE_VALUE; }
  BOOL Read(HANDLE, void* buffer, DWORD size, DWORD* read) override {
    const std::size_t n = std::min<std::size_t>(size, image_.size() - position_);
    std::memcpy(buffer, image_.data() + position_, n);
    position_ += n;
    *read = static_cast<DWORD>(n);
    return 1;
  }
  BOOL Write(HANDLE, const void*, DWORD, DWORD*) override { return 0; }
  DWORD SeekBegin(HANDLE, DWORD offset) override { return position_ = offset; }
  DWORD Size(HANDLE) override { return static_cast<DWORD>(image_.size()); }
  BOOL Close(HANDLE) override { return 1; }
  BOOL Delete(const char*) override { return 0; }

 private:
  std::string image_;
  std::size_t position_ = 0;
};

struct Machine {
  explicit Machine(const char* drive) : files(MakePackageImage(DefaultPackage("t71"))) {
    DriveSetup setup;
    ParseDriveSetup(drive, &setup, nullptr);
    clock = std::make_unique<VirtualClock>(1000, false);
    aspi = std::make_unique<SimAspi>(1, clock.get(), std::vector<DriveSetup>{setup});
    Platform platform;
    platform.clock = clock.get();
    platform.aspi = aspi.get();
    platform.files = &files;
    InstallPlatform(platform);
    ResetAppState();
    g_app.AdapterCount = 1;
    CopyText(g_app.DataFileName, kMaxPath, "Tellumar.bin");
    for (int i = 0; i < 5; ++i) TestUnitReady(0, 0);  // takes the power-on attention
  }
  ~Machine() { InstallPlatform(Platform{}); }

  ImageFiles files;
  std::unique_ptr<VirtualClock> clock;
  std::unique_ptr<SimAspi> aspi;
};

// Times `stage` on a freshly booted machine per iteration and reports the
// virtual time it took and the chunks it moved.
template <typename Stage>
void TimeStage(benchmark::State& state, const char* drive, Stage stage) {
  std::uint64_t virtual_ms = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Machine machine(drive);
    const std::uint64_t start = machine.clock->Now();
    state.ResumeTiming();
    if (!stage()) state.SkipWithError("stage failed");
    state.PauseTiming();
    virtual_ms = machine.clock->Now() - start;
    state.ResumeTiming();
  }
  state.counters["virtual_ms"] = static_cast<double>(virtual_ms);
  state.counters["chunks"] = benchmark::Counter(static_cast<double>(state.iterations()) * 257,
                                                benchmark::Counter::kIsRate);
}

void BM_DirectTransfer(benchmark::State& state) {
  TimeStage(state, "0:0:t71:atapi:rev=1.00", [] { return TransferFirmwareImage(0, 0) == 0; });
}
BENCHMARK(BM_DirectTransfer)->Unit(benchmark::kMillisecond);

void BM_LoaderImageStage(benchmark::State& state) {
  TimeStage(state, "0:0:t71:usb:rev=1.00", [] {
    bool ok = LoadImageData(g_app.DataFileName) != 0;
    for (int index = 0; ok && index < 256; ++index) ok = SendImageChunk(index) != 0;
    ok = ok && SendImageFinal(256) != 0;
    return ok && FinishImageLoad() != 0;
  });
}
BENCHMARK(BM_LoaderImageStage)->Unit(benchmark::kMillisecond);

}  // namespace

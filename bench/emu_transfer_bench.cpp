// Wall time of a whole firmware transfer through an emulated drive in virtual
// time: 257 WRITE BUFFER chunks, the save, the end of the load and the
// drive's return. Reports the virtual milliseconds the transfer stands for.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/sim/emulated_drive.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"

namespace {

std::vector<BYTE> Image() {
  std::vector<BYTE> image(emulated::kImageSize, 0x5A);
  std::memcpy(image.data() + emulated::kSignatureOffset, "VANTROS T71 CDRW USB    2.00", 28);
  return image;
}

BYTE Run(VirtualClock& clock, SimAspi& aspi, SRB_ExecSCSICmd* r) {
  aspi.Send(r);
  clock.Wait(r, 120000);
  return r->SRB_Status;
}

void BM_WholeTransfer(benchmark::State& state, const char* drive) {
  const std::vector<BYTE> image = Image();
  std::vector<BYTE> chunk(4096, 0);
  std::uint64_t virtual_ms = 0;
  for (auto _ : state) {
    DriveSetup setup;
    ParseDriveSetup(drive, &setup, nullptr);
    VirtualClock clock(0, false);
    SimAspi aspi(1, &clock, {setup});
    SRB_ExecSCSICmd r{};
    r.SRB_Cmd = SC_EXEC_SCSI_CMD;
    r.SRB_SenseLen = SENSE_LEN;
    r.SRB_CDBLen = 6;  // TEST UNIT READY takes the power-on attention
    Run(clock, aspi, &r);
    for (std::size_t c = 0; c < emulated::kChunkCount; ++c) {
      std::memcpy(chunk.data(), image.data() + c * emulated::kChunkSize, emulated::kChunkSize);
      const std::size_t offset = c * emulated::kChunkSize;
      const BYTE cdb[10] = {0x3B,
                            static_cast<BYTE>(c + 1 == emulated::kChunkCount ? 7 : 6),
                            0,
                            static_cast<BYTE>(offset >> 16),
                            static_cast<BYTE>(offset >> 8),
                            static_cast<BYTE>(offset),
                            0x00,
                            0x08,
                            0x00,
                            0x00};
      std::memcpy(r.CDBByte, cdb, sizeof cdb);
      r.SRB_CDBLen = sizeof cdb;
      r.SRB_Flags = SRB_DIR_OUT;
      r.SRB_BufPointer = chunk.data();
      r.SRB_BufLen = 4096;
      if (Run(clock, aspi, &r) != SS_COMP) state.SkipWithError("chunk refused");
    }
    virtual_ms = clock.Now();
    benchmark::DoNotOptimize(aspi.DriveAt(0, 0)->firmware().data());
  }
  state.counters["virtual_ms"] = static_cast<double>(virtual_ms);
}

BENCHMARK_CAPTURE(BM_WholeTransfer, usb, "0:0:t71:usb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WholeTransfer, atapi, "0:0:t71:atapi")->Unit(benchmark::kMillisecond);

}  // namespace

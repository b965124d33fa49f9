// Wall time of a whole firmware transfer through an emulated drive in virtual
// time: 257 WRITE BUFFER chunks and the save; on the USB link then the end of
// the load (0xCD FF) and the drive's return, found by an INQUIRY every 190 ms
// as the update looks for it (behind ATAPI the drive starts the saved
// firmware at once and has no end-of-load command). Reports the virtual
// milliseconds the transfer stands for.
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
    if (setup.link == DriveLink::kUsb) {
      std::memset(r.CDBByte, 0, sizeof r.CDBByte);
      r.CDBByte[0] = 0xCD;  // end of the load: the drive restarts
      r.CDBByte[1] = 0xFF;
      r.SRB_CDBLen = 12;
      r.SRB_Flags = 0;
      r.SRB_BufPointer = nullptr;
      r.SRB_BufLen = 0;
      if (Run(clock, aspi, &r) != SS_COMP) state.SkipWithError("end of load refused");
      BYTE answer[36] = {};
      std::memset(r.CDBByte, 0, sizeof r.CDBByte);
      r.CDBByte[0] = 0x12;  // INQUIRY, until the drive is back
      r.CDBByte[4] = sizeof answer;
      r.SRB_CDBLen = 6;
      r.SRB_Flags = SRB_DIR_IN;
      r.SRB_BufPointer = answer;
      r.SRB_BufLen = sizeof answer;
      int polls = 0;
      while (Run(clock, aspi, &r) != SS_COMP) {
        if (++polls > 1000) {
          state.SkipWithError("the drive did not come back");
          break;
        }
        clock.Advance(190);
      }
      if (std::memcmp(answer + 32, "2.00", 4) != 0) state.SkipWithError("not the new firmware");
    }
    virtual_ms = clock.Now();
    benchmark::DoNotOptimize(aspi.DriveAt(0, 0)->firmware().data());
  }
  state.counters["virtual_ms"] = static_cast<double>(virtual_ms);
}

BENCHMARK_CAPTURE(BM_WholeTransfer, usb, "0:0:t71:usb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WholeTransfer, atapi, "0:0:t71:atapi")->Unit(benchmark::kMillisecond);

}  // namespace

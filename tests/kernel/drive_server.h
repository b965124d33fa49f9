// What the servers that hand the virtual PC's emulated drives to this Linux
// kernel share, whichever way the drives reach it (the SCSI target, USB):
// loading the drives, the clock they run on and the record of what each
// drive received.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/posix/file_read.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"
#include "platform/sim/virtual_pc.h"

namespace drive_server {

inline std::int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline bool WriteAttribute(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path);
  out << text << std::flush;
  return static_cast<bool>(out);
}

// The drives of the virtual PC in `machine`, powered on; ends the program
// with one line on stderr when the PC cannot be read.
inline std::unique_ptr<SimAspi> LoadDrives(const char* program,
                                           const std::filesystem::path& machine,
                                           VirtualClock* clock) {
  std::string text;
  std::string why;
  MachineSettings settings;
  std::unique_ptr<SimAspi> aspi;
  if (ReadRegularFile(machine / "machine.ini", &text, &why) &&
      ParseMachineIni(text, &settings, &why)) {
    aspi = SimAspi::Load(machine, settings.adapters, clock, &why);
  }
  if (!aspi) {
    std::fprintf(stderr, "%s: %s\n", program, why.c_str());
    std::exit(1);
  }
  aspi->PowerOn();
  return aspi;
}

// What a drive received, for the test to hold against the program's trace
// and the package: each command block in A_T.cdbs, the image bytes WRITE
// BUFFER carried at their offsets in A_T.image, the last loader data in
// A_T.loader. Nothing when `record` is empty.
inline void RecordReceived(const std::filesystem::path& record, const SRB_ExecSCSICmd& r) {
  if (record.empty()) return;
  const std::string stem =
      (record / (std::to_string(r.SRB_HaId) + "_" + std::to_string(r.SRB_Target))).string();
  std::ofstream cdbs(stem + ".cdbs", std::ios::app);
  for (int i = 0; i < r.SRB_CDBLen; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", r.CDBByte[i]);
    cdbs << hex;
  }
  cdbs << " len=" << r.SRB_BufLen << "\n";
  if (r.SRB_Flags != SRB_DIR_OUT || r.SRB_BufLen == 0) return;
  const auto* data = reinterpret_cast<const char*>(r.SRB_BufPointer);
  if (r.CDBByte[0] == 0x3B) {
    // The drive takes the parameter list length the block gives; a longer
    // transfer carries filler.
    const std::uint32_t offset = (r.CDBByte[3] << 16) | (r.CDBByte[4] << 8) | r.CDBByte[5];
    const std::uint32_t length = (r.CDBByte[6] << 16) | (r.CDBByte[7] << 8) | r.CDBByte[8];
    std::fstream image(stem + ".image", std::ios::in | std::ios::out | std::ios::binary);
    if (!image.is_open()) image.open(stem + ".image", std::ios::out | std::ios::binary);
    image.seekp(offset);
    image.write(data, std::min<std::uint32_t>(length, r.SRB_BufLen));
  } else {
    std::ofstream(stem + ".loader", std::ios::binary | std::ios::trunc).write(data, r.SRB_BufLen);
  }
}

}  // namespace drive_server

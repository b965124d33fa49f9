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
#include <cstring>
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

// The command line both servers take:
//   PROGRAM MACHINE_DIR [--rehearsal-clock-rate N] [--record DIR]
// False (usage told on stderr) when it is not that.
struct Arguments {
  std::filesystem::path machine;
  std::uint32_t rate = 1;
  std::filesystem::path record;  // empty: nothing recorded
};

inline bool ParseArguments(int argc, char** argv, const char* program, Arguments* out) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s MACHINE_DIR [--rehearsal-clock-rate N] [--record DIR]\n",
                 program);
    return false;
  }
  out->machine = argv[1];
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rehearsal-clock-rate") == 0 && i + 1 < argc) {
      out->rate = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc) {
      out->record = argv[++i];
    } else {
      std::fprintf(stderr, "%s: unknown argument %s\n", program, argv[i]);
      return false;
    }
  }
  if (out->rate == 0) out->rate = 1;
  return true;
}

// The drives' virtual clock, following the wall clock at the rehearsal rate
// from Start() on.
class PacedClock {
 public:
  explicit PacedClock(std::uint32_t rate) : rate_(rate) {}
  VirtualClock* clock() { return &clock_; }
  void Start() { origin_ns_ = NowNs(); }
  // Seconds of the wall clock since Start().
  double Seconds() const { return static_cast<double>(NowNs() - origin_ns_) / 1e9; }
  // Virtual time catches up with the wall clock; whatever falls due
  // meanwhile ends now.
  void CatchUp() {
    const std::uint64_t target =
        static_cast<std::uint64_t>((NowNs() - origin_ns_) * rate_ / 1000000);
    const std::uint64_t now = clock_.Now();
    if (target > now) clock_.Advance(target - now);
  }
  // How long to sleep: until the emulator's next instant, at most 20 ms (the
  // servers' other work is looked at that often).
  timespec Wait(const SimAspi& aspi) const {
    std::int64_t wait_ns = 20000000;
    const std::uint64_t next = aspi.NextEventAt();
    if (next != UINT64_MAX) {
      const std::int64_t due_ns =
          origin_ns_ + static_cast<std::int64_t>((next * 1000000 + rate_ - 1) / rate_);
      wait_ns = std::clamp<std::int64_t>(due_ns - NowNs(), 0, wait_ns);
    }
    return timespec{static_cast<time_t>(wait_ns / 1000000000),
                    static_cast<long>(wait_ns % 1000000000)};
  }

 private:
  std::uint32_t rate_;
  VirtualClock clock_{0, false};
  std::int64_t origin_ns_ = 0;
};

}  // namespace drive_server

// What the servers that hand the virtual PC's emulated drives to this Linux
// kernel share, whichever way the drives reach it (the SCSI target, USB):
// loading the drives, the clock they run on, the record of what each drive
// received, and the loop that serves them.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/file_read.h"
#include "platform/sim/emulated_drive.h"
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

// A drive's place on the kernel's side: connected (its LUN linked, its
// gadget bound) while the drive is present, off while it restarts, has lost
// its power or is switched off by hand. A connect or disconnect runs in a
// thread of its own, since the kernel may take its time over it (it scans a
// new LUN, and waits for its commands, inside the call).
struct Connection {
  DriveSetup setup;
  std::string name;  // this server's own: qvPID_A_T
  bool connected = false;
  std::atomic<bool> busy{false};
  std::thread worker;
  // Power switched off by hand (SIGUSR1); 0: on.
  std::int64_t off_since_ns = 0;
  // When the last connect or disconnect was done (set by its thread).
  std::atomic<std::int64_t> changed_at_ns{0};
};

// The loop both servers run over their drives (each a Connection): virtual
// time kept up with the wall clock, new commands handed to the emulator, the
// connections following the drives, "ready" once every drive is connected.
// SIGUSR1 turns every drive's power off and on by hand; SIGTERM or SIGINT
// disconnect every drive and end the loop.
template <class Drive>
class Server {
 public:
  Server(const Arguments& args, const char* program)
      : machine_(args.machine), record_(args.record), pace_(args.rate), program_(program) {
    // Blocked before any thread starts, so that only the loop takes them.
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGUSR1);
    sigprocmask(SIG_BLOCK, &signals_, nullptr);
  }
  virtual ~Server() = default;

  // Every drive of the virtual PC, powered on, in address order.
  void Load() {
    aspi_ = LoadDrives(program_, machine_, pace_.clock());
    for (int a = 0; a < 8; ++a) {
      for (int t = 0; t < 8; ++t) {
        if (const EmulatedDrive* d = aspi_->DriveAt(a, t)) {
          auto drive = std::make_unique<Drive>();
          drive->setup = d->setup();
          drive->name =
              "qv" + std::to_string(::getpid()) + "_" + std::to_string(a) + "_" + std::to_string(t);
          drives_.push_back(std::move(drive));
        }
      }
    }
  }

  int Serve() {
    const int sfd = signalfd(-1, &signals_, SFD_CLOEXEC);
    pace_.Start();
    bool announced = false;
    bool stopping = false;
    for (;;) {
      Advance();
      for (auto& d : drives_) Take(*d);
      if (!stopping) Follow();
      const bool settled = AllSettled();
      if (!announced && !stopping && settled &&
          std::all_of(drives_.begin(), drives_.end(), [](const auto& d) { return d->connected; })) {
        std::printf("ready\n");
        std::fflush(stdout);
        announced = true;
      }
      if (stopping && settled) {
        if (std::none_of(drives_.begin(), drives_.end(),
                         [](const auto& d) { return d->connected; }))
          break;
        for (auto& d : drives_) {
          if (d->connected) StartChange(*d, false);
        }
      }
      std::vector<pollfd> fds;
      fds.push_back(pollfd{sfd, POLLIN, 0});
      AddPollFds(&fds);
      // Wake for the emulator's next instant, and now and then for the
      // connections' threads.
      timespec timeout = pace_.Wait(*aspi_);
      ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
      if ((fds[0].revents & POLLIN) != 0) {
        signalfd_siginfo info;
        if (::read(sfd, &info, sizeof info) > 0 && !stopping) {
          if (info.ssi_signo == SIGUSR1) {
            for (auto& d : drives_) d->off_since_ns = NowNs();
          } else {
            stopping = true;
            Stop();
          }
        }
      }
      Polled(fds.data() + 1);
    }
    aspi_->Save();
    for (const auto& d : drives_) {
      std::printf("%d:%d %s\n", d->setup.adapter, d->setup.target, Tally(*d).c_str());
    }
    TearDown();
    return 0;
  }

 protected:
  // Virtual time catches up with the wall clock; the commands that ended
  // meanwhile are answered.
  virtual void Advance() = 0;
  // The drive's new commands, handed to the emulator.
  virtual void Take(Drive& d) = 0;
  // Each connection follows its drive (StartChange where they differ).
  virtual void Follow() = 0;
  // Connects or disconnects the drive (in the connection's thread); what to
  // tell of it after "A:T ".
  virtual std::string Change(Drive& d, bool connect) = 0;
  // The descriptors the loop also waits for, and what came of them.
  virtual void AddPollFds(std::vector<pollfd>* fds) = 0;
  virtual void Polled(const pollfd* fds) = 0;
  // SIGTERM or SIGINT has come.
  virtual void Stop() {}
  // What the drive did, for the last line the server prints of it.
  virtual std::string Tally(const Drive& d) = 0;
  virtual void TearDown() = 0;

  bool AllSettled() {
    bool settled = true;
    for (auto& d : drives_) {
      if (d->busy) {
        settled = false;
      } else if (d->worker.joinable()) {
        d->worker.join();
      }
    }
    return settled;
  }

  void StartChange(Drive& d, bool connect) {
    if (d.worker.joinable()) d.worker.join();
    d.busy = true;
    d.connected = connect;
    const double at_s = pace_.Seconds();
    d.worker = std::thread([this, &d, connect, at_s] {
      const std::string said = Change(d, connect);
      d.changed_at_ns = NowNs();
      std::printf("%d:%d %s at %.3f s\n", d.setup.adapter, d.setup.target, said.c_str(), at_s);
      std::fflush(stdout);
      d.busy = false;
    });
  }

  // Whether the drive should be connected now. A drive switched off by hand
  // stays off for two seconds of the wall clock once it is disconnected, as
  // a USB drive is while it is unplugged, then is powered on.
  bool Present(Drive& d, std::uint64_t now) {
    EmulatedDrive* drive = aspi_->DriveAt(d.setup.adapter, d.setup.target);
    if (d.off_since_ns != 0 && !d.connected && NowNs() - d.changed_at_ns > 2000000000) {
      drive->PowerOn();
      aspi_->Save();
      d.off_since_ns = 0;
      std::printf("%d:%d power cycled\n", d.setup.adapter, d.setup.target);
      std::fflush(stdout);
    }
    return drive->Present(now) && d.off_since_ns == 0;
  }

  std::filesystem::path machine_;
  std::filesystem::path record_;  // where the drives' received commands go ("": nowhere)
  PacedClock pace_;
  std::unique_ptr<SimAspi> aspi_;
  std::vector<std::unique_ptr<Drive>> drives_;

 private:
  const char* program_;
  sigset_t signals_;
};

// A server's whole run: its arguments, its drives loaded and built, served.
template <class S>
int Main(int argc, char** argv, const char* program) {
  Arguments args;
  if (!ParseArguments(argc, argv, program, &args)) return 2;
  S server(args);
  server.Load();
  server.Build();
  return server.Serve();
}

}  // namespace drive_server

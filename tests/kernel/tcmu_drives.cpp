// Serves the emulated drives of a virtual PC to this Linux kernel as real
// SCSI devices: each drive is a target_core_user backstore (its commands
// arrive on a uio ring) behind a tcm_loop host of its own, so that it shows
// as an ordinary /dev/sgN at H:0:T:0 and every command the program sends
// travels through the sg driver and the SCSI midlayer. The answers come from
// the virtual PC's own drive emulator (SimAspi), on a virtual clock that
// follows the wall clock at the rehearsal rate; each drive's state is written
// back to the virtual PC's drives/ as commands end, as the virtual PC does.
//
// A drive that restarts (after the end-of-load command) or loses power is
// taken off its host by unlinking its LUN, so the sg node vanishes; it is
// linked again when the drive is back, and the kernel scans it anew.
//
//   qv_tcmu_drives MACHINE_DIR [--rehearsal-clock-rate N] [--record DIR]
//
// With --record, what each drive received goes to DIR (see Record).
//
// Needs root, configfs at /sys/kernel/config and the modules
// target_core_user and tcm_loop. Prints "ready" once every drive is linked;
// SIGTERM or SIGINT answer what is still outstanding, take the drives off
// and end. SIGUSR1 turns every drive's power off and on, as a user does by
// hand: its LUN is unlinked, the drive powered on again, the LUN linked.
#define __LINUX_UIO_H  // the kernel's uio.h clashes with the C library's struct iovec
#include <fcntl.h>
#include <linux/target_core_user.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/emulated_drive.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"
#include "platform/sim/virtual_pc.h"
#include "tests/kernel/drive_server.h"

namespace fs = std::filesystem;
using namespace drive_server;

namespace {

const fs::path kTarget = "/sys/kernel/config/target";

constexpr BYTE kStatusGood = 0x00;
constexpr BYTE kStatusCheck = 0x02;
constexpr BYTE kStatusBusy = 0x08;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "qv_tcmu_drives: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// The CDB length the command set gives an opcode. target_core_user hands
// over as many bytes as the target core sizes the opcode by, which for the
// vendor groups is 10; the program's vendor commands are 12 bytes long with
// nothing past byte 9, so they are padded back to 12.
BYTE CdbLength(BYTE opcode) {
  switch (opcode >> 5) {
    case 0:
      return 6;
    case 1:
    case 2:
      return 10;
    case 4:
      return 16;
    default:
      return 12;
  }
}

bool DataOut(const BYTE* cdb) { return cdb[0] == 0x3B || cdb[0] == 0xCD; }

// One command taken off a ring and handed to the emulator.
struct Pending {
  std::uint16_t cmd_id;
  std::vector<iovec> iov;  // offsets into the ring's mapping
  std::vector<BYTE> buffer;
  SRB_ExecSCSICmd record{};
  bool answered = false;
};

// The backstore's and the loopback's names take the connection's name.
struct Drive : Connection {
  fs::path backstore;
  fs::path wwn;
  fs::path lun;  // .../tpgt_T/lun/lun_0
  int uio = -1;
  BYTE* map = nullptr;
  std::size_t map_size = 0;
  tcmu_mailbox* mailbox = nullptr;
  std::uint32_t seen = 0;  // the next entry not yet read
  std::uint32_t tail = 0;  // the next entry a completion goes into
  std::list<Pending> pending;
  int commands = 0;
  int busy_answers = 0;
};

// The sg node the kernel gave the LUN of `tpg` ("" when none): tcm_loop
// names the LUN's SCSI address in the tpg's `address` attribute.
std::string NodeOf(const fs::path& tpg) {
  std::ifstream in(tpg / "address");
  std::string address;
  in >> address;  // H:C:T
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/class/scsi_generic", ec)) {
    if (fs::canonical(entry.path() / "device", ec).filename() == address + ":0") {
      return entry.path().filename();
    }
  }
  return "";
}

// Connected: the LUN linked on its host.
class TcmuServer : public Server<Drive> {
 public:
  explicit TcmuServer(const Arguments& args) : Server(args, "qv_tcmu_drives") {}

  // Backstores and hosts, in address order so that host numbers rise with
  // the adapters; the LUNs are linked once the rings are served.
  void Build() {
    int index = 0;
    for (auto& d : drives_) {
      d->backstore = kTarget / "core/user_0" / d->name;
      fs::create_directories(d->backstore);
      if (!WriteAttribute(d->backstore / "control", "dev_config=quorvanta/" + d->name))
        Die("dev_config");
      // The program's own time-outs decide; the ring's would answer a
      // command that never ends after 30 s of the wall clock.
      WriteAttribute(d->backstore / "attrib/cmd_time_out", "0");
      if (!WriteAttribute(d->backstore / "enable", "1")) Die("enable " + d->name);
      OpenRing(*d);
      char wwn[32];
      std::snprintf(wwn, sizeof wwn, "naa.5001405%05x%04x",
                    static_cast<unsigned>(::getpid()) & 0xFFFFF, index++);
      d->wwn = kTarget / "loopback" / wwn;
      const fs::path tpg = d->wwn / ("tpgt_" + std::to_string(d->setup.target));
      d->lun = tpg / "lun/lun_0";
      fs::create_directories(d->lun);
      char nexus[32];
      std::snprintf(nexus, sizeof nexus, "naa.5001405%05x%04x",
                    static_cast<unsigned>(::getpid()) & 0xFFFFF, 0x8000 + index);
      if (!WriteAttribute(tpg / "nexus", nexus)) Die("nexus " + d->name);
    }
  }

 private:
  void AddPollFds(std::vector<pollfd>* fds) override {
    for (auto& d : drives_) fds->push_back(pollfd{d->uio, POLLIN, 0});
  }

  void Polled(const pollfd* fds) override {
    for (std::size_t i = 0; i < drives_.size(); ++i) {
      if (fds[i].revents & POLLIN) {
        std::uint32_t count;
        if (::read(drives_[i]->uio, &count, sizeof count) < 0 && errno != EAGAIN) Die("uio read");
      }
    }
  }

  std::string Tally(const Drive& d) override {
    return "answered " + std::to_string(d.commands) + " commands, " +
           std::to_string(d.busy_answers) + " of them BUSY";
  }

  void OpenRing(Drive& d) {
    std::string uio_name;
    for (int tries = 0; tries < 100 && uio_name.empty(); ++tries) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator("/sys/class/uio", ec)) {
        std::ifstream in(entry.path() / "name");
        std::string name;
        std::getline(in, name);
        if (name.find("/" + d.name + "/") != std::string::npos) uio_name = entry.path().filename();
      }
      if (uio_name.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (uio_name.empty()) Die("no uio device for " + d.name);
    std::ifstream size_file("/sys/class/uio/" + uio_name + "/maps/map0/size");
    std::string size_text;
    size_file >> size_text;
    d.map_size = std::stoul(size_text, nullptr, 16);
    d.uio = ::open(("/dev/" + uio_name).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (d.uio < 0) Die("open /dev/" + uio_name);
    void* map = ::mmap(nullptr, d.map_size, PROT_READ | PROT_WRITE, MAP_SHARED, d.uio, 0);
    if (map == MAP_FAILED) Die("mmap " + uio_name);
    d.map = static_cast<BYTE*>(map);
    d.mailbox = reinterpret_cast<tcmu_mailbox*>(d.map);
    if ((d.mailbox->flags & TCMU_MAILBOX_FLAG_CAP_OOOC) == 0) {
      std::fprintf(stderr, "qv_tcmu_drives: the kernel cannot complete commands out of order\n");
      std::exit(1);
    }
    d.seen = d.mailbox->cmd_tail;
    d.tail = d.mailbox->cmd_tail;
  }

  tcmu_cmd_entry* Entry(Drive& d, std::uint32_t at) {
    return reinterpret_cast<tcmu_cmd_entry*>(d.map + d.mailbox->cmdr_off + at);
  }

  void Advance() override {
    pace_.CatchUp();
    for (auto& d : drives_) Complete(*d);
  }

  // Every new command off the ring.
  void Take(Drive& d) override {
    const std::uint32_t head = __atomic_load_n(&d.mailbox->cmd_head, __ATOMIC_ACQUIRE);
    const std::uint32_t size = d.mailbox->cmdr_size;
    while (d.seen != head) {
      tcmu_cmd_entry* entry = Entry(d, d.seen);
      const std::uint32_t length = tcmu_hdr_get_len(entry->hdr.len_op);
      if (tcmu_hdr_get_op(entry->hdr.len_op) == TCMU_OP_CMD) Accept(d, *entry);
      d.seen = (d.seen + length) % size;
    }
  }

  void Accept(Drive& d, const tcmu_cmd_entry& entry) {
    d.pending.emplace_back();
    Pending& p = d.pending.back();
    p.cmd_id = entry.hdr.cmd_id;
    // Everything is read out of the entry now: a completion may reuse it.
    const BYTE* cdb = d.map + entry.req.cdb_off;
    SRB_ExecSCSICmd& r = p.record;
    r.SRB_Cmd = SC_EXEC_SCSI_CMD;
    r.SRB_HaId = static_cast<BYTE>(d.setup.adapter);
    r.SRB_Target = static_cast<BYTE>(d.setup.target);
    r.SRB_CDBLen = CdbLength(cdb[0]);
    r.SRB_SenseLen = SENSE_LEN;
    const BYTE given = r.SRB_CDBLen > 10 && cdb[0] >= 0xC0 ? 10 : r.SRB_CDBLen;
    std::memcpy(r.CDBByte, cdb, given);
    std::size_t total = 0;
    for (std::uint32_t i = 0; i < entry.req.iov_cnt; ++i) {
      p.iov.push_back(entry.req.iov[i]);
      total += entry.req.iov[i].iov_len;
    }
    p.buffer.assign(total, 0);
    r.SRB_BufLen = static_cast<DWORD>(total);
    r.SRB_BufPointer = total != 0 ? p.buffer.data() : nullptr;
    r.SRB_Flags = DataOut(r.CDBByte) ? SRB_DIR_OUT : SRB_DIR_IN;
    if (r.SRB_Flags == SRB_DIR_OUT) {
      std::size_t at = 0;
      for (const iovec& v : p.iov) {
        std::memcpy(p.buffer.data() + at, d.map + reinterpret_cast<std::uintptr_t>(v.iov_base),
                    v.iov_len);
        at += v.iov_len;
      }
    }
    RecordReceived(record_, r);
    aspi_->Send(&r);
    Complete(d);
  }

  // Answers every command the emulator has ended, into the ring's next
  // free entries (completions may come in any order).
  void Complete(Drive& d) {
    bool any = false;
    for (auto it = d.pending.begin(); it != d.pending.end();) {
      if (it->record.SRB_Status == SS_PENDING && !it->answered) {
        ++it;
        continue;
      }
      if (!it->answered) {
        Reply(d, *it);
        any = true;
      }
      // A command that never ended stays known to the emulator: its record
      // must outlive it.
      if (aspi_->Holds(&it->record)) {
        ++it;
      } else {
        it = d.pending.erase(it);
      }
    }
    if (any) {
      const std::uint32_t poke = 0;
      if (::write(d.uio, &poke, sizeof poke) < 0) Die("uio write");
      aspi_->Save();
    }
  }

  void Reply(Drive& d, Pending& p) {
    p.answered = true;
    ++d.commands;
    const SRB_ExecSCSICmd& r = p.record;
    BYTE status = kStatusGood;
    BYTE sense[18] = {};
    switch (r.SRB_Status) {
      case SS_COMP:
        break;
      case SS_PENDING:  // never ended: given up when the drives are taken off
        status = kStatusCheck;
        sense[2] = 0x0B;  // ABORTED COMMAND
        break;
      case SS_NO_DEVICE:  // absent, in the moment before its LUN is gone
        status = kStatusCheck;
        sense[2] = 0x05;
        sense[12] = 0x25;  // LOGICAL UNIT NOT SUPPORTED
        break;
      default:
        if (r.SRB_TargStat == STATUS_CHKCOND) {
          status = kStatusCheck;
          std::memcpy(sense, r.SenseArea, sizeof r.SenseArea);
        } else if (r.SRB_TargStat == STATUS_BUSY) {
          status = kStatusBusy;
        } else {
          // The drive lost power under the command: nothing a target can
          // report says so; the command fails and the LUN goes right after.
          status = kStatusCheck;
          sense[2] = 0x0B;
        }
        break;
    }
    if (status == kStatusBusy) ++d.busy_answers;
    if (status == kStatusCheck) {
      sense[0] = 0x70;
      sense[7] = 0x0A;
    }
    if (status == kStatusGood && (r.SRB_Flags & SRB_DIR_IN) != 0) {
      std::size_t at = 0;
      for (const iovec& v : p.iov) {
        std::memcpy(d.map + reinterpret_cast<std::uintptr_t>(v.iov_base), p.buffer.data() + at,
                    v.iov_len);
        at += v.iov_len;
      }
    }
    const std::uint32_t size = d.mailbox->cmdr_size;
    tcmu_cmd_entry* entry = Entry(d, d.tail);
    while (tcmu_hdr_get_op(entry->hdr.len_op) != TCMU_OP_CMD) {
      d.tail = (d.tail + tcmu_hdr_get_len(entry->hdr.len_op)) % size;
      entry = Entry(d, d.tail);
    }
    entry->hdr.cmd_id = p.cmd_id;
    entry->hdr.uflags = 0;
    entry->rsp.scsi_status = status;
    std::memset(entry->rsp.sense_buffer, 0, sizeof entry->rsp.sense_buffer);
    if (status == kStatusCheck) std::memcpy(entry->rsp.sense_buffer, sense, sizeof sense);
    d.tail = (d.tail + tcmu_hdr_get_len(entry->hdr.len_op)) % size;
    __atomic_store_n(&d.mailbox->cmd_tail, d.tail, __ATOMIC_RELEASE);
  }

  // Whatever is still outstanding is answered.
  void Stop() override {
    for (auto& d : drives_) {
      for (Pending& p : d->pending) {
        if (!p.answered) Reply(*d, p);
      }
      const std::uint32_t poke = 0;
      if (::write(d->uio, &poke, sizeof poke) < 0) Die("uio write");
    }
  }

  std::string Change(Drive& d, bool link) override {
    const fs::path at = d.lun / "drive";
    if (link) {
      if (::symlink(d.backstore.c_str(), at.c_str()) != 0) Die("link " + d.name);
      return "linked as " + NodeOf(d.lun.parent_path().parent_path());
    }
    if (::unlink(at.c_str()) != 0) Die("unlink " + d.name);
    return "unlinked";
  }

  // Each LUN follows its drive: on the host while the drive is present,
  // off while it restarts or has lost its power.
  void Follow() override {
    const std::uint64_t now = pace_.clock()->Now();
    for (auto& d : drives_) {
      if (d->busy) continue;
      const bool present = Present(*d, now);
      if (present != d->connected) StartChange(*d, present);
    }
  }

  void TearDown() override {
    for (auto& d : drives_) {
      if (d->worker.joinable()) d->worker.join();
      std::error_code ec;
      fs::remove(d->lun, ec);
      fs::remove(d->lun.parent_path().parent_path(), ec);  // tpgt_T, with its nexus
      fs::remove(d->wwn, ec);
      ::munmap(d->map, d->map_size);
      ::close(d->uio);
      fs::remove(d->backstore, ec);
      if (ec) std::fprintf(stderr, "qv_tcmu_drives: cannot remove %s\n", d->backstore.c_str());
    }
    std::error_code ec;
    fs::remove(kTarget / "core/user_0", ec);
  }
};

}  // namespace

int main(int argc, char** argv) { return Main<TcmuServer>(argc, argv, "qv_tcmu_drives"); }

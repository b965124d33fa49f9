// Serves the emulated drives of a virtual PC to this Linux kernel as USB
// mass-storage devices, as the drives reach a user's machine: each drive is
// a gadget of its own (interface class 8, subclass 6, protocol 0x50: SCSI
// commands over Bulk-Only Transport) made through configfs, its function
// served from user space through FunctionFS and bound to one of dummy_hcd's
// device controllers, whose host side the kernel's usb-storage driver then
// finds. Each command block wrapper's command goes to the virtual PC's own
// drive emulator (SimAspi) on a virtual clock that follows the wall clock at
// the rehearsal rate, as qv_tcmu_drives does; the drives' state is written
// back to the virtual PC's drives/ as commands end.
//
// As a bridge does: the data phase carries what the drive answered and the
// status wrapper the residue; a short data-in phase ends with the bulk-in
// endpoint halted; CHECK CONDITION is a failed status wrapper whose sense
// the host fetches with REQUEST SENSE; Get Max LUN answers 0; a Bulk-Only
// reset drops the command under way. A drive that restarts or loses power
// is unplugged: its gadget is unbound from the controller (the host sees a
// disconnect) and bound again once the drive is back.
//
//   qv_usb_drives MACHINE_DIR [--rehearsal-clock-rate N] [--record DIR]
//
// With --record, what each drive received goes to DIR (drive_server.h).
//
// Needs root, configfs at /sys/kernel/config, the modules libcomposite,
// usb_f_fs and dummy_hcd with a controller per drive (num=N). Prints
// "ready" once every gadget is bound; SIGTERM or SIGINT unplug every drive
// and end. SIGUSR1 turns every drive's power off and on, as a user does by
// hand: unplugged, powered on again two seconds later, plugged in.
#include <endian.h>
#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/emulated_drive.h"
#include "tests/kernel/drive_server.h"

namespace fs = std::filesystem;
using namespace drive_server;

namespace {

const fs::path kGadgets = "/sys/kernel/config/usb_gadget";

constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr BYTE kCswPassed = 0;
constexpr BYTE kCswFailed = 1;
constexpr std::size_t kCbwSize = 31;
constexpr std::size_t kCswSize = 13;
constexpr BYTE kGetMaxLun = 0xFE;
constexpr BYTE kBulkOnlyReset = 0xFF;
// How long the host is given to finish a command whose status it has taken
// before a drive that restarts leaves the bus (wall clock).
constexpr std::int64_t kSettleNs = 200000000;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "qv_usb_drives: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// The function's descriptors, full and high speed: one interface, bulk in
// (ep1) and bulk out (ep2).
struct __attribute__((packed)) SpeedDescriptors {
  usb_interface_descriptor intf;
  usb_endpoint_descriptor_no_audio in;
  usb_endpoint_descriptor_no_audio out;
};

struct __attribute__((packed)) Descriptors {
  usb_functionfs_descs_head_v2 header;
  __le32 fs_count;
  __le32 hs_count;
  SpeedDescriptors fs;
  SpeedDescriptors hs;
};

SpeedDescriptors SpeedSet(std::uint16_t max_packet) {
  SpeedDescriptors d{};
  d.intf.bLength = sizeof d.intf;
  d.intf.bDescriptorType = USB_DT_INTERFACE;
  d.intf.bNumEndpoints = 2;
  d.intf.bInterfaceClass = USB_CLASS_MASS_STORAGE;
  d.intf.bInterfaceSubClass = 0x06;  // SCSI transparent command set
  d.intf.bInterfaceProtocol = 0x50;  // Bulk-Only Transport
  d.intf.iInterface = 1;
  for (auto* ep : {&d.in, &d.out}) {
    ep->bLength = sizeof *ep;
    ep->bDescriptorType = USB_DT_ENDPOINT;
    ep->bmAttributes = USB_ENDPOINT_XFER_BULK;
    ep->wMaxPacketSize = htole16(max_packet);
  }
  d.in.bEndpointAddress = 1 | USB_DIR_IN;
  d.out.bEndpointAddress = 2 | USB_DIR_OUT;
  return d;
}

struct __attribute__((packed)) Strings {
  usb_functionfs_strings_head header;
  __le16 lang;
  char interface[sizeof "Mass Storage"];  // the strings end where the last NUL does
};

// One command between a drive's bulk thread and the main loop.
struct Command {
  SRB_ExecSCSICmd record{};
  std::vector<BYTE> buffer;
  std::size_t data_in = 0;  // the bytes the drive answered
  bool ended = false;       // answered: the status wrapper may go
  bool failed = false;
  bool answered = false;  // seen ended by the main loop (lost ones never end)
};

// The gadget and its function take the connection's name.
struct Drive : Connection {
  fs::path gadget;
  fs::path mount;
  std::string udc;
  int ep0 = -1;
  int in = -1;   // bulk in
  int out = -1;  // bulk out
  std::thread bulk;
  // The host has configured it since it was bound (how many times: more
  // than once means the host reset the device on the port).
  int enabled = 0;
  std::int64_t bound_at_ns = 0;
  int commands = 0;
  int failed = 0;
  int resets = 0;
  // The sense of the last failed command, for the host's REQUEST SENSE.
  BYTE sense[18] = {};

  // Shared with the bulk thread.
  std::mutex lock;
  std::condition_variable changed;
  std::shared_ptr<Command> submitted;  // waiting for the main loop
  std::shared_ptr<Command> current;    // the one whose status wrapper is due
  std::uint64_t epoch = 0;             // counts resets and disconnects
  // A command has ended whose status wrapper the host has not yet taken: a
  // drive that restarts at the end of a command answers it first.
  bool status_due = false;
  std::int64_t status_taken_ns = 0;
  std::int64_t leaving_since_ns = 0;  // gone from the emulator, still on the bus
  bool stopping = false;
  std::atomic<bool> bulk_done{false};
};

void Interrupted(int) {}

// Connected: the gadget bound to its device controller.
class UsbServer : public Server<Drive> {
 public:
  explicit UsbServer(const Arguments& args) : Server(args, "qv_usb_drives") {}

  // Each drive a device controller of its own.
  void Load() {
    Server::Load();
    aspi_->set_data_in_hook([this](const SRB_ExecSCSICmd* r, std::size_t n) {
      for (auto& c : held_) {
        if (&c->record == r) c->data_in = n;
      }
    });
    std::vector<std::string> udcs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/udc", ec)) {
      udcs.push_back(entry.path().filename());
    }
    std::sort(udcs.begin(), udcs.end());
    if (drives_.size() > udcs.size()) {
      std::fprintf(stderr, "qv_usb_drives: %zu device controllers for more drives\n", udcs.size());
      std::exit(1);
    }
    for (std::size_t i = 0; i < drives_.size(); ++i) drives_[i]->udc = udcs[i];
  }

  void Build() {
    struct sigaction action {};
    action.sa_handler = Interrupted;  // no SA_RESTART: blocked endpoint I/O returns
    sigaction(SIGUSR2, &action, nullptr);
    int index = 0;
    for (auto& d : drives_) {
      d->gadget = kGadgets / d->name;
      fs::create_directories(d->gadget / "strings/0x409");
      fs::create_directories(d->gadget / "configs/c.1/strings/0x409");
      fs::create_directories(d->gadget / ("functions/ffs." + d->name));
      // The Linux Foundation's multifunction gadget id: no quirk of
      // usb-storage's applies to it, as none applies to an ordinary bridge.
      WriteAttribute(d->gadget / "idVendor", "0x1d6b");
      WriteAttribute(d->gadget / "idProduct", "0x0104");
      WriteAttribute(d->gadget / "bcdUSB", "0x0200");
      WriteAttribute(d->gadget / "strings/0x409/manufacturer", "VANTROS");
      WriteAttribute(d->gadget / "strings/0x409/product", d->setup.product);
      char serial[24];
      std::snprintf(serial, sizeof serial, "QV%05d%04d", ::getpid() % 100000, index++);
      WriteAttribute(d->gadget / "strings/0x409/serialnumber", serial);
      WriteAttribute(d->gadget / "configs/c.1/strings/0x409/configuration", "Bulk-Only");
      WriteAttribute(d->gadget / "configs/c.1/MaxPower", "500");
      if (::symlink((d->gadget / ("functions/ffs." + d->name)).c_str(),
                    (d->gadget / ("configs/c.1/ffs." + d->name)).c_str()) != 0) {
        Die("link the function of " + d->name);
      }
      d->mount = fs::temp_directory_path() / ("ffs." + d->name);
      fs::create_directories(d->mount);
      if (::mount(d->name.c_str(), d->mount.c_str(), "functionfs", 0, nullptr) != 0) {
        Die("mount functionfs " + d->name);
      }
      d->ep0 = ::open((d->mount / "ep0").c_str(), O_RDWR | O_CLOEXEC);
      if (d->ep0 < 0) Die("open ep0 of " + d->name);
      Descriptors descs{};
      descs.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
      descs.header.length = htole32(sizeof descs);
      descs.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
      descs.fs_count = htole32(3);
      descs.hs_count = htole32(3);
      descs.fs = SpeedSet(64);
      descs.hs = SpeedSet(512);
      if (::write(d->ep0, &descs, sizeof descs) != sizeof descs) Die("descriptors of " + d->name);
      Strings strings{};
      strings.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
      strings.header.length = htole32(sizeof strings);
      strings.header.str_count = htole32(1);
      strings.header.lang_count = htole32(1);
      strings.lang = htole16(0x0409);
      std::strcpy(strings.interface, "Mass Storage");
      if (::write(d->ep0, &strings, sizeof strings) != sizeof strings) Die("strings of " + d->name);
      d->in = ::open((d->mount / "ep1").c_str(), O_RDWR | O_CLOEXEC);
      d->out = ::open((d->mount / "ep2").c_str(), O_RDWR | O_CLOEXEC);
      if (d->in < 0 || d->out < 0) Die("open the bulk endpoints of " + d->name);
      ::fcntl(d->ep0, F_SETFL, O_NONBLOCK);
      d->bulk = std::thread([this, &d = *d] { ServeBulk(d); });
    }
  }

 private:
  void AddPollFds(std::vector<pollfd>* fds) override {
    fds->push_back(pollfd{wake_, POLLIN, 0});
    for (auto& d : drives_) fds->push_back(pollfd{d->ep0, POLLIN, 0});
  }

  void Polled(const pollfd* fds) override {
    if ((fds[0].revents & POLLIN) != 0) {
      std::uint64_t count;
      if (::read(wake_, &count, sizeof count) < 0 && errno != EAGAIN) Die("eventfd");
    }
    for (std::size_t i = 0; i < drives_.size(); ++i) {
      if (fds[i + 1].revents & POLLIN) Control(*drives_[i]);
    }
  }

  std::string Tally(const Drive& d) override {
    return "answered " + std::to_string(d.commands) + " commands, " + std::to_string(d.failed) +
           " of them failed; " + std::to_string(d.resets) + " resets";
  }

  // The bulk endpoints of one drive, as its bridge serves them: a command
  // block wrapper, the data phase, the status wrapper, over and over. A
  // reset or a disconnect (the epoch moves on) drops the command under way.
  void ServeBulk(Drive& d) {
    sigset_t usr2;
    sigemptyset(&usr2);
    sigaddset(&usr2, SIGUSR2);
    pthread_sigmask(SIG_UNBLOCK, &usr2, nullptr);
    std::vector<BYTE> cbw(512);
    for (;;) {
      std::uint64_t epoch;
      {
        std::lock_guard<std::mutex> hold(d.lock);
        if (d.stopping) {
          d.bulk_done = true;
          return;
        }
        epoch = d.epoch;
      }
      // Before the endpoint is enabled, the read waits until it is.
      const ssize_t got = ::read(d.out, cbw.data(), cbw.size());
      if (got < 0) {
        if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      std::uint32_t signature;
      std::memcpy(&signature, cbw.data(), 4);
      if (static_cast<std::size_t>(got) != kCbwSize || le32toh(signature) != kCbwSignature ||
          cbw[14] == 0 || cbw[14] > 16) {
        // Not a valid wrapper: both endpoints halt until the host's reset.
        std::fprintf(stderr, "qv_usb_drives: %s: an invalid command block wrapper (%zd bytes)\n",
                     d.name.c_str(), got);
        Halt(d.in, true);
        Halt(d.out, false);
        std::unique_lock<std::mutex> hold(d.lock);
        d.changed.wait(hold, [&] { return d.stopping || d.epoch != epoch; });
        continue;
      }
      std::uint32_t tag, length;
      std::memcpy(&tag, cbw.data() + 4, 4);
      std::memcpy(&length, cbw.data() + 8, 4);
      length = le32toh(length);
      const bool data_in = (cbw[12] & 0x80) != 0;
      auto c = std::make_shared<Command>();
      SRB_ExecSCSICmd& r = c->record;
      r.SRB_Cmd = SC_EXEC_SCSI_CMD;
      r.SRB_HaId = static_cast<BYTE>(d.setup.adapter);
      r.SRB_Target = static_cast<BYTE>(d.setup.target);
      r.SRB_Lun = cbw[13] & 0x0F;
      r.SRB_CDBLen = cbw[14];
      r.SRB_SenseLen = SENSE_LEN;
      std::memcpy(r.CDBByte, cbw.data() + 15, r.SRB_CDBLen);
      r.SRB_Flags = data_in ? SRB_DIR_IN : SRB_DIR_OUT;
      c->buffer.assign(length, 0);
      r.SRB_BufLen = length;
      r.SRB_BufPointer = length != 0 ? c->buffer.data() : nullptr;
      std::size_t taken = 0;
      bool broken = false;
      while (!data_in && taken < length) {
        const std::size_t want = length - taken;
        const ssize_t n = ::read(d.out, c->buffer.data() + taken, want);
        if (n < 0) {
          broken = true;
          break;
        }
        taken += static_cast<std::size_t>(n);
        if (static_cast<std::size_t>(n) < want) break;  // a short packet ends the phase
      }
      if (broken) continue;
      {
        std::unique_lock<std::mutex> hold(d.lock);
        if (d.epoch != epoch) continue;
        d.submitted = c;
        d.current = c;
        const std::uint64_t one = 1;
        if (::write(wake_, &one, sizeof one) < 0) Die("eventfd");
        d.changed.wait(hold, [&] { return d.stopping || d.epoch != epoch || c->ended; });
        if (!c->ended) continue;
        d.current = nullptr;
      }
      std::uint32_t residue = 0;
      if (data_in && length != 0) {
        const std::size_t give = c->failed ? 0 : std::min<std::size_t>(c->data_in, length);
        if (give != 0 && ::write(d.in, c->buffer.data(), give) < 0) {
          std::lock_guard<std::mutex> hold(d.lock);
          if (d.epoch == epoch) d.status_due = false;
          continue;
        }
        // Less than the host asked for: the bulk-in endpoint halts, and the
        // host clears it before it reads the status.
        if (give < length) Halt(d.in, true);
        residue = static_cast<std::uint32_t>(length - give);
      } else if (!data_in) {
        residue = static_cast<std::uint32_t>(length - taken);
      }
      BYTE csw[kCswSize];
      const std::uint32_t sig = htole32(kCswSignature);
      residue = htole32(residue);
      std::memcpy(csw, &sig, 4);
      std::memcpy(csw + 4, &tag, 4);
      std::memcpy(csw + 8, &residue, 4);
      csw[12] = c->failed ? kCswFailed : kCswPassed;
      const ssize_t sent = ::write(d.in, csw, sizeof csw);
      // QV_USB_TRACE: each command's status wrapper on stderr, for a
      // developer following the bus.
      if (std::getenv("QV_USB_TRACE") != nullptr) {
        std::fprintf(stderr, "%.3f %s op=%02X len=%u tag=%08x status=%d residue=%u sent=%zd %s\n",
                     static_cast<double>(NowNs()) / 1e9, d.name.c_str(), r.CDBByte[0], length, tag,
                     csw[12], le32toh(residue), sent, sent < 0 ? std::strerror(errno) : "");
      }
      std::lock_guard<std::mutex> hold(d.lock);
      if (d.epoch == epoch) d.status_due = false;
      d.status_taken_ns = NowNs();
    }
  }

  // FunctionFS halts an endpoint on I/O against its direction.
  static void Halt(int fd, bool in) {
    BYTE byte = 0;
    const ssize_t ignored = in ? ::read(fd, &byte, 1) : ::write(fd, &byte, 1);
    (void)ignored;
  }

  // The wrapper's command, handed from the bulk thread to the emulator;
  // REQUEST SENSE is the bridge's own, answered from the last failure.
  void Take(Drive& d) override {
    std::shared_ptr<Command> c;
    {
      std::lock_guard<std::mutex> hold(d.lock);
      c = std::move(d.submitted);
      d.submitted = nullptr;
    }
    if (!c) return;
    SRB_ExecSCSICmd& r = c->record;
    RecordReceived(record_, r);
    if (r.CDBByte[0] == 0x03) {
      BYTE sense[18] = {0x70, 0, 0, 0, 0, 0, 0, 0x0A};
      if (d.sense[0] != 0) std::memcpy(sense, d.sense, sizeof sense);
      std::memset(d.sense, 0, sizeof d.sense);
      c->data_in = std::min<std::size_t>({sizeof sense, r.CDBByte[4], r.SRB_BufLen});
      std::memcpy(c->buffer.data(), sense, c->data_in);
      Finish(d, *c, false);
      return;
    }
    held_.push_back(c);
    aspi_->Send(&r);
    Advance();
  }

  void Advance() override {
    pace_.CatchUp();
    bool any = false;
    for (auto it = held_.begin(); it != held_.end();) {
      Command& c = **it;
      if (c.record.SRB_Status != SS_PENDING && !c.answered) {
        c.answered = true;
        Answer(c);
        any = true;
      }
      // A command that never ended stays known to the emulator: its record
      // must outlive it.
      if (aspi_->Holds(&c.record)) {
        ++it;
      } else {
        it = held_.erase(it);
      }
    }
    if (any) aspi_->Save();
  }

  void Answer(Command& c) {
    const SRB_ExecSCSICmd& r = c.record;
    Drive* drive = nullptr;
    for (auto& d : drives_) {
      if (d->setup.adapter == r.SRB_HaId && d->setup.target == r.SRB_Target) drive = d.get();
    }
    Drive& d = *drive;
    BYTE* sense = d.sense;
    std::memset(sense, 0, sizeof d.sense);
    switch (r.SRB_Status) {
      case SS_COMP:
        return Finish(d, c, false);
      case SS_NO_DEVICE:  // gone, in the moment before its gadget is unbound
        sense[2] = 0x05;
        sense[12] = 0x25;  // LOGICAL UNIT NOT SUPPORTED
        break;
      default:
        if (r.SRB_TargStat == STATUS_CHKCOND) {
          std::memcpy(sense, r.SenseArea, std::min(sizeof d.sense, sizeof r.SenseArea));
        } else if (r.SRB_TargStat == STATUS_BUSY) {
          // A status wrapper has no BUSY: the bridge fails the command and
          // says the drive is becoming ready, which the host retries.
          sense[2] = 0x02;
          sense[12] = 0x04;
          sense[13] = 0x01;
        } else {
          // The drive lost power under the command: the bridge goes with
          // it, and the host sees the disconnect, not an answer.
          return;
        }
        break;
    }
    sense[0] = 0x70;
    sense[7] = 0x0A;
    Finish(d, c, true);
  }

  void Finish(Drive& d, Command& c, bool failed) {
    ++d.commands;
    if (failed) ++d.failed;
    std::lock_guard<std::mutex> hold(d.lock);
    c.failed = failed;
    c.ended = true;
    d.status_due = true;
    d.changed.notify_all();
  }

  // The control endpoint's events: the class requests of Bulk-Only
  // Transport, and the function's enable and disable.
  void Control(Drive& d) {
    usb_functionfs_event events[4];
    const ssize_t n = ::read(d.ep0, events, sizeof events);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof events[0]); ++i) {
      const usb_functionfs_event& e = events[i];
      if (e.type == FUNCTIONFS_ENABLE) {
        if (++d.enabled > 1) {
          ++d.resets;
          std::printf("%d:%d USB port reset\n", d.setup.adapter, d.setup.target);
          std::fflush(stdout);
        }
      } else if (e.type == FUNCTIONFS_DISABLE || e.type == FUNCTIONFS_UNBIND) {
        Drop(d);
      } else if (e.type == FUNCTIONFS_SETUP) {
        const usb_ctrlrequest& s = e.u.setup;
        BYTE zero = 0;
        ssize_t ignored;
        if (s.bRequestType == (USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
            s.bRequest == kGetMaxLun && le16toh(s.wLength) >= 1) {
          ignored = ::write(d.ep0, &zero, 1);  // one LUN: 0
        } else if (s.bRequestType == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
                   s.bRequest == kBulkOnlyReset && s.wLength == 0) {
          ++d.resets;
          std::printf("%d:%d Bulk-Only reset\n", d.setup.adapter, d.setup.target);
          std::fflush(stdout);
          Drop(d);
          ignored = ::read(d.ep0, &zero, 0);  // the status stage
        } else if ((s.bRequestType & USB_DIR_IN) != 0) {
          ignored = ::read(d.ep0, &zero, 0);  // against the direction: stall
        } else {
          ignored = ::write(d.ep0, &zero, 0);
        }
        (void)ignored;
      }
    }
  }

  // The command under way is dropped and the bulk thread taken off any
  // endpoint I/O it waits in: the next thing the host sends is a new wrapper.
  void Drop(Drive& d) {
    std::lock_guard<std::mutex> hold(d.lock);
    ++d.epoch;
    d.status_due = false;
    d.submitted = nullptr;
    d.current = nullptr;
    d.changed.notify_all();
    pthread_kill(d.bulk.native_handle(), SIGUSR2);
  }

  // The status wrapper of the last command is not yet taken, or was taken
  // so recently that the host may still be at that command: a disconnect
  // now would fail it, where a real drive leaves only after it answered.
  // The settling lasts from the drive's leaving at most.
  static bool StatusDue(Drive& d) {
    std::lock_guard<std::mutex> hold(d.lock);
    const std::int64_t now = NowNs();
    return d.status_due ||
           (now - d.status_taken_ns < kSettleNs && now - d.leaving_since_ns < kSettleNs);
  }

  std::string Change(Drive& d, bool bind) override {
    if (!WriteAttribute(d.gadget / "UDC", bind ? d.udc : "\n")) {
      std::fprintf(stderr, "qv_usb_drives: cannot %s %s: %s\n", bind ? "bind" : "unbind",
                   d.name.c_str(), std::strerror(errno));
    }
    return bind ? "plugged in to " + d.udc : "unplugged";
  }

  void StartBindChange(Drive& d, bool bind) {
    d.enabled = 0;
    d.bound_at_ns = NowNs();
    d.leaving_since_ns = 0;
    StartChange(d, bind);
  }

  // Each gadget follows its drive: plugged in while the drive is present,
  // unplugged while it restarts or has lost its power.
  void Follow() override {
    const std::uint64_t now = pace_.clock()->Now();
    // One drive plugged in at a time, each once the host has configured the
    // one before (or given up on it), so that SCSI host numbers rise with
    // the drives' addresses, as with drives plugged in one after another.
    bool plugging = std::any_of(drives_.begin(), drives_.end(), [](const auto& d) {
      return d->busy || (d->connected && d->enabled == 0 && NowNs() - d->bound_at_ns < 5000000000);
    });
    for (auto& d : drives_) {
      if (d->busy) continue;
      const bool present = Present(*d, now);
      if (present && !d->connected && plugging) continue;
      // A drive that restarts leaves once it has answered; the hand on
      // the plug (SIGUSR1) waits for nothing.
      if (!present && d->connected && d->off_since_ns == 0) {
        if (d->leaving_since_ns == 0) d->leaving_since_ns = NowNs();
        if (StatusDue(*d)) continue;
      }
      if (present != d->connected) {
        StartBindChange(*d, present);
        plugging = plugging || present;
      }
    }
  }

  void TearDown() override {
    for (auto& d : drives_) {
      if (d->worker.joinable()) d->worker.join();
      {
        std::lock_guard<std::mutex> hold(d->lock);
        d->stopping = true;
        d->changed.notify_all();
      }
      // The signal may land before the thread waits: sent until it is gone.
      while (!d->bulk_done) {
        pthread_kill(d->bulk.native_handle(), SIGUSR2);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      d->bulk.join();
      for (int fd : {d->in, d->out, d->ep0}) ::close(fd);
      ::umount(d->mount.c_str());
      std::error_code ec;
      fs::remove(d->mount, ec);
      const std::string function = "functions/ffs." + d->name;
      for (const fs::path& gone :
           {fs::path("configs/c.1/ffs." + d->name), fs::path("configs/c.1/strings/0x409"),
            fs::path("configs/c.1"), fs::path(function), fs::path("strings/0x409"), fs::path()}) {
        fs::remove(d->gadget / gone, ec);
      }
      if (fs::exists(d->gadget)) {
        std::fprintf(stderr, "qv_usb_drives: cannot remove %s\n", d->gadget.c_str());
      }
    }
  }

  std::list<std::shared_ptr<Command>> held_;  // sent to the emulator
  int wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

}  // namespace

int main(int argc, char** argv) { return Main<UsbServer>(argc, argv, "qv_usb_drives"); }

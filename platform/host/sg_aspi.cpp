#include "platform/host/sg_aspi.h"

#include <fcntl.h>
#include <poll.h>
#include <scsi/sg.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxAdapters = 8;
constexpr int kCdDvdType = 5;
constexpr int kSgV3 = 30000;

bool ReadNumber(const fs::path& path, int* value) {
  std::ifstream in(path);
  return static_cast<bool>(in >> *value);
}

int OpenFile(const char* path, int flags) { return ::open(path, flags); }

bool ExecutableOnPath(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::int64_t MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepUntilNs(std::int64_t deadline_ns) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(deadline_ns / 1000000000);
  ts.tv_nsec = static_cast<long>(deadline_ns % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

struct SgDevice {
  std::string node;
  int host = 0;
  int channel = 0;
  int id = 0;
  int fd = -1;
  bool exclusive = false;
  bool gone = false;  // the node answered ENODEV: nothing more comes from it

  ~SgDevice() {
    if (fd >= 0) ::close(fd);
  }
};

struct SgAspi::Held {
  SRB_ExecSCSICmd* request;
  std::shared_ptr<SgDevice> device;
  BYTE sense[32];
};

std::vector<int> AdapterNumbers(const std::vector<int>& hosts, int limit) {
  std::vector<int> distinct = hosts;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  std::vector<int> adapters;
  for (int host : hosts) {
    const auto at = std::lower_bound(distinct.begin(), distinct.end(), host) - distinct.begin();
    adapters.push_back(at < limit ? static_cast<int>(at) : -1);
  }
  return adapters;
}

SgAspi::SgAspi(std::string sysfs_dir, std::string dev_dir, Note note, Open open)
    : sysfs_dir_(std::move(sysfs_dir)),
      dev_dir_(std::move(dev_dir)),
      note_(std::move(note)),
      open_(open != nullptr ? open : OpenFile) {}

ScanFindings SgAspi::Findings() const {
  if (nodes_refused_ > 0) return {ScanFinding::kRefused, nodes_refused_};
  if (nodes_busy_ > 0) return {ScanFinding::kBusy, nodes_busy_};
  if (nodes_seen_ == 0) return {ScanFinding::kNoNodes, 0};
  return {ScanFinding::kDevicesOnly, nodes_seen_};
}

SgAspi::~SgAspi() { StopInhibit(); }

void SgAspi::NoteOnce(const std::string& key, const std::string& text) {
  if (noted_.insert(key).second && note_) note_(text);
}

std::shared_ptr<SgDevice> SgAspi::OpenNode(const std::string& name) {
  auto device = std::make_shared<SgDevice>();
  device->node = dev_dir_ + "/" + name;
  device->fd = open_(device->node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (device->fd < 0) {
    const int err = errno;
    if (err == EACCES || err == EPERM) {
      ++nodes_refused_;
      NoteOnce("access " + device->node,
               "cannot open " + device->node +
                   ": permission denied; add your user to the cdrom group (then log in "
                   "again) or run as root");
    } else if (err == EBUSY) {
      ++nodes_busy_;
      NoteOnce("busy " + device->node,
               device->node +
                   " is held by another program (a firmware update?); it is "
                   "left out until that program ends");
    }
    return nullptr;
  }
  int version = 0;
  sg_scsi_id id{};
  if (::ioctl(device->fd, SG_GET_VERSION_NUM, &version) < 0 || version < kSgV3 ||
      ::ioctl(device->fd, SG_GET_SCSI_ID, &id) < 0) {
    return nullptr;
  }
  if (id.scsi_type != kCdDvdType || id.lun != 0 || id.scsi_id < 0 || id.scsi_id > 7) {
    return nullptr;
  }
  device->host = id.host_no;
  device->channel = id.channel;
  device->id = id.scsi_id;
  return device;
}

void SgAspi::Rescan() {
  std::vector<std::string> names;
  std::error_code ec;
  nodes_seen_ = 0;
  nodes_refused_ = 0;
  nodes_busy_ = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysfs_dir_, ec)) {
    ++nodes_seen_;
    const std::string name = entry.path().filename().string();
    int type = -1;
    // Only CD/DVD devices are opened: disks and the rest are not ours to touch.
    if (ReadNumber(entry.path() / "device" / "type", &type) && type == kCdDvdType) {
      names.push_back(name);
    }
  }
  // sg0, sg1, ..., sg10: by number, so that equal hosts keep a stable order.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });

  std::vector<std::shared_ptr<SgDevice>> found;
  for (const std::string& name : names) {
    const std::string node = dev_dir_ + "/" + name;
    std::shared_ptr<SgDevice> device;
    for (const auto& known : devices_) {
      sg_scsi_id id{};
      // An open node is kept (an exclusive one could not be opened again)
      // as long as it still is the same device.
      if (known->node == node && !known->gone && ::ioctl(known->fd, SG_GET_SCSI_ID, &id) == 0 &&
          id.host_no == known->host && id.scsi_id == known->id) {
        device = known;
      }
    }
    if (!device) device = OpenNode(name);
    if (device) found.push_back(device);
  }
  devices_ = std::move(found);

  std::vector<int> hosts;
  for (const auto& device : devices_) hosts.push_back(device->host);
  const std::vector<int> adapters = AdapterNumbers(hosts, kMaxAdapters);
  for (auto& row : address_) {
    for (auto& slot : row) slot.reset();
  }
  adapter_count_ = 0;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (adapters[i] < 0) continue;
    auto& slot = address_[adapters[i]][devices_[i]->id];
    if (!slot) slot = devices_[i];
    adapter_count_ = std::max(adapter_count_, adapters[i] + 1);
  }
}

void SgAspi::ExplainNoDrive() {
  int nodes = 0;
  int cd_dvd = 0;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysfs_dir_, ec)) {
    ++nodes;
    int type = -1;
    if (ReadNumber(entry.path() / "device" / "type", &type) && type == kCdDvdType) ++cd_dvd;
  }
  if (cd_dvd != 0) return;
  if (nodes == 0) {
    NoteOnce("no nodes",
             "no SCSI generic node (" + dev_dir_ +
                 "/sg*) exists: load the driver with 'modprobe sg' (as root), or the drive is "
                 "unplugged or switched off");
  } else {
    NoteOnce("no cd/dvd", std::to_string(nodes) +
                              (nodes == 1 ? " SCSI generic node (" : " SCSI generic nodes (") +
                              dev_dir_ +
                              "/sg*), none of them a CD/DVD drive: the drive is "
                              "unplugged or switched off");
  }
}

DWORD SgAspi::SupportInfo() {
  Rescan();
  // Later scans run while a drive restarts, when an empty list is expected.
  if (!scanned_ && adapter_count_ == 0) ExplainNoDrive();
  scanned_ = true;
  if (adapter_count_ == 0) return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
  return static_cast<DWORD>(adapter_count_) | (static_cast<DWORD>(SS_COMP) << 8);
}

std::string SgAspi::NodeAt(int adapter, int target) const {
  if (adapter < 0 || adapter >= kMaxAdapters || target < 0 || target > 7) return {};
  const auto& device = address_[adapter][target];
  return device ? device->node : std::string();
}

std::string SgAspi::KernelAddressAt(int adapter, int target) const {
  if (NodeAt(adapter, target).empty()) return {};
  const auto& device = address_[adapter][target];
  return std::to_string(device->host) + ":" + std::to_string(device->channel) + ":" +
         std::to_string(device->id) + ":0";
}

bool SgAspi::Holds(const SRB_ExecSCSICmd* request) const {
  return std::any_of(held_.begin(), held_.end(),
                     [request](const auto& held) { return held->request == request; });
}

void SgAspi::EndRequest(Held& held, const SgAnswer& answer) {
  SRB_ExecSCSICmd* request = held.request;
  const BYTE status = TranslateSgAnswer(answer, request);
  // The status last: whoever sees it non-pending finds everything else in place.
  request->SRB_Status = status;
  if ((request->SRB_Flags & SRB_POSTING) != 0 && request->SRB_PostProc != nullptr) {
    request->SRB_PostProc(request);
  }
  held_.erase(std::find_if(held_.begin(), held_.end(),
                           [&held](const auto& h) { return h.get() == &held; }));
}

void SgAspi::EndAllOn(const SgDevice& device, int os_error) {
  for (std::size_t i = held_.size(); i-- > 0;) {
    if (i < held_.size() && held_[i]->device.get() == &device) {
      SgAnswer answer;
      answer.os_error = os_error;
      EndRequest(*held_[i], answer);
    }
  }
}

bool SgAspi::MakeExclusive(SgDevice& device) {
  if (device.exclusive) return true;
  // sg refuses O_EXCL while any descriptor of the device is open, this
  // program's own included; answers still owed on it are given up.
  EndAllOn(device, ECANCELED);
  ::close(device.fd);
  device.fd = ::open(device.node.c_str(), O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
  if (device.fd >= 0) {
    // The node may have gone and come back for another device meanwhile:
    // nothing is written until it is known to be the same drive.
    sg_scsi_id id{};
    if (::ioctl(device.fd, SG_GET_SCSI_ID, &id) != 0 || id.host_no != device.host ||
        id.channel != device.channel || id.scsi_id != device.id || id.lun != 0 ||
        id.scsi_type != kCdDvdType) {
      ::close(device.fd);
      device.fd = -1;
      device.gone = true;
      NoteOnce("changed " + device.node,
               device.node + " is no longer the drive that was chosen; nothing was written to it");
      return false;
    }
    device.exclusive = true;
    StartInhibit();
    return true;
  }
  const int err = errno;
  device.fd = ::open(device.node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (device.fd < 0) device.gone = true;
  if (err == EBUSY) {
    NoteOnce("excl " + device.node,
             device.node +
                 " is open in another program; a drive takes firmware from one "
                 "program at a time: end the other one and try again");
  } else {
    NoteOnce("excl " + device.node,
             "cannot open " + device.node + " for writing: " + std::strerror(err));
  }
  return false;
}

DWORD SgAspi::Send(SRB_ExecSCSICmd* request) {
  if (request == nullptr) return SS_ERR;
  if (Holds(request)) return SS_ERR;  // still ours: left untouched

  auto end_now = [request](BYTE status) {
    request->SRB_Status = status;
    if ((request->SRB_Flags & SRB_POSTING) != 0 && request->SRB_PostProc != nullptr) {
      request->SRB_PostProc(request);
    }
    return static_cast<DWORD>(status);
  };
  if (request->SRB_Cmd != SC_EXEC_SCSI_CMD) return end_now(SS_INVALID_CMD);
  const int adapter = request->SRB_HaId;
  const int target = request->SRB_Target;
  std::shared_ptr<SgDevice> device;
  if (adapter < kMaxAdapters && target < 8 && request->SRB_Lun == 0) {
    device = address_[adapter][target];
  }
  if (!device || device->gone) return end_now(SS_NO_DEVICE);
  if (request->SRB_CDBLen == 0 || request->SRB_CDBLen > 16) return end_now(SS_ERR);
  if (WritesIntoDrive(*request) && !MakeExclusive(*device)) {
    request->SRB_HaStat = HASTAT_OK;
    request->SRB_TargStat = STATUS_GOOD;
    return end_now(device->gone ? SS_NO_DEVICE : SS_ERR);
  }

  auto held = std::make_unique<Held>();
  held->request = request;
  held->device = device;
  std::memset(held->sense, 0, sizeof held->sense);

  sg_io_hdr_t header{};
  header.interface_id = 'S';
  header.cmd_len = request->SRB_CDBLen;
  header.cmdp = request->CDBByte;
  header.mx_sb_len = sizeof held->sense;
  header.sbp = held->sense;
  header.dxfer_len = request->SRB_BufLen;
  header.dxferp = request->SRB_BufPointer;
  if (request->SRB_BufLen == 0 || request->SRB_BufPointer == nullptr) {
    header.dxfer_direction = SG_DXFER_NONE;
    header.dxfer_len = 0;
    header.dxferp = nullptr;
  } else if ((request->SRB_Flags & SRB_DIR_OUT) != 0) {
    header.dxfer_direction = SG_DXFER_TO_DEV;
  } else if ((request->SRB_Flags & SRB_DIR_IN) != 0) {
    header.dxfer_direction = SG_DXFER_FROM_DEV;
  } else {
    header.dxfer_direction = SG_DXFER_NONE;
    header.dxfer_len = 0;
    header.dxferp = nullptr;
  }
  header.timeout = KernelTimeoutMs(*request, rehearsal_rate_);
  // A short answer must never leave the previous answer's bytes behind.
  if (header.dxfer_direction == SG_DXFER_FROM_DEV) std::memset(header.dxferp, 0, header.dxfer_len);
  header.usr_ptr = held.get();

  request->SRB_Status = SS_PENDING;
  ssize_t written;
  do {
    written = ::write(device->fd, &header, sizeof header);
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    SgAnswer answer;
    answer.os_error = errno;
    if (answer.os_error == ENODEV) device->gone = true;
    const BYTE status = TranslateSgAnswer(answer, request);
    return end_now(status);
  }
  held_.push_back(std::move(held));
  return SS_PENDING;
}

void SgAspi::DrainAnswers(int fd, const SRB_ExecSCSICmd* watched) {
  for (;;) {
    if (watched != nullptr && watched->SRB_Status != SS_PENDING) return;
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    const ssize_t got = ::read(fd, &header, sizeof header);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return;
      // The device is gone (or broken): the answers it owes never come.
      const int err = errno;
      for (const auto& held : held_) {
        if (held->device->fd == fd) {
          held->device->gone = true;
          EndAllOn(*held->device, err);
          break;
        }
      }
      return;
    }
    auto it = std::find_if(held_.begin(), held_.end(),
                           [&header](const auto& h) { return h.get() == header.usr_ptr; });
    if (it == held_.end()) continue;  // not one of ours (never expected)
    Held& held = **it;
    // Only what the drive sent counts: the rest of the area stays cleared.
    SRB_ExecSCSICmd* request = held.request;
    if ((request->SRB_Flags & SRB_DIR_IN) != 0 && request->SRB_BufPointer != nullptr &&
        header.resid > 0 && static_cast<DWORD>(header.resid) <= request->SRB_BufLen) {
      const DWORD sent = request->SRB_BufLen - static_cast<DWORD>(header.resid);
      std::memset(request->SRB_BufPointer + sent, 0, static_cast<DWORD>(header.resid));
    }
    SgAnswer answer;
    answer.status = header.status;
    answer.host_status = header.host_status;
    answer.driver_status = header.driver_status;
    answer.sense_length = header.sb_len_wr;
    std::memcpy(answer.sense, held.sense, sizeof answer.sense);
    EndRequest(held, answer);
  }
}

void SgAspi::WaitUntil(const SRB_ExecSCSICmd* watched, std::int64_t deadline_ns) {
  for (;;) {
    if (watched != nullptr && watched->SRB_Status != SS_PENDING) return;
    const std::int64_t now = MonotonicNs();
    if (now >= deadline_ns) return;

    std::vector<pollfd> fds;
    for (const auto& held : held_) {
      const int fd = held->device->fd;
      if (fd < 0) continue;
      if (std::none_of(fds.begin(), fds.end(), [fd](const pollfd& p) { return p.fd == fd; })) {
        fds.push_back(pollfd{fd, POLLIN, 0});
      }
    }
    if (fds.empty()) {
      SleepUntilNs(deadline_ns);
      return;
    }
    const std::int64_t left = deadline_ns - now;
    timespec timeout;
    timeout.tv_sec = static_cast<time_t>(left / 1000000000);
    timeout.tv_nsec = static_cast<long>(left % 1000000000);
    const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (ready <= 0) continue;
    for (const pollfd& p : fds) {
      if (p.revents != 0) DrainAnswers(p.fd, watched);
    }
  }
}

void SgAspi::StartInhibit() {
  if (inhibit_tried_) return;
  inhibit_tried_ = true;
  const bool reachable = ::access("/run/systemd/system", F_OK) == 0 &&
                         ::access("/run/dbus/system_bus_socket", F_OK) == 0 &&
                         ExecutableOnPath("systemd-inhibit");
  if (!reachable) {
    NoteOnce("inhibit",
             "note: sleep and shutdown are not held off during the firmware write "
             "(systemd-logind is not reachable); keep this computer awake");
    return;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The lock lasts as long as `cat` reads: closing our end releases it.
    // Out of the terminal's process group, and deaf to its signals: Ctrl-C
    // or a closed terminal must not end the inhibitor while the program
    // holds the write.
    ::setpgid(0, 0);
    for (int s : {SIGINT, SIGQUIT, SIGHUP}) ::signal(s, SIG_IGN);
    ::dup2(fds[0], 0);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1);
    ::execlp("systemd-inhibit", "systemd-inhibit", "--what=sleep:shutdown", "--who=quorvanta",
             "--why=drive firmware is being written", "--mode=block", "cat",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[0]);
  if (pid < 0) {
    ::close(fds[1]);
    return;
  }
  inhibitor_ = pid;
  inhibitor_pipe_ = fds[1];
}

void SgAspi::StopInhibit() {
  if (inhibitor_pipe_ >= 0) ::close(inhibitor_pipe_);
  inhibitor_pipe_ = -1;
  if (inhibitor_ > 0) {
    int status = 0;
    ::waitpid(inhibitor_, &status, 0);
  }
  inhibitor_ = -1;
}

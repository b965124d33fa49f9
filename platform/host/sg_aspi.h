// The aspi group on this host: drives reached through the kernel's SCSI
// generic driver (/dev/sg*, the sg v3 interface).
//
// Addresses: the adapters are the SCSI hosts that carry a CD/DVD device
// (peripheral type 5), numbered from 0 in ascending host number (at most 8);
// the target is the device's SCSI id (0..7); LUN 0 only. The list is read
// afresh each time the adapter count is asked for, since a USB drive that
// restarts comes back as a new node, often on a new host.
//
// Requests: Send writes an sg_io_hdr to the device (write(), never the
// blocking SG_IO) and the record stays SS_PENDING. Answers are read only
// inside WaitUntil, which the clock's waits call: it sleeps in ppoll() on
// the devices that owe answers until one arrives or the deadline passes, with
// no periodic wake-ups, sets the record's fields as an ASPI layer does
// (TranslateSgAnswer), then its status, then runs its completion routine.
//
// Access: nodes are opened O_RDWR | O_NONBLOCK. The first command that writes
// into a drive (WRITE BUFFER, vendor 0xCD) reopens its node O_EXCL, kept so
// for the rest of the run, so that a second program cannot write into it at
// the same time; while that is held, sleep and shutdown are inhibited through
// systemd-logind when it is reachable. Problems the user can fix (permission
// denied, another program holding the drive, no logind) are told once each,
// as one line, through the note callback, and so is a first scan that finds
// no CD/DVD node at all.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/aspi.h"
#include "platform/host/sg_answer.h"

// The clock's waits hand their deadline here, so that answers are read while
// the program waits and the wait ends as soon as the watched request has.
class CompletionPump {
 public:
  virtual ~CompletionPump() = default;
  // Returns when `watched` (may be null) has left SS_PENDING or the
  // CLOCK_MONOTONIC nanosecond `deadline_ns` has passed.
  virtual void WaitUntil(const SRB_ExecSCSICmd* watched, std::int64_t deadline_ns) = 0;
};

std::int64_t MonotonicNs();  // CLOCK_MONOTONIC in ns, the time base of WaitUntil
void SleepUntilNs(std::int64_t deadline_ns);

// One sg node that passed the checks: open, sg v3, type 5, LUN 0, id 0..7.
struct SgDevice;

// How host numbers become adapter numbers: the distinct hosts in ascending
// order, at most `limit`; returns the adapter of each host in `hosts`
// (-1 for a host beyond the limit).
std::vector<int> AdapterNumbers(const std::vector<int>& hosts, int limit);

class SgAspi final : public AspiLayer, public CompletionPump {
 public:
  using Note = std::function<void(const std::string&)>;
  // `sysfs_dir` lists the sg class (normally /sys/class/scsi_generic),
  // `dev_dir` holds the nodes (normally /dev). Nothing is opened until the
  // adapter count is asked for.
  // `open` opens a node as open(2) does (tests stand in for the kernel's
  // refusals with it); null is open(2) itself.
  using Open = int (*)(const char* path, int flags);
  SgAspi(std::string sysfs_dir, std::string dev_dir, Note note, Open open = nullptr);
  ~SgAspi() override;
  SgAspi(const SgAspi&) = delete;
  SgAspi& operator=(const SgAspi&) = delete;

  // Re-reads the device list; the adapter count with SS_COMP, or 0 ("no
  // adapter") when no CD/DVD device is reachable.
  DWORD SupportInfo() override;
  DWORD Send(SRB_ExecSCSICmd* request) override;
  bool Holds(const SRB_ExecSCSICmd* request) const override;
  // What the last scan found: nodes refused or held by another program
  // first (one of them may be the drive), then no node at all, then the
  // nodes of every kind that are there.
  ScanFindings Findings() const override;
  void WaitUntil(const SRB_ExecSCSICmd* watched, std::int64_t deadline_ns) override;
  // The program's clock runs this many times as fast as the wall clock.
  void set_rehearsal_rate(std::uint32_t rate) { rehearsal_rate_ = rate != 0 ? rate : 1; }

  // The node at an address ("" when none), for the tests and the notes.
  std::string NodeAt(int adapter, int target) const;
  // The kernel's host:channel:target:lun of the device at an address ("" when
  // none), so that a user can find the drive in the kernel's own lists.
  std::string KernelAddressAt(int adapter, int target) const;

 private:
  struct Held;
  void Rescan();
  std::shared_ptr<SgDevice> OpenNode(const std::string& name);
  bool MakeExclusive(SgDevice& device);
  void EndRequest(Held& held, const SgAnswer& answer);
  void EndAllOn(const SgDevice& device, int os_error);
  // Reads the answers waiting on `fd`, until `watched` (may be null) has ended.
  void DrainAnswers(int fd, const SRB_ExecSCSICmd* watched);
  void NoteOnce(const std::string& key, const std::string& text);
  // After the first scan found no drive: why, when no node of the CD/DVD
  // type exists at all (a refused node has told its own line already).
  void ExplainNoDrive();
  void StartInhibit();
  void StopInhibit();

  std::string sysfs_dir_;
  std::string dev_dir_;
  Note note_;
  Open open_;
  std::uint32_t rehearsal_rate_ = 1;
  // The last scan's count of nodes (of every kind), and of CD/DVD nodes
  // refused for permission and held by another program.
  int nodes_seen_ = 0;
  int nodes_refused_ = 0;
  int nodes_busy_ = 0;
  std::set<std::string> noted_;
  std::vector<std::shared_ptr<SgDevice>> devices_;
  std::shared_ptr<SgDevice> address_[8][8];
  int adapter_count_ = 0;
  std::vector<std::unique_ptr<Held>> held_;
  pid_t inhibitor_ = -1;
  int inhibitor_pipe_ = -1;
  bool inhibit_tried_ = false;
  bool scanned_ = false;
};

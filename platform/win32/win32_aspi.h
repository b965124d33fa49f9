// The aspi group on Windows.
//
// With wnaspi32.dll installed (found where LoadLibrary looks: the program's
// folder first, then the system folders) its two cdecl entry points serve
// every request as they always have. Without it the layer speaks the SCSI
// pass-through interface itself: each CD-ROM device (\\.\CdRom0, 1, ...)
// that opens is asked for its SCSI address, host adapters are numbered in
// the order of their (port, path) pairs as the ASPI layer numbers them, and
// each request runs on a thread of its own through
// IOCTL_SCSI_PASS_THROUGH_DIRECT, ending with the same statuses, target
// status and sense an ASPI layer gives.
//
// Either way the layer stands in front of the caller's completion routine:
// it keeps the record's routine, hands the system its own, and when the
// command ends it puts the caller's routine back, runs it once, and sets the
// completion event the clock's waits sleep on. So Holds() is exact even
// though the system's ASPI knows nothing of it.
#pragma once

#include <map>

#include "platform/aspi.h"
#include "platform/win32/win32_api.h"

class Win32Aspi final : public AspiLayer {
 public:
  // Loads wnaspi32.dll or opens the pass-through devices. One per process.
  Win32Aspi();
  Win32Aspi(const Win32Aspi&) = delete;
  Win32Aspi& operator=(const Win32Aspi&) = delete;

  DWORD SupportInfo() override;
  DWORD Send(SRB_ExecSCSICmd* request) override;
  bool Holds(const SRB_ExecSCSICmd* request) const override;
  int DevicesRefused() const override { return refused_; }

  bool uses_wnaspi32() const { return send_ != nullptr; }
  // The pass-through devices that opened (none with wnaspi32.dll).
  int pass_through_devices() const;
  // True when wnaspi32.dll serves emulated drives that follow a rehearsal
  // clock rate given on the command line (it says so by an export of its
  // own); never for the pass-through or a real ASPI layer.
  bool serves_rehearsal_drives() const { return rehearsal_drives_; }
  // Set (auto-reset) each time a command has ended and its routine has run.
  HANDLE completion_event() const { return completion_event_; }

  // Ends a command whose status is set: the caller's routine, once.
  static void Finish(SRB_ExecSCSICmd* request);

 private:
  struct Held {
    PostProc caller_routine;
    BYTE caller_flags;
    bool finishing;
    unsigned ticket;  // which command the record carries now (never 0)
  };
  struct ThreadStart {
    SRB_ExecSCSICmd* request;
    unsigned ticket;
  };
  struct PassThroughDevice {
    HANDLE handle;
    int adapter;
    int target;
    bool gone;  // a command failed on it: the device is looked for anew
                // (handle closed, nullptr, once no command holds it)
  };
  static void Posted(SRB_ExecSCSICmd* request);
  static DWORD QV_WINAPI PassThroughThread(void* request);
  // Finish for the command `ticket` only (0: whichever the record carries);
  // called for the record by another thread while the command's own thread
  // runs the routine, it returns once that is done.
  static void FinishHeld(SRB_ExecSCSICmd* request, unsigned ticket);
  // close_gone: the devices marked gone are closed first (no command holds
  // them).
  void OpenPassThroughDevices(bool close_gone);
  HANDLE DeviceAt(int adapter, int target) const;
  void MarkGone(HANDLE device);
  // True when the device at the address went away and the request being
  // sent is the only one held.
  bool GoneOnlyOneHeld(int adapter, int target) const;
  bool Idle() const;

  using SupportInfoEntry = DWORD (*)();
  using SendEntry = DWORD (*)(SRB_ExecSCSICmd*);
  SupportInfoEntry support_info_ = nullptr;
  SendEntry send_ = nullptr;
  std::map<int, PassThroughDevice> devices_;       // by adapter * 8 + target
  std::map<std::pair<int, int>, int> adapter_of_;  // (port, path) -> adapter
  int adapter_count_ = 0;
  int refused_ = 0;         // devices there but denied for lack of rights
  bool first_look_ = true;  // the devices the constructor opened are still fresh
  HANDLE completion_event_ = nullptr;
  bool rehearsal_drives_ = false;
  mutable win32::CriticalSection lock_ = {};
  std::map<const SRB_ExecSCSICmd*, Held> held_;
  unsigned tickets_ = 0;
};

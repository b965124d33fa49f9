#include "platform/win32/win32_aspi.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "platform/win32/scsi_pass_through.h"

namespace {

Win32Aspi* g_layer = nullptr;

constexpr BYTE kDataOut = 0;
constexpr BYTE kDataIn = 1;
constexpr BYTE kDataUnspecified = 2;
// Longer than any command of an update (a save over ATAPI takes 30 s); the
// caller's own waits give up earlier and leave the record held until then.
constexpr DWORD kPassThroughTimeoutSeconds = 120;
constexpr BYTE kHostAdapterError = 0x11;
// A device that is there but may not be opened for reading and writing:
// since Vista, \\.\CdRomN without administrator rights.
constexpr DWORD kErrorAccessDenied = 5;

struct PassThroughWithSense {
  ScsiPassThroughDirect command;
  DWORD filler;
  BYTE sense[32];
};

constexpr int kMaxCdromDevices = 26;
constexpr int kMaxAdapters = 8;
constexpr int kMaxTargets = 8;

}  // namespace

Win32Aspi::Win32Aspi() {
  g_layer = this;
  win32::InitializeCriticalSection(&lock_);
  completion_event_ = win32::CreateEventA(nullptr, 0, 0, nullptr);
  HINSTANCE library = win32::LoadLibraryA("wnaspi32.dll");
  if (library != nullptr) {
    support_info_ =
        reinterpret_cast<SupportInfoEntry>(win32::GetProcAddress(library, "GetASPI32SupportInfo"));
    send_ = reinterpret_cast<SendEntry>(win32::GetProcAddress(library, "SendASPI32Command"));
    rehearsal_drives_ = win32::GetProcAddress(library, "QvRehearsalDrives") != nullptr;
    if (support_info_ == nullptr || send_ == nullptr) {
      support_info_ = nullptr;
      send_ = nullptr;
      rehearsal_drives_ = false;
    }
  }
  if (send_ == nullptr) OpenPassThroughDevices(false);
}

// Opens the CD-ROM devices not open yet. A drive that restarted (its
// firmware loaded) or was plugged in again is a new device to the system:
// the handle opened before leads nowhere and is marked gone at its first
// failure, and every later command to its address looks for it anew until it
// is back (Windows may take seconds to enumerate a USB drive again, several
// scan passes). Adapter numbers, once given to a (port, path) pair, stay, so
// the drive keeps its address; pairs seen for the first time are numbered
// after the others, in their order.
void Win32Aspi::OpenPassThroughDevices(bool close_gone) {
  if (close_gone) {
    // Closed before the look: the system may give the device back under its
    // old name only once nothing holds the old one open. The address stays
    // known as gone, so that the next command to it looks again.
    win32::Locked locked(&lock_);
    for (auto& each : devices_) {
      if (!each.second.gone || each.second.handle == nullptr) continue;
      win32::CloseHandle(each.second.handle);
      each.second.handle = nullptr;
    }
  }
  struct Found {
    HANDLE handle;
    ScsiAddress address;
  };
  std::vector<Found> found;
  std::set<std::pair<int, int>> paths;
  int refused = 0;
  for (int n = 0; n < kMaxCdromDevices; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\CdRom%d", n);
    HANDLE device = win32::CreateFileA(name, win32::GENERIC_READ | win32::GENERIC_WRITE,
                                       win32::FILE_SHARE_READ | win32::FILE_SHARE_WRITE, nullptr,
                                       win32::OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
      if (win32::GetLastError() == kErrorAccessDenied) ++refused;
      continue;
    }
    ScsiAddress address = {};
    address.Length = sizeof address;
    DWORD returned = 0;
    if (!win32::DeviceIoControl(device, kIoctlScsiGetAddress, nullptr, 0, &address, sizeof address,
                                &returned, nullptr) ||
        address.TargetId >= kMaxTargets) {
      win32::CloseHandle(device);
      continue;
    }
    found.push_back({device, address});
    paths.insert({address.PortNumber, address.PathId});
  }
  win32::Locked locked(&lock_);
  refused_ = refused;
  for (const auto& path : paths) {
    if (adapter_of_.count(path) == 0) {
      const int next = static_cast<int>(adapter_of_.size());
      adapter_of_[path] = next;
    }
  }
  for (const Found& each : found) {
    const int number = adapter_of_[{each.address.PortNumber, each.address.PathId}];
    const int key = number * kMaxTargets + each.address.TargetId;
    auto at = devices_.find(key);
    if (number >= kMaxAdapters || (at != devices_.end() && !at->second.gone)) {
      win32::CloseHandle(each.handle);
      continue;
    }
    // A gone handle still here may be held by a running command: left open.
    devices_[key] = PassThroughDevice{each.handle, number, each.address.TargetId, false};
  }
  const int adapters = static_cast<int>(adapter_of_.size());
  adapter_count_ = adapters > kMaxAdapters ? kMaxAdapters : adapters;
}

HANDLE Win32Aspi::DeviceAt(int adapter, int target) const {
  win32::Locked locked(&lock_);
  auto found = devices_.find(adapter * kMaxTargets + target);
  return found == devices_.end() || found->second.gone ? nullptr : found->second.handle;
}

void Win32Aspi::MarkGone(HANDLE device) {
  win32::Locked locked(&lock_);
  for (auto& each : devices_) {
    if (device != nullptr && each.second.handle == device) each.second.gone = true;
  }
}

int Win32Aspi::pass_through_devices() const {
  win32::Locked locked(&lock_);
  int open = 0;
  for (const auto& each : devices_) open += each.second.gone ? 0 : 1;
  return open;
}

bool Win32Aspi::Idle() const {
  win32::Locked locked(&lock_);
  return held_.empty();
}

bool Win32Aspi::GoneOnlyOneHeld(int adapter, int target) const {
  win32::Locked locked(&lock_);
  auto found = devices_.find(adapter * kMaxTargets + target);
  return found != devices_.end() && found->second.gone && held_.size() == 1;
}

DWORD Win32Aspi::SupportInfo() {
  if (support_info_ != nullptr) return support_info_();
  // Asked again (the program does once a drive is back after its restart),
  // the devices that appeared since are opened, as an ASPI layer looks at
  // its buses anew.
  if (!first_look_) OpenPassThroughDevices(Idle());
  first_look_ = false;
  // Pass-through needs no driver of its own: it works whenever a device
  // opened, and says so the way ASPI does.
  return static_cast<DWORD>(adapter_count_) |
         (static_cast<DWORD>(adapter_count_ > 0 ? SS_COMP : SS_NO_ADAPTERS) << 8);
}

bool Win32Aspi::Holds(const SRB_ExecSCSICmd* request) const {
  win32::Locked locked(&lock_);
  return held_.count(request) != 0;
}

void Win32Aspi::Posted(SRB_ExecSCSICmd* request) { Finish(request); }

void Win32Aspi::Finish(SRB_ExecSCSICmd* request) { FinishHeld(request, 0); }

void Win32Aspi::FinishHeld(SRB_ExecSCSICmd* request, unsigned ticket) {
  Win32Aspi* layer = g_layer;
  Held held;
  for (;;) {
    {
      win32::Locked locked(&layer->lock_);
      auto found = layer->held_.find(request);
      // Ended already, or (for a command's own thread) the record now holds
      // a newer command: nothing of this one is left to do.
      if (found == layer->held_.end() || (ticket != 0 && found->second.ticket != ticket)) return;
      if (!found->second.finishing) {
        found->second.finishing = true;
        held = found->second;
        request->SRB_PostProc = held.caller_routine;
        request->SRB_Flags = held.caller_flags;
        break;
      }
      // The command's own thread is finishing it: it alone runs the routine.
      if (ticket != 0) return;
    }
    // The caller reads what the routine stores, and may reuse the record, as
    // soon as this returns: wait until the other thread is done with it.
    win32::Sleep(1);
  }
  if (held.caller_routine != nullptr && (held.caller_flags & SRB_POSTING) != 0) {
    held.caller_routine(request);
  }
  {
    win32::Locked locked(&layer->lock_);
    layer->held_.erase(request);
  }
  win32::SetEvent(layer->completion_event_);
}

DWORD QV_WINAPI Win32Aspi::PassThroughThread(void* parameter) {
  auto* started = static_cast<ThreadStart*>(parameter);
  SRB_ExecSCSICmd* request = started->request;
  const unsigned ticket = started->ticket;
  delete started;
  HANDLE device = g_layer->DeviceAt(request->SRB_HaId, request->SRB_Target);
  PassThroughWithSense record = {};
  ScsiPassThroughDirect& command = record.command;
  command.Length = sizeof command;
  command.TargetId = request->SRB_Target;
  command.CdbLength = request->SRB_CDBLen;
  command.SenseInfoLength = SENSE_LEN;
  command.DataIn = (request->SRB_Flags & SRB_DIR_IN) != 0    ? kDataIn
                   : (request->SRB_Flags & SRB_DIR_OUT) != 0 ? kDataOut
                                                             : kDataUnspecified;
  command.DataTransferLength = request->SRB_BufLen;
  command.TimeOutValue = kPassThroughTimeoutSeconds;
  command.DataBuffer = request->SRB_BufLen != 0 ? request->SRB_BufPointer : nullptr;
  command.SenseInfoOffset = offsetof(PassThroughWithSense, sense);
  std::memcpy(command.Cdb, request->CDBByte, sizeof command.Cdb);
  DWORD returned = 0;
  const BOOL sent =
      win32::DeviceIoControl(device, kIoctlScsiPassThroughDirect, &record, sizeof record, &record,
                             sizeof record, &returned, nullptr);
  BYTE status = SS_COMP;
  if (!sent) {
    g_layer->MarkGone(device);
    request->SRB_HaStat = kHostAdapterError;
    status = SS_ERR;
  } else if (command.ScsiStatus != STATUS_GOOD) {
    request->SRB_TargStat = command.ScsiStatus;
    if (command.ScsiStatus == STATUS_CHKCOND) {
      std::memcpy(request->SenseArea, record.sense, SENSE_LEN);
    }
    status = SS_ERR;
  }
  // The status is set last: the caller reads the answer once it moves.
  reinterpret_cast<volatile BYTE*>(&request->SRB_Status)[0] = status;
  FinishHeld(request, ticket);
  return 0;
}

DWORD Win32Aspi::Send(SRB_ExecSCSICmd* request) {
  unsigned ticket = 0;
  {
    win32::Locked locked(&lock_);
    if (held_.count(request) != 0) return SS_ERR;  // still held: never handed over twice
    ticket = ++tickets_;
    if (ticket == 0) ticket = ++tickets_;
    held_[request] = Held{request->SRB_PostProc, request->SRB_Flags, false, ticket};
    if (request->SRB_Cmd == SC_EXEC_SCSI_CMD) {
      request->SRB_PostProc = Posted;
      request->SRB_Flags = static_cast<BYTE>(request->SRB_Flags | SRB_POSTING);
    }
  }
  request->SRB_Status = SS_PENDING;
  if (send_ != nullptr) {
    DWORD result = send_(request);
    // A request refused at once is not posted by every ASPI layer.
    if (result != SS_PENDING && request->SRB_Status != SS_PENDING) Finish(request);
    return result;
  }
  BYTE immediate = SS_PENDING;
  if (request->SRB_Cmd != SC_EXEC_SCSI_CMD) {
    immediate = SS_INVALID_CMD;
  } else if (request->SRB_Lun == 0 && GoneOnlyOneHeld(request->SRB_HaId, request->SRB_Target)) {
    // The drive at the address went away: it is looked for at every command
    // to it (every scan pass while the program waits for it to come back),
    // when no other command runs.
    OpenPassThroughDevices(true);
  }
  if (immediate != SS_PENDING) {
  } else if (request->SRB_HaId >= adapter_count_) {
    immediate = SS_INVALID_HA;
  } else if (request->SRB_Lun != 0 || DeviceAt(request->SRB_HaId, request->SRB_Target) == nullptr) {
    immediate = SS_NO_DEVICE;
  } else if (request->SRB_CDBLen == 0 || request->SRB_CDBLen > 16) {
    immediate = SS_ERR;
  }
  if (immediate == SS_PENDING) {
    auto* started = new ThreadStart{request, ticket};
    HANDLE thread = win32::CreateThread(nullptr, 0, PassThroughThread, started, 0, nullptr);
    if (thread != nullptr) {
      win32::CloseHandle(thread);
      return SS_PENDING;
    }
    delete started;
    immediate = SS_ERR;
  }
  request->SRB_Status = immediate;
  Finish(request);
  return immediate;
}

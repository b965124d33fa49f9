// A wnaspi32.dll for tests under Wine: the ASPI entry points serve the
// emulated drives of a virtual PC (the same emulator code the virtual PC
// runs), in real time or at the program's rehearsal clock rate, so that a
// whole update runs inside a genuine Windows process. QV_ASPI_MACHINE names
// the virtual PC's directory (a Windows path); its machine.ini gives the
// adapter count and drives/ the drives, whose state is written back there
// as commands end and when the process ends.
//
// Built with QV_PASS_THROUGH_STANDIN it is the SCSI pass-through stand-in
// instead: it exports no ASPI entry points, so the program speaks
// pass-through itself, and its imports of CreateFileA, DeviceIoControl and
// CloseHandle are pointed here. \\.\CdRomN opens the virtual PC's N-th drive
// (in address order), its SCSI address is the drive's, and the
// pass-through commands go to the emulated drive. A drive that restarts is a
// new device, as to Windows: the handles opened before fail every command
// from then on; with QV_PASS_THROUGH_AWAY=N the drive, once back, does not
// open for N more looks (a USB drive that Windows enumerates again late).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"
#include "platform/sim/emulated_drive.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"
#include "platform/win32/scsi_pass_through.h"
#include "platform/win32/win32_api.h"

// ask_inside_exit.cpp
void AskInsideExitWindows();
void* ReplaceProgramImport(const char* dll, const char* function, void* replacement);

namespace {

// How often the drives' state is written back while image chunks stream in;
// after any other command it is written as soon as nothing is in flight, so
// that a program ended from outside (a shutdown) loses nothing.
constexpr DWORD kSaveEveryMs = 500;

struct ServedDrives {
  win32::CriticalSection lock = {};
  VirtualClock clock{0, false};  // moved on by AdvanceDrives
  DWORD rate = 1;
  std::unique_ptr<SimAspi> aspi;
  std::map<const SRB_ExecSCSICmd*, bool> in_flight;  // true: an image chunk
  bool unsaved = false;
  bool chunks_only = true;  // every unsaved command was an image chunk
  DWORD saved_at = 0;
};
ServedDrives* g_served = nullptr;

#ifdef QV_PASS_THROUGH_STANDIN
// The stand-in's devices, under the served drives' lock.
struct StandInDevice {
  int adapter;
  int target;
  bool present;
  int generation;  // one more at each restart: older handles lead nowhere
  int away;        // looks left before the drive, back, opens again
};
struct StandInHandle {
  int device;
  int generation;
};
std::vector<StandInDevice> g_devices;
std::set<StandInHandle*> g_handles;
int g_away_looks = 0;

// Called as the clock moves: a drive that went away is a new device.
void FollowDevices(ServedDrives* served) {
  for (StandInDevice& device : g_devices) {
    const bool present =
        served->aspi->DriveAt(device.adapter, device.target)->Present(served->clock.Now());
    if (device.present && !present) {
      ++device.generation;
      device.away = g_away_looks;
    }
    device.present = present;
  }
}
#else
void FollowDevices(ServedDrives*) {}
#endif

int AdapterCount(const std::string& machine) {
  std::ifstream ini(machine + "\\machine.ini");
  std::string line;
  while (std::getline(ini, line)) {
    if (line.rfind("adapters=", 0) == 0) return std::atoi(line.c_str() + 9);
  }
  return 1;
}

void SaveIfIdle(ServedDrives* served) {
  for (auto it = served->in_flight.begin(); it != served->in_flight.end();) {
    it = served->aspi->Holds(it->first) ? std::next(it) : served->in_flight.erase(it);
  }
  if (!served->unsaved || !served->in_flight.empty()) return;
  if (served->chunks_only && win32::GetTickCount() - served->saved_at < kSaveEveryMs) return;
  served->aspi->Save();
  served->unsaved = false;
  served->chunks_only = true;
  served->saved_at = win32::GetTickCount();
}

// Moves the emulated drives along with the wall clock, at the rehearsal
// rate the program runs at: commands end, their completion routines run
// here, as on an adapter's own thread.
DWORD QV_WINAPI AdvanceDrives(void* parameter) {
  auto* served = static_cast<ServedDrives*>(parameter);
  const DWORD origin = win32::GetTickCount();
  for (;;) {
    win32::Sleep(1);
    win32::Locked locked(&served->lock);
    const std::uint64_t due =
        static_cast<std::uint64_t>(win32::GetTickCount() - origin) * served->rate;
    const std::uint64_t now = served->clock.Now();
    if (due > now) served->clock.Advance(due - now);
    FollowDevices(served);
    SaveIfIdle(served);
  }
}

// The program's own "--rehearsal-clock-rate N" (this DLL lives in its
// process): the drives keep time with its clock. 1 when not given.
DWORD RehearsalRate() {
  const std::string line = win32::GetCommandLineA();
  static constexpr char kOption[] = "--rehearsal-clock-rate ";
  const std::size_t at = line.find(kOption);
  if (at == std::string::npos) return 1;
  const unsigned long rate = std::strtoul(line.c_str() + at + sizeof kOption - 1, nullptr, 10);
  return rate >= 1 && rate <= 1000 ? static_cast<DWORD>(rate) : 1;
}

ServedDrives* Served() {
  if (g_served != nullptr) return g_served;
  auto* served = new ServedDrives();
  win32::InitializeCriticalSection(&served->lock);
  const char* machine = std::getenv("QV_ASPI_MACHINE");
  std::string error;
  if (machine != nullptr) {
    served->aspi = SimAspi::Load(machine, AdapterCount(machine), &served->clock, &error);
  }
  served->rate = RehearsalRate();
  if (served->aspi) {
    served->aspi->PowerOn();
#ifdef QV_PASS_THROUGH_STANDIN
    for (int a = 0; a < 8; ++a) {
      for (int t = 0; t < 8; ++t) {
        if (served->aspi->DriveAt(a, t) != nullptr) g_devices.push_back({a, t, true, 0, 0});
      }
    }
    if (const char* away = std::getenv("QV_PASS_THROUGH_AWAY")) g_away_looks = std::atoi(away);
    FollowDevices(served);
#endif
    win32::CreateThread(nullptr, 0, AdvanceDrives, served, 0, nullptr);
  }
  g_served = served;
  return served;
}

// What an ASPI layer checks before it takes a request, read at the published
// offsets of the 32-bit record rather than through the program's own header,
// so that a field the program puts in the wrong place is caught here. A
// request that does not fit its command is failed with SS_INVALID_SRB, as a
// real ASPI layer fails it; nullptr when it fits.
constexpr BYTE kInvalidSrb = 0xE0;
const char* Misfit(const SRB_ExecSCSICmd* request) {
  const auto* raw = reinterpret_cast<const BYTE*>(request);
  const BYTE flags = raw[3];
  DWORD buffer_length = 0;
  std::memcpy(&buffer_length, raw + 12, sizeof buffer_length);
  const BYTE sense_length = raw[20];
  const BYTE cdb_length = raw[21];
  const BYTE opcode = raw[48];
  // At least the length of the command's group (the vendor groups, 6 and 7,
  // are the drive's own 10-byte commands); longer only as an ATAPI packet
  // is padded, to 12 bytes.
  constexpr BYTE kGroupLength[8] = {6, 10, 10, 12, 16, 12, 10, 10};
  const BYTE needed = kGroupLength[opcode >> 5];
  const BYTE longest = needed == 16 ? 16 : 12;
  if (cdb_length < needed || cdb_length > longest) return "CDB length does not fit the command";
  // Fixed-format sense up to its qualifier, no more than the record holds.
  if (sense_length < 14 || sense_length > SENSE_LEN + 2) return "sense length does not fit";
  const BYTE direction = flags & (SRB_DIR_IN | SRB_DIR_OUT);
  if (direction == (SRB_DIR_IN | SRB_DIR_OUT)) return "both direction bits";
  if (buffer_length == 0) return nullptr;
  // The commands that carry data to the drive: WRITE BUFFER and the vendor
  // load command; every other one with a buffer reads from it.
  const bool data_out = opcode == 0x3B || opcode == 0xCD;
  if (direction != (data_out ? SRB_DIR_OUT : SRB_DIR_IN)) {
    return "direction bits do not fit the command";
  }
  return nullptr;
}

// Hands a request to the emulated drives, noting what is to be saved.
DWORD Serve(ServedDrives* served, SRB_ExecSCSICmd* request) {
  win32::Locked locked(&served->lock);
  constexpr BYTE kWriteBuffer = 0x3B;
  constexpr BYTE kDownloadMode = 0x06;
  const bool chunk =
      request->CDBByte[0] == kWriteBuffer && (request->CDBByte[1] & 0x1F) == kDownloadMode;
  DWORD result = served->aspi->Send(request);
  served->in_flight[request] = chunk;
  served->unsaved = true;
  served->chunks_only = served->chunks_only && chunk;
  return result;
}

#ifdef QV_PASS_THROUGH_STANDIN
using CreateFileFn = HANDLE(QV_WINAPI*)(const char*, DWORD, DWORD, win32::SecurityAttributes*,
                                        DWORD, DWORD, HANDLE);
using DeviceIoControlFn = BOOL(QV_WINAPI*)(HANDLE, DWORD, void*, DWORD, void*, DWORD, DWORD*,
                                           win32::Overlapped*);
using CloseHandleFn = BOOL(QV_WINAPI*)(HANDLE);
CreateFileFn g_real_create = nullptr;
DeviceIoControlFn g_real_ioctl = nullptr;
CloseHandleFn g_real_close = nullptr;
constexpr DWORD kFileNotFound = 2;
constexpr DWORD kDeviceNotConnected = 1167;

HANDLE QV_WINAPI StandInCreateFile(const char* path, DWORD access, DWORD share,
                                   win32::SecurityAttributes* security, DWORD disposition,
                                   DWORD flags, HANDLE template_file) {
  static constexpr char kPrefix[] = "\\\\.\\CdRom";
  if (std::strncmp(path, kPrefix, sizeof kPrefix - 1) != 0) {
    return g_real_create(path, access, share, security, disposition, flags, template_file);
  }
  ServedDrives* served = Served();
  const int n = std::atoi(path + sizeof kPrefix - 1);
  win32::Locked locked(&served->lock);
  if (n < 0 || n >= static_cast<int>(g_devices.size()) || !g_devices[n].present ||
      g_devices[n].away > 0) {
    if (n >= 0 && n < static_cast<int>(g_devices.size()) && g_devices[n].present) {
      --g_devices[n].away;
    }
    win32::SetLastError(kFileNotFound);
    return INVALID_HANDLE_VALUE;
  }
  auto* handle = new StandInHandle{n, g_devices[n].generation};
  g_handles.insert(handle);
  return handle;
}

BOOL QV_WINAPI StandInCloseHandle(HANDLE handle) {
  ServedDrives* served = Served();
  {
    win32::Locked locked(&served->lock);
    if (g_handles.erase(static_cast<StandInHandle*>(handle)) != 0) {
      delete static_cast<StandInHandle*>(handle);
      return 1;
    }
  }
  return g_real_close(handle);
}

BOOL QV_WINAPI StandInDeviceIoControl(HANDLE handle, DWORD code, void* in, DWORD in_size, void* out,
                                      DWORD out_size, DWORD* returned,
                                      win32::Overlapped* overlapped) {
  ServedDrives* served = Served();
  StandInDevice device{};
  bool ours = false;
  bool stale = false;
  {
    win32::Locked locked(&served->lock);
    const auto found = g_handles.find(static_cast<StandInHandle*>(handle));
    if (found != g_handles.end()) {
      ours = true;
      device = g_devices[(*found)->device];
      stale = !device.present || device.generation != (*found)->generation;
    }
  }
  if (!ours) return g_real_ioctl(handle, code, in, in_size, out, out_size, returned, overlapped);
  if (stale) {
    win32::SetLastError(kDeviceNotConnected);
    return 0;
  }
  if (code == kIoctlScsiGetAddress && out_size >= sizeof(ScsiAddress)) {
    auto* address = static_cast<ScsiAddress*>(out);
    *address = ScsiAddress{sizeof(ScsiAddress), static_cast<BYTE>(device.adapter), 0,
                           static_cast<BYTE>(device.target), 0};
    if (returned != nullptr) *returned = sizeof(ScsiAddress);
    return 1;
  }
  if (code != kIoctlScsiPassThroughDirect || in_size < sizeof(ScsiPassThroughDirect)) {
    win32::SetLastError(1);  // ERROR_INVALID_FUNCTION
    return 0;
  }
  auto* command = static_cast<ScsiPassThroughDirect*>(in);
  SRB_ExecSCSICmd request{};
  request.SRB_Cmd = SC_EXEC_SCSI_CMD;
  request.SRB_HaId = static_cast<BYTE>(device.adapter);
  request.SRB_Target = static_cast<BYTE>(device.target);
  request.SRB_Flags = command->DataIn == 1 ? SRB_DIR_IN : command->DataIn == 0 ? SRB_DIR_OUT : 0;
  request.SRB_BufLen = command->DataTransferLength;
  request.SRB_BufPointer = static_cast<BYTE*>(command->DataBuffer);
  request.SRB_SenseLen = SENSE_LEN;
  request.SRB_CDBLen = command->CdbLength;
  std::memcpy(request.CDBByte, command->Cdb, sizeof request.CDBByte);
  if (const char* why = Misfit(&request)) {
    std::fprintf(stderr, "pass-through: command %02X refused: %s\n", request.CDBByte[0], why);
    win32::SetLastError(87);  // ERROR_INVALID_PARAMETER
    return 0;
  }
  Serve(served, &request);
  for (;;) {
    {
      win32::Locked locked(&served->lock);
      if (request.SRB_Status != SS_PENDING) break;
    }
    win32::Sleep(1);
  }
  if (request.SRB_Status == SS_NO_DEVICE || request.SRB_HaStat != 0) {
    win32::SetLastError(kDeviceNotConnected);
    return 0;
  }
  command->ScsiStatus = request.SRB_TargStat;
  if (request.SRB_TargStat == STATUS_CHKCOND) {
    std::memcpy(static_cast<BYTE*>(in) + command->SenseInfoOffset, request.SenseArea,
                std::min<std::size_t>(command->SenseInfoLength, SENSE_LEN));
  }
  if (returned != nullptr) *returned = in_size;
  return 1;
}

void PointImportsHere() {
  g_real_create = reinterpret_cast<CreateFileFn>(ReplaceProgramImport(
      "kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&StandInCreateFile)));
  g_real_ioctl = reinterpret_cast<DeviceIoControlFn>(ReplaceProgramImport(
      "kernel32.dll", "DeviceIoControl", reinterpret_cast<void*>(&StandInDeviceIoControl)));
  g_real_close = reinterpret_cast<CloseHandleFn>(ReplaceProgramImport(
      "kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&StandInCloseHandle)));
}
#endif

}  // namespace

// The emulated drives keep their state with the host's atomic replace; this
// DLL runs on Windows, where a rename over the old file replaces it whole
// (MoveFileEx with MOVEFILE_REPLACE_EXISTING, as the C++ library does it).
bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                           std::string* error) {
  std::filesystem::path temp = file;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      if (error != nullptr) *error = "cannot write " + temp.string();
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, file, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    if (error != nullptr) *error = "cannot replace " + file.string();
    return false;
  }
  return true;
}

// The emulator's reads of its drive files, on Windows.
bool ReadRegularFile(const std::filesystem::path& path, std::string* bytes, std::string* error,
                     bool* missing, std::size_t max_size) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (missing != nullptr) *missing = !std::filesystem::exists(status);
  if (!std::filesystem::is_regular_file(status)) {
    if (error != nullptr) *error = "not a regular file: " + path.string();
    return false;
  }
  if (std::filesystem::file_size(path, ec) > max_size) {
    if (error != nullptr) *error = "too large: " + path.string();
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    if (error != nullptr) *error = "cannot read " + path.string();
    return false;
  }
  *bytes = text.str();
  return true;
}

namespace exports {
extern "C" {
#ifndef QV_PASS_THROUGH_STANDIN

__declspec(dllexport) DWORD GetASPI32SupportInfo() {
  ServedDrives* served = Served();
  if (!served->aspi) return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
  win32::Locked locked(&served->lock);
  return served->aspi->SupportInfo();
}

__declspec(dllexport) DWORD SendASPI32Command(SRB_ExecSCSICmd* request) {
  ServedDrives* served = Served();
  if (!served->aspi) {
    request->SRB_Status = SS_NO_DEVICE;
    return SS_NO_DEVICE;
  }
  if (request->SRB_Cmd == SC_EXEC_SCSI_CMD) {
    if (const char* why = Misfit(request)) {
      std::fprintf(stderr, "wnaspi32: request for opcode %02X refused: %s\n", request->CDBByte[0],
                   why);
      request->SRB_Status = kInvalidSrb;
      return kInvalidSrb;
    }
  }
  return Serve(served, request);
}

// Tells the program that these drives follow its rehearsal clock rate.
__declspec(dllexport) DWORD QvRehearsalDrives() { return Served()->rate; }
#endif

BOOL QV_WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  constexpr DWORD kProcessDetach = 0;
  constexpr DWORD kProcessAttach = 1;
  if (reason == kProcessAttach) AskInsideExitWindows();
#ifdef QV_PASS_THROUGH_STANDIN
  if (reason == kProcessAttach) PointImportsHere();
#endif
  if (reason == kProcessDetach && g_served != nullptr && g_served->aspi) g_served->aspi->Save();
  return 1;
}

}  // extern "C"
}  // namespace exports

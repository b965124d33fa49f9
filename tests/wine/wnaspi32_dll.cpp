// A wnaspi32.dll for tests under Wine: the ASPI entry points serve the
// emulated drives of a virtual PC (the same emulator code the virtual PC
// runs), in real time, so that a whole update runs inside a genuine Windows
// process. QV_ASPI_MACHINE names the virtual PC's directory (a Windows path);
// its machine.ini gives the adapter count and drives/ the drives, whose state
// is written back there as commands end and when the process ends.
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"
#include "platform/win32/win32_api.h"

namespace {

// How often the drives' state is written back while image chunks stream in;
// after any other command it is written as soon as nothing is in flight, so
// that a program ended from outside (a shutdown) loses nothing.
constexpr DWORD kSaveEveryMs = 500;

struct ServedDrives {
  win32::CriticalSection lock = {};
  VirtualClock clock{0, true};
  std::unique_ptr<SimAspi> aspi;
  std::map<const SRB_ExecSCSICmd*, bool> in_flight;  // true: an image chunk
  bool unsaved = false;
  bool chunks_only = true;  // every unsaved command was an image chunk
  DWORD saved_at = 0;
};
ServedDrives* g_served = nullptr;

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

// Moves the emulated drives along with the wall clock: commands end, their
// completion routines run here, as on an adapter's own thread.
DWORD QV_WINAPI AdvanceDrives(void* parameter) {
  auto* served = static_cast<ServedDrives*>(parameter);
  for (;;) {
    win32::Sleep(1);
    win32::Locked locked(&served->lock);
    served->clock.TickCount();
    SaveIfIdle(served);
  }
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
  if (served->aspi) {
    served->aspi->PowerOn();
    win32::CreateThread(nullptr, 0, AdvanceDrives, served, 0, nullptr);
  }
  g_served = served;
  return served;
}

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
                     bool* missing) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (missing != nullptr) *missing = !std::filesystem::exists(status);
  if (!std::filesystem::is_regular_file(status)) {
    if (error != nullptr) *error = "not a regular file: " + path.string();
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

BOOL QV_WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  constexpr DWORD kProcessDetach = 0;
  if (reason == kProcessDetach && g_served != nullptr && g_served->aspi) g_served->aspi->Save();
  return 1;
}

}  // extern "C"
}  // namespace exports

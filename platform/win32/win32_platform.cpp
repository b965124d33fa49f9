#include "platform/win32/win32_platform.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/events.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_aspi.h"
#include "platform/win32/win32_hold.h"

namespace {

constexpr unsigned long kMaxRehearsalRate = 1000;

// Waits never spin: a wait for a command sleeps on the layer's completion
// event (set whenever a command has ended), any other wait sleeps. At a
// rehearsal rate the tick count runs that many times as fast as the
// system's, going on from its reading when the rate was set, and every wait
// shrinks with it.
class Win32Clock final : public Clock {
 public:
  explicit Win32Clock(const Win32Aspi* aspi) : aspi_(aspi) {}
  void SetRehearsalRate(DWORD rate) {
    origin_ = win32::GetTickCount();
    rate_ = rate;
  }
  DWORD TickCount() override { return origin_ + (win32::GetTickCount() - origin_) * rate_; }
  void Wait(const SRB_ExecSCSICmd* request, DWORD ms) override {
    if (request == nullptr) {
      win32::Sleep(Real(ms));
      return;
    }
    const DWORD start = TickCount();
    const volatile BYTE* status = &request->SRB_Status;
    for (;;) {
      if (*status != SS_PENDING) return;
      const DWORD passed = TickCount() - start;
      if (passed >= ms) return;
      // Another command's end also wakes the wait; look again.
      win32::WaitForSingleObject(aspi_->completion_event(), Real(ms - passed));
    }
  }

 private:
  DWORD Real(DWORD ms) const { return ms / rate_ + (ms % rate_ != 0 ? 1 : 0); }

  const Win32Aspi* aspi_;
  DWORD origin_ = 0;
  DWORD rate_ = 1;
};

class Win32System final : public System {
 public:
  DWORD Version() override { return win32::GetVersion(); }
  LANGID UserDefaultLangID() override { return win32::GetUserDefaultLangID(); }
  DWORD WindowsDirectory(char* buffer, DWORD size) override {
    return win32::GetWindowsDirectoryA(buffer, size);
  }
  void SystemTime(SYSTEMTIME* time) override { win32::GetSystemTime(time); }
  // The command line less the options the platform and the entry point
  // have taken.
  const char* CommandLine() override { return command_line.c_str(); }
  void set_command_line(const char* text) { command_line = text; }
  BOOL SetCurrentDirectory(const char* path) override { return win32::SetCurrentDirectoryA(path); }
  DWORD CurrentDirectory(DWORD size, char* buffer) override {
    return win32::GetCurrentDirectoryA(size, buffer);
  }
  HANDLE OpenMutex(DWORD access, BOOL inherit, const char* name) override {
    return win32::OpenMutexA(access, inherit, name);
  }
  HANDLE CreateMutex(BOOL initial_owner, const char* name) override {
    return win32::CreateMutexA(nullptr, initial_owner, name);
  }
  BOOL ReleaseMutex(HANDLE mutex) override { return win32::ReleaseMutex(mutex); }
  BOOL CloseHandle(HANDLE handle) override { return win32::CloseHandle(handle); }
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override {
    return win32::OpenProcessToken(win32::GetCurrentProcess(), access, token);
  }
  BOOL LookupPrivilegeValue(const char* system, const char* name, LUID* luid) override {
    return win32::LookupPrivilegeValueA(system, name, luid);
  }
  BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all,
                             const TOKEN_PRIVILEGES* state) override {
    return win32::AdjustTokenPrivileges(token, disable_all, state, 0, nullptr, nullptr);
  }
  DWORD LastError() override { return win32::GetLastError(); }
  BOOL ExitWindows(DWORD flags, DWORD reason) override {
    RaisePlatformEvent(PlatformEventKind::kPowerRequest,
                       (flags & EWX_REBOOT) != 0 ? "restart" : "shutdown");
    // The write is over by now; Windows 95/98 ask this program's windows
    // inside the call, and a refusal would cancel the program's own request.
    Win32OwnSessionEndComing();
    return win32::ExitWindowsEx(flags, reason);
  }

  std::string command_line;
};

class Win32Files final : public Files {
 public:
  HANDLE OpenExisting(const char* path) override {
    return win32::CreateFileA(path, win32::GENERIC_READ, 0, nullptr, win32::OPEN_EXISTING,
                              win32::FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  HANDLE CreateAlways(const char* path) override {
    return win32::CreateFileA(path, win32::GENERIC_WRITE, 0, nullptr, win32::CREATE_ALWAYS,
                              win32::FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  BOOL Read(HANDLE file, void* buffer, DWORD size, DWORD* read) override {
    return win32::ReadFile(file, buffer, size, read, nullptr);
  }
  BOOL Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) override {
    return win32::WriteFile(file, buffer, size, written, nullptr);
  }
  DWORD SeekBegin(HANDLE file, DWORD offset) override {
    return win32::SetFilePointer(file, static_cast<std::int32_t>(offset), nullptr,
                                 win32::FILE_BEGIN);
  }
  DWORD Size(HANDLE file) override { return win32::GetFileSize(file, nullptr); }
  BOOL Close(HANDLE file) override { return win32::CloseHandle(file); }
  BOOL Flush(HANDLE file) override { return win32::FlushFileBuffers(file); }
  BOOL Delete(const char* path) override { return win32::DeleteFileA(path); }

  BOOL ReadState(const char* path, void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    HANDLE file = win32::CreateFileA(path, win32::GENERIC_READ, win32::FILE_SHARE_READ, nullptr,
                                     win32::OPEN_EXISTING, win32::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = win32::GetLastError();
      return error == win32::ERROR_FILE_NOT_FOUND || error == win32::ERROR_PATH_NOT_FOUND ? 1 : 0;
    }
    const DWORD length = win32::GetFileSize(file, nullptr);
    BOOL ok = length != 0xFFFFFFFFu && length <= size ? 1 : 0;
    while (ok && *read < length) {
      DWORD got = 0;
      ok = win32::ReadFile(file, static_cast<char*>(buffer) + *read, length - *read, &got, nullptr);
      if (got == 0) break;
      *read += got;
    }
    win32::CloseHandle(file);
    return ok;
  }
  BOOL AppendState(const char* path, const void* bytes, DWORD size) override {
    HANDLE file = win32::CreateFileA(path, win32::GENERIC_WRITE, 0, nullptr, win32::OPEN_ALWAYS,
                                     win32::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = win32::SetFilePointer(file, 0, nullptr, win32::FILE_END) !=
                          win32::INVALID_SET_FILE_POINTER &&
                      win32::WriteFile(file, bytes, size, &written, nullptr) && written == size &&
                      win32::FlushFileBuffers(file)
                  ? 1
                  : 0;
    if (!win32::CloseHandle(file)) ok = 0;
    return ok;
  }
  BOOL ReplaceState(const char* path, const void* bytes, DWORD size) override {
    const std::string temp = std::string(path) + ".new";
    HANDLE file = win32::CreateFileA(temp.c_str(), win32::GENERIC_WRITE, 0, nullptr,
                                     win32::CREATE_ALWAYS, win32::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = win32::WriteFile(file, bytes, size, &written, nullptr) && written == size &&
                      win32::FlushFileBuffers(file)
                  ? 1
                  : 0;
    if (!win32::CloseHandle(file)) ok = 0;
    if (ok &&
        !win32::MoveFileExA(temp.c_str(), path,
                            win32::MOVEFILE_REPLACE_EXISTING | win32::MOVEFILE_WRITE_THROUGH)) {
      // Windows 95/98 has no MoveFileEx: the old file goes first.
      win32::DeleteFileA(path);
      ok = win32::MoveFileA(temp.c_str(), path);
    }
    if (!ok) win32::DeleteFileA(temp.c_str());
    return ok;
  }
};

class Win32Registry final : public Registry {
 public:
  long OpenKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) override {
    return win32::RegOpenKeyExA(parent, subkey, 0, access, result);
  }
  long CreateKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) override {
    return win32::RegCreateKeyExA(parent, subkey, 0, nullptr, 0, access, nullptr, result, nullptr);
  }
  long QueryInfoKey(HKEY key, DWORD* subkey_count) override {
    return win32::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, subkey_count, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  long EnumKey(HKEY key, DWORD index, char* name, DWORD size) override {
    DWORD length = size;
    return win32::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
  }
  long QueryValue(HKEY key, const char* value, DWORD* type, BYTE* data, DWORD* size) override {
    return win32::RegQueryValueExA(key, value, nullptr, type, data, size);
  }
  long SetValue(HKEY key, const char* value, DWORD type, const BYTE* data, DWORD size) override {
    return win32::RegSetValueExA(key, value, 0, type, data, size);
  }
  long DeleteValue(HKEY key, const char* value) override {
    return win32::RegDeleteValueA(key, value);
  }
  long CloseKey(HKEY key) override { return win32::RegCloseKey(key); }
};

// The groups live as long as the process.
struct Win32Groups {
  Win32Aspi aspi;
  Win32Clock clock{&aspi};
  Win32System system;
  Win32Files files;
  Win32Registry registry;
};
Win32Groups* g_groups = nullptr;

// The command line without "--rehearsal-clock-rate N" (tests and rehearsals
// only), whose N goes to `rate`; `error` says why a given N is refused.
std::string TakeRehearsalClockRate(const std::string& line, DWORD* rate, std::string* error) {
  static constexpr char kOption[] = " --rehearsal-clock-rate ";
  const std::size_t at = line.find(kOption);
  if (at == std::string::npos) return line;
  const std::size_t from = at + sizeof kOption - 1;
  std::size_t to = line.find(' ', from);
  if (to == std::string::npos) to = line.size();
  const std::string text = line.substr(from, to - from);
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > kMaxRehearsalRate) {
    *error = "--rehearsal-clock-rate wants a whole number from 1 to 1000, not '" + text + "'";
    return line;
  }
  *rate = static_cast<DWORD>(value);
  return line.substr(0, at) + line.substr(to);
}

}  // namespace

bool InstallWin32Platform(std::string* error) {
  if (g_groups == nullptr) g_groups = new Win32Groups();
  DWORD rate = 1;
  g_groups->system.command_line = TakeRehearsalClockRate(win32::GetCommandLineA(), &rate, error);
  if (!error->empty()) return false;
  if (rate != 1) {
    // Only drives that run on the same clock may be rehearsed against: a
    // real drive's own times never shrink. The test DLL's drives say they
    // follow it; behind pass-through the program cannot tell (emulated
    // drives served by a kernel's SCSI target look like real ones), so there,
    // as on Linux, the rate is taken and said on every run.
    const bool pass_through = !g_groups->aspi.uses_wnaspi32();
    if (pass_through && g_groups->aspi.pass_through_devices() > 0) {
      std::fprintf(stderr,
                   "Quorvanta: note: rehearsal clock, %lu times as fast as the wall clock; "
                   "for emulated drives only, a real drive would fail its update\n",
                   static_cast<unsigned long>(rate));
    } else if (!g_groups->aspi.serves_rehearsal_drives()) {
      *error = "--rehearsal-clock-rate is for emulated drives; this ASPI layer serves real ones";
      return false;
    }
    g_groups->clock.SetRehearsalRate(rate);
  }
  Platform platform;
  platform.clock = &g_groups->clock;
  platform.aspi = &g_groups->aspi;
  platform.system = &g_groups->system;
  platform.files = &g_groups->files;
  platform.registry = &g_groups->registry;
  InstallPlatform(platform);
  InstallWriteHold(Win32WriteHoldInstance());
  return true;
}

const char* Win32CommandChannelName() {
  if (g_groups == nullptr) return "none";
  return g_groups->aspi.uses_wnaspi32() ? "the ASPI layer (wnaspi32.dll)"
                                        : "SCSI pass-through (\\\\.\\CdRomN)";
}

void SetWin32CommandLine(const char* text) {
  if (g_groups != nullptr) g_groups->system.set_command_line(text);
}

#include "platform/win32/win32_platform.h"

#include <string>

#include "platform/events.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_aspi.h"
#include "platform/win32/win32_hold.h"

namespace {

// Waits never spin: a wait for a command sleeps on the layer's completion
// event (set whenever a command has ended), any other wait sleeps.
class Win32Clock final : public Clock {
 public:
  explicit Win32Clock(const Win32Aspi* aspi) : aspi_(aspi) {}
  DWORD TickCount() override { return win32::GetTickCount(); }
  void Wait(const SRB_ExecSCSICmd* request, DWORD ms) override {
    if (request == nullptr) {
      win32::Sleep(ms);
      return;
    }
    const DWORD start = win32::GetTickCount();
    const volatile BYTE* status = &request->SRB_Status;
    for (;;) {
      if (*status != SS_PENDING) return;
      const DWORD passed = win32::GetTickCount() - start;
      if (passed >= ms) return;
      // Another command's end also wakes the wait; look again.
      win32::WaitForSingleObject(aspi_->completion_event(), ms - passed);
    }
  }

 private:
  const Win32Aspi* aspi_;
};

class Win32System final : public System {
 public:
  DWORD Version() override { return win32::GetVersion(); }
  LANGID UserDefaultLangID() override { return win32::GetUserDefaultLangID(); }
  DWORD WindowsDirectory(char* buffer, DWORD size) override {
    return win32::GetWindowsDirectoryA(buffer, size);
  }
  const char* CommandLine() override {
    return command_line.empty() ? win32::GetCommandLineA() : command_line.c_str();
  }
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
  std::string command_line;  // empty: the process's own
  BOOL ExitWindows(DWORD flags, DWORD reason) override {
    RaisePlatformEvent(PlatformEventKind::kPowerRequest,
                       (flags & EWX_REBOOT) != 0 ? "restart" : "shutdown");
    return win32::ExitWindowsEx(flags, reason);
  }
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

}  // namespace

void InstallWin32Platform() {
  if (g_groups == nullptr) g_groups = new Win32Groups();
  Platform platform;
  platform.clock = &g_groups->clock;
  platform.aspi = &g_groups->aspi;
  platform.system = &g_groups->system;
  platform.files = &g_groups->files;
  platform.registry = &g_groups->registry;
  InstallPlatform(platform);
  InstallWriteHold(Win32WriteHoldInstance());
}

void SetWin32CommandLine(const char* text) {
  if (g_groups != nullptr) g_groups->system.command_line = text;
}

const char* Win32CommandChannelName() {
  if (g_groups == nullptr) return "none";
  return g_groups->aspi.uses_wnaspi32() ? "wnaspi32.dll" : "SCSI pass-through";
}

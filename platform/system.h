// system group: version, language, directories, command line, the named
// single-instance mutex and the power requests.
#pragma once

#include "platform/types.h"

inline constexpr DWORD MUTEX_ALL_ACCESS = 0x1F0001;

// ExitWindowsEx flags.
inline constexpr DWORD EWX_LOGOFF = 0;
inline constexpr DWORD EWX_SHUTDOWN = 1;
inline constexpr DWORD EWX_REBOOT = 2;
inline constexpr DWORD EWX_FORCE = 4;
inline constexpr DWORD EWX_POWEROFF = 8;

// Top bit set on Windows 95/98, clear on the NT family.
DWORD GetVersion();
LANGID GetUserDefaultLangID();
// Fills up to `size` bytes with the Windows directory (no trailing '\');
// returns its length, 0 on failure.
DWORD GetWindowsDirectoryA(char* buffer, DWORD size);
// The whole Windows-style command line.
const char* GetCommandLineA();
BOOL SetCurrentDirectoryA(const char* path);
DWORD GetCurrentDirectoryA(DWORD size, char* buffer);
// Null when no process created the name.
HANDLE OpenMutexA(DWORD access, BOOL inherit, const char* name);
// Creates the named mutex (or opens it when it exists); null on failure.
HANDLE CreateMutexA(BOOL initial_owner, const char* name);
BOOL ReleaseMutex(HANDLE mutex);
BOOL CloseHandle(HANDLE handle);
void InitCommonControls();
// Enables the shutdown privilege for this process (NT family); 1 on success.
BOOL EnableShutdownPrivilege();
// A restart or shutdown request. 1 when the system accepted it.
BOOL ExitWindowsEx(DWORD flags, DWORD reason);

class System {
 public:
  virtual ~System() = default;
  virtual DWORD Version() = 0;
  virtual LANGID UserDefaultLangID() = 0;
  virtual DWORD WindowsDirectory(char* buffer, DWORD size) = 0;
  virtual const char* CommandLine() = 0;
  virtual BOOL SetCurrentDirectory(const char* path) = 0;
  virtual DWORD CurrentDirectory(DWORD size, char* buffer) = 0;
  virtual HANDLE OpenMutex(DWORD access, BOOL inherit, const char* name) = 0;
  virtual HANDLE CreateMutex(BOOL initial_owner, const char* name) = 0;
  virtual BOOL ReleaseMutex(HANDLE mutex) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual BOOL EnableShutdownPrivilege() = 0;
  virtual BOOL ExitWindows(DWORD flags, DWORD reason) = 0;
};

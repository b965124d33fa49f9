// system group: version, language, directories, command line, the named
// single-instance mutex and the power requests.
#pragma once

#include <cstdint>

#include "platform/types.h"

inline constexpr DWORD MUTEX_ALL_ACCESS = 0x1F0001;

// ExitWindowsEx flags.
inline constexpr DWORD EWX_LOGOFF = 0;
inline constexpr DWORD EWX_SHUTDOWN = 1;
inline constexpr DWORD EWX_REBOOT = 2;
inline constexpr DWORD EWX_FORCE = 4;
inline constexpr DWORD EWX_POWEROFF = 8;

// Access token and privilege calls.
inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
inline constexpr const char* SE_SHUTDOWN_NAME = "SeShutdownPrivilege";
inline constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr DWORD ERROR_NOT_ALL_ASSIGNED = 1300;
inline constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
inline constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;

struct LUID {
  DWORD LowPart;
  std::int32_t HighPart;
};
struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};

// GetVersion() of the two families the program tells apart (bit 31 set:
// Windows 95/98).
inline constexpr DWORD kVersionWindows98 = 0xC0000A04;
inline constexpr DWORD kVersionWindowsNt = 0x0A280105;

// The calendar time as Windows gives it.
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;  // 1 to 12
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

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
// The pseudo handle of this process.
HANDLE GetCurrentProcess();
// Opens the process's access token; 0 on failure (always on Windows 95/98).
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
// The local identifier of a privilege by name; `system` null is this PC.
BOOL LookupPrivilegeValueA(const char* system, const char* name, LUID* luid);
// Enables or disables the listed privileges. Succeeds even when the token
// does not hold one of them; the last error then is ERROR_NOT_ALL_ASSIGNED.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all, const TOKEN_PRIVILEGES* state,
                           DWORD length, TOKEN_PRIVILEGES* previous, DWORD* return_length);
// The calling thread's last error code, as the calls above leave it.
DWORD GetLastError();
// A restart or shutdown request. 1 when the system accepted it.
BOOL ExitWindowsEx(DWORD flags, DWORD reason);
// A package file (the description, the image or the loader data) that could
// not be used: one line that names the whole path looked for, beside the
// program's own message (this host; nothing elsewhere). `largest`, when not
// 0: the file is larger than that many bytes, which no such file can be.
void NotePackageFileProblem(const char* path, DWORD largest = 0);
// 1 where a shutdown request is never carried out and the user turns the
// drive's power off and on by hand, so that the program can look at the
// drive again afterwards (this host); 0 where the computer really shuts down.
BOOL DrivePowerCycledByHand();
// The present time in UTC (a virtual PC's own, which runs with its clock).
void GetSystemTime(SYSTEMTIME* time);

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
  virtual BOOL OpenProcessToken(DWORD access, HANDLE* token) = 0;
  virtual BOOL LookupPrivilegeValue(const char* system, const char* name, LUID* luid) = 0;
  virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all,
                                     const TOKEN_PRIVILEGES* state) = 0;
  virtual DWORD LastError() = 0;
  virtual BOOL ExitWindows(DWORD flags, DWORD reason) = 0;
  virtual void NotePackageFileProblem(const char*, DWORD) {}
  virtual BOOL DrivePowerCycledByHand() { return 0; }
  // This computer's clock, unless the platform keeps time of its own.
  virtual void SystemTime(SYSTEMTIME* time);
};

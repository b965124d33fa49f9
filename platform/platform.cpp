#include "platform/platform.h"

#include <ctime>

#include "platform/hold.h"

namespace {
Platform g_platform;
}  // namespace

void InstallPlatform(const Platform& platform) { g_platform = platform; }
const Platform& CurrentPlatform() { return g_platform; }

// clock
DWORD GetTickCount() { return g_platform.clock->TickCount(); }
void WaitTicks(const SRB_ExecSCSICmd* request, DWORD ms) {
  g_platform.clock->Wait(request, ms);
  // Every long operation waits here: a signal or a session's end that came
  // meanwhile is looked at without a thread of its own.
  PollWriteHold();
}

// aspi
DWORD GetASPI32SupportInfo() { return g_platform.aspi->SupportInfo(); }
DWORD SendASPI32Command(SRB_ExecSCSICmd* request) { return g_platform.aspi->Send(request); }
int AspiDevicesRefused() { return g_platform.aspi->DevicesRefused(); }
ScanFindings AspiScanFindings() { return g_platform.aspi->Findings(); }

// files
HANDLE OpenExistingFile(const char* path) { return g_platform.files->OpenExisting(path); }
HANDLE CreateAlwaysFile(const char* path) { return g_platform.files->CreateAlways(path); }
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  return g_platform.files->Read(file, buffer, size, read);
}
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
  return g_platform.files->Write(file, buffer, size, written);
}
DWORD SetFilePointerBegin(HANDLE file, DWORD offset) {
  return g_platform.files->SeekBegin(file, offset);
}
DWORD GetFileSize(HANDLE file) { return g_platform.files->Size(file); }
BOOL CloseFile(HANDLE file) { return g_platform.files->Close(file); }
BOOL DeleteFileA(const char* path) { return g_platform.files->Delete(path); }
BOOL FlushFileBuffers(HANDLE file) { return g_platform.files->Flush(file); }
BOOL ReadStateFile(const char* path, void* buffer, DWORD size, DWORD* read) {
  return g_platform.files->ReadState(path, buffer, size, read);
}
BOOL AppendStateFile(const char* path, const void* bytes, DWORD size) {
  return g_platform.files->AppendState(path, bytes, size);
}
BOOL ReplaceStateFile(const char* path, const void* bytes, DWORD size) {
  return g_platform.files->ReplaceState(path, bytes, size);
}

// registry
long RegOpenKeyExA(HKEY parent, const char* subkey, DWORD access, HKEY* result) {
  return g_platform.registry->OpenKey(parent, subkey, access, result);
}
long RegCreateKeyExA(HKEY parent, const char* subkey, DWORD access, HKEY* result) {
  return g_platform.registry->CreateKey(parent, subkey, access, result);
}
long RegQueryInfoKeyA(HKEY key, DWORD* subkey_count) {
  return g_platform.registry->QueryInfoKey(key, subkey_count);
}
long RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD size) {
  return g_platform.registry->EnumKey(key, index, name, size);
}
long RegQueryValueExA(HKEY key, const char* value, DWORD* type, BYTE* data, DWORD* size) {
  return g_platform.registry->QueryValue(key, value, type, data, size);
}
long RegSetValueExA(HKEY key, const char* value, DWORD type, const BYTE* data, DWORD size) {
  return g_platform.registry->SetValue(key, value, type, data, size);
}
long RegDeleteValueA(HKEY key, const char* value) {
  return g_platform.registry->DeleteValue(key, value);
}
long RegCloseKey(HKEY key) { return g_platform.registry->CloseKey(key); }

// system
DWORD GetVersion() { return g_platform.system->Version(); }
LANGID GetUserDefaultLangID() { return g_platform.system->UserDefaultLangID(); }
DWORD GetWindowsDirectoryA(char* buffer, DWORD size) {
  return g_platform.system->WindowsDirectory(buffer, size);
}
const char* GetCommandLineA() { return g_platform.system->CommandLine(); }
BOOL SetCurrentDirectoryA(const char* path) { return g_platform.system->SetCurrentDirectory(path); }
DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  return g_platform.system->CurrentDirectory(size, buffer);
}
HANDLE OpenMutexA(DWORD access, BOOL inherit, const char* name) {
  return g_platform.system->OpenMutex(access, inherit, name);
}
HANDLE CreateMutexA(BOOL initial_owner, const char* name) {
  return g_platform.system->CreateMutex(initial_owner, name);
}
BOOL ReleaseMutex(HANDLE mutex) { return g_platform.system->ReleaseMutex(mutex); }
BOOL CloseHandle(HANDLE handle) { return g_platform.system->CloseHandle(handle); }
void InitCommonControls() {}
HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(~std::uintptr_t{0}); }
BOOL OpenProcessToken(HANDLE, DWORD access, HANDLE* token) {
  return g_platform.system->OpenProcessToken(access, token);
}
BOOL LookupPrivilegeValueA(const char* system, const char* name, LUID* luid) {
  return g_platform.system->LookupPrivilegeValue(system, name, luid);
}
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all, const TOKEN_PRIVILEGES* state, DWORD,
                           TOKEN_PRIVILEGES*, DWORD*) {
  return g_platform.system->AdjustTokenPrivileges(token, disable_all, state);
}
DWORD GetLastError() { return g_platform.system->LastError(); }
BOOL ExitWindowsEx(DWORD flags, DWORD reason) {
  WriteOutcomeKnown();
  return g_platform.system->ExitWindows(flags, reason);
}
void NotePackageFileProblem(const char* path, DWORD largest) {
  g_platform.system->NotePackageFileProblem(path, largest);
}
BOOL DrivePowerCycledByHand() { return g_platform.system->DrivePowerCycledByHand(); }
void GetSystemTime(SYSTEMTIME* time) { g_platform.system->SystemTime(time); }

void System::SystemTime(SYSTEMTIME* time) {
  const std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);
  *time = SYSTEMTIME{};
  if (utc == nullptr) return;
  time->wYear = static_cast<WORD>(utc->tm_year + 1900);
  time->wMonth = static_cast<WORD>(utc->tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(utc->tm_wday);
  time->wDay = static_cast<WORD>(utc->tm_mday);
  time->wHour = static_cast<WORD>(utc->tm_hour);
  time->wMinute = static_cast<WORD>(utc->tm_min);
  time->wSecond = static_cast<WORD>(utc->tm_sec);
}

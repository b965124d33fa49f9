#include "platform/sim/crash_point.h"

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

void CrashPoint::Count() {
  if (++calls_ == die_at_) ::kill(::getpid(), SIGKILL);
}

bool CrashingFiles::InWindows(const char* path) const {
  std::vector<std::string> parts;
  return path != nullptr && files_->Components(path, &parts) && parts.size() > 1 &&
         SameWindowsName(parts[0], "WINDOWS");
}

HANDLE CrashingFiles::OpenExisting(const char* path) {
  const bool counted = InWindows(path);
  if (counted) crash_->Count();
  HANDLE file = files_->OpenExisting(path);
  if (counted && file != INVALID_HANDLE_VALUE) windows_handles_.insert(file);
  return file;
}

HANDLE CrashingFiles::CreateAlways(const char* path) {
  const bool counted = InWindows(path);
  if (counted) crash_->Count();
  HANDLE file = files_->CreateAlways(path);
  if (counted && file != INVALID_HANDLE_VALUE) windows_handles_.insert(file);
  return file;
}

BOOL CrashingFiles::Read(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  CountHandle(file);
  return files_->Read(file, buffer, size, read);
}

BOOL CrashingFiles::Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
  CountHandle(file);
  return files_->Write(file, buffer, size, written);
}

DWORD CrashingFiles::SeekBegin(HANDLE file, DWORD offset) {
  CountHandle(file);
  return files_->SeekBegin(file, offset);
}

DWORD CrashingFiles::Size(HANDLE file) {
  CountHandle(file);
  return files_->Size(file);
}

BOOL CrashingFiles::Close(HANDLE file) {
  CountHandle(file);
  windows_handles_.erase(file);
  return files_->Close(file);
}

BOOL CrashingFiles::ReadState(const char* path, void* buffer, DWORD size, DWORD* read) {
  if (InWindows(path)) crash_->Count();
  return files_->ReadState(path, buffer, size, read);
}

BOOL CrashingFiles::AppendState(const char* path, const void* bytes, DWORD size) {
  if (InWindows(path)) crash_->Count();
  return files_->AppendState(path, bytes, size);
}

BOOL CrashingFiles::ReplaceState(const char* path, const void* bytes, DWORD size) {
  if (InWindows(path)) crash_->Count();
  return files_->ReplaceState(path, bytes, size);
}

BOOL CrashingFiles::Delete(const char* path) {
  if (InWindows(path)) crash_->Count();
  return files_->Delete(path);
}

long CrashingRegistry::OpenKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) {
  crash_->Count();
  return registry_->OpenKey(parent, subkey, access, result);
}

long CrashingRegistry::CreateKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) {
  crash_->Count();
  return registry_->CreateKey(parent, subkey, access, result);
}

long CrashingRegistry::QueryInfoKey(HKEY key, DWORD* subkey_count) {
  crash_->Count();
  return registry_->QueryInfoKey(key, subkey_count);
}

long CrashingRegistry::EnumKey(HKEY key, DWORD index, char* name, DWORD size) {
  crash_->Count();
  return registry_->EnumKey(key, index, name, size);
}

long CrashingRegistry::QueryValue(HKEY key, const char* value, DWORD* type, BYTE* data,
                                  DWORD* size) {
  crash_->Count();
  return registry_->QueryValue(key, value, type, data, size);
}

long CrashingRegistry::SetValue(HKEY key, const char* value, DWORD type, const BYTE* data,
                                DWORD size) {
  crash_->Count();
  return registry_->SetValue(key, value, type, data, size);
}

long CrashingRegistry::DeleteValue(HKEY key, const char* value) {
  crash_->Count();
  return registry_->DeleteValue(key, value);
}

long CrashingRegistry::CloseKey(HKEY key) {
  crash_->Count();
  return registry_->CloseKey(key);
}

DWORD SignallingAspi::Send(SRB_ExecSCSICmd* request) {
  if (++sent_ == at_) ::kill(group_ ? 0 : ::getpid(), signal_);
  return aspi_->Send(request);
}

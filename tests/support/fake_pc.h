// A small in-memory PC for tests of start-up: files in a map, a scripted
// system group, a clock that only moves when waited on, and an ASPI layer
// with a fixed support answer and no drives.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/registry_store.h"
#include "tests/support/memory_files.h"

class FakeSystem final : public System {
 public:
  DWORD version = 0xC0000A04;  // Windows 98
  LANGID language = 0x0409;
  std::string windows_directory = "C:\\WINDOWS";
  std::string command_line = "\"C:\\Quorvanta\\Quorvanta.exe\"";
  std::string current_directory = "C:\\Quorvanta";
  bool other_instance_running = false;
  std::vector<std::string> calls;  // mutex and power calls, in order

  DWORD Version() override { return version; }
  LANGID UserDefaultLangID() override { return language; }
  DWORD WindowsDirectory(char* buffer, DWORD size) override;
  const char* CommandLine() override { return command_line.c_str(); }
  BOOL SetCurrentDirectory(const char* path) override;
  DWORD CurrentDirectory(DWORD size, char* buffer) override;
  HANDLE OpenMutex(DWORD access, BOOL inherit, const char* name) override;
  HANDLE CreateMutex(BOOL initial_owner, const char* name) override;
  BOOL ReleaseMutex(HANDLE mutex) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL OpenProcessToken(DWORD, HANDLE* token) override {
    *token = reinterpret_cast<HANDLE>(std::uintptr_t{1});
    return 1;
  }
  BOOL LookupPrivilegeValue(const char*, const char*, LUID* luid) override {
    *luid = LUID{19, 0};
    return 1;
  }
  BOOL AdjustTokenPrivileges(HANDLE, BOOL, const TOKEN_PRIVILEGES*) override { return 1; }
  DWORD LastError() override { return 0; }
  BOOL ExitWindows(DWORD flags, DWORD reason) override;
};

class StillClock final : public Clock {
 public:
  DWORD ticks = 1000;
  DWORD TickCount() override { return ticks; }
  void Wait(const SRB_ExecSCSICmd*, DWORD ms) override { ticks += ms; }
};

class NoDriveAspi final : public AspiLayer {
 public:
  DWORD support = 0x0101;  // one adapter, SS_COMP
  DWORD SupportInfo() override { return support; }
  DWORD Send(SRB_ExecSCSICmd* request) override {
    request->SRB_Status = SS_NO_DEVICE;
    return SS_NO_DEVICE;
  }
  bool Holds(const SRB_ExecSCSICmd*) const override { return false; }
};

// Owns one of each and installs them; uninstalls on destruction.
class FakePc {
 public:
  FakePc();
  ~FakePc();
  MemoryFiles files;
  FakeSystem system;
  StillClock clock;
  NoDriveAspi aspi;
  RegistryStore registry;
};

// A firmware image that passes the size and signature checks.
std::string ValidT71Image(const char* revision);

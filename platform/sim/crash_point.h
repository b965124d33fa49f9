// The virtual PC's crash knob: the program is killed just before its Nth
// call that touches the PC's own state, as a power cut or a killed process
// would end it there.
//
// Counted are every registry call and every files call on a file in
// C:\WINDOWS (opening, creating, deleting it, and reading, writing or closing
// it through its handle), counted from power-on. Reads of the package are
// not counted: dying there leaves the same state behind as dying at the next
// counted call. Everything the program changed before dies with it as it
// stands: the registry is replaced whole on every change, files keep the
// bytes written so far.
#pragma once

#include <cstdint>
#include <set>

#include "platform/aspi.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/sim/sim_files.h"

class CrashPoint {
 public:
  // 0: never.
  explicit CrashPoint(std::uint64_t die_at) : die_at_(die_at) {}
  // Counts one call; at the chosen one the process is killed (SIGKILL).
  void Count();
  std::uint64_t calls() const { return calls_; }

 private:
  std::uint64_t die_at_;
  std::uint64_t calls_ = 0;
};

class CrashingFiles final : public Files {
 public:
  CrashingFiles(SimFiles* files, CrashPoint* crash) : files_(files), crash_(crash) {}
  HANDLE OpenExisting(const char* path) override;
  HANDLE CreateAlways(const char* path) override;
  BOOL Read(HANDLE file, void* buffer, DWORD size, DWORD* read) override;
  BOOL Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) override;
  DWORD SeekBegin(HANDLE file, DWORD offset) override;
  DWORD Size(HANDLE file) override;
  BOOL Close(HANDLE file) override;
  BOOL Delete(const char* path) override;
  BOOL Flush(HANDLE file) override { return files_->Flush(file); }
  BOOL ReadState(const char* path, void* buffer, DWORD size, DWORD* read) override;
  BOOL AppendState(const char* path, const void* bytes, DWORD size) override;
  BOOL ReplaceState(const char* path, const void* bytes, DWORD size) override;

 private:
  bool InWindows(const char* path) const;
  void CountHandle(HANDLE file) {
    if (windows_handles_.count(file) != 0) crash_->Count();
  }
  SimFiles* files_;
  CrashPoint* crash_;
  std::set<HANDLE> windows_handles_;
};

class CrashingRegistry final : public Registry {
 public:
  CrashingRegistry(Registry* registry, CrashPoint* crash) : registry_(registry), crash_(crash) {}
  long OpenKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) override;
  long CreateKey(HKEY parent, const char* subkey, DWORD access, HKEY* result) override;
  long QueryInfoKey(HKEY key, DWORD* subkey_count) override;
  long EnumKey(HKEY key, DWORD index, char* name, DWORD size) override;
  long QueryValue(HKEY key, const char* value, DWORD* type, BYTE* data, DWORD* size) override;
  long SetValue(HKEY key, const char* value, DWORD type, const BYTE* data, DWORD size) override;
  long DeleteValue(HKEY key, const char* value) override;
  long CloseKey(HKEY key) override;

 private:
  Registry* registry_;
  CrashPoint* crash_;
};

// The signal knob: just before its Nth drive command (counted from
// power-on) the program sends itself a signal, as a user's Ctrl-C or a
// closed terminal would reach it there; the command then goes out as usual.
// To the whole process group instead, as a terminal's Ctrl-C reaches every
// program of a pipeline.
class SignallingAspi final : public AspiLayer {
 public:
  SignallingAspi(AspiLayer* aspi, std::uint64_t at, int signal_number, bool group)
      : aspi_(aspi), at_(at), signal_(signal_number), group_(group) {}
  DWORD SupportInfo() override { return aspi_->SupportInfo(); }
  DWORD Send(SRB_ExecSCSICmd* request) override;
  bool Holds(const SRB_ExecSCSICmd* request) const override { return aspi_->Holds(request); }

 private:
  AspiLayer* aspi_;
  std::uint64_t at_;
  int signal_;
  bool group_;
  std::uint64_t sent_ = 0;
};

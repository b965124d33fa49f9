// The files group over POSIX descriptors, shared by this host and the virtual
// PC; each maps the program's Windows-style paths to host paths its own way.
//
// As CreateFile with no sharing: a file open through one handle cannot be
// opened again, nor deleted, until that handle is closed.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "platform/call_faults.h"
#include "platform/files.h"

class StateDir;

class PosixFiles : public Files {
 public:
  ~PosixFiles() override;

  HANDLE OpenExisting(const char* path) override;
  HANDLE CreateAlways(const char* path) override;
  BOOL Read(HANDLE file, void* buffer, DWORD size, DWORD* read) override;
  BOOL Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) override;
  DWORD SeekBegin(HANDLE file, DWORD offset) override;
  DWORD Size(HANDLE file) override;
  BOOL Close(HANDLE file) override;
  BOOL Delete(const char* path) override;
  BOOL Flush(HANDLE file) override;
  // The program's own small files, each way of touching them in one place.
  BOOL ReadState(const char* path, void* buffer, DWORD size, DWORD* read) override;
  BOOL AppendState(const char* path, const void* bytes, DWORD size) override;
  BOOL ReplaceState(const char* path, const void* bytes, DWORD size) override;

  // The next call of `operation` ("open", "create", "read", "write", "seek",
  // "size", "close", "delete") fails; for tests and fault knobs. A failed
  // close still releases the handle.
  void FailNext(std::string_view operation) { faults_.Arm(operation, 1, 0); }
  // The `nth` call of `operation` from now fails.
  void FailCall(std::string_view operation, int nth) { faults_.Arm(operation, nth, 0); }
  std::size_t open_files() const { return open_.size(); }

  // The host path of `path`; false when it cannot be mapped. With
  // `for_create` the last component need not exist.
  virtual bool Map(const char* path, bool for_create, std::filesystem::path* out) = 0;

 protected:
  // The folder descriptor a mapped `host` path is opened from and its name
  // there: by default the whole path, looked up from the current folder.
  virtual int FolderOf(const std::filesystem::path& host, std::string* name) {
    *name = host.string();
    return AT_FDCWD;
  }

  // The open folder a mapped `host` path lies directly in, when the program's
  // own small files there are to be touched through it, and the name there;
  // by default none (the path is used).
  virtual const StateDir* StateFolderOf(const std::filesystem::path&, std::string*) {
    return nullptr;
  }

  // The host's own files may be symbolic links; a virtual PC's never are.
  bool follow_links_ = false;

 private:
  BOOL WriteState(const char* path, const void* bytes, DWORD size, bool append);
  struct OpenFile {
    int fd;
    bool writable;
    std::string host_path;
  };
  bool Failing(std::string_view operation) { return faults_.Hit(operation); }
  OpenFile* Find(HANDLE file);
  HANDLE Add(int fd, bool writable, std::string host_path);
  bool IsOpen(const std::string& host_path) const;

  std::map<std::uintptr_t, OpenFile> open_;
  std::uintptr_t next_ = 0xF1000;
  CallFaults faults_;
};

// Named mutexes as lock files held with flock(2): a real cross-process lock
// that the kernel drops when the holder ends, however it ends.
//
// A name "exists" while some handle created by CreateMutex holds the lock of
// its file. Windows keeps a mutex alive while any handle is open, and the
// program only ever tests existence, so that is all this models.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "platform/types.h"

class StateDir;

class NamedMutexTable {
 public:
  // Lock files are `dir/prefix<name>.lock`; `dir` is created when needed.
  NamedMutexTable(std::filesystem::path dir, std::string prefix);
  // Lock files `prefix<name>.lock` in the open folder `dir` (which outlives
  // the table), never looked up by their path.
  NamedMutexTable(const StateDir* dir, std::string prefix);
  ~NamedMutexTable();
  NamedMutexTable(const NamedMutexTable&) = delete;
  NamedMutexTable& operator=(const NamedMutexTable&) = delete;

  // A handle when some process (this one included) holds the name, else null.
  HANDLE Open(const char* name);
  // Creates the name, or opens it when it exists; null when the lock file
  // cannot be made.
  HANDLE Create(bool initial_owner, const char* name);
  // Create, but a lock that cannot be made or taken stops the program with
  // one line naming it (exit code 2).
  HANDLE CreateOrStop(bool initial_owner, const char* name);
  // 1 when the handle owned the mutex (created with initial ownership).
  BOOL Release(HANDLE handle);
  // Closing the handle that holds the lock ends the name's existence.
  BOOL Close(HANDLE handle);
  bool Holds(HANDLE handle) const { return handles_.count(Id(handle)) != 0; }

  // The lock file of `name` (for tests and tools).
  std::filesystem::path LockPath(std::string_view name) const;

 private:
  struct Entry {
    std::string name;
    int fd = -1;  // holds the lock; -1 for a handle to a name held elsewhere
    bool owned = false;
  };
  static std::uintptr_t Id(HANDLE h) { return reinterpret_cast<std::uintptr_t>(h); }
  bool HeldHere(std::string_view name) const;
  HANDLE Add(Entry entry);

  // The lock file of `name` opened with `flags`; -1 and why_not_ otherwise.
  int OpenLock(std::string_view name, int flags);

  std::filesystem::path dir_;
  const StateDir* state_ = nullptr;
  std::string prefix_;
  std::map<std::uintptr_t, Entry> handles_;
  std::uintptr_t next_ = 0x51000;
  std::string why_not_;
};

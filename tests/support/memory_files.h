// An in-memory Files group for tests and fuzz targets: files in a map under
// the paths the program names them by.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"

class MemoryFiles final : public Files {
 public:
  std::map<std::string, std::string> files;  // path as the program names it
  std::vector<std::string> deleted;
  // The most bytes one Read hands out (0: all that are asked for); a slow
  // device's partial reads, which callers must go on after.
  std::size_t read_limit = 0;

  HANDLE OpenExisting(const char* path) override;
  HANDLE CreateAlways(const char* path) override;
  BOOL Read(HANDLE file, void* buffer, DWORD size, DWORD* read) override;
  BOOL Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) override;
  DWORD SeekBegin(HANDLE file, DWORD offset) override;
  DWORD Size(HANDLE file) override;
  BOOL Close(HANDLE file) override;
  BOOL Delete(const char* path) override;

  int open_handles() const { return static_cast<int>(open_.size()); }

 private:
  struct Open {
    std::string path;
    std::size_t position = 0;
  };
  std::map<int, Open> open_;
  int next_ = 1;
};

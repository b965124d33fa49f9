#include "tests/support/memory_files.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
HANDLE ToHandle(int id) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(id)); }
int FromHandle(HANDLE h) { return static_cast<int>(reinterpret_cast<std::intptr_t>(h)); }
}  // namespace

HANDLE MemoryFiles::OpenExisting(const char* path) {
  if (files.find(path) == files.end()) return INVALID_HANDLE_VALUE;
  int id = next_++;
  open_[id] = Open{path, 0};
  return ToHandle(id);
}

HANDLE MemoryFiles::CreateAlways(const char* path) {
  files[path].clear();
  int id = next_++;
  open_[id] = Open{path, 0};
  return ToHandle(id);
}

BOOL MemoryFiles::Read(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  auto it = open_.find(FromHandle(file));
  if (it == open_.end()) return 0;
  const std::string& data = files[it->second.path];
  std::size_t n = 0;
  if (it->second.position < data.size()) {
    n = std::min<std::size_t>(size, data.size() - it->second.position);
    if (read_limit != 0) n = std::min(n, read_limit);
    std::memcpy(buffer, data.data() + it->second.position, n);
  }
  it->second.position += n;
  *read = static_cast<DWORD>(n);
  return 1;
}

BOOL MemoryFiles::Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
  auto it = open_.find(FromHandle(file));
  if (it == open_.end()) return 0;
  std::string& data = files[it->second.path];
  if (data.size() < it->second.position + size) data.resize(it->second.position + size);
  std::memcpy(data.data() + it->second.position, buffer, size);
  it->second.position += size;
  *written = size;
  return 1;
}

DWORD MemoryFiles::SeekBegin(HANDLE file, DWORD offset) {
  auto it = open_.find(FromHandle(file));
  if (it == open_.end()) return 0xFFFFFFFF;
  it->second.position = offset;
  return offset;
}

DWORD MemoryFiles::Size(HANDLE file) {
  auto it = open_.find(FromHandle(file));
  if (it == open_.end()) return 0xFFFFFFFF;
  return static_cast<DWORD>(files[it->second.path].size());
}

BOOL MemoryFiles::Close(HANDLE file) { return open_.erase(FromHandle(file)) == 1 ? 1 : 0; }

BOOL MemoryFiles::Delete(const char* path) {
  deleted.emplace_back(path);
  return files.erase(path) == 1 ? 1 : 0;
}

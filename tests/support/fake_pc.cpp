#include "tests/support/fake_pc.h"

#include <algorithm>
#include <cstring>

#include "state/app_state.h"

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

DWORD FakeSystem::WindowsDirectory(char* buffer, DWORD size) {
  if (windows_directory.empty() || windows_directory.size() + 1 > size) return 0;
  std::memcpy(buffer, windows_directory.c_str(), windows_directory.size() + 1);
  return static_cast<DWORD>(windows_directory.size());
}

BOOL FakeSystem::SetCurrentDirectory(const char* path) {
  calls.push_back(std::string("cd ") + path);
  if (path[0] == '\0') return 0;
  current_directory = path;
  return 1;
}

DWORD FakeSystem::CurrentDirectory(DWORD size, char* buffer) {
  if (current_directory.size() + 1 > size) return 0;
  std::memcpy(buffer, current_directory.c_str(), current_directory.size() + 1);
  return static_cast<DWORD>(current_directory.size());
}

HANDLE FakeSystem::OpenMutex(DWORD, BOOL, const char* name) {
  calls.push_back(std::string("open ") + name);
  return other_instance_running ? ToHandle(7) : nullptr;
}

HANDLE FakeSystem::CreateMutex(BOOL, const char* name) {
  calls.push_back(std::string("create ") + name);
  return ToHandle(8);
}

BOOL FakeSystem::ReleaseMutex(HANDLE) {
  calls.emplace_back("release");
  return 1;
}

BOOL FakeSystem::CloseHandle(HANDLE) {
  calls.emplace_back("close");
  return 1;
}

BOOL FakeSystem::ExitWindows(DWORD flags, DWORD) {
  calls.push_back("exit " + std::to_string(flags));
  return 1;
}

FakePc::FakePc() {
  ResetAppState();
  Platform p;
  p.clock = &clock;
  p.aspi = &aspi;
  p.system = &system;
  p.files = &files;
  p.registry = &registry;
  InstallPlatform(p);
}

FakePc::~FakePc() { InstallPlatform(Platform{}); }

std::string ValidT71Image(const char* revision) {
  std::string image(526336, '\0');
  const std::size_t at = 499660;
  std::memcpy(&image[at], "VANTROS ", 8);
  std::memcpy(&image[at + 8], "T71 CDRW USB    ", 16);
  for (int field = 0; field < 3; ++field) {
    std::memcpy(&image[at + 24 + 4 * field], revision,
                std::min<std::size_t>(4, std::strlen(revision)));
  }
  return image;
}

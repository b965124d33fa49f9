#include "tests/support/fake_pc.h"

#include <algorithm>
#include <cstring>

#include "state/app_state.h"

namespace {
HANDLE ToHandle(int id) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(id)); }
}  // namespace

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

#include "fuzz/memory_platform.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/dialogs.h"
#include "platform/platform.h"

namespace {

class FuzzFiles final : public Files {
 public:
  std::map<std::string, std::string> files;
  std::map<std::intptr_t, std::pair<std::string, std::size_t>> open;
  std::intptr_t next = 1;

  HANDLE OpenExisting(const char* path) override {
    if (files.count(path) == 0) return INVALID_HANDLE_VALUE;
    open[next] = {path, 0};
    return reinterpret_cast<HANDLE>(next++);
  }
  HANDLE CreateAlways(const char*) override { return INVALID_HANDLE_VALUE; }
  BOOL Read(HANDLE file, void* buffer, DWORD size, DWORD* read) override {
    auto it = open.find(reinterpret_cast<std::intptr_t>(file));
    if (it == open.end()) return 0;
    const std::string& data = files[it->second.first];
    std::size_t at = it->second.second;
    std::size_t n = at < data.size() ? std::min<std::size_t>(size, data.size() - at) : 0;
    // Hand out at most 1000 bytes a call, as a slow device might, so that
    // callers must go on after partial reads.
    n = std::min<std::size_t>(n, 1000);
    if (n > 0) std::memcpy(buffer, data.data() + at, n);
    it->second.second += n;
    *read = static_cast<DWORD>(n);
    return 1;
  }
  BOOL Write(HANDLE, const void*, DWORD, DWORD*) override { return 0; }
  DWORD SeekBegin(HANDLE file, DWORD offset) override {
    auto it = open.find(reinterpret_cast<std::intptr_t>(file));
    if (it == open.end()) return 0xFFFFFFFF;
    it->second.second = offset;
    return offset;
  }
  DWORD Size(HANDLE file) override {
    auto it = open.find(reinterpret_cast<std::intptr_t>(file));
    if (it == open.end()) return 0xFFFFFFFF;
    return static_cast<DWORD>(files[it->second.first].size());
  }
  BOOL Close(HANDLE file) override {
    return open.erase(reinterpret_cast<std::intptr_t>(file)) == 1 ? 1 : 0;
  }
  BOOL Delete(const char* path) override { return files.erase(path) == 1 ? 1 : 0; }
};

FuzzFiles g_files;
int g_messages = 0;
std::string g_last_message;

}  // namespace

void ResetFuzzFiles() {
  Platform platform;
  platform.files = &g_files;
  InstallPlatform(platform);
  g_files.files.clear();
  g_files.open.clear();
  g_messages = 0;
  g_last_message.clear();
}

void PutFuzzFile(const char* path, std::string_view bytes) { g_files.files[path] = bytes; }
int FuzzMessageCount() { return g_messages; }
const std::string& FuzzLastMessage() { return g_last_message; }
int FuzzOpenFiles() { return static_cast<int>(g_files.open.size()); }

int MessageBoxExA(HWND, const char* text, const char*, UINT, LANGID) {
  ++g_messages;
  g_last_message = text == nullptr ? "" : text;
  return IDOK;
}

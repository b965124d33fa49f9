#include "fuzz/memory_platform.h"

#include <optional>

#include "platform/dialogs.h"
#include "platform/platform.h"
#include "tests/support/memory_files.h"

namespace {

std::optional<MemoryFiles> g_files;
int g_messages = 0;
std::string g_last_message;

}  // namespace

void ResetFuzzFiles() {
  g_files.emplace();
  // At most 1000 bytes a read, so that callers must go on after partial reads.
  g_files->read_limit = 1000;
  Platform platform;
  platform.files = &*g_files;
  InstallPlatform(platform);
  g_messages = 0;
  g_last_message.clear();
}

void PutFuzzFile(const char* path, std::string_view bytes) { g_files->files[path] = bytes; }
int FuzzMessageCount() { return g_messages; }
const std::string& FuzzLastMessage() { return g_last_message; }
int FuzzOpenFiles() { return g_files->open_handles(); }

int MessageBoxExA(HWND, const char* text, const char*, UINT, LANGID) {
  ++g_messages;
  g_last_message = text == nullptr ? "" : text;
  return IDOK;
}

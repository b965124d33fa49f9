// The program's own version resource (compiled into the binary from
// resources/quorvanta.rc) behind the VERSION functions, and the process heap.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dialogs.h"
#include "platform/dialogs/model_state.h"
#include "platform/dialogs/resource_tables.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The library search path finds the program's own file first: a bare name
// or any path ending in it names that file (file names ignore case).
bool IsOwnFile(const char* file_name) {
  const std::string& own = dialog_model::State().own_module;
  if (file_name == nullptr || own.empty()) return false;
  std::string name = file_name;
  std::size_t cut = name.find_last_of("\\/");
  if (cut != std::string::npos) name = name.substr(cut + 1);
  return Lower(name) == Lower(own);
}

std::uint16_t WordAt(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

DWORD GetFileVersionInfoSizeA(const char* file_name, DWORD* handle) {
  if (handle != nullptr) *handle = 0;
  if (!IsOwnFile(file_name)) return 0;
  return resource_tables::kVersionResourceSize;
}

BOOL GetFileVersionInfoA(const char* file_name, DWORD, DWORD size, void* data) {
  if (data == nullptr || !IsOwnFile(file_name) || resource_tables::kVersionResourceSize == 0)
    return 0;
  DWORD n =
      size < resource_tables::kVersionResourceSize ? size : resource_tables::kVersionResourceSize;
  std::memcpy(data, resource_tables::kVersionResource, n);
  return 1;
}

BOOL VerQueryValueA(const void* block, const char* sub_block, void** value, UINT* length) {
  if (block == nullptr || sub_block == nullptr || value == nullptr || length == nullptr) return 0;
  if (std::strcmp(sub_block, "\\") != 0) return 0;
  const auto* bytes = static_cast<const unsigned char*>(block);
  std::uint16_t total = WordAt(bytes);
  std::uint16_t value_length = WordAt(bytes + 2);
  // The root key "VS_VERSION_INFO" in UTF-16 with its terminator follows the
  // three header words; the value starts at the next 4-byte boundary.
  const std::size_t key_end = 6 + 16 * 2;
  const std::size_t value_at = (key_end + 3) & ~std::size_t{3};
  if (value_length < sizeof(VS_FIXEDFILEINFO) || total < value_at + sizeof(VS_FIXEDFILEINFO))
    return 0;
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, bytes + value_at, sizeof info);
  if (info.dwSignature != 0xFEEF04BD) return 0;
  *value = const_cast<unsigned char*>(bytes + value_at);
  *length = sizeof(VS_FIXEDFILEINFO);
  return 1;
}

HANDLE GetProcessHeap() {
  static int heap;
  return &heap;
}

void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) {
  if (heap != GetProcessHeap() || bytes == 0) return nullptr;
  void* block = std::malloc(bytes);
  if (block != nullptr && (flags & HEAP_ZERO_MEMORY) != 0) std::memset(block, 0, bytes);
  return block;
}

BOOL HeapFree(HANDLE heap, DWORD, void* block) {
  if (heap != GetProcessHeap()) return 0;
  std::free(block);
  return 1;
}

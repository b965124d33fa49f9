// Fuzzes the reader of Tellumar.inf: whatever the file holds, every field
// stays inside its 261 bytes and is terminated, a path never holds the
// characters that end it, and an option is at most four characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz/memory_platform.h"
#include "package/package_files.h"
#include "state/app_state.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ResetFuzzFiles();
  PutFuzzFile("Tellumar.inf", std::string_view(reinterpret_cast<const char*>(data), size));
  // Four separate allocations of exactly 261 bytes, so that a write past
  // any of them is caught by the address sanitizer.
  auto data_file = std::make_unique<char[]>(kMaxPath);
  auto data_option = std::make_unique<char[]>(kMaxPath);
  auto loader_file = std::make_unique<char[]>(kMaxPath);
  auto loader_option = std::make_unique<char[]>(kMaxPath);
  ReadPackageDescription(data_file.get(), data_option.get(), loader_file.get(),
                         loader_option.get());

  for (const char* path : {data_file.get(), loader_file.get()}) {
    const std::size_t length = strnlen(path, kMaxPath);
    Require(length < static_cast<std::size_t>(kMaxPath));
    Require(std::strpbrk(path, " \r\n") == nullptr);
  }
  for (const char* option : {data_option.get(), loader_option.get()}) {
    Require(strnlen(option, kMaxPath) <= 4);
  }
  // The path is the input's first characters up to its first end mark.
  const std::size_t first = strnlen(data_file.get(), kMaxPath);
  Require(first <= size);
  Require(std::memcmp(data_file.get(), data, first) == 0);
  Require(FuzzMessageCount() == 0);
  Require(FuzzOpenFiles() == 0);
  return 0;
}

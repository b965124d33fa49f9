// Fuzzes the reader of Tellumar.inf: whatever the file holds, every field
// stays inside its 261 bytes and is terminated, a path never holds the
// characters that end it, and an option is at most four characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz/fuzz_require.h"
#include "fuzz/memory_platform.h"
#include "package/package_files.h"
#include "state/app_state.h"

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
    FuzzRequire(length < static_cast<std::size_t>(kMaxPath));
    FuzzRequire(std::strpbrk(path, " \r\n") == nullptr);
  }
  for (const char* option : {data_option.get(), loader_option.get()}) {
    FuzzRequire(strnlen(option, kMaxPath) <= 4);
  }
  // The path is the input's first characters up to its first end mark.
  const std::size_t first = strnlen(data_file.get(), kMaxPath);
  FuzzRequire(first <= size);
  FuzzRequire(std::memcmp(data_file.get(), data, first) == 0);
  FuzzRequire(FuzzMessageCount() == 0);
  FuzzRequire(FuzzOpenFiles() == 0);
  return 0;
}

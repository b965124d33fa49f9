// Fuzzes the record reader of the registry resume file: whatever the file
// holds, every key path stays inside its 260 bytes and is terminated, each
// record takes at least three bytes of the file (so reading ends), and the
// records are the file's NUL-ended paths, cut at 259 bytes, each followed by
// two value bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "drive/auto_insert.h"
#include "fuzz/fuzz_require.h"
#include "fuzz/memory_platform.h"
#include "platform/files.h"
#include "state/app_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ResetFuzzFiles();
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  PutFuzzFile("Tellmr1.DAT", file);
  HANDLE handle = OpenExistingFile("Tellmr1.DAT");
  FuzzRequire(handle != INVALID_HANDLE_VALUE);
  auto path = std::make_unique<char[]>(kRecordPathSize);
  std::size_t at = 0;
  std::size_t records = 0;
  int value = 0;
  for (;;) {
    const int got = ReadAutoInsertRecord(handle, path.get(), &value);
    // The same record worked out on the bytes themselves.
    const std::size_t nul = file.find('\0', at);
    const bool whole = nul != std::string_view::npos && nul + 3 <= file.size();
    if (got != 1) {
      FuzzRequire(got == 0 && !whole);
      break;
    }
    FuzzRequire(whole);
    FuzzRequire(strnlen(path.get(), kRecordPathSize) < kRecordPathSize);
    const std::string expected(
        file.substr(at, std::min<std::size_t>(nul - at, kRecordPathSize - 1)));
    FuzzRequire(std::string(path.get()) == expected);
    FuzzRequire(value == static_cast<unsigned char>(file[nul + 1]) - '0');
    at = nul + 3;
    FuzzRequire(++records * 3 <= size);
  }
  CloseFile(handle);
  FuzzRequire(FuzzOpenFiles() == 0);
  return 0;
}

// Fuzzes the reader of the launch file: whatever the file holds, each field
// lands in its own 261 bytes and is terminated there; the first three are
// the file's first three NUL-ended strings cut at 260 bytes, and the option
// is what follows them, cut the same way.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_require.h"
#include "fuzz/memory_platform.h"
#include "resume/resume_state.h"
#include "state/app_state.h"

namespace {

// The field that starts at `at`: up to its NUL (or the end), cut at 260.
std::string Field(std::string_view file, std::size_t* at, bool to_end) {
  std::size_t end = to_end ? file.size() : file.find('\0', *at);
  if (end == std::string_view::npos) end = file.size();
  std::string field(file.substr(*at, end - *at));
  *at = end < file.size() ? end + 1 : end;
  field = field.substr(0, field.find('\0'));
  return field.substr(0, kMaxPath - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ResetFuzzFiles();
  ResetAppState();
  CopyText(g_app.LaunchResumePath, kMaxPath, "C:\\WINDOWS\\Tellmr2.DAT");
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  PutFuzzFile(g_app.LaunchResumePath, file);
  // Separate allocations of exactly 261 bytes, zero-filled as the caller's
  // buffers are, so that a write past any of them is caught.
  std::unique_ptr<char[]> fields[4];
  for (auto& field : fields) field = std::make_unique<char[]>(kMaxPath);

  FuzzRequire(LoadLaunch(fields[0].get(), fields[1].get(), fields[2].get(), fields[3].get()) == 1);
  FuzzRequire(FuzzOpenFiles() == 0);
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    FuzzRequire(fields[i][kMaxPath - 1] == '\0');
    FuzzRequire(std::string(fields[i].get()) == Field(file, &at, i == 3));
  }
  return 0;
}

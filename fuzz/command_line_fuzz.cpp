// Fuzzes the program's two command lines: the input, cut at NUL bytes, is
// the argument vector of `quorvanta`; it is parsed or refused with a reason,
// and the Windows-style line built from the arguments (and the raw input as
// such a line) splits into an image name and an option that each stay inside
// their 261 bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/launcher.h"
#include "app/startup.h"
#include "fuzz/fuzz_pc.h"
#include "state/app_state.h"

namespace {

// Three separate 261-byte allocations, so that a write past one is caught.
void SplitWindowsLine(const std::string& line) {
  auto data_file = std::make_unique<char[]>(kMaxPath);
  auto data_option = std::make_unique<char[]>(kMaxPath);
  auto program = std::make_unique<char[]>(kMaxPath);
  ParseCommandLineArguments(line.c_str(), data_file.get(), data_option.get());
  ExtractProgramPath(line.c_str(), program.get());
  for (const char* field : {data_file.get(), data_option.get(), program.get()}) {
    FuzzRequire(strnlen(field, kMaxPath) < static_cast<std::size_t>(kMaxPath),
                "a field of the command line is terminated inside its buffer");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words = SplitFuzzInput(data, size, std::string_view("\0", 1), 64);
  while (!words.empty() && words.back().empty()) words.pop_back();
  std::vector<const char*> argv = {"quorvanta"};
  for (const std::string& word : words) argv.push_back(word.c_str());

  LaunchOptions options;
  std::string error;
  if (!ParseLaunchOptions(static_cast<int>(argv.size()), argv.data(), &options, &error)) {
    FuzzRequire(!error.empty(), "a usage error says why");
  } else {
    FuzzRequire(!(options.json && !options.list), "--json only with --list");
    FuzzRequire(!(options.autopilot && !options.script_path.empty()), "--yes or --script");
    FuzzRequire(options.drive_adapter <= 7 && options.drive_target <= 7, "drive address");
    SplitWindowsLine(BuildWindowsCommandLine("C:\\Quorvanta\\Quorvanta.exe", options.arguments));
  }
  SplitWindowsLine(std::string(reinterpret_cast<const char*>(data), size).c_str());
  return 0;
}

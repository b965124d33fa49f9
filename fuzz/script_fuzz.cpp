// Fuzzes the script language of the headless view: the input is a script.
// It is refused with one line naming the file and line, or it drives the
// whole program on an in-memory virtual PC with a sound package to its end;
// either way the run ends, and the view reports 0 or 2 with a reason.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/startup.h"
#include "fuzz/fuzz_pc.h"
#include "platform/dialogs/views.h"
#include "platform/sim/package_maker.h"

namespace fs = std::filesystem;

namespace {

const fs::path& ScriptPath() {
  static const fs::path path =
      FuzzScratchDir() / ("qv_script_fuzz_" + std::to_string(::getpid()) + ".txt");
  return path;
}

std::FILE* Transcript() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

struct RemoveAtExit {
  ~RemoveAtExit() {
    std::error_code ec;
    fs::remove(ScriptPath(), ec);
  }
} g_remove_at_exit;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(ScriptPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  FuzzPc pc;
  pc.base.files.files[kPackageDescriptionName] = SoundPackage().description;
  pc.base.files.files[kPackageLoaderName] = SoundPackage().loader;
  const LentImage image(pc, 0, {});

  std::string error;
  if (!StartHeadlessView(Transcript(), ScriptPath().c_str(), false, -1, -1, &error)) {
    FuzzRequire(error.rfind(ScriptPath().string() + ":", 0) == 0, "a refusal names the file");
    FuzzRequire(error.find('\n') == std::string::npos, "a refusal is one line");
    return 0;
  }
  FuzzRequire(AppMain(nullptr, nullptr) == 0, "the program returns 0");
  const int code = FinishHeadlessView(&error);
  FuzzRequire(code == 0 || (code == 2 && !error.empty()), "the view ends with 0 or 2 and why");
  FuzzRequire(pc.base.files.open_handles() == 0, "every file is closed");
  return 0;
}

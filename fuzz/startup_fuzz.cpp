// Fuzzes start-up as a whole on an in-memory virtual PC. The input holds, cut
// at lines "--next--": Tellumar.inf, the firmware image, the loader data and
// the arguments of the Windows command line. An image part that begins with
// "=" is the whole file (mostly of a wrong size); otherwise it is laid over
// a sound package image at its signature block, so that the signature and
// revision checks are reached. Whatever the package, start-up ends with exit
// code 0 and every file closed, or goes on to the main window.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "app/startup.h"
#include "fuzz/fuzz_pc.h"
#include "platform/sim/package_maker.h"
#include "state/app_state.h"

namespace {

constexpr std::size_t kSignatureOffset = 499660;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = SplitFuzzInput(data, size, "\n--next--\n", 4);
  FuzzPc pc;
  pc.base.files.files[kPackageDescriptionName] = parts[0];
  std::optional<LentImage> image;
  if (!parts[1].empty() && parts[1][0] == '=') {
    pc.base.files.files[kPackageImageName] = parts[1].substr(1);
  } else {
    image.emplace(pc, kSignatureOffset, parts[1]);
  }
  pc.base.files.files[kPackageLoaderName] = parts[2];
  pc.base.system.command_line = "\"C:\\Quorvanta\\Quorvanta.exe\"";
  // The system hands the program a C string: it ends at the first NUL.
  const std::string arguments = parts[3].substr(0, 1024).c_str();
  if (!arguments.empty()) pc.base.system.command_line += " " + arguments;

  int exit_code = -1;
  const int go_on = RunStartupChecks(nullptr, nullptr, &exit_code);
  if (!go_on) FuzzRequire(exit_code == 0, "start-up ends with exit code 0");
  FuzzRequire(pc.base.files.open_handles() == 0, "start-up closes every file");
  for (const char* field : {g_app.DataFileName, g_app.LoaderFileName, g_app.ProgramPath}) {
    FuzzRequire(strnlen(field, kMaxPath) < static_cast<std::size_t>(kMaxPath),
                "a file name of the record is terminated");
  }
  return 0;
}

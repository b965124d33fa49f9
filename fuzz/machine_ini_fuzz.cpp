// Fuzzes the reader of machine.ini: whatever the text, it is read or refused
// with one line naming the line, and settings that were read are written
// back as text that reads to the very same settings.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_pc.h"
#include "platform/sim/virtual_pc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  MachineSettings settings;
  std::string error;
  if (!ParseMachineIni(text, &settings, &error)) {
    FuzzRequire(error.rfind("line ", 0) == 0, "a refusal names the line");
    return 0;
  }
  FuzzRequire(settings.adapters >= 0 && settings.adapters <= 8, "adapters in range");
  FuzzRequire(settings.screen_width >= 320 && settings.screen_height >= 200, "screen in range");
  std::vector<ArmedFault> faults;
  FuzzRequire(ParseFaultList(settings.fail, &faults, &error), "a kept fault list parses");
  for (const ArmedFault& fault : faults) FuzzRequire(fault.nth >= 1, "faults count from 1");

  const std::string written = FormatMachineIni(settings);
  MachineSettings again;
  FuzzRequire(ParseMachineIni(written, &again, &error), "written settings read back");
  FuzzRequire(FormatMachineIni(again) == written, "written settings read back unchanged");
  return 0;
}

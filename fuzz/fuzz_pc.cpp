#include "fuzz/fuzz_pc.h"

#include <cstdio>
#include <cstdlib>

#include "drive/channel.h"
#include "platform/dialogs/model.h"
#include "state/app_state.h"

namespace {

std::vector<DriveSetup> OneDrive() {
  DriveSetup setup;
  std::string error;
  ParseDriveSetup("0:0:t71:usb", &setup, &error);
  return {setup};
}

}  // namespace

FuzzPc::FuzzPc(DWORD ticks_at_power_on)
    : clock(ticks_at_power_on, false), aspi(1, &clock, OneDrive()) {
  dialog_model::Reset();
  Platform p = CurrentPlatform();
  p.clock = &clock;
  p.aspi = &aspi;
  InstallPlatform(p);
  aspi.PowerOn();
}

FuzzPc::~FuzzPc() {
  ReleaseParkedRequests(true);
  InstallPlatform(Platform{});
}

std::vector<std::string> SplitFuzzInput(const std::uint8_t* data, std::size_t size,
                                        std::string_view mark, std::size_t count) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  while (parts.size() + 1 < count) {
    const std::size_t at = rest.find(mark);
    if (at == std::string_view::npos) break;
    parts.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + mark.size());
  }
  parts.emplace_back(rest);
  parts.resize(count);
  return parts;
}

void FuzzRequire(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz: broken promise: %s\n", what);
  std::abort();
}

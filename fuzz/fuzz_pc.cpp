#include "fuzz/fuzz_pc.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "drive/channel.h"
#include "platform/dialogs/model.h"
#include "platform/sim/package_maker.h"
#include "state/app_state.h"

namespace {

std::vector<DriveSetup> OneDrive() {
  DriveSetup setup;
  std::string error;
  ParseDriveSetup("0:0:t71:usb", &setup, &error);
  return {setup};
}

// The buffer LentImage hands out; it holds the sound image between runs.
std::string& SpareImage() {
  static std::string image = SoundPackage().image;
  return image;
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

const FuzzPackage& SoundPackage() {
  static const FuzzPackage package = [] {
    const PackageOptions options = DefaultPackage("t71");
    return FuzzPackage{MakePackageDescription(options), MakePackageImage(options),
                       MakeLoaderData(options)};
  }();
  return package;
}

LentImage::LentImage(FuzzPc& pc, std::size_t offset, std::string_view overlay) : pc_(pc) {
  std::string& image = SpareImage();
  offset_ = std::min(offset, image.size());
  length_ = std::min(overlay.size(), image.size() - offset_);
  if (length_ != 0) std::memcpy(image.data() + offset_, overlay.data(), length_);
  pc_.base.files.files[kPackageImageName] = std::move(image);
}

LentImage::~LentImage() {
  const std::string& sound = SoundPackage().image;
  std::string& image = SpareImage();
  auto it = pc_.base.files.files.find(kPackageImageName);
  if (it != pc_.base.files.files.end()) image = std::move(it->second);
  // The program only opens the image to read it; should a run have replaced
  // it anyway, the next run still starts from the sound image.
  if (image.size() != sound.size()) {
    image = sound;
  } else if (length_ != 0) {
    std::memcpy(image.data() + offset_, sound.data() + offset_, length_);
  }
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

std::filesystem::path FuzzScratchDir() {
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

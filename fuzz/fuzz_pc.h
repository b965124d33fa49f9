// What the fuzz targets that run the program stand on: an in-memory virtual
// PC (files in a map, Windows 98 in English, a virtual clock, the registry in
// memory and one emulated T71 USB drive at 0:0 without a disc), and a way to
// cut one fuzz input into the several files a run reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"
#include "tests/support/fake_pc.h"

// Installed on construction with a fresh application record and dialog
// model; uninstalled on destruction.
class FuzzPc {
 public:
  explicit FuzzPc(DWORD ticks_at_power_on = 1000);
  ~FuzzPc();
  FuzzPc(const FuzzPc&) = delete;
  FuzzPc& operator=(const FuzzPc&) = delete;

  FakePc base;  // files, system, registry
  VirtualClock clock;
  SimAspi aspi;
};

// The sound T71 package (Tellumar.inf, image, loader data), made once per
// process: making the 526,336-byte image costs more than most runs.
struct FuzzPackage {
  std::string description;
  std::string image;
  std::string loader;
};
const FuzzPackage& SoundPackage();

// Lends the process's one copy of the sound image to `pc`'s files for one
// run, with `overlay` laid over it at `offset` (cut at the image's end), so
// that no run copies or allocates the whole image. The destructor takes the
// buffer back and restores the sound image.
class LentImage {
 public:
  LentImage(FuzzPc& pc, std::size_t offset, std::string_view overlay);
  ~LentImage();
  LentImage(const LentImage&) = delete;
  LentImage& operator=(const LentImage&) = delete;

 private:
  FuzzPc& pc_;
  std::size_t offset_;
  std::size_t length_;
};

// Splits `data` at every occurrence of `mark` into at most `count` parts
// (the last one keeps the rest); missing parts are empty.
std::vector<std::string> SplitFuzzInput(const std::uint8_t* data, std::size_t size,
                                        std::string_view mark, std::size_t count);

// Where a target keeps the few real files it needs: in memory (/dev/shm)
// when the host has it, since a disk file rewritten per run costs more than
// the run.
std::filesystem::path FuzzScratchDir();

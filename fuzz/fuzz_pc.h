// What the fuzz targets that run the program stand on: an in-memory virtual
// PC (files in a map, Windows 98 in English, a virtual clock, the registry in
// memory and one emulated T71 USB drive at 0:0 without a disc), and a way to
// cut one fuzz input into the several files a run reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Splits `data` at every occurrence of `mark` into at most `count` parts
// (the last one keeps the rest); missing parts are empty.
std::vector<std::string> SplitFuzzInput(const std::uint8_t* data, std::size_t size,
                                        std::string_view mark, std::size_t count);

// Ends the fuzz run (abort: the fuzzer keeps the input) when `condition`
// is false.
void FuzzRequire(bool condition, const char* what);

// The firmware packages quorvanta-sim writes: the sample package of `init`
// and the `pack` command.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct SamplePackage {
  std::string model = "t71";  // t71 | r305
  std::string rev = "1.10";   // the image's firmware revision
};

// Writes Tellumar.inf, the image and the loader data file into `folder`.
bool WriteSamplePackage(const std::filesystem::path& folder, const SamplePackage& package,
                        std::string* error);
// `pack OUTDIR ...`; returns the exit code.
int Pack(const std::vector<std::string>& args);

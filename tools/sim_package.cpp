#include "tools/sim_package.h"

#include <cstdio>

#include "platform/sim/package_maker.h"

bool WriteSamplePackage(const std::filesystem::path& folder, const SamplePackage& package,
                        std::string* error) {
  PackageOptions options = DefaultPackage(package.model);
  options.rev = package.rev;
  return WritePackage(folder, options, error);
}

int Pack(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fprintf(stderr, "quorvanta-sim: pack needs an output directory\n");
    return 2;
  }
  PackageOptions options;
  std::string error;
  if (!ParsePackOptions(std::vector<std::string>(args.begin() + 1, args.end()), &options, &error)) {
    std::fprintf(stderr, "quorvanta-sim: %s\n", error.c_str());
    return 2;
  }
  if (!WritePackage(args[0], options, &error)) {
    std::fprintf(stderr, "quorvanta-sim: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

// The quorvanta executable: parses its options and hands over to the launcher,
// which picks the platform and the view and runs the program.
#include <cstdio>
#include <string>

#include "app/launcher.h"

int main(int argc, char** argv) {
  LaunchOptions options;
  std::string error;
  if (!ParseLaunchOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "quorvanta: %s\n", error.c_str());
    return 2;
  }
  return RunLauncher(options, argv[0]);
}

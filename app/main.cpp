// The quorvanta executable: parses its options and hands over to the launcher,
// which picks the platform and the view and runs the program.
#include <cstdio>
#include <exception>
#include <string>

#include "app/launcher.h"
#include "platform/posix/standard_streams.h"

int main(int argc, char** argv) {
  // Before any file is opened: none may take the place of a closed
  // standard stream.
  if (!OpenClosedStandardStreams()) return 2;
  // No exception may end the program uncaught: a fault that throws still
  // gives one line and exit code 2.
  try {
    LaunchOptions options;
    std::string error;
    if (!ParseLaunchOptions(argc, argv, &options, &error)) {
      std::fprintf(stderr, "quorvanta: %s\n", error.c_str());
      return 2;
    }
    return RunLauncher(options, argv[0]);
  } catch (const std::exception& e) {
    FinishInterruptedLaunch();
    std::fprintf(stderr, "quorvanta: internal error: %s\n", e.what());
    return 2;
  }
}

#include "platform/launcher.h"

#include <cstdio>

#include "app/startup.h"

int RunLauncher(const LaunchOptions& options, const char*) {
  if (options.help) {
    std::fputs(LauncherUsage(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("quorvanta 1.0");
    return 0;
  }
  return AppMain(nullptr, nullptr);
}

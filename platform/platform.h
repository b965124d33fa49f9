// The platform line: one implementation of each group, installed once at start
// (virtual PC or this host) before the logic runs. The logic never names an
// implementation; it calls the free functions of the group headers.
#pragma once

#include "platform/aspi.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"

struct Platform {
  Clock* clock = nullptr;
  AspiLayer* aspi = nullptr;
  System* system = nullptr;
  Files* files = nullptr;
  Registry* registry = nullptr;
};

// Installs the groups; passing a Platform with null members uninstalls them.
void InstallPlatform(const Platform& platform);
const Platform& CurrentPlatform();

// The end of the direct update where the computer is not shut down and the
// user turns the drive's power off and on instead (this host): the program
// then finds the drive again and says whether it runs the new firmware.
#pragma once

#include <cstdint>

// Asks for the power cycle, looks for the drive at (adapter, target), or as
// the one new drive of its model, for up to two minutes with the bar moving,
// reads its revision and shows one message: the package's revision, still
// the old one, or not back.
void ConfirmPowerCycle(std::uint8_t adapter, std::uint8_t target);

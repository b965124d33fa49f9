// Finding the drive that was written again after it restarted or had its
// power cycled: at its own address, or, when it came back elsewhere (a USB
// drive may come back on another host adapter), as the one drive of its
// model at an address that no other drive of that model held before.
#pragma once

#include <cstdint>

#include "state/app_state.h"

inline constexpr int kNoSlot = -1;

// The device-table slot of an address; kNoSlot outside the table.
int SlotOf(std::uint8_t adapter, std::uint8_t target);
bool IsFirstModel(int slot);
bool IsSecondModel(int slot);

// Asks for the host adapters again; true when there is one and ASPI is ready.
bool RefreshAspiSupport();

// The drive being written and the other drives of its model that the scans
// had taken before anything was written, so that the re-scans, which make
// whichever drive they take last the current one, cannot hand the later
// steps to another drive.
struct UpdatedDrive {
  std::uint8_t adapter;
  std::uint8_t target;
  bool t71;
  bool known_before[kDeviceSlots];
};

UpdatedDrive RememberUpdatedDrive(std::uint8_t adapter, std::uint8_t target, bool t71);

// Makes the updated drive the current one again. With `vendor_query` it must
// also answer the vendor drive-info query, as the drives of the two-stage
// update do. False when it is not back or more than one drive could be it.
bool ReturnToUpdatedDrive(const UpdatedDrive& drive, bool vendor_query);

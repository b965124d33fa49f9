#include "update/returning_drive.h"

#include <cstring>

#include "drive/channel.h"
#include "drive/discovery.h"
#include "drive/transfer.h"
#include "platform/aspi.h"

namespace {

bool SameModel(int slot, bool t71) { return t71 ? IsFirstModel(slot) : IsSecondModel(slot); }

// A supported drive of the model answers at the address now.
bool AnswersAs(std::uint8_t adapter, std::uint8_t target, bool t71, bool vendor_query) {
  // Without the vendor query only the INQUIRY tells that a drive is there,
  // and an address with nothing behind it leaves the table as it was: the
  // product id from before must not pass for an answer.
  const int slot = SlotOf(adapter, target);
  if (!vendor_query && slot != kNoSlot) g_app.DeviceProductId[slot][0] = '\0';
  g_app.AbortFlag = 0;
  InquiryStandard(adapter, target);
  if (g_app.AbortFlag != 0) {
    g_app.AbortFlag = 0;
    return false;
  }
  if (vendor_query && ProbeDriveInfo(adapter, target) == 0) {
    g_app.AbortFlag = 0;
    return false;
  }
  return SameModel(slot, t71);
}

}  // namespace

int SlotOf(std::uint8_t adapter, std::uint8_t target) {
  if (adapter >= 8 || target >= 8) return kNoSlot;
  return adapter * 8 + target;
}

bool IsFirstModel(int slot) {
  return slot != kNoSlot && std::strncmp(g_app.DeviceProductId[slot], kFirstModelId, 12) == 0;
}

bool IsSecondModel(int slot) {
  return slot != kNoSlot && std::strncmp(g_app.DeviceProductId[slot], kSecondModelId, 13) == 0;
}

bool RefreshAspiSupport() {
  g_app.AspiSupportInfo = GetASPI32SupportInfo();
  g_app.AdapterCount = static_cast<std::uint8_t>(g_app.AspiSupportInfo & 0xFF);
  return g_app.AdapterCount != 0 && ((g_app.AspiSupportInfo >> 8) & 0xFF) == SS_COMP;
}

UpdatedDrive RememberUpdatedDrive(std::uint8_t adapter, std::uint8_t target, bool t71) {
  UpdatedDrive drive{adapter, target, t71, {}};
  for (int slot = 0; slot < kDeviceSlots; ++slot) {
    drive.known_before[slot] = g_app.DeviceSupported[slot] == 1 && SameModel(slot, t71);
  }
  return drive;
}

bool ReturnToUpdatedDrive(const UpdatedDrive& drive, bool vendor_query) {
  if (AnswersAs(drive.adapter, drive.target, drive.t71, vendor_query)) {
    g_app.CurrentAdapter = drive.adapter;
    g_app.CurrentTarget = drive.target;
    return true;
  }
  int newcomers = 0;
  DrivePair found{0, 0};
  for (int adapter = 0; adapter < g_app.AdapterCount && adapter < 8; ++adapter) {
    for (int target = 0; target < 8; ++target) {
      const int slot = adapter * 8 + target;
      if (drive.known_before[slot]) continue;
      const auto a = static_cast<std::uint8_t>(adapter);
      const auto t = static_cast<std::uint8_t>(target);
      if (!AnswersAs(a, t, drive.t71, vendor_query)) continue;
      ++newcomers;
      found = DrivePair{a, t};
    }
  }
  if (newcomers != 1) return false;
  g_app.CurrentAdapter = found.adapter;
  g_app.CurrentTarget = found.target;
  return true;
}

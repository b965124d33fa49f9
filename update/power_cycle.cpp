#include "update/power_cycle.h"

#include <cstdio>
#include <cstring>

#include "drive/channel.h"
#include "drive/discovery.h"
#include "state/app_state.h"
#include "state/catalogue.h"
#include "update/returning_drive.h"
#include "update/update_drive.h"
#include "update/update_record.h"

namespace {

constexpr DWORD kLookForMs = 120000;
constexpr DWORD kWaitStepMs = 190;
// About once a second: a drive that restarts is gone for seconds, so a
// power cycle is not missed between two looks.
constexpr int kStepsPerLook = 5;
constexpr int kRevisionSize = 5;

void ShowWithRevision(const char* format, const char* revision) {
  char text[2 * kMessageSize];
  std::snprintf(text, sizeof text, format, revision);
  ShowDialogMessage(text);
}

// The drive's revision now, when it is back; false while it is not.
bool ReadReturnedRevision(const UpdatedDrive& drive, char* revision) {
  if (!ReturnToUpdatedDrive(drive, false)) return false;
  const int slot = SlotOf(g_app.CurrentAdapter, g_app.CurrentTarget);
  // The table still holds the revision from before the write.
  g_app.DeviceRevision[slot][0] = '\0';
  g_app.AbortFlag = 0;
  InquiryRevision(g_app.CurrentAdapter, g_app.CurrentTarget);
  // A drive that went again in between leaves the field empty.
  const bool read = g_app.AbortFlag == 0 && g_app.DeviceRevision[slot][0] != '\0';
  g_app.AbortFlag = 0;
  if (read) CopyText(revision, kRevisionSize, g_app.DeviceRevision[slot]);
  return read;
}

}  // namespace

void ConfirmPowerCycle(std::uint8_t adapter, std::uint8_t target) {
  const UpdatedDrive drive =
      RememberUpdatedDrive(adapter, target, IsFirstModel(SlotOf(adapter, target)));
  ShowDialogMessage(MsgPowerCycleNow());

  // The revision the new firmware reports: the image's first field, which
  // the two-stage update checks after its restart too.
  const char* expected = g_app.ImageRevisions;
  char revision[kRevisionSize] = {};
  bool back = false;
  bool went_away = false;
  DWORD elapsed = 0;
  for (;;) {
    RefreshAspiSupport();
    back = ReadReturnedRevision(drive, revision);
    if (back && std::strcmp(revision, expected) == 0) {
      ShowWithRevision(MsgPowerCycleUpdated(), revision);
      NoteRevisionAfter(revision);
      AmendUpdateRecord(kRunUpdated);
      return;
    }
    // Back from a power cycle with the old firmware: no need to wait longer.
    if (back && went_away) break;
    if (!back) went_away = true;
    if (elapsed >= kLookForMs) break;
    for (int step = 0; step < kStepsPerLook && elapsed < kLookForMs; ++step) {
      Delay(kWaitStepMs);
      AdvanceProgress(1);
      elapsed += kWaitStepMs;
    }
  }
  if (back) {
    ShowWithRevision(MsgPowerCycleStillOld(), revision);
    NoteRevisionAfter(revision);
  } else {
    ShowDialogMessage(MsgPowerCycleNotBack());
  }
  AmendUpdateRecord(kRunFailed);
}

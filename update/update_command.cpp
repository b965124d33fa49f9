#include <cstring>

#include "drive/auto_insert.h"
#include "drive/discovery.h"
#include "drive/transfer.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/hold.h"
#include "platform/system.h"
#include "resources/resource.h"
#include "resume/power.h"
#include "resume/resume_state.h"
#include "state/app_state.h"
#include "update/main_dialog.h"
#include "update/power_cycle.h"
#include "update/progress.h"
#include "update/update_drive.h"
#include "update/update_record.h"

namespace {

// About how long the image with the drive's save takes over USB 1.1.
constexpr DWORD kDirectWriteMs = 60000;

// A drive of one model must get that model's image; a drive of neither
// model passes.
bool PackageFitsDrive(const char* product_id) {
  if (std::strncmp(product_id, kSecondModelId, 13) == 0 &&
      std::strncmp(g_app.ImageModel, "RX-2210QN", 9) != 0) {
    return false;
  }
  if (std::strncmp(product_id, kFirstModelId, 12) == 0 &&
      std::strncmp(g_app.ImageModel, "T71 CDRW", 8) != 0) {
    return false;
  }
  return true;
}

void EnableButton(int id, BOOL enable) {
  EnableWindow(GetDlgItem(g_app.MainDialogWindow, id), enable);
}

// Prepares the resumed run and restarts Windows. Once the auto-insert
// settings are switched off they stay off until the restart, so a step that
// fails, the clearing itself included, puts back what the steps wrote.
void TakeRestartPath() {
  if (AskDialogQuestion(g_app.MsgRestartNow) == 0) {
    NoteUpdateOutcome(kRunCancelled);
    return;
  }
  if (SaveAndClearAutoInsert() == 0 || SaveLaunch() != 1 || SetRunEntry(kRunEntryEnable) != 1) {
    // A value that could not be put back may still read "off" while the
    // drive's notification is on: only a restart may come before a write.
    // Otherwise the next press prepares the restart again.
    if (UndoRestartPreparation() != 1) g_app.RestartPending = 1;
    ShowDialogMessage(g_app.MsgUpdateFailed);
    return;
  }
  // Until Windows has restarted the drive's auto-insert notification is
  // still on, whatever the registry now says: nothing may be written before.
  g_app.RestartPending = 1;
  // The run after the restart records the update; until then it has not
  // been made, which a scripted run's exit status says.
  DropUpdateRecord();
  RestartWindows();
}

void TakeDirectPath(std::uint8_t adapter, std::uint8_t target, bool registry_consulted) {
  for (int probe = 0; probe < 5; ++probe) TestUnitReady(adapter, target);
  if (g_app.AbortFlag != 0) {
    ShowDialogMessage(g_app.MsgUpdateFailed);
    return;
  }
  if (g_app.DriveNotReady == 0) {
    EjectMedium(adapter, target);
    ShowDialogMessage(g_app.AbortFlag == 1 ? g_app.MsgUpdateFailed : g_app.MsgRemoveCd);
    return;
  }
  ShowDialogMessage(g_app.MsgCloseApps);
  if (g_app.NoVersionCheck != 1) {
    const int order = CompareRevision(g_app.ImageRevisions);
    if (order == kDriveSame) {
      NoteUpdateOutcome(kRunUpToDate);
      ShowDialogMessage(g_app.MsgAlreadyUpdated);
      return;
    }
    if (order == kDriveNewer) {
      ShowDialogMessage(g_app.MsgWrongFile);
      return;
    }
  }
  if (AskDialogQuestion(g_app.MsgWarnings) == 0) {
    NoteUpdateOutcome(kRunCancelled);
    return;
  }
  EnableButton(IDC_UPDATE, 0);
  EnableButton(IDC_EXIT, 0);
  // A resumed run that did not look at the registry during this press
  // finishes the resume clean-up before it writes.
  if (g_app.IsNT == 0 && !registry_consulted) {
    RemoveResumeState();
    if (SetRunEntry(kRunEntryDisable) == 0) ShowDialogMessage(g_app.MsgUpdateFailed);
  }
  ShowDurationNote();
  // Held until the shutdown that ends this path has been asked for.
  BeginWriteHold(kDirectWriteMs);
  RecordWriteStarting();
  const bool transferred = TransferFirmwareImage(adapter, target) != 1;
  if (!transferred) ShowDialogMessage(g_app.MsgUpdateFailedDma);
  // The whole image went out; the shutdown's power cycle starts it.
  if (transferred) NoteUpdateOutcome(kRunUpdated);
  FinishUpdateRecord();
  EnableButton(IDC_EXIT, 1);
  // Also after a failed transfer: the power cycle is what lets the drive
  // start again.
  if (g_app.IsNT == 1) {
    ShutDownWithPrivilege();
  } else {
    ShutDownWindows();
  }
  EndWriteHold();
  // Where the user gives the drive its power cycle instead, the program can
  // then tell whether the new firmware took, which the shutdown never could.
  // A failed transfer has said what to do already.
  if (transferred && DrivePowerCycledByHand() == 1) ConfirmPowerCycle(adapter, target);
}

}  // namespace

void OnUpdatePressed(HWND) {
  const std::uint8_t adapter = g_app.SelectedAdapter;
  const std::uint8_t target = g_app.SelectedTarget;
  const char* product_id =
      adapter < 8 && target < 8 ? g_app.DeviceProductId[adapter * 8 + target] : "";
  if (!PackageFitsDrive(product_id)) {
    g_app.RunOutcome = kRunNoDrive;
    ShowDialogMessage(g_app.MsgInvalidData);
    return;
  }
  if (g_app.RestartPending == 1) {
    if (AskDialogQuestion(g_app.MsgRestartNow) == 1) RestartWindows();
    return;
  }
  // An update carried across a restart is one entry, the resumed run's.
  const char* resumed = g_app.ResumedLaunch == 1 ? kPathRestart : nullptr;
  if (g_app.IsNT == 0 && ProbeDriveInfo(adapter, target) == 1) {
    BeginUpdateRecord(adapter, target, resumed != nullptr ? resumed : kPathTwoStage);
    UpdateDrive(adapter, target);
    FinishUpdateRecord();
    EnableButton(IDC_EXIT, 1);
    return;
  }
  bool registry_consulted = false;
  if (g_app.NoRestartNeeded == 0) {
    registry_consulted = true;
    if (IsAutoInsertEnabled() == 0) g_app.NoRestartNeeded = 1;
  }
  if (g_app.NoRestartNeeded == 1) {
    BeginUpdateRecord(adapter, target, resumed != nullptr ? resumed : kPathDirect);
    TakeDirectPath(adapter, target, registry_consulted);
  } else {
    BeginUpdateRecord(adapter, target, kPathRestart);
    TakeRestartPath();
  }
  FinishUpdateRecord();
}

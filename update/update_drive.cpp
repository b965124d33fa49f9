#include "update/update_drive.h"

#include <cstring>

#include "drive/channel.h"
#include "drive/discovery.h"
#include "drive/transfer.h"
#include "package/package_files.h"
#include "platform/aspi.h"
#include "platform/dialogs.h"
#include "platform/hold.h"
#include "resources/resource.h"
#include "state/app_state.h"
#include "state/catalogue.h"
#include "update/progress.h"
#include "update/returning_drive.h"
#include "update/update_record.h"

namespace {

constexpr DWORD kImageSettleMs = 70000;   // the drive restarts from the loaded code
constexpr DWORD kLoaderSettleMs = 30000;  // the drive flashes the loader data
// About how long the rest takes, for a user who asked to stop meanwhile:
// the image over USB 1.1 with the drive's save, the scans after a stage.
constexpr DWORD kImageStageMs = 60000;
constexpr DWORD kScanPassesMs = 30000;
constexpr DWORD kWaitStepMs = 190;
constexpr int kScanPasses = 25;
constexpr int kConfirmationSize = 1200;
constexpr int kImageChunksBeforeFinal = 256;
// Waits `ms` in 190 ms steps, moving the bar one count per step.
void TimedWait(DWORD ms) {
  for (DWORD elapsed = 0; elapsed < ms; elapsed += kWaitStepMs) {
    Delay(kWaitStepMs);
    AdvanceProgress(1);
  }
}

// While the drive restarts, an address that does not answer in time is no
// failure: every pass starts with a clear AbortFlag and shows nothing.
void ScanPasses() {
  for (int pass = 0; pass < kScanPasses; ++pass) {
    g_app.AbortFlag = 0;
    ScanDrivesQuietly(3);
    AdvanceProgress(1);
  }
  g_app.AbortFlag = 0;
}

int Stop(const char* text) {
  ShowDialogMessage(text);
  return kUpdateStopped;
}

void AssembleConfirmation(char* text) {
  text[0] = '\0';
  AppendText(text, kConfirmationSize, g_app.MsgWarnNoAbort);
  AppendText(text, kConfirmationSize, MsgWarnUsbPower());
  AppendText(text, kConfirmationSize, g_app.MsgWarnCloseApps);
  AppendText(text, kConfirmationSize, g_app.MsgWarnRemoveCd);
}

// The image stage; kUpdateFinished when the drive took the whole image.
int WriteImage(DWORD waits_after_ms) {
  for (int k = 0; k < kImageChunksBeforeFinal; ++k) {
    if (SendImageChunk(k) == 0) {
      ShowDialogMessage(MsgLoaderCmdRefused());
      return kUpdateStopped;
    }
    if (k % 3 == 1) ++g_app.ProgressCount;
    PaintProgress(g_app.ProgressCount);
    SetWriteHoldRemaining(static_cast<DWORD>(kImageChunksBeforeFinal - k) * kChunkEstimateMs +
                          waits_after_ms);
  }
  if (SendImageFinal(kImageChunksBeforeFinal) == 0) return Stop(MsgFlashFailedRetry());
  if (FinishImageLoad() == 0) return Stop(MsgFlashFailedRetry());
  return kUpdateFinished;
}

bool ModelCodeAccepted(const VersionValues& values) {
  const int code = g_app.DriveModelCode;
  if (values.t71) return code == values.long_model || code == values.model_code;
  return code == values.model_code;
}

// The loader stage, from the wait for the restarted drive to the check of
// the new version code.
int WriteLoaderData(const UpdatedDrive& drive, const VersionValues& values, bool image_written) {
  if (image_written) TimedWait(kImageSettleMs);
  SetWriteHoldRemaining(kScanPassesMs + kLoaderSettleMs + kScanPassesMs);
  // The loader data as checked before the write, not the file again.
  if (LoaderBytesLoaded() == 0) return Stop(g_app.MsgNoDataFile);
  if (!RefreshAspiSupport()) return Stop(g_app.MsgNoDevice);
  ScanPasses();
  if (ScanDrivesQuietly(2) == 0) return Stop(g_app.MsgNoDevice);
  if (!ReturnToUpdatedDrive(drive, true)) return Stop(g_app.MsgNoDevice);

  const int current = SlotOf(g_app.CurrentAdapter, g_app.CurrentTarget);
  InquiryRevision(g_app.CurrentAdapter, g_app.CurrentTarget);
  if (g_app.AbortFlag == 1) return Stop(g_app.MsgNoDevice);
  NoteRevisionAfter(g_app.DeviceRevision[current]);
  if (std::strcmp(g_app.DeviceRevision[current], g_app.ImageRevisions) != 0) {
    return Stop(MsgFlashFailedRetry());
  }
  if (ReadDriveInfo() == 0) return Stop(g_app.MsgNoDevice);
  if (!ModelCodeAccepted(values)) return Stop(MsgModelNotProper());
  if (LoaderChecksumOk() == 0) return Stop(MsgChecksumWrong());
  if (SendLoaderData() == 0) return Stop(MsgDownloadCmdRefused());
  SetWriteHoldRemaining(kLoaderSettleMs + kScanPassesMs);
  TimedWait(kLoaderSettleMs);
  if (!RefreshAspiSupport()) return Stop(g_app.MsgNoDevice);
  ScanPasses();
  // The passes take every drive in turn; the check belongs to the one written.
  if (!ReturnToUpdatedDrive(drive, true)) return Stop(g_app.MsgNoDevice);
  if (ReadDriveInfo() == 0) return Stop(g_app.MsgNoDevice);
  NoteVersionCodeAfter(g_app.DriveVersionCode);
  const int x = g_app.DriveVersionCode;
  if (x == values.primary) return kUpdateFinished;
  if (!values.t71) return Stop(MsgFlashFailedRetry());
  if (x == values.secondary) return kUpdateFinished;
  return Stop(MsgModelNotProper());
}

}  // namespace

void ShowDialogMessage(const char* text) {
  NoteUpdateMessage(text);
  MessageBoxExA(g_app.MainDialogWindow, text, "Quorvanta", MB_OK, g_app.MessageLanguage);
}

int AskDialogQuestion(const char* text) {
  return MessageBoxExA(g_app.MainDialogWindow, text, "Quorvanta", MB_OKCANCEL,
                       g_app.MessageLanguage) == IDOK
             ? 1
             : 0;
}

int CompareRevision(const char* revisions) {
  char drive[5];
  const int slot = SlotOf(g_app.SelectedAdapter, g_app.SelectedTarget);
  CopyText(drive, sizeof drive, slot == kNoSlot ? "" : g_app.DeviceRevision[slot]);
  char package[5];
  std::memcpy(package, revisions + 10, 4);
  package[4] = '\0';
  const int order = std::strcmp(drive, package);  // compares bytes as unsigned
  if (order == 0) return kDriveSame;
  return order > 0 ? kDriveNewer : kDriveOlder;
}

VersionValues VersionValuesFor(bool t71, const unsigned char digits[4]) {
  const int model_code = PackedPair(static_cast<char>(digits[0]), static_cast<char>(digits[1]));
  // The version values are bytes like the drive's version code; the model
  // code stays the whole integer, so digits that are no decimal pair never
  // wrap onto a drive's one-byte model code.
  const int pair = PackedPair(static_cast<char>(digits[2]), static_cast<char>(digits[3])) & 0xFF;
  if (t71) return VersionValues{digits[3], pair, model_code, digits[0] * 256 + digits[1], true};
  return VersionValues{pair, 0, model_code, digits[0] * 256 + digits[1], false};
}

int CodeOrder(std::uint8_t version_code, const VersionValues& values) {
  const int x = version_code;
  int order = 0;
  if (x > values.primary) order = kDriveNewer;
  if (x == values.primary || x == values.secondary) order = kDriveSame;
  if (x < values.primary || x < values.secondary) order = kDriveOlder;
  return order;
}

namespace {

// The stages that are due, then the outcome in one message.
int WriteStages(const UpdatedDrive& drive, const VersionValues& values, bool image_due,
                bool loader_due) {
  const DWORD loader_ms =
      loader_due ? kImageSettleMs + kScanPassesMs + kLoaderSettleMs + kScanPassesMs : 0;
  if (image_due && WriteImage(loader_ms) != kUpdateFinished) return kUpdateStopped;
  if (loader_due && WriteLoaderData(drive, values, image_due) != kUpdateFinished) {
    return kUpdateStopped;
  }
  g_app.ProgressCount = 1000;
  PaintProgress(1000);
  ShowDialogMessage(MsgLoadSucceeded());
  return kUpdateFinished;
}

}  // namespace

int UpdateDrive(std::uint8_t adapter, std::uint8_t target) {
  for (int probe = 0; probe < 5; ++probe) TestUnitReady(adapter, target);
  if (g_app.AbortFlag != 0) {
    // A press that ends without a word looks like a dead button.
    ShowDialogMessage(g_app.MsgUpdateFailed);
    return kUpdateFinished;
  }
  if (g_app.DriveNotReady == 0) {
    EjectMedium(adapter, target);
    return Stop(g_app.AbortFlag == 1 ? g_app.MsgUpdateFailed : g_app.MsgRemoveCd);
  }
  ShowDialogMessage(g_app.MsgCloseApps);
  g_app.CurrentAdapter = adapter;
  g_app.CurrentTarget = target;
  if (LoaderBytesLoaded() == 0) return Stop(g_app.MsgNoDataFile);
  // Tested now, while nothing is written: a damaged file found only after
  // the image stage would leave the new image with the old loader.
  const bool checksum_ok = LoaderChecksumOk() == 1;

  const bool t71 = IsFirstModel(SlotOf(adapter, target));
  unsigned char digits[4];
  for (int k = 0; k < 4; ++k)
    digits[k] = static_cast<unsigned char>(LoaderByte(VersionDigitsOffset + k));
  const VersionValues values = VersionValuesFor(t71, digits);
  const int revision_order = CompareRevision(g_app.ImageRevisions);
  if (ReadDriveInfo() == 0) return Stop(g_app.MsgNoDevice);
  NoteVersionCodeBefore(g_app.DriveVersionCode);
  const int code_order = CodeOrder(g_app.DriveVersionCode, values);
  const bool image_due = g_app.NoVersionCheck == 1 || revision_order == kDriveOlder;
  const bool loader_due = g_app.NoLoaderVersionCheck == 1 || code_order == kDriveOlder;
  // The refusals come after the confirmation, as they always have.
  const char* refusal = nullptr;
  if ((g_app.NoVersionCheck == 0 && revision_order < kDriveSame) ||
      (g_app.NoLoaderVersionCheck == 0 && code_order < kDriveSame)) {
    refusal = g_app.MsgWrongFile;
  } else if (!image_due && code_order == kDriveSame) {
    refusal = g_app.MsgAlreadyUpdated;
  }
  if (refusal == nullptr && loader_due && !checksum_ok) return Stop(MsgChecksumWrong());

  char confirmation[kConfirmationSize];
  AssembleConfirmation(confirmation);
  if (AskDialogQuestion(confirmation) == 0) {
    NoteUpdateOutcome(kRunCancelled);
    return kUpdateFinished;
  }
  EnableWindow(GetDlgItem(g_app.MainDialogWindow, IDC_UPDATE), 0);
  EnableWindow(GetDlgItem(g_app.MainDialogWindow, IDC_EXIT), 0);
  ShowDurationNote();
  if (refusal != nullptr) {
    if (refusal == g_app.MsgAlreadyUpdated) NoteUpdateOutcome(kRunUpToDate);
    ShowDialogMessage(refusal);
    return kUpdateRefused;
  }
  // From here until the outcome is shown nothing may cut the write short.
  DWORD expected_ms = 0;
  if (image_due) expected_ms += kImageStageMs;
  if (image_due && loader_due) expected_ms += kImageSettleMs + kScanPassesMs;
  if (loader_due) expected_ms += kLoaderSettleMs + kScanPassesMs;
  BeginWriteHold(expected_ms);
  RecordWriteStarting();
  const int result =
      WriteStages(RememberUpdatedDrive(adapter, target, t71), values, image_due, loader_due);
  if (result == kUpdateFinished) NoteUpdateOutcome(kRunUpdated);
  // On the disk before a held signal may end the program.
  FinishUpdateRecord();
  EndWriteHold();
  return result;
}

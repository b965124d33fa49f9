#include "state/catalogue.h"

#include <cstring>

#include "state/app_state.h"
#include "state/catalogue_texts.h"

namespace {

constexpr std::uint16_t kJapanese = 0x11;

using MessageBuffer = char (AppState::*)[kMessageSize];

// The catalogue's buffers, in the order of kCatalogueMessages.
constexpr MessageBuffer kMessageBuffers[] = {
    &AppState::MsgAlreadyUpdated,  &AppState::MsgMayTakeMinutes, &AppState::MsgRestartNow,
    &AppState::MsgUpdateFailed,    &AppState::MsgCloseApps,      &AppState::MsgNoDevice,
    &AppState::MsgWrongFile,       &AppState::MsgInvalidData,    &AppState::MsgReadFailed,
    &AppState::MsgAccessFailed,    &AppState::MsgBadSize,        &AppState::MsgNoDataFile,
    &AppState::MsgUpdateFailedDma, &AppState::MsgRemoveCd,       &AppState::MsgWarnNoAbort,
    &AppState::MsgWarnCloseApps,   &AppState::MsgWarnRemoveCd,   &AppState::MsgWarnPowerCycle,
};
static_assert(sizeof kMessageBuffers / sizeof kMessageBuffers[0] == kCatalogueMessageCount);

bool Japanese() { return g_app.PrimaryLanguage == kJapanese; }

const char* UpdateText(int index) {
  return Japanese() ? kUpdateTextsCp932[index] : kUpdateTexts[index].english;
}

const char* HostText(int index) {
  return Japanese() ? kHostTextsCp932[index] : kHostTexts[index].english;
}

const char* PackageFolderText(int index) {
  return Japanese() ? kPackageFolderTextsCp932[index] : kPackageFolderTexts[index].english;
}

}  // namespace

void FillCatalogue() {
  std::memset(g_app.AgreementText, 0, sizeof g_app.AgreementText);
  const bool japanese = Japanese();

  const int lines = japanese ? kJapaneseAgreementLines : kEnglishAgreementLines;
  for (int i = 0; i < lines; ++i) {
    const char* line = japanese ? kJapaneseAgreementCp932[i] : kEnglishAgreement[i];
    CopyText(g_app.AgreementText + i * kAgreementSlotSize, kAgreementSlotSize, line);
  }

  for (int i = 0; i < kCatalogueMessageCount; ++i) {
    const char* text = japanese ? kCatalogueMessagesCp932[i] : kCatalogueMessages[i].english;
    CopyText(g_app.*kMessageBuffers[i], kMessageSize, text);
  }
  CopyText(g_app.AgreementLabelAccept, sizeof g_app.AgreementLabelAccept,
           japanese ? kAgreementLabelsCp932[0] : kAgreementLabels[0].english);
  CopyText(g_app.AgreementLabelDecline, sizeof g_app.AgreementLabelDecline,
           japanese ? kAgreementLabelsCp932[1] : kAgreementLabels[1].english);

  // The four warnings as one text for the confirmation before an update;
  // each of the first three carries its own line break.
  CopyText(g_app.MsgWarnings, sizeof g_app.MsgWarnings, g_app.MsgWarnNoAbort);
  AppendText(g_app.MsgWarnings, sizeof g_app.MsgWarnings, g_app.MsgWarnCloseApps);
  AppendText(g_app.MsgWarnings, sizeof g_app.MsgWarnings, g_app.MsgWarnRemoveCd);
  AppendText(g_app.MsgWarnings, sizeof g_app.MsgWarnings, g_app.MsgWarnPowerCycle);
}

const char* MsgFlashFailedRetry() { return UpdateText(0); }
const char* MsgLoaderCmdRefused() { return UpdateText(1); }
const char* MsgDownloadCmdRefused() { return UpdateText(2); }
const char* MsgModelNotProper() { return UpdateText(3); }
const char* MsgChecksumWrong() { return UpdateText(4); }
const char* MsgLoadSucceeded() { return UpdateText(5); }
const char* MsgWarnUsbPower() { return UpdateText(6); }

const char* MsgPowerCycleNow() { return HostText(0); }
const char* MsgPowerCycleUpdated() { return HostText(1); }
const char* MsgPowerCycleStillOld() { return HostText(2); }
const char* MsgPowerCycleNotBack() { return HostText(3); }
const char* MsgNoRightsToDrive() { return HostText(4); }
const char* MsgNoSgNode() { return HostText(5); }
const char* MsgDrivesRefused() { return HostText(6); }
const char* MsgDrivesBusy() { return HostText(7); }
const char* MsgNoVantrosDrive() { return HostText(8); }

const char* MsgChoosePackageFolder() { return PackageFolderText(0); }
const char* MsgPackageFolderPrompt() { return PackageFolderText(1); }
const char* MsgFolderSearched() { return PackageFolderText(2); }
const char* MsgNoSuchFolder() { return PackageFolderText(3); }
const char* MsgNoPackageInFolder() { return PackageFolderText(4); }

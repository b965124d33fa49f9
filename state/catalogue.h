// The message catalogue: every text the program shows, in English or in
// Japanese (code page 932), filled once at start-up by PrimaryLanguage.
#pragma once

// Fills every message buffer, the agreement labels, MsgWarnings and the
// agreement text of g_app in the language that g_app.PrimaryLanguage selects.
void FillCatalogue();

// Texts of the update procedure that pick their language where they are
// shown: English or Japanese by g_app.PrimaryLanguage at the moment of the call.
const char* MsgFlashFailedRetry();
const char* MsgLoaderCmdRefused();
const char* MsgDownloadCmdRefused();
const char* MsgModelNotProper();
const char* MsgChecksumWrong();
const char* MsgLoadSucceeded();
const char* MsgWarnUsbPower();

// This host's texts after the direct update's power cycle, in the language
// g_app.PrimaryLanguage selects; "%s" in the last three stands for the
// revision the drive reports.
const char* MsgPowerCycleNow();
const char* MsgPowerCycleUpdated();
const char* MsgPowerCycleStillOld();
const char* MsgPowerCycleNotBack();

// Beside the "no device" message, where a drive's device is there but the
// program may not open it (no administrator rights), in the run's language.
const char* MsgNoRightsToDrive();
// Beside it on this host, what the scan found where it found no drive, in
// the run's language; "%d" stands for how many devices it names.
const char* MsgNoSgNode();
const char* MsgDrivesRefused();
const char* MsgDrivesBusy();
const char* MsgNoVantrosDrive();

// This host's texts for a start without a firmware package, in the language
// g_app.PrimaryLanguage selects: the folder chooser's title, the terminal's
// question, and the line naming the folder searched ("%s" for it).
const char* MsgChoosePackageFolder();
const char* MsgPackageFolderPrompt();
const char* MsgFolderSearched();
// What was wrong with the folder answered ("%s" for it), before the question
// is asked again.
const char* MsgNoSuchFolder();
const char* MsgNoPackageInFolder();

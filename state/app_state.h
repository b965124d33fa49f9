// AppState: the one process-wide record of shared state, zero-filled at start
// (the package copies: what their byte counts say was read; the command
// buffer: what the command in hand put there).
// Every room reads and writes its fields directly on the one UI thread.
// Strings are NUL-terminated code-page bytes in fixed buffers; flags are
// 32-bit integers holding 0 or 1.
#pragma once

#include <cstdint>

#include "platform/aspi.h"
#include "platform/history.h"
#include "platform/types.h"

inline constexpr int kMessageSize = 300;
inline constexpr int kSharedBufferSize = 0xC000;  // 49,152 bytes
inline constexpr int kImageDataSize = 0x80800;    // 526,336 bytes: 257 chunks of 2048
inline constexpr int kDeviceSlots = 64;           // adapter * 8 + target
inline constexpr int kAgreementSlots = 100;
inline constexpr int kAgreementSlotSize = 50;

// How the run ended, where that is known (RunOutcome): the update's result,
// or why none could be made. The top turns it into the exit status of a
// scripted run; the interactive views end with 0 whatever it says.
inline constexpr int kRunNoUpdate = 0;        // nothing asked for, or only declined
inline constexpr int kRunUpdated = 1;         // the drive took the package's firmware
inline constexpr int kRunUpToDate = 2;        // it had it already
inline constexpr int kRunFailed = 3;          // an update failed or could not start
inline constexpr int kRunCancelled = 4;       // the user answered Cancel to the update
inline constexpr int kRunNoDrive = 5;         // no drive the package can update
inline constexpr int kRunPackageRefused = 6;  // a package check failed at start-up
inline constexpr int kRunAnotherCopy = 7;     // another copy of the program is running

struct DrivePair {
  std::uint8_t adapter;
  std::uint8_t target;
};

struct AppState {
  // --- start-up ---
  HANDLE InstanceMutex;
  HINSTANCE AppInstance;
  std::int32_t IsNT;
  std::uint16_t PrimaryLanguage;  // user language id AND 0x3FF; 0x11 is Japanese
  std::uint16_t MessageLanguage;  // the full user language id, for message boxes
  char RegistryResumePath[kMaxPath];
  char LaunchResumePath[kMaxPath];
  std::int32_t NoRestartNeeded;
  char DataFileName[kMaxPath];
  char LoaderFileName[kMaxPath];
  std::int32_t NoVersionCheck;
  std::int32_t NoLoaderVersionCheck;
  char ProgramPath[kMaxPath];
  DWORD AspiSupportInfo;
  std::uint8_t AdapterCount;
  HWND MainWindow;

  // --- message catalogue ---
  char MsgAlreadyUpdated[kMessageSize];
  char MsgMayTakeMinutes[kMessageSize];
  char MsgRestartNow[kMessageSize];
  char MsgUpdateFailed[kMessageSize];
  char MsgCloseApps[kMessageSize];
  char MsgNoDevice[kMessageSize];
  char MsgWrongFile[kMessageSize];
  char MsgInvalidData[kMessageSize];
  char MsgReadFailed[kMessageSize];
  char MsgAccessFailed[kMessageSize];
  char MsgBadSize[kMessageSize];
  char MsgNoDataFile[kMessageSize];
  char MsgUpdateFailedDma[kMessageSize];
  char MsgRemoveCd[kMessageSize];
  char MsgWarnNoAbort[kMessageSize];
  char MsgWarnCloseApps[kMessageSize];
  char MsgWarnRemoveCd[kMessageSize];
  char MsgWarnPowerCycle[kMessageSize];
  char AgreementLabelAccept[16];
  char AgreementLabelDecline[16];
  char MsgWarnings[1200];
  char AgreementText[kAgreementSlots * kAgreementSlotSize];

  // --- command channel ---
  std::int32_t AbortFlag;
  std::int32_t TargetBusyFlag;
  SRB_ExecSCSICmd SharedRequest;
  BYTE SharedBuffer[kSharedBufferSize];
  std::uint8_t CurrentAdapter;
  std::uint8_t CurrentTarget;

  // --- drive discovery ---
  char DeviceProductId[kDeviceSlots][20];
  char DeviceRevision[kDeviceSlots][5];
  std::int32_t DeviceSupported[kDeviceSlots];
  std::int32_t DriveNotReady;
  std::int32_t FirstModelCount;
  std::int32_t SecondModelCount;

  // --- transfer commands ---
  std::int32_t DriveInfoValid;
  std::uint8_t DriveVersionCode;
  std::uint8_t DriveModelCode;

  // --- package ---
  // The image and the loader data as they were checked, read once: every
  // byte sent comes from here, whatever happens to the files afterwards.
  BYTE ImageData[kImageDataSize];
  std::int32_t ImageDataBytes;
  BYTE LoaderData[kSharedBufferSize];
  std::int32_t LoaderDataBytes;
  char ImageModel[10];
  char ImageRevisions[15];  // three fields of 4 characters and a NUL

  // --- main dialog, drive rows, progress ---
  HWND MainDialogWindow;
  std::uint8_t SelectedAdapter;
  std::uint8_t SelectedTarget;
  DrivePair ListedDrives[4];
  // The version code each listed drive answered the drive information query
  // with, or -1 where it did not (an ATAPI drive).
  std::int32_t ListedVersionCodes[4];
  std::int32_t ProgressCount;
  // 1 once the restart of a prepared update was asked for in this run: the
  // registry change takes effect only after it, so a later UPDATE asks for
  // the restart again and writes nothing.
  std::int32_t RestartPending;
  // One of the kRun values above, set where the outcome is known.
  std::int32_t RunOutcome;
  // 1 when this launch continues an update prepared before a restart.
  std::int32_t ResumedLaunch;
  // The history entry of the update in hand and how far it has gone
  // (update/update_record.h).
  HistoryEntry UpdateRecord;
  std::int32_t UpdateRecordStage;
  // The last message box the update showed, which becomes its outcome.
  char LastUpdateMessage[640];

  // --- agreement dialog ---
  std::int32_t LastLine;
  std::int32_t VisibleLines;
  std::int32_t TopLine;
};

// The record itself. ResetAppState() clears it alone, all but the bytes of
// SharedBuffer, ImageData and LoaderData (the copies' counts go to 0); ResetLaunch()
// (app/launch.h) clears it with everything else a launch holds.
extern AppState g_app;
void ResetAppState();

// Index of `character` in `text` counted from `start`, plus 1; 0 when it is
// not within the first 999 bytes from `start`. FindCharFrom(0, '\0', s) is
// strlen(s) + 1.
int FindCharFrom(int start, char character, const char* text);
// True when an existing file can be opened.
int FileExists(const char* path);

// Bounded copy: copies at most size - 1 bytes and always terminates.
void CopyText(char* destination, int size, const char* source);
// Bounded append, same rule.
void AppendText(char* destination, int size, const char* source);

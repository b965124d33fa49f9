#include "drive/transfer.h"

#include <cstring>

#include "drive/channel.h"
#include "drive/opcodes.h"
#include "platform/clock.h"
#include "platform/hold.h"
#include "state/app_state.h"
#include "state/loader_data.h"

namespace {

constexpr DWORD kChunkTimeoutMs = 60000;
constexpr DWORD kQueryTimeoutMs = 60000;
constexpr DWORD kSaveDeadlineMs = 120000;
constexpr int kSaveTicks = 400;
constexpr int kChunkAttempts = 10;

// Shared-request polling: step and limit of each command.
constexpr DWORD kImageStepMs = 10;
constexpr DWORD kImageLimitMs = 10000;
constexpr DWORD kSaveStepMs = 190;
constexpr DWORD kSaveLimitMs = 40000;
constexpr DWORD kVendorStepMs = 190;
constexpr DWORD kVendorLimitMs = 20000;

CommandSetup WriteBufferSetup(std::uint8_t adapter, std::uint8_t target, const BYTE* cdb,
                              BYTE length, BYTE* chunk_buffer) {
  return CommandSetup{adapter,          target,       SRB_DIR_OUT, cdb,    length,
                      kChunkBufferSize, chunk_buffer, 0,           nullptr};
}

// Image chunk `index` of the image as checked, or null when there is none
// (no image read, or an index beyond it).
const BYTE* CheckedChunk(int index) {
  if (index < 0 || index >= kImageChunks) return nullptr;
  const DWORD offset = static_cast<DWORD>(index) * kImageChunkBytes;
  if (static_cast<DWORD>(g_app.ImageDataBytes) < offset + kImageChunkBytes) return nullptr;
  return g_app.ImageData + offset;
}

int SendImage(int index, BYTE mode, DWORD step_ms, DWORD limit_ms, bool progress) {
  if (index < 0) return 0;
  BYTE cdb[kCdbSize];
  const DWORD offset = static_cast<DWORD>(index) * kImageChunkBytes;
  if (BuildWriteBufferCdb(cdb, mode, offset, kImageChunkBytes, kCdb12) == 0) return 0;
  const BYTE* chunk = CheckedChunk(index);
  if (chunk == nullptr) return 0;
  std::memcpy(g_app.SharedBuffer, chunk, kImageChunkBytes);
  return RunSharedCommand(cdb, SRB_DIR_OUT, kImageChunkBytes, step_ms, limit_ms, progress) ? 1 : 0;
}

}  // namespace

int TransferFirmwareImage(std::uint8_t adapter, std::uint8_t target) {
  // Only the image as checked is ever sent; without it nothing is.
  if (CheckedChunk(kImageChunks - 1) == nullptr) {
    g_app.AbortFlag = 1;
    return 1;
  }
  for (int chunk = 0; chunk < kImageChunks; ++chunk) {
    BYTE* buffer = NewChunkBuffer();
    std::memcpy(buffer, CheckedChunk(chunk), kImageChunkBytes);
    const DWORD offset = static_cast<DWORD>(chunk) * kImageChunkBytes;
    if (offset < kFinalChunkOffset) {
      for (int attempt = 0; attempt < kChunkAttempts; ++attempt) {
        g_app.TargetBusyFlag = 0;
        WriteBufferChunk(adapter, target, kModeDownload, offset, buffer);
        if (g_app.TargetBusyFlag == 0) break;
      }
      // Still BUSY after the last attempt: the drive never took this chunk,
      // so saving the image later would write a broken firmware.
      if (g_app.TargetBusyFlag != 0) g_app.AbortFlag = 1;
      AdvanceProgress(1);
    } else {
      g_app.TargetBusyFlag = 0;
      WriteBufferFinal(adapter, target, kModeDownloadSave, offset, buffer);
      ReportProgress(1000);
    }
    ReleaseChunkBuffer(buffer);
    if (g_app.AbortFlag == 1) break;
    SetWriteHoldRemaining(static_cast<DWORD>(kImageChunks - 1 - chunk) * kChunkEstimateMs);
  }
  return g_app.AbortFlag;
}

namespace {

// Builds the 10-byte WRITE BUFFER block of a chunk. 0 (with AbortFlag set)
// when the offset or mode cannot be put into it or there is no buffer.
BYTE PrepareWriteBuffer(BYTE* cdb, std::uint8_t mode, DWORD offset, const BYTE* chunk_buffer) {
  const BYTE length = BuildWriteBufferCdb(cdb, mode, offset, kImageChunkBytes, kCdb10);
  if (length == 0 || chunk_buffer == nullptr) {
    g_app.AbortFlag = 1;
    return 0;
  }
  return length;
}

}  // namespace

void WriteBufferChunk(std::uint8_t adapter, std::uint8_t target, std::uint8_t mode, DWORD offset,
                      BYTE* chunk_buffer) {
  BYTE cdb[kCdbSize];
  const BYTE length = PrepareWriteBuffer(cdb, mode, offset, chunk_buffer);
  if (length == 0) return;
  SRB_ExecSCSICmd* request =
      RunCommand(WriteBufferSetup(adapter, target, cdb, length, chunk_buffer), kChunkTimeoutMs);
  if (request == nullptr) return;  // timed out: AbortFlag is set
  switch (ClassifyAnswer(*request)) {
    case Answer::kGood:
      break;
    case Answer::kBusy:
      g_app.TargetBusyFlag = 1;
      g_app.AbortFlag = 0;
      break;
    default:
      g_app.AbortFlag = 1;
      break;
  }
  ReleaseCommandRequest(request);
}

void WriteBufferFinal(std::uint8_t adapter, std::uint8_t target, std::uint8_t mode, DWORD offset,
                      BYTE* chunk_buffer) {
  BYTE cdb[kCdbSize];
  const BYTE length = PrepareWriteBuffer(cdb, mode, offset, chunk_buffer);
  if (length == 0) return;
  SRB_ExecSCSICmd* request =
      NewCommandRequest(WriteBufferSetup(adapter, target, cdb, length, chunk_buffer));
  SubmitRequest(request);

  // The save is watched by the tenths digit of the tick count; an SS_ERR
  // answer does not end the wait but counts like a pending command, without
  // progress, until the 400th tick.
  const DWORD start = GetTickCount();
  DWORD last_digit = start & 0xF000;
  int ticks = 0;
  bool timed_out = false;
  BYTE status = SS_PENDING;
  for (;;) {
    const DWORD now = GetTickCount();
    status = request->SRB_Status;
    const bool ended = status != SS_PENDING && status != SS_ERR;
    const DWORD elapsed = now - start;
    if (!ended && elapsed > kSaveDeadlineMs) timed_out = true;
    const DWORD digit = (now / 100) % 10;
    if (digit != last_digit) {
      last_digit = digit;
      if (status != SS_ERR) AdvanceProgress(2);
      ++ticks;
    }
    if (ticks >= kSaveTicks) {
      if (status == SS_ERR || status == SS_PENDING) {
        EndRequest(request, status == SS_PENDING);
        g_app.AbortFlag = 1;
        ReleaseCommandRequest(request);
        return;
      }
      break;
    }
    if (ended || timed_out) break;
    // Nothing can change before the next tenth or the deadline, except the
    // command ending (which an SS_ERR command has already done).
    DWORD wait = 100 - now % 100;
    // The count wraps at 2^32, which is no multiple of 100: the digit also
    // changes at reading 0, so the wait must stop there too.
    const DWORD to_wrap = 0u - now;
    if (to_wrap != 0 && to_wrap < wait) wait = to_wrap;
    const DWORD to_deadline = kSaveDeadlineMs - elapsed + 1;
    if (to_deadline < wait) wait = to_deadline;
    WaitTicks(status == SS_PENDING ? request : nullptr, wait);
  }
  EndRequest(request, timed_out);
  if (timed_out) {
    g_app.AbortFlag = 1;
  } else {
    g_app.AbortFlag = status == SS_COMP ? 0 : 1;
  }
  ReleaseCommandRequest(request);
}

void StoreDriveInfo(SRB_ExecSCSICmd* request) {
  if (request->CDBByte[0] != kOpDriveInfoQuery) return;
  if (request->SRB_Status != SS_COMP || request->SRB_TargStat != STATUS_GOOD) return;
  if (request->SRB_BufPointer == nullptr || request->SRB_BufLen < 14) return;
  g_app.DriveInfoValid = 1;
  g_app.DriveVersionCode = request->SRB_BufPointer[12];
  g_app.DriveModelCode = request->SRB_BufPointer[13];
}

void QueryDriveInfo(std::uint8_t adapter, std::uint8_t target) {
  BYTE cdb[kCdbSize];
  const BYTE length = BuildDriveInfoQueryCdb(cdb);
  SRB_ExecSCSICmd* request = RunCommand(
      CommandSetup{adapter, target, SRB_DIR_IN, cdb, length, 256, nullptr, 256, StoreDriveInfo},
      kQueryTimeoutMs);
  if (request != nullptr) ReleaseCommandRequest(request);
}

int ProbeDriveInfo(std::uint8_t adapter, std::uint8_t target) {
  g_app.DriveInfoValid = 0;
  QueryDriveInfo(adapter, target);
  return g_app.DriveInfoValid == 1 ? 1 : 0;
}

int SendImageChunk(int index) {
  return SendImage(index, kModeDownload, kImageStepMs, kImageLimitMs, false);
}

int SendImageFinal(int index) {
  return SendImage(index, kModeDownloadSave, kSaveStepMs, kSaveLimitMs, true);
}

int FinishImageLoad() {
  BYTE cdb[kCdbSize];
  BuildFinishLoadCdb(cdb);
  return RunSharedCommand(cdb, 0, 0, kVendorStepMs, kVendorLimitMs, true) ? 1 : 0;
}

int ReadDriveInfo() {
  BYTE cdb[kCdbSize];
  BuildDriveInfoQueryCdb(cdb);
  if (!RunSharedCommand(cdb, SRB_DIR_IN, 18, kVendorStepMs, kVendorLimitMs, true)) return 0;
  g_app.DriveVersionCode = g_app.SharedBuffer[12];
  g_app.DriveModelCode = g_app.SharedBuffer[13];
  return 1;
}

int SendLoaderData() {
  const int length = LoaderPayloadLength();
  // The payload must lie within SharedBuffer; a longer one is refused rather
  // than read (and sent) from beyond it.
  if (length > MaxPayloadLength) return 0;
  BYTE header[4];
  for (int i = 0; i < 4; ++i) header[i] = static_cast<BYTE>(LoaderByte(60 + i));
  BYTE cdb[kCdbSize];
  BuildLoaderDownloadCdb(cdb, header);
  // Straight from the checked copy: what the file did not hold goes out as
  // zeros, never as bytes an earlier command left in SharedBuffer.
  int held = g_app.LoaderDataBytes - LoaderHeaderSize;
  if (held < 0) held = 0;
  if (held > length) held = length;
  std::memcpy(g_app.SharedBuffer, g_app.LoaderData + LoaderHeaderSize,
              static_cast<std::size_t>(held));
  std::memset(g_app.SharedBuffer + held, 0, static_cast<std::size_t>(length - held));
  return RunSharedCommand(cdb, SRB_DIR_OUT, static_cast<DWORD>(length), kVendorStepMs,
                          kVendorLimitMs, true)
             ? 1
             : 0;
}

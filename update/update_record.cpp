#include "update/update_record.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/history.h"
#include "platform/system.h"
#include "state/app_state.h"
#include "update/returning_drive.h"

namespace {

constexpr int kNoRecord = 0;
constexpr int kBegun = 1;    // nothing in the file yet
constexpr int kWriting = 2;  // the interrupted entry is in the file
constexpr int kInFile = 3;   // written whole or completed

HistoryEntry& Record() { return g_app.UpdateRecord; }

void StampTime() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  const unsigned year = now.wYear % 10000u, month = now.wMonth % 100u, day = now.wDay % 100u;
  const unsigned hour = now.wHour % 100u, minute = now.wMinute % 100u, second = now.wSecond % 100u;
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", year, month, day, hour, minute,
                second);
  CopyText(Record().time, sizeof Record().time, text);
  // The time and the tick count: two entries of one second still differ.
  std::snprintf(text, sizeof text, "%04u%02u%02uT%02u%02u%02uZ-%08lx", year, month, day, hour,
                minute, second, static_cast<unsigned long>(GetTickCount()));
  CopyText(Record().id, sizeof Record().id, text);
}

void CodeText(char* text, int size, int code) {
  if (code < 0) {
    text[0] = '\0';
    return;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(code & 0xFF));
  CopyText(text, size, hex);
}

const char* ResultText(int outcome) {
  switch (outcome) {
    case kRunUpdated:
      return "updated";
    case kRunUpToDate:
      return "up-to-date";
    case kRunCancelled:
      return "cancelled";
    default:
      return "failed";
  }
}

void WriteOutcome() {
  CopyText(Record().result, sizeof Record().result, ResultText(g_app.RunOutcome));
  CopyText(Record().outcome, sizeof Record().outcome, g_app.LastUpdateMessage);
}

}  // namespace

void BeginUpdateRecord(std::uint8_t adapter, std::uint8_t target, const char* path) {
  g_app.UpdateRecord = HistoryEntry{};
  g_app.LastUpdateMessage[0] = '\0';
  g_app.UpdateRecordStage = kBegun;
  g_app.RunOutcome = kRunFailed;
  HistoryEntry& e = Record();
  StampTime();
  std::snprintf(e.address, sizeof e.address, "%u:%u", static_cast<unsigned>(adapter),
                static_cast<unsigned>(target));
  CopyText(e.path, sizeof e.path, path);
  const int slot = SlotOf(adapter, target);
  if (slot == kNoSlot) return;
  // The product id is blank-padded in the table.
  CopyText(e.product, sizeof e.product, g_app.DeviceProductId[slot]);
  for (int n = FindCharFrom(0, '\0', e.product) - 2; n >= 0 && e.product[n] == ' '; --n) {
    e.product[n] = '\0';
  }
  CopyText(e.revision_before, 5, g_app.DeviceRevision[slot]);
  for (int row = 0; row < 4; ++row) {
    const DrivePair& pair = g_app.ListedDrives[row];
    if (pair.adapter != adapter || pair.target != target) continue;
    const int code = g_app.ListedVersionCodes[row];
    CopyText(e.link, sizeof e.link, code >= 0 ? "USB" : "ATAPI");
    CodeText(e.version_code_before, sizeof e.version_code_before, code);
    break;
  }
  // Until something is written, the drive is as it was read.
  CopyText(e.revision_after, sizeof e.revision_after, e.revision_before);
  CopyText(e.version_code_after, sizeof e.version_code_after, e.version_code_before);
}

void NoteVersionCodeBefore(std::uint8_t code) {
  CodeText(Record().version_code_before, sizeof Record().version_code_before, code);
  CodeText(Record().version_code_after, sizeof Record().version_code_after, code);
}

void NoteRevisionAfter(const char* revision) { CopyText(Record().revision_after, 5, revision); }

void NoteVersionCodeAfter(std::uint8_t code) {
  CodeText(Record().version_code_after, sizeof Record().version_code_after, code);
}

void NoteUpdateMessage(const char* text) {
  CopyText(g_app.LastUpdateMessage, sizeof g_app.LastUpdateMessage, text);
}

void NoteUpdateOutcome(int outcome) { g_app.RunOutcome = outcome; }

void RecordWriteStarting() {
  if (g_app.UpdateRecordStage != kBegun) return;
  HistoryEntry& e = Record();
  StampTime();
  // Whatever the drive reports after the write is read anew, or unknown.
  e.revision_after[0] = '\0';
  e.version_code_after[0] = '\0';
  g_app.LastUpdateMessage[0] = '\0';
  CopyText(e.package_revision, 5, g_app.ImageRevisions);
  DigestText(g_app.ImageData, static_cast<DWORD>(g_app.ImageDataBytes), e.image_sha256);
  CopyText(e.result, sizeof e.result, "interrupted");
  g_app.UpdateRecordStage = kWriting;
  AppendHistoryEntry(e);
}

void FinishUpdateRecord() {
  const int stage = g_app.UpdateRecordStage;
  if (stage != kBegun && stage != kWriting) return;
  WriteOutcome();
  if (stage == kWriting) {
    CompleteHistoryEntry(Record());
  } else {
    AppendHistoryEntry(Record());
  }
  g_app.UpdateRecordStage = kInFile;
}

void AmendUpdateRecord(int outcome) {
  if (g_app.UpdateRecordStage != kInFile) return;
  g_app.RunOutcome = outcome;
  WriteOutcome();
  CompleteHistoryEntry(Record());
}

void DropUpdateRecord() { g_app.UpdateRecordStage = kNoRecord; }

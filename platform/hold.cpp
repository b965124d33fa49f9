#include "platform/hold.h"

#include <cstring>

#include "platform/files.h"
#include "platform/system.h"

namespace {
WriteHold* g_hold = nullptr;
int g_depth = 0;
bool g_marked = false;

constexpr char kCutShort[] =
    "Quorvanta ended while it was writing drive firmware, before the write came to its "
    "end.\r\nThe drive may not work until its firmware is written again: start Quorvanta "
    "again and update it.\r\n";

// last-run.log in the Windows directory (on this host the state directory),
// where the transcript of a run that lost its terminal goes too.
bool LastRunPath(char* path) {
  const DWORD length = GetWindowsDirectoryA(path, kMaxPath - 16);
  if (length == 0 || length >= kMaxPath - 16) return false;
  std::strcat(path, "\\last-run.log");
  return true;
}

// While a write runs the log says it was cut short: a run that ends before
// the write does (a crash, a kill, the power gone) leaves that for the user
// to find, never nothing. Failing to write it never stops the write.
void MarkWriteRunning() {
  char path[kMaxPath];
  if (!LastRunPath(path)) return;
  HANDLE file = CreateAlwaysFile(path);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, kCutShort, sizeof kCutShort - 1, &written);
  FlushFileBuffers(file);
  CloseFile(file);
  g_marked = true;
}
}  // namespace

void WriteOutcomeKnown() {
  if (!g_marked) return;
  g_marked = false;
  char path[kMaxPath];
  if (LastRunPath(path)) DeleteFileA(path);
}

void InstallWriteHold(WriteHold* hold) {
  g_hold = hold;
  g_depth = 0;
}

void BeginWriteHold(DWORD expected_ms) {
  if (g_depth++ != 0) return;
  MarkWriteRunning();
  if (g_hold != nullptr) g_hold->Begin(expected_ms);
}

void EndWriteHold() {
  if (g_depth == 0) return;
  if (--g_depth != 0) return;
  WriteOutcomeKnown();
  if (g_hold != nullptr) g_hold->End();
}

void PollWriteHold() {
  if (g_hold != nullptr) g_hold->Poll();
}

void SetWriteHoldRemaining(DWORD remaining_ms) {
  if (g_depth > 0 && g_hold != nullptr) g_hold->Remaining(remaining_ms);
}

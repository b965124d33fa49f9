#include "platform/hold.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/held_texts.h"
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


// The write held now: how long it was expected to take, the latest
// estimate of what is left and when it was made, the percent last said,
// when the line last went out.
DWORD g_expected_ms = 0;
DWORD g_estimated_at = 0;
DWORD g_remaining_ms = 0;
DWORD g_percent = 0;
DWORD g_progress_at = 0;
constexpr DWORD kProgressEveryMs = 1000;

bool Japanese() { return (GetUserDefaultLangID() & 0x3FF) == 0x11; }

void RaiseProgress() {
  g_progress_at = GetTickCount();
  DWORD percent = 0;
  DWORD remaining = 0;
  if (!WriteHoldEstimate(&percent, &remaining)) return;
  char line[200];
  RaisePlatformEvent(
      PlatformEventKind::kWriteProgress,
      WriteProgressLine(Japanese(), percent, remaining, line, static_cast<int>(sizeof line)));
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
  g_expected_ms = expected_ms;
  g_estimated_at = GetTickCount();
  g_remaining_ms = expected_ms;
  g_percent = 0;
  if (g_hold != nullptr) g_hold->Begin(expected_ms);
  RaiseProgress();
}

void EndWriteHold() {
  if (g_depth == 0) return;
  if (--g_depth != 0) return;
  WriteOutcomeKnown();
  // The write is over: its progress line goes (before a held request may
  // end the program).
  RaisePlatformEvent(PlatformEventKind::kWriteProgress, "");
  if (g_hold != nullptr) g_hold->End();
}

void PollWriteHold() {
  if (g_depth > 0 && GetTickCount() - g_progress_at >= kProgressEveryMs) RaiseProgress();
  if (g_hold != nullptr) g_hold->Poll();
}

void SetWriteHoldRemaining(DWORD remaining_ms) {
  if (g_depth == 0) return;
  g_remaining_ms = remaining_ms;
  g_estimated_at = GetTickCount();
}

bool WriteHoldEstimate(DWORD* percent, DWORD* remaining_ms) {
  if (g_depth == 0) return false;
  const DWORD now = GetTickCount();
  const DWORD since = now - g_estimated_at;
  *remaining_ms = since < g_remaining_ms ? g_remaining_ms - since : 0;
  // Where the path is: the part of the whole that the chunks sent and the
  // waits passed have done.
  const std::uint64_t done = g_expected_ms > *remaining_ms ? g_expected_ms - *remaining_ms : 0;
  DWORD said = g_expected_ms == 0 ? 0 : static_cast<DWORD>(done * 100 / g_expected_ms);
  // Never 100 before the outcome is known, and never back: a step slower
  // than estimated adds to the time left instead.
  if (said > 99) said = 99;
  if (said < g_percent) said = g_percent;
  g_percent = said;
  *percent = said;
  return true;
}

const char* WriteProgressLine(bool japanese, DWORD percent, DWORD remaining_ms, char* buffer,
                              int size) {
  // About: whole seconds rounded up to five, at least five.
  unsigned long seconds = (remaining_ms + 4999) / 5000 * 5;
  if (seconds == 0) seconds = 5;
  char left[64];
  if (seconds < 60) {
    std::snprintf(left, sizeof left, japanese ? kSecondsOnlyJapanese : kSecondsOnly, seconds);
  } else if (seconds % 60 == 0) {
    std::snprintf(left, sizeof left, japanese ? kMinutesOnlyJapanese : kMinutesOnly, seconds / 60);
  } else {
    std::snprintf(left, sizeof left, japanese ? kMinutesSecondsJapanese : kMinutesSeconds,
                  seconds / 60, seconds % 60);
  }
  std::snprintf(buffer, static_cast<std::size_t>(size),
                japanese ? kWriteProgressLineJapanese : kWriteProgressLine,
                static_cast<unsigned long>(percent), left);
  return buffer;
}

#include "platform/hold.h"

namespace {
WriteHold* g_hold = nullptr;
int g_depth = 0;
}  // namespace

void InstallWriteHold(WriteHold* hold) {
  g_hold = hold;
  g_depth = 0;
}

void BeginWriteHold(DWORD expected_ms) {
  if (g_depth++ == 0 && g_hold != nullptr) g_hold->Begin(expected_ms);
}

void EndWriteHold() {
  if (g_depth == 0) return;
  if (--g_depth == 0 && g_hold != nullptr) g_hold->End();
}

void PollWriteHold() {
  if (g_hold != nullptr) g_hold->Poll();
}

void SetWriteHoldRemaining(DWORD remaining_ms) {
  if (g_depth > 0 && g_hold != nullptr) g_hold->Remaining(remaining_ms);
}

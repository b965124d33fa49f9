// The command channel: per-command and shared requests, their waits, and the
// failure flags AbortFlag and TargetBusyFlag.
#pragma once

#include <cstdint>

#include "platform/aspi.h"
#include "platform/types.h"

// Spins (through the clock's wait primitive) until the request has ended
// (true) or `timeout_ms` has passed on the 32-bit tick count (false).
bool WaitForCompletion(DWORD timeout_ms, const SRB_ExecSCSICmd* request);
// Waits until a tick-count reading lies beyond start + ms.
void Delay(DWORD ms);

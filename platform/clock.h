// clock group: the 32-bit millisecond tick count and the one wait primitive.
//
// Every wait of the logic (Delay, completion waits, the tenths-digit wait of
// the final save) is a loop that reads GetTickCount(); between readings it
// calls WaitTicks so that the implementation may sleep (host) or jump
// (virtual time) instead of spinning. The readings a loop sees are those of a
// loop spinning on a 1 ms tick count.
#pragma once

#include "platform/types.h"

// A wait may watch a submitted request; only its status byte is read, by the
// implementations, so the clock group need not bring in the aspi group.
struct SRB_ExecSCSICmd;

// Milliseconds since power-on, wrapping at 2^32. In virtual time reading it
// never moves it.
DWORD GetTickCount();

// Waits until `ms` milliseconds have passed, or earlier when `request` is not
// null and its SRB_Status has left SS_PENDING (checked at every instant the
// wait passes through). Returns at once for ms == 0.
void WaitTicks(const SRB_ExecSCSICmd* request, DWORD ms);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual DWORD TickCount() = 0;
  virtual void Wait(const SRB_ExecSCSICmd* request, DWORD ms) = 0;
};

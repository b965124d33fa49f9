// Holding a firmware write: from the user's OK that starts writing until the
// outcome is known, nothing that would end the program on its own (a
// signal, a logout, a shutdown) may cut the write short. What can be held
// is held and takes effect once the write is over; the platform decides how
// (signals through a self-pipe, the desktop session's end refused).
#pragma once

#include "platform/types.h"

// Starts holding; `expected_ms` is about how long the write takes from now
// (what the user is told when something had to wait). Holds nest: only the
// outermost end lets the held requests through. Until the write's outcome is
// known, last-run.log in the Windows directory says that the write was cut
// short, for the user to find should the program end during it.
void BeginWriteHold(DWORD expected_ms);
// Ends the hold. When a request to end the program came meanwhile, the
// program ends here the way it was asked to and this never returns.
void EndWriteHold();
// The write's outcome is known and shown (the program's own restart or
// shutdown request follows, which on a virtual PC ends the run at once):
// last-run.log, which said the write was running, goes. EndWriteHold does
// this too.
void WriteOutcomeKnown();
// How long the write still takes from now, as the update knows it where it
// is (the chunks and waits left): the held line's estimate.
void SetWriteHoldRemaining(DWORD remaining_ms);
// Looks at what arrived since the last look (every wait of the program
// calls it): during a write the first request gets its one line, outside a
// write a request ends the program now. During a write it also raises the
// progress line (kWriteProgress) once a second of the tick count.
void PollWriteHold();
// How far the write held now is, from the latest estimate of what is left
// counted down by the ticks since: `remaining_ms`, and `percent` of the
// expected whole done (0 to 99, never less than it said before). False
// outside a write.
bool WriteHoldEstimate(DWORD* percent, DWORD* remaining_ms);
// The progress line for those (code page 932 when Japanese), in `buffer`.
const char* WriteProgressLine(bool japanese, DWORD percent, DWORD remaining_ms, char* buffer,
                              int size);

class WriteHold {
 public:
  virtual ~WriteHold() = default;
  virtual void Begin(DWORD expected_ms) = 0;
  virtual void End() = 0;
  virtual void Poll() = 0;
};

// One at a time; null: nothing is held (the calls above do nothing).
void InstallWriteHold(WriteHold* hold);

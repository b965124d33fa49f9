// The --trace FILE writer: one line per drive command, written by the command
// channel's single submit/wait path (drive/channel.cpp) and nowhere else.
//
// Line format (fields separated by single blanks):
//   A:T cdb=XX XX .. dir=in|out|none len=N status=0xSS targ=0xTT
//   sense=K/AA/QQ ms=D [timeout]
// where status is SRB_Status as last seen (0x00 when the wait gave up),
// sense is key/additional sense code/qualifier in hex, and ms is the
// duration on the tick count from submission to the end of the wait.
#pragma once

#include <string>

#include "platform/aspi.h"
#include "platform/types.h"

// Starts writing to `path` (created or replaced, never through a link, see
// platform/output_file.h). False, with a one-line reason in *error when
// given, when it cannot be; the trace stays off then.
bool OpenTrace(const char* path, std::string* error = nullptr);
// Flushes and stops. Safe to call when no trace is open.
void CloseTrace();
bool TraceIsOpen();

// Sense as decoded by the channel (the trace itself never parses sense).
struct TraceSense {
  BYTE key;
  BYTE asc;
  BYTE ascq;
};

// One finished command (or one whose wait gave up: timed_out true).
void TraceCommand(const SRB_ExecSCSICmd& request, TraceSense sense, DWORD duration_ms,
                  bool timed_out);

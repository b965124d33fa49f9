// The command channel: per-command and shared requests, their waits, and the
// failure flags AbortFlag and TargetBusyFlag.
//
// Every command goes through one path here: a named CDB builder fills the
// command block, SubmitRequest hands the record to the layer, one of the
// waits below watches it, and EndRequest writes the trace line. Sense is
// decoded only by DecodeSense and an answer is classified only by
// ClassifyAnswer.
//
// Records handed to the layer are never reused while the layer still holds
// them (CurrentPlatform().aspi->Holds): a per-command record whose wait timed
// out is parked and given back once the layer lets go of it (or at exit); the
// shared record, when still held, is replaced by a fresh one for the next
// shared command. Records and chunk buffers come from a small pool of the
// channel's own, so a command allocates nothing.
#pragma once

#include <cstdint>

#include "platform/aspi.h"
#include "platform/types.h"

// --- waits (all through the clock group's wait primitive) ---

// Spins until the request has ended (true) or `timeout_ms` has passed on the
// 32-bit tick count (false): false at the first reading more than
// `timeout_ms` after the start reading, across the wrap of the counter too.
bool WaitForCompletion(DWORD timeout_ms, const SRB_ExecSCSICmd* request);
// Waits until a tick-count reading lies more than `ms` after the start
// reading (a wait of ms + 1 ticks on a 1 ms counter).
void Delay(DWORD ms);

// --- command descriptor blocks (big-endian fields) ---

inline constexpr BYTE kCdb6 = 6;
inline constexpr BYTE kCdb10 = 10;
inline constexpr BYTE kCdb12 = 12;
inline constexpr int kCdbSize = 16;

void PutBigEndian16(BYTE* at, WORD value);
// Low 24 bits of `value`, most significant first.
void PutBigEndian24(BYTE* at, DWORD value);

// Each builder zero-fills all 16 bytes and returns the CDB length.
BYTE BuildInquiryCdb(BYTE* cdb, bool vital_product_data, BYTE page, BYTE allocation_length);
BYTE BuildTestUnitReadyCdb(BYTE* cdb);
// START STOP UNIT, LoEj 1, Start 0: opens the tray.
BYTE BuildEjectCdb(BYTE* cdb);
// WRITE BUFFER, buffer id 0, 24-bit offset and parameter list length;
// cdb_length is 10 (direct path) or 12 (shared request, bytes 10..11 zero).
// Returns 0 and builds nothing when offset or length do not fit 24 bits.
BYTE BuildWriteBufferCdb(BYTE* cdb, BYTE mode, DWORD offset, DWORD length, BYTE cdb_length);
// Vendor 0xCC: the 18-byte version/model answer.
BYTE BuildDriveInfoQueryCdb(BYTE* cdb);
// Vendor 0xCD 0xFF: end of a firmware load.
BYTE BuildFinishLoadCdb(BYTE* cdb);
// Vendor 0xCD with the loader header's four bytes (payload parameters and
// big-endian length) in bytes 6..9.
BYTE BuildLoaderDownloadCdb(BYTE* cdb, const BYTE header_bytes[4]);

// --- answers ---

struct SenseCodes {
  BYTE key;   // SenseArea[2] low four bits
  BYTE asc;   // SenseArea[12]
  BYTE ascq;  // SenseArea[13]
};
SenseCodes DecodeSense(const SRB_ExecSCSICmd& request);

// Worst first: still pending, failed at the transport (any status but
// SS_COMP/SS_ERR, or SS_ERR without a target status), BUSY, CHECK CONDITION,
// another error status, good.
enum class Answer { kPending, kTransportError, kBusy, kCheckCondition, kTargetError, kGood };
Answer ClassifyAnswer(const SRB_ExecSCSICmd& request);

// --- request records ---

struct CommandSetup {
  BYTE adapter;
  BYTE target;
  BYTE flags;       // SRB_DIR_IN / SRB_DIR_OUT / 0; SRB_POSTING is added for post
  const BYTE* cdb;  // kCdbSize bytes
  BYTE cdb_length;
  DWORD buffer_length;    // SRB_BufLen
  BYTE* buffer;           // caller's buffer, or null: the request gets its own
  DWORD own_buffer_size;  // zero-filled bytes allocated when buffer is null
  PostProc post;          // completion routine or null
};

// A zero-filled record (and its own zero-filled buffer) from the channel's
// pool, filled as told.
SRB_ExecSCSICmd* NewCommandRequest(const CommandSetup& setup);
// Hands the record to the layer and notes the start for the trace.
void SubmitRequest(SRB_ExecSCSICmd* request);
// Notes the end of the wait (timed_out: it gave up) and writes the trace.
void EndRequest(SRB_ExecSCSICmd* request, bool timed_out);
// Gives the record and its own buffer back to the pool, or parks them while
// the layer still holds the record (a timed-out command).
void ReleaseCommandRequest(SRB_ExecSCSICmd* request);

// Per-command round trip: new record, submit, WaitForCompletion. On a
// time-out AbortFlag = 1, the record is parked and null is returned. On an
// end in time the completion routine has run (the channel runs it itself if
// the layer has not yet) and the record is returned for evaluation; the
// caller then calls ReleaseCommandRequest.
SRB_ExecSCSICmd* RunCommand(const CommandSetup& setup, DWORD timeout_ms);

// Chunk buffers of the direct path: 4096 zero-filled bytes from the pool.
// Releasing one that a parked (timed-out) record still points at hands it to
// that record, which gives it back with itself.
inline constexpr DWORD kChunkBufferSize = 4096;
BYTE* NewChunkBuffer();
void ReleaseChunkBuffer(BYTE* buffer);

// Gives back the parked records that the layer no longer holds. `at_exit`
// gives them all back, held or not (the layer is being torn down).
void ReleaseParkedRequests(bool at_exit);
// How many parked records are waiting (tests).
int ParkedRequestCount();
// Forgets what the channel holds for a launch: the parked records (the layer
// that held them has gone with its launch), the submit time, the shared
// record's data-in area and the progress sink.
void ResetChannel();

// --- the shared request ---

// Picks g_app.SharedRequest, or a fresh record when the layer still holds it,
// fills the fields a shared command writes (CDB length 12, SenseLen 14,
// SharedBuffer), submits it, and polls: a `step_ms` Delay between polls, up
// to `limit_ms` in all, progress +1 per step when asked. True when it ended
// with SS_COMP; false at once when `buffer_length` exceeds SharedBuffer.
// Never touches AbortFlag.
// Data-in commands (at most 256 bytes) land in an area of the record's own
// and are copied to the start of SharedBuffer only when the command ends in
// time with SS_COMP, so neither a late completion of a timed-out command nor
// a failed one ever writes into SharedBuffer.
bool RunSharedCommand(const BYTE* cdb, BYTE flags, DWORD buffer_length, DWORD step_ms,
                      DWORD limit_ms, bool progress);

// Where the drive room reports progress: the room above that shows it
// installs a sink; with none installed the count still moves, unseen.
using ProgressSink = void (*)(std::int32_t count);
void SetProgressSink(ProgressSink sink);
// Sets ProgressCount to `count` and reports it.
void ReportProgress(std::int32_t count);
// Adds `n` to ProgressCount and reports it.
void AdvanceProgress(int n);

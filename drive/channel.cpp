#include "drive/channel.h"

#include <cstddef>
#include <cstring>

#include "drive/opcodes.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/trace.h"
#include "state/app_state.h"

namespace {

// A per-command record and what belongs to it. The record comes first so the
// record pointer handed to the layer is also the block's address.
struct RequestBlock {
  SRB_ExecSCSICmd request;
  BYTE* own_buffer;      // own_area, or a larger one from the heap
  BYTE* adopted_buffer;  // a caller's chunk buffer handed over while parked
  RequestBlock* next;    // the parked list, or the pool's free list
  BYTE own_area[256];    // room for every answer the commands ask for
};
static_assert(offsetof(RequestBlock, request) == 0);

// The records and chunk buffers the commands use, reused so that a command
// allocates nothing. One command is outstanding at a time; only records the
// layer still holds (timed out) stay out of the pool, and when those have
// taken every block the heap serves until they come back.
constexpr int kPooledBlocks = 4;
RequestBlock g_blocks[kPooledBlocks];
RequestBlock* g_free_blocks = nullptr;
bool g_pool_ready = false;

constexpr int kPooledChunkBuffers = 2;
alignas(16) BYTE g_chunk_buffers[kPooledChunkBuffers][kChunkBufferSize];
bool g_chunk_buffer_taken[kPooledChunkBuffers] = {};

RequestBlock* g_parked = nullptr;
int g_parked_count = 0;
DWORD g_submitted_at = 0;
ProgressSink g_progress_sink = nullptr;

// Data-in area of g_app.SharedRequest: the transport writes here, never into
// SharedBuffer, so a late completion after a time-out cannot overwrite what a
// later command has put in SharedBuffer.
BYTE g_shared_in_area[256];

RequestBlock* BlockOf(SRB_ExecSCSICmd* request) { return reinterpret_cast<RequestBlock*>(request); }

bool LayerHolds(const SRB_ExecSCSICmd* request) {
  const Platform& platform = CurrentPlatform();
  return platform.aspi != nullptr && platform.aspi->Holds(request);
}

// A layer may set the status before its thread has run the routine the
// record carries: the caller's own, which stores what the caller reads next,
// or a recording's, which writes the command's end (a next command sent
// first would be recorded after a still-pending one). Once the status is
// set, the routine is run here; the routines only copy the answer, so the
// layer's own run later stores the same. It is read once: the layer's
// thread puts the caller's own back (none for most commands) meanwhile.
void FinishEndedRequest(SRB_ExecSCSICmd* request) {
  const PostProc routine = request->SRB_PostProc;
  if (routine != nullptr && LayerHolds(request)) routine(request);
}

bool Pooled(const RequestBlock* block) {
  return block >= g_blocks && block < g_blocks + kPooledBlocks;
}

// A zero-filled block, from the pool while it has one.
RequestBlock* TakeBlock() {
  if (!g_pool_ready) {
    for (RequestBlock& block : g_blocks) {
      block.next = g_free_blocks;
      g_free_blocks = &block;
    }
    g_pool_ready = true;
  }
  RequestBlock* block = g_free_blocks;
  if (block == nullptr) return new RequestBlock{};
  g_free_blocks = block->next;
  *block = RequestBlock{};
  return block;
}

void GiveBackChunkBuffer(BYTE* buffer) {
  for (int i = 0; i < kPooledChunkBuffers; ++i) {
    if (buffer == g_chunk_buffers[i]) {
      g_chunk_buffer_taken[i] = false;
      return;
    }
  }
  delete[] buffer;
}

void FreeBlock(RequestBlock* block) {
  if (block->own_buffer != block->own_area) delete[] block->own_buffer;
  if (block->adopted_buffer != nullptr) GiveBackChunkBuffer(block->adopted_buffer);
  if (!Pooled(block)) {
    delete block;
    return;
  }
  block->next = g_free_blocks;
  g_free_blocks = block;
}

void Park(RequestBlock* block) {
  block->next = g_parked;
  g_parked = block;
  ++g_parked_count;
}

// Remaining wait so the next reading lands just past `limit` ms after start,
// without the +1 overflowing for a limit of 0xFFFFFFFF.
DWORD TicksPast(DWORD limit, DWORD elapsed) {
  DWORD remaining = limit - elapsed;
  return remaining == 0xFFFFFFFFu ? remaining : remaining + 1;
}

// Frees everything parked at exit; the layer is gone by then.
struct ParkedAtExit {
  ~ParkedAtExit() { ReleaseParkedRequests(true); }
} g_parked_at_exit;

}  // namespace

// Whether the deadline lies before or beyond the tick count's wrap, the test
// comes down to "more than timeout_ms after start" in wrapping arithmetic.
// Written that way it also ends when start + timeout_ms is 0xFFFFFFFF, where
// no reading can lie above the deadline and the plain comparison would spin
// for ever.
bool WaitForCompletion(DWORD timeout_ms, const SRB_ExecSCSICmd* request) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (request->SRB_Status != SS_PENDING) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed > timeout_ms) return false;
    WaitTicks(request, TicksPast(timeout_ms, elapsed));
  }
}

void Delay(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed > ms) return;
    WaitTicks(nullptr, TicksPast(ms, elapsed));
  }
}

void PutBigEndian16(BYTE* at, WORD value) {
  at[0] = static_cast<BYTE>(value >> 8);
  at[1] = static_cast<BYTE>(value);
}

void PutBigEndian24(BYTE* at, DWORD value) {
  at[0] = static_cast<BYTE>(value >> 16);
  at[1] = static_cast<BYTE>(value >> 8);
  at[2] = static_cast<BYTE>(value);
}

BYTE BuildInquiryCdb(BYTE* cdb, bool vital_product_data, BYTE page, BYTE allocation_length) {
  std::memset(cdb, 0, kCdbSize);
  cdb[0] = kOpInquiry;
  if (vital_product_data) {
    cdb[1] = 0x01;  // EVPD
    cdb[2] = page;
  }
  cdb[4] = allocation_length;
  return kCdb6;
}

BYTE BuildTestUnitReadyCdb(BYTE* cdb) {
  std::memset(cdb, 0, kCdbSize);
  cdb[0] = kOpTestUnitReady;
  return kCdb6;
}

BYTE BuildEjectCdb(BYTE* cdb) {
  std::memset(cdb, 0, kCdbSize);
  cdb[0] = kOpStartStopUnit;
  cdb[4] = 0x02;  // LoEj 1, Start 0
  return kCdb6;
}

BYTE BuildWriteBufferCdb(BYTE* cdb, BYTE mode, DWORD offset, DWORD length, BYTE cdb_length) {
  std::memset(cdb, 0, kCdbSize);
  if (offset > 0xFFFFFFu || length > 0xFFFFFFu) return 0;
  if (cdb_length != kCdb10 && cdb_length != kCdb12) return 0;
  cdb[0] = kOpWriteBuffer;
  cdb[1] = mode;
  cdb[2] = 0x00;  // buffer id
  PutBigEndian24(cdb + 3, offset);
  PutBigEndian24(cdb + 6, length);
  return cdb_length;
}

BYTE BuildDriveInfoQueryCdb(BYTE* cdb) {
  std::memset(cdb, 0, kCdbSize);
  cdb[0] = kOpDriveInfoQuery;
  cdb[2] = 0x01;
  cdb[9] = 0x12;  // the 18-byte answer
  return kCdb12;
}

BYTE BuildFinishLoadCdb(BYTE* cdb) {
  std::memset(cdb, 0, kCdbSize);
  cdb[0] = kOpVendorLoad;
  cdb[1] = 0xFF;
  return kCdb12;
}

BYTE BuildLoaderDownloadCdb(BYTE* cdb, const BYTE header_bytes[4]) {
  std::memset(cdb, 0, kCdbSize);
  cdb[0] = kOpVendorLoad;
  std::memcpy(cdb + 6, header_bytes, 4);
  return kCdb12;
}

SenseCodes DecodeSense(const SRB_ExecSCSICmd& request) {
  return SenseCodes{static_cast<BYTE>(request.SenseArea[2] & 0x0F), request.SenseArea[12],
                    request.SenseArea[13]};
}

Answer ClassifyAnswer(const SRB_ExecSCSICmd& request) {
  switch (request.SRB_Status) {
    case SS_PENDING:
      return Answer::kPending;
    case SS_COMP:
      return Answer::kGood;
    case SS_ERR:
      if (request.SRB_TargStat == STATUS_BUSY) return Answer::kBusy;
      if (request.SRB_TargStat == STATUS_CHKCOND) return Answer::kCheckCondition;
      if (request.SRB_TargStat != STATUS_GOOD) return Answer::kTargetError;
      return Answer::kTransportError;
    default:
      return Answer::kTransportError;
  }
}

SRB_ExecSCSICmd* NewCommandRequest(const CommandSetup& setup) {
  RequestBlock* block = TakeBlock();
  SRB_ExecSCSICmd* request = &block->request;
  BYTE* buffer = setup.buffer;
  if (buffer == nullptr && setup.own_buffer_size > 0) {
    block->own_buffer = setup.own_buffer_size <= sizeof block->own_area
                            ? block->own_area
                            : new BYTE[setup.own_buffer_size]();
    buffer = block->own_buffer;
  }
  request->SRB_Cmd = SC_EXEC_SCSI_CMD;
  request->SRB_HaId = setup.adapter;
  request->SRB_Flags = static_cast<BYTE>(setup.flags | (setup.post != nullptr ? SRB_POSTING : 0));
  request->SRB_Target = setup.target;
  request->SRB_Lun = 0;
  request->SRB_BufLen = setup.buffer_length;
  request->SRB_BufPointer = buffer;
  request->SRB_SenseLen = SENSE_LEN;
  request->SRB_CDBLen = setup.cdb_length;
  std::memcpy(request->CDBByte, setup.cdb, kCdbSize);
  request->SRB_PostProc = setup.post;
  return request;
}

void SubmitRequest(SRB_ExecSCSICmd* request) {
  ReleaseParkedRequests(false);
  g_submitted_at = GetTickCount();
  SendASPI32Command(request);
}

void EndRequest(SRB_ExecSCSICmd* request, bool timed_out) {
  if (!TraceIsOpen()) return;
  SenseCodes sense = DecodeSense(*request);
  TraceCommand(*request, TraceSense{sense.key, sense.asc, sense.ascq},
               GetTickCount() - g_submitted_at, timed_out);
}

void ReleaseCommandRequest(SRB_ExecSCSICmd* request) {
  if (request == nullptr || request == &g_app.SharedRequest) return;
  RequestBlock* block = BlockOf(request);
  if (LayerHolds(request)) {
    Park(block);
  } else {
    FreeBlock(block);
  }
}

SRB_ExecSCSICmd* RunCommand(const CommandSetup& setup, DWORD timeout_ms) {
  SRB_ExecSCSICmd* request = NewCommandRequest(setup);
  SubmitRequest(request);
  const bool ended = WaitForCompletion(timeout_ms, request);
  EndRequest(request, !ended);
  if (!ended) {
    g_app.AbortFlag = 1;
    ReleaseCommandRequest(request);  // parked: the layer still holds it
    return nullptr;
  }
  FinishEndedRequest(request);
  return request;
}

BYTE* NewChunkBuffer() {
  for (int i = 0; i < kPooledChunkBuffers; ++i) {
    if (!g_chunk_buffer_taken[i]) {
      g_chunk_buffer_taken[i] = true;
      std::memset(g_chunk_buffers[i], 0, kChunkBufferSize);
      return g_chunk_buffers[i];
    }
  }
  return new BYTE[kChunkBufferSize]();
}

void ReleaseChunkBuffer(BYTE* buffer) {
  if (buffer == nullptr) return;
  for (RequestBlock* block = g_parked; block != nullptr; block = block->next) {
    if (block->request.SRB_BufPointer == buffer && block->adopted_buffer == nullptr) {
      block->adopted_buffer = buffer;  // given back with the record once the layer lets go
      return;
    }
  }
  GiveBackChunkBuffer(buffer);
}

void ReleaseParkedRequests(bool at_exit) {
  RequestBlock** link = &g_parked;
  while (*link != nullptr) {
    RequestBlock* block = *link;
    if (at_exit || !LayerHolds(&block->request)) {
      *link = block->next;
      --g_parked_count;
      FreeBlock(block);
    } else {
      link = &block->next;
    }
  }
}

int ParkedRequestCount() { return g_parked_count; }

void ResetChannel() {
  ReleaseParkedRequests(true);
  g_submitted_at = 0;
  std::memset(g_shared_in_area, 0, sizeof g_shared_in_area);
  g_progress_sink = nullptr;
}

bool RunSharedCommand(const BYTE* cdb, BYTE flags, DWORD buffer_length, DWORD step_ms,
                      DWORD limit_ms, bool progress) {
  if (buffer_length > static_cast<DWORD>(kSharedBufferSize)) return false;
  const bool data_in = (flags & SRB_DIR_IN) != 0;
  if (data_in && buffer_length > sizeof g_shared_in_area) return false;

  // The record is never handed over again while the layer holds it (a
  // command that timed out); a fresh one carries this command instead.
  SRB_ExecSCSICmd* request = &g_app.SharedRequest;
  BYTE* in_area = g_shared_in_area;
  if (LayerHolds(request)) {
    CommandSetup setup{};
    setup.cdb = cdb;
    setup.own_buffer_size = sizeof g_shared_in_area;
    request = NewCommandRequest(setup);
    in_area = BlockOf(request)->own_buffer;
  }
  request->SRB_Cmd = SC_EXEC_SCSI_CMD;
  request->SRB_HaId = g_app.CurrentAdapter;
  request->SRB_Flags = flags;
  request->SRB_PostProc = nullptr;  // only a layer's own routine is ever run on it
  request->SRB_Target = g_app.CurrentTarget;
  request->SRB_BufPointer = data_in ? in_area : g_app.SharedBuffer;
  request->SRB_BufLen = buffer_length;
  request->SRB_SenseLen = SENSE_LEN;
  request->SRB_CDBLen = kCdb12;
  std::memcpy(request->CDBByte, cdb, kCdb12);
  // Answer fields of the previous command would otherwise read as this one's.
  request->SRB_Status = SS_PENDING;
  request->SRB_TargStat = 0;
  std::memset(request->SenseArea, 0, sizeof request->SenseArea);

  SubmitRequest(request);
  DWORD elapsed = 0;
  bool timed_out = false;
  while (request->SRB_Status == SS_PENDING) {
    Delay(step_ms);
    elapsed += step_ms;
    if (progress) AdvanceProgress(1);
    if (elapsed >= limit_ms) {
      timed_out = true;
      break;
    }
  }
  EndRequest(request, timed_out);
  if (!timed_out) FinishEndedRequest(request);
  const bool good = !timed_out && request->SRB_Status == SS_COMP;
  // Only an answer is copied: after a failure the area may still hold the
  // previous command's data.
  if (good && data_in) std::memcpy(g_app.SharedBuffer, in_area, buffer_length);
  ReleaseCommandRequest(request);
  return good;
}

void SetProgressSink(ProgressSink sink) { g_progress_sink = sink; }

void ReportProgress(std::int32_t count) {
  g_app.ProgressCount = count;
  if (g_progress_sink != nullptr) g_progress_sink(count);
}

void AdvanceProgress(int n) { ReportProgress(g_app.ProgressCount + n); }

#include "tests/support/fake_aspi.h"

#include <algorithm>
#include <cstring>

FakeAspi::FakeAspi(DWORD ticks_at_power_on) : clock(ticks_at_power_on, false) {
  clock.Attach(this);
}

FakeAspi::~FakeAspi() {
  if (installed_) InstallPlatform(Platform{});
}

void FakeAspi::Install(Files* files) {
  Platform platform;
  platform.clock = &clock;
  platform.aspi = this;
  platform.files = files;
  InstallPlatform(platform);
  installed_ = true;
}

DWORD FakeAspi::Send(SRB_ExecSCSICmd* request) {
  if (Holds(request)) {
    ++refused_resubmits;
    return SS_ERR;
  }
  FakeCommand command;
  command.index = static_cast<int>(commands.size());
  command.adapter = request->SRB_HaId;
  command.target = request->SRB_Target;
  command.flags = request->SRB_Flags;
  command.cdb_length = request->SRB_CDBLen;
  command.sense_length = request->SRB_SenseLen;
  command.cdb.assign(request->CDBByte, request->CDBByte + std::min<int>(request->SRB_CDBLen, 16));
  command.cdb_block.assign(request->CDBByte, request->CDBByte + 16);
  command.buffer_length = request->SRB_BufLen;
  if ((request->SRB_Flags & SRB_DIR_OUT) != 0 && request->SRB_BufPointer != nullptr) {
    command.data_out.assign(request->SRB_BufPointer, request->SRB_BufPointer + request->SRB_BufLen);
  }
  command.record = request;
  command.buffer = request->SRB_BufPointer;
  command.post = (request->SRB_Flags & SRB_POSTING) != 0 ? request->SRB_PostProc : nullptr;
  command.submitted_tick = clock.TickCount();
  commands.push_back(command);

  FakeReply reply = script ? script(commands.back()) : Good();
  request->SRB_Status = SS_PENDING;
  if (!reply.never && reply.after_ms == 0) {
    held_.push_back(Held{request, clock.Now(), reply});
    Complete(request, reply);
    return request->SRB_Status;
  }
  const std::uint64_t due = reply.never ? UINT64_MAX : clock.Now() + reply.after_ms;
  held_.push_back(Held{request, due, std::move(reply)});
  return SS_PENDING;
}

bool FakeAspi::Holds(const SRB_ExecSCSICmd* request) const {
  return std::any_of(held_.begin(), held_.end(),
                     [request](const Held& held) { return held.record == request; });
}

std::uint64_t FakeAspi::NextEventAt() const {
  std::uint64_t next = UINT64_MAX;
  for (const Held& held : held_) next = std::min(next, held.due);
  return next;
}

void FakeAspi::RunUntil(std::uint64_t now) {
  for (;;) {
    auto it = std::find_if(held_.begin(), held_.end(),
                           [now](const Held& held) { return held.due <= now; });
    if (it == held_.end()) return;
    if (it->ended) {
      // The routine it was handed: a caller that ran it meanwhile may have
      // put another (or none) in the record.
      SRB_ExecSCSICmd* record = it->record;
      it->routine(record);
      held_.erase(std::find_if(held_.begin(), held_.end(),
                               [record](const Held& held) { return held.record == record; }));
      continue;
    }
    FakeReply reply = it->reply;
    Complete(it->record, reply);
  }
}

void FakeAspi::Complete(SRB_ExecSCSICmd* record, const FakeReply& reply) {
  if ((record->SRB_Flags & SRB_DIR_IN) != 0 && record->SRB_BufPointer != nullptr) {
    std::size_t n = std::min<std::size_t>(reply.data.size(), record->SRB_BufLen);
    if (n > 0) std::memcpy(record->SRB_BufPointer, reply.data.data(), n);
  }
  if ((record->SRB_Flags & SRB_DIR_OUT) != 0 && record->SRB_BufPointer != nullptr) {
    last_out_sum_at_end = 0;
    for (DWORD i = 0; i < record->SRB_BufLen; ++i) last_out_sum_at_end += record->SRB_BufPointer[i];
  }
  record->SRB_TargStat = reply.target_status;
  if (reply.sense_key != 0 || reply.asc != 0 || reply.ascq != 0) {
    std::memset(record->SenseArea, 0, sizeof record->SenseArea);
    record->SenseArea[0] = 0x70;
    record->SenseArea[2] = reply.sense_key;
    record->SenseArea[7] = 10;
    record->SenseArea[12] = reply.asc;
    record->SenseArea[13] = reply.ascq;
  }
  record->SRB_Status = reply.status;
  auto held = std::find_if(held_.begin(), held_.end(),
                           [record](const Held& h) { return h.record == record; });
  // Held until the routine has run, as the layer's contract says.
  if ((record->SRB_Flags & SRB_POSTING) != 0 && record->SRB_PostProc != nullptr) {
    if (reply.routine_after_ms > 0) {
      held->ended = true;
      held->routine = record->SRB_PostProc;
      held->due = clock.Now() + reply.routine_after_ms;
      return;
    }
    record->SRB_PostProc(record);
  }
  held_.erase(held);
}

std::vector<const FakeCommand*> FakeAspi::WithOpcode(BYTE opcode) const {
  std::vector<const FakeCommand*> found;
  for (const FakeCommand& command : commands) {
    if (command.opcode() == opcode) found.push_back(&command);
  }
  return found;
}

FakeReply Good(std::vector<BYTE> data, std::uint64_t after_ms) {
  FakeReply reply;
  reply.data = std::move(data);
  reply.after_ms = after_ms;
  return reply;
}

FakeReply Busy(std::uint64_t after_ms) {
  FakeReply reply;
  reply.status = SS_ERR;
  reply.target_status = STATUS_BUSY;
  reply.after_ms = after_ms;
  return reply;
}

FakeReply CheckCondition(BYTE key, BYTE asc, std::uint64_t after_ms) {
  FakeReply reply;
  reply.status = SS_ERR;
  reply.target_status = STATUS_CHKCOND;
  reply.sense_key = key;
  reply.asc = asc;
  reply.after_ms = after_ms;
  return reply;
}

FakeReply Never() {
  FakeReply reply;
  reply.never = true;
  return reply;
}

std::vector<BYTE> InquiryAnswer(const char* product) {
  std::vector<BYTE> data(32, ' ');
  data[0] = 0x05;  // CD/DVD device
  std::memcpy(data.data() + 8, "VANTROS ", 8);
  std::size_t n = std::min<std::size_t>(std::strlen(product), 16);
  std::memcpy(data.data() + 16, product, n);
  return data;
}

std::vector<BYTE> RevisionAnswer(const char* revision) {
  std::vector<BYTE> data(255, 0);
  data[1] = 0x81;
  std::memcpy(data.data() + 32, revision, std::min<std::size_t>(std::strlen(revision), 4));
  return data;
}

std::vector<BYTE> DriveInfoAnswer(BYTE version_code, BYTE model_code) {
  std::vector<BYTE> data(18, 0);
  data[12] = version_code;
  data[13] = model_code;
  return data;
}

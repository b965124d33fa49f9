// A scriptable ASPI layer on a virtual clock for unit tests of the command
// channel: the test decides each command's status, target status, sense,
// data and the virtual instant it ends, and reads back every command sent.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/virtual_clock.h"

// What one command does.
struct FakeReply {
  BYTE status = SS_COMP;
  BYTE target_status = STATUS_GOOD;
  BYTE sense_key = 0;
  BYTE asc = 0;
  BYTE ascq = 0;
  std::vector<BYTE> data;  // data-in bytes, written at the end (clipped to SRB_BufLen)
  // Ends this many ms after submission; 0 ends inside Send (routine included).
  std::uint64_t after_ms = 1;
  bool never = false;  // stays held for good
  // The completion routine runs this many ms after the status is set; the
  // record stays held until then (a layer that posts from elsewhere).
  std::uint64_t routine_after_ms = 0;
};

// One command as submitted.
struct FakeCommand {
  int index;
  BYTE adapter;
  BYTE target;
  BYTE flags;
  BYTE cdb_length;
  BYTE sense_length;
  std::vector<BYTE> cdb;        // SRB_CDBLen bytes
  std::vector<BYTE> cdb_block;  // all 16 bytes of CDBByte
  DWORD buffer_length;
  std::vector<BYTE> data_out;  // the buffer at submission, for data-out commands
  const SRB_ExecSCSICmd* record;
  const BYTE* buffer;
  PostProc post;
  DWORD submitted_tick;

  BYTE opcode() const { return cdb.empty() ? 0 : cdb[0]; }
};

class FakeAspi final : public AspiLayer, public VirtualEventSource {
 public:
  explicit FakeAspi(DWORD ticks_at_power_on = 1000);
  ~FakeAspi() override;

  // Installs this layer and its clock (and `files`, when given) as the
  // platform; the destructor uninstalls it.
  void Install(Files* files = nullptr);

  std::function<FakeReply(const FakeCommand&)> script;  // default: good at once + 1 ms
  std::vector<FakeCommand> commands;
  DWORD support = 0x0101;  // one adapter, SS_COMP
  int refused_resubmits = 0;
  // Sum of the bytes of the last data-out buffer as it stood when its command
  // ended (reading it then lets the sanitizers catch a buffer freed early).
  unsigned long last_out_sum_at_end = 0;
  VirtualClock clock;

  DWORD SupportInfo() override { return support; }
  DWORD Send(SRB_ExecSCSICmd* request) override;
  bool Holds(const SRB_ExecSCSICmd* request) const override;
  std::uint64_t NextEventAt() const override;
  void RunUntil(std::uint64_t now) override;

  int held_count() const { return static_cast<int>(held_.size()); }
  // Commands with this opcode, in order.
  std::vector<const FakeCommand*> WithOpcode(BYTE opcode) const;

 private:
  struct Held {
    SRB_ExecSCSICmd* record;
    std::uint64_t due;
    FakeReply reply;
    bool ended = false;          // status set, routine still to run
    PostProc routine = nullptr;  // the one the record carried then
  };
  void Complete(SRB_ExecSCSICmd* record, const FakeReply& reply);

  std::vector<Held> held_;
  bool installed_ = false;
};

// Reply helpers.
FakeReply Good(std::vector<BYTE> data = {}, std::uint64_t after_ms = 1);
FakeReply Busy(std::uint64_t after_ms = 1);
FakeReply CheckCondition(BYTE key, BYTE asc, std::uint64_t after_ms = 1);
FakeReply Never();
// A standard INQUIRY answer (32 bytes) carrying `product` at bytes 16..31.
std::vector<BYTE> InquiryAnswer(const char* product);
// A page-0x81 answer (255 bytes) with `revision` at bytes 32..35.
std::vector<BYTE> RevisionAnswer(const char* revision);
// A vendor 0xCC answer (18 bytes) with the version and model codes.
std::vector<BYTE> DriveInfoAnswer(BYTE version_code, BYTE model_code);

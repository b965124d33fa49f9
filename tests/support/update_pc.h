// Whole launches of the program on a virtual PC made by quorvanta-sim, in
// virtual time, with a user who accepts the agreement, chooses a drive,
// presses UPDATE and answers the questions as told, and with drive faults
// injected at a chosen command.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/aspi.h"
#include "platform/dialogs/model.h"

// Makes a virtual PC at `dir` with `quorvanta-sim init DIR ARGS`. Empty when
// it worked, else the tool's output.
std::string MakeVirtualPc(const std::filesystem::path& dir, const std::string& init_args);

// Accepts the agreement, picks the row of `drive` ("A:T"; empty: the first
// listed), presses UPDATE `presses` times while it is enabled, then EXIT.
// Questions take `answers` in turn, then OK.
class UpdateUser final : public dialog_model::User {
 public:
  UpdateUser(std::string drive, std::vector<int> answers, int presses)
      : drive_(std::move(drive)), answers_(std::move(answers)), presses_(presses) {}
  bool Act(HWND dialog) override;
  int Answer(const dialog_model::MessageBoxRecord& box) override;

 private:
  std::string drive_;
  std::vector<int> answers_;
  int presses_;
  std::size_t next_answer_ = 0;
  int step_ = 0;
};

// One fault of the drive at one address, from the `at`-th command sent to
// that address (counted from 0 at power-on).
enum class DriveFault { kNone, kTimeOut, kCheckCondition, kBusyStorm, kPowerLoss };

class FaultyAspi final : public AspiLayer {
 public:
  // A run that sends more commands than this is counted as a hang: the drive
  // then stops answering, so the program ends.
  static constexpr int kRunawayCommands = 20000;
  static constexpr int kBusyStormLength = 20;

  FaultyAspi(AspiLayer* inner, int adapter, int target, DriveFault fault, int at)
      : inner_(inner), adapter_(adapter), target_(target), fault_(fault), at_(at) {}
  DWORD SupportInfo() override { return inner_->SupportInfo(); }
  DWORD Send(SRB_ExecSCSICmd* request) override;
  bool Holds(const SRB_ExecSCSICmd* request) const override {
    return held_.count(request) != 0 || inner_->Holds(request);
  }
  int commands() const { return count_; }
  bool runaway() const { return runaway_; }
  // Virtual milliseconds between one command to the drive and the next
  // (and, with `end`, from the last one to `end`), those of a second or more.
  std::vector<DWORD> Pauses(DWORD end) const;

 private:
  DWORD EndNow(SRB_ExecSCSICmd* request, BYTE status, BYTE target_status);

  AspiLayer* inner_;
  int adapter_;
  int target_;
  DriveFault fault_;
  int at_;
  int count_ = 0;
  bool lost_ = false;
  bool runaway_ = false;
  std::set<const SRB_ExecSCSICmd*> held_;
  std::vector<DWORD> sent_at_;
};

struct UpdateRun {
  // Transcript lines, without the dialog captions and the answers OK.
  std::vector<std::string> transcript;
  // `drive A:T ...` lines of the drives as they run after a power cycle.
  std::vector<std::string> drives;
  // "autoinsert=01 resume=00 run=0": the drives' AutoInsertNotification
  // bytes, whether each resume file exists, whether the Run entry does.
  std::string system;
  int commands = 0;  // sent to the faulty drive
  // The drive's silences of a second or more, in virtual ms: the program's
  // waits, and the time-outs of commands it never answered.
  std::vector<DWORD> pauses;
  bool runaway = false;
};

struct FaultPlan {
  int adapter = 0;
  int target = 0;
  DriveFault fault = DriveFault::kNone;
  int at = 0;
};

// Launches the program once on the virtual PC at `dir` with `arguments` after
// the program path, and powers the PC off and on again afterwards. The PC's
// directory is not saved.
UpdateRun RunProgram(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                     dialog_model::User* user, const FaultPlan& plan = FaultPlan{});

#include "tests/support/update_pc.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/launch.h"
#include "app/launcher.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/sim/emulated_drive.h"
#include "platform/sim/virtual_pc.h"
#include "resources/resource.h"
#include "state/app_state.h"
#include "tests/support/transcript_capture.h"

std::string MakeVirtualPc(const std::filesystem::path& dir, const std::string& init_args) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir.parent_path(), ec);
  const char* bin = std::getenv("QV_BIN_DIR");
  std::string command = std::string(bin ? bin : ".") + "/quorvanta-sim init " + dir.string() + " " +
                        init_args + " 2>&1";
  std::string output;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    if (pclose(pipe) == 0) return "";
  }
  return output.empty() ? "cannot run quorvanta-sim" : output;
}

bool UpdateUser::Act(HWND dialog) {
  if (++step_ > 1000) return false;
  if (dialog_model::TemplateName(dialog).rfind("KYODAKU", 0) == 0) {
    if (!IsWindowEnabled(GetDlgItem(dialog, IDC_AGREE_ACCEPT))) {
      return dialog_model::Scroll(dialog, IDC_AGREE_SCROLL, SB_PAGEDOWN);
    }
    if (IsDlgButtonChecked(dialog, IDC_AGREE_ACCEPT) != BST_CHECKED) {
      return dialog_model::Click(dialog, IDC_AGREE_ACCEPT);
    }
    return dialog_model::Click(dialog, IDC_AGREE_NEXT);
  }
  if (!drive_.empty()) {
    for (int row = 0; row < 4; ++row) {
      const DrivePair& pair = g_app.ListedDrives[row];
      if (drive_ == std::to_string(pair.adapter) + ":" + std::to_string(pair.target) &&
          IsWindowVisible(GetDlgItem(dialog, IDC_DRIVE_RADIO1 + row))) {
        dialog_model::Click(dialog, IDC_DRIVE_RADIO1 + row);
        break;
      }
    }
    drive_.clear();
    return true;
  }
  if (presses_ > 0 && IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE))) {
    --presses_;
    return dialog_model::Click(dialog, IDC_UPDATE);
  }
  return dialog_model::Click(dialog, IDC_EXIT);
}

int UpdateUser::Answer(const dialog_model::MessageBoxRecord& box) {
  if ((box.style & 0x0F) != MB_OKCANCEL || next_answer_ >= answers_.size()) return IDOK;
  return answers_[next_answer_++];
}

DWORD FaultyAspi::EndNow(SRB_ExecSCSICmd* request, BYTE status, BYTE target_status) {
  request->SRB_Status = status;
  request->SRB_TargStat = target_status;
  if (target_status == STATUS_CHKCOND) {
    request->SenseArea[0] = 0x70;
    request->SenseArea[2] = 0x04;  // HARDWARE ERROR
    request->SenseArea[7] = 10;
    request->SenseArea[12] = 0x44;  // internal target failure
  }
  if ((request->SRB_Flags & SRB_POSTING) != 0 && request->SRB_PostProc != nullptr) {
    request->SRB_PostProc(request);
  }
  return status;
}

DWORD FaultyAspi::Send(SRB_ExecSCSICmd* request) {
  if (request->SRB_HaId != adapter_ || request->SRB_Target != target_) {
    return inner_->Send(request);
  }
  const int index = count_++;
  sent_at_.push_back(GetTickCount());
  if (index >= kRunawayCommands) {
    runaway_ = true;
    lost_ = true;
  }
  if (lost_) return EndNow(request, SS_NO_DEVICE, 0);
  switch (fault_) {
    case DriveFault::kTimeOut:
      if (index != at_) break;
      request->SRB_Status = SS_PENDING;
      held_.insert(request);
      return SS_PENDING;
    case DriveFault::kCheckCondition:
      if (index == at_) return EndNow(request, SS_ERR, STATUS_CHKCOND);
      break;
    case DriveFault::kBusyStorm:
      if (index >= at_ && index < at_ + kBusyStormLength) {
        return EndNow(request, SS_ERR, STATUS_BUSY);
      }
      break;
    case DriveFault::kPowerLoss:
      if (index < at_) break;
      lost_ = true;
      return EndNow(request, SS_NO_DEVICE, 0);
    case DriveFault::kNone:
      break;
  }
  return inner_->Send(request);
}

std::vector<DWORD> FaultyAspi::Pauses(DWORD end) const {
  std::vector<DWORD> pauses;
  for (std::size_t i = 0; i < sent_at_.size(); ++i) {
    const DWORD next = i + 1 < sent_at_.size() ? sent_at_[i + 1] : end;
    if (next - sent_at_[i] >= 1000) pauses.push_back(next - sent_at_[i]);
  }
  return pauses;
}

UpdateRun RunProgram(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                     dialog_model::User* user, const FaultPlan& plan) {
  UpdateRun run;
  std::string error;
  auto pc = VirtualPc::Open(dir, &error);
  if (!pc) {
    run.transcript.push_back("cannot open the virtual PC: " + error);
    return run;
  }
  ResetLaunch();
  pc->SetCommandLine(BuildWindowsCommandLine(kProgramWindowsPath, arguments));
  Platform platform = pc->platform();
  FaultyAspi faulty(platform.aspi, plan.adapter, plan.target, plan.fault, plan.at);
  platform.aspi = &faulty;
  InstallPlatform(platform);
  dialog_model::SetScreenSize(pc->screen_width(), pc->screen_height());
  dialog_model::SetUser(user);
  auto transcript = std::make_unique<TranscriptCapture>();

  AppMain(nullptr, nullptr);
  run.pauses = faulty.Pauses(GetTickCount());

  const std::vector<std::string> lines = transcript->Lines();
  transcript.reset();
  dialog_model::SetUser(nullptr);
  dialog_model::Reset();
  InstallPlatform(Platform{});
  for (const std::string& text : lines) {
    if (text.rfind("dialog: ", 0) == 0 || text == "answer: OK") continue;
    run.transcript.push_back(text);
  }
  // What each drive would run after a power cycle: the firmware it holds.
  for (int adapter = 0; adapter < 8; ++adapter) {
    for (int target = 0; target < 8; ++target) {
      const EmulatedDrive* drive = pc->aspi().DriveAt(adapter, target);
      if (drive == nullptr) continue;
      const DriveSetup s = drive->BootSetup();
      char codes[64];
      std::snprintf(codes, sizeof codes, " code=0x%02X model=0x%02X disc=%d", s.code, s.modelcode,
                    s.disc ? 1 : 0);
      run.drives.push_back("drive " + std::to_string(adapter) + ":" + std::to_string(target) + " " +
                           s.product + " rev=" + s.rev + codes);
    }
  }
  run.system = "autoinsert=";
  if (RegistryStore::Key* scsi = pc->registry().Find("Enum\\SCSI")) {
    for (const auto& device : scsi->subkeys) {
      for (const auto& instance : device->subkeys) {
        for (const auto& value : instance->values) {
          if (value.name != "AutoInsertNotification") continue;
          for (BYTE b : value.data) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", b);
            run.system += hex;
          }
        }
      }
    }
  }
  run.system += " resume=";
  for (const char* path : {"C:\\WINDOWS\\Tellmr1.DAT", "C:\\WINDOWS\\Tellmr2.DAT"}) {
    std::filesystem::path host;
    const bool there =
        pc->files().Map(path, false, &host) && std::filesystem::is_regular_file(host);
    run.system += there ? "1" : "0";
  }
  run.system +=
      pc->registry().FindValue(kRunKeyPath, kRunValueName) != nullptr ? " run=1" : " run=0";
  run.commands = faulty.commands();
  run.runaway = faulty.runaway();
  return run;
}

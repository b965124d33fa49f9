#include "tests/support/dialogs_pc.h"

#include <algorithm>

#include "app/launch.h"
#include "app/main_window.h"
#include "platform/dialogs/model.h"
#include "platform/dialogs/views.h"
#include "state/app_state.h"
#include "tests/support/transcript_capture.h"
#include "ui/drive_list.h"

DialogsPc::DialogsPc() {
  ResetLaunch();
  aspi.Install(&files);
  Platform platform = CurrentPlatform();
  platform.system = &system;
  platform.registry = &registry;
  InstallPlatform(platform);
  aspi.script = [this](const FakeCommand& command) { return Bus(command); };
  g_app.AdapterCount = 1;
  g_app.MessageLanguage = 0x0409;
  CopyText(g_app.MsgNoDevice, kMessageSize, "Error: No device could be detected.");
  CopyText(g_app.RegistryResumePath, kMaxPath, "C:\\WINDOWS\\Tellmr1.DAT");
  CopyText(g_app.LaunchResumePath, kMaxPath, "C:\\WINDOWS\\Tellmr2.DAT");
  CopyText(g_app.AgreementLabelAccept, 16, "Accept");
  CopyText(g_app.AgreementLabelDecline, 16, "Do not Accept");
  files.files[g_app.RegistryResumePath] = "saved";
  files.files[g_app.LaunchResumePath] = "launch";
  capture = std::make_unique<TranscriptCapture>();
  transcript = capture->stream();
  SetListedDriveQuery(ListedDriveAt);
  RegisterMainWindowClass();
}

void DialogsPc::RegisterMainWindowClass() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = MainWindowProc;
  window_class.lpszClassName = "LINKTEST";
  RegisterClassA(&window_class);
}

DialogsPc::~DialogsPc() {
  capture.reset();
  dialog_model::Reset();
}

FakeReply DialogsPc::Bus(const FakeCommand& command) const {
  if (!drive_present || command.adapter != 0 || command.target != 0) {
    FakeReply none;
    none.status = SS_NO_DEVICE;
    none.after_ms = 0;
    return none;
  }
  if (command.opcode() == 0x12) {
    return Good((command.cdb[1] & 1) != 0 ? RevisionAnswer("1.00") : InquiryAnswer("T71 CDRW USB"));
  }
  if (command.opcode() == 0xCC) return CheckCondition(5, 0x20);
  return Good();
}

HWND DialogsPc::CreateMainWindow() {
  return CreateWindowExA(0, "LINKTEST", "ASPI for WIN32 Sample Application", WS_OVERLAPPEDWINDOW,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                         nullptr, nullptr, nullptr);
}

std::vector<std::string> DialogsPc::TranscriptLines() { return capture->Lines(); }

bool DialogsPc::Deleted(const char* path) const {
  return std::find(files.deleted.begin(), files.deleted.end(), path) != files.deleted.end();
}

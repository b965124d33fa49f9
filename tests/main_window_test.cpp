// The hidden main window: its create step runs the agreement, the first scan
// and the main dialog, cleans up a continued update and closes itself.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "platform/dialogs/model.h"
#include "platform/registry_store.h"
#include "platform/transcript.h"
#include "resources/resource.h"
#include "tests/support/dialogs_user.h"
#include "tests/support/fake_aspi.h"
#include "tests/support/fake_pc.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    dialog_model::Reset();
    user_ = DialogsTestUser();
    files_.deleted.clear();
    dialog_model::SetUser(&user_);
    aspi_.Install(&files_);
    Platform platform = CurrentPlatform();
    platform.system = &system_;
    platform.registry = &registry_;
    InstallPlatform(platform);
    aspi_.script = [this](const FakeCommand& command) { return Bus(command); };
    g_app.AdapterCount = 1;
    g_app.MessageLanguage = 0x0409;
    CopyText(g_app.MsgNoDevice, kMessageSize, "Error: No device could be detected.");
    CopyText(g_app.RegistryResumePath, kMaxPath, "C:\\WINDOWS\\Tellmr1.DAT");
    CopyText(g_app.LaunchResumePath, kMaxPath, "C:\\WINDOWS\\Tellmr2.DAT");
    files_.files[g_app.RegistryResumePath] = "saved";
    files_.files[g_app.LaunchResumePath] = "launch";
    transcript_ = std::tmpfile();
    SetTranscript(transcript_);
    WNDCLASSA wc{};
    wc.lpfnWndProc = MainWindowProc;
    wc.lpszClassName = "LINKTEST";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void TearDown() override {
    SetTranscript(nullptr);
    std::fclose(transcript_);
    dialog_model::Reset();
  }

  // One T71 drive at 0:0 that does not answer the vendor query, when present.
  FakeReply Bus(const FakeCommand& command) {
    if (!drive_ || command.adapter != 0 || command.target != 0) {
      FakeReply none;
      none.status = SS_NO_DEVICE;
      none.after_ms = 0;
      return none;
    }
    if (command.opcode() == 0x12)
      return Good((command.cdb[1] & 1) != 0 ? RevisionAnswer("1.00")
                                            : InquiryAnswer("T71 CDRW USB"));
    if (command.opcode() == 0xCC) return CheckCondition(5, 0x20);
    return Good();
  }

  HWND Create() {
    return CreateWindowExA(0, "LINKTEST", "ASPI for WIN32 Sample Application", WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                           nullptr, nullptr, nullptr);
  }
  std::vector<std::string> TranscriptLines() {
    std::fflush(transcript_);
    std::rewind(transcript_);
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, transcript_) != nullptr) {
      std::string text(line);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      lines.push_back(text);
    }
    return lines;
  }
  bool Deleted(const char* path) const {
    return std::find(files_.deleted.begin(), files_.deleted.end(), path) != files_.deleted.end();
  }
  void AcceptAgreement() {
    user_.steps.push_back([](HWND d) { dialog_model::DragThumb(d, IDC_AGREE_SCROLL, 999); });
    user_.steps.push_back([](HWND d) { dialog_model::Click(d, IDC_AGREE_ACCEPT); });
    user_.steps.push_back([](HWND d) { dialog_model::Click(d, IDC_AGREE_NEXT); });
  }
  void DeclineAgreement() {
    user_.steps.push_back([](HWND d) { dialog_model::DragThumb(d, IDC_AGREE_SCROLL, 999); });
    user_.steps.push_back([](HWND d) { dialog_model::Click(d, IDC_AGREE_DECLINE); });
    user_.steps.push_back([](HWND d) { dialog_model::Click(d, IDC_AGREE_NEXT); });
  }
  void PressExit() {
    user_.steps.push_back([](HWND d) { dialog_model::Click(d, IDC_EXIT); });
  }

  FakeAspi aspi_;
  MemoryFiles files_;
  FakeSystem system_;
  RegistryStore registry_;
  DialogsTestUser user_;
  std::FILE* transcript_ = nullptr;
  bool drive_ = true;
};

const char* const kAgreementOpens = "dialog: Quorvanta        Ver. 1.0";

TEST_F(MainWindowTest, TheFourSituationsShowCleanAndCloseAsTheyShould) {
  struct Case {
    const char* name;
    int is_nt;
    int no_restart_needed;
    bool agreement_shown;
    bool cleaned_up;
  };
  const Case cases[] = {
      {"fresh launch on 95/98", 0, 0, true, false},
      {"continued update on 95/98", 0, 1, false, true},
      {"NT family", 1, 0, true, false},
      {"NT family with resume state", 1, 1, true, false},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    g_app.IsNT = c.is_nt;
    g_app.NoRestartNeeded = c.no_restart_needed;
    if (c.agreement_shown) AcceptAgreement();
    PressExit();
    EXPECT_EQ(Create(), nullptr) << c.name;  // closed during its own creation
    std::vector<std::string> expected = {kAgreementOpens, kAgreementOpens};
    if (!c.agreement_shown) expected.pop_back();
    EXPECT_EQ(TranscriptLines(), expected) << c.name;
    EXPECT_EQ(user_.templates.back(), "MainDialogUS") << c.name;
    EXPECT_EQ(user_.templates.front(), c.agreement_shown ? "KYODAKUUS" : "MainDialogUS") << c.name;
    EXPECT_EQ(Deleted(g_app.RegistryResumePath), c.cleaned_up) << c.name;
    EXPECT_EQ(Deleted(g_app.LaunchResumePath), c.cleaned_up) << c.name;
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0) << c.name;
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 0u);
  }
}

TEST_F(MainWindowTest, DecliningEndsWithoutAScanAMessageOrAnyClean) {
  DeclineAgreement();
  dialog_model::RecordMessages(true);
  EXPECT_EQ(Create(), nullptr);
  EXPECT_TRUE(aspi_.commands.empty());
  EXPECT_TRUE(dialog_model::MessageBoxes().empty());
  EXPECT_TRUE(files_.deleted.empty());
  EXPECT_EQ(TranscriptLines(), std::vector<std::string>{kAgreementOpens});
  // The window's own messages, in the order Windows sends them.
  std::vector<UINT> window_messages;
  HWND window = dialog_model::Messages().front().window;
  for (const auto& m : dialog_model::Messages())
    if (m.window == window) window_messages.push_back(m.message);
  EXPECT_EQ(window_messages, (std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}));
}

TEST_F(MainWindowTest, NoDriveShowsMsgNoDeviceOnceWithoutOwnerAndCleansAContinuedUpdate) {
  drive_ = false;
  g_app.NoRestartNeeded = 1;
  EXPECT_EQ(Create(), nullptr);
  ASSERT_EQ(dialog_model::MessageBoxes().size(), 1u);
  const auto& box = dialog_model::MessageBoxes()[0];
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.text, "Error: No device could be detected.");
  EXPECT_EQ(box.caption, "Quorvanta");
  EXPECT_EQ(box.style, MB_OK);
  EXPECT_EQ(box.language, 0x0409);
  EXPECT_TRUE(Deleted(g_app.RegistryResumePath));
  EXPECT_TRUE(Deleted(g_app.LaunchResumePath));
  EXPECT_TRUE(user_.templates.empty());  // neither dialog waited for input
}

TEST_F(MainWindowTest, AMainDialogThatEndsAnyWayStillClosesTheWindow) {
  // The user walks away in the main dialog: the model ends it, and the
  // hidden window must not survive with nobody able to close it.
  AcceptAgreement();
  EXPECT_EQ(Create(), nullptr);
  EXPECT_TRUE(dialog_model::GivenUp());
  EXPECT_EQ(user_.templates.size(), 3u);
}

}  // namespace

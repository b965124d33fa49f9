// The hidden main window: its create step runs the agreement, the first scan
// and the main dialog, cleans up a continued update and closes itself.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/dialogs/model.h"
#include "resources/resource.h"
#include "state/app_state.h"
#include "tests/support/dialogs_pc.h"
#include "tests/support/dialogs_user.h"

namespace {

const char* const kDialogOpens = "dialog: Quorvanta        Ver. 1.0";

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void Fresh() {
    pc_.reset();
    pc_ = std::make_unique<DialogsPc>();
    user_ = DialogsTestUser();
    dialog_model::SetUser(&user_);
  }

  void ReadAndChoose(int choice) {
    user_.steps.push_back([](HWND d) { dialog_model::DragThumb(d, IDC_AGREE_SCROLL, 999); });
    user_.steps.push_back([choice](HWND d) { dialog_model::Click(d, choice); });
    user_.steps.push_back([](HWND d) { dialog_model::Click(d, IDC_AGREE_NEXT); });
  }
  void PressExit() {
    user_.steps.push_back([](HWND d) { dialog_model::Click(d, IDC_EXIT); });
  }

  std::unique_ptr<DialogsPc> pc_;
  DialogsTestUser user_;
};

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
    Fresh();
    g_app.IsNT = c.is_nt;
    g_app.NoRestartNeeded = c.no_restart_needed;
    if (c.agreement_shown) ReadAndChoose(IDC_AGREE_ACCEPT);
    PressExit();
    EXPECT_EQ(pc_->CreateMainWindow(), nullptr) << c.name;  // closed while being created
    std::vector<std::string> expected = {kDialogOpens, kDialogOpens};
    if (!c.agreement_shown) expected.pop_back();
    EXPECT_EQ(pc_->TranscriptLines(), expected) << c.name;
    ASSERT_FALSE(user_.templates.empty());
    EXPECT_EQ(user_.templates.back(), "MainDialogUS") << c.name;
    EXPECT_EQ(user_.templates.front(), c.agreement_shown ? "KYODAKUUS" : "MainDialogUS") << c.name;
    EXPECT_EQ(pc_->Deleted(g_app.RegistryResumePath), c.cleaned_up) << c.name;
    EXPECT_EQ(pc_->Deleted(g_app.LaunchResumePath), c.cleaned_up) << c.name;
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0) << c.name;
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 0u);
  }
}

TEST_F(MainWindowTest, JapaneseUsesTheJapaneseTemplates) {
  g_app.PrimaryLanguage = 0x11;
  ReadAndChoose(IDC_AGREE_ACCEPT);
  PressExit();
  EXPECT_EQ(pc_->CreateMainWindow(), nullptr);
  EXPECT_EQ(user_.templates,
            (std::vector<std::string>{"KYODAKU", "KYODAKU", "KYODAKU", "MainDialog"}));
}

TEST_F(MainWindowTest, DecliningEndsWithoutAScanAMessageOrAnyClean) {
  ReadAndChoose(IDC_AGREE_DECLINE);
  dialog_model::RecordMessages(true);
  EXPECT_EQ(pc_->CreateMainWindow(), nullptr);
  EXPECT_TRUE(pc_->aspi.commands.empty());
  EXPECT_TRUE(dialog_model::MessageBoxes().empty());
  EXPECT_TRUE(pc_->files.deleted.empty());
  EXPECT_EQ(pc_->TranscriptLines(), std::vector<std::string>{kDialogOpens});
  // The window's own messages, in the order Windows sends them.
  std::vector<UINT> window_messages;
  HWND window = dialog_model::Messages().front().window;
  for (const auto& m : dialog_model::Messages())
    if (m.window == window) window_messages.push_back(m.message);
  EXPECT_EQ(window_messages, (std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}));
}

TEST_F(MainWindowTest, NoDriveShowsMsgNoDeviceOnceWithoutOwnerAndCleansAContinuedUpdate) {
  pc_->drive_present = false;
  g_app.NoRestartNeeded = 1;
  EXPECT_EQ(pc_->CreateMainWindow(), nullptr);
  ASSERT_EQ(dialog_model::MessageBoxes().size(), 1u);
  const auto& box = dialog_model::MessageBoxes()[0];
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.text, "Error: No device could be detected.");
  EXPECT_EQ(box.caption, "Quorvanta");
  EXPECT_EQ(box.style, MB_OK);
  EXPECT_EQ(box.language, 0x0409);
  EXPECT_TRUE(pc_->Deleted(g_app.RegistryResumePath));
  EXPECT_TRUE(pc_->Deleted(g_app.LaunchResumePath));
  EXPECT_TRUE(user_.templates.empty());  // no dialog waited for input
}

TEST_F(MainWindowTest, AMainDialogThatEndsAnyWayStillClosesTheWindow) {
  // The user walks away in the main dialog: the model ends it, and the
  // hidden window must not survive with nobody able to close it.
  ReadAndChoose(IDC_AGREE_ACCEPT);
  EXPECT_EQ(pc_->CreateMainWindow(), nullptr);
  EXPECT_TRUE(dialog_model::GivenUp());
  EXPECT_EQ(user_.templates.size(), 3u);
}

}  // namespace

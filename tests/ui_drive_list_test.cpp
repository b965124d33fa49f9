// The drive rows of the main dialog, the version caption and centring, on
// the dialog model with a scripted bus.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "platform/dialogs/model.h"
#include "resources/resource.h"
#include "state/app_state.h"
#include "tests/support/dialogs_user.h"
#include "tests/support/fake_aspi.h"
#include "ui/drive_list.h"
#include "update/main_dialog.h"

namespace {

constexpr int kRevisionIds[] = {IDC_REVISION1, IDC_REVISION2, IDC_REVISION3, IDC_REVISION4};
constexpr int kMovedIds[] = {IDC_UPDATE, IDC_EXIT, IDC_PROGRESS_BAR, IDC_DURATION_NOTE};

class DriveListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    dialog_model::Reset();
    dialog_model::SetUser(&user_);
    aspi_.Install();
    aspi_.script = [this](const FakeCommand& command) {
      auto it = codes_.find({command.adapter, command.target});
      if (command.opcode() != 0xCC || it == codes_.end()) return CheckCondition(5, 0x20);
      return Good(DriveInfoAnswer(it->second, 0x04));
    };
    g_app.AdapterCount = 2;
  }
  void TearDown() override { dialog_model::Reset(); }

  // A supported drive; `code` < 0: it does not answer the vendor query.
  void AddDrive(int adapter, int target, const char* revision, int code) {
    int slot = adapter * 8 + target;
    g_app.DeviceSupported[slot] = 1;
    CopyText(g_app.DeviceRevision[slot], 5, revision);
    if (code >= 0) codes_[{adapter, target}] = static_cast<BYTE>(code);
  }

  // Opens the main dialog, runs `look` once, then presses EXIT.
  INT_PTR Open(std::function<void(HWND)> look, bool japanese = false) {
    user_ = DialogsTestUser();
    user_.steps = {std::move(look), [](HWND d) { dialog_model::Click(d, IDC_EXIT); }};
    return DialogBoxParamA(nullptr, japanese ? "MainDialog" : "MainDialogUS", nullptr,
                           MainDialogProc, 0);
  }

  static RECT Place(HWND d, int id) {
    RECT r;
    GetWindowRect(id == 0 ? d : GetDlgItem(d, id), &r);
    return r;
  }
  static int VisibleRows(HWND d) {
    int rows = 0;
    for (int row = 0; row < 4; ++row) {
      bool radio = IsWindowVisible(GetDlgItem(d, IDC_DRIVE_RADIO1 + row)) != 0;
      EXPECT_EQ(radio, IsWindowVisible(GetDlgItem(d, IDC_FW_LABEL1 + row)) != 0);
      EXPECT_EQ(radio, IsWindowVisible(GetDlgItem(d, kRevisionIds[row])) != 0);
      rows += radio ? 1 : 0;
    }
    return rows;
  }

  FakeAspi aspi_;
  std::map<std::pair<int, int>, BYTE> codes_;
  DialogsTestUser user_;
};

TEST_F(DriveListTest, RowsGrowTheDialogAndMoveTheControlsBelowByTheFrameOffsetPerRow) {
  struct Case {
    int drives;
    int rows;
    bool japanese;
    int pitch;  // top of radio 2 minus top of radio 1, in pixels
  };
  const Case cases[] = {{1, 1, false, 25}, {3, 3, false, 25}, {5, 4, false, 25}, {3, 3, true, 26}};
  for (const Case& c : cases) {
    SetUp();
    for (int i = 0; i < c.drives; ++i) AddDrive(i / 4, (i % 4) * 2, "1.00", -1);
    // The template places, read from a dialog that lists nothing.
    g_app.AdapterCount = 0;
    RECT dialog0{};
    RECT moved0[4]{};
    Open(
        [&](HWND d) {
          dialog0 = Place(d, 0);
          for (int i = 0; i < 4; ++i) moved0[i] = Place(d, kMovedIds[i]);
        },
        c.japanese);
    g_app.AdapterCount = 2;
    EXPECT_EQ(user_.steps_taken(), 2u);
    Open(
        [&](HWND d) {
          EXPECT_EQ(VisibleRows(d), c.rows);
          RECT now = Place(d, 0);
          const int added = c.rows - 1;
          EXPECT_EQ(now.bottom - now.top, dialog0.bottom - dialog0.top + added * c.pitch);
          EXPECT_EQ(now.right - now.left, dialog0.right - dialog0.left);
          for (int i = 0; i < 4; ++i) {
            RECT r = Place(d, kMovedIds[i]);
            // Centring came first, so the dialog's top left is where it was
            // before it grew; each row shifted the control by (3, 22).
            EXPECT_EQ(r.left - now.left, moved0[i].left - dialog0.left + 3 * added) << kMovedIds[i];
            EXPECT_EQ(r.top - now.top, moved0[i].top - dialog0.top + 22 * added) << kMovedIds[i];
            EXPECT_EQ(r.right - r.left, moved0[i].right - moved0[i].left);
          }
          EXPECT_EQ(IsDlgButtonChecked(d, IDC_DRIVE_RADIO1), BST_CHECKED);
        },
        c.japanese);
    EXPECT_EQ(user_.steps_taken(), 2u);
    EXPECT_EQ(g_app.SelectedAdapter, 0);
    EXPECT_EQ(g_app.SelectedTarget, 0);
    for (int row = 0; row < c.rows; ++row) {
      EXPECT_EQ(g_app.ListedDrives[row].adapter, row / 4);
      EXPECT_EQ(g_app.ListedDrives[row].target, (row % 4) * 2);
    }
  }
}

TEST_F(DriveListTest, CaptionsAndRevisionTextsFollowTheVendorQuery) {
  AddDrive(0, 1, "1.00", -1);    // no answer: ATAPI, no code text
  AddDrive(0, 2, "1.10", 0x05);  // padded to two places
  AddDrive(1, 0, "2.03", 0x12);
  AddDrive(1, 7, "1.0A", 0xAB);
  Open([&](HWND d) {
    const char* captions[] = {"ATAPI", "USB", "USB", "USB"};
    const char* revisions[] = {"1.00", "1.10 ( 5)", "2.03 (12)", "1.0A (ab)"};
    for (int row = 0; row < 4; ++row) {
      EXPECT_EQ(dialog_model::WindowText(GetDlgItem(d, IDC_DRIVE_RADIO1 + row)), captions[row]);
      EXPECT_EQ(dialog_model::WindowText(GetDlgItem(d, kRevisionIds[row])), revisions[row]);
      EXPECT_EQ(dialog_model::WindowText(GetDlgItem(d, IDC_FW_LABEL1 + row)),
                "F/W         version");
    }
  });
  // The last drive that answered is the one the shared request addresses.
  EXPECT_EQ(g_app.CurrentAdapter, 1);
  EXPECT_EQ(g_app.CurrentTarget, 7);
}

TEST_F(DriveListTest, RadioButtonsOnlyChooseTheDriveAndExitEndsWithZero) {
  AddDrive(0, 3, "1.00", -1);
  AddDrive(1, 5, "1.00", -1);
  AddDrive(1, 6, "1.00", -1);
  std::size_t commands_before = 0;
  user_.steps = {[&](HWND d) {
                   commands_before = aspi_.commands.size();
                   dialog_model::Click(d, IDC_DRIVE_RADIO3);
                   EXPECT_EQ(IsDlgButtonChecked(d, IDC_DRIVE_RADIO1), BST_UNCHECKED);
                 },
                 [&](HWND d) {
                   EXPECT_EQ(g_app.SelectedAdapter, 1);
                   EXPECT_EQ(g_app.SelectedTarget, 6);
                   dialog_model::Click(d, IDC_DRIVE_RADIO2);
                   EXPECT_EQ(g_app.SelectedTarget, 5);
                   dialog_model::Click(d, IDC_DRIVE_RADIO4);  // hidden: nothing happens
                   EXPECT_EQ(g_app.SelectedTarget, 5);
                   dialog_model::PressKey(d, VK_RETURN);  // IDOK: ignored
                   dialog_model::PressKey(d, VK_ESCAPE);  // IDCANCEL: ignored
                 },
                 [&](HWND d) {
                   EXPECT_EQ(aspi_.commands.size(), commands_before);
                   dialog_model::Click(d, IDC_EXIT);
                 }};
  g_app.MainDialogWindow = nullptr;
  EXPECT_EQ(DialogBoxParamA(nullptr, "MainDialogUS", nullptr, MainDialogProc, 0), 0);
  EXPECT_EQ(user_.steps_taken(), 3u);
  EXPECT_NE(g_app.MainDialogWindow, nullptr);
}

TEST(VersionCaptionTest, ReadsTheProgramsOwnVersionResourceOrShowsZero) {
  dialog_model::Reset();
  DWORD first = 7;
  DWORD second = 7;
  ReadFileVersion("C:\\Quorvanta\\QUORVANTA.EXE", &first, &second);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 0u);
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "PLAIN";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND w = CreateWindowExA(0, "PLAIN", "", 0, 0, 0, 301, 200, nullptr, nullptr, nullptr, nullptr);
  ShowVersionCaption(w);
  EXPECT_EQ(dialog_model::WindowText(w), "Quorvanta        Ver. 1.0");

  dialog_model::SetOwnModuleName("Other.exe");
  first = second = 7;
  ReadFileVersion("Quorvanta.exe", &first, &second);
  EXPECT_EQ(first, 7u);  // untouched when unreadable
  ShowVersionCaption(w);
  EXPECT_EQ(dialog_model::WindowText(w), "Quorvanta        Ver. 0.0");

  // An odd width on an even screen: left edge at 1024 / 2 - (301 - 1) / 2.
  dialog_model::SetScreenSize(1024, 600);
  CenterOnScreen(w);
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(r.left, 362);
  EXPECT_EQ(r.top, 200);
  EXPECT_EQ(r.right - r.left, 301);
  dialog_model::Reset();
}

}  // namespace

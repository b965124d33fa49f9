// The progress bar and the duration note in an open main dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/dialogs/model.h"
#include "resources/resource.h"
#include "state/app_state.h"
#include "tests/support/dialogs_user.h"
#include "tests/support/transcript_capture.h"
#include "update/main_dialog.h"
#include "update/progress.h"

namespace {

constexpr COLORREF kBlue = 0xFF0000;

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    dialog_model::Reset();
    dialog_model::SetUser(&user_);
  }
  void TearDown() override { dialog_model::Reset(); }

  // Runs `body` in an open main dialog (no drives listed), then EXIT.
  void InDialog(std::function<void(HWND)> body) {
    user_.steps = {std::move(body), [](HWND d) { dialog_model::Click(d, IDC_EXIT); }};
    ASSERT_EQ(DialogBoxParamA(nullptr, "MainDialogUS", nullptr, MainDialogProc, 0), 0);
    ASSERT_EQ(user_.steps_taken(), 2u);
  }
  static int Bar(HWND d) {
    return dialog_model::PaintedWidth(GetDlgItem(d, IDC_PROGRESS_BAR), kBlue);
  }

  DialogsTestUser user_;
};

TEST_F(ProgressTest, WidthMovesInWholePercentsAndNeverPastTheBar) {
  InDialog([](HWND d) {
    RECT client;
    GetClientRect(GetDlgItem(d, IDC_PROGRESS_BAR), &client);
    // 195 units = 341 pixels, less the sunken edge on both sides.
    ASSERT_EQ(client.right, 339);
    ASSERT_EQ(client.bottom, 22);
    struct Case {
      std::int32_t n;
      int width;
    };
    const Case cases[] = {{0, 0},     {1, 0},      {5, 0},      {9, 0},
                          {10, 3},    {19, 3},     {256, 84},   {500, 169},
                          {999, 335}, {1000, 339}, {2000, 339}, {INT32_MAX, 339}};
    for (const Case& c : cases) {
      PaintProgress(c.n);
      EXPECT_EQ(Bar(d), c.width) << "n = " << c.n;
    }
    // Nothing but the fill: no frame, no text, and the part to the right
    // stays as it was.
    auto ops = dialog_model::Painted(GetDlgItem(d, IDC_PROGRESS_BAR));
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].rect.top, 0);
    EXPECT_EQ(ops[0].rect.bottom, 22);
    EXPECT_EQ(dialog_model::OpenDeviceContexts(), 0);
    EXPECT_EQ(dialog_model::LiveBrushes(), 0);
  });
}

TEST_F(ProgressTest, AMessageBoxWipesTheBarUntilTheCountNextChanges) {
  InDialog([](HWND d) {
    PaintProgress(300);
    EXPECT_EQ(Bar(d), 101);
    MessageBoxExA(d, "Take CD off from a tray.", "Quorvanta", MB_OK, 0x0409);
    EXPECT_EQ(Bar(d), 0);
    PaintProgress(301);
    EXPECT_EQ(Bar(d), 101);
    // A multiple of ten repaints the dialog at once, and the repaint still
    // pending from the box erases what was just drawn.
    PaintProgress(310);
    EXPECT_EQ(Bar(d), 0);
    PaintProgress(311);
    EXPECT_EQ(Bar(d), 105);
    PaintProgress(320);  // nothing pending now: the bar stays
    EXPECT_EQ(Bar(d), 108);
  });
}

TEST_F(ProgressTest, DurationNoteSetsTheTextAndIsWrittenToTheTranscript) {
  CopyText(g_app.MsgMayTakeMinutes, kMessageSize, "Note: This may take several minutes.");
  TranscriptCapture transcript;
  InDialog([](HWND d) {
    EXPECT_EQ(dialog_model::WindowText(GetDlgItem(d, IDC_DURATION_NOTE)), "");
    ShowDurationNote();
    EXPECT_EQ(dialog_model::WindowText(GetDlgItem(d, IDC_DURATION_NOTE)),
              "Note: This may take several minutes.");
  });
  EXPECT_EQ(transcript.Text(),
            "dialog: Quorvanta        Ver. 1.0\n"
            "note: Note: This may take several minutes.\n");
}

TEST_F(ProgressTest, EveryChangeOfTheBarReachesTheViewWithoutAnyMessageDispatch) {
  int changes = 0;
  dialog_model::SetScreenListener([&] { ++changes; });
  InDialog([&](HWND d) {
    changes = 0;
    for (std::int32_t n = 1; n <= 20; ++n) PaintProgress(n);
    // A fill where the width changes (at 1, the first, then at 10 and 20),
    // and an immediate repaint at 10 and 20; the counts between paint what
    // is already there and are left out.
    EXPECT_EQ(changes, 5);
    EXPECT_EQ(Bar(d), 6);
  });
}

TEST_F(ProgressTest, PaintingWithoutAMainDialogDoesNothing) {
  g_app.MainDialogWindow = nullptr;
  PaintProgress(1000);
  ShowDurationNote();
  EXPECT_EQ(dialog_model::OpenDeviceContexts(), 0);
}

}  // namespace

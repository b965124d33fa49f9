// The agreement dialog on the dialog model: geometry, every scroll request,
// the keys, the choices and the result, as a person would work it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/dialogs/model.h"
#include "resources/resource.h"
#include "state/app_state.h"
#include "tests/support/dialogs_user.h"
#include "ui/agreement.h"

namespace {

class AgreementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    dialog_model::Reset();
    user_ = DialogsTestUser();
    dialog_model::SetUser(&user_);
    for (int i = 0; i < 96; ++i)
      std::snprintf(&g_app.AgreementText[i * kAgreementSlotSize], kAgreementSlotSize, "Line %d", i);
    CopyText(g_app.AgreementLabelAccept, 16, "Accept");
    CopyText(g_app.AgreementLabelDecline, 16, "Do not Accept");
  }
  void TearDown() override { dialog_model::Reset(); }

  INT_PTR Run(bool japanese = false) {
    g_app.PrimaryLanguage = japanese ? 0x11 : 0x09;
    return DialogBoxParamA(nullptr, japanese ? "KYODAKU" : "KYODAKUUS", nullptr, AgreementDialog,
                           0);
  }
  void Step(std::function<void(HWND)> step) { user_.steps.push_back(std::move(step)); }
  static bool ChoicesEnabled(HWND d) {
    bool accept = IsWindowEnabled(GetDlgItem(d, IDC_AGREE_ACCEPT)) != 0;
    bool decline = IsWindowEnabled(GetDlgItem(d, IDC_AGREE_DECLINE)) != 0;
    EXPECT_EQ(accept, decline);
    return accept;
  }
  static void Track(HWND d, int position) {
    SendMessageA(d, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, static_cast<WORD>(position)),
                 reinterpret_cast<LPARAM>(GetDlgItem(d, IDC_AGREE_SCROLL)));
  }

  DialogsTestUser user_;
};

TEST_F(AgreementTest, OpensCentredWithTheVersionCaptionAndTheFirstRowsDrawn) {
  HWND seen = nullptr;
  Step([&](HWND d) {
    seen = d;
    EXPECT_EQ(dialog_model::WindowText(d), "Quorvanta        Ver. 1.0");
    EXPECT_EQ(dialog_model::WindowText(GetDlgItem(d, IDC_AGREE_ACCEPT)), "Accept");
    EXPECT_EQ(dialog_model::WindowText(GetDlgItem(d, IDC_AGREE_DECLINE)), "Do not Accept");
    RECT r;
    GetWindowRect(d, &r);
    // 244 x 183 dialog units: 427 x 297 client pixels plus frame and caption.
    EXPECT_EQ(r.right - r.left, 427 + 6);
    EXPECT_EQ(r.bottom - r.top, 297 + 25);
    EXPECT_EQ(r.left, 1024 / 2 - 433 / 2);
    EXPECT_EQ(r.top, 768 / 2 - 322 / 2);
    EXPECT_EQ(dialog_model::Focus(), nullptr);  // the dialog keeps the keys
    auto ops = dialog_model::Painted(GetDlgItem(d, IDC_AGREE_TEXT));
    ASSERT_EQ(ops.size(), 11u);
    EXPECT_EQ(ops[0].text, "Line 0");
    EXPECT_EQ(ops[10].text, "Line 10");
    EXPECT_EQ(ops[10].rect.top, 200);
    EXPECT_EQ(ops[10].rect.bottom, 220);
    EXPECT_FALSE(ChoicesEnabled(d));
  });
  EXPECT_EQ(Run(), 0);  // the steps ran out: given up, not accepted
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(g_app.LastLine, 95);
  EXPECT_EQ(g_app.VisibleLines, 11);  // 139 units = 226 pixels, / 20
}

TEST_F(AgreementTest, LineByLineEnablesTheChoicesExactlyWhenTheLastLineReachesTheBottomRow) {
  struct Case {
    bool japanese;
    int last_line;
    int visible;
  };
  for (Case c : {Case{false, 95, 11}, Case{true, 90, 10}}) {
    SetUp();
    int first_enabled_top = -1;
    for (int i = 0; i < 100; ++i) {
      Step([&](HWND d) {
        dialog_model::Scroll(d, IDC_AGREE_SCROLL, SB_LINEDOWN);
        if (first_enabled_top < 0 && ChoicesEnabled(d)) first_enabled_top = g_app.TopLine;
      });
    }
    Run(c.japanese);
    EXPECT_EQ(g_app.VisibleLines, c.visible);
    EXPECT_EQ(first_enabled_top, c.last_line - c.visible + 1) << "japanese " << c.japanese;
    EXPECT_EQ(g_app.TopLine, c.last_line - c.visible + 1);  // line down stops there
  }
}

TEST_F(AgreementTest, PageDownJumpsToTheEndWhenTheLastLineWouldBeOneShortOrBeyond) {
  struct Case {
    int from;
    int to;
    bool enabled;
  };
  const Case cases[] = {
      {0, 11, false}, {72, 83, false}, {73, 85, true}, {77, 85, true}, {85, 85, true}};
  for (const Case& c : cases) {
    SetUp();
    Step([&](HWND d) {
      Track(d, c.from);
      ASSERT_EQ(g_app.TopLine, c.from);
      dialog_model::Scroll(d, IDC_AGREE_SCROLL, SB_PAGEDOWN);
      EXPECT_EQ(g_app.TopLine, c.to) << "from " << c.from;
      EXPECT_EQ(ChoicesEnabled(d), c.enabled || c.from == 85) << "from " << c.from;
      EXPECT_EQ(GetScrollPos(GetDlgItem(d, IDC_AGREE_SCROLL), SB_CTL), c.to);
    });
    Run();
  }
}

TEST_F(AgreementTest, ThumbTrackToTheEndEnablesAndScrollingBackKeepsThemEnabled) {
  Step([&](HWND d) {
    Track(d, 85);
    EXPECT_TRUE(ChoicesEnabled(d));  // on the track request itself
    dialog_model::Scroll(d, IDC_AGREE_SCROLL, SB_PAGEUP);
    EXPECT_EQ(g_app.TopLine, 74);
    dialog_model::DragThumb(d, IDC_AGREE_SCROLL, 0);
    EXPECT_EQ(g_app.TopLine, 0);
    dialog_model::Scroll(d, IDC_AGREE_SCROLL, SB_LINEUP);
    EXPECT_EQ(g_app.TopLine, 0);
    EXPECT_TRUE(ChoicesEnabled(d));
    // The redraw after a scroll: light grey first, then the rows.
    auto ops = dialog_model::Painted(GetDlgItem(d, IDC_AGREE_TEXT));
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops[0].kind, dialog_model::PaintOp::Kind::kFill);
    EXPECT_EQ(ops[0].colour, 0xC0C0C0u);
    EXPECT_EQ(ops[1].text, "Line 0");
  });
  Run();
}

TEST_F(AgreementTest, ThumbPositionsBeyondTheTextDrawNothingAndNeverEnable) {
  Step([&](HWND d) {
    Track(d, 0xFFFF);
    EXPECT_EQ(g_app.TopLine, 0xFFFF);
    EXPECT_FALSE(ChoicesEnabled(d));
    auto ops = dialog_model::Painted(GetDlgItem(d, IDC_AGREE_TEXT));
    ASSERT_EQ(ops.size(), 1u);  // the grey fill alone
    EXPECT_EQ(dialog_model::OpenDeviceContexts(), 0);
  });
  Run();
}

TEST_F(AgreementTest, NextEscapeEnterAndTheChoicesDoNothingAtFirst) {
  bool still_open = false;
  Step([&](HWND d) {
    EXPECT_FALSE(dialog_model::Click(d, IDC_AGREE_NEXT));
    EXPECT_FALSE(dialog_model::Click(d, IDC_AGREE_ACCEPT));
    dialog_model::PressKey(d, VK_ESCAPE);
    dialog_model::PressKey(d, VK_RETURN);
    EXPECT_EQ(IsDlgButtonChecked(d, IDC_AGREE_ACCEPT), BST_UNCHECKED);
  });
  Step([&](HWND) { still_open = true; });
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(still_open);
}

TEST_F(AgreementTest, PageKeysScrollOnlyWhileTheDialogOrTheScrollBarHoldsTheFocus) {
  Step([&](HWND d) {
    dialog_model::PressKey(d, VK_NEXT);
    EXPECT_EQ(g_app.TopLine, 11);
    dialog_model::PressKey(d, VK_NEXT);
    EXPECT_EQ(g_app.TopLine, 22);
    dialog_model::PressKey(d, VK_PRIOR);
    EXPECT_EQ(g_app.TopLine, 11);
    for (int i = 0; i < 8; ++i) dialog_model::PressKey(d, VK_NEXT);
    EXPECT_EQ(g_app.TopLine, 85);
    EXPECT_TRUE(dialog_model::Click(d, IDC_AGREE_ACCEPT));
    // The radio button has the focus now: Page Up goes to it, not the text.
    dialog_model::PressKey(d, VK_PRIOR);
    EXPECT_EQ(g_app.TopLine, 85);
    // A click on the scroll bar gives it the focus; it pages itself.
    dialog_model::Scroll(d, IDC_AGREE_SCROLL, SB_LINEUP);
    dialog_model::PressKey(d, VK_PRIOR);
    EXPECT_EQ(g_app.TopLine, 73);
  });
  Run();
}

TEST_F(AgreementTest, TheLastChoiceBeforeNextDecides) {
  struct Case {
    int first;
    int second;
    INT_PTR result;
  };
  const Case cases[] = {{IDC_AGREE_DECLINE, IDC_AGREE_ACCEPT, 1},
                        {IDC_AGREE_ACCEPT, IDC_AGREE_DECLINE, 0}};
  for (const Case& c : cases) {
    SetUp();
    Step([&](HWND d) {
      dialog_model::DragThumb(d, IDC_AGREE_SCROLL, 200);
      EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDC_AGREE_NEXT)));
      dialog_model::Click(d, c.first);
      EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_AGREE_NEXT)));
      dialog_model::Click(d, c.second);
      // Automatic radio buttons of one group: the other one is cleared.
      EXPECT_EQ(IsDlgButtonChecked(d, c.first), BST_UNCHECKED);
    });
    Step([&](HWND d) { dialog_model::PressKey(d, VK_RETURN); });
    EXPECT_EQ(Run(), c.result);
    EXPECT_EQ(user_.steps_taken(), 2u);
  }
}

}  // namespace

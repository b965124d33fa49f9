// Cost of the painting the update does from inside its waits: one progress
// step (fill, and every tenth count an immediate repaint of the dialog) and
// one agreement scroll (grey fill and the text rows).
#include <benchmark/benchmark.h>

#include <cstdio>

#include "state/app_state.h"
#include "platform/dialogs/model.h"
#include "resources/resource.h"
#include "ui/agreement.h"
#include "update/main_dialog.h"
#include "update/progress.h"

namespace {

class OneStep final : public dialog_model::User {
 public:
  explicit OneStep(void (*body)(HWND, benchmark::State&), benchmark::State& state)
      : body_(body), state_(state) {}
  bool Act(HWND dialog) override {
    if (done_) return false;
    done_ = true;
    body_(dialog, state_);
    return true;
  }
  int Answer(const dialog_model::MessageBoxRecord&) override { return IDOK; }

 private:
  void (*body_)(HWND, benchmark::State&);
  benchmark::State& state_;
  bool done_ = false;
};

void BM_PaintProgress(benchmark::State& state) {
  ResetAppState();
  dialog_model::Reset();
  OneStep user(
      [](HWND, benchmark::State& s) {
        std::int32_t n = 0;
        for (auto _ : s) PaintProgress(n++ % 1001);
      },
      state);
  dialog_model::SetUser(&user);
  DialogBoxParamA(nullptr, "MainDialogUS", nullptr, MainDialogProc, 0);
  dialog_model::Reset();
}
BENCHMARK(BM_PaintProgress);

void BM_AgreementPageScroll(benchmark::State& state) {
  ResetAppState();
  dialog_model::Reset();
  for (int i = 0; i < 96; ++i)
    std::snprintf(&g_app.AgreementText[i * kAgreementSlotSize], kAgreementSlotSize, "Line %d", i);
  OneStep user(
      [](HWND d, benchmark::State& s) {
        bool down = true;
        for (auto _ : s) {
          dialog_model::Scroll(d, IDC_AGREE_SCROLL, down ? SB_PAGEDOWN : SB_PAGEUP);
          if (g_app.TopLine == 85 || g_app.TopLine == 0) down = !down;
        }
      },
      state);
  dialog_model::SetUser(&user);
  DialogBoxParamA(nullptr, "KYODAKUUS", nullptr, AgreementDialog, 0);
  dialog_model::Reset();
}
BENCHMARK(BM_AgreementPageScroll);

}  // namespace

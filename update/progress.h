// The progress bar and the duration note of the main dialog.
#pragma once

#include <cstdint>

// Paints the bar of MainDialogWindow for count n (0..1000; more is full).
// Fills the bar only when its width in pixels changes or a repaint may have
// erased it; every tenth count repaints the dialog at once.
void PaintProgress(std::int32_t n);
// The main dialog has erased its client area, and with it the bar.
void ProgressBarErased();
// A main dialog opens: its bar is looked up afresh at the next paint.
void NewProgressBar();
// Shows MsgMayTakeMinutes in the note under the bar.
void ShowDurationNote();

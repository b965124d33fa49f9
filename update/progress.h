// The progress bar and the duration note of the main dialog.
#pragma once

#include <cstdint>

// Paints the bar of MainDialogWindow for count n (0..1000; more is full).
void PaintProgress(std::int32_t n);
// Shows MsgMayTakeMinutes in the note under the bar.
void ShowDurationNote();

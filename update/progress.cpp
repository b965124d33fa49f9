#include "update/progress.h"

#include "app/app_state.h"

void PaintProgress(std::int32_t n) { g_app.ProgressCount = n; }

void ShowDurationNote() {}

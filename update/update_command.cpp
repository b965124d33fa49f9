#include "update/main_dialog.h"

// The UPDATE sequence arrives with the update procedure; until then the
// button does nothing.
void OnUpdatePressed(HWND) {}

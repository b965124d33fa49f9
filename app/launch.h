// One launch of the program holds more than the shared record: the channel's
// parked records and submit time, the loader's byte count, the installed
// platform, the trace, the dialog model and the view's wiring.
#pragma once

// Clears all of it, so that what runs next starts as a fresh launch does.
// The platform is uninstalled: install the next one after this call.
void ResetLaunch();

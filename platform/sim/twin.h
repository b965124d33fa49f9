// Twins: emulated drives that take their identity and state from what real
// drives answered in a capture (platform/capture.h), so that every path of
// the program can be rehearsed against a user's exact drive.
#pragma once

#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/sim/sim_aspi.h"

// One drive per address that answered a standard INQUIRY good, from the
// first answers of the capture (the drive as it was before anything was
// written): its whole standard INQUIRY answer and product id (bytes 16..31),
// revision (bytes 32..35 of page 0x81, or the sense it refused that page with),
// link usb when it answered the vendor query 0xCC good with its version and
// model codes (bytes 12 and 13), else atapi; a disc when a TEST UNIT READY
// was answered good, none when it said NOT READY or MEDIUM NOT PRESENT; a
// unit attention at power-on unless the first command that would have
// reported one did not.
// `adapters` is the adapter count of the first adapter-count answer. False
// with a reason when no drive answered.
bool TwinDrives(const Capture& capture, std::vector<DriveSetup>* drives, int* adapters,
                std::string* error);

// The command bytes the program sends: the SCSI commands it uses and the two
// vendor commands of the drives. The CDB builders and the completion
// routines that look at a finished command name them from here.
#pragma once

#include "platform/types.h"

inline constexpr BYTE kOpTestUnitReady = 0x00;
inline constexpr BYTE kOpInquiry = 0x12;
inline constexpr BYTE kOpStartStopUnit = 0x1B;
inline constexpr BYTE kOpWriteBuffer = 0x3B;
inline constexpr BYTE kOpDriveInfoQuery = 0xCC;  // vendor: model and version codes
inline constexpr BYTE kOpVendorLoad = 0xCD;      // vendor: loader download and end of load

// WRITE BUFFER modes.
inline constexpr BYTE kModeDownload = 0x06;      // download microcode with offsets
inline constexpr BYTE kModeDownloadSave = 0x07;  // ... and save

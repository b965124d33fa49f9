// Drive discovery and identification: INQUIRY (product id, revision page
// 0x81), TEST UNIT READY, the tray eject, and the drive scan that fills
// g_app.DeviceProductId / DeviceRevision / DeviceSupported (slot adapter * 8
// + target). Callers read g_app.AbortFlag after each command.
#pragma once

#include <cstdint>

#include "platform/aspi.h"

void InquiryStandard(std::uint8_t adapter, std::uint8_t target);
void InquiryRevision(std::uint8_t adapter, std::uint8_t target);
// Leaves its verdict in g_app.DriveNotReady: 1 for NOT READY or MEDIUM NOT
// PRESENT, 0 for ready or when the command did not finish.
void TestUnitReady(std::uint8_t adapter, std::uint8_t target);
void EjectMedium(std::uint8_t adapter, std::uint8_t target);
// Mode 1 (count and take every supported drive), 2 (take one drive per model
// the first scan counted, using the count up) or 3 (take every supported
// drive, count nothing); 1 when at least one supported drive was taken. An
// INQUIRY failure ends the scan with MsgUpdateFailed and 0.
int ScanDrives(int mode);
// The same walk for the re-finding scans of an update, while a restarted
// drive comes back: a time-out ends the scan with 0 but shows nothing, since
// a drive that is not back yet is no failure.
int ScanDrivesQuietly(int mode);
// Mode 3 without the loader rule: every supported drive, USB or ATAPI, for a
// list made without a package.
int ScanEveryDrive();

// Completion routines: each first checks that the request is its own command
// and stores only a good answer.
void StoreProductId(SRB_ExecSCSICmd* request);
void StoreRevision(SRB_ExecSCSICmd* request);
void ReleaseEjectRequest(SRB_ExecSCSICmd* request);

inline constexpr char kFirstModelId[] = "T71 CDRW USB";    // compared over 12 bytes
inline constexpr char kSecondModelId[] = "R305 CDRW USB";  // compared over 13 bytes

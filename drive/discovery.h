// Drive discovery and identification.
#pragma once

#include <cstdint>

void InquiryStandard(std::uint8_t adapter, std::uint8_t target);
void InquiryRevision(std::uint8_t adapter, std::uint8_t target);
// Leaves its verdict in g_app.DriveNotReady.
void TestUnitReady(std::uint8_t adapter, std::uint8_t target);
void EjectMedium(std::uint8_t adapter, std::uint8_t target);
// Mode 1, 2 or 3; 1 when at least one supported drive was taken.
int ScanDrives(int mode);

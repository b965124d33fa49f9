// aspi group: the ASPI for Win32 entry points and the published request record.
//
// Contract every implementation keeps (the command channel relies on it):
//  - a submitted record's SRB_Status leaves SS_PENDING exactly once, when the
//    command ends; SRB_TargStat and SenseArea are filled for CHECK CONDITION;
//  - data moves to or from SRB_BufPointer (at most SRB_BufLen bytes);
//  - a named completion routine (SRB_PostProc with SRB_POSTING) runs once,
//    after the status is set, on the thread that advances the command;
//  - a record is never handed over again while the layer still holds it:
//    submitting a held record is refused with SS_ERR and not touched.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr BYTE SC_HA_INQUIRY = 0x00;
inline constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;

// SRB_Status values.
inline constexpr BYTE SS_PENDING = 0x00;
inline constexpr BYTE SS_COMP = 0x01;
inline constexpr BYTE SS_ABORTED = 0x02;
inline constexpr BYTE SS_ERR = 0x04;
inline constexpr BYTE SS_INVALID_CMD = 0x80;
inline constexpr BYTE SS_INVALID_HA = 0x81;
inline constexpr BYTE SS_NO_DEVICE = 0x82;
inline constexpr BYTE SS_NO_ADAPTERS = 0xE8;  // GetASPI32SupportInfo: no adapter at all

// SRB_Flags bits.
inline constexpr BYTE SRB_POSTING = 0x01;
inline constexpr BYTE SRB_DIR_IN = 0x08;
inline constexpr BYTE SRB_DIR_OUT = 0x10;

// SCSI target status (SRB_TargStat).
inline constexpr BYTE STATUS_GOOD = 0x00;
inline constexpr BYTE STATUS_CHKCOND = 0x02;
inline constexpr BYTE STATUS_BUSY = 0x08;

inline constexpr int SENSE_LEN = 14;

struct SRB_ExecSCSICmd;
using PostProc = void (*)(SRB_ExecSCSICmd*);

// The published SRB_ExecSCSICmd layout (wnaspi32.h), fields by direction.
#pragma pack(push, 1)
struct SRB_ExecSCSICmd {
  BYTE SRB_Cmd;                   // [in] SC_EXEC_SCSI_CMD
  BYTE SRB_Status;                // [out] SS_*; SS_PENDING until the command ends
  BYTE SRB_HaId;                  // [in] host adapter number
  BYTE SRB_Flags;                 // [in] SRB_DIR_IN / SRB_DIR_OUT / SRB_POSTING
  DWORD SRB_Hdr_Rsvd;             // reserved
  BYTE SRB_Target;                // [in] target id 0..7
  BYTE SRB_Lun;                   // [in] logical unit, always 0 here
  WORD SRB_Rsvd1;                 // reserved
  DWORD SRB_BufLen;               // [in] bytes of data to move
  BYTE* SRB_BufPointer;           // [in] data buffer
  BYTE SRB_SenseLen;              // [in] bytes of sense wanted (SENSE_LEN)
  BYTE SRB_CDBLen;                // [in] 6, 10 or 12
  BYTE SRB_HaStat;                // [out] host adapter status (never read by the logic)
  BYTE SRB_TargStat;              // [out] SCSI status byte
  PostProc SRB_PostProc;          // [in] completion routine with SRB_POSTING
  BYTE SRB_Rsvd2[20];             // reserved
  BYTE CDBByte[16];               // [in] command descriptor block
  BYTE SenseArea[SENSE_LEN + 2];  // [out] fixed-format sense data
};

// The record a SC_HA_INQUIRY request fills (wnaspi32.h).
struct SRB_HAInquiry {
  BYTE SRB_Cmd;            // [in] SC_HA_INQUIRY
  BYTE SRB_Status;         // [out] SS_*
  BYTE SRB_HaId;           // [in] host adapter number
  BYTE SRB_Flags;          // reserved, 0
  DWORD SRB_Hdr_Rsvd;      // reserved
  BYTE HA_Count;           // [out] number of host adapters
  BYTE HA_SCSI_ID;         // [out] the adapter's own target id
  BYTE HA_ManagerId[16];   // [out] the ASPI manager's name
  BYTE HA_Identifier[16];  // [out] the adapter's name
  BYTE HA_Unique[16];      // [out] adapter-specific parameters
  WORD HA_Rsvd1;           // reserved
};
#pragma pack(pop)

// The records are handed to a wnaspi32.dll built elsewhere, so they must
// keep the published 32-bit layout byte for byte; each pointer of a 64-bit
// build moves what follows it by four bytes.
namespace aspi_layout {
inline constexpr std::size_t kGrow = sizeof(void*) - 4;
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 3);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Hdr_Rsvd) == 4);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20 + kGrow);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21 + kGrow);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22 + kGrow);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23 + kGrow);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24 + kGrow);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48 + 2 * kGrow);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64 + 2 * kGrow);
static_assert(sizeof(SRB_ExecSCSICmd) == 80 + 2 * kGrow);
static_assert(offsetof(SRB_HAInquiry, SRB_HaId) == 2);
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8);
static_assert(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(sizeof(SRB_HAInquiry) == 60);
}  // namespace aspi_layout

// Host adapter count in bits 0-7, status (SS_COMP when ASPI works) in 8-15.
DWORD GetASPI32SupportInfo();
// Hands the record over. The return value mirrors ASPI's but the logic reads
// only SRB_Status.
DWORD SendASPI32Command(SRB_ExecSCSICmd* request);

// What the layer's last look for devices found, for the line that tells a
// user who sees no drive why (nothing where the layer cannot tell).
enum class ScanFinding {
  kNothingToSay,
  kNoNodes,      // not one device node of the pass-through driver: its driver is missing
  kRefused,      // count: CD/DVD devices this user may not open
  kBusy,         // count: CD/DVD devices another program holds
  kDevicesOnly,  // count: devices there (of any kind), for the scan to find ours among
};
struct ScanFindings {
  ScanFinding what = ScanFinding::kNothingToSay;
  int count = 0;
};

class AspiLayer {
 public:
  virtual ~AspiLayer() = default;
  virtual DWORD SupportInfo() = 0;
  virtual DWORD Send(SRB_ExecSCSICmd* request) = 0;
  // True while the layer holds the record (submitted, not yet ended, or
  // ended but its completion routine not yet run).
  virtual bool Holds(const SRB_ExecSCSICmd* request) const = 0;
  // CD-ROM devices that are there but were not opened for lack of rights
  // (Windows' pass-through without administrator rights); 0 elsewhere.
  virtual int DevicesRefused() const { return 0; }
  virtual ScanFindings Findings() const { return {}; }
};

// The installed layer's DevicesRefused() and Findings().
int AspiDevicesRefused();
ScanFindings AspiScanFindings();

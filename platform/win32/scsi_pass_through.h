// The SCSI pass-through interface's records (ntddscsi.h), in the system's
// natural alignment. Kept apart from the calls that use them so that the
// native build checks their layout as well.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr DWORD kIoctlScsiPassThroughDirect = 0x0004D014;
inline constexpr DWORD kIoctlScsiGetAddress = 0x00041018;

struct ScsiPassThroughDirect {
  WORD Length;
  BYTE ScsiStatus;
  BYTE PathId;
  BYTE TargetId;
  BYTE Lun;
  BYTE CdbLength;
  BYTE SenseInfoLength;
  BYTE DataIn;
  DWORD DataTransferLength;
  DWORD TimeOutValue;
  void* DataBuffer;
  DWORD SenseInfoOffset;
  BYTE Cdb[16];
};

struct ScsiAddress {
  DWORD Length;
  BYTE PortNumber;
  BYTE PathId;
  BYTE TargetId;
  BYTE Lun;
};

// The system reads these at the published offsets: 32-bit Windows, and the
// 64-bit layout a native build has.
namespace pass_through_layout {
inline constexpr bool k32 = sizeof(void*) == 4;
static_assert(offsetof(ScsiPassThroughDirect, ScsiStatus) == 2);
static_assert(offsetof(ScsiPassThroughDirect, PathId) == 3);
static_assert(offsetof(ScsiPassThroughDirect, TargetId) == 4);
static_assert(offsetof(ScsiPassThroughDirect, Lun) == 5);
static_assert(offsetof(ScsiPassThroughDirect, CdbLength) == 6);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoLength) == 7);
static_assert(offsetof(ScsiPassThroughDirect, DataIn) == 8);
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12);
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) == 16);
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == (k32 ? 20 : 24));
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == (k32 ? 24 : 32));
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == (k32 ? 28 : 36));
static_assert(sizeof(ScsiPassThroughDirect) == (k32 ? 44 : 56));
static_assert(offsetof(ScsiAddress, PortNumber) == 4);
static_assert(offsetof(ScsiAddress, PathId) == 5);
static_assert(offsetof(ScsiAddress, TargetId) == 6);
static_assert(offsetof(ScsiAddress, Lun) == 7);
static_assert(sizeof(ScsiAddress) == 8);
}  // namespace pass_through_layout

// How an answer of the kernel's SCSI generic driver becomes what an ASPI
// layer reports in an SRB_ExecSCSICmd record.
#pragma once

#include <cstdint>

#include "platform/aspi.h"
#include "platform/types.h"

// SRB_HaStat values an ASPI layer reports for transport failures.
inline constexpr BYTE HASTAT_OK = 0x00;
inline constexpr BYTE HASTAT_COMMAND_TIMEOUT = 0x0B;
inline constexpr BYTE HASTAT_BUS_RESET = 0x0E;
inline constexpr BYTE HASTAT_PARITY_ERROR = 0x0F;
inline constexpr BYTE HASTAT_SEL_TO = 0x11;
inline constexpr BYTE HASTAT_PHASE_ERR = 0x14;

// The output fields of one sg_io_hdr, or the error of the system call that
// should have carried it.
struct SgAnswer {
  int os_error = 0;        // errno of a failed write() or read(); 0 when the answer was read
  BYTE status = 0;         // SCSI status byte
  WORD host_status = 0;    // DID_* of the host adapter driver
  WORD driver_status = 0;  // DRIVER_* (DRIVER_SENSE only says sense was fetched)
  BYTE sense_length = 0;   // sb_len_wr: bytes of sense written
  BYTE sense[32] = {};
};

// Fills SRB_HaStat, SRB_TargStat and SenseArea of `request` and returns the
// SRB_Status to set, taking the worst that applies: a failed system call
// (SS_NO_DEVICE when the device has gone), then the host adapter (the
// target did not answer, time-out, reset, other transport failures), then
// the driver's own time-out or error, then the SCSI status (BUSY, CHECK
// CONDITION with its sense, any other non-GOOD status), and SS_COMP last.
// The caller sets SRB_Status itself, after everything else is in place.
BYTE TranslateSgAnswer(const SgAnswer& answer, SRB_ExecSCSICmd* request);

// The kernel's own limit for `request`, in ms: a little above the program's
// longest wait for a command of its kind, at the rehearsal clock `rate`.
unsigned KernelTimeoutMs(const SRB_ExecSCSICmd& request, std::uint32_t rate = 1);
// True for the commands that write into the drive (WRITE BUFFER and the
// vendor load), which are sent only through a node opened exclusively.
bool WritesIntoDrive(const SRB_ExecSCSICmd& request);

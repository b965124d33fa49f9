#include "platform/host/sg_answer.h"

#include <cerrno>
#include <cstring>

namespace {

// Host adapter statuses of the Linux SCSI midlayer (scsi.h DID_*).
constexpr WORD kDidOk = 0x00;
constexpr WORD kDidNoConnect = 0x01;
constexpr WORD kDidBusBusy = 0x02;
constexpr WORD kDidTimeOut = 0x03;
constexpr WORD kDidBadTarget = 0x04;
constexpr WORD kDidAbort = 0x05;
constexpr WORD kDidParity = 0x06;
constexpr WORD kDidReset = 0x08;
constexpr WORD kDidTransportDisrupted = 0x0E;
constexpr WORD kDidTransportFailfast = 0x0F;

// Driver statuses (low nibble); DRIVER_SENSE (0x08) is not a failure.
constexpr WORD kDriverMask = 0x07;
constexpr WORD kDriverTimeout = 0x06;

constexpr BYTE kStatusMask = 0x7E;  // the SCSI status without reserved bits

BYTE FailTransport(SRB_ExecSCSICmd* request, BYTE ha_status, BYTE srb_status) {
  request->SRB_HaStat = ha_status;
  request->SRB_TargStat = STATUS_GOOD;
  return srb_status;
}

}  // namespace

BYTE TranslateSgAnswer(const SgAnswer& answer, SRB_ExecSCSICmd* request) {
  std::memset(request->SenseArea, 0, sizeof request->SenseArea);
  if (answer.os_error != 0) {
    // The node is gone (a USB drive restarting, unplugged): nothing is there
    // any more, as ASPI says of an empty address.
    const bool gone = answer.os_error == ENODEV || answer.os_error == ENXIO;
    return FailTransport(request, HASTAT_OK, gone ? SS_NO_DEVICE : SS_ERR);
  }
  switch (answer.host_status) {
    case kDidOk:
      break;
    case kDidNoConnect:
    case kDidBadTarget:
      return FailTransport(request, HASTAT_SEL_TO, SS_ERR);
    case kDidTimeOut:
      return FailTransport(request, HASTAT_COMMAND_TIMEOUT, SS_ERR);
    case kDidAbort:
      return FailTransport(request, HASTAT_COMMAND_TIMEOUT, SS_ABORTED);
    case kDidBusBusy:
    case kDidReset:
    case kDidTransportDisrupted:
    case kDidTransportFailfast:
      return FailTransport(request, HASTAT_BUS_RESET, SS_ERR);
    case kDidParity:
      return FailTransport(request, HASTAT_PARITY_ERROR, SS_ERR);
    default:
      return FailTransport(request, HASTAT_PHASE_ERR, SS_ERR);
  }
  const WORD driver = answer.driver_status & kDriverMask;
  if (driver == kDriverTimeout) return FailTransport(request, HASTAT_COMMAND_TIMEOUT, SS_ERR);
  if (driver != 0) return FailTransport(request, HASTAT_PHASE_ERR, SS_ERR);

  request->SRB_HaStat = HASTAT_OK;
  const BYTE status = answer.status & kStatusMask;
  request->SRB_TargStat = status;
  if (status == STATUS_GOOD) return SS_COMP;
  if (status == STATUS_CHKCOND) {
    std::size_t n = answer.sense_length;
    if (n > sizeof answer.sense) n = sizeof answer.sense;
    if (n > request->SRB_SenseLen) n = request->SRB_SenseLen;
    if (n > sizeof request->SenseArea) n = sizeof request->SenseArea;
    std::memcpy(request->SenseArea, answer.sense, n);
  }
  return SS_ERR;
}

namespace {

// The kernel's own limit for one command: a little above the program's
// longest wait for a command of its kind, so that the program's time-out
// comes first, and a command it gave up on is aborted by the kernel soon
// after rather than left queued while the program goes on (or has ended).
// The program's waits shrink with its rehearsal clock rate; the margin is
// the wall clock's.
constexpr unsigned kKernelMarginMs = 10000;

}  // namespace

unsigned KernelTimeoutMs(const SRB_ExecSCSICmd& request, std::uint32_t rate) {
  unsigned program_ms = 60000;  // eject, image chunks, the vendor commands
  switch (request.CDBByte[0]) {
    case 0x00:  // TEST UNIT READY
    case 0x12:  // INQUIRY
      program_ms = 10000;
      break;
    case 0x3B:  // WRITE BUFFER: the drive saves the image at mode 7 (120 s and 400 ticks)
      if ((request.CDBByte[1] & 0x1F) == 7) program_ms = 122000;
      break;
    default:
      break;
  }
  return program_ms / (rate > 0 ? rate : 1) + kKernelMarginMs;
}

bool WritesIntoDrive(const SRB_ExecSCSICmd& request) {
  return request.CDBByte[0] == 0x3B || request.CDBByte[0] == 0xCD;
}

#include "drive/discovery.h"

#include <cstring>

#include "drive/channel.h"
#include "drive/opcodes.h"
#include "drive/transfer.h"
#include "platform/dialogs.h"
#include "state/app_state.h"

namespace {

constexpr BYTE kRevisionPage = 0x81;
constexpr DWORD kShortTimeoutMs = 10000;
constexpr DWORD kEjectTimeoutMs = 60000;
constexpr int kProductIdBytes = 13;
constexpr int kRevisionBytes = 4;

// DeviceTable slot of the request's address, or -1 outside the table.
int SlotOf(const SRB_ExecSCSICmd* request) {
  if (request->SRB_HaId >= 8 || request->SRB_Target >= 8) return -1;
  return request->SRB_HaId * 8 + request->SRB_Target;
}

bool AnswerHolds(const SRB_ExecSCSICmd* request, DWORD last_byte) {
  return request->SRB_BufPointer != nullptr && request->SRB_BufLen > last_byte;
}

void ShowUpdateFailed() {
  MessageBoxExA(nullptr, g_app.MsgUpdateFailed, "Quorvanta", MB_OK, g_app.MessageLanguage);
}

bool ProductIdBegins(int slot, const char* model, int length) {
  return std::memcmp(g_app.DeviceProductId[slot], model, static_cast<size_t>(length)) == 0;
}

void RunAndRelease(const CommandSetup& setup, DWORD timeout_ms) {
  SRB_ExecSCSICmd* request = RunCommand(setup, timeout_ms);
  if (request != nullptr) ReleaseCommandRequest(request);
}

}  // namespace

void StoreProductId(SRB_ExecSCSICmd* request) {
  // The revision INQUIRY has the same opcode; its EVPD bit tells it apart.
  if (request->CDBByte[0] != kOpInquiry || (request->CDBByte[1] & 0x01) != 0) return;
  if (request->SRB_Status != SS_COMP) return;
  const int slot = SlotOf(request);
  if (slot < 0 || !AnswerHolds(request, 16 + kProductIdBytes - 1)) return;
  std::memcpy(g_app.DeviceProductId[slot], request->SRB_BufPointer + 16, kProductIdBytes);
  g_app.DeviceProductId[slot][kProductIdBytes] = '\0';
}

void StoreRevision(SRB_ExecSCSICmd* request) {
  if (request->CDBByte[0] != kOpInquiry || (request->CDBByte[1] & 0x01) == 0) return;
  if (request->SRB_Status != SS_COMP) return;
  const int slot = SlotOf(request);
  if (slot < 0 || !AnswerHolds(request, 32 + kRevisionBytes - 1)) return;
  std::memcpy(g_app.DeviceRevision[slot], request->SRB_BufPointer + 32, kRevisionBytes);
  g_app.DeviceRevision[slot][kRevisionBytes] = '\0';
}

// The channel frees the record once the routine has run; nothing is stored.
void ReleaseEjectRequest(SRB_ExecSCSICmd* request) {
  if (request->CDBByte[0] != kOpStartStopUnit) return;
}

void InquiryStandard(std::uint8_t adapter, std::uint8_t target) {
  BYTE cdb[kCdbSize];
  const BYTE length = BuildInquiryCdb(cdb, false, 0, 32);
  RunAndRelease(
      CommandSetup{adapter, target, SRB_DIR_IN, cdb, length, 256, nullptr, 256, StoreProductId},
      kShortTimeoutMs);
}

void InquiryRevision(std::uint8_t adapter, std::uint8_t target) {
  BYTE cdb[kCdbSize];
  const BYTE length = BuildInquiryCdb(cdb, true, kRevisionPage, 0xFF);
  RunAndRelease(
      CommandSetup{adapter, target, SRB_DIR_IN, cdb, length, 255, nullptr, 255, StoreRevision},
      kShortTimeoutMs);
}

void TestUnitReady(std::uint8_t adapter, std::uint8_t target) {
  BYTE cdb[kCdbSize];
  const BYTE length = BuildTestUnitReadyCdb(cdb);
  g_app.DriveNotReady = 0;
  SRB_ExecSCSICmd* request =
      RunCommand(CommandSetup{adapter, target, SRB_DIR_IN, cdb, length, 32, nullptr, 32, nullptr},
                 kShortTimeoutMs);
  if (request == nullptr) return;
  // A good answer carries no sense (the record was zero-filled), so the
  // status itself is not consulted.
  const SenseCodes sense = DecodeSense(*request);
  if (sense.key == 0x02 || sense.asc == 0x3A) g_app.DriveNotReady = 1;
  ReleaseCommandRequest(request);
}

void EjectMedium(std::uint8_t adapter, std::uint8_t target) {
  BYTE cdb[kCdbSize];
  const BYTE length = BuildEjectCdb(cdb);
  RunAndRelease(
      CommandSetup{adapter, target, SRB_DIR_IN, cdb, length, 32, nullptr, 32, ReleaseEjectRequest},
      kEjectTimeoutMs);
}

namespace {

int Scan(int mode, bool report_failure, bool loader_rule = true) {
  int found = 0;
  for (int adapter = 0; adapter < g_app.AdapterCount && adapter < 8; ++adapter) {
    for (int target = 0; target < 8; ++target) {
      const auto a = static_cast<std::uint8_t>(adapter);
      const auto t = static_cast<std::uint8_t>(target);
      const int slot = adapter * 8 + target;
      bool first_model_mark = false;

      InquiryStandard(a, t);
      if (g_app.AbortFlag != 0) {
        if (report_failure) ShowUpdateFailed();
        return 0;
      }
      // With a loader data file only drives that answer the vendor query
      // qualify; without one only drives that do not.
      const bool probed = ProbeDriveInfo(a, t) != 0;
      const bool have_loader = g_app.LoaderFileName[0] != '\0';
      if (loader_rule && probed != have_loader) continue;

      bool take = false;
      // The product id is compared even when this INQUIRY failed: the slot
      // keeps what it held before.
      if (ProductIdBegins(slot, kFirstModelId, 12)) {
        if (mode == 1) {
          ++g_app.FirstModelCount;
          found = 1;
          first_model_mark = true;
        } else if (mode == 2) {
          if (g_app.FirstModelCount != 0) {
            g_app.FirstModelCount = 0;
            found = 1;
            first_model_mark = true;
          }
        } else if (mode == 3) {
          found = 1;
          first_model_mark = true;
        }
      }
      if (ProductIdBegins(slot, kSecondModelId, 13)) {
        if (mode == 1) {
          ++g_app.SecondModelCount;
          found = 1;
          take = true;
        } else if (mode == 2 && g_app.SecondModelCount != 0) {
          g_app.SecondModelCount = 0;
          found = 1;
          take = true;
        } else if (mode == 3) {
          found = 1;
          take = true;
        }
      }
      if (!take && !first_model_mark) continue;

      g_app.CurrentAdapter = a;
      g_app.CurrentTarget = t;
      g_app.DeviceSupported[slot] = 1;
      InquiryRevision(a, t);
      if (g_app.AbortFlag == 1) {
        if (report_failure) ShowUpdateFailed();
        return 0;
      }
    }
  }
  return found;
}

}  // namespace

int ScanDrives(int mode) { return Scan(mode, true); }

int ScanDrivesQuietly(int mode) { return Scan(mode, false); }

int ScanEveryDrive() { return Scan(3, true, false); }

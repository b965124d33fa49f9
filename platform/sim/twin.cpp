#include "platform/sim/twin.h"

#include <algorithm>
#include <map>

#include "platform/sim/emulated_drive.h"

using namespace emulated;

namespace {

struct Seen {
  bool inquiry = false;
  std::string product;
  std::vector<BYTE> inquiry_data;
  bool revision = false;
  std::string rev;
  bool revision_refused = false;
  BYTE revision_sense[3] = {};
  bool vendor = false;  // 0xCC asked
  bool usb = false;
  BYTE code = 0;
  BYTE modelcode = 0;
  bool disc_known = false;
  bool disc = false;
  bool attention_known = false;
  bool attention = true;
};

BYTE At(const std::vector<BYTE>& data, std::size_t i) { return i < data.size() ? data[i] : 0; }

}  // namespace

bool TwinDrives(const Capture& capture, std::vector<DriveSetup>* drives, int* adapters,
                std::string* error) {
  std::map<int, Seen> seen;  // by adapter * 8 + target
  *adapters = 0;
  bool adapters_known = false;
  std::map<int, bool> written;  // once written, later answers are no longer the drive as it was
  for (const CaptureEvent& event : capture.events) {
    if (event.adapters) {
      if (!adapters_known) *adapters = static_cast<int>(event.support_info & 0xFF);
      adapters_known = true;
      continue;
    }
    const CaptureCommand& c = event.command;
    if (c.cdb.empty() || c.adapter > 7 || c.target > 7) continue;
    const int address = c.adapter * 8 + c.target;
    if (c.cdb[0] == kOpWriteBuffer || c.cdb[0] == kOpVendorLoad) written[address] = true;
    if (written[address] || !c.ended) continue;
    Seen& s = seen[address];
    const bool good = c.status == SS_COMP && c.target_status == STATUS_GOOD;
    // The first command a unit attention would be reported on tells whether
    // one was waiting: INQUIRY never reports it, nor do the USB bridge's own
    // vendor commands (a 0xCC answered good).
    if (!s.attention_known && c.status != SS_NO_DEVICE && c.cdb[0] != kOpInquiry &&
        !(c.cdb[0] == kOpVendorQuery && good)) {
      s.attention_known = true;
      s.attention = (At(c.sense, 2) & 0x0F) == 0x06 && At(c.sense, 12) == 0x29;
    }
    if (c.cdb[0] == kOpInquiry && (At(c.cdb, 1) & 1) == 0 && good && !s.inquiry) {
      s.inquiry = true;
      s.inquiry_data = c.data_in;
      for (std::size_t i = 16; i < 32 && At(c.data_in, i) != 0; ++i) {
        s.product += static_cast<char>(At(c.data_in, i));
      }
      while (!s.product.empty() && s.product.back() == ' ') s.product.pop_back();
    } else if (c.cdb[0] == kOpInquiry && At(c.cdb, 2) == 0x81 && !s.revision &&
               !s.revision_refused) {
      if (good) {
        s.revision = true;
        for (std::size_t i = 32; i < 36; ++i) s.rev += static_cast<char>(At(c.data_in, i));
      } else if (c.status == SS_ERR && c.target_status == STATUS_CHKCOND) {
        s.revision_refused = true;
        s.revision_sense[0] = At(c.sense, 2) & 0x0F;
        s.revision_sense[1] = At(c.sense, 12);
        s.revision_sense[2] = At(c.sense, 13);
      }
    } else if (c.cdb[0] == kOpVendorQuery && !s.vendor) {
      s.vendor = true;
      s.usb = good;
      s.code = At(c.data_in, 12);
      s.modelcode = At(c.data_in, 13);
    } else if (c.cdb[0] == kOpTestUnitReady) {
      const BYTE key = At(c.sense, 2) & 0x0F;
      const BYTE asc = At(c.sense, 12);
      if (good) {
        s.disc_known = true;
        s.disc = true;
      } else if (key == 0x02 || asc == 0x3A) {
        s.disc_known = true;
        s.disc = false;
      }
    }
  }
  drives->clear();
  for (const auto& [address, s] : seen) {
    if (!s.inquiry || s.product.empty()) continue;
    DriveSetup setup;
    std::string model = s.product == "T71 CDRW USB"    ? "t71"
                        : s.product == "R305 CDRW USB" ? "r305"
                                                       : "\"" + s.product + "\"";
    std::string text = std::to_string(address / 8) + ":" + std::to_string(address % 8) + ":" +
                       model + ":" + (s.usb ? "usb" : "atapi");
    std::string why;
    if (!ParseDriveSetup(text, &setup, &why)) {
      if (error) *error = "the drive at " + text + " cannot be emulated: " + why;
      return false;
    }
    if (s.revision) setup.rev = s.rev;
    if (s.inquiry_data.size() <= 96) setup.inquiry = s.inquiry_data;
    if (s.revision_refused) {
      setup.no_revision_page = true;
      std::copy(s.revision_sense, s.revision_sense + 3, setup.revision_page_sense);
    }
    if (s.usb) {
      setup.code = s.code;
      setup.modelcode = s.modelcode;
    }
    setup.disc = s.disc_known && s.disc;
    setup.power_on_attention = !s.attention_known || s.attention;
    drives->push_back(setup);
  }
  if (drives->empty()) {
    if (error) *error = "no drive answered INQUIRY in the capture";
    return false;
  }
  if (*adapters < 1) *adapters = 1;
  for (const auto& d : *drives) *adapters = std::max(*adapters, d.adapter + 1);
  return true;
}

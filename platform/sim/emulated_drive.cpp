#include "platform/sim/emulated_drive.h"

#include <algorithm>
#include <cassert>
#include <cstring>

using namespace emulated;

namespace {

constexpr BYTE kOpTestUnitReady = 0x00;
constexpr BYTE kOpInquiry = 0x12;
constexpr BYTE kOpStartStopUnit = 0x1B;
constexpr BYTE kOpWriteBuffer = 0x3B;
constexpr BYTE kOpVendorQuery = 0xCC;
constexpr BYTE kOpVendorLoad = 0xCD;

constexpr BYTE kModeDownload = 0x06;      // download microcode with offsets
constexpr BYTE kModeDownloadSave = 0x07;  // ... and save
constexpr BYTE kEndOfLoad = 0xFF;

constexpr std::uint64_t kTrayMs = 1500;      // tray motor
constexpr std::uint64_t kEndOfLoadMs = 200;  // the bridge acknowledges, then restarts
constexpr std::uint64_t kLoaderFlashMs = 2000;
constexpr std::uint64_t kUsbSaveMs = 3000;
constexpr std::uint64_t kAtapiSaveMs = 30000;

constexpr std::size_t kStandardInquiryLen = 36;
constexpr std::size_t kRevisionPageLen = 36;
constexpr std::size_t kVendorQueryLen = 18;

std::size_t Be16(std::span<const BYTE> b, std::size_t at) {
  return (std::size_t{b[at]} << 8) | b[at + 1];
}
std::size_t Be24(std::span<const BYTE> b, std::size_t at) {
  return (std::size_t{b[at]} << 16) | (std::size_t{b[at + 1]} << 8) | b[at + 2];
}

// Copies text into a space-padded field, as INQUIRY data is laid out.
void PutPadded(std::vector<BYTE>& out, std::size_t at, std::size_t width, std::string_view text) {
  for (std::size_t i = 0; i < width; ++i) out[at + i] = i < text.size() ? text[i] : ' ';
}

bool IsDigit(BYTE c) { return c >= '0' && c <= '9'; }
BYTE PackedBcd(BYTE hi, BYTE lo) { return static_cast<BYTE>(((hi - '0') << 4) | (lo - '0')); }

}  // namespace

std::uint64_t LinkDurationMs(DriveLink link, std::size_t bytes) {
  // USB 1.1 full speed through the drive's bridge: a few frames of overhead
  // and about 1 MB/s of payload. ATAPI: little overhead, about 8 MB/s.
  if (link == DriveLink::kUsb) return 4 + (bytes + 999) / 1000;
  return 1 + (bytes + 7999) / 8000;
}

EmulatedDrive::EmulatedDrive(const DriveSetup& setup)
    : setup_(setup),
      running_rev_(setup.rev),
      download_(kImageSize, 0),
      chunk_arrived_(kChunkCount, false),
      busy_left_(setup.busy_count) {}

const EmulatedDrive::Command* EmulatedDrive::FindCommand(BYTE opcode) {
  // A pending unit attention waits for the drive's next standard command
  // other than INQUIRY. The vendor commands are the USB bridge's own: the
  // bridge answers them itself and never carries the drive's attention, which
  // the update relies on when it sends the loader data right after the
  // restarted drive has been found again.
  static const Command kTable[] = {
      {kOpTestUnitReady, &EmulatedDrive::TestUnitReady, false},
      {kOpInquiry, &EmulatedDrive::Inquiry, true},
      {kOpStartStopUnit, &EmulatedDrive::StartStopUnit, false},
      {kOpWriteBuffer, &EmulatedDrive::WriteBuffer, false},
      {kOpVendorQuery, &EmulatedDrive::VendorQuery, true},
      {kOpVendorLoad, &EmulatedDrive::VendorLoad, true},
  };
  for (const Command& c : kTable) {
    if (c.opcode == opcode) return &c;
  }
  return nullptr;
}

DriveAnswer EmulatedDrive::Execute(std::span<const BYTE> cdb, std::span<const BYTE> data_out,
                                   std::uint64_t now) {
  if (cdb.size() < 6) return CheckCondition(sense::kInvalidOpcode);
  const BYTE opcode = cdb[0];
  if (setup_.hang_opcode == opcode) {
    DriveAnswer hang;
    hang.outcome = Outcome::kHang;
    return hang;
  }
  const Command* command = FindCommand(opcode);
  // Behind ATAPI there is no bridge: the vendor opcodes reach the drive as
  // unknown commands.
  if (command != nullptr && opcode >= 0xC0 && setup_.link != DriveLink::kUsb) command = nullptr;
  if (unit_attention_ && (command == nullptr || !command->skips_unit_attention)) {
    unit_attention_ = false;
    return CheckCondition(sense::kResetOccurred);
  }
  if (setup_.check_opcode == opcode) {
    return CheckCondition({setup_.check_key, setup_.check_asc, 0});
  }
  if (command == nullptr) return CheckCondition(sense::kInvalidOpcode);
  // The block must hold every byte the builder reads.
  if (opcode >= 0x20 && cdb.size() < 10) return CheckCondition(sense::kInvalidOpcode);
  if (opcode >= 0xC0 && cdb.size() < 12) return CheckCondition(sense::kInvalidOpcode);
  return (this->*command->build)(cdb, data_out, now);
}

DriveAnswer EmulatedDrive::Good(std::vector<BYTE> data, std::size_t allocation,
                                std::size_t bytes_out) const {
  DriveAnswer answer;
  if (data.size() > allocation) data.resize(allocation);
  answer.duration_ms = LinkDurationMs(setup_.link, data.size() + bytes_out);
  answer.data_in = std::move(data);
  return answer;
}

DriveAnswer EmulatedDrive::CheckCondition(SenseCode code) const {
  DriveAnswer answer;
  answer.outcome = Outcome::kCheck;
  answer.sense = code;
  answer.duration_ms = LinkDurationMs(setup_.link, 0);
  return answer;
}

DriveAnswer EmulatedDrive::TestUnitReady(std::span<const BYTE>, std::span<const BYTE>,
                                         std::uint64_t) {
  if (!setup_.disc) return CheckCondition(sense::kNoMedium);
  return Good({}, 0, 0);
}

std::vector<BYTE> EmulatedDrive::StandardInquiry() const {
  std::vector<BYTE> d(kStandardInquiryLen, 0);
  d[0] = 0x05;                                        // peripheral: CD/DVD device, connected
  d[1] = 0x80;                                        // removable medium
  d[2] = 0x00;                                        // no claimed standard version
  d[3] = 0x02;                                        // response data format 2
  d[4] = static_cast<BYTE>(kStandardInquiryLen - 5);  // additional length
  // 5..7: no optional features
  PutPadded(d, 8, 8, "VANTROS");         // 8..15 vendor identification
  PutPadded(d, 16, 16, setup_.product);  // 16..31 product identification
  PutPadded(d, 32, 4, running_rev_);     // 32..35 product revision level
  return d;
}

std::vector<BYTE> EmulatedDrive::RevisionPage() const {
  std::vector<BYTE> d(kRevisionPageLen, 0);
  d[0] = 0x05;  // peripheral: CD/DVD device
  d[1] = 0x81;  // page code
  d[2] = 0x00;
  d[3] = static_cast<BYTE>(kRevisionPageLen - 4);  // page length
  PutPadded(d, 4, 8, "VANTROS");                   // 4..11 vendor
  PutPadded(d, 12, 16, setup_.product);            // 12..27 product
  // 28..31 reserved
  PutPadded(d, 32, 4, running_rev_);  // 32..35 firmware revision
  return d;
}

DriveAnswer EmulatedDrive::Inquiry(std::span<const BYTE> cdb, std::span<const BYTE>,
                                   std::uint64_t) {
  const bool evpd = (cdb[1] & 0x01) != 0;
  const BYTE page = cdb[2];
  const std::size_t allocation = Be16(cdb, 3);
  if (!evpd) {
    if (page != 0) return CheckCondition(sense::kInvalidField);
    return Good(StandardInquiry(), allocation, 0);
  }
  if (page == 0x00) {
    std::vector<BYTE> d = {
        0x05,  // peripheral: CD/DVD device
        0x00,  // page code: supported pages
        0x00,
        0x02,  // page length
        0x00,  // this page
        0x81,  // firmware revision page
    };
    return Good(std::move(d), allocation, 0);
  }
  if (page == 0x81) return Good(RevisionPage(), allocation, 0);
  return CheckCondition(sense::kInvalidField);
}

DriveAnswer EmulatedDrive::StartStopUnit(std::span<const BYTE> cdb, std::span<const BYTE>,
                                         std::uint64_t) {
  const bool start = (cdb[4] & 0x01) != 0;
  const bool load_eject = (cdb[4] & 0x02) != 0;
  DriveAnswer answer = Good({}, 0, 0);
  if (load_eject) {
    answer.duration_ms += kTrayMs;
    // Opening the tray hands the disc to the operator; closing brings none.
    if (!start) setup_.disc = false;
  }
  return answer;
}

bool EmulatedDrive::ImageFitsModel(std::span<const BYTE> image) const {
  auto field = [&](std::size_t at, std::string_view text) {
    return std::memcmp(image.data() + kSignatureOffset + at, text.data(), text.size()) == 0;
  };
  switch (setup_.model) {
    case DriveModel::kT71:
      return field(0, "VANTROS") && field(8, "T71 CDRW");
    case DriveModel::kR305:
      return field(0, "ORBELLO") && field(8, "RX-2210QN");
    case DriveModel::kOther:
      break;
  }
  return false;
}

void EmulatedDrive::ResetDownload() {
  std::fill(download_.begin(), download_.end(), 0);
  std::fill(chunk_arrived_.begin(), chunk_arrived_.end(), false);
}

DriveAnswer EmulatedDrive::WriteBuffer(std::span<const BYTE> cdb, std::span<const BYTE> data_out,
                                       std::uint64_t) {
  const BYTE mode = cdb[1] & 0x1F;
  const BYTE buffer_id = cdb[2];
  const std::size_t offset = Be24(cdb, 3);
  const std::size_t length = Be24(cdb, 6);  // parameter list length
  if (mode != kModeDownload && mode != kModeDownloadSave) {
    return CheckCondition(sense::kInvalidField);
  }
  // The host buffer may be larger than the list (4096 declared, 2048 sent),
  // never smaller; and the list must fit the download area.
  if (buffer_id != 0 || length > data_out.size() || offset > kImageSize ||
      length > kImageSize - offset) {
    return CheckCondition(sense::kInvalidField);
  }
  const bool aligned = offset % kChunkSize == 0;
  const int chunk = static_cast<int>(offset / kChunkSize);
  if (aligned && chunk == setup_.powerloss_chunk) {
    setup_.powerloss_chunk = -1;
    present_ = false;
    back_at_ = UINT64_MAX;
    ResetDownload();
    DriveAnswer lost;
    lost.outcome = Outcome::kLost;
    lost.duration_ms = LinkDurationMs(setup_.link, length);
    return lost;
  }
  if (aligned && chunk == setup_.busy_chunk && busy_left_ > 0) {
    --busy_left_;
    DriveAnswer busy;
    busy.outcome = Outcome::kBusy;
    busy.duration_ms = LinkDurationMs(setup_.link, 0);
    return busy;
  }
  std::copy_n(data_out.begin(), length, download_.begin() + static_cast<std::ptrdiff_t>(offset));
  for (std::size_t c = (offset + kChunkSize - 1) / kChunkSize;
       (c + 1) * kChunkSize <= offset + length; ++c) {
    chunk_arrived_[c] = true;
  }
  DriveAnswer answer = Good({}, 0, length);
  if (mode == kModeDownload) return answer;

  const bool whole =
      std::all_of(chunk_arrived_.begin(), chunk_arrived_.end(), [](bool b) { return b; });
  if (!whole || !ImageFitsModel(download_)) {
    ResetDownload();
    answer = CheckCondition(sense::kInvalidParamField);
    answer.duration_ms = LinkDurationMs(setup_.link, length);
    return answer;
  }
  const std::uint64_t save_ms = setup_.save_ms >= 0
                                    ? static_cast<std::uint64_t>(setup_.save_ms)
                                    : (setup_.link == DriveLink::kUsb ? kUsbSaveMs : kAtapiSaveMs);
  if (setup_.save_fail) {
    ResetDownload();
    answer = CheckCondition(sense::kWriteError);
    answer.duration_ms = LinkDurationMs(setup_.link, length) + save_ms;
    return answer;
  }
  answer.duration_ms += save_ms;
  answer.on_end = [this](std::uint64_t) {
    firmware_ = download_;
    std::string rev(4, '?');
    for (std::size_t i = 0; i < 4; ++i) {
      const BYTE c = download_[kImageRevisionOffset + i];
      if (c >= 0x20 && c < 0x7F && c != ',' && c != ':') rev[i] = static_cast<char>(c);
    }
    setup_.rev = rev;
    ResetDownload();
    // Behind ATAPI the drive starts the new code at once; behind the USB
    // bridge it runs the old code until the end-of-load restart.
    if (setup_.link == DriveLink::kAtapi) {
      running_rev_ = setup_.rev;
      unit_attention_ = true;
    }
  };
  return answer;
}

DriveAnswer EmulatedDrive::VendorQuery(std::span<const BYTE> cdb, std::span<const BYTE>,
                                       std::uint64_t) {
  if (cdb[2] != 0x01) return CheckCondition(sense::kInvalidField);
  std::vector<BYTE> d(kVendorQueryLen, 0);
  PutPadded(d, 0, 8, "VANTROS");     // 0..7 vendor
  PutPadded(d, 8, 4, running_rev_);  // 8..11 running firmware revision
  d[12] = setup_.code;               // version code
  d[13] = setup_.modelcode;          // model code
  d[14] = setup_.disc ? 1 : 0;       // disc present
  // 15..17 reserved
  return Good(std::move(d), Be16(cdb, 8), 0);
}

DriveAnswer EmulatedDrive::VendorLoad(std::span<const BYTE> cdb, std::span<const BYTE> data_out,
                                      std::uint64_t) {
  if (cdb[1] == kEndOfLoad) {
    DriveAnswer answer = Good({}, 0, 0);
    answer.duration_ms += kEndOfLoadMs;
    answer.on_end = [this](std::uint64_t end) { Restart(end); };
    return answer;
  }
  if (cdb[1] != 0) return CheckCondition(sense::kInvalidField);
  const std::size_t length = Be16(cdb, 8);
  if (length > data_out.size()) return CheckCondition(sense::kInvalidField);
  const std::span<const BYTE> payload = data_out.first(length);
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < payload.size(); i += 2) sum += Be16(payload, i);
  if ((sum & 0xFFFF) != 0) return CheckCondition(sense::kInvalidParamField);
  if (payload.size() < kPayloadDigitsOffset + 4) return CheckCondition(sense::kInvalidParamField);
  const std::span<const BYTE> digits = payload.subspan(kPayloadDigitsOffset, 4);
  if (!std::all_of(digits.begin(), digits.end(), IsDigit)) {
    return CheckCondition(sense::kInvalidParamField);
  }
  DriveAnswer answer = Good({}, 0, length);
  answer.duration_ms += kLoaderFlashMs;
  const BYTE modelcode = PackedBcd(digits[0], digits[1]);
  const BYTE code = PackedBcd(digits[2], digits[3]);
  answer.on_end = [this, modelcode, code](std::uint64_t) {
    setup_.modelcode = modelcode;
    setup_.code = code;
  };
  return answer;
}

void EmulatedDrive::Restart(std::uint64_t end) {
  ResetDownload();
  present_ = false;
  back_at_ = setup_.no_return ? UINT64_MAX : end + static_cast<std::uint64_t>(setup_.absent_ms);
}

bool EmulatedDrive::Present(std::uint64_t now) const {
  return present_ || (back_at_ != UINT64_MAX && back_at_ <= now);
}

std::uint64_t EmulatedDrive::NextEventAt() const { return present_ ? UINT64_MAX : back_at_; }

void EmulatedDrive::RunUntil(std::uint64_t now) {
  if (present_ || back_at_ > now) return;
  present_ = true;
  back_at_ = UINT64_MAX;
  if (!setup_.return_rev.empty()) setup_.rev = setup_.return_rev;
  running_rev_ = setup_.rev;
  unit_attention_ = true;
}

void EmulatedDrive::PowerOn() {
  present_ = true;
  back_at_ = UINT64_MAX;
  running_rev_ = setup_.rev;
  unit_attention_ = true;
  busy_left_ = setup_.busy_count;
  ResetDownload();
}

void EmulatedDrive::ChangeDisc(bool present) {
  setup_.disc = present;
  unit_attention_ = true;
}

DriveSetup EmulatedDrive::BootSetup() const { return setup_; }

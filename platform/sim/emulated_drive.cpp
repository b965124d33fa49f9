#include "platform/sim/emulated_drive.h"

#include <algorithm>
#include <cassert>
#include <cstring>

using namespace emulated;

namespace {

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
static_assert(kStandardInquiryLen <= kMaxAnswerBytes && kRevisionPageLen <= kMaxAnswerBytes);
constexpr std::size_t kVendorQueryLen = 18;

std::size_t Be16(std::span<const BYTE> b, std::size_t at) {
  return (std::size_t{b[at]} << 8) | b[at + 1];
}
std::size_t Be24(std::span<const BYTE> b, std::size_t at) {
  return (std::size_t{b[at]} << 16) | (std::size_t{b[at + 1]} << 8) | b[at + 2];
}

// Copies text into a space-padded field, as INQUIRY data is laid out.
void PutPadded(std::span<BYTE> out, std::size_t at, std::size_t width, std::string_view text) {
  for (std::size_t i = 0; i < width; ++i) out[at + i] = i < text.size() ? text[i] : ' ';
}

// Commands from 0x20 on carry at least ten bytes, the vendor ones twelve.
bool BlockComplete(std::span<const BYTE> cdb) {
  if (cdb[0] >= 0xC0) return cdb.size() >= 12;
  if (cdb[0] >= 0x20) return cdb.size() >= 10;
  return true;
}

struct WriteBlock {
  BYTE mode;
  std::size_t offset;
  std::size_t length;  // parameter list length
};

// A WRITE BUFFER the drive takes, or nothing for an invalid field. The host
// buffer may be larger than the list (4096 declared, 2048 sent), never
// smaller; and the list must fit the download area.
std::optional<WriteBlock> ParseWriteBuffer(std::span<const BYTE> cdb,
                                           std::span<const BYTE> data_out) {
  const WriteBlock block{static_cast<BYTE>(cdb[1] & 0x1F), Be24(cdb, 3), Be24(cdb, 6)};
  const BYTE buffer_id = cdb[2];
  if (block.mode != kModeDownload && block.mode != kModeDownloadSave) return std::nullopt;
  if (buffer_id != 0 || block.length > data_out.size() || block.offset > kImageSize ||
      block.length > kImageSize - block.offset) {
    return std::nullopt;
  }
  return block;
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

EmulatedDrive::EmulatedDrive(const DriveSetup& setup) : setup_(setup) {
  state_.boot_rev = setup.rev;
  state_.running_rev = setup.rev;
  state_.code = setup.code;
  state_.modelcode = setup.modelcode;
  state_.disc = setup.disc;
  state_.busy_left = setup.busy_count;
}

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
  const Command* command = FindCommand(opcode);
  // Behind ATAPI there is no bridge: the vendor opcodes reach the drive as
  // unknown commands.
  if (command != nullptr && opcode >= 0xC0 && setup_.link != DriveLink::kUsb) command = nullptr;
  const bool attention =
      state_.unit_attention && (command == nullptr || !command->skips_unit_attention);
  if (std::optional<DriveAnswer> fault = FaultBefore(command, attention, cdb, data_out)) {
    return std::move(*fault);
  }
  if (attention) {
    state_.unit_attention = false;
    return CheckCondition(sense::kResetOccurred);
  }
  if (command == nullptr || !BlockComplete(cdb)) return CheckCondition(sense::kInvalidOpcode);
  DriveAnswer answer = (this->*command->build)(cdb, data_out, now);
  FaultAfter(&answer);
  return answer;
}

std::optional<DriveAnswer> EmulatedDrive::FaultBefore(const Command* command, bool attention,
                                                      std::span<const BYTE> cdb,
                                                      std::span<const BYTE> data_out) {
  const BYTE opcode = cdb[0];
  // A command that never ends never reaches the drive, so it does not take
  // a pending unit attention either.
  if (setup_.hang_opcode == opcode) {
    DriveAnswer hang;
    hang.outcome = Outcome::kHang;
    return hang;
  }
  if (attention) return std::nullopt;
  if (setup_.check_opcode == opcode) {
    return CheckCondition({setup_.check_key, setup_.check_asc, 0});
  }
  // The remaining knobs act on a WRITE BUFFER the drive would take, at the
  // start of a chunk.
  if (command == nullptr || opcode != kOpWriteBuffer || !BlockComplete(cdb)) return std::nullopt;
  const std::optional<WriteBlock> block = ParseWriteBuffer(cdb, data_out);
  if (!block || block->offset % kChunkSize != 0) return std::nullopt;
  const int chunk = static_cast<int>(block->offset / kChunkSize);
  if (chunk == setup_.powerloss_chunk && !state_.power_lost) {
    state_.power_lost = true;
    state_.present = false;
    state_.back_at = UINT64_MAX;
    ResetDownload();
    DriveAnswer lost;
    lost.outcome = Outcome::kLost;
    lost.duration_ms = LinkDurationMs(setup_.link, block->length);
    return lost;
  }
  if (chunk == setup_.busy_chunk && state_.busy_left > 0) {
    --state_.busy_left;
    DriveAnswer busy;
    busy.outcome = Outcome::kBusy;
    busy.duration_ms = LinkDurationMs(setup_.link, 0);
    return busy;
  }
  return std::nullopt;
}

void EmulatedDrive::FaultAfter(DriveAnswer* answer) {
  switch (answer->effect) {
    case DriveAnswer::Effect::kNone:
      break;
    case DriveAnswer::Effect::kSave: {
      const std::uint64_t transfer = answer->duration_ms - DefaultSaveMs();
      const std::uint64_t save =
          setup_.save_ms >= 0 ? static_cast<std::uint64_t>(setup_.save_ms) : DefaultSaveMs();
      if (setup_.save_fail) {
        // The save runs its full time and keeps the old firmware.
        ResetDownload();
        *answer = CheckCondition(sense::kWriteError);
      } else if (!setup_.return_rev.empty()) {
        // Taken, yet the drive starts with another revision at its next
        // power-on, as after a restart.
        answer->on_end = [this, save = std::move(answer->on_end)](std::uint64_t end) {
          save(end);
          state_.boot_rev = setup_.return_rev;
        };
      }
      answer->duration_ms = transfer + save;
      break;
    }
    case DriveAnswer::Effect::kRestart:
      if (setup_.no_return || !setup_.return_rev.empty()) {
        answer->on_end = [this, restart = std::move(answer->on_end)](std::uint64_t end) {
          restart(end);
          if (setup_.no_return) state_.back_at = UINT64_MAX;
          state_.comes_back_as = setup_.return_rev;
        };
      }
      break;
  }
}

DriveAnswer EmulatedDrive::Good(std::span<const BYTE> data, std::size_t allocation,
                                std::size_t bytes_out) const {
  DriveAnswer answer;
  answer.data_in_length = std::min({data.size(), allocation, answer.data_in.size()});
  std::copy_n(data.begin(), answer.data_in_length, answer.data_in.begin());
  answer.duration_ms = LinkDurationMs(setup_.link, answer.data_in_length + bytes_out);
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
  if (!state_.disc) return CheckCondition(sense::kNoMedium);
  return Good({}, 0, 0);
}

std::size_t EmulatedDrive::StandardInquiry(std::array<BYTE, kMaxAnswerBytes>& d) const {
  d.fill(0);
  if (!setup_.inquiry.empty()) {
    // A twin answers as its drive did; the revision there follows the
    // firmware it runs.
    const std::size_t n = std::min(setup_.inquiry.size(), d.size());
    std::copy_n(setup_.inquiry.begin(), n, d.begin());
    if (n >= 36 && std::equal(d.begin() + 32, d.begin() + 36, setup_.rev.begin())) {
      PutPadded(d, 32, 4, state_.running_rev);
    }
    return n;
  }
  d[0] = 0x05;                                        // peripheral: CD/DVD device, connected
  d[1] = 0x80;                                        // removable medium
  d[2] = 0x00;                                        // no claimed standard version
  d[3] = 0x02;                                        // response data format 2
  d[4] = static_cast<BYTE>(kStandardInquiryLen - 5);  // additional length
  // 5..7: no optional features
  PutPadded(d, 8, 8, "VANTROS");            // 8..15 vendor identification
  PutPadded(d, 16, 16, setup_.product);     // 16..31 product identification
  PutPadded(d, 32, 4, state_.running_rev);  // 32..35 product revision level
  return kStandardInquiryLen;
}

std::array<BYTE, kMaxAnswerBytes> EmulatedDrive::RevisionPage() const {
  std::array<BYTE, kMaxAnswerBytes> d{};
  d[0] = 0x05;  // peripheral: CD/DVD device
  d[1] = 0x81;  // page code
  d[2] = 0x00;
  d[3] = static_cast<BYTE>(kRevisionPageLen - 4);  // page length
  PutPadded(d, 4, 8, "VANTROS");                   // 4..11 vendor
  PutPadded(d, 12, 16, setup_.product);            // 12..27 product
  // 28..31 reserved
  PutPadded(d, 32, 4, state_.running_rev);  // 32..35 firmware revision
  return d;
}

DriveAnswer EmulatedDrive::Inquiry(std::span<const BYTE> cdb, std::span<const BYTE>,
                                   std::uint64_t) {
  const bool evpd = (cdb[1] & 0x01) != 0;
  const BYTE page = cdb[2];
  const std::size_t allocation = Be16(cdb, 3);
  if (!evpd) {
    if (page != 0) return CheckCondition(sense::kInvalidField);
    std::array<BYTE, kMaxAnswerBytes> d;
    const std::size_t n = StandardInquiry(d);
    return Good(std::span(d).first(n), allocation, 0);
  }
  if (page == 0x00) {
    const BYTE d[] = {
        0x05,  // peripheral: CD/DVD device
        0x00,  // page code: supported pages
        0x00,
        0x02,  // page length
        0x00,  // this page
        0x81,  // firmware revision page
    };
    return Good(d, allocation, 0);
  }
  if (page == 0x81 && setup_.no_revision_page) {
    return CheckCondition({static_cast<BYTE>(setup_.revision_page_sense[0] & 0x0F),
                           setup_.revision_page_sense[1], setup_.revision_page_sense[2]});
  }
  if (page == 0x81) {
    const std::array<BYTE, kMaxAnswerBytes> d = RevisionPage();
    return Good(std::span(d).first(kRevisionPageLen), allocation, 0);
  }
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
    if (!start) state_.disc = false;
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

std::uint64_t EmulatedDrive::DefaultSaveMs() const {
  return setup_.link == DriveLink::kUsb ? kUsbSaveMs : kAtapiSaveMs;
}

DriveAnswer EmulatedDrive::WriteBuffer(std::span<const BYTE> cdb, std::span<const BYTE> data_out,
                                       std::uint64_t) {
  const std::optional<WriteBlock> block = ParseWriteBuffer(cdb, data_out);
  if (!block) return CheckCondition(sense::kInvalidField);
  std::vector<BYTE>& area = state_.download;
  if (area.capacity() < kImageSize) area.reserve(kImageSize);
  // Chunks come in order, so the area grows by appending; only a gap before
  // an offset beyond its end is zero-filled.
  if (area.size() < block->offset) area.resize(block->offset);
  const std::size_t overwritten = std::min(block->length, area.size() - block->offset);
  std::copy_n(data_out.begin(), overwritten,
              area.begin() + static_cast<std::ptrdiff_t>(block->offset));
  area.insert(area.end(), data_out.begin() + static_cast<std::ptrdiff_t>(overwritten),
              data_out.begin() + static_cast<std::ptrdiff_t>(block->length));
  for (std::size_t c = (block->offset + kChunkSize - 1) / kChunkSize;
       (c + 1) * kChunkSize <= block->offset + block->length; ++c) {
    state_.chunk_arrived.set(c);
  }
  DriveAnswer answer = Good({}, 0, block->length);
  if (block->mode == kModeDownload) return answer;

  if (!state_.chunk_arrived.all() || !ImageFitsModel(area)) {
    ResetDownload();
    answer = CheckCondition(sense::kInvalidParamField);
    answer.duration_ms = LinkDurationMs(setup_.link, block->length);
    return answer;
  }
  answer.duration_ms += DefaultSaveMs();
  answer.effect = DriveAnswer::Effect::kSave;
  answer.on_end = [this](std::uint64_t) {
    // The area becomes the firmware; the old firmware's storage becomes the
    // next download area.
    state_.firmware.swap(state_.download);
    state_.firmware_dirty = true;
    std::string rev(4, '?');
    for (std::size_t i = 0; i < 4; ++i) {
      const BYTE c = state_.firmware[kImageRevisionOffset + i];
      if (c >= 0x20 && c < 0x7F && c != ',' && c != ':') rev[i] = static_cast<char>(c);
    }
    state_.boot_rev = rev;
    ResetDownload();
    // Behind ATAPI the drive starts the new code at once; behind the USB
    // bridge it runs the old code until the end-of-load restart.
    if (setup_.link == DriveLink::kAtapi) {
      state_.running_rev = state_.boot_rev;
      state_.unit_attention = true;
    }
  };
  return answer;
}

DriveAnswer EmulatedDrive::VendorQuery(std::span<const BYTE> cdb, std::span<const BYTE>,
                                       std::uint64_t) {
  if (cdb[2] != 0x01) return CheckCondition(sense::kInvalidField);
  std::array<BYTE, kVendorQueryLen> d{};
  PutPadded(d, 0, 8, "VANTROS");           // 0..7 vendor
  PutPadded(d, 8, 4, state_.running_rev);  // 8..11 running firmware revision
  d[12] = state_.code;                     // version code
  d[13] = state_.modelcode;                // model code
  d[14] = state_.disc ? 1 : 0;             // disc present
  // 15..17 reserved
  return Good(d, Be16(cdb, 8), 0);
}

DriveAnswer EmulatedDrive::VendorLoad(std::span<const BYTE> cdb, std::span<const BYTE> data_out,
                                      std::uint64_t) {
  if (cdb[1] == kEndOfLoad) {
    DriveAnswer answer = Good({}, 0, 0);
    answer.duration_ms += kEndOfLoadMs;
    answer.effect = DriveAnswer::Effect::kRestart;
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
    state_.modelcode = modelcode;
    state_.code = code;
  };
  return answer;
}

void EmulatedDrive::Restart(std::uint64_t end) {
  ResetDownload();
  state_.present = false;
  state_.back_at = end + static_cast<std::uint64_t>(setup_.absent_ms);
}

bool EmulatedDrive::Present(std::uint64_t now) const {
  return state_.present || (state_.back_at != UINT64_MAX && state_.back_at <= now);
}

std::uint64_t EmulatedDrive::NextEventAt() const {
  return state_.present ? UINT64_MAX : state_.back_at;
}

void EmulatedDrive::RunUntil(std::uint64_t now) {
  if (state_.present || state_.back_at > now) return;
  state_.present = true;
  state_.back_at = UINT64_MAX;
  if (!state_.comes_back_as.empty()) state_.boot_rev = state_.comes_back_as;
  state_.running_rev = state_.boot_rev;
  state_.unit_attention = true;
}

void EmulatedDrive::SwitchOffAndOn(std::uint64_t now) {
  ResetDownload();
  state_.present = false;
  state_.comes_back_as.clear();
  state_.back_at =
      setup_.no_return ? UINT64_MAX : now + static_cast<std::uint64_t>(setup_.absent_ms);
}

void EmulatedDrive::PowerOn() {
  state_.present = true;
  state_.back_at = UINT64_MAX;
  state_.comes_back_as.clear();
  state_.running_rev = state_.boot_rev;
  state_.unit_attention = setup_.power_on_attention;
  state_.busy_left = setup_.busy_count;
  ResetDownload();
}

void EmulatedDrive::ChangeDisc(bool present) {
  state_.disc = present;
  state_.unit_attention = true;
}

void EmulatedDrive::set_firmware(std::vector<BYTE> image) {
  state_.firmware = std::move(image);
  state_.firmware_dirty = true;
}

DriveSetup EmulatedDrive::BootSetup() const {
  DriveSetup boot = setup_;
  boot.rev = state_.boot_rev;
  boot.code = state_.code;
  boot.modelcode = state_.modelcode;
  boot.disc = state_.disc;
  if (state_.power_lost) boot.powerloss_chunk = -1;
  return boot;
}

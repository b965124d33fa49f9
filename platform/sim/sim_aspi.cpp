#include "platform/sim/sim_aspi.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"
#include "platform/sim/emulated_drive.h"

namespace fs = std::filesystem;

namespace {

constexpr BYTE kHostSelectionTimeout = 0x11;  // SRB_HaStat: the target went away

std::string AddressName(int adapter, int target) {
  return std::to_string(adapter) + "-" + std::to_string(target);
}

// The description line of a drive file.
bool WriteDriveLine(const fs::path& dir, const std::string& line, int adapter, int target,
                    std::string* error) {
  const fs::path file = dir / (AddressName(adapter, target) + ".drive");
  if (!ReplaceFileAtomically(file, line + "\n", nullptr)) {
    if (error != nullptr) *error = "cannot write " + file.string();
    return false;
  }
  return true;
}

// The firmware beside a drive file; none is kept for a drive without one.
bool WriteFirmware(const fs::path& dir, const std::vector<BYTE>& firmware, int adapter, int target,
                   std::string* error) {
  const fs::path image = dir / (AddressName(adapter, target) + ".firmware");
  std::error_code ec;
  if (firmware.empty()) {
    fs::remove(image, ec);
  } else if (!ReplaceFileAtomically(
                 image, {reinterpret_cast<const char*>(firmware.data()), firmware.size()},
                 nullptr)) {
    if (error != nullptr) *error = "cannot write " + image.string();
    return false;
  }
  return true;
}

}  // namespace

struct SimAspi::Held {
  SRB_ExecSCSICmd* request;
  std::uint64_t due;  // UINT64_MAX: never
  std::uint64_t sequence;
  bool ending;  // status set, completion routine running
  DriveAnswer answer;
};

SimAspi::SimAspi(int adapter_count, VirtualClock* clock, const std::vector<DriveSetup>& setups)
    : adapter_count_(std::clamp(adapter_count, 0, 255)), clock_(clock) {
  for (const DriveSetup& setup : setups) {
    drives_.push_back(std::make_unique<EmulatedDrive>(setup));
    // The first drive at an address answers there, as a walk would find it.
    if (InIndex(setup.adapter, setup.target)) {
      EmulatedDrive*& slot = by_address_[setup.adapter * 8 + setup.target];
      if (slot == nullptr) slot = drives_.back().get();
    }
  }
  saved_lines_.resize(drives_.size());
  if (clock_ != nullptr) clock_->Attach(this);
}

SimAspi::~SimAspi() {
  if (clock_ != nullptr) clock_->Attach(nullptr);
}

std::unique_ptr<SimAspi> SimAspi::Load(const fs::path& machine_dir, int adapter_count,
                                       VirtualClock* clock, std::string* error) {
  const fs::path dir = machine_dir / "drives";
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_directory(dir, ec)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
      if (entry.path().extension() == ".drive") files.push_back(entry.path());
    }
    if (ec) {
      if (error != nullptr) *error = "cannot read " + dir.string();
      return nullptr;
    }
  }
  std::sort(files.begin(), files.end());

  std::vector<DriveSetup> setups;
  std::vector<std::vector<BYTE>> images;
  std::set<std::pair<int, int>> taken;
  for (const fs::path& file : files) {
    const std::string where = "drives/" + file.filename().string() + ": ";
    std::string text;
    std::string why;
    if (!ReadRegularFile(file, &text, &why)) {
      if (error != nullptr) *error = why;
      return nullptr;
    }
    std::string description;
    int count = 0;
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string_view line(text.data() + start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty() || line[0] == '#') continue;
      description = line;
      ++count;
    }
    if (count != 1) {
      if (error != nullptr) *error = where + "must hold exactly one drive line";
      return nullptr;
    }
    DriveSetup setup;
    std::string reason;
    if (!ParseDriveSetup(description, &setup, &reason)) {
      if (error != nullptr) *error = where + reason;
      return nullptr;
    }
    // Saving writes each drive to the file named after its address; a drive
    // read from another file would then be there twice and the PC would no
    // longer open.
    if (file.stem() != AddressName(setup.adapter, setup.target)) {
      if (error != nullptr)
        *error = where + "holds the drive at " + std::to_string(setup.adapter) + ":" +
                 std::to_string(setup.target) + ", so it must be named " +
                 AddressName(setup.adapter, setup.target) + ".drive";
      return nullptr;
    }
    if (setup.adapter >= adapter_count) {
      if (error != nullptr)
        *error = where + "adapter " + std::to_string(setup.adapter) + " but the PC has " +
                 std::to_string(adapter_count);
      return nullptr;
    }
    if (!taken.insert({setup.adapter, setup.target}).second) {
      if (error != nullptr)
        *error = where + "a second drive at " + std::to_string(setup.adapter) + ":" +
                 std::to_string(setup.target);
      return nullptr;
    }
    std::vector<BYTE> image;
    fs::path image_path = file;
    image_path.replace_extension(".firmware");
    if (fs::exists(image_path, ec)) {
      std::string bytes;
      std::string why;
      if (!ReadRegularFile(image_path, &bytes, &why)) {
        if (error != nullptr) *error = where + "its firmware: " + why;
        return nullptr;
      }
      image.assign(bytes.begin(), bytes.end());
    }
    setups.push_back(setup);
    images.push_back(std::move(image));
  }

  auto layer = std::make_unique<SimAspi>(adapter_count, clock, setups);
  layer->machine_dir_ = machine_dir;
  for (std::size_t i = 0; i < images.size(); ++i) {
    layer->drives_[i]->set_firmware(std::move(images[i]));
    layer->drives_[i]->MarkFirmwareSaved();
    layer->saved_lines_[i] = FormatDriveSetup(setups[i]);
  }
  return layer;
}

bool SimAspi::WriteDrives(const fs::path& machine_dir, const std::vector<DriveSetup>& setups,
                          std::string* error) {
  std::set<std::pair<int, int>> taken;
  for (const DriveSetup& setup : setups) {
    if (!taken.insert({setup.adapter, setup.target}).second) {
      if (error != nullptr)
        *error =
            "two drives at " + std::to_string(setup.adapter) + ":" + std::to_string(setup.target);
      return false;
    }
  }
  const fs::path dir = machine_dir / "drives";
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    if (error != nullptr) *error = "cannot create " + dir.string();
    return false;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    const fs::path ext = entry.path().extension();
    if (ext == ".drive" || ext == ".firmware") fs::remove(entry.path(), ec);
  }
  for (const DriveSetup& setup : setups) {
    if (!WriteDriveLine(dir, FormatDriveSetup(setup), setup.adapter, setup.target, error) ||
        !WriteFirmware(dir, {}, setup.adapter, setup.target, error)) {
      return false;
    }
  }
  return true;
}

bool SimAspi::Save() {
  if (machine_dir_.empty()) return false;
  const fs::path dir = machine_dir_ / "drives";
  std::error_code ec;
  fs::create_directories(dir, ec);
  // Only what changed since the PC was opened or last saved is written.
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    EmulatedDrive& drive = *drives_[i];
    const std::string line = FormatDriveSetup(drive.BootSetup());
    const int adapter = drive.setup().adapter;
    const int target = drive.setup().target;
    if (line != saved_lines_[i]) {
      if (!WriteDriveLine(dir, line, adapter, target, nullptr)) return false;
      saved_lines_[i] = line;
    }
    if (drive.firmware_dirty()) {
      if (!WriteFirmware(dir, drive.firmware(), adapter, target, nullptr)) return false;
      drive.MarkFirmwareSaved();
    }
  }
  return true;
}

std::vector<std::string> SimAspi::ShowLines() const {
  std::vector<const EmulatedDrive*> order;
  for (const auto& drive : drives_) order.push_back(drive.get());
  std::sort(order.begin(), order.end(), [](const EmulatedDrive* a, const EmulatedDrive* b) {
    return std::pair(a->setup().adapter, a->setup().target) <
           std::pair(b->setup().adapter, b->setup().target);
  });
  std::vector<std::string> lines;
  for (const EmulatedDrive* drive : order) {
    const DriveSetup& s = drive->setup();
    const DriveState& state = drive->state();
    char codes[64];
    std::snprintf(codes, sizeof codes, " code=0x%02X model=0x%02X disc=%d", state.code,
                  state.modelcode, state.disc ? 1 : 0);
    lines.push_back("drive " + std::to_string(s.adapter) + ":" + std::to_string(s.target) + " " +
                    s.product + " rev=" + drive->running_revision() + codes);
  }
  return lines;
}

void SimAspi::PowerOn() {
  held_.clear();
  for (const auto& drive : drives_) drive->PowerOn();
}

void SimAspi::SwitchDrivesOffAndOn() {
  for (const auto& drive : drives_) drive->SwitchOffAndOn(Now());
}

DWORD SimAspi::SupportInfo() {
  return static_cast<DWORD>(adapter_count_) | (static_cast<DWORD>(SS_COMP) << 8);
}

std::uint64_t SimAspi::Now() const { return clock_ != nullptr ? clock_->Now() : 0; }

const EmulatedDrive* SimAspi::DriveAt(int adapter, int target) const {
  if (InIndex(adapter, target)) return by_address_[adapter * 8 + target];
  for (const auto& drive : drives_) {
    if (drive->setup().adapter == adapter && drive->setup().target == target) return drive.get();
  }
  return nullptr;
}

EmulatedDrive* SimAspi::DriveAt(int adapter, int target) {
  return const_cast<EmulatedDrive*>(std::as_const(*this).DriveAt(adapter, target));
}

bool SimAspi::Holds(const SRB_ExecSCSICmd* request) const {
  return std::any_of(held_.begin(), held_.end(),
                     [request](const Held& h) { return h.request == request; });
}

DWORD SimAspi::Send(SRB_ExecSCSICmd* request) {
  if (request == nullptr) return SS_ERR;
  if (Holds(request)) {
    ++refused_resubmits_;
    return SS_ERR;
  }
  // Ends a record before Send returns: status first, then the routine.
  auto end_now = [request](BYTE status) {
    request->SRB_Status = status;
    if ((request->SRB_Flags & SRB_POSTING) != 0 && request->SRB_PostProc != nullptr) {
      request->SRB_PostProc(request);
    }
    return DWORD{status};
  };
  if (request->SRB_Cmd != SC_EXEC_SCSI_CMD) return end_now(SS_INVALID_CMD);

  const std::uint64_t now = Now();
  EmulatedDrive* drive = request->SRB_HaId < adapter_count_ && request->SRB_Lun == 0
                             ? DriveAt(request->SRB_HaId, request->SRB_Target)
                             : nullptr;
  if (drive != nullptr) drive->RunUntil(now);
  if (drive == nullptr || !drive->Present(now)) return end_now(SS_NO_DEVICE);
  if (request->SRB_CDBLen == 0 || request->SRB_CDBLen > sizeof request->CDBByte) {
    return end_now(SS_ERR);
  }

  std::span<const BYTE> data_out;
  if ((request->SRB_Flags & SRB_DIR_IN) == 0 && request->SRB_BufPointer != nullptr) {
    data_out = {request->SRB_BufPointer, request->SRB_BufLen};
  }
  request->SRB_Status = SS_PENDING;
  request->SRB_HaStat = 0;
  request->SRB_TargStat = STATUS_GOOD;
  DriveAnswer answer = drive->Execute({request->CDBByte, request->SRB_CDBLen}, data_out, now);
  const std::uint64_t due =
      answer.outcome == Outcome::kHang ? UINT64_MAX : now + answer.duration_ms;
  held_.push_back(Held{request, due, next_sequence_++, false, std::move(answer)});
  return SS_PENDING;
}

std::uint64_t SimAspi::NextEventAt() const {
  std::uint64_t next = UINT64_MAX;
  for (const Held& h : held_) {
    if (!h.ending) next = std::min(next, h.due);
  }
  return std::min(next, returns_at_);
}

void SimAspi::RunUntil(std::uint64_t now) {
  for (;;) {
    // The earliest command due; ties end in the order they were sent.
    auto due = held_.end();
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (it->ending || it->due > now) continue;
      if (due == held_.end() ||
          std::pair(it->due, it->sequence) < std::pair(due->due, due->sequence)) {
        due = it;
      }
    }
    if (due == held_.end()) break;
    BringBack(due->due);

    due->ending = true;
    const std::uint64_t sequence = due->sequence;
    SRB_ExecSCSICmd* request = due->request;
    DriveAnswer answer = std::move(due->answer);
    if (answer.on_end) {
      answer.on_end(due->due);
      // The end may have restarted a drive: its return is an event now.
      for (const auto& drive : drives_) returns_at_ = std::min(returns_at_, drive->NextEventAt());
    }

    std::size_t data_in = 0;
    if (answer.data_in_length > 0 && request->SRB_BufPointer != nullptr) {
      data_in = std::min<std::size_t>(answer.data_in_length, request->SRB_BufLen);
      std::memcpy(request->SRB_BufPointer, answer.data_in.data(), data_in);
    }
    if (data_in_hook_) data_in_hook_(request, data_in);
    BYTE status = SS_ERR;
    switch (answer.outcome) {
      case Outcome::kGood:
        status = SS_COMP;
        break;
      case Outcome::kCheck: {
        request->SRB_TargStat = STATUS_CHKCOND;
        BYTE sense_data[SENSE_LEN + 2] = {};
        sense_data[0] = 0x70;  // current error, fixed format
        sense_data[2] = answer.sense.key & 0x0F;
        sense_data[7] = 0x0A;  // additional sense length
        sense_data[12] = answer.sense.asc;
        sense_data[13] = answer.sense.ascq;
        std::memcpy(request->SenseArea, sense_data,
                    std::min<std::size_t>(request->SRB_SenseLen, sizeof sense_data));
        break;
      }
      case Outcome::kBusy:
        request->SRB_TargStat = STATUS_BUSY;
        break;
      case Outcome::kLost:
        request->SRB_HaStat = kHostSelectionTimeout;
        break;
      case Outcome::kHang:
        break;
    }
    request->SRB_Status = status;
    if ((request->SRB_Flags & SRB_POSTING) != 0 && request->SRB_PostProc != nullptr) {
      request->SRB_PostProc(request);
    }
    // The routine may have sent further records, so find this one afresh.
    std::erase_if(held_, [sequence](const Held& h) { return h.sequence == sequence; });
  }
  BringBack(now);
}

void SimAspi::BringBack(std::uint64_t now) {
  if (returns_at_ > now) return;
  returns_at_ = UINT64_MAX;
  for (const auto& drive : drives_) {
    drive->RunUntil(now);
    returns_at_ = std::min(returns_at_, drive->NextEventAt());
  }
}

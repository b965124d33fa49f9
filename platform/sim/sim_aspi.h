// The virtual PC's host adapters: an ASPI layer whose targets are emulated
// VANTROS drives, driven by the virtual clock.
//
// Drive description (the `--drive` argument of quorvanta-sim and the one line
// of each file in MACHINE/drives/):
//
//   A:T:MODEL:LINK[:key=value,...]
//
//   A, T      host adapter 0..7 and target 0..7
//   MODEL     t71 | r305 | "PRODUCT ID" (quoted, 1..16 printable characters;
//             a product id starting "T71 CDRW USB" or "R305 CDRW USB" takes
//             that model's image rules, any other accepts no image)
//   LINK      usb | atapi (the vendor commands 0xCC and 0xCD exist on usb only)
//
// Keys (numbers are decimal or 0x-prefixed hexadecimal; the values shown are
// a drive's defaults, the same for `quorvanta-sim init` with or without --drive):
//   rev=1.00          firmware revision, exactly 4 printable characters
//   code=0x11         version code (answer byte 12 of the vendor query 0xCC)
//   modelcode=0x04    model code (answer byte 13 of 0xCC)
//   disc=0|1          a disc in the tray
// What a twin keeps of the drive it stands for (quorvanta-sim init --twin):
//   inquiry=HEX       the standard INQUIRY answer, 1..96 bytes in hexadecimal
//                     without blanks, given instead of the emulator's own
//                     (bytes 32..35 follow the running revision when they
//                     held the revision the drive started with)
//   norevpage=K/ASC/ASCQ  INQUIRY page 0x81 ends CHECK CONDITION with this
//                     sense instead of answering
//   attention=0       no unit attention at power-on (the system took it
//                     before the program's first command, as Linux does)
// Fault knobs:
//   hang=0xOP         a command with this opcode never completes
//   check=0xOP/K/ASC  a command with this opcode ends CHECK CONDITION with
//                     sense key K and additional sense code ASC (ASCQ 0)
//   busy=N@K          WRITE BUFFER of chunk K (offset K*2048; 256 is the final
//                     chunk) answers BUSY (SS_ERR, target status 0x08) N times
//                     before it is taken
//   powerloss=K       the drive loses power when chunk K arrives: the download
//                     is lost, the old firmware kept, the command ends SS_ERR
//                     and the drive is absent until the next PowerOn(); fires
//                     once, then the knob is gone
//   savefail=1        the save (WRITE BUFFER mode 7) runs its full time, then
//                     ends CHECK CONDITION MEDIUM ERROR; the old firmware stays
//   noreturn=1        after the end-of-load 0xCD FF the drive stays absent
//                     until the next PowerOn()
//   returnrev=X.YZ    after 0xCD FF, or at the next power-on after a save,
//                     the drive comes back with this revision instead of the
//                     one in the image it took
//   savetime=MS       duration of the save (default usb 3000, atapi 30000)
//   absent=MS         absence after 0xCD FF, and while switched off by hand
//                     (default 20000)
//
// A drive raises one unit attention (sense 6/0x29) at power-on, when it comes
// back from the end-of-load restart, when an ATAPI drive starts newly saved
// firmware, and when a disc is put in or taken out by hand; the next command
// other than INQUIRY and the USB bridge's own vendor commands 0xCC/0xCD
// reports and clears it (behind ATAPI those opcodes are unknown commands and
// report it like any other).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/aspi.h"
#include "platform/sim/virtual_clock.h"

enum class DriveModel { kT71, kR305, kOther };
enum class DriveLink { kUsb, kAtapi };

struct DriveSetup {
  int adapter = 0;
  int target = 0;
  DriveModel model = DriveModel::kT71;
  std::string product = "T71 CDRW USB";  // up to 16 characters, unpadded
  bool quoted_product = false;           // MODEL was given as a quoted product id
  DriveLink link = DriveLink::kUsb;
  std::string rev = "1.00";  // exactly 4 characters
  BYTE code = 0x11;
  BYTE modelcode = 0x04;
  bool disc = false;
  std::vector<BYTE> inquiry;  // empty: the emulator's own answer
  bool no_revision_page = false;
  bool power_on_attention = true;
  BYTE revision_page_sense[3] = {};  // key, ASC, ASCQ

  // Fault knobs; -1 / 0 / empty mean "off".
  int hang_opcode = -1;
  int check_opcode = -1;
  BYTE check_key = 0;
  BYTE check_asc = 0;
  int busy_count = 0;
  int busy_chunk = -1;
  int powerloss_chunk = -1;
  bool save_fail = false;
  bool no_return = false;
  std::string return_rev;          // 4 characters when set
  std::int64_t save_ms = -1;       // -1: the link's default
  std::int64_t absent_ms = 20000;  // absence after 0xCD FF
};

// Parses `A:T:MODEL:LINK[:key=value,...]`. On failure returns false and puts
// a one-line reason in *error (when not null); *out is then unspecified.
bool ParseDriveSetup(std::string_view text, DriveSetup* out, std::string* error);
// The inverse: a line that ParseDriveSetup reads back to the same setup.
std::string FormatDriveSetup(const DriveSetup& setup);

class EmulatedDrive;

class SimAspi final : public AspiLayer, public VirtualEventSource {
 public:
  // Reads every `*.drive` file of machine_dir/drives/ (a missing directory
  // means no drives) and the firmware kept beside it. A malformed file, a
  // drive on an adapter >= adapter_count or two drives at one address is an
  // error: nullptr and one line in *error. Attaches itself to `clock`.
  static std::unique_ptr<SimAspi> Load(const std::filesystem::path& machine_dir, int adapter_count,
                                       VirtualClock* clock, std::string* error);
  // Replaces machine_dir/drives/ with one file per setup (no firmware image).
  static bool WriteDrives(const std::filesystem::path& machine_dir,
                          const std::vector<DriveSetup>& setups, std::string* error);

  // Builds a layer from setups directly (tests); Save() then has nowhere to go.
  // Both constructors attach the layer to `clock` and the destructor detaches
  // it, so the clock must outlive the layer.
  SimAspi(int adapter_count, VirtualClock* clock, const std::vector<DriveSetup>& setups);
  ~SimAspi() override;
  SimAspi(const SimAspi&) = delete;
  SimAspi& operator=(const SimAspi&) = delete;

  // Persists each drive: its description line (revision it will boot with,
  // codes, disc, remaining knobs) and its firmware image, replacing the files
  // atomically; a file whose contents have not changed since the PC was
  // opened or last saved is left alone. False when there is no machine
  // directory or a write failed.
  bool Save();
  // One line per drive in address order:
  // `drive A:T PRODUCT rev=REV code=0xNN model=0xNN disc=0|1`.
  std::vector<std::string> ShowLines() const;
  // Power comes on: every drive is present, runs the firmware it holds and
  // raises one unit attention. Commands still held are dropped silently.
  void PowerOn();
  // The user switches every drive off and on again (EmulatedDrive).
  void SwitchDrivesOffAndOn();

  // AspiLayer. SupportInfo = adapter count | (SS_COMP << 8).
  DWORD SupportInfo() override;
  // Ends at once (status set, routine run before Send returns) for an address
  // without a present drive or an adapter >= the count (SS_NO_DEVICE), an
  // unknown SRB_Cmd (SS_INVALID_CMD) or a CDB length of 0 or over 16
  // (SS_ERR); otherwise the status stays SS_PENDING
  // until RunUntil passes the command's end. A held record: SS_ERR returned,
  // record untouched, counted in refused_resubmits().
  DWORD Send(SRB_ExecSCSICmd* request) override;
  bool Holds(const SRB_ExecSCSICmd* request) const override;

  // VirtualEventSource.
  std::uint64_t NextEventAt() const override;
  void RunUntil(std::uint64_t now) override;

  // Inspection for tests and `show`.
  int refused_resubmits() const { return refused_resubmits_; }
  // Null when no drive sits at the address.
  const EmulatedDrive* DriveAt(int adapter, int target) const;
  EmulatedDrive* DriveAt(int adapter, int target);
  // Told, as each held command ends, how many data-in bytes went into its
  // buffer: what a server that reports residues (a USB bridge) needs, since
  // the record itself has no field for it.
  void set_data_in_hook(std::function<void(const SRB_ExecSCSICmd*, std::size_t)> hook) {
    data_in_hook_ = std::move(hook);
  }

 private:
  struct Held;
  std::uint64_t Now() const;
  // Lets every drive due back by `now` come back.
  void BringBack(std::uint64_t now);

  int adapter_count_;
  VirtualClock* clock_;
  std::filesystem::path machine_dir_;
  std::vector<std::unique_ptr<EmulatedDrive>> drives_;
  // The drive at adapter*8+target for the addresses a description can name.
  static bool InIndex(int adapter, int target) {
    return adapter >= 0 && adapter < 8 && target >= 0 && target < 8;
  }
  std::array<EmulatedDrive*, 64> by_address_{};
  // Each drive's description line as its file holds it; empty when unknown.
  std::vector<std::string> saved_lines_;
  std::vector<Held> held_;
  std::function<void(const SRB_ExecSCSICmd*, std::size_t)> data_in_hook_;
  std::uint64_t next_sequence_ = 0;
  int refused_resubmits_ = 0;
  // No drive comes back before this instant. Only the end of a command can
  // restart a drive, so it is lowered there; it may be early (a drive
  // powered on meanwhile), never late. Spares every instant of every wait a
  // walk over all the drives.
  std::uint64_t returns_at_ = UINT64_MAX;
};

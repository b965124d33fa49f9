// One emulated VANTROS drive: what it answers to each command block, how long
// that takes on its link, and what it remembers (firmware, revision, codes,
// disc, the download area). Time is passed in as milliseconds since power-on;
// the drive never reads a clock itself, so its host adapter decides when a
// command ends.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/sim/sim_aspi.h"
#include "platform/types.h"

// Sense data as a named {key, additional sense code, qualifier} triple.
struct SenseCode {
  BYTE key;
  BYTE asc;
  BYTE ascq;
};

namespace sense {
inline constexpr SenseCode kNoSense{0x00, 0x00, 0x00};
inline constexpr SenseCode kNoMedium{0x02, 0x3A, 0x00};
inline constexpr SenseCode kWriteError{0x03, 0x0C, 0x00};
inline constexpr SenseCode kInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr SenseCode kInvalidField{0x05, 0x24, 0x00};
inline constexpr SenseCode kInvalidParamField{0x05, 0x26, 0x00};
inline constexpr SenseCode kResetOccurred{0x06, 0x29, 0x00};
}  // namespace sense

// Firmware image layout shared by the drive and its tests.
namespace emulated {
inline constexpr std::size_t kImageSize = 526336;  // 257 chunks of 2048
inline constexpr std::size_t kChunkSize = 2048;
inline constexpr std::size_t kChunkCount = kImageSize / kChunkSize;
inline constexpr std::size_t kSignatureOffset = 499660;
inline constexpr std::size_t kImageRevisionOffset = 499684;  // revision field 1
// The loader data's version digits sit at file offset 28732, that is payload
// offset 28732 - 64.
inline constexpr std::size_t kPayloadDigitsOffset = 28668;
// The longest answer a command has: the standard INQUIRY, which a twin
// answers with its drive's whole one, up to 96 bytes.
inline constexpr std::size_t kMaxAnswerBytes = 96;
// The commands a drive serves, shared by the drive and its twins' reader.
inline constexpr BYTE kOpTestUnitReady = 0x00;
inline constexpr BYTE kOpInquiry = 0x12;
inline constexpr BYTE kOpStartStopUnit = 0x1B;
inline constexpr BYTE kOpWriteBuffer = 0x3B;
inline constexpr BYTE kOpVendorQuery = 0xCC;
inline constexpr BYTE kOpVendorLoad = 0xCD;
}  // namespace emulated

enum class Outcome {
  kGood,   // SS_COMP, target status GOOD
  kCheck,  // SS_ERR, CHECK CONDITION with `sense`
  kBusy,   // SS_ERR, target status BUSY
  kHang,   // never ends
  kLost,   // the drive lost power under the command: SS_ERR, no target status
};

struct DriveAnswer {
  Outcome outcome = Outcome::kGood;
  SenseCode sense = sense::kNoSense;
  // Data in: the first data_in_length bytes, already cut to the allocation
  // length. Held in the answer itself, so that answering allocates nothing.
  std::array<BYTE, emulated::kMaxAnswerBytes> data_in{};
  std::size_t data_in_length = 0;
  std::uint64_t duration_ms = 0;
  // State change that takes effect at the instant the command ends.
  std::function<void(std::uint64_t end)> on_end;
  // What the command sets going, for the fault knobs that act on it.
  enum class Effect { kNone, kSave, kRestart } effect = Effect::kNone;
};

// What a drive remembers and changes while it runs; its DriveSetup stays the
// description it was made from.
struct DriveState {
  std::string boot_rev;     // the revision it comes up with at its next start
  std::string running_rev;  // the revision it answers with now
  BYTE code = 0;
  BYTE modelcode = 0;
  bool disc = false;
  bool unit_attention = true;
  bool present = true;
  std::uint64_t back_at = UINT64_MAX;  // restarting: present again then
  std::string comes_back_as;           // set: the revision after the restart
  bool power_lost = false;             // the powerloss knob has fired
  int busy_left = 0;
  std::vector<BYTE> firmware;
  // The download area: grows as the WRITE BUFFERs arrive, up to the image's
  // size. Its bytes are only ever read once every chunk has arrived since the
  // last reset, so a reset clears the arrival marks and leaves the bytes, and
  // nothing in it is zero-filled that a chunk will overwrite.
  std::vector<BYTE> download;
  std::bitset<emulated::kChunkCount> chunk_arrived;
  // Firmware changed since it was last read or saved.
  bool firmware_dirty = false;
};

// Link timing: a fixed cost per command plus the bytes at the link's rate.
std::uint64_t LinkDurationMs(DriveLink link, std::size_t bytes);

class EmulatedDrive {
 public:
  explicit EmulatedDrive(const DriveSetup& setup);

  // Carries out one command arriving at `now`. `data_out` is what the host
  // buffer holds (at most SRB_BufLen bytes); the drive never reads past it.
  DriveAnswer Execute(std::span<const BYTE> cdb, std::span<const BYTE> data_out, std::uint64_t now);

  // Absent drives answer nothing (the host adapter reports SS_NO_DEVICE).
  bool Present(std::uint64_t now) const;
  // The instant a restarting drive comes back; UINT64_MAX when none is due.
  std::uint64_t NextEventAt() const;
  void RunUntil(std::uint64_t now);
  // Power comes on: present, running the firmware it holds, unit attention.
  void PowerOn();
  // The user switches the drive off at `now` and on again once its absence
  // (absent=) is over, or never (noreturn=1): it then runs the firmware it
  // holds.
  void SwitchOffAndOn(std::uint64_t now);
  // The operator puts a disc in or takes it out: raises a unit attention.
  void ChangeDisc(bool present);

  // The description as it would boot now (revision it would come up with,
  // codes, disc, knobs still armed).
  DriveSetup BootSetup() const;
  const DriveSetup& setup() const { return setup_; }
  const DriveState& state() const { return state_; }
  const std::string& running_revision() const { return state_.running_rev; }
  bool disc() const { return state_.disc; }
  bool unit_attention_pending() const { return state_.unit_attention; }
  const std::vector<BYTE>& firmware() const { return state_.firmware; }
  void set_firmware(std::vector<BYTE> image);
  // The firmware has changed since it was set or last marked saved.
  bool firmware_dirty() const { return state_.firmware_dirty; }
  void MarkFirmwareSaved() { state_.firmware_dirty = false; }

 private:
  using Builder = DriveAnswer (EmulatedDrive::*)(std::span<const BYTE> cdb,
                                                 std::span<const BYTE> data_out, std::uint64_t now);
  struct Command {
    BYTE opcode;
    Builder build;
    bool skips_unit_attention;
  };
  static const Command* FindCommand(BYTE opcode);

  // The fault knobs, kept out of the command handlers: before dispatch they
  // may answer in the drive's place; after it they change how a save or a
  // restart the command set going turns out.
  std::optional<DriveAnswer> FaultBefore(const Command* command, bool attention,
                                         std::span<const BYTE> cdb, std::span<const BYTE> data_out);
  void FaultAfter(DriveAnswer* answer);

  DriveAnswer TestUnitReady(std::span<const BYTE> cdb, std::span<const BYTE> out,
                            std::uint64_t now);
  DriveAnswer Inquiry(std::span<const BYTE> cdb, std::span<const BYTE> out, std::uint64_t now);
  DriveAnswer StartStopUnit(std::span<const BYTE> cdb, std::span<const BYTE> out,
                            std::uint64_t now);
  DriveAnswer WriteBuffer(std::span<const BYTE> cdb, std::span<const BYTE> out, std::uint64_t now);
  DriveAnswer VendorQuery(std::span<const BYTE> cdb, std::span<const BYTE> out, std::uint64_t now);
  DriveAnswer VendorLoad(std::span<const BYTE> cdb, std::span<const BYTE> out, std::uint64_t now);

  DriveAnswer Good(std::span<const BYTE> data, std::size_t allocation, std::size_t bytes_out) const;
  DriveAnswer CheckCondition(SenseCode code) const;
  // Fills d; returns the answer's length.
  std::size_t StandardInquiry(std::array<BYTE, emulated::kMaxAnswerBytes>& d) const;
  std::array<BYTE, emulated::kMaxAnswerBytes> RevisionPage() const;
  bool ImageFitsModel(std::span<const BYTE> image) const;
  std::uint64_t DefaultSaveMs() const;
  void ResetDownload() { state_.chunk_arrived.reset(); }
  void Restart(std::uint64_t end);

  const DriveSetup setup_;
  DriveState state_;
};

// The replay adapter: an ASPI layer that answers the program from a capture
// (platform/capture.h) instead of from emulated drives, in the capture's
// order and at its recorded durations in virtual time.
//
// Each adapter-count question and each command the program sends is compared
// with the next one of the capture: a command must match in address, CDB,
// flags, buffer length and the data it sends. While they match, the recorded
// answer is given back (status, host and target status, sense, data in) when
// the recorded time has passed; a command recorded as pending never ends. At
// the first difference the layer stops answering (every further command ends
// SS_NO_DEVICE, the adapter count is 0) and tells its divergence handler once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/sim/virtual_clock.h"

class ReplayAspi final : public AspiLayer, public VirtualEventSource {
 public:
  using Diverged = std::function<void(const std::string& report)>;
  // Attaches itself to `clock` (which must outlive it) and detaches when gone.
  ReplayAspi(Capture capture, VirtualClock* clock, Diverged diverged);
  ~ReplayAspi() override;
  ReplayAspi(const ReplayAspi&) = delete;
  ReplayAspi& operator=(const ReplayAspi&) = delete;

  DWORD SupportInfo() override;
  DWORD Send(SRB_ExecSCSICmd* request) override;
  bool Holds(const SRB_ExecSCSICmd* request) const override;
  std::uint64_t NextEventAt() const override;
  void RunUntil(std::uint64_t now) override;

  bool diverged() const { return diverged_; }
  std::size_t matched() const { return next_; }
  std::size_t total() const { return capture_.events.size(); }
  // The verdict once the program has ended: the divergence, the commands the
  // program never sent, or "all N ... identical".
  std::string Verdict(bool* identical) const;

 private:
  struct Held {
    SRB_ExecSCSICmd* request;
    std::uint64_t due;  // UINT64_MAX: never
    std::size_t event;
  };
  void Diverge(std::size_t index, const std::string& expected, const std::string& sent);

  Capture capture_;
  VirtualClock* clock_;
  Diverged on_diverged_;
  std::size_t next_ = 0;
  bool diverged_ = false;
  std::string report_;
  std::vector<Held> held_;
};

// How a capture's event reads in a report.
std::string DescribeCaptureEvent(const CaptureEvent& event);

// The virtual PC's clock. In virtual time the tick count moves only inside a
// wait, jumping straight to the next instant at which something happens, so
// minutes of waiting cost microseconds and every run is deterministic. In
// real-time mode it follows the wall clock and waits sleep.
#pragma once

#include <cstdint>

#include "platform/clock.h"

// Something that acts at virtual instants: the emulated host adapters.
class VirtualEventSource {
 public:
  virtual ~VirtualEventSource() = default;
  // Earliest instant (ms since power-on) at which something is due;
  // UINT64_MAX when nothing is.
  virtual std::uint64_t NextEventAt() const = 0;
  // Carries out everything due at or before `now` (ms since power-on).
  virtual void RunUntil(std::uint64_t now) = 0;
};

class VirtualClock final : public Clock {
 public:
  VirtualClock(DWORD ticks_at_power_on, bool real_time);

  void Attach(VirtualEventSource* source) { source_ = source; }
  // Milliseconds since power-on.
  std::uint64_t Now() const;
  bool real_time() const { return real_time_; }

  DWORD TickCount() override;
  void Wait(const SRB_ExecSCSICmd* request, DWORD ms) override;

  // Moves virtual time on by `ms`, running what falls due (tests, power-off).
  // A span beyond one wait's 32 bits goes in several waits.
  void Advance(std::uint64_t ms) {
    while (ms > 0) {
      DWORD step = ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(ms);
      Wait(nullptr, step);
      ms -= step;
    }
  }

 private:
  void RunDue(std::uint64_t now);

  DWORD ticks_at_power_on_;
  bool real_time_;
  std::uint64_t virtual_now_ = 0;
  std::int64_t wall_origin_ns_ = 0;
  VirtualEventSource* source_ = nullptr;
};

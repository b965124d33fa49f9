#include "platform/sim/virtual_clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/aspi.h"

namespace {
std::int64_t WallNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

VirtualClock::VirtualClock(DWORD ticks_at_power_on, bool real_time)
    : ticks_at_power_on_(ticks_at_power_on), real_time_(real_time), wall_origin_ns_(WallNs()) {}

std::uint64_t VirtualClock::Now() const {
  if (!real_time_) return virtual_now_;
  return static_cast<std::uint64_t>((WallNs() - wall_origin_ns_) / 1000000);
}

void VirtualClock::RunDue(std::uint64_t now) {
  if (source_ != nullptr) source_->RunUntil(now);
}

DWORD VirtualClock::TickCount() {
  std::uint64_t now = Now();
  // In real time, commands fall due as the wall clock passes them.
  if (real_time_) RunDue(now);
  return static_cast<DWORD>(ticks_at_power_on_ + now);
}

void VirtualClock::Wait(const SRB_ExecSCSICmd* request, DWORD ms) {
  const std::uint64_t target = Now() + ms;
  for (;;) {
    std::uint64_t now = Now();
    RunDue(now);
    if (request != nullptr && request->SRB_Status != SS_PENDING) return;
    if (now >= target) return;
    std::uint64_t next = source_ != nullptr ? source_->NextEventAt() : UINT64_MAX;
    std::uint64_t until = std::min(target, std::max(next, now + 1));
    if (real_time_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(until - now));
    } else {
      virtual_now_ = until;
    }
  }
}

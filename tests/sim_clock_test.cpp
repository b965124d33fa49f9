// The virtual clock: long waits cost no real time, the tick count wraps at
// 2^32 like GetTickCount, and waits stop at the instants things happen.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/aspi.h"
#include "platform/sim/virtual_clock.h"

namespace {

// Completes a request at a chosen instant and records when it was asked.
class OneShot final : public VirtualEventSource {
 public:
  OneShot(SRB_ExecSCSICmd* request, std::uint64_t at) : request_(request), at_(at) {}
  std::uint64_t NextEventAt() const override { return done_ ? UINT64_MAX : at_; }
  void RunUntil(std::uint64_t now) override {
    calls_.push_back(now);
    if (!done_ && now >= at_) {
      request_->SRB_Status = SS_COMP;
      done_ = true;
    }
  }
  const std::vector<std::uint64_t>& calls() const { return calls_; }

 private:
  SRB_ExecSCSICmd* request_;
  std::uint64_t at_;
  bool done_ = false;
  std::vector<std::uint64_t> calls_;
};

}  // namespace

TEST(VirtualClock, SeventySecondWaitCostsNoRealTime) {
  VirtualClock clock(1000, false);
  auto start = std::chrono::steady_clock::now();
  clock.Wait(nullptr, 70000);
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(clock.TickCount(), 71000u);
  EXPECT_LT(spent, std::chrono::milliseconds(100));
  // Reading never moves virtual time.
  EXPECT_EQ(clock.TickCount(), 71000u);
}

TEST(VirtualClock, TickCountWrapsAtTwoToThe32) {
  VirtualClock clock(0xFFFFFF00u, false);
  DWORD before = clock.TickCount();
  clock.Wait(nullptr, 0x200);
  DWORD after = clock.TickCount();
  EXPECT_EQ(after, 0x100u);
  // Elapsed time measured by unsigned subtraction survives the wrap.
  EXPECT_EQ(static_cast<DWORD>(after - before), 0x200u);
  EXPECT_EQ(clock.Now(), 0x200u);
  // More than 2^32 ms at once is not cut to its low 32 bits.
  clock.Advance(0x100000000ull + 5);
  EXPECT_EQ(clock.Now(), 0x100000205ull);
  EXPECT_EQ(clock.TickCount(), 0x105u);
}

TEST(VirtualClock, WaitEndsAtTheInstantTheRequestCompletes) {
  VirtualClock clock(0, false);
  SRB_ExecSCSICmd request{};
  OneShot source(&request, 1234);
  clock.Attach(&source);
  clock.Wait(&request, 5000);
  EXPECT_EQ(request.SRB_Status, SS_COMP);
  EXPECT_EQ(clock.Now(), 1234u);
  // It jumped there instead of stepping every millisecond.
  EXPECT_LT(source.calls().size(), 5u);
  // A wait without a request runs to its full length.
  clock.Wait(nullptr, 100);
  EXPECT_EQ(clock.Now(), 1334u);
  clock.Attach(nullptr);
}

TEST(VirtualClock, RealTimeModeFollowsTheWallClock) {
  VirtualClock clock(0, true);
  auto start = std::chrono::steady_clock::now();
  clock.Wait(nullptr, 50);
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, std::chrono::milliseconds(49));
  EXPECT_GE(clock.TickCount(), 49u);
}

// The channel's waits in virtual time: the 32-bit wrap of the tick count, the
// polling limits of the shared request, and who may touch AbortFlag.
#include <gtest/gtest.h>

#include <cstring>

#include "drive/channel.h"
#include "drive/discovery.h"
#include "drive/transfer.h"
#include "package/package_files.h"
#include "state/app_state.h"
#include "tests/support/fake_aspi.h"
#include "tests/support/fake_pc.h"

namespace {

class ChannelWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAppState(); }
  void Start(DWORD ticks_at_power_on) {
    aspi_ = std::make_unique<FakeAspi>(ticks_at_power_on);
    aspi_->Install(&files_);
  }
  FakeAspi& aspi() { return *aspi_; }

  MemoryFiles files_;
  std::unique_ptr<FakeAspi> aspi_;
};

constexpr std::uint64_t kNever = UINT64_MAX;

struct WaitCase {
  const char* name;
  DWORD ticks_at_start;
  DWORD timeout_ms;
  std::uint64_t ends_after_ms;  // kNever: stays pending
  bool expected;
  std::uint64_t expected_elapsed_ms;
};

TEST_F(ChannelWaitTest, WaitForCompletionAcrossTheWrap) {
  const WaitCase cases[] = {
      {"ends in time", 5000, 10000, 500, true, 500},
      {"gives up one tick past the time-out", 5000, 10000, kNever, false, 10001},
      {"ends on the last tick", 5000, 10000, 10000, true, 10000},
      {"deadline beyond the wrap, no answer", 0xFFFFFFFFu - 100, 10000, kNever, false, 10001},
      {"deadline beyond the wrap, ends before it", 0xFFFFFFFFu - 100, 10000, 99, true, 99},
      {"deadline beyond the wrap, ends after it", 0xFFFFFFFFu - 100, 10000, 5000, true, 5000},
      {"start on the last tick before the wrap", 0xFFFFFFFFu, 60000, kNever, false, 60001},
      // start + time-out == 0xFFFFFFFF: no reading ever lies above it.
      {"deadline on 0xFFFFFFFF", 0xFFFFFFFFu - 10000, 10000, kNever, false, 10001},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.ticks_at_start);
    aspi().script = [&c](const FakeCommand&) {
      return c.ends_after_ms == kNever ? Never() : Good({}, c.ends_after_ms);
    };
    SRB_ExecSCSICmd request{};
    SendASPI32Command(&request);
    const std::uint64_t before = aspi().clock.Now();
    EXPECT_EQ(WaitForCompletion(c.timeout_ms, &request), c.expected);
    EXPECT_EQ(aspi().clock.Now() - before, c.expected_elapsed_ms);
    aspi_.reset();
  }
}

TEST_F(ChannelWaitTest, DelayEndsAtTheFirstReadingPastItsEnd) {
  const struct {
    DWORD ticks_at_start;
    DWORD ms;
  } cases[] = {
      {0, 0},          {100, 10}, {100, 190}, {0xFFFFFFFFu - 5, 10}, {0xFFFFFFFFu - 190, 190},
      {0xFFFFFFFFu, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ticks_at_start);
    Start(c.ticks_at_start);
    const std::uint64_t before = aspi().clock.Now();
    Delay(c.ms);
    EXPECT_EQ(aspi().clock.Now() - before, c.ms + 1u);
    aspi_.reset();
  }
}

// Each shared command: its poll limit in delays, whether each step advances
// the progress, and the command it sends.
struct PollCase {
  const char* name;
  int (*run)();
  BYTE opcode;
  int step_ms;
  int delays;
  bool progress;
};

int RunImageChunk() { return SendImageChunk(0); }
int RunImageFinal() { return SendImageFinal(256); }

const PollCase kPollCases[] = {
    {"SendImageChunk", RunImageChunk, 0x3B, 10, 1000, false},
    {"SendImageFinal", RunImageFinal, 0x3B, 190, 211, true},
    {"FinishImageLoad", FinishImageLoad, 0xCD, 190, 106, true},
    {"ReadDriveInfo", ReadDriveInfo, 0xCC, 190, 106, true},
    {"SendLoaderData", SendLoaderData, 0xCD, 190, 106, true},
};

class SharedPollTest : public ChannelWaitTest {
 protected:
  void SetUp() override {
    ChannelWaitTest::SetUp();
    Start(1000);
    files_.files["image.bin"] = std::string(0x80800, '\x5A');
    ASSERT_EQ(LoadImageData("image.bin"), 1);
  }
};

TEST_F(SharedPollTest, GivesUpAtItsLimitWithoutLookingAgain) {
  for (const PollCase& c : kPollCases) {
    SCOPED_TRACE(c.name);
    // Ends during the last delay: the limit is reached before anyone looks.
    const std::uint64_t ends = static_cast<std::uint64_t>(c.delays) * (c.step_ms + 1) - 1;
    aspi().script = [ends](const FakeCommand&) { return Good({}, ends); };
    g_app.ProgressCount = 0;
    const std::uint64_t before = aspi().clock.Now();
    EXPECT_EQ(c.run(), 0);
    EXPECT_EQ(aspi().clock.Now() - before, ends + 1);
    EXPECT_EQ(g_app.ProgressCount, c.progress ? c.delays : 0);
    aspi().clock.Advance(10);  // let it end before the next case
  }
}

TEST_F(SharedPollTest, SucceedsWhenItEndsBeforeTheLastDelay) {
  for (const PollCase& c : kPollCases) {
    SCOPED_TRACE(c.name);
    const std::uint64_t ends = static_cast<std::uint64_t>(c.delays - 1) * (c.step_ms + 1);
    aspi().script = [ends](const FakeCommand&) { return Good(DriveInfoAnswer(0x21, 0x04), ends); };
    g_app.ProgressCount = 0;
    EXPECT_EQ(c.run(), 1);
    EXPECT_EQ(g_app.ProgressCount, c.progress ? c.delays - 1 : 0);
    EXPECT_EQ(aspi().commands.back().opcode(), c.opcode);
    EXPECT_EQ(aspi().commands.back().cdb_length, 12);
  }
}

TEST_F(SharedPollTest, NeverTouchesAbortFlag) {
  const FakeReply replies[] = {Good(), CheckCondition(5, 0x24), Never()};
  for (int flag = 0; flag <= 1; ++flag) {
    for (const FakeReply& reply : replies) {
      for (const PollCase& c : kPollCases) {
        SCOPED_TRACE(c.name);
        aspi().script = [&reply](const FakeCommand&) { return reply; };
        g_app.AbortFlag = flag;
        c.run();
        EXPECT_EQ(g_app.AbortFlag, flag);
      }
    }
  }
}

// AbortFlag: set by a per-command time-out, kept by later good commands other
// than the WRITE BUFFER pair, cleared by a BUSY chunk and a good save.
TEST_F(ChannelWaitTest, AbortFlagSetByTimeOutAndKeptByGoodCommands) {
  Start(1000);
  aspi().script = [](const FakeCommand& command) {
    return command.index == 0 ? Never() : Good(InquiryAnswer("T71 CDRW USB"));
  };
  TestUnitReady(0, 0);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_EQ(g_app.DriveNotReady, 0);

  InquiryStandard(0, 0);
  InquiryRevision(0, 0);
  EjectMedium(0, 0);
  TestUnitReady(0, 0);
  ProbeDriveInfo(0, 0);
  BYTE* chunk = NewChunkBuffer();
  WriteBufferChunk(0, 0, 6, 0, chunk);
  EXPECT_EQ(g_app.AbortFlag, 1) << "a good command leaves it set";

  aspi().script = [](const FakeCommand&) { return Busy(); };
  WriteBufferChunk(0, 0, 6, 0, chunk);
  EXPECT_EQ(g_app.AbortFlag, 0);
  EXPECT_EQ(g_app.TargetBusyFlag, 1);

  aspi().script = [](const FakeCommand&) { return CheckCondition(5, 0x24); };
  WriteBufferChunk(0, 0, 6, 0, chunk);
  EXPECT_EQ(g_app.AbortFlag, 1);

  aspi().script = [](const FakeCommand&) { return Good({}, 3000); };
  WriteBufferFinal(0, 0, 7, 0x80000, chunk);
  EXPECT_EQ(g_app.AbortFlag, 0);
  ReleaseChunkBuffer(chunk);
}

}  // namespace

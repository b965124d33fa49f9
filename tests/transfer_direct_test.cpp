// The direct path: 257 WRITE BUFFER chunks through per-command requests, the
// BUSY retries, the final save's tick-counting wait, and the failures that
// must end the transfer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "drive/channel.h"
#include "drive/transfer.h"
#include "package/package_files.h"
#include "state/app_state.h"
#include "tests/support/fake_aspi.h"
#include "tests/support/fake_pc.h"

namespace {

// MemoryFiles whose n-th read (0-based) fails.
class FlakyFiles final : public Files {
 public:
  MemoryFiles inner;
  int failing_read = -1;
  int reads = 0;
  HANDLE OpenExisting(const char* path) override { return inner.OpenExisting(path); }
  HANDLE CreateAlways(const char* path) override { return inner.CreateAlways(path); }
  BOOL Read(HANDLE file, void* buffer, DWORD size, DWORD* read) override {
    if (reads++ == failing_read) return 0;
    return inner.Read(file, buffer, size, read);
  }
  BOOL Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) override {
    return inner.Write(file, buffer, size, written);
  }
  DWORD SeekBegin(HANDLE file, DWORD offset) override { return inner.SeekBegin(file, offset); }
  DWORD Size(HANDLE file) override { return inner.Size(file); }
  BOOL Close(HANDLE file) override { return inner.Close(file); }
  BOOL Delete(const char* path) override { return inner.Delete(path); }
};

std::string PatternImage(std::size_t size) {
  std::string image(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    image[i] = static_cast<char>((i / 2048 * 7 + i) & 0xFF);
  }
  return image;
}

class DirectTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    aspi_.Install(&files_);
    CopyText(g_app.DataFileName, kMaxPath, "FIRM.BIN");
    image_ = PatternImage(0x80800);
    files_.inner.files["FIRM.BIN"] = image_;
    ASSERT_EQ(LoadImageData("FIRM.BIN"), 1);
    // Chunks take 5 ms, the save 3 s.
    aspi_.script = [](const FakeCommand& command) {
      return Good({}, command.cdb[1] == 7 ? 3000 : 5);
    };
  }

  std::vector<const FakeCommand*> Writes() const { return aspi_.WithOpcode(0x3B); }

  FlakyFiles files_;
  FakeAspi aspi_{1000};
  std::string image_;
};

TEST_F(DirectTransferTest, WholeImageIn257ChunksInOrder) {
  EXPECT_EQ(TransferFirmwareImage(0, 1), 0);
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 257u);
  for (int i = 0; i < 257; ++i) {
    SCOPED_TRACE(i);
    const FakeCommand& w = *writes[i];
    const DWORD offset = static_cast<DWORD>(i) * 2048;
    EXPECT_EQ(w.cdb[1], i < 256 ? 6 : 7);
    EXPECT_EQ(w.cdb[3] << 16 | w.cdb[4] << 8 | w.cdb[5], offset);
    ASSERT_EQ(w.data_out.size(), 4096u);
    EXPECT_EQ(std::memcmp(w.data_out.data(), image_.data() + offset, 2048), 0);
    for (int b = 2048; b < 4096; ++b) ASSERT_EQ(w.data_out[b], 0);
  }
  EXPECT_EQ(g_app.ProgressCount, 1000);
  EXPECT_EQ(g_app.AbortFlag, 0);
  EXPECT_EQ(files_.inner.open_handles(), 0);
}

TEST_F(DirectTransferTest, FileCutShortAfterTheCheckChangesNothingSent) {
  files_.inner.files["FIRM.BIN"] = image_.substr(0, 1000);
  EXPECT_EQ(TransferFirmwareImage(0, 0), 0);
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 257u);
  for (int i = 0; i < 257; ++i) {
    ASSERT_EQ(std::memcmp(writes[i]->data_out.data(), image_.data() + i * 2048, 2048), 0) << i;
  }
}

TEST_F(DirectTransferTest, BusyTwiceThenGoodSendsTheChunkThreeTimes) {
  int busy_left = 2;
  aspi_.script = [&](const FakeCommand& command) {
    if (command.cdb[5] == 0 && command.cdb[4] == 0x28 && busy_left-- > 0) return Busy();
    return Good({}, command.cdb[1] == 7 ? 3000 : 5);
  };
  g_app.AbortFlag = 0;
  EXPECT_EQ(TransferFirmwareImage(0, 0), 0);
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 259u);
  // Chunk 5 (offset 0x2800) went out at indices 5, 6 and 7 with the same data.
  for (int i = 5; i <= 7; ++i) {
    EXPECT_EQ(writes[i]->cdb[4], 0x28);
    EXPECT_EQ(writes[i]->data_out, writes[5]->data_out);
  }
  // Progress advanced once per chunk: 256 before the save began.
  EXPECT_EQ(g_app.ProgressCount, 1000);
}

TEST_F(DirectTransferTest, ProgressAdvancesOncePerChunkBeforeTheSave) {
  g_app.ProgressCount = 10;
  int progress_at_save = -1;
  aspi_.script = [&](const FakeCommand& command) {
    if (command.cdb[1] == 7) progress_at_save = g_app.ProgressCount;
    return Good({}, command.cdb[1] == 7 ? 3000 : 5);
  };
  TransferFirmwareImage(0, 0);
  EXPECT_EQ(progress_at_save, 10 + 256);
}

TEST_F(DirectTransferTest, StillBusyAtTheTenthAttemptFailsTheTransfer) {
  aspi_.script = [](const FakeCommand& command) {
    return command.cdb[4] == 0x38 ? Busy() : Good({}, 5);  // chunk 7 never taken
  };
  EXPECT_EQ(TransferFirmwareImage(0, 0), 1);
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 7u + 10u);
  for (std::size_t i = 7; i < writes.size(); ++i) EXPECT_EQ(writes[i]->cdb[4], 0x38);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_EQ(files_.inner.open_handles(), 0);
}

TEST_F(DirectTransferTest, NoCheckedImageFailsBeforeSendingAnything) {
  ASSERT_EQ(LoadImageData("NONE.BIN"), 0);
  EXPECT_EQ(TransferFirmwareImage(0, 0), 1);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_TRUE(aspi_.commands.empty());
}

TEST_F(DirectTransferTest, ChunkFailureStopsAfterThatChunk) {
  const struct {
    const char* name;
    FakeReply reply;
  } cases[] = {{"time-out", Never()}, {"check condition", CheckCondition(5, 0x24)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAppState();
    ASSERT_EQ(LoadImageData("FIRM.BIN"), 1);
    aspi_.commands.clear();
    aspi_.script = [&](const FakeCommand& command) {
      return command.cdb[4] == 0x10 ? c.reply : Good({}, 5);  // chunk 2
    };
    EXPECT_EQ(TransferFirmwareImage(0, 0), 1);
    EXPECT_EQ(Writes().size(), 3u);
  }
}

// The save: a tick whenever the tenths digit of the tick count changes, +2
// progress per tick while it is pending, at most 400 ticks. Virtual time is
// exact, and so is every figure here.
TEST_F(DirectTransferTest, FinalSaveWaits) {
  const struct {
    const char* name;
    DWORD ticks_at_start;
    FakeReply reply;
    int abort_flag;
    int progress;
    std::uint64_t elapsed;
  } cases[] = {
      {"saved after 30 s", 1000, Good({}, 30000), 0, 600, 30000},
      {"saved across the wrap", 0xFFFFFFFFu - 15000, Good({}, 30000), 0, 602, 30000},
      {"still pending at the 400th tick", 1000, Never(), 1, 800, 40000},
      {"BUSY: no progress, runs to the 400th tick", 1000, Busy(50), 1, 0, 40000},
      // SS_ERR does not end the wait: it runs on, without progress.
      {"save ends CHECK CONDITION", 1000, CheckCondition(3, 0x0C, 2000), 1, 38, 40000},
      {"save aborted", 1000, FakeReply{SS_ABORTED, 0, 0, 0, 0, {}, 2000, false}, 1, 40, 2000},
      // 2^32 is 96 past a multiple of 100: the digit changes at reading 0,
      // and here that is the 400th tick, so a save ending 2 ms later is late.
      {"400th tick on the wrap, saved 2 ms after it", 0xFFFF6488u, Good({}, 39802), 1, 800, 39800},
      {"from the last tick before the wrap, BUSY after 2 ms", 0xFFFFFFFFu, Busy(2), 1, 4, 39801},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeAspi aspi(c.ticks_at_start);
    aspi.Install(&files_);
    aspi.script = [&](const FakeCommand&) { return c.reply; };
    ResetAppState();
    BYTE* chunk = NewChunkBuffer();
    const std::uint64_t before = aspi.clock.Now();
    WriteBufferFinal(0, 0, 7, 0x80000, chunk);
    ReleaseChunkBuffer(chunk);
    EXPECT_EQ(g_app.AbortFlag, c.abort_flag);
    EXPECT_EQ(g_app.ProgressCount, c.progress);
    EXPECT_EQ(aspi.clock.Now() - before, c.elapsed);
  }
  aspi_.Install(&files_);
}

TEST_F(DirectTransferTest, FinalSaveBusyIsNotSentAgain) {
  aspi_.script = [](const FakeCommand& command) {
    return command.cdb[1] == 7 ? Busy() : Good({}, 5);
  };
  EXPECT_EQ(TransferFirmwareImage(0, 0), 1);
  EXPECT_EQ(Writes().size(), 257u);
  EXPECT_EQ(g_app.ProgressCount, 1000);
}

}  // namespace

// The loader path on the shared request: the image in 256 mode-6 chunks and a
// mode-7 chunk, the end of the load, the loader payload, and the vendor
// query in both forms.
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

class LoaderPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    aspi_.Install(&files_);
    g_app.CurrentAdapter = 0;
    g_app.CurrentTarget = 4;
    image_.resize(0x80800);
    for (std::size_t i = 0; i < image_.size(); ++i)
      image_[i] = static_cast<char>(i * 13 + i / 2048);
    files_.files["FIRM.BIN"] = image_;
  }

  // The checked copy with a header of payload length `length`, of which the
  // file held `held` bytes (all that fit when -1).
  void SetPayload(DWORD length, BYTE p0, BYTE p1, int held = -1) {
    g_app.LoaderData[60] = p0;
    g_app.LoaderData[61] = p1;
    g_app.LoaderData[62] = static_cast<BYTE>(length >> 8);
    g_app.LoaderData[63] = static_cast<BYTE>(length);
    for (DWORD i = 0; i < length && 64 + i < kSharedBufferSize; ++i) {
      g_app.LoaderData[64 + i] = static_cast<BYTE>(i * 7 + 3);
    }
    DWORD read = 64 + length < kSharedBufferSize ? 64 + length : kSharedBufferSize;
    if (held >= 0) read = 64 + static_cast<DWORD>(held);
    g_app.LoaderDataBytes = static_cast<std::int32_t>(read);
  }

  MemoryFiles files_;
  FakeAspi aspi_{1000};
  std::string image_;
};

// The image stage as the update procedure runs it.
TEST_F(LoaderPathTest, ImageStageCarriesTheFileInOrder) {
  ASSERT_EQ(LoadImageData("FIRM.BIN"), 1);
  for (int index = 0; index < 256; ++index) {
    ASSERT_EQ(SendImageChunk(index), 1) << index;
    if (index % 3 == 1) AdvanceProgress(1);
  }
  ASSERT_EQ(SendImageFinal(256), 1);
  ASSERT_EQ(FinishImageLoad(), 1);
  EXPECT_EQ(files_.open_handles(), 0);

  ASSERT_EQ(aspi_.commands.size(), 258u);
  for (int i = 0; i < 257; ++i) {
    SCOPED_TRACE(i);
    const FakeCommand& c = aspi_.commands[i];
    EXPECT_EQ(c.cdb[1], i < 256 ? 6 : 7);
    EXPECT_EQ(static_cast<DWORD>(c.cdb[3] << 16 | c.cdb[4] << 8 | c.cdb[5]), i * 2048u);
    EXPECT_EQ(c.target, 4);
    ASSERT_EQ(c.data_out.size(), 2048u);
    EXPECT_EQ(std::memcmp(c.data_out.data(), image_.data() + i * 2048, 2048), 0);
    EXPECT_EQ(c.record, &g_app.SharedRequest);
  }
  EXPECT_EQ(aspi_.commands[257].cdb[1], 0xFF);
  EXPECT_EQ(aspi_.refused_resubmits, 0);
}

TEST_F(LoaderPathTest, WithoutACheckedImageNoChunkIsSent) {
  files_.files["SHORT.BIN"] = image_.substr(0, 2048 + 100);
  EXPECT_EQ(LoadImageData("SHORT.BIN"), 0);
  EXPECT_EQ(SendImageChunk(0), 0);
  EXPECT_EQ(LoadImageData("NONE.BIN"), 0);
  EXPECT_EQ(SendImageChunk(0), 0);
  EXPECT_EQ(SendImageChunk(257), 0) << "beyond the image";
  EXPECT_TRUE(aspi_.commands.empty());
}

TEST_F(LoaderPathTest, LoaderPayloadMovesToTheFrontAndGoesOut) {
  // held: payload bytes the file held (-1: all); the rest goes out as zeros.
  const struct {
    DWORD length;
    bool sent;
    int held;
  } cases[] = {{0, true, -1},      {1, true, -1},       {100, true, -1},    {100, true, 40},
               {0xBFC0, true, -1}, {0xBFC1, false, -1}, {0xFFFF, false, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    SCOPED_TRACE(c.held);
    ResetAppState();
    aspi_.commands.clear();
    SetPayload(c.length, 0x5A, 0xA5, c.held);
    std::memset(g_app.SharedBuffer, 0xEE, sizeof g_app.SharedBuffer);
    g_app.SharedBuffer[0] = 0x99;
    const int result = SendLoaderData();
    EXPECT_EQ(result, c.sent ? 1 : 0);
    if (!c.sent) {
      EXPECT_TRUE(aspi_.commands.empty());
      EXPECT_EQ(g_app.SharedBuffer[0], 0x99) << "nothing moved";
      continue;
    }
    ASSERT_EQ(aspi_.commands.size(), 1u);
    const FakeCommand& sent = aspi_.commands[0];
    EXPECT_EQ(sent.buffer_length, c.length);
    EXPECT_EQ(sent.cdb[6], 0x5A);
    EXPECT_EQ(sent.cdb[7], 0xA5);
    EXPECT_EQ(sent.cdb[8], static_cast<BYTE>(c.length >> 8));
    EXPECT_EQ(sent.cdb[9], static_cast<BYTE>(c.length));
    for (DWORD i = 0; i < c.length; ++i) {
      const bool held = c.held < 0 || i < static_cast<DWORD>(c.held);
      ASSERT_EQ(sent.data_out[i], held ? static_cast<BYTE>(i * 7 + 3) : 0) << i;
    }
    if (c.length == 0) {
      EXPECT_EQ(g_app.SharedBuffer[0], 0x99) << "nothing moved";
    }
  }
}

TEST_F(LoaderPathTest, DriveInfoInBothFormsKeepsTheLastGoodAnswer) {
  g_app.DriveVersionCode = 0x10;
  g_app.DriveModelCode = 0x04;
  const struct {
    const char* name;
    FakeReply reply;
    int answered;
    BYTE version;
  } cases[] = {
      {"good", Good(DriveInfoAnswer(0x21, 0x05)), 1, 0x21},
      {"check condition", CheckCondition(5, 0x20), 0, 0x21},
      {"good with another code", Good(DriveInfoAnswer(0x05, 0x05)), 1, 0x05},
      {"no device", FakeReply{SS_NO_DEVICE, 0, 0, 0, 0, {}, 0, false}, 0, 0x05},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    aspi_.script = [&](const FakeCommand&) { return c.reply; };
    EXPECT_EQ(ProbeDriveInfo(0, 2), c.answered);
    EXPECT_EQ(g_app.DriveInfoValid, c.answered);
    EXPECT_EQ(g_app.DriveVersionCode, c.version);
    EXPECT_EQ(ReadDriveInfo(), c.answered);
    EXPECT_EQ(g_app.DriveVersionCode, c.version);
    EXPECT_EQ(g_app.AbortFlag, 0);
  }
  EXPECT_EQ(g_app.DriveModelCode, 0x05);
}

TEST_F(LoaderPathTest, ProbeTimeOutSetsAbortFlag) {
  aspi_.script = [](const FakeCommand&) { return Never(); };
  const std::uint64_t before = aspi_.clock.Now();
  EXPECT_EQ(ProbeDriveInfo(0, 0), 0);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_EQ(aspi_.clock.Now() - before, 60001u);
}

TEST_F(LoaderPathTest, CommandEndingInsideTheSubmissionNeedsNoWait) {
  aspi_.script = [](const FakeCommand&) { return Good(DriveInfoAnswer(0x31, 0x04), 0); };
  const std::uint64_t before = aspi_.clock.Now();
  EXPECT_EQ(ProbeDriveInfo(0, 0), 1);
  EXPECT_EQ(ReadDriveInfo(), 1);
  EXPECT_EQ(g_app.DriveVersionCode, 0x31);
  EXPECT_EQ(aspi_.clock.Now(), before);
}

}  // namespace

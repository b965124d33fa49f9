// Every command of the program built byte for byte, the completion routines'
// opcode check, the records handed to the layer, the trace lines, and the
// bounds of the capture reader that replays them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drive/channel.h"
#include "drive/discovery.h"
#include "drive/transfer.h"
#include "package/package_files.h"
#include "platform/capture.h"
#include "platform/sim/capture_reader.h"
#include "platform/sim/replay_aspi.h"
#include "platform/trace.h"
#include "state/app_state.h"
#include "tests/support/fake_aspi.h"
#include "tests/support/fake_pc.h"

namespace {

class ChannelCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    aspi_.Install(&files_);
    g_app.CurrentAdapter = 1;
    g_app.CurrentTarget = 2;
    files_.files["image.bin"] = std::string(0x80800, '\x11');
  }

  MemoryFiles files_;
  FakeAspi aspi_{1000};
};

struct CommandCase {
  const char* name;
  void (*run)();
  std::vector<BYTE> cdb;
  BYTE flags;
  DWORD buffer_length;
  BYTE adapter;
  BYTE target;
};

BYTE g_chunk[kChunkBufferSize];

const CommandCase kCommands[] = {
    {"InquiryStandard", [] { InquiryStandard(3, 4); }, {0x12, 0, 0, 0, 0x20, 0}, 0x09, 256, 3, 4},
    {"InquiryRevision",
     [] { InquiryRevision(3, 4); },
     {0x12, 1, 0x81, 0, 0xFF, 0},
     0x09,
     255,
     3,
     4},
    {"TestUnitReady", [] { TestUnitReady(3, 4); }, {0, 0, 0, 0, 0, 0}, 0x08, 32, 3, 4},
    {"EjectMedium", [] { EjectMedium(3, 4); }, {0x1B, 0, 0, 0, 0x02, 0}, 0x09, 32, 3, 4},
    {"WriteBufferChunk",
     [] { WriteBufferChunk(3, 4, 6, 0x7F800, g_chunk); },
     {0x3B, 6, 0, 0x07, 0xF8, 0x00, 0, 0x08, 0, 0},
     0x10,
     4096,
     3,
     4},
    {"WriteBufferFinal",
     [] { WriteBufferFinal(3, 4, 7, 0x80000, g_chunk); },
     {0x3B, 7, 0, 0x08, 0x00, 0x00, 0, 0x08, 0, 0},
     0x10,
     4096,
     3,
     4},
    {"QueryDriveInfo",
     [] { QueryDriveInfo(3, 4); },
     {0xCC, 0, 1, 0, 0, 0, 0, 0, 0, 0x12, 0, 0},
     0x09,
     256,
     3,
     4},
    {"SendImageChunk",
     [] { SendImageChunk(0x0FF); },
     {0x3B, 6, 0, 0x07, 0xF8, 0x00, 0, 0x08, 0, 0, 0, 0},
     0x10,
     2048,
     1,
     2},
    {"SendImageFinal",
     [] { SendImageFinal(256); },
     {0x3B, 7, 0, 0x08, 0x00, 0x00, 0, 0x08, 0, 0, 0, 0},
     0x10,
     2048,
     1,
     2},
    {"FinishImageLoad",
     [] { FinishImageLoad(); },
     {0xCD, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     0x00,
     0,
     1,
     2},
    {"ReadDriveInfo",
     [] { ReadDriveInfo(); },
     {0xCC, 0, 1, 0, 0, 0, 0, 0, 0, 0x12, 0, 0},
     0x08,
     18,
     1,
     2},
    {"SendLoaderData",
     [] {
       g_app.LoaderData[60] = 0xA1;
       g_app.LoaderData[61] = 0xB2;
       g_app.LoaderData[62] = 0x01;
       g_app.LoaderData[63] = 0x02;
       g_app.LoaderDataBytes = 64;
       SendLoaderData();
     },
     {0xCD, 0, 0, 0, 0, 0, 0xA1, 0xB2, 0x01, 0x02, 0, 0},
     0x10,
     0x0102,
     1,
     2},
};

TEST_F(ChannelCommandsTest, EveryCommandIsBuiltByteForByte) {
  ASSERT_EQ(LoadImageData("image.bin"), 1);
  for (const CommandCase& c : kCommands) {
    SCOPED_TRACE(c.name);
    const std::size_t before = aspi_.commands.size();
    c.run();
    ASSERT_EQ(aspi_.commands.size(), before + 1);
    const FakeCommand& sent = aspi_.commands.back();
    EXPECT_EQ(sent.cdb, c.cdb);
    EXPECT_EQ(sent.cdb_length, c.cdb.size());
    EXPECT_EQ(sent.flags, c.flags);
    EXPECT_EQ(sent.buffer_length, c.buffer_length);
    EXPECT_EQ(sent.sense_length, SENSE_LEN);
    EXPECT_EQ(sent.adapter, c.adapter);
    EXPECT_EQ(sent.target, c.target);
    // The bytes behind the CDB stay zero.
    for (int i = sent.cdb_length; i < 16; ++i) EXPECT_EQ(sent.cdb_block[i], 0) << i;
  }
  EXPECT_EQ(aspi_.refused_resubmits, 0);
}

TEST(CommandBlocks, WriteBufferRefusesFieldsBeyond24Bits) {
  BYTE cdb[kCdbSize];
  EXPECT_EQ(BuildWriteBufferCdb(cdb, 6, 0x1000000, 2048, kCdb10), 0);
  EXPECT_EQ(BuildWriteBufferCdb(cdb, 6, 0, 0x1000000, kCdb12), 0);
  EXPECT_EQ(BuildWriteBufferCdb(cdb, 6, 0xFFFFFF, 0xFFFFFF, 11), 0);
  EXPECT_EQ(BuildWriteBufferCdb(cdb, 6, 0xFFFFFF, 0xFFFFFF, kCdb10), kCdb10);
}

TEST(Answers, ClassifiedWorstFirst) {
  const struct {
    BYTE status;
    BYTE target_status;
    Answer expected;
  } cases[] = {
      {SS_PENDING, 0, Answer::kPending},
      {SS_COMP, 0, Answer::kGood},
      {SS_ERR, STATUS_BUSY, Answer::kBusy},
      {SS_ERR, STATUS_CHKCOND, Answer::kCheckCondition},
      {SS_ERR, 0x18, Answer::kTargetError},
      {SS_ERR, 0, Answer::kTransportError},
      {SS_NO_DEVICE, 0, Answer::kTransportError},
      {SS_ABORTED, STATUS_BUSY, Answer::kTransportError},
  };
  for (const auto& c : cases) {
    SRB_ExecSCSICmd request{};
    request.SRB_Status = c.status;
    request.SRB_TargStat = c.target_status;
    EXPECT_EQ(ClassifyAnswer(request), c.expected) << int(c.status) << "/" << int(c.target_status);
  }
}

// A routine handed a request that is not its own command stores nothing,
// even when that request ended good with data that would fit.
TEST(CompletionRoutines, ForeignRequestsStoreNothing) {
  const struct {
    const char* name;
    PostProc routine;
    std::vector<BYTE> foreign_cdb;
  } cases[] = {
      {"StoreProductId / 0xCC", StoreProductId, {0xCC, 0, 1}},
      {"StoreProductId / page 0x81", StoreProductId, {0x12, 1, 0x81}},
      {"StoreRevision / standard INQUIRY", StoreRevision, {0x12, 0, 0}},
      {"StoreRevision / 0x3B", StoreRevision, {0x3B, 6}},
      {"StoreDriveInfo / INQUIRY", StoreDriveInfo, {0x12, 0, 0}},
      {"StoreDriveInfo / 0xCD", StoreDriveInfo, {0xCD, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAppState();
    std::vector<BYTE> answer(256, 'X');
    SRB_ExecSCSICmd request{};
    request.SRB_Status = SS_COMP;
    request.SRB_BufPointer = answer.data();
    request.SRB_BufLen = 256;
    std::memcpy(request.CDBByte, c.foreign_cdb.data(), c.foreign_cdb.size());
    c.routine(&request);
    EXPECT_EQ(g_app.DeviceProductId[0][0], 0);
    EXPECT_EQ(g_app.DeviceRevision[0][0], 0);
    EXPECT_EQ(g_app.DriveInfoValid, 0);
    EXPECT_EQ(g_app.DriveVersionCode, 0);
  }
}

// Requests still held by the layer are never handed over again, and are
// freed only once the layer has let go of them.
TEST_F(ChannelCommandsTest, TimedOutRecordsAreParkedUntilTheLayerLetsGo) {
  aspi_.script = [](const FakeCommand& command) {
    return command.index == 0 ? Good(InquiryAnswer("T71 CDRW USB"), 70000) : Good();
  };
  InquiryStandard(0, 0);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_EQ(ParkedRequestCount(), 1);
  TestUnitReady(0, 0);  // still held: stays parked
  EXPECT_EQ(ParkedRequestCount(), 1);
  EXPECT_NE(aspi_.commands[1].record, aspi_.commands[0].record);

  aspi_.clock.Advance(60000);  // the late answer arrives and its routine stores it
  EXPECT_STREQ(g_app.DeviceProductId[0], "T71 CDRW USB ");
  TestUnitReady(0, 0);
  EXPECT_EQ(ParkedRequestCount(), 0);
  EXPECT_EQ(aspi_.refused_resubmits, 0);
}

// A layer may set the status before it runs the routine. The caller reads
// what the routine stores as soon as the command has ended, so the channel
// runs the routine itself then; the layer's own run later stores the same.
TEST_F(ChannelCommandsTest, EndedCommandWhoseRoutineIsStillToComeIsStoredAtOnce) {
  aspi_.script = [](const FakeCommand&) {
    FakeReply reply = Good(InquiryAnswer("T71 CDRW USB"), 5);
    reply.routine_after_ms = 1000;
    return reply;
  };
  InquiryStandard(0, 0);
  EXPECT_EQ(g_app.AbortFlag, 0);
  EXPECT_STREQ(g_app.DeviceProductId[0], "T71 CDRW USB ");
  EXPECT_EQ(ParkedRequestCount(), 1);  // the layer holds it until its routine has run
  aspi_.clock.Advance(1000);
  EXPECT_STREQ(g_app.DeviceProductId[0], "T71 CDRW USB ");
  aspi_.script = [](const FakeCommand&) { return Good(); };
  TestUnitReady(0, 0);
  EXPECT_EQ(ParkedRequestCount(), 0);
}

// The same for a command whose end the program sees by polling the status:
// a recording writes the end in the routine, so the end is written before
// the next command is sent, never as pending and then late.
TEST_F(ChannelCommandsTest, APolledCommandEndsInTheRecordingBeforeTheNextIsSent) {
  const std::string path = ::testing::TempDir() + "polled_end.jsonl";
  std::string error;
  auto recorder = CaptureRecorder::Open(path, &aspi_, Capture{}, &error);
  ASSERT_TRUE(recorder) << error;
  Platform platform = CurrentPlatform();
  platform.aspi = recorder.get();
  InstallPlatform(platform);
  aspi_.script = [](const FakeCommand&) {
    FakeReply reply = Good({}, 5);
    reply.routine_after_ms = 1000;
    return reply;
  };
  std::memset(g_app.ImageData, 0x11, sizeof g_app.ImageData);
  g_app.ImageDataBytes = sizeof g_app.ImageData;
  EXPECT_EQ(SendImageChunk(0), 1);
  EXPECT_EQ(SendImageChunk(1), 1);
  aspi_.clock.Advance(2000);
  aspi_.Install(&files_);
  recorder.reset();
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().find("pending"), std::string::npos) << text.str();
  EXPECT_EQ(text.str().find("late"), std::string::npos) << text.str();
  std::remove(path.c_str());
}

TEST_F(ChannelCommandsTest, ChunkBufferOfATimedOutWriteLivesUntilTheLayerLetsGo) {
  aspi_.script = [](const FakeCommand&) { return Good({}, 65000); };
  BYTE* chunk = NewChunkBuffer();
  std::memset(chunk, 1, 2048);
  WriteBufferChunk(0, 0, 6, 0, chunk);
  EXPECT_EQ(g_app.AbortFlag, 1);
  ReleaseChunkBuffer(chunk);  // handed to the parked record, not freed
  aspi_.clock.Advance(10000);
  EXPECT_EQ(aspi_.last_out_sum_at_end, 2048u);  // read at its end: still alive
  aspi_.script = [](const FakeCommand&) { return Good(); };
  TestUnitReady(0, 0);
  EXPECT_EQ(ParkedRequestCount(), 0);
}

TEST_F(ChannelCommandsTest, SharedRecordStillHeldIsReplacedByAFreshOne) {
  // A ReadDriveInfo that times out and answers only later.
  aspi_.script = [](const FakeCommand&) { return Good(DriveInfoAnswer(0x66, 0x77), 30000); };
  g_app.DriveVersionCode = 0x10;
  EXPECT_EQ(ReadDriveInfo(), 0);
  EXPECT_EQ(aspi_.commands[0].record, &g_app.SharedRequest);

  // The loader data goes in while the late answer is still on its way.
  std::memset(g_app.SharedBuffer, 0xEE, 64);
  aspi_.script = [](const FakeCommand&) { return Good(DriveInfoAnswer(0x21, 0x04), 5); };
  EXPECT_EQ(ReadDriveInfo(), 1);
  EXPECT_NE(aspi_.commands[1].record, &g_app.SharedRequest);
  EXPECT_EQ(aspi_.refused_resubmits, 0);
  EXPECT_EQ(g_app.DriveVersionCode, 0x21);
  EXPECT_EQ(g_app.SharedBuffer[12], 0x21);
  EXPECT_EQ(g_app.SharedBuffer[20], 0xEE);

  // The late answer lands in the old record's own area, not in SharedBuffer.
  std::memset(g_app.SharedBuffer, 0xEE, 64);
  aspi_.clock.Advance(40000);
  EXPECT_FALSE(aspi_.Holds(&g_app.SharedRequest));
  EXPECT_EQ(g_app.SharedBuffer[12], 0xEE);
  EXPECT_EQ(g_app.DriveVersionCode, 0x21);

  // Once let go, the shared record itself is used again.
  aspi_.script = [](const FakeCommand&) { return Good(); };
  EXPECT_EQ(FinishImageLoad(), 1);
  EXPECT_EQ(aspi_.commands.back().record, &g_app.SharedRequest);

  // A query that fails copies nothing: an earlier answer still in the
  // record's area must not come back into SharedBuffer.
  std::memset(g_app.SharedBuffer, 0xEE, 64);
  aspi_.script = [](const FakeCommand&) { return CheckCondition(5, 0x24); };
  EXPECT_EQ(ReadDriveInfo(), 0);
  EXPECT_EQ(g_app.SharedBuffer[12], 0xEE);
  EXPECT_EQ(g_app.DriveVersionCode, 0x21);
}

TEST_F(ChannelCommandsTest, TraceWritesOneLinePerCommand) {
  const std::string path = ::testing::TempDir() + "channel_trace.txt";
  ASSERT_TRUE(OpenTrace(path.c_str()));
  aspi_.script = [](const FakeCommand& command) {
    if (command.index == 0) return CheckCondition(2, 0x3A, 7);
    return Never();
  };
  TestUnitReady(0, 5);
  InquiryStandard(1, 0);
  CloseTrace();
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "0:5 cdb=00 00 00 00 00 00 dir=in len=32 status=0x04 targ=0x02 sense=2/3A/00 ms=7\n"
            "1:0 cdb=12 00 00 00 20 00 dir=in len=256 status=0x00 targ=0x00 sense=0/00/00 "
            "ms=10001 timeout\n");
  std::remove(path.c_str());
}

// A rehearsal's recorder lets only the questions that change nothing reach
// the drive; anything else ends at once, refused, and the caller's routine
// runs as for any request that ended.
TEST_F(ChannelCommandsTest, ARehearsalRecorderPassesOnlyReadOnlyQuestions) {
  const std::string path = ::testing::TempDir() + "rehearsal_guard.jsonl";
  std::string error;
  auto recorder = CaptureRecorder::Open(path, &aspi_, Capture{}, &error);
  ASSERT_TRUE(recorder) << error;
  recorder->SetReadOnly(true);
  static int routine_runs;
  routine_runs = 0;
  struct Case {
    BYTE op;
    bool passes;
  };
  const Case cases[] = {{0x12, true},  {0x00, true},  {0xCC, true}, {0xCD, false},
                        {0x3B, false}, {0x1B, false}, {0xCE, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.op});
    SRB_ExecSCSICmd r{};
    r.SRB_Cmd = SC_EXEC_SCSI_CMD;
    r.SRB_Flags = SRB_POSTING;
    r.SRB_CDBLen = 6;
    r.CDBByte[0] = c.op;
    r.SRB_PostProc = [](SRB_ExecSCSICmd*) { ++routine_runs; };
    const std::size_t sent_before = aspi_.commands.size();
    const int runs_before = routine_runs;
    const DWORD status = recorder->Send(&r);
    EXPECT_EQ(aspi_.commands.size(), sent_before + (c.passes ? 1 : 0));
    if (c.passes) {
      aspi_.clock.Wait(&r, 1000);
      EXPECT_EQ(r.SRB_Status, SS_COMP);
    } else {
      EXPECT_EQ(status, SS_ERR);
      EXPECT_EQ(r.SRB_Status, SS_ERR);
    }
    EXPECT_EQ(routine_runs, runs_before + 1);
  }
  EXPECT_EQ(recorder->refused(), 4);
  recorder.reset();
  std::remove(path.c_str());
}

// A replayed answer leaves the program's buffer as the drive did: the
// recorded bytes and zeros after them (a capture leaves trailing zeros out),
// whatever the buffer held before.
TEST(ReplayAnswers, AreTheRecordedBytesThenZeros) {
  Capture capture;
  CaptureEvent event;
  event.command.cdb = {0x12, 0x01, 0x81, 0x00, 0x08, 0x00};
  event.command.flags = SRB_DIR_IN;
  event.command.length = 8;
  event.command.status = SS_COMP;
  event.command.data_in = {0x01, 0x02};
  event.command.ms = 3;
  capture.events.push_back(event);
  VirtualClock clock(0, false);
  ReplayAspi replay(capture, &clock, nullptr);
  BYTE buffer[8];
  std::memset(buffer, 0xEE, sizeof buffer);
  SRB_ExecSCSICmd r{};
  r.SRB_Cmd = SC_EXEC_SCSI_CMD;
  r.SRB_Flags = SRB_DIR_IN;
  r.SRB_BufPointer = buffer;
  r.SRB_BufLen = sizeof buffer;
  r.SRB_CDBLen = 6;
  std::memcpy(r.CDBByte, event.command.cdb.data(), 6);
  EXPECT_EQ(replay.Send(&r), SS_PENDING);
  clock.Wait(&r, 100);
  EXPECT_EQ(r.SRB_Status, SS_COMP);
  EXPECT_EQ(std::vector<BYTE>(buffer, buffer + 8),
            (std::vector<BYTE>{0x01, 0x02, 0, 0, 0, 0, 0, 0}));
  bool identical = false;
  replay.Verdict(&identical);
  EXPECT_TRUE(identical);
}

// Two held commands due in the same virtual millisecond end in the order
// they were sent, as the recording has them.
TEST(ReplayAnswers, TiesEndInTheOrderSent) {
  Capture capture;
  for (BYTE target : {0, 1}) {
    CaptureEvent event;
    event.command.target = target;
    event.command.cdb = {0x00, 0, 0, 0, 0, 0};
    event.command.flags = SRB_POSTING;
    event.command.status = SS_COMP;
    event.command.ms = 5;
    capture.events.push_back(event);
  }
  VirtualClock clock(0, false);
  ReplayAspi replay(capture, &clock, nullptr);
  static std::vector<int> ended;
  ended.clear();
  SRB_ExecSCSICmd records[2] = {};
  for (BYTE target : {0, 1}) {
    SRB_ExecSCSICmd& r = records[target];
    r.SRB_Cmd = SC_EXEC_SCSI_CMD;
    r.SRB_Target = target;
    r.SRB_Flags = SRB_POSTING;
    r.SRB_CDBLen = 6;
    r.SRB_PostProc = [](SRB_ExecSCSICmd* done) { ended.push_back(done->SRB_Target); };
    EXPECT_EQ(replay.Send(&r), SS_PENDING);
  }
  clock.Wait(&records[1], 100);
  EXPECT_EQ(ended, (std::vector<int>{0, 1}));
}

// The capture reader's bounds, each reached by a capture just inside it and
// one just beyond it: the one beyond is refused for that bound alone.
struct CaptureBoundCase {
  const char* name;
  std::string (*body)(bool beyond);
  const char* refusal;  // what the one beyond is refused for
};

std::string CaptureHeader() {
  return std::string(R"({"capture":")") + kCaptureFormat + R"(","version":)" +
         std::to_string(kCaptureVersion) +
         R"(,"program":"t","platform":"t","family":"nt","lang":"0x0409","ticks":0})" + "\n";
}

std::string ZerosDigest(std::size_t n) {
  const std::vector<BYTE> zeros(n, 0);
  return Sha256Hex(zeros.data(), zeros.size());
}

std::string BlobLine(std::size_t n) {
  return R"({"blob":")" + ZerosDigest(n) + R"(","len":)" + std::to_string(n) + R"(,"b64":""})" +
         "\n";
}

std::string WholeText(bool beyond) {
  std::string text = CaptureHeader();
  text.resize(kCaptureTextMax + (beyond ? 1 : 0), '\n');
  return text;
}

std::string LongLine(bool beyond) {
  std::string line = R"({"late":1,"pad":")";
  line.resize(kCaptureLineMax + (beyond ? 1 : 0) - 2, 'x');
  return CaptureHeader() + line + "\"}\n";
}

std::string PackageFile(bool beyond) {
  // The bound is on the base64 text, which may hold two padding bytes.
  // Both sizes are 3k + 1 bytes of 'Z': k groups "Wlpa" and "Wg==".
  const std::vector<BYTE> bytes(kCaptureFileMax + (beyond ? 3 : 0), 'Z');
  std::string b64;
  for (std::size_t i = 0; i < bytes.size() / 3; ++i) b64 += "Wlpa";
  b64 += "Wg==";
  return CaptureHeader() + R"({"file":"Tellumar.bin","sha256":")" +
         Sha256Hex(bytes.data(), bytes.size()) + R"(","b64":")" + b64 + "\"}\n";
}

std::string BlobsTogether(bool beyond) {
  // Each blob alone is well within the bound; the three together reach it.
  const std::size_t quarter = kCaptureBlobTotalMax / 4;
  return CaptureHeader() + BlobLine(quarter) + BlobLine(quarter + 1) +
         BlobLine(2 * quarter - 1 + (beyond ? 1 : 0));
}

std::string HeldCopies(bool beyond) {
  // One blob sent again and again: each command holds its own copy, which
  // with the blob itself makes the whole bound and a little more (the
  // commands), or one copy less.
  const std::size_t size = kCaptureBlobTotalMax;
  std::string text = CaptureHeader() + BlobLine(size);
  const std::size_t commands = kCaptureHeldMax / size - (beyond ? 1 : 2);
  for (std::size_t i = 0; i < commands; ++i) {
    text += R"({"i":)" + std::to_string(i) + R"(,"at":"0:0","cdb":"3b","flags":"0x02","len":)" +
            std::to_string(size) + R"(,"out":"sha256:)" + ZerosDigest(size) + R"(","pending":1})" +
            "\n";
  }
  return text;
}

class CaptureBounds : public ::testing::TestWithParam<CaptureBoundCase> {};

TEST_P(CaptureBounds, InsideReadBeyondRefused) {
  const CaptureBoundCase& c = GetParam();
  Capture capture;
  std::string error;
  EXPECT_TRUE(ParseCapture(c.body(false), &capture, &error)) << error;
  EXPECT_FALSE(ParseCapture(c.body(true), &capture, &error));
  EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Reader, CaptureBounds,
    ::testing::Values(CaptureBoundCase{"Text", WholeText, "larger than any capture"},
                      CaptureBoundCase{"Line", LongLine, "longer than any line"},
                      CaptureBoundCase{"PackageFile", PackageFile, "larger than any package file"},
                      CaptureBoundCase{"BlobsTogether", BlobsTogether, "blobs larger than"},
                      CaptureBoundCase{"HeldCopies", HeldCopies, "can hold"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

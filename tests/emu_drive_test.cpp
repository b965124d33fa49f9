// What an emulated drive answers, byte for byte and sense for sense, and how
// its host adapter keeps the request-record contract.
#include "tests/emu_harness.h"

namespace {

using emu_test::Bench;
using emu_test::Fixture;
using emu_test::Sense;

// Power-on state with the unit attention already taken by a first command.
void ClearAttention(Bench& bench, int a = 0, int t = 0) { bench.TestUnitReady(a, t); }

TEST(EmuAnswers, InquiryBytesMatchFixtures) {
  Bench bench({"0:0:t71:usb:rev=1.00,code=0x11,modelcode=0x04", "0:1:r305:atapi:rev=2.10",
               "1:3:\"R305 CDRW USB-JP\":usb:rev=0.9a"});
  EXPECT_EQ(bench.InquiryAnswer(0, 0, 0, 0, 36), Fixture("emu_inquiry_t71.hex"));
  EXPECT_EQ(bench.InquiryAnswer(0, 1, 1, 0x81, 36), Fixture("emu_revision_r305.hex"));
  EXPECT_EQ(bench.InquiryAnswer(1, 3, 0, 0, 32), Fixture("emu_inquiry_quoted.hex"));
  std::vector<BYTE> answer(256, 0xEE);
  Sense s = bench.Do(0, 0, {0xCC, 0, 1, 0, 0, 0, 0, 0, 0, 0x12, 0, 0}, SRB_DIR_IN + SRB_POSTING,
                     answer.data(), 256);
  ASSERT_EQ(s.status, SS_COMP);
  answer.resize(18);
  EXPECT_EQ(answer, Fixture("emu_vendor_query.hex"));
}

TEST(EmuAnswers, AllocationLengthAndBufferLengthBoundTheData) {
  Bench bench({"0:0:t71:usb"});
  // 32 asked: byte 32 onwards untouched, as the program's standard INQUIRY.
  std::vector<BYTE> buffer(256, 0xEE);
  bench.Do(0, 0, {0x12, 0, 0, 0, 32, 0}, SRB_DIR_IN, buffer.data(), 256);
  EXPECT_EQ(buffer[31], ' ');
  EXPECT_EQ(buffer[32], 0xEE);
  // A buffer shorter than the allocation length is never overrun.
  std::vector<BYTE> small(40, 0xEE);
  bench.Do(0, 0, {0x12, 1, 0x81, 0, 0xFF, 0}, SRB_DIR_IN, small.data(), 10);
  EXPECT_EQ(small[9], 'O');  // byte 9 of the page: inside the vendor field
  EXPECT_EQ(small[10], 0xEE);
}

TEST(EmuAnswers, UnitAttentionComesOnceAfterPowerOnThenNoMedium) {
  Bench bench({"0:0:t71:usb"});
  // INQUIRY and the vendor query leave the attention for the next command.
  EXPECT_EQ(bench.InquiryAnswer(0, 0, 0, 0, 32).size(), 32u);
  std::vector<BYTE> answer(256);
  EXPECT_EQ(
      bench.Do(0, 0, {0xCC, 0, 1, 0, 0, 0, 0, 0, 0, 0x12, 0, 0}, SRB_DIR_IN, answer.data(), 256)
          .status,
      SS_COMP);
  const Sense expected[5] = {
      {SS_ERR, STATUS_CHKCOND, 0x06, 0x29}, {SS_ERR, STATUS_CHKCOND, 0x02, 0x3A},
      {SS_ERR, STATUS_CHKCOND, 0x02, 0x3A}, {SS_ERR, STATUS_CHKCOND, 0x02, 0x3A},
      {SS_ERR, STATUS_CHKCOND, 0x02, 0x3A},
  };
  for (int i = 0; i < 5; ++i) {
    Sense s = bench.TestUnitReady();
    EXPECT_EQ(s.status, expected[i].status) << i;
    EXPECT_EQ(s.targ, expected[i].targ) << i;
    EXPECT_EQ(s.key, expected[i].key) << i;
    EXPECT_EQ(s.asc, expected[i].asc) << i;
  }
  // The next power-on raises it again.
  bench.aspi->PowerOn();
  EXPECT_EQ(bench.TestUnitReady().key, 0x06);
}

TEST(EmuAnswers, BehindAtapiTheVendorQueryIsAnUnknownCommand) {
  Bench bench({"0:0:t71:atapi"});
  const std::initializer_list<BYTE> query = {0xCC, 0, 1, 0, 0, 0, 0, 0, 0, 0x12, 0, 0};
  EXPECT_EQ(bench.Do(0, 0, query).key, 0x06);  // so it reports the attention
  Sense s = bench.Do(0, 0, query);
  EXPECT_EQ(s.key, 0x05);
  EXPECT_EQ(s.asc, 0x20);
}

TEST(EmuAnswers, DiscChangeRaisesAttentionAndEjectTakesTheDiscOut) {
  Bench bench({"0:0:t71:usb:disc=1"});
  ClearAttention(bench);
  EXPECT_EQ(bench.TestUnitReady().status, SS_COMP);
  const std::uint64_t before = bench.clock.Now();
  std::vector<BYTE> buffer(32);
  Sense eject =
      bench.Do(0, 0, {0x1B, 0, 0, 0, 0x02, 0}, SRB_DIR_IN + SRB_POSTING, buffer.data(), 32);
  EXPECT_EQ(eject.status, SS_COMP);
  EXPECT_GE(bench.clock.Now() - before, 1000u);  // the tray takes its time
  EXPECT_FALSE(bench.aspi->DriveAt(0, 0)->disc());
  EXPECT_EQ(bench.TestUnitReady().asc, 0x3A);
  bench.aspi->DriveAt(0, 0)->ChangeDisc(true);
  EXPECT_EQ(bench.TestUnitReady().key, 0x06);
  EXPECT_EQ(bench.TestUnitReady().status, SS_COMP);
}

TEST(EmuAnswers, RefusedCommands) {
  Bench bench({"0:0:t71:usb", "0:1:t71:atapi"});
  ClearAttention(bench, 0, 0);
  ClearAttention(bench, 0, 1);
  std::vector<BYTE> buffer(256);
  struct Case {
    const char* what;
    int target;
    std::initializer_list<BYTE> cdb;
    BYTE asc;
  };
  const Case cases[] = {
      {"0xCC behind ATAPI", 1, {0xCC, 0, 1, 0, 0, 0, 0, 0, 0, 0x12, 0, 0}, 0x20},
      {"0xCD behind ATAPI", 1, {0xCD, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x20},
      {"unknown opcode", 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x20},
      {"READ(10) is not spoken", 1, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0x20},
      {"unknown INQUIRY page", 0, {0x12, 1, 0x80, 0, 0xFF, 0}, 0x24},
      {"WRITE BUFFER mode 5", 0, {0x3B, 5, 0, 0, 0, 0, 0, 0x08, 0, 0}, 0x24},
      {"list longer than the buffer", 0, {0x3B, 6, 0, 0, 0, 0, 0, 0x10, 1, 0}, 0x24},
      {"offset past the download area", 0, {0x3B, 6, 0, 0x08, 0x08, 0, 0, 0x08, 0, 0}, 0x24},
      {"0xCD with another sub-command", 0, {0xCD, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x24},
      {"0xCC in a 6-byte block", 0, {0xCC, 0, 1, 0, 0, 0}, 0x20},
  };
  for (const Case& c : cases) {
    Sense s = bench.Do(0, c.target, c.cdb, SRB_DIR_OUT, buffer.data(), 256);
    EXPECT_EQ(s.status, SS_ERR) << c.what;
    EXPECT_EQ(s.targ, STATUS_CHKCOND) << c.what;
    EXPECT_EQ(s.key, 0x05) << c.what;
    EXPECT_EQ(s.asc, c.asc) << c.what;
  }
}

TEST(EmuAdapter, AddressesWithoutADriveEndAtOnce) {
  Bench bench({"0:0:t71:usb", "2:0:t71:usb"}, 2);
  struct Case {
    int adapter, target;
    BYTE lun;
  };
  const Case cases[] = {{0, 1, 0}, {1, 0, 0}, {2, 0, 0}, {9, 0, 0}, {0, 0, 1}};
  for (const Case& c : cases) {
    std::vector<BYTE> buffer(32);
    SRB_ExecSCSICmd r =
        Bench::Record(c.adapter, c.target, {0x12, 0, 0, 0, 32, 0}, SRB_DIR_IN, buffer.data(), 32);
    r.SRB_Lun = c.lun;
    EXPECT_EQ(bench.aspi->Send(&r), SS_NO_DEVICE);
    EXPECT_EQ(r.SRB_Status, SS_NO_DEVICE) << c.adapter << ":" << c.target;
    EXPECT_FALSE(bench.aspi->Holds(&r));
  }
  EXPECT_EQ(bench.clock.Now(), 0u);
  EXPECT_EQ(bench.aspi->SupportInfo(), 0x0102u);
}

int g_routine_calls = 0;
BYTE g_status_seen = 0;
SimAspi* g_layer = nullptr;
bool g_held_inside = false;
void CountingRoutine(SRB_ExecSCSICmd* r) {
  ++g_routine_calls;
  g_status_seen = r->SRB_Status;
  g_held_inside = g_layer->Holds(r);
}

TEST(EmuAdapter, StatusEndsOnceAtTheLinkInstantAndTheRoutineRunsOnce) {
  Bench bench({"0:0:t71:usb", "0:1:t71:atapi"});
  g_layer = bench.aspi.get();
  for (int target : {0, 1}) {
    g_routine_calls = 0;
    std::vector<BYTE> buffer(256);
    SRB_ExecSCSICmd r = Bench::Record(0, target, {0x12, 0, 0, 0, 32, 0}, SRB_DIR_IN + SRB_POSTING,
                                      buffer.data(), 256);
    r.SRB_PostProc = CountingRoutine;
    const std::uint64_t start = bench.clock.Now();
    EXPECT_EQ(bench.aspi->Send(&r), SS_PENDING);
    EXPECT_EQ(r.SRB_Status, SS_PENDING);
    EXPECT_TRUE(bench.aspi->Holds(&r));
    const std::uint64_t end = bench.aspi->NextEventAt();
    EXPECT_EQ(end - start, LinkDurationMs(target == 0 ? DriveLink::kUsb : DriveLink::kAtapi, 32));
    bench.aspi->RunUntil(end - 1);
    EXPECT_EQ(r.SRB_Status, SS_PENDING);
    bench.clock.Wait(&r, 1000);
    EXPECT_EQ(bench.clock.Now(), end);
    EXPECT_EQ(r.SRB_Status, SS_COMP);
    EXPECT_EQ(g_routine_calls, 1);
    EXPECT_EQ(g_status_seen, SS_COMP);
    EXPECT_TRUE(g_held_inside);
    EXPECT_FALSE(bench.aspi->Holds(&r));
    bench.clock.Advance(5000);
    EXPECT_EQ(g_routine_calls, 1);
  }
  EXPECT_EQ(bench.aspi->refused_resubmits(), 0);
}

TEST(EmuAdapter, HeldRecordIsRefusedAndUntouched) {
  Bench bench({"0:0:t71:usb:hang=0x00"});
  std::vector<BYTE> buffer(32);
  SRB_ExecSCSICmd r = Bench::Record(0, 0, {0x00, 0, 0, 0, 0, 0}, SRB_DIR_IN, buffer.data(), 32);
  bench.aspi->Send(&r);
  bench.clock.Wait(&r, 60000);
  EXPECT_EQ(r.SRB_Status, SS_PENDING);  // never ends
  EXPECT_TRUE(bench.aspi->Holds(&r));
  SRB_ExecSCSICmd copy = r;
  r.CDBByte[0] = 0x12;  // the caller tries to reuse it for INQUIRY
  copy.CDBByte[0] = 0x12;
  EXPECT_EQ(bench.aspi->Send(&r), SS_ERR);
  EXPECT_EQ(std::memcmp(&r, &copy, sizeof r), 0);
  EXPECT_EQ(bench.aspi->refused_resubmits(), 1);
  // Other records still reach the drive, which answers them.
  EXPECT_EQ(bench.InquiryAnswer(0, 0, 0, 0, 32).size(), 32u);
  // Power-on forgets what was in flight.
  bench.aspi->PowerOn();
  EXPECT_FALSE(bench.aspi->Holds(&r));
}

TEST(EmuKnobs, CheckConditionForOneOpcode) {
  Bench bench({"0:0:t71:usb:check=0x12/4/0x44,disc=1"});
  ClearAttention(bench);
  Sense s = bench.Do(0, 0, {0x12, 0, 0, 0, 32, 0}, SRB_DIR_IN, nullptr, 0);
  EXPECT_EQ(s.status, SS_ERR);
  EXPECT_EQ(s.targ, STATUS_CHKCOND);
  EXPECT_EQ(s.key, 4);
  EXPECT_EQ(s.asc, 0x44);
  EXPECT_EQ(bench.TestUnitReady().status, SS_COMP);
}

TEST(EmuKnobs, HangKeepsOnlyThatOpcodePending) {
  Bench bench({"0:0:t71:usb:hang=0xCC"});
  std::vector<BYTE> buffer(256);
  SRB_ExecSCSICmd r = Bench::Record(0, 0, {0xCC, 0, 1, 0, 0, 0, 0, 0, 0, 0x12, 0, 0}, SRB_DIR_IN,
                                    buffer.data(), 256);
  EXPECT_EQ(bench.Run(&r, 60000), SS_PENDING);
  EXPECT_EQ(bench.clock.Now(), 60000u);
  EXPECT_EQ(bench.aspi->NextEventAt(), UINT64_MAX);
  EXPECT_EQ(bench.TestUnitReady().key, 0x06);  // the attention was not used up
}

}  // namespace

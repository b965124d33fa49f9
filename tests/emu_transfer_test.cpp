// Firmware and loader data through an emulated drive: the whole image, the
// restart, the loader payload, the fault knobs of a transfer, persistence.
#include <chrono>
#include <filesystem>

#include "tests/emu_harness.h"

namespace {

using emu_test::Bench;
using emu_test::MakeImage;
using emu_test::MakePayload;
using emu_test::Sense;

std::vector<BYTE> T71Image(const std::string& rev) {
  return MakeImage("VANTROS", "T71 CDRW B", rev);
}

Sense SendPayload(Bench& bench, std::vector<BYTE> payload, DWORD buffer_length = 0) {
  const std::size_t length = payload.size();
  payload.resize(std::max<std::size_t>(length, buffer_length));
  return bench.Do(0, 0,
                  {0xCD, 0, 0, 0, 0, 0, 0x01, 0x02, static_cast<BYTE>(length >> 8),
                   static_cast<BYTE>(length), 0, 0},
                  SRB_DIR_OUT, payload.data(),
                  buffer_length != 0 ? buffer_length : static_cast<DWORD>(length));
}

TEST(EmuTransfer, WholeImageRestartAndNewRevision) {
  Bench bench({"0:0:t71:usb:rev=1.00"});
  bench.TestUnitReady();  // takes the power-on attention
  const std::vector<BYTE> image = T71Image("1.20");
  const auto wall = std::chrono::steady_clock::now();
  const std::uint64_t start = bench.clock.Now();
  Sense s = bench.SendImage(0, 0, image);
  const std::uint64_t transfer_ms = bench.clock.Now() - start;
  ASSERT_EQ(s.status, SS_COMP);
  const EmulatedDrive* drive = bench.aspi->DriveAt(0, 0);
  EXPECT_EQ(drive->firmware(), image);
  // Behind the USB bridge the old code runs until the end of the load.
  EXPECT_EQ(bench.Revision(), "1.00");
  // 257 chunks at USB 1.1 speed plus a save of a few seconds.
  EXPECT_GT(transfer_ms, 3000u);
  EXPECT_LT(transfer_ms, 10000u);

  ASSERT_EQ(bench.EndOfLoad().status, SS_COMP);
  const std::uint64_t restart = bench.clock.Now();
  EXPECT_EQ(bench.Do(0, 0, {0x12, 0, 0, 0, 32, 0}).status, SS_NO_DEVICE);
  bench.clock.Advance(20000 - 1);
  EXPECT_EQ(bench.Do(0, 0, {0x12, 0, 0, 0, 32, 0}).status, SS_NO_DEVICE);
  EXPECT_EQ(bench.clock.Now(), restart + 19999);
  bench.clock.Advance(1);
  // As the update goes on: find the drive, read its codes, send the loader
  // data; the vendor commands leave the restart's attention to the next
  // standard command.
  EXPECT_EQ(bench.Revision(), "1.20");
  EXPECT_EQ(SendPayload(bench, MakePayload(0x7000, "0412")).status, SS_COMP);
  EXPECT_EQ(bench.TestUnitReady().key, 0x06);
  EXPECT_LT(std::chrono::steady_clock::now() - wall, std::chrono::seconds(5));
  std::printf("USB transfer of 257 chunks and save: %llu virtual ms\n",
              static_cast<unsigned long long>(transfer_ms));
}

TEST(EmuTransfer, AtapiSavesSlowlyAndRunsTheNewCodeAtOnce) {
  Bench bench({"0:0:t71:atapi:rev=1.00"});
  bench.TestUnitReady();
  const std::vector<BYTE> image = T71Image("1.30");
  ASSERT_EQ(bench.SendImage(0, 0, image, 0, emulated::kChunkCount - 2).status, SS_COMP);
  std::vector<BYTE> buffer(4096, 0);
  std::memcpy(buffer.data(), image.data() + 0x80000, emulated::kChunkSize);
  SRB_ExecSCSICmd final = Bench::Record(0, 0, {0x3B, 7, 0, 0x08, 0, 0, 0, 0x08, 0, 0}, SRB_DIR_OUT,
                                        buffer.data(), 4096);
  const std::uint64_t start = bench.clock.Now();
  bench.aspi->Send(&final);
  bench.clock.Advance(29000);
  EXPECT_EQ(final.SRB_Status, SS_PENDING);
  bench.clock.Wait(&final, 5000);
  EXPECT_EQ(final.SRB_Status, SS_COMP);
  EXPECT_GE(bench.clock.Now() - start, 30000u);
  EXPECT_EQ(bench.TestUnitReady().key, 0x06);
  EXPECT_EQ(bench.Revision(), "1.30");
}

// The download area takes each chunk at its offset, whatever the order.
TEST(EmuTransfer, ChunksInReverseOrderMakeTheWholeImage) {
  Bench bench({"0:0:t71:usb"});
  bench.TestUnitReady();
  const std::vector<BYTE> image = T71Image("1.20");
  for (std::size_t i = emulated::kChunkCount - 1; i-- > 0;) {
    ASSERT_EQ(
        bench.WriteChunk(0, 0, 6, i * emulated::kChunkSize, image.data() + i * emulated::kChunkSize)
            .status,
        SS_COMP);
  }
  ASSERT_EQ(bench.WriteChunk(0, 0, 7, 0x80000, image.data() + 0x80000).status, SS_COMP);
  EXPECT_EQ(bench.aspi->DriveAt(0, 0)->firmware(), image);
}

TEST(EmuTransfer, SaveRefusesAnIncompleteOrForeignImage) {
  struct Case {
    const char* what;
    const char* drive;
    std::vector<BYTE> image;
    std::size_t skip;  // chunk left out, or emulated::kChunkCount for none
  };
  const Case cases[] = {
      {"chunk 100 missing", "0:0:t71:usb", T71Image("1.20"), 100},
      {"R305 image into a T71", "0:0:t71:usb", MakeImage("ORBELLO", "RX-2210QN", "2.00"),
       emulated::kChunkCount},
      {"T71 image into an R305", "0:0:r305:usb", T71Image("1.20"), emulated::kChunkCount},
      {"T71 model, wrong vendor", "0:0:t71:usb", MakeImage("VANTROZ", "T71 CDRW", "1.20"),
       emulated::kChunkCount},
      {"unknown product takes nothing", "0:0:\"X-9 DRIVE\":usb", T71Image("1.20"),
       emulated::kChunkCount},
  };
  for (const Case& c : cases) {
    Bench bench({c.drive});
    bench.TestUnitReady();
    for (std::size_t i = 0; i + 1 < emulated::kChunkCount; ++i) {
      if (i == c.skip) continue;
      ASSERT_EQ(bench
                    .WriteChunk(0, 0, 6, i * emulated::kChunkSize,
                                c.image.data() + i * emulated::kChunkSize)
                    .status,
                SS_COMP);
    }
    Sense s = bench.WriteChunk(0, 0, 7, 0x80000, c.image.data() + 0x80000);
    EXPECT_EQ(s.status, SS_ERR) << c.what;
    EXPECT_EQ(s.key, 0x05) << c.what;
    EXPECT_EQ(s.asc, 0x26) << c.what;
    EXPECT_TRUE(bench.aspi->DriveAt(0, 0)->firmware().empty()) << c.what;
  }
  // The R305 image fits the R305 drive.
  Bench bench({"0:0:r305:usb"});
  bench.TestUnitReady();
  EXPECT_EQ(bench.SendImage(0, 0, MakeImage("ORBELLO", "RX-2210QN", "2.00")).status, SS_COMP);
}

TEST(EmuTransfer, LoaderPayloadSetsTheCodesOnlyWhenItsSumIsZero) {
  struct Case {
    const char* what;
    std::vector<BYTE> payload;
    DWORD buffer_length;
    BYTE status;
    BYTE code, modelcode;
  };
  const Case cases[] = {
      {"good", MakePayload(0x7000, "0412"), 0, SS_COMP, 0x12, 0x04},
      {"good, larger buffer", MakePayload(0x7000, "0537"), 0xC000, SS_COMP, 0x37, 0x05},
      {"good, odd length", MakePayload(0x7001, "0412"), 0, SS_COMP, 0x12, 0x04},
      {"checksum off by one", MakePayload(0x7000, "0412", true), 0, SS_ERR, 0x11, 0x04},
      {"no version digits", MakePayload(0x6000, "0412"), 0, SS_ERR, 0x11, 0x04},
      {"digits not decimal", MakePayload(0x7000, "04A2"), 0, SS_ERR, 0x11, 0x04},
  };
  for (const Case& c : cases) {
    Bench bench({"0:0:t71:usb:code=0x11,modelcode=0x04"});
    bench.TestUnitReady();
    Sense s = SendPayload(bench, c.payload, c.buffer_length);
    EXPECT_EQ(s.status, c.status) << c.what;
    if (c.status != SS_COMP) {
      EXPECT_EQ(s.key, 0x05) << c.what;
    }
    EXPECT_EQ(bench.aspi->DriveAt(0, 0)->BootSetup().code, c.code) << c.what;
    EXPECT_EQ(bench.aspi->DriveAt(0, 0)->BootSetup().modelcode, c.modelcode) << c.what;
  }
  // A length beyond the buffer handed over is refused, not read past.
  Bench bench({"0:0:t71:usb"});
  bench.TestUnitReady();
  std::vector<BYTE> payload = MakePayload(0x7000, "0412");
  EXPECT_EQ(bench
                .Do(0, 0, {0xCD, 0, 0, 0, 0, 0, 0, 0, 0x70, 0x00, 0, 0}, SRB_DIR_OUT,
                    payload.data(), 0x6FFF)
                .key,
            0x05);
}

TEST(EmuKnobs, BusyAtAChunkThenTaken) {
  for (int chunk : {5, 256}) {
    Bench bench({"0:0:t71:usb:busy=2@" + std::to_string(chunk)});
    bench.TestUnitReady();
    const std::vector<BYTE> image = T71Image("1.20");
    ASSERT_EQ(bench.SendImage(0, 0, image, 0, chunk - 1).status, SS_COMP);
    const BYTE mode = chunk == 256 ? 7 : 6;
    const BYTE* data = image.data() + chunk * emulated::kChunkSize;
    for (int attempt = 0; attempt < 2; ++attempt) {
      Sense s = bench.WriteChunk(0, 0, mode, chunk * emulated::kChunkSize, data);
      EXPECT_EQ(s.status, SS_ERR);
      EXPECT_EQ(s.targ, STATUS_BUSY);
    }
    EXPECT_EQ(bench.SendImage(0, 0, image, chunk).status, SS_COMP);
    EXPECT_EQ(bench.aspi->DriveAt(0, 0)->firmware(), image);
  }
}

TEST(EmuKnobs, PowerLossKeepsTheOldFirmwareUntilPowerOn) {
  Bench bench({"0:0:t71:usb:powerloss=40"});
  bench.aspi->DriveAt(0, 0)->set_firmware(T71Image("1.00"));
  bench.TestUnitReady();
  const std::vector<BYTE> image = T71Image("1.20");
  Sense s = bench.SendImage(0, 0, image);
  EXPECT_EQ(s.status, SS_ERR);
  EXPECT_EQ(s.targ, STATUS_GOOD);
  EXPECT_EQ(bench.Do(0, 0, {0x12, 0, 0, 0, 32, 0}).status, SS_NO_DEVICE);
  bench.clock.Advance(600000);
  EXPECT_EQ(bench.Do(0, 0, {0x12, 0, 0, 0, 32, 0}).status, SS_NO_DEVICE);
  bench.aspi->PowerOn();
  EXPECT_EQ(bench.aspi->DriveAt(0, 0)->firmware(), T71Image("1.00"));
  EXPECT_EQ(bench.Revision(), "1.00");
  EXPECT_EQ(bench.TestUnitReady().key, 0x06);
  // The cut happened once; chunks sent before it were thrown away with it.
  EXPECT_EQ(bench.SendImage(0, 0, image, 40).status, SS_ERR);
  EXPECT_EQ(bench.SendImage(0, 0, image).status, SS_COMP);
}

TEST(EmuKnobs, SaveFailureAndSlowSave) {
  Bench failing({"0:0:t71:usb:savefail=1,savetime=7000"});
  failing.TestUnitReady();
  const std::uint64_t start = failing.clock.Now();
  Sense s = failing.SendImage(0, 0, T71Image("1.20"));
  EXPECT_EQ(s.status, SS_ERR);
  EXPECT_EQ(s.key, 0x03);
  EXPECT_GE(failing.clock.Now() - start, 7000u);
  EXPECT_TRUE(failing.aspi->DriveAt(0, 0)->firmware().empty());

  Bench slow({"0:0:t71:usb:savetime=45000"});
  slow.TestUnitReady();
  const std::vector<BYTE> image = T71Image("1.20");
  slow.SendImage(0, 0, image, 0, 255);
  std::vector<BYTE> buffer(4096);
  std::memcpy(buffer.data(), image.data() + 0x80000, emulated::kChunkSize);
  SRB_ExecSCSICmd final = Bench::Record(0, 0, {0x3B, 7, 0, 0x08, 0, 0, 0, 0x08, 0, 0}, SRB_DIR_OUT,
                                        buffer.data(), 4096);
  EXPECT_EQ(slow.Run(&final, 40000), SS_PENDING);
  EXPECT_EQ(slow.aspi->Send(&final), SS_ERR);  // still held: refused
  EXPECT_EQ(slow.aspi->refused_resubmits(), 1);
  slow.clock.Wait(&final, 10000);
  EXPECT_EQ(final.SRB_Status, SS_COMP);
}

TEST(EmuKnobs, RestartVariants) {
  struct Case {
    const char* drive;
    std::uint64_t back_after;  // 0: not before power-on
    const char* image_rev;
    const char* rev;
    bool end_of_load = true;  // false: the direct way, the new firmware at power-on
  };
  const Case cases[] = {
      {"0:0:t71:usb:absent=5000", 5000, "1.20", "1.20"},
      {"0:0:t71:usb:returnrev=1.19", 20000, "1.20", "1.19"},
      {"0:0:t71:usb:noreturn=1", 0, "1.20", "1.20"},
      {"0:0:t71:usb:returnrev=1.19", 0, "1.20", "1.19", false},
      // The description's own separators would make the drive file unreadable.
      {"0:0:t71:usb", 20000, "1,2:", "1?2?"},
  };
  for (const Case& c : cases) {
    Bench bench({c.drive});
    bench.TestUnitReady();
    ASSERT_EQ(bench.SendImage(0, 0, T71Image(c.image_rev)).status, SS_COMP);
    if (!c.end_of_load) {
      EXPECT_EQ(bench.Revision(), "1.00") << c.drive << ": the old firmware runs until power-on";
      bench.aspi->PowerOn();
      EXPECT_EQ(bench.Revision(), c.rev) << c.drive;
      continue;
    }
    ASSERT_EQ(bench.EndOfLoad().status, SS_COMP);
    if (c.back_after != 0) {
      bench.clock.Advance(c.back_after - 1);
      EXPECT_EQ(bench.Revision(), "") << c.drive;
      bench.clock.Advance(1);
    } else {
      bench.clock.Advance(3600000);
      EXPECT_EQ(bench.Revision(), "") << c.drive;
      bench.aspi->PowerOn();
    }
    EXPECT_EQ(bench.Revision(), c.rev) << c.drive;
    DriveSetup again;
    EXPECT_TRUE(
        ParseDriveSetup(FormatDriveSetup(bench.aspi->DriveAt(0, 0)->BootSetup()), &again, nullptr))
        << c.drive;
  }
}

TEST(EmuPersistence, SaveAndLoadKeepFirmwareRevisionCodesAndKnobs) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("emu_persist_" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::remove_all(dir);
  std::string error;
  ASSERT_TRUE(SimAspi::WriteDrives(
      dir,
      {emu_test::Setup("0:0:t71:usb:rev=1.00,code=0x11,busy=3@7"),
       emu_test::Setup("1:2:\"R305 CDRW USB 2\":atapi:rev=2.00,disc=1,powerloss=9")},
      &error))
      << error;
  const std::vector<BYTE> image = T71Image("1.20");
  {
    VirtualClock clock(0, false);
    std::unique_ptr<SimAspi> aspi = SimAspi::Load(dir, 2, &clock, &error);
    ASSERT_NE(aspi, nullptr) << error;
    EXPECT_EQ(aspi->ShowLines(),
              (std::vector<std::string>{
                  "drive 0:0 T71 CDRW USB rev=1.00 code=0x11 model=0x04 disc=0",
                  "drive 1:2 R305 CDRW USB 2 rev=2.00 code=0x11 model=0x04 disc=1"}));
    aspi->DriveAt(0, 0)->set_firmware(image);
    aspi->DriveAt(1, 2)->ChangeDisc(false);
    ASSERT_TRUE(aspi->Save());
  }
  VirtualClock clock(0, false);
  std::unique_ptr<SimAspi> aspi = SimAspi::Load(dir, 2, &clock, &error);
  ASSERT_NE(aspi, nullptr) << error;
  EXPECT_EQ(aspi->DriveAt(0, 0)->firmware(), image);
  EXPECT_EQ(aspi->DriveAt(0, 0)->setup().busy_count, 3);
  EXPECT_EQ(aspi->DriveAt(1, 2)->setup().powerloss_chunk, 9);
  EXPECT_FALSE(aspi->DriveAt(1, 2)->disc());
  EXPECT_TRUE(aspi->DriveAt(1, 2)->firmware().empty());

  // Malformed or clashing drive files are refused with a line naming them.
  {
    std::ofstream(dir / "drives" / "3-3.drive") << "3:3:t72:usb\n";
    EXPECT_EQ(SimAspi::Load(dir, 2, &clock, &error), nullptr);
    EXPECT_NE(error.find("3-3.drive"), std::string::npos) << error;
    // A second drive at 0:0, in a file named for another address: a save
    // would write it to 0-0.drive and the PC would not open again.
    std::ofstream(dir / "drives" / "3-3.drive") << "# a second drive at 0:0\n0:0:r305:usb\n";
    EXPECT_EQ(SimAspi::Load(dir, 2, &clock, &error), nullptr);
    EXPECT_NE(error.find("must be named 0-0.drive"), std::string::npos) << error;
    std::ofstream(dir / "drives" / "3-3.drive") << "\n";
    EXPECT_EQ(SimAspi::Load(dir, 2, &clock, &error), nullptr);
    // A drive behind an adapter the PC does not have would never be scanned.
    std::filesystem::remove(dir / "drives" / "3-3.drive");
    std::ofstream(dir / "drives" / "2-3.drive") << "2:3:t71:usb\n";
    EXPECT_EQ(SimAspi::Load(dir, 2, &clock, &error), nullptr);
    EXPECT_NE(error.find("2-3.drive"), std::string::npos) << error;
    VirtualClock other_clock(0, false);
    EXPECT_NE(SimAspi::Load(dir, 3, &other_clock, &error), nullptr) << error;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

// Whole scans and transfers into emulated drives, in virtual time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "app/list_command.h"
#include "drive/channel.h"
#include "drive/discovery.h"
#include "drive/transfer.h"
#include "package/package_files.h"
#include "platform/sim/emulated_drive.h"
#include "platform/sim/package_maker.h"
#include "platform/sim/sim_aspi.h"
#include "state/app_state.h"
#include "tests/support/fake_pc.h"

namespace {

class EmulatedTest : public ::testing::Test {
 protected:
  void Boot(const std::vector<const char*>& drives, int adapters = 1,
            DWORD ticks_at_power_on = 5000) {
    ResetAppState();
    std::vector<DriveSetup> setups;
    for (const char* text : drives) {
      DriveSetup setup;
      std::string error;
      ASSERT_TRUE(ParseDriveSetup(text, &setup, &error)) << error;
      setups.push_back(setup);
    }
    aspi_.reset();  // it detaches from the clock it was given
    clock_ = std::make_unique<VirtualClock>(ticks_at_power_on, false);
    aspi_ = std::make_unique<SimAspi>(adapters, clock_.get(), setups);
    Platform platform;
    platform.clock = clock_.get();
    platform.aspi = aspi_.get();
    platform.files = &files_;
    InstallPlatform(platform);
    g_app.AdapterCount = static_cast<std::uint8_t>(adapters);
    package_ = DefaultPackage("t71");
    image_ = MakePackageImage(package_);
    files_.files["Tellumar.bin"] = image_;
    CopyText(g_app.DataFileName, kMaxPath, "Tellumar.bin");
    // As the package check leaves it.
    ASSERT_EQ(LoadImageData(g_app.DataFileName), 1);
  }
  // As the update does before writing: five readiness probes, the first of
  // which takes the drive's power-on unit attention.
  void Probe(std::uint8_t adapter, std::uint8_t target) {
    for (int i = 0; i < 5; ++i) TestUnitReady(adapter, target);
  }
  void TearDown() override { InstallPlatform(Platform{}); }

  void LoadLoaderData() {
    const std::string loader = MakeLoaderData(package_);
    ASSERT_LE(loader.size(), sizeof g_app.LoaderData);
    std::memcpy(g_app.LoaderData, loader.data(), loader.size());
    g_app.LoaderDataBytes = static_cast<std::int32_t>(loader.size());
  }

  std::vector<BYTE> ImageBytes() const { return std::vector<BYTE>(image_.begin(), image_.end()); }

  MemoryFiles files_;
  std::unique_ptr<VirtualClock> clock_;
  std::unique_ptr<SimAspi> aspi_;
  PackageOptions package_;
  std::string image_;
};

TEST_F(EmulatedTest, DirectTransferWritesTheFirmware) {
  Boot({"0:1:t71:atapi:rev=1.00"});
  Probe(0, 1);
  const auto wall = std::chrono::steady_clock::now();
  const std::uint64_t start = clock_->Now();
  EXPECT_EQ(TransferFirmwareImage(0, 1), 0);
  EXPECT_EQ(g_app.ProgressCount, 1000);
  EXPECT_EQ(aspi_->DriveAt(0, 1)->firmware(), ImageBytes());
  EXPECT_EQ(aspi_->refused_resubmits(), 0);
  EXPECT_GT(clock_->Now() - start, 1000u);
  EXPECT_LT(std::chrono::steady_clock::now() - wall, std::chrono::seconds(5));
}

TEST_F(EmulatedTest, DirectTransferAcrossTheTickWrap) {
  Boot({"0:0:t71:atapi:rev=1.00"}, 1, 0xFFFFFFFFu - 20000);
  Probe(0, 0);
  EXPECT_EQ(TransferFirmwareImage(0, 0), 0);
  EXPECT_EQ(aspi_->DriveAt(0, 0)->firmware(), ImageBytes());
}

TEST_F(EmulatedTest, DirectTransferFaults) {
  const struct {
    const char* drive;
    int result;
    bool firmware_written;
  } cases[] = {
      {"0:0:t71:atapi:busy=3@5", 0, true},
      {"0:0:t71:atapi:busy=12@7", 1, false},  // never taken: must not be saved
      {"0:0:t71:atapi:hang=0x3B", 1, false},
      {"0:0:t71:atapi:powerloss=100", 1, false},
      {"0:0:t71:atapi:savefail=1", 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.drive);
    Boot({c.drive});
    Probe(0, 0);
    const std::vector<BYTE> before = aspi_->DriveAt(0, 0)->firmware();
    EXPECT_EQ(TransferFirmwareImage(0, 0), c.result);
    EXPECT_EQ(aspi_->DriveAt(0, 0)->firmware() == ImageBytes(), c.firmware_written);
    if (!c.firmware_written) {
      EXPECT_EQ(aspi_->DriveAt(0, 0)->firmware(), before);
    }
    EXPECT_EQ(aspi_->refused_resubmits(), 0);
  }
}

TEST_F(EmulatedTest, LoaderPathImageThenPayload) {
  Boot({"0:2:t71:usb:rev=1.00,code=0x10"});
  CopyText(g_app.LoaderFileName, kMaxPath, "Tellmr.bin");
  ASSERT_EQ(ScanDrives(1), 1);
  EXPECT_EQ(g_app.CurrentTarget, 2);
  EXPECT_STREQ(g_app.DeviceRevision[2], "1.00");
  Probe(0, 2);

  ASSERT_EQ(LoadImageData(g_app.DataFileName), 1);
  for (int index = 0; index < 256; ++index) ASSERT_EQ(SendImageChunk(index), 1) << index;
  ASSERT_EQ(SendImageFinal(256), 1);
  ASSERT_EQ(FinishImageLoad(), 1);

  // The drive restarts from the loaded code; scan until it is back.
  int passes = 0;
  while (ScanDrives(3) == 0 && passes < 25) {
    ++passes;
    Delay(1000);
  }
  ASSERT_LT(passes, 25);
  EXPECT_EQ(g_app.AbortFlag, 0);
  EXPECT_STREQ(g_app.DeviceRevision[2], package_.rev.c_str());

  LoadLoaderData();
  ASSERT_EQ(ReadDriveInfo(), 1);
  EXPECT_EQ(g_app.DriveModelCode, 0x04);
  LoadLoaderData();
  ASSERT_EQ(SendLoaderData(), 1);
  Delay(30000);
  ASSERT_EQ(ReadDriveInfo(), 1);
  EXPECT_EQ(g_app.DriveVersionCode, 0x12);
  EXPECT_EQ(aspi_->refused_resubmits(), 0);
}

TEST_F(EmulatedTest, ScanFindsBothLinksAsTheLoaderFileSays) {
  const struct {
    const char* loader;
    int usb_taken;
    int atapi_taken;
  } cases[] = {{"", 0, 1}, {"Tellmr.bin", 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.loader);
    Boot({"0:0:t71:usb", "1:3:r305:atapi"}, 2);
    CopyText(g_app.LoaderFileName, kMaxPath, c.loader);
    EXPECT_EQ(ScanDrives(1), 1);
    EXPECT_EQ(g_app.DeviceSupported[0], c.usb_taken);
    EXPECT_EQ(g_app.DeviceSupported[11], c.atapi_taken);
    EXPECT_EQ(g_app.FirstModelCount, c.usb_taken);
    EXPECT_EQ(g_app.SecondModelCount, c.atapi_taken);
  }
}

TEST_F(EmulatedTest, FiveReadinessProbesAfterPowerOn) {
  const struct {
    const char* drive;
    int not_ready;
  } cases[] = {{"0:0:t71:usb:disc=0", 1}, {"0:0:t71:usb:disc=1", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.drive);
    Boot({c.drive});
    for (int i = 0; i < 5; ++i) TestUnitReady(0, 0);
    EXPECT_EQ(g_app.DriveNotReady, c.not_ready);
    EXPECT_EQ(g_app.AbortFlag, 0);
  }
}

TEST_F(EmulatedTest, ListShowsTheRowsOfTheMainDialog) {
  Boot({"0:0:t71:atapi:rev=1.00", "0:5:r305:atapi:rev=2.01", "1:1:\"CD-ROM X\":atapi"}, 2);
  char text[1024];
  EXPECT_EQ(FormatDriveList(false, text, sizeof text), 2);
  EXPECT_STREQ(text,
               "0:0\tT71 CDRW USB\t1.00\t-\tATAPI\n"
               "0:5\tR305 CDRW USB\t2.01\t-\tATAPI\n");
}

TEST_F(EmulatedTest, ListAsJson) {
  Boot({"0:3:t71:usb:rev=1.00,code=0x11"});
  CopyText(g_app.LoaderFileName, kMaxPath, "Tellmr.bin");
  char text[1024];
  EXPECT_EQ(FormatDriveList(true, text, sizeof text), 1);
  EXPECT_STREQ(text,
               "[\n  {\"address\": \"0:3\", \"product\": \"T71 CDRW USB\", \"revision\": "
               "\"1.00\", \"version_code\": \"11\", \"link\": \"USB\", \"list\": "
               "\"package\"}\n]\n");
}

// Without a package every VANTROS drive is listed, USB beside ATAPI and past
// the dialog's four rows, whatever loader rule a package would apply.
TEST_F(EmulatedTest, ListWithoutPackageShowsEveryDrive) {
  Boot({"0:0:t71:usb:rev=1.00,code=0x11", "0:1:r305:atapi:rev=2.01", "0:2:t71:atapi",
        "0:3:t71:atapi", "0:4:t71:atapi", "0:5:\"CD-ROM X\":atapi"});
  CopyText(g_app.LoaderFileName, kMaxPath, "Tellmr.bin");
  char text[2048];
  EXPECT_EQ(FormatEveryDrive(false, text, sizeof text), 5);
  EXPECT_EQ(std::string(text).substr(0, 60),
            "0:0\tT71 CDRW USB\t1.00\t11\tUSB\n0:1\tR305 CDRW USB\t2.01\t-\tATAPI\n");
  EXPECT_NE(std::strstr(text, "0:4\tT71 CDRW USB"), nullptr);
  EXPECT_EQ(FormatEveryDrive(true, text, sizeof text), 5);
  EXPECT_NE(std::strstr(text, "\"link\": \"ATAPI\", \"list\": \"all\""), nullptr) << text;
}

TEST_F(EmulatedTest, ListStopsAtFourRows) {
  Boot({"0:0:t71:atapi", "0:1:t71:atapi", "0:2:t71:atapi", "0:3:t71:atapi", "0:4:t71:atapi"});
  char text[1024];
  EXPECT_EQ(FormatDriveList(false, text, sizeof text), 4);
  EXPECT_EQ(std::strstr(text, "0:4\t"), nullptr);
  Boot({});
  EXPECT_EQ(FormatDriveList(true, text, sizeof text), 0);
  EXPECT_STREQ(text, "[]\n");
}

}  // namespace

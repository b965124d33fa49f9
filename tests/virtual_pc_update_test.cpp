// Firmware written into the drives of a whole virtual PC, made by
// quorvanta-sim: on the direct path into an ATAPI drive and on the loader path
// into a USB drive. The new revisions must still be there after the virtual PC
// is saved and powered on again, as `quorvanta-sim show` reports them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "drive/channel.h"
#include "drive/discovery.h"
#include "drive/transfer.h"
#include "package/package_files.h"
#include "platform/sim/package_maker.h"
#include "platform/sim/virtual_pc.h"
#include "state/app_state.h"

namespace fs = std::filesystem;

namespace {

std::string RunTool(const std::string& arguments) {
  const char* bin = std::getenv("QV_BIN_DIR");
  std::string command = std::string(bin ? bin : ".") + "/quorvanta-sim " + arguments;
  std::string output;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    if (pclose(pipe) != 0) output += "[failed]";
  }
  return output;
}

class VirtualPcUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv_pc_update_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    std::string made = RunTool("init " + dir_.string() +
                               " --drive 0:0:t71:usb:rev=1.00,code=0x11"
                               " --drive 1:0:r305:atapi:rev=1.00 --package t71");
    ASSERT_EQ(made.find("[failed]"), std::string::npos) << made;
    PackageOptions r305 = DefaultPackage("r305");
    r305.rev = "2.05";
    std::string error;
    ASSERT_TRUE(WritePackage(dir_ / "drive_c" / "R305", r305, &error)) << error;
  }
  void TearDown() override {
    InstallPlatform(Platform{});
    fs::remove_all(dir_);
  }

  std::unique_ptr<VirtualPc> PowerOn() {
    std::string error;
    auto pc = VirtualPc::Open(dir_, &error);
    EXPECT_TRUE(pc) << error;
    if (!pc) return nullptr;
    InstallPlatform(pc->platform());
    ResetAppState();
    g_app.AspiSupportInfo = GetASPI32SupportInfo();
    g_app.AdapterCount = static_cast<std::uint8_t>(g_app.AspiSupportInfo & 0xFF);
    return pc;
  }

  fs::path dir_;
};

TEST_F(VirtualPcUpdate, BothPathsLeaveTheNewRevisionForTheNextRun) {
  {
    auto pc = PowerOn();
    ASSERT_TRUE(pc);

    // Both callers probe readiness five times first, which also takes the
    // drives' attention after power-on.
    for (int i = 0; i < 5; ++i) TestUnitReady(1, 0);
    for (int i = 0; i < 5; ++i) TestUnitReady(0, 0);
    EXPECT_EQ(g_app.DriveNotReady, 1);
    EXPECT_EQ(g_app.AbortFlag, 0);

    // Direct path: the ORBELLO image into the ATAPI drive at 1:0.
    CopyText(g_app.DataFileName, kMaxPath, "C:\\R305\\Tellumar.bin");
    ASSERT_EQ(LoadImageData(g_app.DataFileName), 1);
    EXPECT_EQ(TransferFirmwareImage(1, 0), 0);
    EXPECT_EQ(g_app.ProgressCount, 1000);

    // Loader path: the T71 package's image into the USB drive at 0:0, the
    // end of the load, then the drive's restart.
    g_app.CurrentAdapter = 0;
    g_app.CurrentTarget = 0;
    ASSERT_EQ(LoadImageData("C:\\Quorvanta\\Tellumar.bin"), 1);
    for (int k = 0; k < 256; ++k) ASSERT_EQ(SendImageChunk(k), 1) << k;
    ASSERT_EQ(SendImageFinal(256), 1);
    ASSERT_EQ(FinishImageLoad(), 1);
    Delay(70000);
    EXPECT_EQ(ScanDrives(3), 1);
    InquiryRevision(0, 0);
    EXPECT_STREQ(g_app.DeviceRevision[0], "1.10");
    ASSERT_TRUE(pc->Save());
  }
  std::string shown = RunTool("show " + dir_.string());
  EXPECT_NE(shown.find("drive 0:0 T71 CDRW USB rev=1.10"), std::string::npos) << shown;
  EXPECT_NE(shown.find("drive 1:0 R305 CDRW USB rev=2.05"), std::string::npos) << shown;

  // The next run reads the new revisions from the drives themselves.
  auto pc = PowerOn();
  ASSERT_TRUE(pc);
  InquiryRevision(0, 0);
  InquiryRevision(1, 0);
  EXPECT_STREQ(g_app.DeviceRevision[0], "1.10");
  EXPECT_STREQ(g_app.DeviceRevision[8], "2.05");
}

}  // namespace

// The packages that quorvanta-sim makes, taken by the emulated drives as the
// program hands them over: the image in chunks, the loader payload from the
// loader data file's offset 64 with the length of its header.
#include "platform/sim/package_maker.h"
#include "tests/emu_harness.h"

namespace {

using emu_test::Bench;
using emu_test::Sense;

std::vector<BYTE> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

Sense SendLoaderFile(Bench& bench, const std::vector<BYTE>& file) {
  std::vector<BYTE> shared(0xC000, 0);
  std::copy_n(file.begin(), std::min<std::size_t>(file.size(), shared.size()), shared.begin());
  const std::size_t length = (std::size_t{shared[62]} << 8) | shared[63];
  // The block takes the header bytes before the payload moves over them.
  SRB_ExecSCSICmd r = Bench::Record(
      0, 0, {0xCD, 0, 0, 0, 0, 0, shared[60], shared[61], shared[62], shared[63], 0, 0},
      SRB_DIR_OUT, shared.data(), static_cast<DWORD>(length));
  std::copy(shared.begin() + 64, shared.begin() + 64 + length, shared.begin());
  bench.Run(&r);
  return {r.SRB_Status, r.SRB_TargStat, static_cast<BYTE>(r.SenseArea[2] & 0x0F), r.SenseArea[12]};
}

TEST(EmuPackage, MadeImagesFitTheirModelOnly) {
  struct Case {
    const char* drive;
    const char* package;
    bool wrong_vendor;
    BYTE status;
  };
  const Case cases[] = {
      {"0:0:t71:usb", "t71", false, SS_COMP}, {"0:0:r305:usb", "r305", false, SS_COMP},
      {"0:0:t71:usb", "r305", false, SS_ERR}, {"0:0:r305:atapi", "t71", false, SS_ERR},
      {"0:0:t71:atapi", "t71", true, SS_ERR},
  };
  for (const Case& c : cases) {
    PackageOptions options = DefaultPackage(c.package);
    options.wrong_vendor = c.wrong_vendor;
    const std::vector<BYTE> image = Bytes(MakePackageImage(options));
    Bench bench({c.drive});
    bench.TestUnitReady();
    EXPECT_EQ(bench.SendImage(0, 0, image).status, c.status) << c.drive << " " << c.package;
    if (c.status == SS_COMP) {
      EXPECT_EQ(bench.aspi->DriveAt(0, 0)->BootSetup().rev, options.rev);
    }
  }
}

TEST(EmuPackage, MadeLoaderDataSetsTheCodesOfItsDigits) {
  PackageOptions options = DefaultPackage("t71");
  Bench bench({"0:0:t71:usb:code=0x11,modelcode=0x04"});
  bench.TestUnitReady();
  Sense first = SendLoaderFile(bench, Bytes(MakeLoaderData(options)));
  ASSERT_EQ(first.status, SS_COMP) << int(first.key) << " " << int(first.asc);
  EXPECT_EQ(bench.aspi->DriveAt(0, 0)->BootSetup().code, 0x12);
  EXPECT_EQ(bench.aspi->DriveAt(0, 0)->BootSetup().modelcode, 0x04);

  options.bad_checksum = true;
  options.digits = "0499";
  Sense s = SendLoaderFile(bench, Bytes(MakeLoaderData(options)));
  EXPECT_EQ(s.status, SS_ERR);
  EXPECT_EQ(s.asc, 0x26);
  EXPECT_EQ(bench.aspi->DriveAt(0, 0)->BootSetup().code, 0x12);
}

}  // namespace

// The one-line drive description: what it accepts, what it refuses, and that
// writing a description back gives the same drive.
#include <gtest/gtest.h>

#include "platform/sim/sim_aspi.h"

namespace {

TEST(EmuSetup, AcceptsEveryKey) {
  DriveSetup s;
  std::string error;
  ASSERT_TRUE(ParseDriveSetup(
      "1:6:r305:atapi:rev=2.1a,code=0x21,modelcode=5,disc=1,hang=0xcc,check=0x3B/3/0x0C,"
      "busy=4@256,powerloss=12,savefail=1,noreturn=1,returnrev=9.99,savetime=45000,absent=0",
      &s, &error))
      << error;
  EXPECT_EQ(s.adapter, 1);
  EXPECT_EQ(s.target, 6);
  EXPECT_EQ(s.model, DriveModel::kR305);
  EXPECT_EQ(s.product, "R305 CDRW USB");
  EXPECT_EQ(s.link, DriveLink::kAtapi);
  EXPECT_EQ(s.rev, "2.1a");
  EXPECT_EQ(s.code, 0x21);
  EXPECT_EQ(s.modelcode, 5);
  EXPECT_TRUE(s.disc);
  EXPECT_EQ(s.hang_opcode, 0xCC);
  EXPECT_EQ(s.check_opcode, 0x3B);
  EXPECT_EQ(s.check_key, 3);
  EXPECT_EQ(s.check_asc, 0x0C);
  EXPECT_EQ(s.busy_count, 4);
  EXPECT_EQ(s.busy_chunk, 256);
  EXPECT_EQ(s.powerloss_chunk, 12);
  EXPECT_TRUE(s.save_fail);
  EXPECT_TRUE(s.no_return);
  EXPECT_EQ(s.return_rev, "9.99");
  EXPECT_EQ(s.save_ms, 45000);
  EXPECT_EQ(s.absent_ms, 0);
}

TEST(EmuSetup, ModelsAndQuotedProductIds) {
  struct Case {
    const char* text;
    DriveModel model;
    const char* product;
  };
  const Case cases[] = {
      {"0:0:t71:usb", DriveModel::kT71, "T71 CDRW USB"},
      {"0:0:r305:usb", DriveModel::kR305, "R305 CDRW USB"},
      {"0:0:\"T71 CDRW USB2\":usb", DriveModel::kT71, "T71 CDRW USB2"},
      {"0:0:\"T71 CDRW US\":usb", DriveModel::kOther, "T71 CDRW US"},
      {"0:0:\"A:B,C=D\":usb", DriveModel::kOther, "A:B,C=D"},
      {"0:0:\"0123456789ABCDEF\":atapi", DriveModel::kOther, "0123456789ABCDEF"},
  };
  for (const Case& c : cases) {
    DriveSetup s;
    std::string error;
    ASSERT_TRUE(ParseDriveSetup(c.text, &s, &error)) << c.text << ": " << error;
    EXPECT_EQ(s.model, c.model) << c.text;
    EXPECT_EQ(s.product, c.product) << c.text;
  }
}

TEST(EmuSetup, RefusesMalformedDescriptions) {
  const char* cases[] = {
      "",
      "0",
      "0:0",
      "0:0:t71",
      "8:0:t71:usb",
      "0:8:t71:usb",
      "-1:0:t71:usb",
      "x:0:t71:usb",
      "0:0:T71:usb",
      "0:0:t72:usb",
      "0:0:t71:scsi",
      "0:0:t71:usb:",
      "0:0:t71:usb:rev",
      "0:0:t71:usb:=1",
      "0:0:t71:usb:rev=1.0",
      "0:0:t71:usb:rev=1.000",
      "0:0:t71:usb:rev=1.00,",
      "0:0:t71:usb:code=256",
      "0:0:t71:usb:code=0x",
      "0:0:t71:usb:code=12abc",
      "0:0:t71:usb:disc=2",
      "0:0:t71:usb:colour=red",
      "0:0:t71:usb:check=0x3B/16/0",
      "0:0:t71:usb:check=0x3B/5",
      "0:0:t71:usb:busy=3",
      "0:0:t71:usb:busy=3@257",
      "0:0:t71:usb:powerloss=300",
      "0:0:t71:usb:savetime=-5",
      "0:0:t71:usb:absent=99999999999999999999",
      "0:0:\"\":usb",
      "0:0:\"unterminated:usb",
      "0:0:\"0123456789ABCDEFG\":usb",
      "0:0:\"T71\"usb",
      "0:0:\"T71\tX\":usb",
  };
  for (const char* text : cases) {
    DriveSetup s;
    std::string error;
    EXPECT_FALSE(ParseDriveSetup(text, &s, &error)) << "accepted: " << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  EXPECT_FALSE(ParseDriveSetup("0:0:t71:usb", nullptr, nullptr));
}

TEST(EmuSetup, FormatReadsBackToTheSameDrive) {
  const char* cases[] = {
      "0:0:t71:usb",
      "7:7:\"R305 CDRW USB-X\":atapi:rev=0.01,code=0xFF,modelcode=0,disc=1",
      "2:3:r305:usb:hang=0,check=0xCC/5/0x20,busy=0@0,powerloss=256,savefail=1,noreturn=1,"
      "returnrev=ZZZZ,savetime=0,absent=1",
  };
  for (const char* text : cases) {
    DriveSetup first, second;
    std::string error;
    ASSERT_TRUE(ParseDriveSetup(text, &first, &error)) << error;
    const std::string line = FormatDriveSetup(first);
    ASSERT_TRUE(ParseDriveSetup(line, &second, &error)) << line << ": " << error;
    EXPECT_EQ(FormatDriveSetup(second), line);
    EXPECT_EQ(second.product, first.product);
    EXPECT_EQ(second.model, first.model);
    EXPECT_EQ(second.hang_opcode, first.hang_opcode);
    EXPECT_EQ(second.busy_chunk, first.busy_chunk);
    EXPECT_EQ(second.absent_ms, first.absent_ms);
    EXPECT_EQ(second.save_ms, first.save_ms);
  }
}

}  // namespace

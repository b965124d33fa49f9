// Drive discovery on a scripted bus: which drives a scan takes in each mode,
// the loader-file filter, early ends, and the readiness verdict.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "drive/discovery.h"
#include "platform/dialogs/model.h"
#include "state/app_state.h"
#include "tests/support/fake_aspi.h"
#include "tests/support/transcript_capture.h"

namespace {

struct Drive {
  std::string product;
  bool answers_query = false;  // the vendor 0xCC query (USB link)
  std::string revision = "1.00";
  bool inquiry_hangs = false;
};

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_app.AdapterCount = 1;
    CopyText(g_app.MsgUpdateFailed, kMessageSize, "Failed to update the firmware.");
    aspi_.Install();
    aspi_.script = [this](const FakeCommand& command) { return Answer(command); };
  }

  FakeReply Answer(const FakeCommand& command) {
    auto it = drives_.find({command.adapter, command.target});
    if (it == drives_.end()) {
      FakeReply none;
      none.status = SS_NO_DEVICE;
      none.after_ms = 0;
      return none;
    }
    const Drive& drive = it->second;
    switch (command.opcode()) {
      case 0x12:
        if ((command.cdb[1] & 1) != 0) return Good(RevisionAnswer(drive.revision.c_str()));
        return drive.inquiry_hangs ? Never() : Good(InquiryAnswer(drive.product.c_str()));
      case 0xCC:
        return drive.answers_query ? Good(DriveInfoAnswer(0x11, 0x04)) : CheckCondition(5, 0x20);
      default:
        return Good();
    }
  }

  // Message boxes shown so far.
  int Messages() { return static_cast<int>(transcript_.Of("message").size()); }

  int Supported() {
    int n = 0;
    for (int slot = 0; slot < kDeviceSlots; ++slot) n += g_app.DeviceSupported[slot];
    return n;
  }

  std::map<std::pair<int, int>, Drive> drives_;
  FakeAspi aspi_{1000};
  TranscriptCapture transcript_;
};

TEST_F(ScanTest, ProductIdDecidesTheModel) {
  const struct {
    const char* product;
    int first;
    int second;
  } cases[] = {
      {"T71 CDRW USB", 1, 0}, {"T71 CDRW USB2.0", 1, 0}, {"T71 CDRW US", 0, 0},
      {"T71 CDRW usb", 0, 0}, {"R305 CDRW USB", 0, 1},   {"R305 CDRW USBX", 0, 1},
      {"R305 CDRW US", 0, 0}, {"CD-ROM", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.product);
    ResetAppState();
    g_app.AdapterCount = 1;
    drives_ = {{{0, 2}, Drive{c.product}}};
    const int taken = c.first + c.second;
    EXPECT_EQ(ScanDrives(1), taken);
    EXPECT_EQ(g_app.FirstModelCount, c.first);
    EXPECT_EQ(g_app.SecondModelCount, c.second);
    EXPECT_EQ(g_app.DeviceSupported[2], taken);
    EXPECT_EQ(std::strncmp(g_app.DeviceProductId[2], c.product,
                           std::min<std::size_t>(std::strlen(c.product), 13)),
              0);
    EXPECT_EQ(g_app.DeviceProductId[2][13], '\0');
    EXPECT_STREQ(g_app.DeviceRevision[2], taken ? "1.00" : "");
  }
}

TEST_F(ScanTest, LoaderFileDecidesWhichLinkQualifies) {
  const struct {
    const char* loader;
    bool answers_query;
    bool taken;
  } cases[] = {{"", false, true},
               {"", true, false},
               {"LOADER.BIN", true, true},
               {"LOADER.BIN", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.loader) + (c.answers_query ? " usb" : " atapi"));
    ResetAppState();
    g_app.AdapterCount = 1;
    CopyText(g_app.LoaderFileName, kMaxPath, c.loader);
    drives_ = {{{0, 0}, Drive{"R305 CDRW USB", c.answers_query}}};
    EXPECT_EQ(ScanDrives(1), c.taken ? 1 : 0);
    EXPECT_EQ(g_app.DeviceSupported[0], c.taken ? 1 : 0);
  }
}

TEST_F(ScanTest, ModeOneTakesEveryDriveAndLeavesTheLast) {
  g_app.AdapterCount = 2;
  drives_ = {{{0, 1}, Drive{"T71 CDRW USB"}}, {{1, 6}, Drive{"T71 CDRW USB", false, "2.00"}}};
  EXPECT_EQ(ScanDrives(1), 1);
  EXPECT_EQ(g_app.FirstModelCount, 2);
  EXPECT_EQ(g_app.DeviceSupported[1], 1);
  EXPECT_EQ(g_app.DeviceSupported[14], 1);
  EXPECT_EQ(g_app.CurrentAdapter, 1);
  EXPECT_EQ(g_app.CurrentTarget, 6);
  EXPECT_STREQ(g_app.DeviceRevision[14], "2.00");
  EXPECT_EQ(Messages(), 0);
}

TEST_F(ScanTest, ModeTwoUsesTheCountsUpAndModeThreeCountsNothing) {
  drives_ = {{{0, 3}, Drive{"R305 CDRW USB"}}, {{0, 5}, Drive{"T71 CDRW USB"}}};
  ASSERT_EQ(ScanDrives(1), 1);
  ASSERT_EQ(g_app.FirstModelCount, 1);
  ASSERT_EQ(g_app.SecondModelCount, 1);
  g_app.CurrentAdapter = g_app.CurrentTarget = 0;

  EXPECT_EQ(ScanDrives(2), 1);
  EXPECT_EQ(g_app.FirstModelCount, 0);
  EXPECT_EQ(g_app.SecondModelCount, 0);
  EXPECT_EQ(g_app.CurrentTarget, 5);

  const std::size_t revisions = aspi_.commands.size();
  g_app.CurrentTarget = 0;
  EXPECT_EQ(ScanDrives(2), 0);
  EXPECT_EQ(g_app.CurrentTarget, 0) << "nothing taken";
  for (std::size_t i = revisions; i < aspi_.commands.size(); ++i) {
    EXPECT_FALSE(aspi_.commands[i].opcode() == 0x12 && (aspi_.commands[i].cdb[1] & 1))
        << "no revision read for a drive not taken";
  }

  EXPECT_EQ(ScanDrives(3), 1);
  EXPECT_EQ(g_app.FirstModelCount, 0);
  EXPECT_EQ(g_app.SecondModelCount, 0);
  EXPECT_EQ(g_app.CurrentTarget, 5);
  EXPECT_EQ(Messages(), 0);
}

TEST_F(ScanTest, ModeTwoTakesOnlyModelsTheFirstScanCounted) {
  drives_ = {{{0, 0}, Drive{"R305 CDRW USB"}}};
  g_app.FirstModelCount = 1;  // counted a T71 that is not back yet
  EXPECT_EQ(ScanDrives(2), 0);
  EXPECT_EQ(g_app.DeviceSupported[0], 0);
  EXPECT_EQ(g_app.FirstModelCount, 1);
}

TEST_F(ScanTest, InquiryTimeOutEndsTheWholeScan) {
  g_app.AdapterCount = 2;
  drives_ = {{{0, 1}, Drive{"T71 CDRW USB"}},
             {{0, 3}, Drive{"T71 CDRW USB", false, "1.00", true}},
             {{0, 5}, Drive{"T71 CDRW USB"}},
             {{1, 0}, Drive{"R305 CDRW USB"}}};
  EXPECT_EQ(ScanDrives(1), 0);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_EQ(Messages(), 1);
  const FakeCommand& last = aspi_.commands.back();
  EXPECT_EQ(last.opcode(), 0x12);
  EXPECT_EQ(last.adapter, 0);
  EXPECT_EQ(last.target, 3);
  EXPECT_EQ(g_app.DeviceSupported[5], 0);
  EXPECT_EQ(g_app.DeviceSupported[8], 0);
}

// Where a time-out strikes decides whether and when the scan gives up; a scan
// that gives up says so once, in an ownerless OK box in the user's language.
TEST_F(ScanTest, TimeOutsDuringTheScan) {
  const struct {
    const char* name;
    int hang_target;
    bool hang_revision;  // else the 0xCC query hangs
    int found;
    int messages;
    int last_target;  // of the last command sent
    BYTE last_opcode;
    bool last_evpd;
  } cases[] = {
      // The taken drive's revision read times out: nothing after it is asked.
      {"page 0x81 at 0:2", 2, true, 0, 1, 2, 0x12, true},
      // A query time-out at an empty address is noticed after the next
      // address's INQUIRY ...
      {"0xCC at 0:1", 1, false, 0, 1, 2, 0x12, false},
      // ... or after the revision read of a drive that is taken all the same.
      {"0xCC at 0:2", 2, false, 0, 1, 2, 0x12, true},
      // At the last address nothing follows: the scan ends normally.
      {"0xCC at 0:7", 7, false, 1, 0, 7, 0xCC, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAppState();
    g_app.AdapterCount = 1;
    g_app.MessageLanguage = 0x0411;
    CopyText(g_app.MsgUpdateFailed, kMessageSize, "Failed to update the firmware.");
    aspi_.commands.clear();
    drives_ = {{{0, 0}, Drive{"T71 CDRW USB"}},
               {{0, 2}, Drive{"T71 CDRW USB"}},
               {{0, 5}, Drive{"R305 CDRW USB"}}};
    aspi_.script = [this, &c](const FakeCommand& command) {
      if (command.target == c.hang_target) {
        const bool revision = command.opcode() == 0x12 && (command.cdb[1] & 1) != 0;
        if (c.hang_revision ? revision : command.opcode() == 0xCC) return Never();
      }
      return Answer(command);
    };
    const std::size_t boxes = dialog_model::MessageBoxes().size();
    const int messages = Messages();
    EXPECT_EQ(ScanDrives(1), c.found);
    EXPECT_EQ(g_app.AbortFlag, 1);
    EXPECT_EQ(Messages() - messages, c.messages);
    ASSERT_EQ(dialog_model::MessageBoxes().size() - boxes, static_cast<std::size_t>(c.messages));
    if (c.messages == 1) {
      const dialog_model::MessageBoxRecord& box = dialog_model::MessageBoxes().back();
      EXPECT_EQ(box.owner, nullptr);
      EXPECT_EQ(box.text, "Failed to update the firmware.");
      EXPECT_EQ(box.caption, "Quorvanta");
      EXPECT_EQ(box.style, static_cast<UINT>(MB_OK));
      EXPECT_EQ(box.language, 0x0411);
    }
    const FakeCommand& last = aspi_.commands.back();
    EXPECT_EQ(last.target, c.last_target);
    EXPECT_EQ(last.opcode(), c.last_opcode);
    EXPECT_EQ(last.cdb[1] & 1, c.last_evpd ? 1 : 0);
  }
}

TEST_F(ScanTest, ScanStartingWithAbortFlagSetStopsAfterTheFirstInquiry) {
  drives_ = {{{0, 0}, Drive{"T71 CDRW USB"}}};
  g_app.AbortFlag = 1;
  EXPECT_EQ(ScanDrives(1), 0);
  EXPECT_EQ(aspi_.commands.size(), 1u);
  EXPECT_EQ(Messages(), 1);
}

TEST_F(ScanTest, AnAddressThatStopsAnsweringKeepsItsProductId) {
  CopyText(g_app.DeviceProductId[4], 20, "T71 CDRW USB ");
  drives_ = {};
  // No drive answers at 0:4 any more, yet the slot still says T71 and the
  // drive does not answer 0xCC either: the device table's entry stands.
  EXPECT_EQ(ScanDrives(3), 1);
  EXPECT_EQ(g_app.DeviceSupported[4], 1);
}

// Five TEST UNIT READY commands in a row, the verdict of the last one.
TEST_F(ScanTest, ReadinessVerdictOfTheLastProbe) {
  const struct {
    const char* name;
    FakeReply last;
    int not_ready;
  } cases[] = {
      {"medium not present", CheckCondition(2, 0x3A), 1},
      {"becoming ready", CheckCondition(2, 0x04), 1},
      {"tray open under another key", CheckCondition(6, 0x3A), 1},
      {"ready", Good(), 0},
      {"unit attention only", CheckCondition(6, 0x29), 0},
      {"refused without sense", FakeReply{SS_ERR, 0, 0, 0, 0, {}, 1, false}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int sent = 0;
    aspi_.script = [&](const FakeCommand&) {
      return ++sent == 1 ? CheckCondition(6, 0x29) : c.last;  // power-on unit attention first
    };
    for (int i = 0; i < 5; ++i) TestUnitReady(0, 0);
    EXPECT_EQ(g_app.DriveNotReady, c.not_ready);
    EXPECT_EQ(g_app.AbortFlag, 0);
  }
}

TEST_F(ScanTest, ReadinessTimeOutSetsAbortFlagAndClearsTheVerdict) {
  g_app.DriveNotReady = 1;
  aspi_.script = [](const FakeCommand&) { return Never(); };
  TestUnitReady(0, 0);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_EQ(g_app.DriveNotReady, 0);
}

TEST_F(ScanTest, EjectWaitsUpToAMinute) {
  aspi_.script = [](const FakeCommand&) { return Good({}, 59000); };
  EjectMedium(0, 0);
  EXPECT_EQ(g_app.AbortFlag, 0);
  aspi_.script = [](const FakeCommand&) { return Never(); };
  const std::uint64_t before = aspi_.clock.Now();
  EjectMedium(0, 0);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_EQ(aspi_.clock.Now() - before, 60001u);
}

}  // namespace

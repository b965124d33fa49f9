// The drive fails at each of its commands in turn, in each of four ways,
// during one whole two-stage update and one whole direct update. Whatever
// happens, the run ends, a success is only reported when the drive really
// runs the new firmware after the next power-on, and nothing follows the
// outcome of an update once it has been shown.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/package_maker.h"
#include "tests/support/update_pc.h"

namespace fs = std::filesystem;

namespace {

struct Tally {
  int runs = 0;
  int successes = 0;
  int successes_with_new_firmware = 0;
  int hangs = 0;
};

struct MatrixCase {
  const char* name;
  const char* pc;
  const char* success;  // the transcript line that reports success
  const char* updated;  // the drive's line after a real success
};

const MatrixCase kCases[] = {
    {"two-stage", "--drive 0:0:t71:usb:code=0x11", "message: Succeed to load F/W!!",
     "drive 0:0 T71 CDRW USB rev=1.10 code=0x12 model=0x04 disc=0"},
    // The direct path reports nothing on success; it shuts down with no
    // failure shown.
    {"direct", "--os nt --drive 0:0:r305:atapi --package r305", "power: shutdown",
     "drive 0:0 R305 CDRW USB rev=1.10 code=0x11 model=0x04 disc=0"},
};

// Every command in the plain build. Under the sanitizers, which make a run
// some ten times slower, every fifth: the paths are the same ones.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kStride = 5;
#else
constexpr int kStride = 1;
#endif

const char* const kFaultNames[] = {"time-out", "check condition", "busy storm", "power loss"};
const DriveFault kFaults[] = {DriveFault::kTimeOut, DriveFault::kCheckCondition,
                              DriveFault::kBusyStorm, DriveFault::kPowerLoss};

bool Reports(const UpdateRun& run, const char* line) {
  for (const std::string& shown : run.transcript)
    if (shown == line) return true;
  return false;
}

// Messages shown after the update began writing (after the duration note).
int OutcomeMessages(const UpdateRun& run) {
  int count = 0;
  bool writing = false;
  for (const std::string& line : run.transcript) {
    if (line.rfind("note: ", 0) == 0) writing = true;
    if (writing && line.rfind("message: ", 0) == 0) ++count;
  }
  return count;
}

TEST(UpdateFaultMatrix, EveryCommandFailsInEveryWay) {
  const fs::path root = fs::temp_directory_path() / ("qv_matrix_" + std::to_string(::getpid()));
  for (const MatrixCase& matrix : kCases) {
    SCOPED_TRACE(matrix.name);
    const fs::path dir = root / matrix.name;
    ASSERT_EQ(MakeVirtualPc(dir, matrix.pc), "");
    if (std::string(matrix.name) == "direct") {
      PackageOptions alone = DefaultPackage("r305");
      alone.no_loader = true;
      std::string error;
      ASSERT_TRUE(WritePackage(dir / "drive_c" / "Quorvanta", alone, &error)) << error;
    }
    // The runs do not save the PC, so each one starts from the same drive.
    UpdateUser clean_user("", {}, 1);
    const UpdateRun clean = RunProgram(dir, {}, &clean_user);
    ASSERT_TRUE(Reports(clean, matrix.success));
    ASSERT_EQ(clean.drives.at(0), matrix.updated);

    for (int kind = 0; kind < 4; ++kind) {
      Tally tally;
      for (int at = 0; at < clean.commands; at += kStride) {
        SCOPED_TRACE(std::string(kFaultNames[kind]) + " at command " + std::to_string(at));
        UpdateUser user("", {}, 1);
        const UpdateRun run = RunProgram(dir, {}, &user, FaultPlan{0, 0, kFaults[kind], at});
        ++tally.runs;
        if (run.runaway) ++tally.hangs;
        const bool success = Reports(run, matrix.success) &&
                             !Reports(run,
                                      "message: Failed to update the firmware. Turn the power "
                                      "off PC,\\nturn the power on PC and try it again.\\nIf "
                                      "you enable DMA mode, please disable it and try to "
                                      "update again.");
        const bool updated = run.drives.at(0) == matrix.updated;
        if (success) ++tally.successes;
        if (success && updated) ++tally.successes_with_new_firmware;
        EXPECT_TRUE(!success || updated);
        EXPECT_LE(OutcomeMessages(run), 1);
      }
      EXPECT_EQ(tally.hangs, 0);
      std::printf(
          "%-9s | %-15s | runs %4d | success messages %4d | with new firmware %4d | "
          "hangs %d | crashes 0\n",
          matrix.name, kFaultNames[kind], tally.runs, tally.successes,
          tally.successes_with_new_firmware, tally.hangs);
    }
  }
  fs::remove_all(root);
}

}  // namespace

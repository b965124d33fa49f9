// This host's SCSI generic transport without a device: how the kernel's
// answers become ASPI statuses (recorded answers of QEMU's drives and
// scsi_debug, plus the transport failures), how hosts become adapter
// numbers, and what an empty machine reports and tells its user. The transport against real
// devices is tested inside a QEMU guest (tests/qemu/).
#include "platform/host/sg_answer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "emu_harness.h"
#include "platform/host/sg_aspi.h"
#include "state/app_state.h"
#include "state/catalogue.h"
#include "tests/support/dialogs_pc.h"
// The other transport, Windows' SCSI pass-through: its records' layout is
// pinned by static_asserts that this build checks as well.
#include "platform/win32/scsi_pass_through.h"

namespace {

// An answer fixture: status, host_status, driver_status, sb_len_wr, sense.
SgAnswer AnswerFixture(const std::string& name) {
  const std::vector<BYTE> bytes = emu_test::Fixture(name);
  SgAnswer answer;
  if (bytes.size() < 4) return answer;
  answer.status = bytes[0];
  answer.host_status = bytes[1];
  answer.driver_status = bytes[2];
  answer.sense_length = bytes[3];
  for (std::size_t i = 4; i < bytes.size() && i - 4 < sizeof answer.sense; ++i) {
    answer.sense[i - 4] = bytes[i];
  }
  return answer;
}

SRB_ExecSCSICmd Record() {
  SRB_ExecSCSICmd r;
  std::memset(&r, 0xEE, sizeof r);  // whatever the translation leaves is visible
  r.SRB_SenseLen = SENSE_LEN;
  return r;
}

struct Row {
  const char* name;
  SgAnswer answer;
  BYTE status;
  BYTE ha;
  BYTE targ;
  BYTE key, asc, ascq;
};

SgAnswer With(SgAnswer answer, int os_error, WORD host, WORD driver) {
  answer.os_error = os_error;
  answer.host_status = host;
  answer.driver_status = driver;
  return answer;
}

SgAnswer Status(BYTE status) {
  SgAnswer answer;
  answer.status = status;
  return answer;
}

}  // namespace

TEST(SgAnswer, TakesTheWorstThatAppliesAndFillsTheRecordAsAspiDoes) {
  const SgAnswer no_disc = AnswerFixture("sg_tur_no_disc.hex");
  const Row rows[] = {
      {"good INQUIRY", AnswerFixture("sg_inquiry_good.hex"), SS_COMP, 0, 0, 0, 0, 0},
      {"no disc", no_disc, SS_ERR, 0, STATUS_CHKCOND, 2, 0x3A, 0},
      {"vendor query refused", AnswerFixture("sg_vendor_query_refused.hex"), SS_ERR, 0,
       STATUS_CHKCOND, 5, 0x20, 0},
      {"page 0x81 refused", AnswerFixture("sg_revision_page_refused.hex"), SS_ERR, 0,
       STATUS_CHKCOND, 5, 0x24, 0},
      {"unit attention", AnswerFixture("sg_power_on_attention.hex"), SS_ERR, 0, STATUS_CHKCOND, 6,
       0x29, 1},
      {"BUSY", Status(0x08), SS_ERR, 0, STATUS_BUSY, 0, 0, 0},
      {"reservation conflict", Status(0x18), SS_ERR, 0, 0x18, 0, 0, 0},
      // The transport's failures outrank whatever status and sense came along.
      {"node gone", With(no_disc, ENODEV, 0, 0), SS_NO_DEVICE, 0, 0, 0, 0, 0},
      {"write refused", With(no_disc, EIO, 0, 0), SS_ERR, 0, 0, 0, 0, 0},
      {"target did not answer", With(no_disc, 0, 0x01, 0x08), SS_ERR, HASTAT_SEL_TO, 0, 0, 0, 0},
      {"kernel time-out", With(no_disc, 0, 0x03, 0x08), SS_ERR, HASTAT_COMMAND_TIMEOUT, 0, 0, 0, 0},
      {"aborted", With(no_disc, 0, 0x05, 0), SS_ABORTED, HASTAT_COMMAND_TIMEOUT, 0, 0, 0, 0},
      {"bus reset", With(no_disc, 0, 0x08, 0), SS_ERR, HASTAT_BUS_RESET, 0, 0, 0, 0},
      {"unknown host status", With(no_disc, 0, 0x07, 0), SS_ERR, HASTAT_PHASE_ERR, 0, 0, 0, 0},
      {"driver time-out", With(Status(0x08), 0, 0, 0x06), SS_ERR, HASTAT_COMMAND_TIMEOUT, 0, 0, 0,
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SRB_ExecSCSICmd r = Record();
    EXPECT_EQ(TranslateSgAnswer(row.answer, &r), row.status);
    EXPECT_EQ(r.SRB_HaStat, row.ha);
    EXPECT_EQ(r.SRB_TargStat, row.targ);
    EXPECT_EQ(r.SenseArea[2] & 0x0F, row.key);
    EXPECT_EQ(r.SenseArea[12], row.asc);
    EXPECT_EQ(r.SenseArea[13], row.ascq);
    // Only the SRB_SenseLen bytes the program asked for are copied.
    EXPECT_EQ(r.SenseArea[14], 0);
    EXPECT_EQ(r.SenseArea[15], 0);
  }
}

TEST(SgAnswer, HostsBecomeAdaptersInAscendingOrderUpToTheLimit) {
  EXPECT_EQ(AdapterNumbers({7, 2, 7, 0, 12, 3, 4, 5, 6, 9, 11}, 8),
            (std::vector<int>{6, 1, 6, 0, -1, 2, 3, 4, 5, 7, -1}));
  EXPECT_EQ(AdapterNumbers({}, 8), std::vector<int>{});
}

// The kernel gives up on a command 10 s after the program would (so the
// program's own time-out comes first, and a command it gave up on does not
// stay queued), and only the commands that write go to an exclusive node.
TEST(SgAnswer, KernelLimitAndExclusiveUseFollowTheCommand) {
  struct Case {
    BYTE op, byte1;
    unsigned limit_ms;
    bool writes;
  };
  const Case cases[] = {
      {0x00, 0x00, 20000, false},  // TEST UNIT READY
      {0x12, 0x01, 20000, false},  // INQUIRY, vital product data
      {0xCC, 0x00, 70000, false},  // the vendor query
      {0x1B, 0x00, 70000, false},  // eject
      {0x3B, 0x06, 70000, true},   // an image chunk
      {0x3B, 0x05, 70000, true},   // a WRITE BUFFER of another mode
      {0x3B, 0x07, 132000, true},  // the save at mode 7: 120 s and 400 ticks
      {0x3B, 0xE7, 132000, true},  // the mode is the low five bits
      {0xCD, 0xFF, 70000, true},   // the vendor load
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int{c.op} << " " << int{c.byte1});
    SRB_ExecSCSICmd r{};
    r.CDBByte[0] = c.op;
    r.CDBByte[1] = c.byte1;
    EXPECT_EQ(KernelTimeoutMs(r), c.limit_ms);
    // A rehearsal's faster clock shortens the program's part, not the margin.
    EXPECT_EQ(KernelTimeoutMs(r, 10), (c.limit_ms - 10000) / 10 + 10000);
    EXPECT_EQ(WritesIntoDrive(r), c.writes);
  }
}

TEST(SgAspi, AMachineWithoutDrivesHasNoAdapterAndEndsEveryRequestAtOnce) {
  std::vector<std::string> notes;
  SgAspi layer("/nonexistent/scsi_generic", "/dev",
               [&notes](const std::string& line) { notes.push_back(line); });
  EXPECT_EQ(layer.SupportInfo(), static_cast<DWORD>(SS_NO_ADAPTERS) << 8);

  static int posted;
  posted = 0;
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Cmd = SC_EXEC_SCSI_CMD;
  r.SRB_Flags = SRB_POSTING;
  r.SRB_CDBLen = 6;
  r.SRB_PostProc = [](SRB_ExecSCSICmd*) { ++posted; };
  layer.Send(&r);
  EXPECT_EQ(r.SRB_Status, SS_NO_DEVICE);
  EXPECT_EQ(posted, 1);
  EXPECT_FALSE(layer.Holds(&r));
  // Said once, on the first scan (the table below has its words).
  EXPECT_EQ(notes.size(), 1u);
  layer.SupportInfo();
  EXPECT_EQ(notes.size(), 1u);
}

// What the first scan tells a user who sees no drive, with the node list
// faked under a test root: no node at all, nodes of other types, a CD/DVD
// node refused for permission, one held by another program. Its one line on
// standard error, and the line beside the "no device" message, in English
// and in Japanese, as the transcript shows them. Run in a child without
// root's rights, so that the refusal is the kernel's; the busy node stands
// in for the sg driver's EBUSY.
int OpenBusy(const char* path, int flags) {
  if (std::string(path).ends_with("/sg1")) {
    errno = EBUSY;
    return -1;
  }
  return ::open(path, flags);
}

// The message lines of a launch whose first scan found no drive, through
// `layer`, in English then in Japanese.
std::string NoDeviceMessages(AspiLayer* layer) {
  std::string lines;
  for (const std::uint16_t language : {0x09, 0x11}) {
    DialogsPc pc;
    Platform platform = CurrentPlatform();
    platform.aspi = layer;
    InstallPlatform(platform);
    // A continued update: straight to the scan, no agreement to read.
    g_app.NoRestartNeeded = 1;
    g_app.AdapterCount = 0;
    g_app.PrimaryLanguage = language;
    FillCatalogue();
    pc.CreateMainWindow();
    for (const std::string& line : pc.capture->Of("message")) lines += line + "\n";
  }
  return lines;
}

TEST(SgAspi, AnEmptyListSaysWhyInOneLineAndBesideTheNoDeviceMessage) {
  struct Row {
    const char* name;
    std::vector<std::pair<const char*, int>> nodes;  // sg name, peripheral type
    bool busy;                                       // sg1 is held by another program
    const char* line;                                // ROOT stands for the test root
    const char* english;
    const char* japanese;
  };
  const Row rows[] = {
      {"no node",
       {},
       false,
       "no SCSI generic node (ROOT/dev/sg*) exists: load the driver with 'modprobe sg' (as "
       "root), or the drive is unplugged or switched off",
       "No SCSI generic device (/dev/sg*) is there: load the driver with \"modprobe sg\" (as "
       "root), and check that the drive is plugged in and switched on.",
       "ＳＣＳＩ汎用デバイス（/dev/sg*）がありません。root で「modprobe sg」を実行してドライバを"
       "読み込み、ドライブの接続と電源を確認してください。"},
      {"disks only",
       {{"sg0", 0}, {"sg1", 0}},
       false,
       "2 SCSI generic nodes (ROOT/dev/sg*), none of them a CD/DVD drive: the drive is "
       "unplugged or switched off",
       "SCSI devices found: 2, none of them a VANTROS drive: check that the drive is plugged in "
       "and switched on.",
       "ＳＣＳＩデバイスが 2 台見つかりましたが、VANTROS のドライブはありません。ドライブの接続と"
       "電源を確認してください。"},
      {"permission refused",
       {{"sg0", 0}, {"sg1", 5}},
       false,
       "cannot open ROOT/dev/sg1: permission denied; add your user to the cdrom group (then "
       "log in again) or run as root",
       "This user may not open the CD/DVD drives (1 refused): join the cdrom group and log in "
       "again, or start the program in the desktop session at this computer's own screen.",
       "このユーザーにはＣＤ／ＤＶＤドライブを開く権限がありません（1 台）。cdrom グループに参加し"
       "てログインし直すか、このコンピュータの画面のデスクトップセッションからプログラムを起動して"
       "ください。"},
      {"held by another program",
       {{"sg0", 0}, {"sg1", 5}},
       true,
       "ROOT/dev/sg1 is held by another program (a firmware update?); it is left out until that "
       "program ends",
       "Another program holds the CD/DVD drives (1 busy): end it, then start this program again.",
       "ＣＤ／ＤＶＤドライブを他のプログラムが使用中です（1 台）。そのプログラムを終了してから、"
       "このプログラムを起動し直してください。"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    char pattern[] = "/tmp/qv_sg_root.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path root = pattern;
    std::filesystem::create_directories(root / "dev");
    std::filesystem::create_directories(root / "sys");
    for (const auto& [name, type] : row.nodes) {
      std::filesystem::create_directories(root / "sys" / name / "device");
      std::ofstream(root / "sys" / name / "device" / "type") << type << "\n";
      std::ofstream(root / "dev" / name) << "";
      ::chmod((root / "dev" / name).c_str(), 0);
    }
    std::filesystem::permissions(root, std::filesystem::perms::all);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      if (::getuid() == 0 && ::setuid(65534) != 0) ::_exit(3);
      std::string notes;
      SgAspi layer((root / (row.nodes.empty() ? "absent" : "sys")).string(),
                   (root / "dev").string(),
                   [&notes](const std::string& line) { notes += line + "\n"; },
                   row.busy ? OpenBusy : nullptr);
      const bool none = layer.SupportInfo() == static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
      notes += none ? "no adapter\n" : "adapters\n";
      notes += NoDeviceMessages(&layer);
      const ssize_t written = ::write(fds[1], notes.data(), notes.size());
      ::_exit(written == static_cast<ssize_t>(notes.size()) ? 0 : 4);
    }
    ::close(fds[1]);
    std::string got;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) got.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string want = row.line;
    want.replace(want.find("ROOT"), 4, root.string());
    const std::string box = "Error: No device could be detected.\\n\\n";
    const std::string japanese_box = "エラー：デバイスが検出されませんでした。\\n\\n";
    EXPECT_EQ(got, want + "\nno adapter\n" + box + row.english + "\n" + japanese_box +
                       row.japanese + "\n");
    std::filesystem::remove_all(root);
  }
}

// Real drives through the kernel's SCSI generic driver, run inside the QEMU
// guest that sg_guest.sh boots: two VANTROS drives behind USB mass-storage
// bridges (QEMU's scsi-cd, no disc), a disk that must be left alone, and
// scsi_debug loaded on the way. The cases run in the order written: later
// ones take the drives over (exclusive opens, a delayed scsi_debug).
//
// Figures (per-command overhead against sg_turs, CPU while waiting) are
// printed as "figure:" lines; nothing is timed as an assertion except that a
// time-out ends at the command's own limit rather than never.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "drive/channel.h"
#include "drive/discovery.h"
#include "drive/transfer.h"
#include "emu_harness.h"
#include "platform/host/host_platform.h"
#include "platform/host/sg_aspi.h"
#include "platform/platform.h"
#include "platform/trace.h"
#include "state/app_state.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "/bin/quorvanta";

struct SgNode {
  std::string node;  // /dev/sgN
  int host = -1;
  int type = -1;
  std::string model;  // INQUIRY product id, trimmed
  std::string proc_name;
};

std::string ReadLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n')) line.pop_back();
  return line;
}

std::vector<SgNode> SgNodes() {
  std::vector<SgNode> nodes;
  for (const auto& entry : fs::directory_iterator("/sys/class/scsi_generic")) {
    SgNode n;
    n.node = "/dev/" + entry.path().filename().string();
    n.type = std::stoi(ReadLine(entry.path() / "device" / "type"));
    n.model = ReadLine(entry.path() / "device" / "model");
    // device -> .../hostH/targetH:C:T/H:C:T:L
    const std::string hctl = fs::canonical(entry.path() / "device").filename().string();
    n.host = std::stoi(hctl.substr(0, hctl.find(':')));
    n.proc_name = ReadLine("/sys/class/scsi_host/host" + std::to_string(n.host) + "/proc_name");
    nodes.push_back(n);
  }
  return nodes;
}

// Adapter number the program should give a CD/DVD node: the rank of its host
// among the hosts that carry one.
int ExpectedAdapter(const std::vector<SgNode>& nodes, const SgNode& node) {
  std::vector<int> hosts;
  for (const SgNode& n : nodes) {
    if (n.type == 5) hosts.push_back(n.host);
  }
  std::sort(hosts.begin(), hosts.end());
  hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
  return static_cast<int>(std::find(hosts.begin(), hosts.end(), node.host) - hosts.begin());
}

const SgNode* NodeByModel(const std::vector<SgNode>& nodes, const std::string& model) {
  for (const SgNode& n : nodes) {
    if (n.model == model) return &n;
  }
  return nullptr;
}

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
  double seconds = 0;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a program with its output in files (no pipes to drain), as `uid`.
Outcome RunProgram(const std::vector<std::string>& args, uid_t uid = 0,
                   const std::string& state_dir = "/tmp/state") {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open("/tmp/run.out", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = ::open("/tmp/run.err", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::setenv("QUORVANTA_STATE_DIR", state_dir.c_str(), 1);
    if (uid != 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(126);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Outcome run;
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = Slurp("/tmp/run.out");
  run.err = Slurp("/tmp/run.err");
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Hex bytes of the lines that follow `marker` in sg3_utils' output, read
// while lines look like hex dump lines.
std::vector<BYTE> HexAfter(const std::string& text, const std::string& marker, bool offsets) {
  std::vector<BYTE> bytes;
  const auto lines = Lines(text);
  bool on = false;
  for (const std::string& line : lines) {
    if (!on) {
      on = line.find(marker) != std::string::npos;
      continue;
    }
    std::istringstream words(offsets ? line.substr(0, 56) : line);
    std::string word;
    bool first = true;
    int got = 0;
    while (words >> word) {
      if (offsets && first) {
        first = false;
        continue;  // the offset column
      }
      if (word.size() != 2 || !std::isxdigit(static_cast<unsigned char>(word[0])) ||
          !std::isxdigit(static_cast<unsigned char>(word[1]))) {
        break;
      }
      bytes.push_back(static_cast<BYTE>(std::stoul(word, nullptr, 16)));
      ++got;
    }
    if (got == 0) break;
  }
  return bytes;
}

std::string Hex(const BYTE* bytes, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x ", bytes[i]);
    s += b;
  }
  return s;
}

// The layer under test in this process, with the lines it tells the user.
struct Layer {
  std::vector<std::string> notes;
  std::unique_ptr<SgAspi> aspi;
  std::unique_ptr<HostClock> clock;

  Layer() {
    aspi = std::make_unique<SgAspi>("/sys/class/scsi_generic", "/dev",
                                    [this](const std::string& line) { notes.push_back(line); });
    clock = std::make_unique<HostClock>(aspi.get());
    Platform p;
    p.clock = clock.get();
    p.aspi = aspi.get();
    InstallPlatform(p);
    g_app.AdapterCount = static_cast<std::uint8_t>(aspi->SupportInfo() & 0xFF);
  }
  ~Layer() { InstallPlatform(Platform{}); }

  bool Noted(const std::string& part) const {
    return std::any_of(notes.begin(), notes.end(),
                       [&](const std::string& n) { return n.find(part) != std::string::npos; });
  }

  // One command straight through the layer, waited for like the channel does.
  SRB_ExecSCSICmd Exchange(int adapter, int target, std::initializer_list<BYTE> cdb, BYTE flags,
                           BYTE* data, DWORD length) {
    SRB_ExecSCSICmd r = emu_test::Bench::Record(adapter, target, cdb, flags, data, length);
    SendASPI32Command(&r);
    EXPECT_TRUE(WaitForCompletion(10000, &r));
    return r;
  }

  // TEST UNIT READY until it stops reporting unit attentions.
  void ClearAttentions(int adapter, int target) {
    BYTE data[32];
    for (int i = 0; i < 8; ++i) {
      SRB_ExecSCSICmd r = Exchange(adapter, target, {0, 0, 0, 0, 0, 0}, 0, data, 0);
      if (r.SRB_Status == SS_COMP || (r.SenseArea[2] & 0x0F) != 6) return;
    }
  }
};

Layer* g_layer = nullptr;

std::vector<std::string> TraceLines(const std::string& path) { return Lines(Slurp(path)); }

// The trace lines for one address whose CDB starts with `opcode`.
std::vector<std::string> TraceFor(const std::vector<std::string>& trace, int adapter, int target,
                                  const std::string& opcode) {
  const std::string prefix =
      std::to_string(adapter) + ":" + std::to_string(target) + " cdb=" + opcode;
  std::vector<std::string> hits;
  for (const std::string& line : trace) {
    if (line.rfind(prefix, 0) == 0) hits.push_back(line);
  }
  return hits;
}

class SgGuest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Private, as the program makes its own state directory: an open one
    // would be tightened with a line on standard error.
    fs::create_directories("/tmp/state");
    fs::permissions("/tmp/state", fs::perms::owner_all, fs::perm_options::replace);
    g_layer = new Layer();
  }
  static void TearDownTestSuite() {
    delete g_layer;
    g_layer = nullptr;
  }

  static std::vector<SgNode> nodes() { return SgNodes(); }
};

TEST_F(SgGuest, ListShowsBothDrivesAtTheirAdaptersAndIgnoresTheDisk) {
  const auto all = nodes();
  const SgNode* t71 = NodeByModel(all, "T71 CDRW USB");
  const SgNode* r305 = NodeByModel(all, "R305 CDRW USB");
  const SgNode* disk = NodeByModel(all, "QEMU HARDDISK");
  ASSERT_TRUE(t71 && r305 && disk);
  // Each USB drive sits on a SCSI host of its own; the disk's host lies
  // between them and is no adapter.
  EXPECT_NE(t71->host, r305->host);
  const int a71 = ExpectedAdapter(all, *t71);
  const int a305 = ExpectedAdapter(all, *r305);

  Outcome run = RunProgram({kProgram, "--list", "--trace", "/tmp/list.trace"});
  EXPECT_EQ(run.code, 0) << run.err;
  std::map<int, std::string> expected = {
      {a71, std::to_string(a71) + ":0\tT71 CDRW USB\t\t-\tATAPI"},
      {a305, std::to_string(a305) + ":0\tR305 CDRW USB\t\t-\tATAPI"}};
  std::string want;
  for (const auto& [adapter, line] : expected) want += line + "\n";
  EXPECT_EQ(run.out, want);
  EXPECT_EQ(run.err, "");

  // Each command of the scan with the status and sense the drive returned.
  const auto trace = TraceLines("/tmp/list.trace");
  for (int adapter : {a71, a305}) {
    SCOPED_TRACE(adapter);
    auto inquiry = TraceFor(trace, adapter, 0, "12 00 00 00 20 00");
    ASSERT_EQ(inquiry.size(), 1u);
    EXPECT_NE(inquiry[0].find("status=0x01 targ=0x00 sense=0/00/00"), std::string::npos);
    auto vendor = TraceFor(trace, adapter, 0, "CC ");
    ASSERT_FALSE(vendor.empty());
    EXPECT_NE(vendor[0].find("status=0x04 targ=0x02 sense=5/20/00"), std::string::npos);
    auto page = TraceFor(trace, adapter, 0, "12 01 81");
    ASSERT_EQ(page.size(), 1u);
    EXPECT_NE(page[0].find("status=0x04 targ=0x02 sense=5/24/00"), std::string::npos);
    auto empty = TraceFor(trace, adapter, 1, "12 ");
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_NE(empty[0].find("status=0x82"), std::string::npos);
  }
  EXPECT_TRUE(TraceFor(trace, 2, 0, "12 ").empty()) << "only two adapters";

  run = RunProgram({kProgram, "--list", "--json"});
  EXPECT_EQ(run.code, 0);
  EXPECT_NE(run.out.find("\"product\": \"T71 CDRW USB\", \"revision\": \"\", \"version_code\": "
                         "null, \"link\": \"ATAPI\""),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"product\": \"R305 CDRW USB\""), std::string::npos);
}

TEST_F(SgGuest, Sg3UtilsAgreeWithOurLayerByteForByte) {
  const auto all = nodes();
  for (const char* model : {"T71 CDRW USB", "R305 CDRW USB"}) {
    SCOPED_TRACE(model);
    const SgNode& drive = *NodeByModel(all, model);
    const int adapter = ExpectedAdapter(all, drive);
    ASSERT_EQ(g_layer->aspi->NodeAt(adapter, 0), drive.node);

    // The standard INQUIRY data.
    BYTE data[256] = {};
    SRB_ExecSCSICmd r =
        g_layer->Exchange(adapter, 0, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, data, sizeof data);
    EXPECT_EQ(r.SRB_Status, SS_COMP);
    Outcome inq = RunProgram({"/bin/sg_inq", "-H", drive.node});
    const std::vector<BYTE> theirs = HexAfter("start\n" + inq.out, "start", true);
    ASSERT_EQ(theirs.size(), 36u) << inq.out;
    EXPECT_EQ(Hex(data, 36), Hex(theirs.data(), 36));

    // Status and sense of the commands the program sends: the sense bytes sg3_utils prints
    // are the ones our record holds (as many as the program asks for).
    struct Cmd {
      std::vector<std::string> tool;
      std::vector<BYTE> cdb;
      BYTE flags;
      DWORD length;
      BYTE key, asc;
    };
    const std::vector<Cmd> cmds = {
        {{"/bin/sg_turs", "-vv", drive.node}, {0, 0, 0, 0, 0, 0}, SRB_DIR_IN, 32, 2, 0x3A},
        {{"/bin/sg_raw", "-v", "-r", "255", drive.node, "12", "01", "81", "00", "ff", "00"},
         {0x12, 1, 0x81, 0, 0xFF, 0},
         SRB_DIR_IN,
         255,
         5,
         0x24},
        {{"/bin/sg_raw", "-v", "-r", "256", drive.node, "cc", "00", "01", "00", "00", "00", "00",
          "00", "00", "12", "00", "00"},
         {0xCC, 0, 1, 0, 0, 0, 0, 0, 0, 0x12, 0, 0},
         SRB_DIR_IN,
         256,
         5,
         0x20},
    };
    OpenTrace("/tmp/agree.trace");
    for (const Cmd& c : cmds) {
      SCOPED_TRACE(c.tool[0]);
      Outcome tool = RunProgram(c.tool);
      const std::vector<BYTE> sense = HexAfter(tool.out + tool.err, "Raw sense data", false);
      ASSERT_GE(sense.size(), 14u) << tool.out << tool.err;
      // The channel's own round trip, traced as the program traces it.
      CommandSetup setup{
          static_cast<BYTE>(adapter), 0, c.flags, nullptr, 0, c.length, nullptr, c.length, nullptr};
      BYTE cdb[kCdbSize] = {};
      std::copy(c.cdb.begin(), c.cdb.end(), cdb);
      setup.cdb = cdb;
      setup.cdb_length = static_cast<BYTE>(c.cdb.size());
      SRB_ExecSCSICmd* ours = RunCommand(setup, 10000);
      ASSERT_NE(ours, nullptr);
      EXPECT_EQ(ours->SRB_Status, SS_ERR);
      EXPECT_EQ(ours->SRB_TargStat, STATUS_CHKCOND);
      EXPECT_EQ(Hex(ours->SenseArea, 14), Hex(sense.data(), 14));
      EXPECT_EQ(ours->SenseArea[2] & 0x0F, c.key);
      EXPECT_EQ(ours->SenseArea[12], c.asc);
      ReleaseCommandRequest(ours);
    }
    CloseTrace();
    const auto trace = TraceLines("/tmp/agree.trace");
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_NE(trace[0].find("status=0x04 targ=0x02 sense=2/3A/00"), std::string::npos);
    EXPECT_NE(trace[1].find("status=0x04 targ=0x02 sense=5/24/00"), std::string::npos);
    EXPECT_NE(trace[2].find("status=0x04 targ=0x02 sense=5/20/00"), std::string::npos);
  }
}

TEST_F(SgGuest, DirectUpdateOnTheEmptyDriveEndsInTheDmaFailure) {
  const auto all = nodes();
  const int a71 = ExpectedAdapter(all, *NodeByModel(all, "T71 CDRW USB"));
  const std::string drive = std::to_string(a71) + ":0";
  // The update opens the drive exclusively: this process lets go of it first.
  delete g_layer;
  g_layer = nullptr;
  Outcome run = RunProgram(
      {kProgram, "--ui", "headless", "--yes", "--drive", drive, "--trace", "/tmp/update.trace"});
  g_layer = new Layer();
  std::printf("%s", run.out.c_str());
  EXPECT_EQ(run.code, 1) << "a failed update, told to the script\n" << run.err;
  EXPECT_NE(run.out.find("message: Failed to update the firmware. Turn the power off PC,\\nturn "
                         "the power on PC and try it again.\\nIf you enable DMA mode"),
            std::string::npos);
  EXPECT_EQ(run.out.find("Succeed"), std::string::npos);

  const auto trace = TraceLines("/tmp/update.trace");
  for (const std::string& line : trace) std::printf("trace: %s\n", line.c_str());
  const auto turs = TraceFor(trace, a71, 0, "00 00 00 00 00 00");
  ASSERT_EQ(turs.size(), 5u);
  for (const std::string& line : turs) {
    EXPECT_NE(line.find("status=0x04 targ=0x02 sense=2/3A/00"), std::string::npos) << line;
  }
  const auto writes = TraceFor(trace, a71, 0, "3B ");
  ASSERT_EQ(writes.size(), 1u) << "the chunks end at the first refusal";
  EXPECT_NE(writes[0].find("cdb=3B 06 00 00 00 00 00 08 00 00 dir=out len=4096"),
            std::string::npos);
  EXPECT_NE(writes[0].find("status=0x04 targ=0x02 sense=2/3A/00"), std::string::npos);
}

// scsi_debug's CD/DVD devices (one per host it was asked for), by host.
std::vector<SgNode> DebugNodes() {
  std::vector<SgNode> found;
  for (const SgNode& n : SgNodes()) {
    if (n.proc_name == "scsi_debug") found.push_back(n);
  }
  std::sort(found.begin(), found.end(),
            [](const SgNode& a, const SgNode& b) { return a.host < b.host; });
  return found;
}

// Waits for scsi_debug to show `count` devices.
std::vector<SgNode> WaitForDebugNodes(std::size_t count) {
  std::vector<SgNode> found;
  for (int i = 0; i < 100 && (found = DebugNodes()).size() < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return found;
}

// The adapter our layer gives a node (-1 when none).
int AdapterOf(const std::string& node) {
  for (int a = 0; a < 8; ++a) {
    if (g_layer->aspi->NodeAt(a, 0) == node) return a;
  }
  return -1;
}

// 1000 TEST UNIT READY through the program's command, through a bare record
// (no data, as sg_turs sends it) and through sg_turs (its own clock), in ten
// interleaved rounds of 100 so that the load of the machine hits all three
// alike; the ratios are the medians of the rounds.
void MeasureTestUnitReady(const char* what, int adapter, const std::string& node) {
  constexpr int kRounds = 10;
  constexpr int kPerRound = 100;
  double program = 0;
  double bare = 0;
  double tool = 0;
  std::vector<double> program_ratio;
  std::vector<double> bare_ratio;
  auto seconds_since = [](std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  const int abort_before = g_app.AbortFlag;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPerRound; ++i) TestUnitReady(static_cast<BYTE>(adapter), 0);
    const double p = seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPerRound; ++i)
      g_layer->Exchange(adapter, 0, {0, 0, 0, 0, 0, 0}, 0, nullptr, 0);
    const double b = seconds_since(start);
    // Its own clock: "time to perform commands was S secs; ...".
    Outcome run = RunProgram({"/bin/sg_turs", "-t", "-n", std::to_string(kPerRound), node});
    const std::string text = run.out + run.err;
    const std::size_t at = text.find("commands was ");
    ASSERT_NE(at, std::string::npos) << text;
    const double t = std::stod(text.substr(at + 13));
    program += p;
    bare += b;
    tool += t;
    program_ratio.push_back(p / t);
    bare_ratio.push_back(b / t);
  }
  EXPECT_EQ(g_app.AbortFlag, abort_before) << what;
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  };
  constexpr int kCount = kRounds * kPerRound;
  std::printf(
      "figure: TEST UNIT READY on %s, %d x %d interleaved: sg_turs -t %.1f us each; "
      "TestUnitReady (32-byte data-in) %.1f us each, median ratio %.3f; bare record, "
      "no data %.1f us each, median ratio %.3f\n",
      what, kRounds, kPerRound, tool * 1e6 / kCount, program * 1e6 / kCount, median(program_ratio),
      bare * 1e6 / kCount, median(bare_ratio));
}

TEST_F(SgGuest, FiguresAgainstSgTurs) {
  // Answering at once (delay 0), so that the figures are the transports' own.
  ASSERT_EQ(std::system("insmod /mod/scsi_debug.ko ptype=5 delay=0 2>/dev/null"), 0);
  const auto debug = WaitForDebugNodes(1);
  ASSERT_EQ(debug.size(), 1u);
  // Asking for the adapters again reads the list afresh.
  g_app.AdapterCount = static_cast<std::uint8_t>(GetASPI32SupportInfo() & 0xFF);
  EXPECT_EQ(g_app.AdapterCount, 3);
  const int adapter = AdapterOf(debug[0].node);
  ASSERT_EQ(adapter, ExpectedAdapter(SgNodes(), debug[0]));
  g_layer->ClearAttentions(adapter, 0);

  g_app.AbortFlag = 0;
  // What one reading of the tick count costs in this guest (each command
  // takes a few).
  const auto clock_start = std::chrono::steady_clock::now();
  DWORD sum = 0;
  for (int i = 0; i < 100000; ++i) sum += GetTickCount();
  const double clock_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - clock_start).count();
  std::printf("figure: GetTickCount %.3f us each (%u)\n", clock_s * 10, sum & 1);
  MeasureTestUnitReady("scsi_debug (answers at once)", adapter, debug[0].node);
  const auto all = SgNodes();
  const SgNode& r305 = *NodeByModel(all, "R305 CDRW USB");
  MeasureTestUnitReady("R305 behind QEMU's USB bridge", AdapterOf(r305.node), r305.node);
}

TEST_F(SgGuest, ASecondWriterIsRefusedWithOneClearLine) {
  const auto all = nodes();
  const SgNode& t71 = *NodeByModel(all, "T71 CDRW USB");
  const int a71 = ExpectedAdapter(all, t71);
  BYTE* chunk = NewChunkBuffer();
  OpenTrace("/tmp/writer.trace");

  // Another program has the drive open when the first write comes.
  const int other = ::open(t71.node.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(other, 0);
  g_app.AbortFlag = 0;
  WriteBufferChunk(static_cast<BYTE>(a71), 0, 6, 0, chunk);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_TRUE(g_layer->Noted(t71.node + " is open in another program"));
  ::close(other);

  // Now the drive is this program's alone, for the rest of the run.
  const std::size_t notes_before = g_layer->notes.size();
  WriteBufferChunk(static_cast<BYTE>(a71), 0, 6, 0, chunk);
  CloseTrace();
  const auto trace = TraceLines("/tmp/writer.trace");
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_NE(trace[0].find("status=0x04 targ=0x00"), std::string::npos) << trace[0];
  EXPECT_NE(trace[1].find("status=0x04 targ=0x02 sense=2/3A/00"), std::string::npos) << trace[1];
  // No logind in this guest: said once, not a failure.
  EXPECT_EQ(g_layer->notes.size(), notes_before + 1);
  EXPECT_TRUE(g_layer->Noted("systemd-logind is not reachable"));

  // A second program sees the drive taken and says so in one line.
  Outcome list = RunProgram({kProgram, "--list"});
  EXPECT_EQ(list.err, "quorvanta: " + t71.node +
                          " is held by another program (a firmware update?); it is left out "
                          "until that program ends\n");
  EXPECT_EQ(list.out.find("T71"), std::string::npos);
  EXPECT_NE(list.out.find("R305 CDRW USB"), std::string::npos);
  Outcome turs = RunProgram({"/bin/sg_turs", t71.node});
  EXPECT_NE(turs.code, 0) << "sg3_utils is kept out as well";
  ReleaseChunkBuffer(chunk);
}

TEST_F(SgGuest, ScsiDebugTakesWriteBufferModes6And7) {
  const auto debug = DebugNodes();
  ASSERT_EQ(debug.size(), 1u) << "loaded by the figures";
  const int adapter = AdapterOf(debug[0].node);
  ASSERT_GE(adapter, 0);

  BYTE* chunk = NewChunkBuffer();
  OpenTrace("/tmp/debug.trace");
  g_layer->ClearAttentions(adapter, 0);
  g_app.AbortFlag = 0;
  WriteBufferChunk(static_cast<BYTE>(adapter), 0, 6, 0, chunk);
  EXPECT_EQ(g_app.AbortFlag, 0);
  g_layer->ClearAttentions(adapter, 0);  // "microcode changed"
  g_app.AbortFlag = 1;
  WriteBufferFinal(static_cast<BYTE>(adapter), 0, 7, kFinalChunkOffset, chunk);
  EXPECT_EQ(g_app.AbortFlag, 0) << "a good final chunk clears the failure flag";
  ReleaseChunkBuffer(chunk);

  // The loader path's form of the same command, through the shared request.
  g_layer->ClearAttentions(adapter, 0);
  g_app.CurrentAdapter = static_cast<std::uint8_t>(adapter);
  g_app.CurrentTarget = 0;
  BYTE cdb[kCdbSize];
  BuildWriteBufferCdb(cdb, 6, 0x800, kImageChunkBytes, kCdb12);
  EXPECT_TRUE(RunSharedCommand(cdb, SRB_DIR_OUT, kImageChunkBytes, 10, 10000, false));
  CloseTrace();

  std::vector<std::string> writes;
  for (const std::string& line : TraceLines("/tmp/debug.trace")) {
    if (line.find("cdb=3B") != std::string::npos) writes.push_back(line);
  }
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_NE(writes[0].find("cdb=3B 06 00 00 00 00 00 08 00 00 dir=out len=4096 status=0x01"),
            std::string::npos);
  EXPECT_NE(writes[1].find("cdb=3B 07 00 08 00 00 00 08 00 00 dir=out len=4096 status=0x01"),
            std::string::npos);
  EXPECT_NE(writes[2].find("cdb=3B 06 00 00 08 00 00 08 00 00 00 00 dir=out len=2048 status=0x01"),
            std::string::npos);
}

// scsi_debug takes a WRITE BUFFER without looking at its data, so the data
// the same path carries out is checked where a device keeps it: a WRITE(10)
// of a known pattern through the shared request, read back by sg3_utils.
TEST_F(SgGuest, DataOutReachesTheDevice) {
  const auto debug = DebugNodes();
  ASSERT_FALSE(debug.empty());
  const std::string node = debug[0].node;
  const int adapter = AdapterOf(node);
  ASSERT_GE(adapter, 0);
  // sg3_utils cannot open the node while this process holds it.
  delete g_layer;
  g_layer = nullptr;
  // sg_raw reports a unit attention (the microcode change above) as it
  // comes: asked again, the device answers.
  auto sg_raw = [](const std::vector<std::string>& args) {
    Outcome run;
    for (int attempt = 0; attempt < 8 && run.code != 0; ++attempt) run = RunProgram(args);
    return run;
  };
  Outcome capacity = sg_raw({"/bin/sg_raw", "-r", "8", "-o", "/tmp/capacity", node, "25", "00",
                             "00", "00", "00", "00", "00", "00", "00", "00"});
  g_layer = new Layer();
  ASSERT_EQ(capacity.code, 0) << capacity.err;
  const std::string answer = Slurp("/tmp/capacity");
  ASSERT_EQ(answer.size(), 8u);
  const auto block = static_cast<DWORD>(
      (static_cast<BYTE>(answer[4]) << 24) | (static_cast<BYTE>(answer[5]) << 16) |
      (static_cast<BYTE>(answer[6]) << 8) | static_cast<BYTE>(answer[7]));
  ASSERT_TRUE(block != 0 && kImageChunkBytes % block == 0) << block;
  const auto blocks = static_cast<BYTE>(kImageChunkBytes / block);

  for (DWORD i = 0; i < kImageChunkBytes; ++i) g_app.SharedBuffer[i] = static_cast<BYTE>(i * 7 + 3);
  g_layer->ClearAttentions(adapter, 0);
  g_app.CurrentAdapter = static_cast<std::uint8_t>(adapter);
  g_app.CurrentTarget = 0;
  BYTE cdb[kCdbSize] = {0x2A, 0, 0, 0, 0, 0x10, 0, 0, blocks, 0};  // WRITE(10) at block 16
  EXPECT_TRUE(RunSharedCommand(cdb, SRB_DIR_OUT, kImageChunkBytes, 10, 10000, false));

  delete g_layer;
  Outcome back =
      sg_raw({"/bin/sg_raw", "-r", std::to_string(kImageChunkBytes), "-o", "/tmp/readback", node,
              "28", "00", "00", "00", "00", "10", "00", "00", std::to_string(blocks), "00"});
  g_layer = new Layer();
  ASSERT_EQ(back.code, 0) << back.err;
  const std::string read = Slurp("/tmp/readback");
  ASSERT_EQ(read.size(), kImageChunkBytes);
  EXPECT_EQ(std::memcmp(read.data(), g_app.SharedBuffer, kImageChunkBytes), 0)
      << "the device holds other bytes than the program sent";
}

TEST_F(SgGuest, PermissionDeniedIsOneClearLinePerDrive) {
  // The user's own state directory, as the program demands.
  fs::create_directories("/tmp/nobody");
  ::chmod("/tmp/nobody", 0700);
  ASSERT_EQ(::chown("/tmp/nobody", 65534, 65534), 0);
  Outcome run = RunProgram({kProgram, "--list"}, 65534, "/tmp/nobody");
  EXPECT_EQ(run.code, 0) << "no drive is no failed scan";
  EXPECT_EQ(run.out, "");
  int cd_nodes = 0;
  for (const SgNode& n : nodes()) {
    if (n.type != 5) continue;
    ++cd_nodes;
    EXPECT_NE(run.err.find("quorvanta: cannot open " + n.node +
                           ": permission denied; add your user to the cdrom group (then log in "
                           "again) or run as root\n"),
              std::string::npos)
        << run.err;
  }
  EXPECT_EQ(static_cast<int>(Lines(run.err).size()), cd_nodes) << run.err;
  const auto all = nodes();
  const SgNode* disk = NodeByModel(all, "QEMU HARDDISK");
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(run.err.find(disk->node + ":"), std::string::npos) << "the disk is never opened";
}

TEST_F(SgGuest, ACommandThatNeverEndsTimesOutAtItsLimitWithoutHanging) {
  // A second scsi_debug host for the program run below: the first one is
  // this process's own by now (it was written to).
  std::ofstream("/sys/bus/pseudo/drivers/scsi_debug/add_host") << 1 << "\n";
  const auto debug = WaitForDebugNodes(2);
  ASSERT_EQ(debug.size(), 2u);
  const int adapter = AdapterOf(debug[0].node);
  ASSERT_GE(adapter, 0);
  g_layer->ClearAttentions(adapter, 0);
  // From now on scsi_debug ignores every command: none of them ever ends
  // (the kernel's own time-out lies minutes away).
  std::ofstream("/sys/bus/pseudo/drivers/scsi_debug/opts") << 4 << "\n";
  std::ofstream("/sys/bus/pseudo/drivers/scsi_debug/every_nth") << 1 << "\n";

  rusage before{};
  rusage after{};
  ::getrusage(RUSAGE_SELF, &before);
  const DWORD start = GetTickCount();
  const auto wall_start = std::chrono::steady_clock::now();
  g_app.AbortFlag = 0;
  TestUnitReady(static_cast<BYTE>(adapter), 0);
  const DWORD waited = GetTickCount() - start;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(g_app.AbortFlag, 1);
  EXPECT_GE(waited, 10001u);
  EXPECT_LT(waited, 20000u) << "a loaded machine may wake the wait late, never early";
  EXPECT_EQ(ParkedRequestCount(), 1) << "the record stays with the layer";
  auto cpu = [](const rusage& r) {
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
  };
  std::printf("figure: waiting for a command that never ends: %.3f s wall, %.4f s CPU (%.3f %%)\n",
              wall, cpu(after) - cpu(before), 100.0 * (cpu(after) - cpu(before)) / wall);

  // The program itself: its scan meets the hung drive last, shows the
  // failure, lists nothing and ends with the command still outstanding.
  Outcome run = RunProgram({kProgram, "--list", "--trace", "/tmp/hang.trace"});
  std::printf("figure: --list with a hung drive ended after %.1f s\n", run.seconds);
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_LT(run.seconds, 30.0);
  std::vector<std::string> hung;
  for (const std::string& line : TraceLines("/tmp/hang.trace")) {
    if (line.find("timeout") != std::string::npos) hung.push_back(line);
  }
  ASSERT_EQ(hung.size(), 1u);
  EXPECT_NE(hung[0].find("cdb=12 00 00 00 20 00 dir=in len=256 status=0x00 targ=0x00"),
            std::string::npos)
      << hung[0];
}

}  // namespace

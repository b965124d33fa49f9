// The virtual PC as a whole: what opening it checks (and never changes), the
// system group it gives the program, and the power requests it records.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sim/virtual_pc.h"
#include "tests/support/transcript_capture.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class VirtualPcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_machine_XXXXXX";
    dir_ = ::mkdtemp(pattern);
    fs::create_directories(dir_ / "drive_c" / "WINDOWS");
    fs::create_directories(dir_ / "drive_c" / "Quorvanta");
    WriteMachine("os=98\nlang=0x0411\nticks=4294967000\nscreen=800x600\n");
    std::ofstream(dir_ / "registry.reg")
        << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run]"
           "\r\n";
    std::ofstream(dir_ / "power.log");
    ::unsetenv(kRunEntryEnvironment);
  }
  void TearDown() override {
    ::unsetenv(kRunEntryEnvironment);
    fs::remove_all(dir_);
  }
  void WriteMachine(const std::string& text) { std::ofstream(dir_ / "machine.ini") << text; }
  std::unique_ptr<VirtualPc> Open() {
    std::string error;
    auto pc = VirtualPc::Open(dir_, &error);
    EXPECT_TRUE(pc) << error;
    return pc;
  }
  // Every file of the PC with its contents, to prove nothing changed.
  std::string Snapshot() {
    std::string all;
    for (auto& entry : fs::recursive_directory_iterator(dir_)) {
      all += entry.path().string() + "\n";
      if (entry.is_regular_file()) all += ReadFile(entry.path());
    }
    return all;
  }

  fs::path dir_;
};

}  // namespace

TEST(MachineIni, RefusesWhatItDoesNotUnderstand) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"", true},
      {"# comment\r\nos=nt\r\n", true},
      {"ticks=4294967295\nadapters=8\nscreen=320x200\n", true},
      {"os=95\n", false},
      {"os=98\nos=nt\n", false},
      {"ticks=4294967296\n", false},
      {"lang=0x10000\n", false},
      {"lang=12z\n", false},
      {"screen=1024\n", false},
      {"screen=100x100\n", false},
      {"adapters=9\n", false},
      {"realtime=yes\n", false},
      {"colour=blue\n", false},
      {"os 98\n", false},
      {"fail=files.write@2,registry.enum@1=2\n", true},
      {"fail=files.fly@1\n", false},
      {"fail=registry.set@0\n", false},
      {"fail=disk.read@1\n", false},
      {"fail=files.read@1=5\n", false},
      {"fail=registry.set\n", false},
  };
  for (const auto& c : cases) {
    MachineSettings settings;
    std::string error;
    EXPECT_EQ(ParseMachineIni(c.text, &settings, &error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_NE(error.find("line"), std::string::npos) << c.text;
    }
  }
  MachineSettings settings;
  std::string error;
  ASSERT_TRUE(ParseMachineIni(FormatMachineIni({true, 0x0411, 7, 640, 480, 3, true, false,
                                                "files.write@2,registry.set@1=1009", true}),
                              &settings, &error));
  EXPECT_TRUE(settings.nt);
  EXPECT_TRUE(settings.power_cycle_by_hand);
  EXPECT_EQ(settings.lang, 0x0411);
  EXPECT_EQ(settings.ticks, 7u);
  EXPECT_EQ(settings.adapters, 3);
  EXPECT_TRUE(settings.realtime);
  EXPECT_FALSE(settings.shutdown_right);
  EXPECT_EQ(settings.fail, "files.write@2,registry.set@1=1009");
}

TEST_F(VirtualPcTest, AMissingOrMalformedPcIsOneLineAndLeftAlone) {
  std::string error;
  EXPECT_FALSE(VirtualPc::Open(dir_ / "none", &error));
  EXPECT_NE(error.find("none"), std::string::npos);

  struct Breakage {
    const char* what;
    void (*apply)(const fs::path&);
  };
  const Breakage breakages[] = {
      {"machine.ini missing", [](const fs::path& d) { fs::remove(d / "machine.ini"); }},
      {"machine.ini malformed", [](const fs::path& d) { std::ofstream(d / "machine.ini") << "x"; }},
      {"registry missing", [](const fs::path& d) { fs::remove(d / "registry.reg"); }},
      {"registry malformed", [](const fs::path& d) { std::ofstream(d / "registry.reg") << "x"; }},
      {"no C: drive", [](const fs::path& d) { fs::remove_all(d / "drive_c"); }},
  };
  for (const auto& b : breakages) {
    SetUp();
    b.apply(dir_);
    std::string before = Snapshot();
    error.clear();
    EXPECT_FALSE(VirtualPc::Open(dir_, &error)) << b.what;
    EXPECT_FALSE(error.empty()) << b.what;
    EXPECT_EQ(error.find('\n'), std::string::npos) << b.what;
    EXPECT_EQ(Snapshot(), before) << b.what;
    TearDown();
  }
}

TEST_F(VirtualPcTest, OpeningChangesNothingAndGivesTheMachinesSystem) {
  std::string before = Snapshot();
  auto pc = Open();
  ASSERT_TRUE(pc);
  EXPECT_EQ(Snapshot(), before);
  Platform p = pc->platform();
  ASSERT_TRUE(p.clock && p.aspi && p.system && p.files && p.registry);
  EXPECT_EQ(p.system->Version(), 0xC0000A04u);
  EXPECT_EQ(p.system->UserDefaultLangID(), 0x0411);
  EXPECT_EQ(pc->screen_width(), 800);
  EXPECT_EQ(pc->screen_height(), 600);
  EXPECT_EQ(p.clock->TickCount(), 4294967000u);
  char buffer[kMaxPath];
  ASSERT_EQ(p.system->WindowsDirectory(buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  EXPECT_EQ(p.system->WindowsDirectory(buffer, 5), 11u) << "too small: the size needed";
  ASSERT_GT(p.system->CurrentDirectory(sizeof buffer, buffer), 0u);
  EXPECT_STREQ(buffer, "C:\\Quorvanta");
  EXPECT_STREQ(p.system->CommandLine(), "\"C:\\Quorvanta\\Quorvanta.exe\"");
  pc->SetCommandLine("\"C:\\Quorvanta\\Quorvanta.exe\" fw.bin /NON");
  EXPECT_STREQ(p.system->CommandLine(), "\"C:\\Quorvanta\\Quorvanta.exe\" fw.bin /NON");
  EXPECT_EQ(p.system->SetCurrentDirectory("C:\\NoSuchDir"), 0);
  EXPECT_EQ(p.system->SetCurrentDirectory("c:\\windows"), 1);
  EXPECT_EQ(p.aspi->SupportInfo(), 0x0101u) << "one adapter, SS_COMP";

  // The program's registry changes reach the file at once.
  HKEY run = nullptr;
  ASSERT_EQ(p.registry->OpenKey(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_ALL_ACCESS, &run),
            ERROR_SUCCESS);
  const char data[] = "C:\\Quorvanta\\Quorvanta.exe";
  ASSERT_EQ(p.registry->SetValue(run, kRunValueName, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                 sizeof data),
            ERROR_SUCCESS);
  p.registry->CloseKey(run);
  EXPECT_NE(ReadFile(dir_ / "registry.reg").find("\"Quorvanta\"=\"C:\\\\Quorvanta"),
            std::string::npos);
  EXPECT_TRUE(pc->Save());
}

TEST_F(VirtualPcTest, TheSingleInstanceMutexIsSeenWhileItsHandleIsOpen) {
  auto pc = Open();
  ASSERT_TRUE(pc);
  System* system = pc->platform().system;
  EXPECT_EQ(system->OpenMutex(MUTEX_ALL_ACCESS, 0, "QuorvantaInstance"), nullptr);
  HANDLE mine = system->CreateMutex(0, "QuorvantaInstance");
  ASSERT_NE(mine, nullptr);
  // A second virtual program on the same PC (another process in real use)
  // finds the name.
  auto other = Open();
  HANDLE seen = other->platform().system->OpenMutex(MUTEX_ALL_ACCESS, 0, "QuorvantaInstance");
  EXPECT_NE(seen, nullptr);
  other->platform().system->CloseHandle(seen);
  EXPECT_EQ(system->CloseHandle(mine), 1);
  EXPECT_EQ(other->platform().system->OpenMutex(MUTEX_ALL_ACCESS, 0, "QuorvantaInstance"), nullptr);
}

TEST_F(VirtualPcTest, PowerRequestsAreLoggedAndTold) {
  struct Case {
    const char* machine;
    bool enable_privilege;
    DWORD flags;
    BOOL result;
    const char* logged;  // power.log afterwards
    PowerRequest request;
  };
  const Case cases[] = {
      {"os=98\n", false, EWX_REBOOT, 1, "restart\n", PowerRequest::kRestart},
      {"os=98\n", false, EWX_SHUTDOWN, 1, "shutdown\n", PowerRequest::kShutdown},
      {"os=98\n", false, EWX_LOGOFF, 0, "", PowerRequest::kNone},
      {"os=nt\n", false, EWX_SHUTDOWN, 0, "", PowerRequest::kNone},
      {"os=nt\n", true, EWX_SHUTDOWN, 1, "shutdown\n", PowerRequest::kShutdown},
      {"os=nt\nshutdownright=0\n", true, EWX_SHUTDOWN, 0, "", PowerRequest::kNone},
  };
  for (const auto& c : cases) {
    SetUp();
    WriteMachine(c.machine);
    auto pc = Open();
    ASSERT_TRUE(pc);
    System* system = pc->platform().system;
    if (c.enable_privilege) {
      HANDLE token = nullptr;
      TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
      if (system->OpenProcessToken(TOKEN_ADJUST_PRIVILEGES, &token)) {
        system->LookupPrivilegeValue(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
        system->AdjustTokenPrivileges(token, 0, &privileges);
      }
    }
    TranscriptCapture transcript;
    EXPECT_EQ(system->ExitWindows(c.flags, 0), c.result) << c.machine << c.flags;
    EXPECT_EQ(ReadFile(dir_ / "power.log"), c.logged) << c.machine << c.flags;
    EXPECT_EQ(pc->power_request(), c.request) << c.machine << c.flags;
    std::string told = c.logged[0] ? std::string("power: ") + c.logged : "";
    EXPECT_EQ(transcript.Text(), told) << c.machine << c.flags;
    pc.reset();
    TearDown();
  }
}

TEST_F(VirtualPcTest, AStartFromTheRunEntryKeepsItsOwnCommandLine) {
  ::setenv(kRunEntryEnvironment, "C:\\Quorvanta\\Quorvanta.exe", 1);
  auto pc = Open();
  ASSERT_TRUE(pc);
  EXPECT_TRUE(pc->started_from_run_entry());
  pc->SetCommandLine("\"C:\\Quorvanta\\Quorvanta.exe\"");
  Platform p = pc->platform();
  EXPECT_STREQ(p.system->CommandLine(), "C:\\Quorvanta\\Quorvanta.exe");
  char buffer[kMaxPath];
  p.system->CurrentDirectory(sizeof buffer, buffer);
  EXPECT_STREQ(buffer, "C:\\Quorvanta");
}

TEST_F(VirtualPcTest, ArmedFaultsHitExactlyTheCountedCalls) {
  WriteMachine("os=98\nfail=registry.set@2=1009,files.create@2,files.create@3\n");
  auto pc = Open();
  ASSERT_TRUE(pc);
  Platform p = pc->platform();
  HKEY run = nullptr;
  ASSERT_EQ(p.registry->OpenKey(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_ALL_ACCESS, &run),
            ERROR_SUCCESS);
  BYTE one = 1;
  const long expected_sets[] = {ERROR_SUCCESS, 1009, ERROR_SUCCESS};
  for (long expected : expected_sets) {
    EXPECT_EQ(p.registry->SetValue(run, "V", REG_BINARY, &one, 1), expected);
  }
  p.registry->CloseKey(run);
  const bool expected_creates[] = {true, false, false, true};
  for (bool expected : expected_creates) {
    HANDLE h = p.files->CreateAlways("C:\\WINDOWS\\Tellmr1.DAT");
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, expected);
    if (h != INVALID_HANDLE_VALUE) p.files->Close(h);
  }
}

TEST_F(VirtualPcTest, ARestartEndsTheProgramWhenAskedAsWindowsWould) {
  const fs::path flushed = dir_ / "buffered.txt";
  const fs::path after = dir_ / "after_restart.txt";
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string error;
    auto pc = VirtualPc::Open(dir_, &error);
    if (!pc) ::_exit(3);
    pc->EndProcessOnRestart(true);
    std::FILE* out = std::fopen(flushed.c_str(), "w");
    std::fputs("written before the restart", out);  // still in the stdio buffer
    pc->platform().system->ExitWindows(EWX_REBOOT, 0);
    std::ofstream(after) << "the program ran on";
    ::_exit(4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(dir_ / "power.log"), "restart\n");
  EXPECT_EQ(ReadFile(flushed), "written before the restart");
  EXPECT_FALSE(fs::exists(after));
}

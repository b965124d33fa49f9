// This host's platform: the language table, the state directory, the named
// mutex as a real lock between two processes, and the tick count's waits.
#include "platform/host/host_platform.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/dialogs/transcript.h"
#include "platform/posix/lock_file.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/qv_host_XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Sets an environment variable for one scope.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvVar() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(HostLanguage, JapaneseLocalesSelectJapaneseAndEverythingElseEnglish) {
  struct Case {
    const char* locale;
    LANGID expected;
  };
  const Case cases[] = {{"ja_JP.UTF-8", 0x0411},
                        {"ja", 0x0411},
                        {"ja_JP.eucJP", 0x0411},
                        {"C", 0x0409},
                        {"POSIX", 0x0409},
                        {"en_US.UTF-8", 0x0409},
                        {"", 0x0409},
                        {"j", 0x0409},
                        {"de_DE", 0x0409}};
  for (const auto& c : cases) EXPECT_EQ(LanguageFromLocale(c.locale), c.expected) << c.locale;
}

TEST(HostLanguage, LcAllWinsThenLcMessagesThenLang) {
  {
    EnvVar all("LC_ALL", "C"), messages("LC_MESSAGES", "ja_JP.UTF-8"), lang("LANG", "ja_JP");
    EXPECT_EQ(LanguageFromEnvironment(), 0x0409);
  }
  {
    EnvVar all("LC_ALL", ""), messages("LC_MESSAGES", nullptr), lang("LANG", "ja_JP.UTF-8");
    EXPECT_EQ(LanguageFromEnvironment(), 0x0411);
  }
  {
    EnvVar all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
    EXPECT_EQ(LanguageFromEnvironment(), 0x0409);
  }
}

TEST(HostState, StateDirectoryFollowsTheEnvironmentAndIsCreated) {
  TempDir dir;
  {
    EnvVar state("QUORVANTA_STATE_DIR", nullptr), xdg("XDG_STATE_HOME", nullptr),
        home("HOME", dir.path().c_str());
    EXPECT_EQ(StateDirectory(), dir.path() / ".local/state/quorvanta");
  }
  {
    EnvVar state("QUORVANTA_STATE_DIR", nullptr), xdg("XDG_STATE_HOME", dir.path().c_str());
    EXPECT_EQ(StateDirectory(), dir.path() / "quorvanta");
  }
  {
    // A relative one names no place (the XDG rules): ignored.
    EnvVar state("QUORVANTA_STATE_DIR", nullptr), xdg("XDG_STATE_HOME", "relative/x"),
        home("HOME", dir.path().c_str());
    EXPECT_EQ(StateDirectory(), dir.path() / ".local/state/quorvanta");
  }
  std::string error;
  {
    // Paths built on the Windows directory must fit the program's buffers.
    std::string deep = (dir.path() / std::string(250, 'd')).string();
    EnvVar state("QUORVANTA_STATE_DIR", deep.c_str());
    EXPECT_FALSE(HostPlatform::Create(&error));
    EXPECT_NE(error.find("too long"), std::string::npos);
    EXPECT_FALSE(fs::exists(deep));
  }
  EnvVar state("QUORVANTA_STATE_DIR", (dir.path() / "a" / "b").c_str()), all("LC_ALL", "C");
  auto host = HostPlatform::Create(&error);
  ASSERT_TRUE(host) << error;
  EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b"));
  Platform p = host->platform();
  char windows[300];
  DWORD length = p.system->WindowsDirectory(windows, sizeof windows);
  EXPECT_EQ(std::string(windows, length), (dir.path() / "a" / "b").string());
  EXPECT_EQ(p.system->Version() & 0x80000000u, 0u) << "the NT family";
  EXPECT_EQ(p.aspi->SupportInfo() & 0xFF, 0u) << "no host adapters yet";
  // The host is never restarted or powered off; the transcript shows what
  // was asked.
  char transcript[64] = {};
  std::FILE* stream = fmemopen(transcript, sizeof transcript - 1, "w");
  SetTranscript(stream);
  EXPECT_EQ(p.system->ExitWindows(EWX_REBOOT, 0), 0);
  EXPECT_EQ(p.system->ExitWindows(EWX_SHUTDOWN, 0), 0);
  SetTranscript(nullptr);
  std::fclose(stream);
  EXPECT_STREQ(transcript, "power: restart\npower: shutdown\n");
  // A restart is followed by what the views tell the user instead; the
  // shutdown's power cycle is asked for by the update itself, which then
  // looks at the drive again.
  static std::string seen;
  seen.clear();
  SetPlatformEventSink([](const PlatformEvent& e) {
    seen += std::to_string(static_cast<int>(e.kind)) + ":" + std::string(e.text) + "|";
  });
  p.system->ExitWindows(EWX_REBOOT, 0);
  p.system->ExitWindows(EWX_SHUTDOWN, 0);
  SetPlatformEventSink(nullptr);
  const auto request = std::to_string(static_cast<int>(PlatformEventKind::kPowerRequest));
  const auto notice = std::to_string(static_cast<int>(PlatformEventKind::kPowerNotCarriedOut));
  EXPECT_EQ(seen, request + ":restart|" + notice + ":" + kRestartNotCarriedOut + "|" + request +
                      ":shutdown|");
  EXPECT_EQ(p.system->DrivePowerCycledByHand(), 1);

  // The registry lives in the state directory and survives the process.
  HKEY key = nullptr;
  ASSERT_EQ(p.registry->CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  BYTE one = 1;
  ASSERT_EQ(p.registry->SetValue(key, "V", REG_BINARY, &one, 1), ERROR_SUCCESS);
  p.registry->CloseKey(key);
  // Saved whole by a rename, readable as the file it replaced was.
  EXPECT_EQ(fs::status(dir.path() / "a" / "b" / "registry.reg").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
  auto again = HostPlatform::Create(&error);
  ASSERT_TRUE(again) << error;
  EXPECT_NE(again->registry().FindValue("SOFTWARE\\Q", "V"), nullptr);
}

TEST(NamedMutex, ExistsForAnotherProcessOnlyWhileItsCreatorLives) {
  TempDir dir;
  NamedMutexTable table(dir.path(), "q-");
  EXPECT_EQ(table.Open("QuorvantaInstance"), nullptr) << "nobody created it";

  int to_child[2], to_parent[2];
  ASSERT_EQ(::pipe(to_child), 0);
  ASSERT_EQ(::pipe(to_parent), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    NamedMutexTable mine(dir.path(), "q-");
    HANDLE h = mine.Create(false, "QuorvantaInstance");
    char c = h ? 'c' : 'x';
    (void)!::write(to_parent[1], &c, 1);
    (void)!::read(to_child[0], &c, 1);  // hold it until told to end
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(to_parent[0], &c, 1), 1);
  ASSERT_EQ(c, 'c');
  HANDLE seen = table.Open("QuorvantaInstance");
  EXPECT_NE(seen, nullptr) << "the other process holds the name";
  EXPECT_EQ(table.Close(seen), 1);
  EXPECT_EQ(table.Open("OtherName"), nullptr);
  // The child ends without closing anything: the kernel drops the lock.
  (void)!::write(to_child[1], "x", 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(table.Open("QuorvantaInstance"), nullptr) << "its creator has ended";

  // Within one process: a created name is seen by Open until its handle closes.
  HANDLE created = table.Create(false, "QuorvantaInstance");
  ASSERT_NE(created, nullptr);
  HANDLE opened = table.Open("QuorvantaInstance");
  EXPECT_NE(opened, nullptr);
  EXPECT_EQ(table.Release(created), 0) << "created unowned: nothing to release";
  EXPECT_EQ(table.Close(opened), 1);
  EXPECT_EQ(table.Close(created), 1);
  EXPECT_EQ(table.Close(created), 0);
  EXPECT_EQ(table.Open("QuorvantaInstance"), nullptr);
  // A lock file the group may write is not used: it could be held against
  // this user for good.
  std::ofstream(table.LockPath("Shared")).put('\n');
  fs::permissions(table.LockPath("Shared"), fs::perms::owner_read | fs::perms::owner_write |
                                                fs::perms::group_read | fs::perms::group_write);
  EXPECT_EQ(table.Create(false, "Shared"), nullptr);
  ::close(to_child[0]), ::close(to_child[1]), ::close(to_parent[0]), ::close(to_parent[1]);
}

TEST(HostClock, WaitsSleepToTheDeadlineAndEndWithTheRequest) {
  HostClock clock;
  DWORD before = clock.TickCount();
  auto start = std::chrono::steady_clock::now();
  clock.Wait(nullptr, 30);
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, std::chrono::milliseconds(29));  // whole ticks, so up to 1 ms early
  EXPECT_GE(static_cast<DWORD>(clock.TickCount() - before), 30u);
  SRB_ExecSCSICmd done{};
  done.SRB_Status = SS_COMP;
  start = std::chrono::steady_clock::now();
  clock.Wait(&done, 5000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST(HostClock, ARehearsalRateRunsTheTicksFasterFromWhereTheyWere) {
  HostClock clock;
  const DWORD before = clock.TickCount();
  clock.SetRehearsalRate(100);
  const DWORD after = clock.TickCount();
  EXPECT_LT(static_cast<DWORD>(after - before), 50u) << "no jump when the rate changes";
  const auto start = std::chrono::steady_clock::now();
  clock.Wait(nullptr, 3000);
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(static_cast<DWORD>(clock.TickCount() - after), 3000u);
  EXPECT_GE(spent, std::chrono::milliseconds(29));
  EXPECT_LT(spent, std::chrono::milliseconds(1500)) << "3 s of ticks in about 30 ms";
}

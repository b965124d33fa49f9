#include <gtest/gtest.h>

#include <vector>

#include "app/launcher.h"
#include "app/package_option.h"
#include "platform/dialogs/views.h"

namespace {

struct Parsed {
  bool ok;
  LaunchOptions options;
  std::string error;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "quorvanta");
  Parsed p;
  p.ok = ParseLaunchOptions(static_cast<int>(args.size()), args.data(), &p.options, &p.error);
  return p;
}

TEST(LaunchOptions, ImageAndOptionFollowTheOptions) {
  Parsed p = Parse({"--machine", "/tmp/pc", "--ui", "headless", "--yes", "fw.bin", "/NON"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.machine_dir, "/tmp/pc");
  EXPECT_TRUE(p.options.autopilot);
  EXPECT_EQ(p.options.arguments, (std::vector<std::string>{"fw.bin", "/NON"}));
}

TEST(LaunchOptions, DoubleDashPassesOptionLookingWords) {
  Parsed p = Parse({"--list", "--", "--odd", "x"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.list);
  EXPECT_EQ(p.options.arguments, (std::vector<std::string>{"--odd", "x"}));
}

TEST(LaunchOptions, DriveAddress) {
  Parsed p = Parse({"--drive", "1:7"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.drive_adapter, 1);
  EXPECT_EQ(p.options.drive_target, 7);
}

TEST(LaunchOptions, FamilyIsForThisHostOnly) {
  EXPECT_TRUE(Parse({"--family", "98"}).options.family_98);
  EXPECT_FALSE(Parse({"--family", "nt"}).options.family_98);
  // Unless told otherwise the update checks what it wrote.
  EXPECT_TRUE(Parse({}).options.family_98);
  EXPECT_FALSE(Parse({"--family", "95"}).ok);
  EXPECT_FALSE(Parse({"--machine", "/tmp/pc", "--family", "98"}).ok);
  EXPECT_EQ(Parse({}).options.rehearsal_clock_rate, 1);
  EXPECT_EQ(Parse({"--rehearsal-clock-rate", "1000"}).options.rehearsal_clock_rate, 1000);
  EXPECT_FALSE(Parse({"--machine", "/tmp/pc", "--rehearsal-clock-rate", "20"}).ok);
  EXPECT_EQ(Parse({"--package", "/srv/fw", "fw.bin"}).options.package_dir, "/srv/fw");
  EXPECT_FALSE(Parse({"--machine", "/tmp/pc", "--package", "/srv/fw"}).ok);
}

TEST(LaunchOptions, DashHAsksForHelpBeforeTheImageOnly) {
  EXPECT_TRUE(Parse({"-h"}).options.help);
  Parsed image = Parse({"fw.bin", "-h"});
  EXPECT_FALSE(image.options.help);
  EXPECT_EQ(image.options.arguments, (std::vector<std::string>{"fw.bin", "-h"}));
}

TEST(LaunchOptions, UsageErrorsAreOneLine) {
  const std::vector<std::vector<const char*>> bad = {
      {"--bogus"},
      {"--machine"},
      {"--ui", "fancy"},
      {"--drive", "8:0"},
      {"--drive", "0-0"},
      {"--json"},
      {"--drive", ":1"},
      {"--yes", "--script", "s"},
      {"--trace"},
      {"--machine", ""},
      {"--script", ""},
      {"--trace", ""},
      {"--ui", ""},
      {"--drive", ""},
      {"--rehearsal-clock-rate", "0"},
      {"--rehearsal-clock-rate", "1001"},
      {"--rehearsal-clock-rate", "2x"},
      {"--package"},
  };
  for (const auto& args : bad) {
    Parsed p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0];
    EXPECT_FALSE(p.error.empty());
    EXPECT_EQ(p.error.find('\n'), std::string::npos);
    // Each points to the help, and none to the autopilot, which on this
    // host would update a drive without asking.
    EXPECT_NE(p.error.find("--help"), std::string::npos) << p.error;
    if (std::string(args[0]) != "--yes") {
      EXPECT_EQ(p.error.find("--yes"), std::string::npos) << p.error;
    }
  }
}

TEST(DefaultView, UiWinsThenDisplayThenTerminalThenHeadless) {
  struct Row {
    const char* ui;
    bool scripted, display, terminal;
    ViewKind view;
  };
  const Row rows[] = {
      {"", false, true, true, ViewKind::kDesktop},
      {"", false, false, true, ViewKind::kTerminal},
      {"", false, false, false, ViewKind::kHeadless},
      {"", true, true, true, ViewKind::kHeadless},
      {"terminal", false, true, false, ViewKind::kTerminal},
      {"desktop", false, false, true, ViewKind::kDesktop},
      {"headless", false, true, true, ViewKind::kHeadless},
  };
  for (const Row& r : rows)
    EXPECT_EQ(DefaultViewKind(r.ui, r.scripted, r.display, r.terminal), r.view)
        << "ui '" << r.ui << "' scripted " << r.scripted << " display " << r.display << " terminal "
        << r.terminal;
}

TEST(WindowsCommandLine, QuotedPathThenSingleBlanks) {
  EXPECT_EQ(BuildWindowsCommandLine("C:\\Q\\Quorvanta.exe", {}), "\"C:\\Q\\Quorvanta.exe\"");
  EXPECT_EQ(BuildWindowsCommandLine("/usr/bin/quorvanta", {"fw.bin", "/NON"}),
            "\"/usr/bin/quorvanta\" fw.bin /NON");
}

TEST(WindowsCommandLine, PackageOptionTakenFromTheFrontOnly) {
  struct Row {
    const char* line;
    int taken;
    const char* rest;
    const char* folder;
  };
  const Row rows[] = {
      {"\"C:\\Q\\Quorvanta.exe\" --package D:\\fw fw.bin /NON", 1,
       "\"C:\\Q\\Quorvanta.exe\" fw.bin /NON", "D:\\fw"},
      {"\"C:\\Q.exe\" --package \"D:\\my fw\"", 1, "\"C:\\Q.exe\"", "D:\\my fw"},
      // The description itself names its folder.
      {"\"C:\\Q.exe\" --package \"D:\\my fw\\TELLUMAR.INF\" fw.bin", 1, "\"C:\\Q.exe\" fw.bin",
       "D:\\my fw"},
      {"\"C:\\Q.exe\" --package D:\\Tellumar.inf", 1, "\"C:\\Q.exe\"", "D:\\"},
      // Behind the image it is the image's option, as it always was.
      {"\"C:\\Q.exe\" fw.bin --package D:\\fw", 0, "", ""},
      {"\"C:\\Q.exe\" --package", 0, "", ""},
      {"\"C:\\Q.exe\" --package \"D:\\open", 0, "", ""},
  };
  for (const Row& r : rows) {
    char rest[261] = {};
    char folder[261] = {};
    EXPECT_EQ(TakePackageOption(r.line, rest, folder), r.taken) << r.line;
    EXPECT_STREQ(rest, r.rest) << r.line;
    EXPECT_STREQ(folder, r.folder) << r.line;
  }
}

}  // namespace

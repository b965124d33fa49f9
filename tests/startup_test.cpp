#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/dialogs.h"
#include "platform/dialogs/model.h"
#include "platform/dialogs/model_state.h"
#include "state/app_state.h"
#include "tests/support/fake_pc.h"
#include "tests/support/transcript_capture.h"

namespace {

struct ArgumentCase {
  const char* command_line;
  const char* data_file;
  const char* data_option;
};

TEST(CommandLine, ArgumentsAfterTheQuotedProgramPath) {
  const ArgumentCase cases[] = {
      {"\"C:\\Q\\Quorvanta.exe\"", "", ""},
      {"\"C:\\Q\\Quorvanta.exe\" ", "", ""},
      {"\"C:\\Q\\Quorvanta.exe\" fw.bin", "fw.bin", ""},
      {"\"C:\\Q\\Quorvanta.exe\" fw.bin /NON", "fw.bin", "/NON"},
      {"\"C:\\Q\\Quorvanta.exe\" fw.bin /non", "fw.bin", "/non"},
      {"\"C:\\Q\\Quorvanta.exe\" fw.bin /NON third", "fw.bin", "/NON"},
      {"\"C:\\Q\\Quorvanta.exe\" fw.bin    /NON", "fw.bin", "/NON"},
      // Quotes around an argument mean nothing.
      {"\"C:\\Q\\Quorvanta.exe\" \"fw.bin\"", "\"fw.bin\"", ""},
      // A second blank after the path makes the name empty and the image the option.
      {"\"C:\\Q\\Quorvanta.exe\"  fw.bin", "", "fw.bin"},
      // No closing quote from the second character on: no arguments.
      {"Quorvanta.exe fw.bin", "", ""},
      {"\"", "", ""},
      {"", "", ""},
  };
  for (const ArgumentCase& c : cases) {
    char file[kMaxPath];
    char option[kMaxPath];
    ParseCommandLineArguments(c.command_line, file, option);
    EXPECT_STREQ(file, c.data_file) << c.command_line;
    EXPECT_STREQ(option, c.data_option) << c.command_line;
  }
}

TEST(CommandLine, OverlongLineAndTokensAreCutInsideTheirBuffers) {
  std::string line =
      "\"C:\\Quorvanta.exe\" " + std::string(400, 'a') + " /" + std::string(300, 'b');
  char file[kMaxPath + 8];
  char option[kMaxPath + 8];
  std::memset(file, 'X', sizeof file);
  std::memset(option, 'X', sizeof option);
  ParseCommandLineArguments(line.c_str(), file, option);
  // The line itself is held in 261 bytes, so the name runs to its end.
  EXPECT_EQ(std::strlen(file), 260u - 19u);
  EXPECT_STREQ(option, "");
  EXPECT_EQ(file[kMaxPath], 'X');  // nothing written past the buffer

  std::string with_option = "\"p\" a " + std::string(500, 'o');
  ParseCommandLineArguments(with_option.c_str(), file, option);
  EXPECT_STREQ(file, "a");
  EXPECT_EQ(std::strlen(option), 260u - 6u);
}

TEST(CommandLine, ProgramPath) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"C:\\Q\\Quorvanta.exe\" fw.bin", "C:\\Q\\Quorvanta.exe"},
      {"\"C:\\Q\\Quorvanta.exe\"", "C:\\Q\\Quorvanta.exe"},
      {"Quorvanta.exe fw.bin", "uorvanta.exe fw.bin"},
      {"", ""},
  };
  for (const auto& [line, path] : cases) {
    char out[kMaxPath];
    ExtractProgramPath(line, out);
    EXPECT_STREQ(out, path) << line;
  }
}

class StartupTest : public ::testing::Test {
 protected:
  FakePc pc;
  TranscriptCapture transcript;

  void AddPackage(const char* description = "fw.bin\r\n") {
    pc.files.files["Tellumar.inf"] = description;
    pc.files.files["fw.bin"] = ValidT71Image("1.10");
  }
  int Run() {
    dialog_model::Reset();
    int exit_code = -1;
    int go_on = RunStartupChecks(nullptr, nullptr, &exit_code);
    return go_on ? 100 : exit_code;
  }
};

TEST_F(StartupTest, SecondInstanceEndsSilently) {
  pc.system.other_instance_running = true;
  AddPackage();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(transcript.Text(), "");
  EXPECT_EQ(pc.system.calls, (std::vector<std::string>{"open QuorvantaInstance", "close"}));
}

TEST_F(StartupTest, LanguageTable) {
  const std::pair<LANGID, bool> cases[] = {
      {0x0411, true}, {0x0811, true}, {0x0409, false}, {0x0804, false}, {0x0412, false}};
  for (const auto& [id, japanese] : cases) {
    ResetAppState();
    pc.system.language = id;
    AddPackage();
    EXPECT_EQ(Run(), 100);
    EXPECT_EQ(g_app.PrimaryLanguage == 0x11, japanese) << std::hex << id;
    EXPECT_EQ(g_app.MessageLanguage, id);
    EXPECT_EQ(std::string(g_app.MsgNoDevice) == "Error: No device could be detected.", !japanese);
  }
}

TEST_F(StartupTest, FreshLaunchReadsTheDescription) {
  AddPackage("fw.bin /NON\r\nload.bin\r\n");
  pc.files.files["load.bin"] = std::string(28736, '\0');
  ASSERT_EQ(Run(), 100);
  EXPECT_STREQ(g_app.DataFileName, "fw.bin");
  EXPECT_STREQ(g_app.LoaderFileName, "load.bin");
  EXPECT_EQ(g_app.NoVersionCheck, 1);
  EXPECT_EQ(g_app.NoLoaderVersionCheck, 0);
  EXPECT_EQ(g_app.NoRestartNeeded, 0);
  EXPECT_STREQ(g_app.ProgramPath, "C:\\Quorvanta\\Quorvanta.exe");
  EXPECT_STREQ(g_app.RegistryResumePath, "C:\\WINDOWS\\Tellmr1.DAT");
  EXPECT_STREQ(g_app.LaunchResumePath, "C:\\WINDOWS\\Tellmr2.DAT");
  EXPECT_EQ(g_app.AdapterCount, 1);
  EXPECT_EQ(g_app.AspiSupportInfo, 0x0101u);
}

TEST_F(StartupTest, ImageOnTheCommandLineSkipsTheDescription) {
  AddPackage("other.bin\r\nload.bin\r\n");
  pc.system.command_line = "\"C:\\Quorvanta\\Quorvanta.exe\" fw.bin /NON";
  ASSERT_EQ(Run(), 100);
  EXPECT_STREQ(g_app.DataFileName, "fw.bin");
  EXPECT_EQ(g_app.NoVersionCheck, 1);
  EXPECT_STREQ(g_app.LoaderFileName, "");

  // Only "/NON" itself turns the check off.
  for (const char* option : {"/non", "/NONE", "/NO"}) {
    ResetAppState();
    pc.system.command_line = std::string("\"C:\\Quorvanta\\Quorvanta.exe\" fw.bin ") + option;
    ASSERT_EQ(Run(), 100);
    EXPECT_EQ(g_app.NoVersionCheck, 0) << option;
  }
}

TEST_F(StartupTest, NtFamilyNeedsNoRestart) {
  pc.system.version = 0x0A280105;
  AddPackage();
  ASSERT_EQ(Run(), 100);
  EXPECT_EQ(g_app.IsNT, 1);
  EXPECT_EQ(g_app.NoRestartNeeded, 1);
  EXPECT_STREQ(g_app.DataFileName, "fw.bin");
}

TEST_F(StartupTest, OneResumeFileIsAFreshLaunchAndIsLeftAlone) {
  AddPackage();
  pc.files.files["C:\\WINDOWS\\Tellmr1.DAT"] = "x";
  ASSERT_EQ(Run(), 100);
  EXPECT_EQ(g_app.NoRestartNeeded, 0);
  EXPECT_TRUE(pc.files.deleted.empty());
  EXPECT_EQ(pc.files.open_handles(), 0);
}

TEST_F(StartupTest, MissingPackageEndsWithItsMessage) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(transcript.Text(), "message: Error: Couldn't find data file.\nanswer: OK\n");
}

TEST_F(StartupTest, WrongSizeEndsWithItsMessage) {
  AddPackage();
  pc.files.files["fw.bin"].resize(526335);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(transcript.Text(), "message: Error: Invalid file size.\nanswer: OK\n");
}

TEST_F(StartupTest, ResumedLaunchCleansUpWhenThePackageFails) {
  pc.files.files["C:\\WINDOWS\\Tellmr1.DAT"] = "x";
  pc.files.files["C:\\WINDOWS\\Tellmr2.DAT"] = "y";
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(g_app.NoRestartNeeded, 1);
  // The launch file goes first, so that a crash between leaves no launch
  // that takes itself for a resumed one.
  EXPECT_EQ(pc.files.deleted,
            (std::vector<std::string>{"C:\\WINDOWS\\Tellmr2.DAT", "C:\\WINDOWS\\Tellmr1.DAT"}));
}

TEST_F(StartupTest, NtNeverCleansUpResumeFiles) {
  pc.system.version = 0x0A280105;
  pc.files.files["C:\\WINDOWS\\Tellmr1.DAT"] = "x";
  pc.files.files["C:\\WINDOWS\\Tellmr2.DAT"] = "y";
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(pc.files.deleted.empty());
}

TEST_F(StartupTest, MissingLoaderFileEndsWithNoDataFile) {
  AddPackage("fw.bin\r\nmissing.bin\r\n");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(transcript.Text(), "message: Error: Couldn't find data file.\nanswer: OK\n");
}

TEST_F(StartupTest, NoWindowsDirectoryStillBuildsThePaths) {
  pc.system.windows_directory.clear();
  AddPackage();
  ASSERT_EQ(Run(), 100);
  EXPECT_STREQ(g_app.RegistryResumePath, "\\Tellmr1.DAT");
  std::string text = transcript.Text();
  EXPECT_NE(text.find("message: Failed to update the firmware."), std::string::npos);
}

// What each start-up message box carries besides its text: no owner, the
// program's caption, OK alone and the user's whole language id; only the
// class-registration box, shown before the language is known, differs.
TEST_F(StartupTest, MessageBoxesHaveNoOwnerAndTheUsersLanguage) {
  using Message = char(AppState::*)[kMessageSize];
  struct BoxCase {
    const char* name;
    LANGID language;
    std::function<void(FakePc&)> arrange;
    std::vector<Message> shown;  // catalogue buffers, read after the run
  };
  const BoxCase cases[] = {
      {"missing image, Japanese", 0x0411, [](FakePc&) {}, {&AppState::MsgNoDataFile}},
      {"no Windows directory, bad size",
       0x0811,
       [](FakePc& p) {
         p.system.windows_directory.clear();
         p.files.files["Tellumar.inf"] = "fw.bin\r\n";
         p.files.files["fw.bin"] = std::string(10, 'x');
       },
       {&AppState::MsgUpdateFailed, &AppState::MsgUpdateFailed, &AppState::MsgBadSize}},
      {"loader missing, Chinese",
       0x0804,
       [](FakePc& p) {
         p.files.files["Tellumar.inf"] = "fw.bin\r\nmissing.bin\r\n";
         p.files.files["fw.bin"] = ValidT71Image("1.10");
       },
       {&AppState::MsgNoDataFile}},
  };
  for (const BoxCase& c : cases) {
    ResetAppState();
    pc.files.files.clear();
    pc.system.windows_directory = "C:\\WINDOWS";
    pc.system.language = c.language;
    c.arrange(pc);
    EXPECT_EQ(Run(), 0) << c.name;
    const auto& boxes = dialog_model::MessageBoxes();
    ASSERT_EQ(boxes.size(), c.shown.size()) << c.name;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(boxes[i].text, g_app.*c.shown[i]) << c.name << " box " << i;
      EXPECT_EQ(boxes[i].owner, nullptr) << c.name;
      EXPECT_EQ(boxes[i].caption, "Quorvanta") << c.name;
      EXPECT_EQ(boxes[i].style, MB_OK) << c.name;
      EXPECT_EQ(boxes[i].language, c.language) << c.name;
    }
  }
}

TEST_F(StartupTest, ClassRegistrationFailureHasItsOwnBox) {
  AddPackage();
  dialog_model::Reset();
  WNDCLASSA taken = {};
  taken.lpfnWndProc = MainWindowProc;
  taken.lpszClassName = "LINKTEST";
  ASSERT_NE(RegisterClassA(&taken), 0);
  int exit_code = -1;
  EXPECT_EQ(RunStartupChecks(nullptr, nullptr, &exit_code), 0);
  EXPECT_EQ(exit_code, 0);
  const auto& boxes = dialog_model::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "WinMain(): RegisterClass() failed");
  EXPECT_EQ(boxes[0].caption, "Error - ASPI for Win32");
  EXPECT_EQ(boxes[0].style, 0x30u);
  EXPECT_EQ(boxes[0].language, 0);
  EXPECT_EQ(boxes[0].owner, nullptr);
  // Nothing after the class was attempted: no catalogue, no package check.
  EXPECT_STREQ(g_app.MsgNoDevice, "");
}

TEST_F(StartupTest, WindowClassAsRegistered) {
  AddPackage();
  dialog_model::Reset();
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x400000);
  int exit_code = -1;
  ASSERT_EQ(RunStartupChecks(instance, nullptr, &exit_code), 1);
  EXPECT_EQ(g_app.AppInstance, instance);
  const auto& classes = dialog_model::State().classes;
  auto it = classes.find("LINKTEST");
  ASSERT_NE(it, classes.end());
  const WNDCLASSA& c = it->second;
  EXPECT_EQ(c.style, 0u);
  EXPECT_EQ(c.lpfnWndProc, MainWindowProc);
  EXPECT_EQ(c.cbClsExtra, 0);
  EXPECT_EQ(c.cbWndExtra, 0);
  EXPECT_EQ(c.hInstance, instance);
  EXPECT_EQ(c.hbrBackground, GetStockObject(WHITE_BRUSH));
  EXPECT_STREQ(c.lpszMenuName, "Menu");
}

// Who reads Tellumar.inf: a fresh launch, or any NT launch, when no image was
// named; a resumed Windows 95/98 launch never does. LoaderFileName can only
// come from the description, so it shows whether it was read.
TEST_F(StartupTest, DescriptionReadUnlessAResumedWindows98Launch) {
  const struct {
    const char* name;
    DWORD version;
    int resume_files;
    bool read;
    int no_restart_needed;
  } cases[] = {
      {"fresh 98", 0xC0000A04, 0, true, 0},    {"98, one resume file", 0xC0000A04, 1, true, 0},
      {"resumed 98", 0xC0000A04, 2, false, 1}, {"fresh NT", 0x0A280105, 0, true, 1},
      {"resumed NT", 0x0A280105, 2, true, 1},
  };
  for (const auto& c : cases) {
    ResetAppState();
    pc.files.files.clear();
    pc.system.version = c.version;
    AddPackage("fw.bin\r\nload.bin\r\n");
    pc.files.files["load.bin"] = std::string(28736, '\0');
    if (c.resume_files >= 1) pc.files.files["C:\\WINDOWS\\Tellmr1.DAT"] = "x";
    if (c.resume_files >= 2) pc.files.files["C:\\WINDOWS\\Tellmr2.DAT"] = "y";
    Run();
    EXPECT_STREQ(g_app.LoaderFileName, c.read ? "load.bin" : "") << c.name;
    EXPECT_EQ(g_app.NoRestartNeeded, c.no_restart_needed) << c.name;
  }
}

}  // namespace

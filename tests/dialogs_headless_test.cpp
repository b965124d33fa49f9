// The headless view: scripts (their errors name the line), the autopilot,
// and what the run reports when the user cannot go on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/dialogs/model.h"
#include "platform/dialogs/views.h"
#include "state/app_state.h"
#include "tests/support/dialogs_pc.h"

namespace {

INT_PTR DialogProcThatFails(HWND, UINT, WPARAM, LPARAM) {
  ADD_FAILURE() << "a dialog ran after the user gave up";
  return 0;
}

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 96; ++i)
      std::snprintf(&g_app.AgreementText[i * kAgreementSlotSize], kAgreementSlotSize, "Line %d", i);
  }
  void TearDown() override { std::remove(ScriptPath().c_str()); }
  // One file per process: checkouts that run the suite side by side share /tmp.
  static std::string ScriptPath() {
    return ::testing::TempDir() + "dialogs_headless_" + std::to_string(::getpid()) + ".qvs";
  }
  std::string Script(const std::string& text) {
    std::string path = ScriptPath();
    std::ofstream(path) << text;
    return path;
  }
  // Runs the program's dialogue under a script; the exit code of the view.
  int RunScript(const std::string& text, std::string* error) {
    dialog_model::Reset();
    pc_.RegisterMainWindowClass();
    g_app.TopLine = 0;
    std::string path = Script(text);
    EXPECT_TRUE(StartHeadlessView(pc_.transcript, path.c_str(), false, -1, -1, error)) << *error;
    pc_.CreateMainWindow();
    return FinishHeadlessView(error);
  }

  DialogsPc pc_;
};

TEST_F(HeadlessTest, BadScriptsAreRefusedNamingTheLine) {
  struct Case {
    const char* text;
    const char* error;  // after "PATH:"
  };
  const Case cases[] = {
      {"click 1\njump 3\n", "2: unknown action 'jump'"},
      {"\n# comment\nclick\n", "3: wrong number of words for 'click'"},
      {"answer Maybe\n", "1: answer OK or answer Cancel"},
      {"key F13\n", "1: unknown key 'F13'"},
      {"scroll sideways\n", "1: scroll up, down, pageup, pagedown, drag POSITION or end"},
      {"scroll drag\n", "1: drag needs a position"},
      {"key pagedown 10001\n", "1: a repeat count must be a number up to 10000"},
      {"scroll 1006 down x\n", "1: a repeat count must be a number up to 10000"},
      {"scroll 1006 down 10001\n", "1: a repeat count must be a number up to 10000"},
      {"expect text 1003\n", "1: wrong number of words for 'expect'"},
      {"expect colour red\n", "1: unknown expectation 'colour'"},
      {"expect bar wide\n", "1: expect bar needs a width in pixels"},
      {"expect message \"open\n", "1: unterminated string"},
      // Quoted words may hold line breaks; the reason stays one line.
      {"\"go\\n\x01\" 1\n", "1: unknown action 'go\\n\\x01'"},
  };
  for (const Case& c : cases) {
    std::string path = Script(c.text);
    std::string error;
    EXPECT_FALSE(StartHeadlessView(nullptr, path.c_str(), false, -1, -1, &error));
    EXPECT_EQ(error, path + ":" + c.error);
  }
  // The limit itself is a count like any other.
  for (const char* text : {"key pagedown 10000\n", "scroll 1006 down 10000\n"}) {
    std::string path = Script(text);
    std::string error;
    EXPECT_TRUE(StartHeadlessView(nullptr, path.c_str(), false, -1, -1, &error)) << error;
    FinishHeadlessView(&error);
  }
  std::string error;
  EXPECT_FALSE(StartHeadlessView(nullptr, "/nonexistent/x.qvs", false, -1, -1, &error));
  EXPECT_EQ(error, "/nonexistent/x.qvs: cannot be read (No such file or directory)");
  // A directory reads as nothing; it must be refused, not run as an empty script.
  const std::string dir = ::testing::TempDir();
  EXPECT_FALSE(StartHeadlessView(nullptr, dir.c_str(), false, -1, -1, &error));
  EXPECT_EQ(error, dir + ": is a directory, not a file");
}

TEST_F(HeadlessTest, ArbitraryBytesAreReadOrRefusedButNeverCrash) {
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<unsigned char>(seed >> 16);
  };
  const char* words[] = {"click ", "scroll ",    "key ",  "expect ", "answer ", "\"",   "#",
                         "drag ",  "999999999 ", "text ", "bar ",    "\\",      "end ", "\n"};
  for (int round = 0; round < 200; ++round) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
      unsigned char b = next();
      if (b < 128) {
        text += words[b % (sizeof words / sizeof words[0])];
      } else {
        text += static_cast<char>(next());
      }
    }
    std::string path = Script(text);
    std::string error;
    if (StartHeadlessView(nullptr, path.c_str(), false, -1, -1, &error)) {
      pc_.CreateMainWindow();
      FinishHeadlessView(&error);
      dialog_model::Reset();
      pc_.RegisterMainWindowClass();
    } else {
      EXPECT_EQ(error.rfind(path + ":", 0), 0u) << error;
    }
  }
}

TEST_F(HeadlessTest, AScriptReadsAcceptsChecksTheRowsAndExits) {
  std::string error;
  int code = RunScript(
      "expect dialog \"Quorvanta        Ver. 1.0\"\n"
      "expect template KYODAKUUS\n"
      "click NEXT           # disabled: nothing happens\n"
      "key escape\n"
      "scroll down 3\n"
      "expect disabled Accept\n"
      "expect drawn 1011 \"Line 3\"\n"
      "scroll end\n"
      "expect enabled Accept\n"
      "click \"Do not Accept\"\n"
      "click Accept\n"
      "expect unchecked \"Do not Accept\"\n"
      "click NEXT\n"
      "expect template MainDialogUS\n"
      "expect checked 1003\n"
      "expect text 1003 ATAPI\n"
      "expect text 31 1.00\n"
      "expect hidden 1004\n"
      "expect bar 0\n"
      "click EXIT\n"
      "expect no-message\n",
      &error);
  EXPECT_EQ(code, 0) << error;
  EXPECT_EQ(error, "");
}

TEST_F(HeadlessTest, FailedExpectationsAndAnEarlyEndAreReportedAndEndTheDialogs) {
  struct Case {
    const char* text;
    const char* error;  // after "PATH:"
  };
  const Case cases[] = {
      {"expect enabled Accept\n", "1: control Accept is not enabled"},
      {"expect dialog Other\n",
       "1: expected dialog \"Other\", open is \"Quorvanta        Ver. 1.0\""},
      {"click Bogus\n", "1: dialog \"Quorvanta        Ver. 1.0\" has no control Bogus"},
      {"scroll pagedown\n",
       " the script ended while dialog \"Quorvanta        Ver. 1.0\" was open"},
      {"scroll end\nclick Accept\nclick NEXT\nexpect message \"Hello\"\nclick EXIT\n",
       "4: expected message \"Hello\", none was shown"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(RunScript(c.text, &error), 2) << c.text;
    EXPECT_EQ(error, Script(c.text) + ":" + c.error);
    // The dialogs were ended as the user gave up; later ones end at once.
    EXPECT_TRUE(dialog_model::OpenDialogs().empty());
    EXPECT_EQ(DialogBoxParamA(nullptr, "KYODAKUUS", nullptr, DialogProcThatFails, 0), 0);
  }
}

TEST_F(HeadlessTest, MessagesAreExpectedInOrderEvenAfterTheDialoguesEnd) {
  pc_.drive_present = false;
  std::string error;
  int code = RunScript(
      "scroll end\nclick Accept\nclick NEXT\n"
      "expect message \"Error: No device could be detected.\"\n"
      "expect no-message\n",
      &error);
  EXPECT_EQ(code, 0) << error;
  EXPECT_EQ(
      pc_.TranscriptLines(),
      (std::vector<std::string>{"dialog: Quorvanta        Ver. 1.0",
                                "message: Error: No device could be detected.", "answer: OK"}));
}

TEST_F(HeadlessTest, TheAutopilotReadsAcceptsChoosesAndExits) {
  struct Case {
    int adapter;
    int target;
    int code;
    const char* error;
  };
  const Case cases[] = {{-1, -1, 0, ""}, {0, 0, 0, ""}, {0, 5, 2, "drive 0:5 is not listed"}};
  for (const Case& c : cases) {
    dialog_model::Reset();
    pc_.RegisterMainWindowClass();
    g_app.TopLine = 0;
    std::string error;
    ASSERT_TRUE(StartHeadlessView(nullptr, nullptr, true, c.adapter, c.target, &error));
    EXPECT_EQ(pc_.CreateMainWindow(), nullptr);
    EXPECT_EQ(FinishHeadlessView(&error), c.code);
    EXPECT_EQ(error, c.error);
  }
  EXPECT_EQ(g_app.TopLine, 85);  // paged to the end of the text
}

TEST_F(HeadlessTest, WithoutAUserTheFirstDialogEndsTheRun) {
  std::string error;
  ASSERT_TRUE(StartHeadlessView(nullptr, nullptr, false, -1, -1, &error));
  EXPECT_EQ(pc_.CreateMainWindow(), nullptr);
  EXPECT_EQ(FinishHeadlessView(&error), 2);
  EXPECT_EQ(error,
            "nobody can answer dialog \"Quorvanta        Ver. 1.0\" (give a scripted user with "
            "--script FILE)");
  EXPECT_TRUE(pc_.aspi.commands.empty());
}

}  // namespace

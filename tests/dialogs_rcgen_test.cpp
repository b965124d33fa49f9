// The resource compiler of the build: what it accepts and how it refuses
// what it does not understand (naming the file and line), so the script and
// the model's tables cannot drift apart silently.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Result {
  int status;
  std::string output;  // the generated tables, or the error text
};

Result Compile(const std::string& script) {
  const char* bin = std::getenv("QV_BIN_DIR");
  std::string dir = ::testing::TempDir();
  std::ofstream(dir + "rcgen_in.rc") << script;
  std::ofstream(dir + "resource.h") << "#define IDC_THING 77\n";
  std::string command = std::string(bin == nullptr ? "." : bin) + "/qv_rcgen " + dir +
                        "rcgen_in.rc " + dir + "rcgen_out.cpp 2>" + dir + "rcgen_err.txt";
  int status = std::system(command.c_str());
  std::ifstream in(dir + (status == 0 ? "rcgen_out.cpp" : "rcgen_err.txt"));
  std::stringstream text;
  text << in.rdbuf();
  return Result{status, text.str()};
}

const char* const kHead =
    "#pragma code_page(65001)\n#include <windows.h>\n#include \"resource.h\"\n"
    "D DIALOGEX 0, 0, 10, 10\nSTYLE WS_POPUP | WS_CAPTION\nCAPTION \"C\"\n"
    "FONT 9, \"ＭＳ Ｐゴシック\"\nBEGIN\n";

TEST(ResourceCompilerTest, AppliesDefaultsNotAndDefinesAndConvertsToCodePage932) {
  Result r =
      Compile(std::string(kHead) +
              "    LTEXT \"ｱ\", IDC_THING, 1, 2, 3, 4\n"
              "    CONTROL \"x\", 5, \"Button\", BS_AUTORADIOBUTTON | NOT WS_VISIBLE, 1, 2, 3, 4\n"
              "    PUSHBUTTON \"\"\"q\"\"\", 6, 1, 2, 3, 4, WS_DISABLED\n"
              "END\n");
  ASSERT_EQ(r.status, 0) << r.output;
  // LTEXT without a style: SS_LEFT | WS_GROUP and the implied WS_CHILD | WS_VISIBLE.
  EXPECT_NE(r.output.find("{\"Static\", 77, \"\\xB1\"\"\", 0x50020000U"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("{\"Button\", 5, \"x\", 0x40000009U"), std::string::npos);
  // With a style the statement's default tab stop is gone, its base kept.
  EXPECT_NE(r.output.find("{\"Button\", 6, \"\\\"q\\\"\", 0x58000000U"), std::string::npos);
  EXPECT_NE(r.output.find("0x80C00040U"), std::string::npos);  // DS_SETFONT from FONT
}

TEST(ResourceCompilerTest, RefusesWhatItDoesNotKnowNamingTheLine) {
  struct Case {
    std::string script;
    const char* error;
  };
  const Case cases[] = {
      {std::string(kHead) + "    LTEXT \"\", 1, 1, 2, 3, 4, SS_WHATEVER\nEND\n",
       "rcgen_in.rc:9: unknown name SS_WHATEVER"},
      {std::string(kHead) + "    LISTBOX 1, 1, 2, 3, 4\nEND\n",
       "rcgen_in.rc:9: unsupported control statement LISTBOX"},
      {"#pragma code_page(1252)\n", "rcgen_in.rc:1: only code pages 65001 and 932 are supported"},
      {"D DIALOGEX 0, 0, 1, 1\nCAPTION \"é\"\nBEGIN\nEND\n",
       "rcgen_in.rc:2: non-ASCII text needs #pragma code_page(65001)"},
      {"#ifdef X\n", "rcgen_in.rc:1: unsupported directive #ifdef"},
      {"M MENU\n", "rcgen_in.rc:1: unsupported resource type MENU"},
      {std::string(kHead) + "    LTEXT \"open, 1, 1, 2, 3, 4\nEND\n",
       "rcgen_in.rc:9: unterminated string"},
  };
  for (const Case& c : cases) {
    Result r = Compile(c.script);
    EXPECT_NE(r.status, 0) << c.error;
    EXPECT_NE(r.output.find(c.error), std::string::npos) << r.output;
  }
}

}  // namespace

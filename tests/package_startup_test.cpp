// Made packages, sound and broken, through the package steps of start-up:
// each broken one ends the program with exactly its own message, in the
// user's language; sound ones go on to the main window.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/dialogs/model.h"
#include "platform/sim/package_maker.h"
#include "state/app_state.h"
#include "tests/support/fake_pc.h"
#include "tests/support/transcript_capture.h"

namespace {

struct StartupCase {
  const char* name;
  std::vector<std::string> pack_args;
  bool missing_image;
  const char* english;  // the one message shown, empty when start-up goes on
  const char* japanese;
};

class PackageStartup : public ::testing::TestWithParam<StartupCase> {};

std::string RunWith(const StartupCase& c, LANGID language, int* go_on) {
  FakePc pc;
  dialog_model::Reset();  // each run registers the window class afresh
  pc.system.language = language;
  PackageOptions options;
  std::string error;
  EXPECT_TRUE(ParsePackOptions(c.pack_args, &options, &error)) << error;
  pc.files.files[kPackageDescriptionName] = MakePackageDescription(options);
  if (!c.missing_image) pc.files.files[kPackageImageName] = MakePackageImage(options);
  if (!options.no_loader) pc.files.files[kPackageLoaderName] = MakeLoaderData(options);

  TranscriptCapture transcript;
  int exit_code = -1;
  *go_on = RunStartupChecks(nullptr, nullptr, &exit_code);
  if (!*go_on) {
    EXPECT_EQ(exit_code, 0);
  }
  EXPECT_EQ(pc.files.open_handles(), 0);

  std::string messages;
  for (const std::string& text : transcript.Of("message")) messages += text + "\n";
  return messages;
}

TEST_P(PackageStartup, EndsWithItsOwnMessageInTheUsersLanguage) {
  const StartupCase& c = GetParam();
  const bool goes_on = c.english[0] == '\0';
  int go_on = 0;
  EXPECT_EQ(RunWith(c, 0x0409, &go_on), goes_on ? "" : std::string(c.english) + "\n");
  EXPECT_EQ(go_on, goes_on ? 1 : 0);
  EXPECT_EQ(RunWith(c, 0x0411, &go_on), goes_on ? "" : std::string(c.japanese) + "\n");
  EXPECT_EQ(go_on, goes_on ? 1 : 0);
}

const std::vector<std::string> kT71 = {"--model", "t71", "--rev", "1.10"};

std::vector<std::string> With(std::vector<std::string> args,
                              std::initializer_list<const char*> more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Packages, PackageStartup,
    ::testing::Values(
        StartupCase{"T71", kT71, false, "", ""},
        StartupCase{"R305", {"--model", "r305", "--rev", "2.00"}, false, "", ""},
        StartupCase{"NoLoader", With(kT71, {"--no-loader"}), false, "", ""},
        StartupCase{"NoImage", kT71, true, "Error: Couldn't find data file.",
                    "エラー：ファイルが見つかりません。"},
        StartupCase{"ImageShort", With(kT71, {"--break", "size=-1"}), false,
                    "Error: Invalid file size.", "エラー：ファイルサイズが異常です。"},
        StartupCase{"ImageLong", With(kT71, {"--break", "size=+1"}), false,
                    "Error: Invalid file size.", "エラー：ファイルサイズが異常です。"},
        StartupCase{"WrongVendor", With(kT71, {"--break", "vendor"}), false,
                    "Error: Invalid data was detected.", "エラー：異常データが検出されました。"},
        StartupCase{"OversizedLength", With(kT71, {"--break", "length"}), false,
                    "Error: Invalid data was detected.", "エラー：異常データが検出されました。"},
        StartupCase{"LoaderCutShort", With(kT71, {"--break", "short"}), false,
                    "Error: Invalid data was detected.", "エラー：異常データが検出されました。"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

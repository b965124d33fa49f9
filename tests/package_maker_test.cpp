#include "platform/sim/package_maker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "package/package_files.h"
#include "state/app_state.h"
#include "state/catalogue.h"
#include "tests/support/fake_pc.h"
#include "tests/support/transcript_capture.h"

namespace {

// The outcome of the package steps of start-up on one package.
struct Checked {
  int size_ok = 0;
  int signature_ok = 0;
  int loader = -1;  // PrepareLoaderData, -1 when not reached
  int checksum_ok = 0;
  std::string messages;  // message lines of the transcript
};

Checked CheckPackage(const PackageOptions& options, std::uint16_t language = 0x0409) {
  FakePc pc;
  g_app.PrimaryLanguage = language & 0x3FF;
  g_app.MessageLanguage = language;
  FillCatalogue();
  pc.files.files[kPackageDescriptionName] = MakePackageDescription(options);
  pc.files.files[kPackageImageName] = MakePackageImage(options);
  if (!options.no_loader) pc.files.files[kPackageLoaderName] = MakeLoaderData(options);

  TranscriptCapture transcript;
  Checked checked;
  char data_option[kMaxPath] = {};
  char loader_option[kMaxPath] = {};
  ReadPackageDescription(g_app.DataFileName, data_option, g_app.LoaderFileName, loader_option);
  g_app.NoVersionCheck = IsNoCheckOption(data_option);
  checked.size_ok = CheckImageSize();
  if (checked.size_ok)
    checked.signature_ok = ReadImageSignature(SignatureOffset, g_app.ImageRevisions);
  if (checked.signature_ok) {
    checked.loader = PrepareLoaderData();
    checked.checksum_ok = LoaderChecksumOk();
  }
  for (const std::string& text : transcript.Of("message")) checked.messages += text + "\n";
  return checked;
}

TEST(PackageMaker, DefaultPackagesPassEveryCheck) {
  const struct {
    const char* model;
    const char* image_model;
  } cases[] = {{"t71", "T71 CDRW "}, {"r305", "RX-2210QN"}};
  for (const auto& c : cases) {
    Checked checked = CheckPackage(DefaultPackage(c.model));
    EXPECT_EQ(checked.messages, "") << c.model;
    EXPECT_EQ(checked.loader, LoaderReady);
    EXPECT_EQ(checked.checksum_ok, 1);
    EXPECT_STREQ(g_app.ImageModel, c.image_model);
    EXPECT_STREQ(g_app.ImageRevisions, "1.10");
    EXPECT_STREQ(g_app.ImageRevisions + 10, "1.10");
    EXPECT_STREQ(g_app.LoaderFileName, kPackageLoaderName);
    EXPECT_EQ(g_app.NoVersionCheck, 0);
    EXPECT_EQ(LoaderPayloadLength(), 28672);
    EXPECT_EQ(LoaderModelCode(), 0x04);
    EXPECT_EQ(LoaderVersionCode(), 0x12);
  }
}

TEST(PackageMaker, OptionsReachTheProgram) {
  PackageOptions options;
  std::string error;
  ASSERT_TRUE(ParsePackOptions({"--model", "t71", "--rev", "2", "--digits", "0599", "--non"},
                               &options, &error))
      << error;
  Checked checked = CheckPackage(options);
  EXPECT_EQ(checked.messages, "");
  EXPECT_EQ(g_app.NoVersionCheck, 1);
  EXPECT_EQ(std::string(g_app.ImageRevisions, 15), std::string("2\0\0\0\0"
                                                               "2\0\0\0\0"
                                                               "2\0\0\0\0",
                                                               15));
  EXPECT_EQ(LoaderModelCode(), 0x05);
  EXPECT_EQ(LoaderVersionCode(), 0x99);

  ASSERT_TRUE(
      ParsePackOptions({"--model", "r305", "--rev", "1.20", "--no-loader"}, &options, &error));
  checked = CheckPackage(options);
  EXPECT_EQ(checked.messages, "");
  EXPECT_EQ(checked.loader, LoaderReady);
  EXPECT_STREQ(g_app.LoaderFileName, "");
}

// Each way of breaking a package meets its own refusal, in both languages.
TEST(PackageMaker, BrokenPackagesAreRefusedWithTheirMessage) {
  const struct {
    const char* breaks;
    const char* english;
    const char* japanese;
    int loader;
    int checksum_ok;
  } cases[] = {
      {"size=-1", "Error: Invalid file size.\n", "エラー：ファイルサイズが異常です。\n", -1, 0},
      {"size=+1", "Error: Invalid file size.\n", "エラー：ファイルサイズが異常です。\n", -1, 0},
      {"vendor", "Error: Invalid data was detected.\n", "エラー：異常データが検出されました。\n",
       -1, 0},
      {"length", "Error: Invalid data was detected.\n", "エラー：異常データが検出されました。\n",
       LoaderRefused, 0},
      {"short", "Error: Invalid data was detected.\n", "エラー：異常データが検出されました。\n",
       LoaderRefused, 0},
      // A bad checksum passes start-up; the update refuses it before sending.
      {"checksum", "", "", LoaderReady, 0},
  };
  for (const auto& c : cases) {
    for (const char* model : {"t71", "r305"}) {
      PackageOptions options;
      std::string error;
      ASSERT_TRUE(ParsePackOptions({"--model", model, "--rev", "1.10", "--break", c.breaks},
                                   &options, &error))
          << error;
      Checked english = CheckPackage(options);
      EXPECT_EQ(english.messages, c.english) << c.breaks << " " << model;
      EXPECT_EQ(english.loader, c.loader) << c.breaks;
      EXPECT_EQ(english.checksum_ok, c.checksum_ok) << c.breaks;
      EXPECT_EQ(CheckPackage(options, 0x0411).messages, c.japanese) << c.breaks;
    }
  }
}

TEST(PackageMaker, ParseRefusesBadOptions) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--model", "t71"},
      {"--rev", "1.10"},
      {"--model", "x99", "--rev", "1.10"},
      {"--model", "t71", "--rev", "12345"},
      {"--model", "t71", "--rev", ""},
      {"--model", "t71", "--rev", "1.10", "--digits", "12a4"},
      {"--model", "t71", "--rev", "1.10", "--digits", "123"},
      {"--model", "t71", "--rev", "1.10", "--break", "size=0"},
      {"--model", "t71", "--rev", "1.10", "--break", "size=x"},
      {"--model", "t71", "--rev", "1.10", "--break", "everything"},
      {"--model", "t71", "--rev", "1.10", "--break"},
      {"--model", "t71", "--rev", "1.10", "--bogus"},
  };
  for (const auto& args : bad) {
    PackageOptions options;
    options.rev = "keep";
    std::string error;
    EXPECT_FALSE(ParsePackOptions(args, &options, &error)) << ::testing::PrintToString(args);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(options.rev, "keep");
  }
}

TEST(PackageMaker, WritesTheThreeFiles) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("qv_pack_" + std::to_string(::getpid()));
  std::string error;
  ASSERT_TRUE(WritePackage(dir / "pkg", DefaultPackage("t71"), &error)) << error;
  EXPECT_EQ(std::filesystem::file_size(dir / "pkg" / kPackageImageName), 526336u);
  EXPECT_EQ(std::filesystem::file_size(dir / "pkg" / kPackageLoaderName), 28736u);
  std::ifstream inf(dir / "pkg" / kPackageDescriptionName, std::ios::binary);
  std::stringstream text;
  text << inf.rdbuf();
  EXPECT_EQ(text.str(), "Tellumar.bin\r\nTellmr.bin\r\n");
  // Re-made without a loader, the old loader file goes.
  PackageOptions options = DefaultPackage("t71");
  options.no_loader = true;
  ASSERT_TRUE(WritePackage(dir / "pkg", options, &error)) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "pkg" / kPackageLoaderName));
  std::filesystem::remove_all(dir);
}

}  // namespace

#include "package/package_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "state/catalogue.h"
#include "tests/support/fake_pc.h"
#include "tests/support/transcript_capture.h"

namespace {

// The message boxes shown, one "message: TEXT" line each.
class Messages {
 public:
  std::vector<std::string> Shown() { return capture_.Of("message"); }

 private:
  TranscriptCapture capture_;
};

class PackageTest : public ::testing::Test {
 protected:
  PackageTest() {
    g_app.MessageLanguage = 0x0409;
    FillCatalogue();
  }
  FakePc pc;
  Messages messages;
};

using Shown = std::vector<std::string>;

// --- Tellumar.inf -----------------------------------------------------------

struct DescriptionCase {
  const char* name;
  std::string content;
  std::string data_file, data_option, loader_file, loader_option;
};

class Description : public PackageTest, public ::testing::WithParamInterface<DescriptionCase> {};

TEST_P(Description, FillsTheFourFields) {
  const DescriptionCase& c = GetParam();
  pc.files.files["Tellumar.inf"] = c.content;
  char data_option[kMaxPath] = {};
  char loader_option[kMaxPath] = {};
  ReadPackageDescription(g_app.DataFileName, data_option, g_app.LoaderFileName, loader_option);
  EXPECT_EQ(g_app.DataFileName, c.data_file);
  EXPECT_EQ(data_option, c.data_option);
  EXPECT_EQ(g_app.LoaderFileName, c.loader_file);
  EXPECT_EQ(loader_option, c.loader_option);
  EXPECT_EQ(pc.files.open_handles(), 0);
  EXPECT_TRUE(messages.Shown().empty());
}

const std::string k300(300, 'a');

INSTANTIATE_TEST_SUITE_P(
    Lines, Description,
    ::testing::Values(
        DescriptionCase{"TwoLines", "fw.bin\r\nTellmr.bin\r\n", "fw.bin", "", "Tellmr.bin", ""},
        DescriptionCase{"OptionUpper", "fw.bin /NON\r\nldr.bin\r\n", "fw.bin", "/NON", "ldr.bin",
                        ""},
        DescriptionCase{"OptionLower", "fw.bin /non\r\nldr.bin\r\n", "fw.bin", "/non", "ldr.bin",
                        ""},
        DescriptionCase{"LoaderOption", "fw.bin\r\nldr.bin /NON\r\n", "fw.bin", "", "ldr.bin",
                        "/NON"},
        // Two characters are always skipped after an option: a bare LF takes
        // the first character of line 2 with it.
        DescriptionCase{"BareLfAfterOption", "fw.bin /NON\nldr.bin\r\n", "fw.bin", "/NON", "dr.bin",
                        ""},
        // A space cuts the path; the next four characters are the option.
        DescriptionCase{"PathWithSpace", "my fw.bin\r\nldr.bin\r\n", "my", "fw.b", "", ""},
        DescriptionCase{"OneLine", "fw.bin\r\n", "fw.bin", "", "", ""},
        DescriptionCase{"OneLineNoBreak", "fw.bin", "fw.bin", "", "", ""},
        DescriptionCase{"LfOnly", "fw.bin\nldr.bin\n", "fw.bin", "", "ldr.bin", ""},
        // After a CR on line 1 reading goes on behind the terminator.
        DescriptionCase{"TextAfterCr", "fw.bin\rxyz\nldr.bin", "fw.bin", "", "ldr.bin", ""},
        // On line 2 a CR ends the line at once: what follows is no option.
        DescriptionCase{"SecondLineCr", "fw.bin\r\nldr.bin\r /NON", "fw.bin", "", "ldr.bin", ""},
        DescriptionCase{"Empty", "", "", "", "", ""},
        DescriptionCase{"EmptyFirstLine", "\r\nldr.bin\r\n", "", "", "ldr.bin", ""},
        DescriptionCase{"OptionAtEnd", "fw.bin /NO", "fw.bin", "/NO", "", ""},
        // 260 characters fill the path; the rest of the line spills into
        // the second field.
        DescriptionCase{"OverlongLine", k300 + "\r\nldr.bin\r\n", std::string(260, 'a'), "",
                        std::string(40, 'a'), ""},
        DescriptionCase{"OverlongBoth", k300 + k300, std::string(260, 'a'), "",
                        std::string(260, 'a'), ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PackageTest, MissingDescriptionEmptiesNamesButKeepsLoaderOption) {
  char data_option[kMaxPath] = "/NON";
  char loader_option[kMaxPath] = "keep";
  CopyText(g_app.DataFileName, kMaxPath, "old.bin");
  CopyText(g_app.LoaderFileName, kMaxPath, "old.ldr");
  ReadPackageDescription(g_app.DataFileName, data_option, g_app.LoaderFileName, loader_option);
  EXPECT_STREQ(g_app.DataFileName, "");
  EXPECT_STREQ(data_option, "");
  EXPECT_STREQ(g_app.LoaderFileName, "");
  EXPECT_STREQ(loader_option, "keep");
  EXPECT_TRUE(messages.Shown().empty());
}

// --- firmware image ---------------------------------------------------------

TEST_F(PackageTest, ImageSizeMustBeExact) {
  const struct {
    size_t size;
    int result;
  } cases[] = {{526336, 1}, {526335, 0}, {526337, 0}, {0, 0}};
  for (const auto& c : cases) {
    Messages shown;
    CopyText(g_app.DataFileName, kMaxPath, "fw.bin");
    pc.files.files["fw.bin"] = std::string(c.size, 'x');
    EXPECT_EQ(CheckImageSize(), c.result) << c.size;
    EXPECT_EQ(shown.Shown(), c.result ? Shown{} : Shown{"Error: Invalid file size."});
    EXPECT_EQ(pc.files.open_handles(), 0);
  }
}

TEST_F(PackageTest, MissingImageIsNotFound) {
  CopyText(g_app.DataFileName, kMaxPath, "fw.bin");
  EXPECT_EQ(CheckImageSize(), 0);
  char revisions[15] = {};
  EXPECT_EQ(ReadImageSignature(SignatureOffset, revisions), 0);
  EXPECT_EQ(messages.Shown(),
            (Shown{"Error: Couldn't find data file.", "Error: Couldn't read data."}));
}

std::string ImageWith(std::string_view vendor8, std::string_view model16,
                      std::string_view revisions12 = "1.101.201.30") {
  std::string image(ImageFileSize, '\0');
  image.replace(SignatureOffset, vendor8.size(), vendor8);
  image.replace(SignatureOffset + 8, model16.size(), model16);
  image.replace(SignatureOffset + 24, revisions12.size(), revisions12);
  return image;
}

struct SignatureCase {
  std::string vendor, model;
  int accepted;
  std::string image_model;
};

class Signature : public PackageTest, public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(Signature, VendorAndModelRules) {
  const SignatureCase& c = GetParam();
  CopyText(g_app.DataFileName, kMaxPath, "fw.bin");
  pc.files.files["fw.bin"] = ImageWith(c.vendor, c.model);
  ASSERT_EQ(CheckImageSize(), 1);
  char revisions[15] = {};
  EXPECT_EQ(ReadImageSignature(SignatureOffset, revisions), c.accepted);
  EXPECT_EQ(g_app.ImageModel, c.image_model);
  EXPECT_EQ(messages.Shown(), c.accepted ? Shown{} : Shown{"Error: Invalid data was detected."});
  EXPECT_EQ(pc.files.open_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Signature,
    ::testing::Values(
        SignatureCase{"VANTROS ", "T71 CDRW USB    ", 1, "T71 CDRW "},
        SignatureCase{"VANTROS ", "T71 CDRWZ", 1, "T71 CDRWZ"},  // ninth character free
        SignatureCase{std::string("VANTROS\0", 8), "T71 CDRW", 1, "T71 CDRW"},
        SignatureCase{"VANTROS\xFF", "T71 CDRW-", 1, "T71 CDRW-"},  // eighth byte ignored
        SignatureCase{"ORBELLO ", "RX-2210QN       ", 1, "RX-2210QN"},
        SignatureCase{"ORBELLO!", "RX-2210QNXYZ", 1, "RX-2210QN"},
        SignatureCase{"VANTROS ", "RX-2210QN", 0, "RX-2210QN"},  // wrong vendor for it
        SignatureCase{"ORBELLO ", "T71 CDRW USB", 0, "T71 CDRW "},
        SignatureCase{"vantros ", "T71 CDRW USB", 0, "T71 CDRW "},
        SignatureCase{std::string("VANTRO\0S", 8), "T71 CDRW", 0, "T71 CDRW"},
        SignatureCase{"VANTROS ", "T71 CDR", 0, "T71 CDR"},
        SignatureCase{"ORBELLO ", "RX-2210Q ", 0, "RX-2210Q "},
        SignatureCase{"VANTROS ", "R305 CDRW USB", 0, "R305 CDRW"}));

TEST_F(PackageTest, RevisionFieldsAreShortStrings) {
  CopyText(g_app.DataFileName, kMaxPath, "fw.bin");
  pc.files.files["fw.bin"] = ImageWith("VANTROS ", "T71 CDRW USB", std::string("1.10Q\0xz2", 9));
  ASSERT_EQ(CheckImageSize(), 1);
  char revisions[15];
  std::memset(revisions, '#', sizeof revisions);
  ASSERT_EQ(ReadImageSignature(SignatureOffset, revisions), 1);
  EXPECT_EQ(std::string(revisions, 15), std::string("1.10\0Q\0\0\0\0"
                                                    "2\0\0\0\0",
                                                    15));
}

// The signature comes from the image as read at the size test: a file that
// shrinks or changes afterwards changes nothing that is checked.
TEST_F(PackageTest, SignatureIsTheCheckedImages) {
  CopyText(g_app.DataFileName, kMaxPath, "fw.bin");
  std::string image = ImageWith("VANTROS ", "T71 CDRW USB");
  pc.files.files["fw.bin"] = image;
  ASSERT_EQ(CheckImageSize(), 1);
  pc.files.files["fw.bin"] = ImageWith("ORBELLO ", "RX-2210QN").substr(0, SignatureOffset + 30);
  char revisions[15] = {};
  EXPECT_EQ(ReadImageSignature(SignatureOffset, revisions), 1);
  EXPECT_STREQ(g_app.ImageModel, "T71 CDRW ");
  EXPECT_EQ(messages.Shown(), Shown{});
  EXPECT_EQ(pc.files.open_handles(), 0);
}

// --- loader data ------------------------------------------------------------

// A loader data file of `size` bytes with payload length `length`, its
// payload balanced to sum to `off` (0: the checksum holds).
std::string LoaderFile(int length, size_t size, unsigned off = 0) {
  std::string file(size, '\0');
  for (size_t i = 0; i < size; ++i) file[i] = static_cast<char>(i * 7 + 3);
  if (size > 63) {
    file[60] = 0x12;
    file[61] = 0x34;
    file[62] = static_cast<char>(length >> 8);
    file[63] = static_cast<char>(length & 0xFF);
  }
  if (size > static_cast<size_t>(VersionDigitsOffset + 3))
    file.replace(VersionDigitsOffset, 4, "0412");
  // The first payload word balances the sum; with L = 28,672 the last
  // words hold the version digits.
  const size_t words = static_cast<size_t>(length) / 2;
  if (words > 0 && 64 + 2 * words <= size) {
    unsigned sum = 0;
    for (size_t w = 1; w < words; ++w)
      sum += (static_cast<unsigned char>(file[64 + 2 * w]) << 8) |
             static_cast<unsigned char>(file[65 + 2 * w]);
    unsigned balance = (0x10000 + off - (sum & 0xFFFF)) & 0xFFFF;
    file[64] = static_cast<char>(balance >> 8);
    file[65] = static_cast<char>(balance & 0xFF);
  }
  return file;
}

struct LoaderCase {
  const char* name;
  int length;
  size_t size;
  unsigned off;  // what the payload sums to
  int prepared;
  int checksum_ok;
};

class Loader : public PackageTest, public ::testing::WithParamInterface<LoaderCase> {};

TEST_P(Loader, PreparedAndChecked) {
  const LoaderCase& c = GetParam();
  CopyText(g_app.LoaderFileName, kMaxPath, "Tellmr.bin");
  pc.files.files["Tellmr.bin"] = LoaderFile(c.length, c.size, c.off);
  EXPECT_EQ(PrepareLoaderData(), c.prepared);
  EXPECT_EQ(LoaderChecksumOk(), c.checksum_ok);
  EXPECT_EQ(messages.Shown(),
            c.prepared == LoaderRefused ? Shown{"Error: Invalid data was detected."} : Shown{});
  EXPECT_EQ(pc.files.open_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Loader,
    ::testing::Values(LoaderCase{"Typical", 28672, 28736, 0, LoaderReady, 1},
                      LoaderCase{"BadChecksum", 28672, 28736, 1, LoaderReady, 0},
                      // The sum is 16 bits wide: a low byte of 0 is not enough.
                      LoaderCase{"ChecksumOffBy0x100", 28672, 28736, 0x100, LoaderReady, 0},
                      LoaderCase{"LengthZero", 0, 28736, 1, LoaderReady, 1},
                      LoaderCase{"LengthOne", 1, 28736, 1, LoaderReady, 1},
                      LoaderCase{"Largest", 49088, 49152, 0, LoaderReady, 1},
                      LoaderCase{"LongerFileThanBuffer", 49088, 60000, 0, LoaderReady, 1},
                      LoaderCase{"LengthOverBuffer", 49089, 49152, 0, LoaderRefused, 0},
                      LoaderCase{"LengthFFFF", 0xFFFF, 49152, 0, LoaderRefused, 0},
                      LoaderCase{"ShorterThanPayload", 30000, 30000, 0, LoaderRefused, 0},
                      LoaderCase{"ShorterThanDigits", 100, 28735, 0, LoaderRefused, 0},
                      LoaderCase{"HeaderOnly", 0, 40, 0, LoaderRefused, 0},
                      LoaderCase{"EmptyFile", 0, 0, 0, LoaderRefused, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// With an odd length the last payload byte stays out of the sum.
TEST_F(PackageTest, OddLengthLeavesLastByteOut) {
  CopyText(g_app.LoaderFileName, kMaxPath, "Tellmr.bin");
  std::string file = LoaderFile(5, 28736);
  for (char byte : {'\0', '\x01', '\xFF'}) {
    file[64 + 4] = byte;
    pc.files.files["Tellmr.bin"] = file;
    ASSERT_EQ(PrepareLoaderData(), LoaderReady);
    EXPECT_EQ(LoaderChecksumOk(), 1) << int(byte);
  }
  file[66] ^= 0x40;
  pc.files.files["Tellmr.bin"] = file;
  ASSERT_EQ(PrepareLoaderData(), LoaderReady);
  EXPECT_EQ(LoaderChecksumOk(), 0);
}

TEST_F(PackageTest, NoLoaderNamedReadsNothing) {
  pc.files.files["Tellmr.bin"] = LoaderFile(28672, 28736);
  g_app.SharedBuffer[100] = 0x5A;
  EXPECT_EQ(PrepareLoaderData(), LoaderReady);
  EXPECT_EQ(g_app.SharedBuffer[100], 0x5A);
  EXPECT_TRUE(messages.Shown().empty());
}

TEST_F(PackageTest, MissingLoaderShowsNothingItself) {
  CopyText(g_app.LoaderFileName, kMaxPath, "Tellmr.bin");
  EXPECT_EQ(LoadLoaderData("Tellmr.bin"), 0);
  EXPECT_EQ(PrepareLoaderData(), LoaderMissing);
  EXPECT_TRUE(messages.Shown().empty());
}

// Drive commands overwrite SharedBuffer between loads, and the tail of the
// copy keeps what a longer file left there: what the file does not cover
// must not count as loader data.
TEST_F(PackageTest, ShortFileLeavesNoStaleBytes) {
  std::memset(g_app.SharedBuffer, 0xAA, sizeof g_app.SharedBuffer);
  std::memset(g_app.LoaderData, 0xAA, sizeof g_app.LoaderData);
  pc.files.files["short.bin"] = LoaderFile(0, 1000);
  ASSERT_EQ(LoadLoaderData("short.bin"), 1);
  EXPECT_EQ(LoaderBytesLoaded(), 1000);
  EXPECT_EQ(LoaderByte(999), static_cast<BYTE>(999 * 7 + 3));
  for (int i = 1000; i < kSharedBufferSize; ++i) ASSERT_EQ(LoaderByte(i), 0) << i;
  EXPECT_EQ(LoaderModelCode(), PackedPair('\0', '\0'));
  EXPECT_EQ(LoaderVersionCode(), PackedPair('\0', '\0') & 0xFF);
}

TEST_F(PackageTest, VersionDigitsArePackedBcd) {
  pc.files.files["Tellmr.bin"] = LoaderFile(28672, 28736);
  ASSERT_EQ(LoadLoaderData("Tellmr.bin"), 1);
  EXPECT_EQ(LoaderPayloadLength(), 28672);
  EXPECT_EQ(LoaderModelCode(), 0x04);
  EXPECT_EQ(LoaderVersionCode(), 0x12);
  const struct {
    char high, low;
    int value;
  } pairs[] = {{'0', '0', 0x00}, {'9', '9', 0x99}, {'1', '1', 0x11}, {'0', '4', 0x04},
               {':', '0', 0xA0}, {'0', '/', -1},   {'A', '0', 272}};
  for (const auto& p : pairs) EXPECT_EQ(PackedPair(p.high, p.low), p.value) << p.high << p.low;
}

}  // namespace

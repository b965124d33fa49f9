// The virtual PC's C: drive: Windows paths land inside DIR/drive_c, match
// case-insensitively, and never get out; files behave as unshared handles.
#include "platform/sim/sim_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class SimFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_simfiles_XXXXXX";
    base_ = ::mkdtemp(pattern);
    root_ = base_ / "drive_c";
    fs::create_directories(root_ / "WINDOWS");
    fs::create_directories(root_ / "Quorvanta");
    std::ofstream(root_ / "Quorvanta" / "Tellumar.inf") << "fw.bin\r\n";
    std::ofstream(base_ / "secret.txt") << "outside";
    files_ = std::make_unique<SimFiles>(root_);
    ASSERT_TRUE(files_->SetCurrentDirectory("C:\\Quorvanta"));
  }
  void TearDown() override {
    files_.reset();
    fs::remove_all(base_);
  }
  std::string ReadAll(const char* path) {
    HANDLE h = files_->OpenExisting(path);
    if (h == INVALID_HANDLE_VALUE) return "<none>";
    char buffer[256];
    DWORD read = 0;
    EXPECT_EQ(files_->Read(h, buffer, sizeof buffer, &read), 1);
    files_->Close(h);
    return std::string(buffer, read);
  }

  fs::path base_, root_;
  std::unique_ptr<SimFiles> files_;
};

}  // namespace

TEST_F(SimFilesTest, PathsMapIntoTheDriveWhateverTheirCaseOrForm) {
  const fs::path inf = root_ / "Quorvanta" / "Tellumar.inf";
  const char* same_file[] = {
      "C:\\Quorvanta\\Tellumar.inf",
      "c:\\QUORVANTA\\tellumar.INF",
      "Tellumar.inf",
      "TELLUMAR.INF",
      "\\Quorvanta\\Tellumar.inf",
      "C:/Quorvanta/Tellumar.inf",
      ".\\Tellumar.inf",
      "..\\Quorvanta\\.\\Tellumar.inf",
      "C:\\Quorvanta\\\\Tellumar.inf",
      "C:Tellumar.inf",
  };
  for (const char* path : same_file) {
    fs::path host;
    ASSERT_TRUE(files_->Map(path, false, &host)) << path;
    EXPECT_EQ(host, inf) << path;
  }
  // Creating keeps the caller's spelling of a new name.
  fs::path host;
  ASSERT_TRUE(files_->Map("c:\\windows\\Tellmr1.DAT", true, &host));
  EXPECT_EQ(host, root_ / "WINDOWS" / "Tellmr1.DAT");
}

TEST_F(SimFilesTest, PathsThatLeaveTheDriveOrCannotBeOnItAreRefused) {
  fs::create_directory_symlink(base_, root_ / "link");
  const char* refused[] = {
      "C:\\..\\secret.txt",   "..\\..\\secret.txt",
      "\\..\\secret.txt",     "D:\\x.txt",
      "\\\\server\\share\\x", "C:\\link\\secret.txt",
      "C:\\Quorvanta\\a?b",   "C:\\Quorvanta\\a*b",
      "C:\\Quorvanta\\a|b",   "",
      "C:\\Missing\\x.txt",
  };
  for (const char* path : refused) {
    fs::path host;
    EXPECT_FALSE(files_->Map(path, true, &host)) << path;
    EXPECT_EQ(files_->CreateAlways(path), INVALID_HANDLE_VALUE) << path;
  }
  EXPECT_EQ(ReadAll("..\\..\\secret.txt"), "<none>");
  EXPECT_EQ(files_->OpenExisting(("C:\\" + std::string(300, 'a')).c_str()), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(files_->SetCurrentDirectory("C:\\.."));
  EXPECT_FALSE(files_->SetCurrentDirectory("C:\\Quorvanta\\Tellumar.inf"));
  EXPECT_EQ(files_->current_directory(), "C:\\Quorvanta");
}

TEST_F(SimFilesTest, TrailBytesOfJapaneseNamesAreNeitherSeparatorsNorCaseFolded) {
  // 0x95 0x5C is one character whose second byte is '\'; 0x83 0x41 and
  // 0x83 0x61 are two different characters.
  const std::string name = "\x95\x5C\x83\x41.txt";
  fs::create_directories(root_ / "WINDOWS");
  std::ofstream(root_ / "WINDOWS" / name) << "jp";
  EXPECT_EQ(ReadAll(("C:\\WINDOWS\\" + name).c_str()), "jp");
  EXPECT_EQ(ReadAll("C:\\WINDOWS\\\x95\x5C\x83\x61.txt"), "<none>");
  EXPECT_TRUE(SameWindowsName("\x83\x41x", "\x83\x41X"));
  EXPECT_FALSE(SameWindowsName("\x83\x41", "\x83\x61"));
}

TEST_F(SimFilesTest, HandlesReadWriteSeekAndRefuseTheWrongUse) {
  HANDLE out = files_->CreateAlways("C:\\WINDOWS\\Tellmr2.DAT");
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_EQ(files_->Write(out, "abc\0", 4, &n), 1);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(files_->Read(out, nullptr, 0, &n), 0) << "a write handle does not read";
  // No sharing: the open file can be neither opened again nor deleted.
  EXPECT_EQ(files_->OpenExisting("C:\\WINDOWS\\Tellmr2.DAT"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(files_->CreateAlways("C:\\windows\\TELLMR2.DAT"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(files_->Delete("C:\\WINDOWS\\Tellmr2.DAT"), 0);
  EXPECT_EQ(files_->Close(out), 1);
  EXPECT_EQ(files_->Close(out), 0) << "closed twice";

  HANDLE in = files_->OpenExisting("C:\\WINDOWS\\Tellmr2.DAT");
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  EXPECT_EQ(files_->Size(in), 4u);
  EXPECT_EQ(files_->Write(in, "x", 1, &n), 0) << "a read handle does not write";
  EXPECT_EQ(files_->SeekBegin(in, 2), 2u);
  char buffer[8];
  EXPECT_EQ(files_->Read(in, buffer, sizeof buffer, &n), 1);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(files_->Read(in, buffer, sizeof buffer, &n), 1);
  EXPECT_EQ(n, 0u) << "end of file reads nothing, successfully";
  files_->FailNext("read");
  EXPECT_EQ(files_->Read(in, buffer, 1, &n), 0);
  EXPECT_EQ(files_->SeekBegin(in, 0), 0u);
  EXPECT_EQ(files_->Read(in, buffer, 1, &n), 1) << "only the one call failed";
  EXPECT_EQ(files_->Close(in), 1);

  EXPECT_EQ(files_->OpenExisting("C:\\WINDOWS"), INVALID_HANDLE_VALUE) << "a directory";
  EXPECT_EQ(files_->Delete("C:\\WINDOWS"), 0);
  EXPECT_EQ(files_->Delete("C:\\WINDOWS\\tellmr2.dat"), 1);
  EXPECT_EQ(files_->Delete("C:\\WINDOWS\\Tellmr2.DAT"), 0) << "already gone";
  HANDLE bogus = reinterpret_cast<HANDLE>(std::uintptr_t{0x77});
  EXPECT_EQ(files_->Size(bogus), 0xFFFFFFFFu);
  EXPECT_EQ(files_->SeekBegin(bogus, 0), 0xFFFFFFFFu);
  EXPECT_EQ(files_->open_files(), 0u);
}

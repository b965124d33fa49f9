// The registry store: Win32 results call by call, stable subkey order, access
// per handle, atomic saves that read back to the same registry, and malformed
// files refused with a line instead of a crash.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/posix/registry_store.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/qv_registry_XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

HKEY Create(RegistryStore& store, const char* path, DWORD access = KEY_ALL_ACCESS) {
  HKEY key = nullptr;
  EXPECT_EQ(store.CreateKey(HKEY_LOCAL_MACHINE, path, access, &key), ERROR_SUCCESS) << path;
  return key;
}

long SetBinary(RegistryStore& store, HKEY key, const char* name, BYTE value) {
  return store.SetValue(key, name, REG_BINARY, &value, 1);
}

}  // namespace

TEST(RegistryStore, SubkeysEnumerateInCreationOrderAndNewKeysAppend) {
  RegistryStore store;
  for (const char* name : {"Enum\\SCSI\\Zeta", "Enum\\SCSI\\alpha", "Enum\\SCSI\\Mid"}) {
    store.CloseKey(Create(store, name));
  }
  HKEY scsi = nullptr;
  ASSERT_EQ(store.OpenKey(HKEY_LOCAL_MACHINE, "enum\\scsi", KEY_READ, &scsi), ERROR_SUCCESS);
  DWORD count = 0;
  ASSERT_EQ(store.QueryInfoKey(scsi, &count), ERROR_SUCCESS);
  EXPECT_EQ(count, 3u);
  const char* expected[] = {"Zeta", "alpha", "Mid"};
  char name[64];
  for (DWORD i = 0; i < 3; ++i) {
    ASSERT_EQ(store.EnumKey(scsi, i, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, expected[i]);
  }
  EXPECT_EQ(store.EnumKey(scsi, 3, name, sizeof name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(store.EnumKey(scsi, 0, name, 4), ERROR_MORE_DATA);  // "Zeta" needs 5 bytes
  // Re-creating an existing key (any case) adds nothing.
  store.CloseKey(Create(store, "ENUM\\scsi\\ZETA"));
  ASSERT_EQ(store.QueryInfoKey(scsi, &count), ERROR_SUCCESS);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(store.CloseKey(scsi), ERROR_SUCCESS);
}

TEST(RegistryStore, EachCallFailsOnItsOwnWithItsWin32Code) {
  RegistryStore store;
  HKEY key = Create(store, "Software\\Run");
  ASSERT_EQ(SetBinary(store, key, "Flag", 1), ERROR_SUCCESS);
  HKEY read_only = nullptr;
  ASSERT_EQ(store.OpenKey(HKEY_LOCAL_MACHINE, "Software\\Run", KEY_READ, &read_only),
            ERROR_SUCCESS);
  HKEY bogus = reinterpret_cast<HKEY>(std::uintptr_t{0x4242});
  BYTE data[4] = {};
  DWORD size = sizeof data;
  DWORD count = 0;
  HKEY out = nullptr;

  struct Case {
    const char* what;
    long got;
    long expected;
  };
  const Case cases[] = {
      {"open missing", store.OpenKey(HKEY_LOCAL_MACHINE, "Software\\Nope", KEY_READ, &out),
       ERROR_FILE_NOT_FOUND},
      {"open empty component", store.OpenKey(HKEY_LOCAL_MACHINE, "Software\\\\Run", KEY_READ, &out),
       ERROR_FILE_NOT_FOUND},
      {"open bad parent", store.OpenKey(bogus, "x", KEY_READ, &out), ERROR_INVALID_HANDLE},
      {"query bad handle", store.QueryValue(bogus, "Flag", nullptr, data, &size),
       ERROR_INVALID_HANDLE},
      {"query missing value", store.QueryValue(key, "Other", nullptr, data, &size),
       ERROR_FILE_NOT_FOUND},
      {"info bad handle", store.QueryInfoKey(bogus, &count), ERROR_INVALID_HANDLE},
      {"set through KEY_READ", SetBinary(store, read_only, "Flag", 0), ERROR_ACCESS_DENIED},
      {"delete through KEY_READ", store.DeleteValue(read_only, "Flag"), ERROR_ACCESS_DENIED},
      {"create below KEY_READ", store.CreateKey(read_only, "Sub", KEY_ALL_ACCESS, &out),
       ERROR_ACCESS_DENIED},
      {"delete missing value", store.DeleteValue(key, "Other"), ERROR_FILE_NOT_FOUND},
      {"close bad handle", store.CloseKey(bogus), ERROR_INVALID_HANDLE},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;

  // The refused writes changed nothing.
  size = sizeof data;
  ASSERT_EQ(store.QueryValue(read_only, "flag", nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(data[0], 1);
  // A closed handle is gone for good.
  ASSERT_EQ(store.CloseKey(read_only), ERROR_SUCCESS);
  EXPECT_EQ(store.QueryInfoKey(read_only, &count), ERROR_INVALID_HANDLE);
  EXPECT_EQ(store.CloseKey(read_only), ERROR_INVALID_HANDLE);
  // An injected failure hits exactly one call.
  store.FailNext("set", ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetBinary(store, key, "Flag", 7), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetBinary(store, key, "Flag", 7), ERROR_SUCCESS);
  store.CloseKey(key);
  EXPECT_EQ(store.open_handles(), 0u);
}

TEST(RegistryStore, QueryReportsSizeAndRefusesASmallBuffer) {
  RegistryStore store;
  HKEY key = Create(store, "K");
  const char text[] = "C:\\Quorvanta\\Quorvanta.exe";
  ASSERT_EQ(
      store.SetValue(key, "Quorvanta", REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
      ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(store.QueryValue(key, "Quorvanta", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, sizeof text);
  BYTE small[4] = {9, 9, 9, 9};
  size = sizeof small;
  EXPECT_EQ(store.QueryValue(key, "Quorvanta", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(small[0], 9) << "a refused read must not write into the buffer";
  store.CloseKey(key);
}

TEST(RegistryStore, SavesAtomicallyAndReadsBackTheSameRegistry) {
  TempDir dir;
  const fs::path file = dir.path() / "registry.reg";
  {
    RegistryStore store;
    store.AttachFile(file);
    HKEY key = Create(store, "Enum\\SCSI\\VANTROS_T71_CDRW_USB\\USB&A0&T0");
    ASSERT_EQ(SetBinary(store, key, "AutoInsertNotification", 1), ERROR_SUCCESS);
    // Quotes, backslashes and a code page 932 character whose trail byte is '\'.
    const char tricky[] = "a\"b\\c \x95\x5C";
    ASSERT_EQ(
        store.SetValue(key, "Desc", REG_SZ, reinterpret_cast<const BYTE*>(tricky), sizeof tricky),
        ERROR_SUCCESS);
    // A REG_SZ without its terminator must keep its exact size.
    ASSERT_EQ(store.SetValue(key, "Bare", REG_SZ, reinterpret_cast<const BYTE*>("xy"), 2),
              ERROR_SUCCESS);
    ASSERT_EQ(store.SetValue(key, "Empty", REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    store.CloseKey(Create(store, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run"));
    store.CloseKey(key);
  }
  // No temporary file left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  std::string error;
  auto loaded = RegistryStore::Load(file, false, &error);
  ASSERT_TRUE(loaded) << error;
  auto value = loaded->FindValue("enum\\scsi\\VANTROS_T71_CDRW_USB\\usb&a0&t0", "Desc");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::string(value->data.begin(), value->data.end()),
            std::string("a\"b\\c \x95\x5C", 8) + '\0');
  value = loaded->FindValue("Enum\\SCSI\\VANTROS_T71_CDRW_USB\\USB&A0&T0", "Bare");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->type, REG_SZ);
  EXPECT_EQ(value->data.size(), 2u);
  EXPECT_NE(loaded->Find("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run"), nullptr);
  // Saving what was loaded gives the very same text.
  std::ifstream in(file, std::ios::binary);
  std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(loaded->Serialize(), saved);
}

TEST(RegistryStore, AChangeThatCannotBeSavedIsUndone) {
  TempDir dir;
  fs::create_directory(dir.path() / "folder");
  // No such directory; a folder where the file should be (the temporary
  // file is written, the rename fails and must not leave it behind).
  for (const fs::path& file : {dir.path() / "gone" / "registry.reg", dir.path() / "folder"}) {
    RegistryStore store;
    store.AttachFile(file);
    HKEY key = Create(store, "K");
    EXPECT_EQ(SetBinary(store, key, "V", 1), ERROR_WRITE_FAULT) << file;
    DWORD size = 0;
    EXPECT_EQ(store.QueryValue(key, "V", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND) << file;
    store.CloseKey(key);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  // A file system that takes only part of the new text (here a file size
  // limit, in a child process): the save fails and the old file stays whole.
  const fs::path file = dir.path() / "registry.reg";
  {
    RegistryStore store;
    store.AttachFile(file);
    store.CloseKey(Create(store, "K"));
  }
  std::ifstream before_in(file, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(before_in)),
                           std::istreambuf_iterator<char>());
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    std::string error;
    auto store = RegistryStore::Load(file, false, &error);
    if (!store) ::_exit(3);
    store->AttachFile(file);
    rlimit limit{before.size() + 16, before.size() + 16};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(4);
    HKEY key = Create(*store, std::string(200, 'L').c_str());
    ::_exit(key == nullptr || SetBinary(*store, key, "V", 1) != ERROR_SUCCESS ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a cut-off save reported as done";
  std::ifstream after_in(file, std::ios::binary);
  EXPECT_EQ(
      std::string((std::istreambuf_iterator<char>(after_in)), std::istreambuf_iterator<char>()),
      before);
}

TEST(RegistryStore, MalformedFilesGiveALineNotACrash) {
  const char* bad[] = {
      "",
      "REGEDIT5\r\n",
      "REGEDIT4\r\n\"v\"=hex:01\r\n",                             // value outside a key
      "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n",                   // another hive
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X\r\n",                   // unterminated key
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X\\\\Y]\r\n",             // empty component
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=hex:0g\r\n",  // bad hex digit
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=hex:012\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=\"open\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v=\"x\"\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=dword:1\r\n",  // not 8 digits
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=dword:0000000g\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=word:0001\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=hex(zz):01\r\n",
  };
  for (const char* text : bad) {
    RegistryStore store;
    std::string error;
    EXPECT_FALSE(store.Parse(text, &error)) << text;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  RegistryStore good;
  std::string error;
  // Values of HKEY_LOCAL_MACHINE itself survive a save.
  ASSERT_TRUE(good.Parse("REGEDIT4\n[HKEY_LOCAL_MACHINE]\n\"top\"=hex:07\n", &error)) << error;
  RegistryStore reread;
  ASSERT_TRUE(reread.Parse(good.Serialize(), &error)) << error;
  EXPECT_NE(reread.FindValue("", "top"), nullptr);
  good = RegistryStore();
  EXPECT_TRUE(
      good.Parse("REGEDIT4\n\n; comment\n[HKEY_LOCAL_MACHINE\\X]\n\"v\"=hex:01,\\\n  02\n", &error))
      << error;
  auto v = good.FindValue("X", "v");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->data.size(), 2u);

  // Deeper than Windows allows: refused on its line. The deepest allowed key
  // reads, saves and reads back.
  for (int depth : {513, 60000}) {
    std::string deep = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE";
    for (int i = 0; i < depth; ++i) deep += "\\a";
    deep += "]\r\n";
    RegistryStore store;
    EXPECT_FALSE(store.Parse(deep, &error));
    EXPECT_EQ(error, "line 3: key deeper than 512 levels");
  }
  std::string deepest = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < RegistryStore::kMaxKeyDepth; ++i) deepest += "\\a";
  deepest += "]\r\n";
  good = RegistryStore();
  ASSERT_TRUE(good.Parse(deepest, &error)) << error;
  reread = RegistryStore();
  ASSERT_TRUE(reread.Parse(good.Serialize(), &error)) << error;
  HKEY key = nullptr;
  ASSERT_EQ(reread.OpenKey(HKEY_LOCAL_MACHINE, std::string(deepest, 30, 1023).c_str(),
                           KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  HKEY below = nullptr;
  EXPECT_EQ(reread.CreateKey(key, "b", KEY_ALL_ACCESS, &below), ERROR_INVALID_PARAMETER);
  reread.CloseKey(key);

  TempDir dir;
  std::ofstream(dir.path() / "r.reg") << "garbage";
  EXPECT_FALSE(RegistryStore::Load(dir.path() / "r.reg", true, &error));
  EXPECT_NE(error.find("r.reg"), std::string::npos);
  EXPECT_FALSE(RegistryStore::Load(dir.path() / "missing.reg", false, &error));
  EXPECT_TRUE(RegistryStore::Load(dir.path() / "missing.reg", true, &error));
}

// What real exports hold: dword values and typed hex values, kept byte for
// byte across a save whatever their type.
TEST(RegistryStore, TypedValuesReadAndSaveUnchanged) {
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI]\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\X]\r\n"
      "\"Count\"=dword:0000001f\r\n\"Multi\"=hex(7):41,00,00\r\n\"Sixteen\"=hex(10):01,02\r\n"
      "\"Short\"=hex(4):01,02\r\n\"Expand\"=hex(2):25,00\r\n";
  RegistryStore store;
  std::string error;
  ASSERT_TRUE(store.Parse(text, &error)) << error;
  const auto* count = store.FindValue("Enum\\SCSI\\X", "Count");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->type, REG_DWORD);
  EXPECT_EQ(count->data, (std::vector<BYTE>{0x1f, 0, 0, 0}));
  EXPECT_EQ(store.FindValue("Enum\\SCSI\\X", "Sixteen")->type, 0x10u);
  EXPECT_EQ(store.Serialize(), text);
}

TEST(RegistryStore, DamagedFilesEitherFailCleanlyOrReadBackStable) {
  RegistryStore sample;
  sample.Parse(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\VANTROS_T71_CDRW_USB\\USB&A0&T0]\r\n"
      "\"AutoInsertNotification\"=hex:01\r\n\"Desc\"=\"a\\\\b \\\"q\\\"\"\r\n@=hex(1):61,00,62\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\run]\r\n\"Quorvanta\"=\"C:\\\\Quorvanta\\\\Quorvanta."
      "exe\"\r\n",
      nullptr);
  const std::string good = sample.Serialize();
  std::uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  const char interesting[] = "[]\"\\=@,:\r\nhex()0fz";
  for (int round = 0; round < 3000; ++round) {
    std::string text = good;
    int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      std::size_t at = next() % text.size();
      switch (next() % 3) {
        case 0:
          text[at] = interesting[next() % (sizeof interesting - 1)];
          break;
        case 1:
          text.erase(at, 1 + next() % 8);
          break;
        default:
          text.resize(at);
      }
    }
    RegistryStore store;
    std::string error;
    if (!store.Parse(text, &error)) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    // Whatever was accepted saves and reads back to the same registry.
    RegistryStore again;
    const std::string saved = store.Serialize();
    ASSERT_TRUE(again.Parse(saved, &error)) << error << "\n" << saved;
    EXPECT_EQ(again.Serialize(), saved);
  }
}

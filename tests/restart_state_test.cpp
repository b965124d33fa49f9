// What carries an update across a restart: the drives' auto-insert values and
// the registry resume file, the launch file, the Run entry, and the power
// requests with their token steps, each on a small virtual PC whose every
// file and registry call can be made to fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "drive/auto_insert.h"
#include "platform/posix/registry_store.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_pc.h"
#include "resume/power.h"
#include "resume/resume_state.h"
#include "state/app_state.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

constexpr const char* kT71 = "VANTROS_T71_CDRW_USB";
constexpr const char* kR305 = "VANTROS_R305_CDRW_USB";

struct Instance {
  std::string device;  // the device key below Enum\SCSI
  std::string name;
  int value;  // -1: the instance has no AutoInsertNotification
};

std::string RegistryText(const std::vector<Instance>& instances, bool run_key = true) {
  std::string text = "REGEDIT4\r\n";
  if (run_key) {
    text += "\r\n[HKEY_LOCAL_MACHINE\\" + std::string(kRunKeyPath) +
            "]\r\n\"SystemTray\"=\"SysTray.Exe\"\r\n";
  }
  text += "\r\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI]\r\n";
  for (const auto& i : instances) {
    text += "\r\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\" + i.device + "\\" + i.name + "]\r\n";
    if (i.value >= 0) {
      char hex[8];
      // The value is one byte; the mask says so to the compiler as well.
      std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(i.value) & 0xFFu);
      text += "\"AutoInsertNotification\"=hex:"s + hex + "\r\n";
    }
  }
  return text;
}

// One record of the registry resume file as it must be written.
std::string Record(const std::string& device, const std::string& instance, char digit) {
  return "Enum\\SCSI\\" + device + "\\" + instance + '\0' + digit + '\0';
}

class RestartState : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_restart_XXXXXX";
    dir_ = ::mkdtemp(pattern);
    fs::create_directories(dir_ / "drive_c" / "WINDOWS");
    fs::create_directories(dir_ / "drive_c" / "Quorvanta");
    std::ofstream(dir_ / "drive_c" / "Quorvanta" / "Quorvanta.exe") << "program";
  }
  void TearDown() override {
    InstallPlatform(Platform{});
    fs::remove_all(dir_);
  }

  // Powers the PC on with this registry; files on C: are kept.
  void PowerOn(const std::string& registry_text, SimSystemSettings settings = {}) {
    InstallPlatform(Platform{});
    registry_ = std::make_unique<RegistryStore>();
    std::string error;
    ASSERT_TRUE(registry_->Parse(registry_text, &error)) << error;
    files_ = std::make_unique<SimFiles>(dir_ / "drive_c");
    files_->SetCurrentDirectory("C:\\Quorvanta");
    system_ = std::make_unique<SimSystem>(dir_, settings, files_.get());
    system_->set_command_line("\"C:\\Quorvanta\\Quorvanta.exe\" fw.bin /NON");
    Platform p;
    p.files = files_.get();
    p.registry = registry_.get();
    p.system = system_.get();
    InstallPlatform(p);
    ResetAppState();
    CopyText(g_app.RegistryResumePath, kMaxPath, "C:\\WINDOWS\\Tellmr1.DAT");
    CopyText(g_app.LaunchResumePath, kMaxPath, "C:\\WINDOWS\\Tellmr2.DAT");
    CopyText(g_app.ProgramPath, kMaxPath, "C:\\Quorvanta\\Quorvanta.exe");
    CopyText(g_app.DeviceProductId[0], 20, "T71 CDRW USB");
  }
  // The same PC again with nothing armed to fail.
  void Reboot() { PowerOn(registry_->Serialize()); }

  // Every AutoInsertNotification as "device\instance=hex", in store order.
  std::string Values() {
    std::string out;
    RegistryStore::Key* scsi = registry_->Find("Enum\\SCSI");
    if (scsi == nullptr) return out;
    for (const auto& device : scsi->subkeys) {
      for (const auto& instance : device->subkeys) {
        for (const auto& value : instance->values) {
          if (value.name != "AutoInsertNotification") continue;
          out += device->name + "\\" + instance->name + "=";
          for (BYTE b : value.data) out += std::to_string(b);
          out += " ";
        }
      }
    }
    return out;
  }
  std::string WindowsFile(const char* name) {
    std::ifstream in(dir_ / "drive_c" / "WINDOWS" / name, std::ios::binary);
    if (!in) return "(absent)";
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  void PutWindowsFile(const char* name, const std::string& bytes) {
    std::ofstream(dir_ / "drive_c" / "WINDOWS" / name, std::ios::binary) << bytes;
  }
  std::string RunEntry() {
    const RegistryStore::Value* v = registry_->FindValue(kRunKeyPath, kRunValueName);
    if (v == nullptr) return "(absent)";
    return std::string(v->data.begin(), v->data.end());
  }

  fs::path dir_;
  std::unique_ptr<RegistryStore> registry_;
  std::unique_ptr<SimFiles> files_;
  std::unique_ptr<SimSystem> system_;
};

TEST_F(RestartState, DeviceKeysInstancesAndTheRecordsTheyGive) {
  struct Case {
    const char* name;
    std::vector<Instance> registry;
    const char* product;  // the chosen drive's product id
    int enabled;
    int saved;  // SaveAndClearAutoInsert's result
    std::string records;
    const char* cleared;  // the values after SaveAndClearAutoInsert
  };
  const Case cases[] = {
      {"two instances, 1 then 0",
       {{kT71, "ATAPI&A0&T0", 1}, {kT71, "IDE&A1", 0}},
       "T71 CDRW USB",
       1,
       1,
       Record(kT71, "ATAPI&A0&T0", '1') + Record(kT71, "IDE&A1", '0'),
       "VANTROS_T71_CDRW_USB\\ATAPI&A0&T0=0 VANTROS_T71_CDRW_USB\\IDE&A1=0 "},
      {"U, S and B instances are not looked at but are saved",
       {{kT71, "USBSTOR&A0", 1}, {kT71, "SCSI&A0", 1}, {kT71, "BUS&A0", 1}, {kT71, "ATAPI", 0}},
       "T71 CDRW USB",
       0,
       1,
       Record(kT71, "USBSTOR&A0", '1') + Record(kT71, "SCSI&A0", '1') +
           Record(kT71, "BUS&A0", '1') + Record(kT71, "ATAPI", '0'),
       "VANTROS_T71_CDRW_USB\\USBSTOR&A0=0 VANTROS_T71_CDRW_USB\\SCSI&A0=0 "
       "VANTROS_T71_CDRW_USB\\BUS&A0=0 VANTROS_T71_CDRW_USB\\ATAPI=0 "},
      {"a device key is found by its first 20 characters, not by 19",
       {{"VANTROS_T71_CDRW_USB&REV_1.00", "ATAPI", 1}, {"VANTROS_T71_CDRW_US", "ATAPI", 1}},
       "T71 CDRW USB",
       1,
       1,
       Record("VANTROS_T71_CDRW_USB&REV_1.00", "ATAPI", '1'),
       "VANTROS_T71_CDRW_USB&REV_1.00\\ATAPI=0 VANTROS_T71_CDRW_US\\ATAPI=1 "},
      {"the second model's drive ignores the first model's key; both are saved, T71 first",
       {{kR305, "ATAPI", 0}, {kT71, "ATAPI", 1}},
       "R305 CDRW USB",
       0,
       1,
       Record(kT71, "ATAPI", '1') + Record(kR305, "ATAPI", '0'),
       "VANTROS_R305_CDRW_USB\\ATAPI=0 VANTROS_T71_CDRW_USB\\ATAPI=0 "},
      {"an instance without the value is neither enabled nor saved",
       {{kT71, "ATAPI", -1}, {kT71, "IDE", 1}},
       "T71 CDRW USB",
       1,
       0,
       Record(kT71, "IDE", '1'),
       "VANTROS_T71_CDRW_USB\\IDE=0 "},
      {"no device key at all", {}, "T71 CDRW USB", 0, 1, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "drive_c" / "WINDOWS" / "Tellmr1.DAT");
    PowerOn(RegistryText(c.registry));
    CopyText(g_app.DeviceProductId[0], 20, c.product);
    const std::string before = Values();
    EXPECT_EQ(IsAutoInsertEnabled(), c.enabled);
    EXPECT_EQ(SaveAndClearAutoInsert(), c.saved);
    EXPECT_EQ(WindowsFile("Tellmr1.DAT"), c.records);
    EXPECT_EQ(Values(), c.cleared);
    EXPECT_EQ(RestoreAutoInsert(), 1);
    EXPECT_EQ(Values(), before);
    EXPECT_EQ(registry_->open_handles(), 0u);
    EXPECT_EQ(files_->open_files(), 0u);
  }
}

// Each file and registry call of the save, the restore and the undo failing
// in turn: the walk goes on, the file keeps whole records, and once the next
// clean-up has run every value is what the user had.
TEST_F(RestartState, EveryCallFailingInTurnLosesNoSetting) {
  const std::vector<Instance> drives = {
      {kT71, "ATAPI&A0&T0", 1}, {kT71, "USBSTOR&A0&T0", 1}, {kR305, "ATAPI&A1&T0", 0}};
  const std::string original =
      "VANTROS_T71_CDRW_USB\\ATAPI&A0&T0=1 "
      "VANTROS_T71_CDRW_USB\\USBSTOR&A0&T0=1 "
      "VANTROS_R305_CDRW_USB\\ATAPI&A1&T0=0 ";
  struct Step {
    const char* name;
    int (*run)();
  };
  const Step steps[] = {{"save", SaveAndClearAutoInsert},
                        {"restore", RestoreAutoInsert},
                        {"undo", UndoRestartPreparation}};
  const std::vector<const char*> registry_calls = {"open", "info",  "enum",  "query",
                                                   "set",  "close", "delete"};
  const std::vector<const char*> file_calls = {"open",  "create", "read",
                                               "write", "close",  "delete"};
  int failed_runs = 0;
  for (const Step& step : steps) {
    for (int group = 0; group < 2; ++group) {
      for (const char* call : group == 0 ? registry_calls : file_calls) {
        for (int nth = 1; nth <= 16; ++nth) {
          const std::string what = std::string(step.name) +
                                   (group == 0 ? " registry." : " files.") + call + "@" +
                                   std::to_string(nth);
          SCOPED_TRACE(what);
          fs::remove(dir_ / "drive_c" / "WINDOWS" / "Tellmr1.DAT");
          fs::remove(dir_ / "drive_c" / "WINDOWS" / "Tellmr2.DAT");
          PowerOn(RegistryText(drives));
          if (step.run != SaveAndClearAutoInsert) {
            ASSERT_EQ(SaveAndClearAutoInsert(), 1);
            ASSERT_EQ(SaveLaunch(), 1);
            ASSERT_EQ(SetRunEntry(kRunEntryEnable), 1);
          }
          if (group == 0) {
            registry_->FailCall(call, nth, 1009);
          } else {
            files_->FailCall(call, nth);
          }
          if (step.run() == 0) ++failed_runs;
          // A close that fails keeps its handle, as the store's contract says.
          if (std::string(call) != "close") {
            EXPECT_EQ(registry_->open_handles(), 0u);
          }
          EXPECT_EQ(files_->open_files(), 0u);

          // The next launch's clean-up, with nothing failing.
          Reboot();
          RestoreAutoInsert();
          EXPECT_EQ(Values(), original);
        }
      }
    }
  }
  // Not a count to keep, only proof that the faults were met.
  EXPECT_GT(failed_runs, 50);
}

TEST_F(RestartState, RecordsAreReadWithinTheirBuffer) {
  const std::string long_instance(300, 'L');
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::string> paths;  // the records read, with their values
  };
  const Case cases[] = {
      {"two records",
       Record(kT71, "A", '1') + Record(kT71, "B", '0'),
       {"Enum\\SCSI\\VANTROS_T71_CDRW_USB\\A=1", "Enum\\SCSI\\VANTROS_T71_CDRW_USB\\B=0"}},
      {"a path longer than the buffer is cut, and the next record still read",
       Record(kT71, long_instance, '1') + Record(kT71, "B", '1'),
       {"Enum\\SCSI\\VANTROS_T71_CDRW_USB\\" + std::string(259 - 31, 'L') + "=1",
        "Enum\\SCSI\\VANTROS_T71_CDRW_USB\\B=1"}},
      {"a value of two digits keeps the records in step",
       "P\0"
       "10"
       "Q\0"
       "1\0"s,
       {"P=1", "Q=1"}},
      {"the file ends inside a path",
       Record(kT71, "A", '1') + "Enum\\SC",
       {"Enum\\SCSI\\VANTROS_T71_CDRW_USB\\A=1"}},
      {"the file ends inside a value",
       "P\0"
       "1"s,
       {}},
      {"an empty file", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PowerOn(RegistryText({}));
    PutWindowsFile("Tellmr1.DAT", c.file);
    HANDLE file = OpenExistingFile(g_app.RegistryResumePath);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<std::string> read;
    char path[kRecordPathSize + 1];
    path[kRecordPathSize] = 'X';  // never reached
    int value = -1;
    while (ReadAutoInsertRecord(file, path, &value) == 1) {
      read.push_back(std::string(path) + "=" + std::to_string(value));
    }
    CloseFile(file);
    EXPECT_EQ(read, c.paths);
    EXPECT_EQ(path[kRecordPathSize], 'X');
  }
}

TEST_F(RestartState, TheLaunchFileByteForByte) {
  PowerOn(RegistryText({}));
  CopyText(g_app.DataFileName, kMaxPath, "fw.bin");
  g_app.NoVersionCheck = 1;
  ASSERT_EQ(SaveLaunch(), 1);
  EXPECT_EQ(WindowsFile("Tellmr2.DAT"),
            "\"C:\\Quorvanta\\Quorvanta.exe\" fw.bin /NON\0C:\\Quorvanta\0fw.bin\0/NON\0"s);
  g_app.NoVersionCheck = 0;
  system_->set_command_line("\"C:\\Quorvanta\\Quorvanta.exe\" " + std::string(400, 'x'));
  ASSERT_EQ(SaveLaunch(), 1);
  // Every field fits the buffer it is read back into; no option ends in two NULs.
  EXPECT_EQ(WindowsFile("Tellmr2.DAT"),
            ("\"C:\\Quorvanta\\Quorvanta.exe\" " + std::string(400, 'x')).substr(0, 260) +
                "\0C:\\Quorvanta\0fw.bin\0\0"s);
  files_->FailCall("write", 1);
  EXPECT_EQ(SaveLaunch(), 0);
  files_->FailCall("create", 1);
  EXPECT_EQ(SaveLaunch(), 0);

  struct Case {
    const char* name;
    std::string file;  // "(absent)" for none
    const char* fail;  // a files call that fails, or ""
    int result;
    std::string fields[4];
  };
  const std::string long_field(300, 'd');
  const Case cases[] = {
      {"a stored file of an earlier run",
       "\"C:\\Q\\Q.exe\" fw.bin /NON\0C:\\Q\0fw.bin\0/NON\0"s,
       "",
       1,
       {"\"C:\\Q\\Q.exe\" fw.bin /NON", "C:\\Q", "fw.bin", "/NON"}},
      {"the fourth field takes the rest of the file",
       "c\0d\0f\0/NON\0more"s,
       "",
       1,
       {"c", "d", "f", "/NON"}},
      {"a file that ends early gives shorter strings",
       "c\0C:\\Qu"s,
       "",
       1,
       {"c", "C:\\Qu", "", ""}},
      {"longer fields are cut at their buffers",
       long_field + '\0' + "d\0f\0"s + long_field,
       "",
       1,
       {long_field.substr(0, 260), "d", "f", long_field.substr(0, 260)}},
      {"a read that fails", "c\0d\0f\0\0"s, "read@2", 0, {"c", "", "d", "f"}},
      {"a read that fails in the option", "c\0d\0f\0/N"s, "read@8", 0, {"c", "d", "f", "/"}},
      {"no file", "(absent)", "", 0, {"", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "drive_c" / "WINDOWS" / "Tellmr2.DAT");
    if (c.file != "(absent)") PutWindowsFile("Tellmr2.DAT", c.file);
    PowerOn(RegistryText({}));
    if (c.fail[0] != '\0') files_->FailCall("read", std::atoi(c.fail + 5));
    char fields[4][kMaxPath + 1] = {};
    for (auto& field : fields) field[kMaxPath] = 'X';  // never reached
    EXPECT_EQ(LoadLaunch(fields[0], fields[1], fields[2], fields[3]), c.result);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(std::string(fields[i]), c.fields[i]) << i;
      EXPECT_EQ(fields[i][kMaxPath], 'X');
    }
    EXPECT_EQ(files_->open_files(), 0u);
  }
}

TEST_F(RestartState, TheRunEntryIsWrittenAndGoneAsAsked) {
  struct Case {
    const char* name;
    bool run_key;
    bool entry_before;
    int enable;
    const char* fail;  // registry call that fails first, or ""
    int result;
    std::string entry_after;
  };
  const std::string entry = "C:\\Quorvanta\\Quorvanta.exe\0"s;
  const Case cases[] = {
      {"written with its terminator", true, false, kRunEntryEnable, "", 1, entry},
      {"deleted", true, true, kRunEntryDisable, "", 1, "(absent)"},
      {"deleting an entry that is not there is done already", true, false, 2, "", 1, "(absent)"},
      {"nor is a missing run key", false, false, kRunEntryDisable, "", 1, "(absent)"},
      {"the run key is never created", false, false, kRunEntryEnable, "", 0, "(absent)"},
      {"refused open", true, true, kRunEntryDisable, "open", 0, entry},
      {"refused write", true, false, kRunEntryEnable, "set", 0, "(absent)"},
      {"refused delete", true, true, kRunEntryDisable, "delete", 0, entry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PowerOn(RegistryText({}, c.run_key));
    if (c.entry_before) {
      ASSERT_EQ(SetRunEntry(kRunEntryEnable), 1);
    }
    if (c.fail[0] != '\0') registry_->FailNext(c.fail, ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetRunEntry(c.enable), c.result);
    EXPECT_EQ(RunEntry(), c.entry_after);
    EXPECT_EQ(registry_->Find(kRunKeyPath) != nullptr, c.run_key);
    EXPECT_EQ(registry_->open_handles(), 0u);
  }
}

TEST_F(RestartState, PowerRequestsAndTheirTokenSteps) {
  struct Case {
    const char* name;
    bool nt;
    bool right;
    int request;  // 0 restart, 1 shutdown, 2 shutdown with privilege
    int result;   // of ShutDownWithPrivilege
    std::vector<std::string> steps;
    const char* power_log;
  };
  const Case cases[] = {
      {"Windows 98 restarts", false, true, 0, 0, {"ExitWindows restart: accepted"}, "restart\n"},
      {"Windows 98 shuts down, no privilege touched",
       false,
       true,
       1,
       0,
       {"ExitWindows shutdown: accepted"},
       "shutdown\n"},
      {"NT with the right",
       true,
       true,
       2,
       1,
       {"OpenProcessToken 0x28: opened", "LookupPrivilegeValue SeShutdownPrivilege: found",
        "AdjustTokenPrivileges SeShutdownPrivilege: done", "ExitWindows shutdown: accepted"},
       "shutdown\n"},
      {"NT without the right still asks, and is refused",
       true,
       false,
       2,
       0,
       {"OpenProcessToken 0x28: opened", "LookupPrivilegeValue SeShutdownPrivilege: found",
        "AdjustTokenPrivileges SeShutdownPrivilege: not all assigned",
        "ExitWindows shutdown: refused"},
       ""},
      {"a token that cannot be opened asks for nothing",
       false,
       true,
       2,
       0,
       {"OpenProcessToken 0x28: refused"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(dir_ / "power.log", std::ios::trunc);
    SimSystemSettings settings;
    settings.nt = c.nt;
    settings.shutdown_right = c.right;
    PowerOn(RegistryText({}), settings);
    if (c.request == 0) RestartWindows();
    if (c.request == 1) ShutDownWindows();
    if (c.request == 2) {
      EXPECT_EQ(ShutDownWithPrivilege(), c.result);
    }
    EXPECT_EQ(system_->privilege_log(), c.steps);
    std::ifstream log(dir_ / "power.log");
    std::stringstream logged;
    logged << log.rdbuf();
    EXPECT_EQ(logged.str(), c.power_log);
  }
}

TEST_F(RestartState, UndoPutsBackWhatThePreparationWrote) {
  PowerOn(RegistryText({{kT71, "ATAPI", 1}, {kT71, "USB", 1}}));
  const std::string before = Values();
  ASSERT_EQ(SaveAndClearAutoInsert(), 1);
  ASSERT_EQ(SaveLaunch(), 1);
  EXPECT_EQ(UndoRestartPreparation(), 1);
  EXPECT_EQ(Values(), before);
  EXPECT_EQ(WindowsFile("Tellmr1.DAT"), "(absent)");
  EXPECT_EQ(WindowsFile("Tellmr2.DAT"), "(absent)");
  EXPECT_EQ(RunEntry(), "(absent)");

  // A value that cannot go back keeps its record for a later clean-up.
  ASSERT_EQ(SaveAndClearAutoInsert(), 1);
  ASSERT_EQ(SaveLaunch(), 1);
  ASSERT_EQ(SetRunEntry(kRunEntryEnable), 1);
  registry_->FailCall("set", 2, ERROR_ACCESS_DENIED);
  EXPECT_EQ(UndoRestartPreparation(), 0);
  EXPECT_NE(WindowsFile("Tellmr1.DAT"), "(absent)");
  EXPECT_EQ(WindowsFile("Tellmr2.DAT"), "(absent)");
  EXPECT_EQ(RunEntry(), "(absent)");
  // A second preparation must not save the zeros over the user's values.
  ASSERT_EQ(SaveAndClearAutoInsert(), 1);
  EXPECT_EQ(RestoreAutoInsert(), 1);
  EXPECT_EQ(Values(), before);
}

}  // namespace

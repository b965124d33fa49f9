// quorvanta-sim: make, inspect and run virtual PCs, and make firmware packages.
//
//   init DIR [--os 98|nt] [--lang ID] [--ticks N] [--screen WxH] [--adapters N]
//            [--drive DRIVE]... [--package t71|r305|none] [--autoinsert 0|1]
//            [--realtime 0|1] [--fail LIST]
//   show DIR
//   run DIR [--ui VIEW] [--yes] [--script FILE] [--drive A:T] [-- ARGS]
//   pack OUTDIR ...
//   replay CAPTURE [-- ARGS]
//   init DIR --twin CAPTURE [...]
//   --help | --version
//
// A usage error, or a missing or malformed DIR, is one line on stderr and exit
// code 2, with nothing changed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"
#include "platform/posix/run_program.h"
#include "platform/sim/capture_reader.h"
#include "platform/sim/twin.h"
#include "platform/sim/virtual_pc.h"
#include "platform/text_convert.h"
#include "tools/sim_package.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: quorvanta-sim init DIR [--os 98|nt] [--lang ID] [--ticks N] [--screen WxH]\n"
    "                         [--adapters N] [--drive DRIVE]... [--package t71|r305|none]\n"
    "                         [--autoinsert 0|1] [--realtime 0|1] [--fail LIST]\n"
    "                         [--byhand 0|1]\n"
    "                         [--twin CAPTURE]\n"
    "       quorvanta-sim show DIR\n"
    "       quorvanta-sim run DIR [--ui VIEW] [--yes] [--script FILE] [--drive A:T] [-- ARGS]\n"
    "       quorvanta-sim replay CAPTURE [-- ARGS]\n"
    "       quorvanta-sim pack OUTDIR --model t71|r305 --rev NEW [--digits DDDD]\n"
    "                         [--no-loader] [--non]\n"
    "DRIVE is A:T:MODEL:LINK[:key=value,...], or none for a PC without drives;\n"
    "a drive starts at rev=1.00 code=0x11 modelcode=0x04 disc=0 unless its keys say else.\n"
    "The manual page quorvanta-sim(1) tells the rest.\n";

constexpr const char* kScsiEnum = "Enum\\SCSI";
constexpr int kMaxBoots = 16;

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quorvanta-sim: %s\n", message.c_str());
  return 2;
}

// Windows 98 names a SCSI device key after the product; the program looks
// for these two.
std::string DeviceKeyName(const DriveSetup& setup) {
  std::string name = "VANTROS_";
  for (char c : setup.product) name += (c == ' ') ? '_' : c;
  return name;
}

std::string InstanceKeyName(const DriveSetup& setup) {
  return std::string(setup.link == DriveLink::kUsb ? "USB" : "ATAPI") + "&A" +
         std::to_string(setup.adapter) + "&T" + std::to_string(setup.target);
}

void SetString(RegistryStore::Key* key, const std::string& name, const std::string& text) {
  RegistryStore::Value value;
  value.name = name;
  value.type = REG_SZ;
  value.data.assign(text.begin(), text.end());
  value.data.push_back(0);
  key->values.push_back(std::move(value));
}

// A revision one step newer than `rev` ("1.00" -> "1.10"), for the sample
// package; a revision that is not D.DD gives "9.99".
std::string NewerRevision(const std::string& rev) {
  if (rev.size() != 4 || rev[1] != '.' || !isdigit(static_cast<unsigned char>(rev[0])) ||
      !isdigit(static_cast<unsigned char>(rev[2])) ||
      !isdigit(static_cast<unsigned char>(rev[3]))) {
    return "9.99";
  }
  int value = (rev[0] - '0') * 100 + (rev[2] - '0') * 10 + (rev[3] - '0') + 10;
  if (value > 999) return "9.99";
  char out[16];
  std::snprintf(out, sizeof out, "%d.%02d", value / 100, value % 100);
  return out;
}

bool WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

// ---- init ----

struct InitOptions {
  MachineSettings machine;
  bool adapters_given = false;
  std::vector<DriveSetup> drives;
  bool no_drives = false;
  std::string package = "t71";
  bool autoinsert = true;
  // --twin: the capture whose drives, family, language and package the PC takes.
  std::string twin;
  bool os_given = false;
  bool lang_given = false;
  bool package_given = false;
  bool autoinsert_given = false;
};

int Init(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("init needs a directory");
  fs::path dir = fs::path(args[0]).lexically_normal();
  if (dir.filename().empty() && dir.has_parent_path()) dir = dir.parent_path();  // "pc/"
  if (dir.empty() || dir == "." || dir == "..") return UsageError("init needs a new directory");
  InitOptions options;
  bool drive_given = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (i + 1 >= args.size()) return UsageError("option " + option + " needs a value");
    const std::string& value = args[++i];
    if (value.empty()) return UsageError("option " + option + " needs a non-empty value");
    std::uint64_t n = 0;
    std::string error;
    if (option == "--os") {
      if (value != "98" && value != "nt") return UsageError("--os must be 98 or nt");
      options.machine.nt = value == "nt";
      options.os_given = true;
    } else if (option == "--lang") {
      if (!ParseSettingNumber(value, 0xFFFF, &n)) return UsageError("bad language id " + value);
      options.machine.lang = static_cast<LANGID>(n);
      options.lang_given = true;
    } else if (option == "--ticks") {
      if (!ParseSettingNumber(value, 0xFFFFFFFF, &n)) return UsageError("bad tick count " + value);
      options.machine.ticks = static_cast<DWORD>(n);
    } else if (option == "--screen") {
      MachineSettings probe;
      if (!ParseMachineIni("screen=" + value, &probe, &error)) {
        return UsageError("bad screen size " + value);
      }
      options.machine.screen_width = probe.screen_width;
      options.machine.screen_height = probe.screen_height;
    } else if (option == "--adapters") {
      if (!ParseSettingNumber(value, 8, &n)) return UsageError("bad adapter count " + value);
      options.machine.adapters = static_cast<int>(n);
      options.adapters_given = true;
    } else if (option == "--fail") {
      std::vector<ArmedFault> faults;
      if (!ParseFaultList(value, &faults, &error)) return UsageError(error);
      options.machine.fail = value;
    } else if (option == "--byhand") {
      if (value != "0" && value != "1") return UsageError("--byhand must be 0 or 1");
      options.machine.power_cycle_by_hand = value == "1";
    } else if (option == "--realtime") {
      if (value != "0" && value != "1") return UsageError("--realtime must be 0 or 1");
      options.machine.realtime = value == "1";
    } else if (option == "--autoinsert") {
      if (value != "0" && value != "1") return UsageError("--autoinsert must be 0 or 1");
      options.autoinsert = value == "1";
      options.autoinsert_given = true;
    } else if (option == "--package") {
      if (value != "t71" && value != "r305" && value != "none") {
        return UsageError("--package must be t71, r305 or none");
      }
      options.package = value;
      options.package_given = true;
    } else if (option == "--twin") {
      options.twin = value;
    } else if (option == "--drive") {
      drive_given = true;
      if (value == "none") {
        options.no_drives = true;
        continue;
      }
      DriveSetup setup;
      if (!ParseDriveSetup(value, &setup, &error)) {
        return UsageError("bad drive " + value + ": " + error);
      }
      for (const auto& other : options.drives) {
        if (other.adapter == setup.adapter && other.target == setup.target) {
          return UsageError("two drives at " + std::to_string(setup.adapter) + ":" +
                            std::to_string(setup.target));
        }
      }
      options.drives.push_back(setup);
    } else {
      return UsageError("unknown option " + option);
    }
  }
  if (options.no_drives && !options.drives.empty()) {
    return UsageError("--drive none cannot go with other drives");
  }
  Capture twin;
  if (!options.twin.empty()) {
    std::string error;
    if (drive_given) return UsageError("--twin takes the drives from the capture, not --drive");
    if (!ReadCaptureFile(options.twin, &twin, &error)) return UsageError(error);
    int adapters = 1;
    if (!TwinDrives(twin, &options.drives, &adapters, &error)) {
      return UsageError(options.twin + ": " + error);
    }
    drive_given = true;
    if (!options.os_given) options.machine.nt = twin.family == "nt";
    // A capture does not tell the drives' registry entries: none asks for the
    // restart path unless told, as on this host.
    if (!options.autoinsert_given) options.autoinsert = false;
    if (!options.lang_given) options.machine.lang = twin.lang;
    if (!options.adapters_given) {
      options.machine.adapters = adapters;
      options.adapters_given = true;
    }
    // The package the capture was made with, unless another was asked for.
    if (!options.package_given && !twin.files.empty()) options.package = "none";
  }
  if (!drive_given) {
    DriveSetup setup;
    std::string error;
    ParseDriveSetup("0:0:t71:usb", &setup, &error);
    options.drives.push_back(setup);
  }
  int highest_adapter = -1;
  for (const auto& setup : options.drives)
    highest_adapter = std::max(highest_adapter, setup.adapter);
  if (!options.adapters_given) {
    options.machine.adapters = std::max(1, highest_adapter + 1);
  } else if (options.machine.adapters <= highest_adapter) {
    return UsageError("a drive sits on adapter " + std::to_string(highest_adapter) +
                      " but the PC has " + std::to_string(options.machine.adapters));
  }

  std::error_code ec;
  if (fs::exists(dir, ec) && !(fs::is_directory(dir, ec) && fs::is_empty(dir, ec))) {
    return UsageError(dir.string() + " exists and is not an empty directory");
  }
  // Everything is built beside DIR and moved into place at the end, so a
  // failure leaves nothing behind.
  fs::path parent = dir.parent_path().empty() ? fs::path(".") : dir.parent_path();
  if (!fs::is_directory(parent, ec)) return UsageError("no directory " + parent.string());
  fs::path temp = parent / (dir.filename().string() + ".init-" + std::to_string(::getpid()));
  // The building directory is the program's own: a reason names DIR instead.
  auto fail = [&](std::string why) {
    fs::remove_all(temp, ec);
    for (std::size_t at; (at = why.find(temp.string())) != std::string::npos;) {
      why.replace(at, temp.string().size(), dir.string());
    }
    return UsageError(why);
  };
  if (!fs::create_directory(temp, ec)) return UsageError("cannot create " + temp.string());
  if (!fs::create_directories(temp / "drive_c" / "WINDOWS", ec) ||
      !fs::create_directories(temp / "drive_c" / "Quorvanta", ec)) {
    return fail("cannot create the C: drive in " + temp.string());
  }
  if (!WriteText(temp / "machine.ini", FormatMachineIni(options.machine)) ||
      !WriteText(temp / "power.log", "") ||
      !WriteText(temp / "drive_c" / "Quorvanta" / "Quorvanta.exe",
                 "Quorvanta stands in for this file on the virtual PC.\n")) {
    return fail("cannot write the machine files in " + temp.string());
  }

  RegistryStore registry;
  RegistryStore::Key* run = registry.Make(kRunKeyPath);
  SetString(run, "SystemTray", "SysTray.Exe");
  registry.Make(kScsiEnum);
  for (const auto& setup : options.drives) {
    if (setup.model == DriveModel::kOther) continue;
    std::string path = std::string(kScsiEnum) + "\\" + DeviceKeyName(setup);
    RegistryStore::Key* instance = registry.Make(path + "\\" + InstanceKeyName(setup));
    SetString(instance, "Class", "CDROM");
    SetString(instance, "DeviceDesc", "VANTROS " + setup.product);
    RegistryStore::Value notify;
    notify.name = "AutoInsertNotification";
    notify.type = REG_BINARY;
    notify.data = {static_cast<BYTE>(options.autoinsert ? 1 : 0)};
    instance->values.push_back(notify);
  }
  std::string error;
  if (!ReplaceFileAtomically(temp / "registry.reg", registry.Serialize(), &error)) {
    return fail(error);
  }
  if (!SimAspi::WriteDrives(temp, options.drives, &error)) return fail(error);

  if (options.package != "none") {
    SamplePackage package;
    package.model = options.package;
    DriveModel model = options.package == "t71" ? DriveModel::kT71 : DriveModel::kR305;
    std::string newest = "1.00";  // the sample is at least 1.10
    for (const auto& setup : options.drives) {
      if (setup.model == model && setup.rev > newest) newest = setup.rev;
    }
    package.rev = NewerRevision(newest);
    if (!WriteSamplePackage(temp / "drive_c" / "Quorvanta", package, &error)) {
      return fail("cannot write the package: " + error);
    }
  }

  if (!options.package_given && !PlaceCaptureFiles(twin, temp / "drive_c" / "Quorvanta", &error)) {
    return fail(options.twin + ": " + error);
  }

  // The finished PC must open; anything else is a fault of the options.
  if (!VirtualPc::Open(temp, &error)) return fail(error);
  if (fs::exists(dir, ec)) fs::remove(dir, ec);  // the empty directory
  fs::rename(temp, dir, ec);
  if (ec) return fail("cannot move the virtual PC into " + dir.string() + ": " + ec.message());
  return 0;
}

// ---- show ----

std::vector<std::string> PowerLog(const fs::path& dir) {
  std::vector<std::string> lines;
  std::string text;
  ReadRegularFile(dir / "power.log", &text, nullptr);  // none yet: no requests
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string ValueText(const RegistryStore::Value& value) {
  if (value.type == REG_SZ) {
    std::string text(value.data.begin(), value.data.end());
    text = text.substr(0, text.find('\0'));
    return Cp932ToUtf8(text);
  }
  std::string out;
  char hex[4];
  for (BYTE b : value.data) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    out += hex;
  }
  return out.empty() ? "(empty)" : out;
}

int Show(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("show needs exactly one directory");
  std::string error;
  auto pc = VirtualPc::Open(args[0], &error);
  if (!pc) return UsageError(error);
  const MachineSettings& m = pc->settings();
  std::printf("machine os=%s lang=0x%04X ticks=%u screen=%dx%d adapters=%d realtime=%d\n",
              m.nt ? "nt" : "98", m.lang, m.ticks, m.screen_width, m.screen_height, m.adapters,
              m.realtime ? 1 : 0);
  for (const auto& line : pc->aspi().ShowLines()) std::printf("%s\n", line.c_str());

  RegistryStore& registry = pc->registry();
  if (RegistryStore::Key* scsi = registry.Find(kScsiEnum)) {
    for (const auto& device : scsi->subkeys) {
      for (const auto& instance : device->subkeys) {
        for (const auto& value : instance->values) {
          if (!SameWindowsName(value.name, "AutoInsertNotification")) continue;
          std::printf("autoinsert %s\\%s\\%s %s\n", kScsiEnum, Cp932ToUtf8(device->name).c_str(),
                      Cp932ToUtf8(instance->name).c_str(), ValueText(value).c_str());
        }
      }
    }
  }
  for (const char* name : {"Tellmr1.DAT", "Tellmr2.DAT"}) {
    fs::path host;
    std::string path = std::string("C:\\WINDOWS\\") + name;
    bool exists = pc->files().Map(path.c_str(), false, &host) && fs::is_regular_file(host);
    std::printf("resume %s %s\n", path.c_str(), exists ? "present" : "absent");
  }
  const RegistryStore::Value* entry = registry.FindValue(kRunKeyPath, kRunValueName);
  if (entry != nullptr) {
    std::printf("run %s=%s\n", kRunValueName, ValueText(*entry).c_str());
  } else {
    std::printf("run %s absent\n", kRunValueName);
  }
  auto power = PowerLog(pc->dir());
  if (power.empty()) std::printf("power none\n");
  for (const auto& line : power) std::printf("power %s\n", line.c_str());
  return 0;
}

// ---- run ----

fs::path ProgramBeside() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "quorvanta";
  return self.parent_path() / "quorvanta";
}

// Runs the program once; its exit code (128 + signal when it was killed).
int Launch(const fs::path& program, const std::vector<std::string>& args,
           const std::string* run_entry) {
  return RunProgram("quorvanta-sim", program, args, [run_entry] {
    ::setenv(kEndOnRestartEnvironment, "1", 1);
    if (run_entry != nullptr) {
      ::setenv(kRunEntryEnvironment, run_entry->c_str(), 1);
    } else {
      ::unsetenv(kRunEntryEnvironment);
    }
  });
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("run needs a directory");
  const fs::path dir = args[0];
  std::vector<std::string> options;
  std::vector<std::string> program_args;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--") {
      program_args.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (option == "--yes") {
      options.push_back(option);
    } else if (option == "--ui" || option == "--script" || option == "--drive") {
      if (i + 1 >= args.size()) return UsageError("option " + option + " needs a value");
      if (args[i + 1].empty()) return UsageError("option " + option + " needs a non-empty value");
      options.push_back(option);
      options.push_back(args[++i]);
    } else {
      return UsageError("unknown option " + option);
    }
  }
  std::string error;
  if (!VirtualPc::Open(dir, &error)) return UsageError(error);
  const fs::path program = ProgramBeside();
  std::error_code ec;
  if (!fs::exists(program, ec)) return UsageError("no program at " + program.string());

  std::string run_entry;
  int code = 0;
  for (int boot = 1; boot <= kMaxBoots; ++boot) {
    std::size_t events_before = PowerLog(dir).size();
    std::vector<std::string> child_args = {"--machine", dir.string()};
    child_args.insert(child_args.end(), options.begin(), options.end());
    if (boot == 1) {
      std::printf("sim: power on, starting %s\n", kProgramWindowsPath);
      if (!program_args.empty()) {
        child_args.push_back("--");
        child_args.insert(child_args.end(), program_args.begin(), program_args.end());
      }
    }
    code = Launch(program, child_args, boot == 1 ? nullptr : &run_entry);
    if (code < 0) return UsageError("cannot run " + program.string());
    std::printf("sim: program ended with exit code %d\n", code);
    auto events = PowerLog(dir);
    bool restart = false;
    for (std::size_t i = events_before; i < events.size(); ++i) {
      std::printf("sim: power %s\n", events[i].c_str());
      if (events[i] == "restart") restart = true;
    }
    if (!restart) return code;

    // Windows comes back and starts what its Run entry names.
    auto pc = VirtualPc::Open(dir, &error);
    if (!pc) return UsageError(error);
    const RegistryStore::Value* entry = pc->registry().FindValue(kRunKeyPath, kRunValueName);
    if (entry == nullptr) {
      std::printf("sim: power on, no Run entry\n");
      return code;
    }
    std::string text(entry->data.begin(), entry->data.end());
    run_entry = text.substr(0, text.find('\0'));
    fs::path host;
    if (!pc->files().Map(run_entry.c_str(), false, &host) || !fs::is_regular_file(host, ec)) {
      std::printf("sim: power on, the Run entry names a missing program: %s\n",
                  Cp932ToUtf8(run_entry).c_str());
      return code;
    }
    std::printf("sim: power on, starting %s from the Run entry\n", Cp932ToUtf8(run_entry).c_str());
  }
  std::printf("sim: stopped after %d boots, each of which asked for a restart\n", kMaxBoots);
  return code;
}

// ---- replay ----

// Runs the program on a throw-away virtual PC whose host adapters answer from
// the capture (replay.jsonl, see virtual_pc.h), with the capture's family,
// language, tick count and package, and reports the verdict.
int Replay(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("replay needs a capture");
  std::vector<std::string> program_args;
  bool args_given = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] != "--") return UsageError("unknown option " + args[i]);
    program_args.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    args_given = true;
    break;
  }
  Capture capture;
  std::string error;
  if (!ReadCaptureFile(args[0], &capture, &error)) return UsageError(error);
  std::string text;
  ReadRegularFile(args[0], &text, nullptr, nullptr, kCaptureTextMax);
  // A capture may come from anyone: its args may not choose what the
  // program writes (--trace, --record) or which virtual PC it runs on.
  if (!args_given && !RecordedArgsAllowed(capture.args, &error)) {
    return UsageError(args[0] + ": " + error + "; nothing was run");
  }
  // The scratch virtual PC is the only one a replay runs on.
  for (const auto& a : program_args) {
    if (a == "--") break;
    if (a == "--machine") {
      return UsageError("--machine is not for a replay: it runs on a virtual PC of its own");
    }
  }
  if (!args_given) {
    program_args = capture.args;
    // A session recorded with a person at the screen is replayed by the autopilot.
    bool user = false;
    for (const auto& a : program_args) user = user || a == "--yes" || a == "--list";
    if (!user) program_args.insert(program_args.begin(), "--yes");
  }
  const fs::path program = ProgramBeside();
  std::error_code ec;
  if (!fs::exists(program, ec)) return UsageError("no program at " + program.string());

  std::string scratch_template = (fs::temp_directory_path(ec) / "quorvanta-replay-XXXXXX").string();
  if (::mkdtemp(scratch_template.data()) == nullptr) {
    return UsageError("cannot make a scratch directory: " + std::string(std::strerror(errno)));
  }
  const fs::path scratch = scratch_template;
  const fs::path pc = scratch / "pc";
  char lang[16];
  std::snprintf(lang, sizeof lang, "0x%04X", capture.lang);
  std::vector<std::string> init_args = {
      pc.string(), "--os", capture.family, "--lang", lang, "--ticks", std::to_string(capture.ticks),
      "--drive",   "none", "--package",    "none"};
  int code = Init(init_args);
  if (code == 0 && !PlaceCaptureFiles(capture, pc / "drive_c" / "Quorvanta", &error)) {
    fs::remove_all(scratch, ec);
    return UsageError(args[0] + ": " + error);
  }
  if (code == 0 && !ReplaceFileAtomically(pc / "replay.jsonl", text, &error)) code = 2;
  if (code != 0) {
    fs::remove_all(scratch, ec);
    return UsageError("cannot make the replay's virtual PC in " + scratch.string());
  }
  std::vector<std::string> child_args = {"--machine", pc.string()};
  child_args.insert(child_args.end(), program_args.begin(), program_args.end());
  int program_code = Launch(program, child_args, nullptr);
  std::string verdict;
  bool have = ReadRegularFile(pc / "replay.result", &verdict, nullptr);
  fs::remove_all(scratch, ec);
  std::fflush(stdout);
  if (!have) {
    std::fprintf(stderr, "replay: the program ended (exit code %d) without a verdict\n",
                 program_code);
    return 1;
  }
  std::fputs(verdict.c_str(), stderr);
  return verdict.rfind("replay: all ", 0) == 0 ? 0 : 1;
}

}  // namespace

namespace {

int Main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string_view command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("quorvanta-sim %s\n", QV_VERSION);
    return 0;
  }
  if (command == "init") return Init(args);
  if (command == "show") return Show(args);
  if (command == "run") return Run(args);
  if (command == "pack") return Pack(args);
  if (command == "replay") return Replay(args);
  return UsageError("unknown command " + std::string(command));
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing may end the tool with an uncaught exception: a fault still
  // gives one line and exit code 2.
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    return UsageError(std::string("internal error: ") + e.what());
  }
}

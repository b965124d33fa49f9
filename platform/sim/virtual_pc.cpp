#include "platform/sim/virtual_pc.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"
#include "platform/sim/capture_reader.h"

namespace {

bool ParseFlag(std::string_view text, bool* out) {
  if (text == "0" || text == "1") {
    *out = text == "1";
    return true;
  }
  return false;
}

std::string Hex4(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 15];
  return out;
}

bool OneOf(std::string_view word, std::initializer_list<std::string_view> words) {
  for (auto w : words) {
    if (w == word) return true;
  }
  return false;
}

// "N:SIGNAL" of the signal knob.
bool ParseSignalAt(std::string_view text, std::uint64_t* at, int* signal_number, bool* group) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  if (!ParseSettingNumber(text.substr(0, colon), 0xFFFFFFFF, at) || *at == 0) return false;
  std::string_view name = text.substr(colon + 1);
  *group = !name.empty() && name[0] == '-';
  if (*group) name.remove_prefix(1);
  constexpr std::pair<std::string_view, int> kNames[] = {
      {"INT", SIGINT},   {"TERM", SIGTERM}, {"HUP", SIGHUP},   {"QUIT", SIGQUIT},
      {"PIPE", SIGPIPE}, {"TSTP", SIGTSTP}, {"TTIN", SIGTTIN}, {"TTOU", SIGTTOU}};
  for (const auto& [word, number] : kNames) {
    if (name == word) {
      *signal_number = number;
      return true;
    }
  }
  std::uint64_t number = 0;
  if (!ParseSettingNumber(name, 64, &number) || number == 0) return false;
  *signal_number = static_cast<int>(number);
  return true;
}

}  // namespace

bool ParseSettingNumber(std::string_view text, std::uint64_t max, std::uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    if (static_cast<std::uint64_t>(digit) > max ||
        value > (max - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) {
      return false;
    }
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
  }
  *out = value;
  return true;
}

bool ParseFaultList(std::string_view text, std::vector<ArmedFault>* out, std::string* error) {
  out->clear();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(',', start);
    std::string_view item = text.substr(start, end == std::string_view::npos ? end : end - start);
    start = end == std::string_view::npos ? text.size() : end + 1;
    auto fail = [&] {
      if (error) *error = "bad fault " + std::string(item);
      return false;
    };
    ArmedFault fault;
    std::size_t dot = item.find('.');
    std::size_t at = item.find('@');
    if (dot == std::string_view::npos || at == std::string_view::npos || at < dot) return fail();
    std::string_view group = item.substr(0, dot);
    fault.operation = std::string(item.substr(dot + 1, at - dot - 1));
    std::string_view count = item.substr(at + 1);
    std::string_view code;
    if (std::size_t eq = count.find('='); eq != std::string_view::npos) {
      code = count.substr(eq + 1);
      count = count.substr(0, eq);
    }
    std::uint64_t n = 0;
    if (!ParseSettingNumber(count, 1000000, &n) || n == 0) return fail();
    fault.nth = static_cast<int>(n);
    if (group == "registry") {
      fault.registry = true;
      if (!OneOf(fault.operation,
                 {"open", "create", "info", "enum", "query", "set", "delete", "close"})) {
        return fail();
      }
      if (!code.empty()) {
        if (!ParseSettingNumber(code, 0xFFFF, &n) || n == 0) return fail();
        fault.code = static_cast<long>(n);
      }
    } else if (group == "files") {
      if (!code.empty() || !OneOf(fault.operation, {"open", "create", "read", "write", "seek",
                                                    "size", "close", "delete"})) {
        return fail();
      }
    } else {
      return fail();
    }
    out->push_back(fault);
  }
  return true;
}

bool ParseMachineIni(std::string_view text, MachineSettings* out, std::string* error) {
  MachineSettings settings;
  std::set<std::string, std::less<>> seen;
  int number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    start = end == std::string_view::npos ? text.size() : end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    auto fail = [&](const std::string& why) {
      if (error) *error = "line " + std::to_string(number) + ": " + why;
      return false;
    };
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected key=value");
    std::string_view key = line.substr(0, eq);
    std::string_view value = line.substr(eq + 1);
    if (!seen.insert(std::string(key)).second) return fail("repeated key " + std::string(key));
    std::uint64_t n = 0;
    bool ok = true;
    if (key == "os") {
      ok = value == "98" || value == "nt";
      settings.nt = value == "nt";
    } else if (key == "lang") {
      ok = ParseSettingNumber(value, 0xFFFF, &n);
      settings.lang = static_cast<LANGID>(n);
    } else if (key == "ticks") {
      ok = ParseSettingNumber(value, 0xFFFFFFFF, &n);
      settings.ticks = static_cast<DWORD>(n);
    } else if (key == "screen") {
      std::size_t x = value.find('x');
      std::uint64_t w = 0, h = 0;
      ok = x != std::string_view::npos && ParseSettingNumber(value.substr(0, x), 16384, &w) &&
           ParseSettingNumber(value.substr(x + 1), 16384, &h) && w >= 320 && h >= 200;
      settings.screen_width = static_cast<int>(w);
      settings.screen_height = static_cast<int>(h);
    } else if (key == "adapters") {
      ok = ParseSettingNumber(value, 8, &n);
      settings.adapters = static_cast<int>(n);
    } else if (key == "realtime") {
      ok = ParseFlag(value, &settings.realtime);
    } else if (key == "shutdownright") {
      ok = ParseFlag(value, &settings.shutdown_right);
    } else if (key == "byhand") {
      ok = ParseFlag(value, &settings.power_cycle_by_hand);
    } else if (key == "fail") {
      std::vector<ArmedFault> faults;
      std::string why;
      if (!ParseFaultList(value, &faults, &why)) return fail(why);
      settings.fail = std::string(value);
    } else {
      return fail("unknown key " + std::string(key));
    }
    if (!ok) return fail("bad value for " + std::string(key) + ": " + std::string(value));
  }
  *out = settings;
  return true;
}

std::string FormatMachineIni(const MachineSettings& s) {
  std::ostringstream out;
  out << "os=" << (s.nt ? "nt" : "98") << '\n'
      << "lang=" << Hex4(s.lang) << '\n'
      << "ticks=" << s.ticks << '\n'
      << "screen=" << s.screen_width << 'x' << s.screen_height << '\n'
      << "adapters=" << s.adapters << '\n'
      << "realtime=" << (s.realtime ? 1 : 0) << '\n'
      << "shutdownright=" << (s.shutdown_right ? 1 : 0) << '\n';
  if (s.power_cycle_by_hand) out << "byhand=1\n";
  if (!s.fail.empty()) out << "fail=" << s.fail << '\n';
  return out.str();
}

VirtualPc::~VirtualPc() {
  // The clock must not call into a layer that is gone.
  if (clock_) clock_->Attach(nullptr);
}

std::unique_ptr<VirtualPc> VirtualPc::Open(const std::filesystem::path& dir, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<VirtualPc> {
    if (error) *error = why;
    return nullptr;
  };
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return fail("no virtual PC at " + dir.string());
  const auto ini_path = dir / "machine.ini";
  std::string ini_text;
  std::string why;
  bool missing = false;
  if (!ReadRegularFile(ini_path, &ini_text, &why, &missing)) {
    return fail(missing ? "not a virtual PC (no machine.ini): " + dir.string() : why);
  }
  auto pc = std::unique_ptr<VirtualPc>(new VirtualPc());
  pc->dir_ = dir;
  if (!ParseMachineIni(ini_text, &pc->settings_, &why)) {
    return fail("malformed " + ini_path.string() + ": " + why);
  }
  const auto drive_c = dir / "drive_c";
  if (!std::filesystem::is_directory(drive_c, ec)) {
    return fail("malformed virtual PC (no drive_c directory): " + dir.string());
  }
  pc->registry_ = RegistryStore::Load(dir / "registry.reg", false, &why);
  if (!pc->registry_) return fail(why);
  pc->clock_ = std::make_unique<VirtualClock>(pc->settings_.ticks, pc->settings_.realtime);
  pc->aspi_ = SimAspi::Load(dir, pc->settings_.adapters, pc->clock_.get(), &why);
  if (!pc->aspi_) return fail("malformed drives of " + dir.string() + ": " + why);
  pc->registry_->AttachFile(dir / "registry.reg");

  pc->files_ = std::make_unique<SimFiles>(drive_c);
  if (!pc->files_->SetCurrentDirectory(kPackageWindowsDir)) pc->files_->SetCurrentDirectory("C:\\");
  SimSystemSettings system_settings;
  system_settings.nt = pc->settings_.nt;
  system_settings.lang = pc->settings_.lang;
  system_settings.shutdown_right = pc->settings_.shutdown_right;
  system_settings.power_cycle_by_hand = pc->settings_.power_cycle_by_hand;
  pc->system_ = std::make_unique<SimSystem>(dir, system_settings, pc->files_.get());
  pc->system_->set_command_line(std::string("\"") + kProgramWindowsPath + "\"");

  if (const char* entry = std::getenv(kRunEntryEnvironment); entry != nullptr) {
    pc->from_run_entry_ = true;
    pc->system_->set_command_line(entry);
    std::string folder = entry;
    std::size_t cut = folder.find_last_of('\\');
    if (cut != std::string::npos) {
      folder.resize(cut == 2 ? 3 : cut);  // keep "C:\" for a program in the root
      pc->files_->SetCurrentDirectory(folder.c_str());
    }
  }
  std::vector<ArmedFault> faults;
  ParseFaultList(pc->settings_.fail, &faults, nullptr);  // checked with machine.ini
  for (const auto& fault : faults) {
    if (fault.registry) {
      pc->registry_->FailCall(fault.operation, fault.nth, fault.code);
    } else {
      pc->files_->FailCall(fault.operation, fault.nth);
    }
  }
  if (const char* die = std::getenv(kDieAtEnvironment); die != nullptr && *die != '\0') {
    std::uint64_t n = 0;
    if (!ParseSettingNumber(die, 0xFFFFFFFF, &n)) {
      return fail(std::string("bad ") + kDieAtEnvironment + ": " + die);
    }
    pc->crash_ = std::make_unique<CrashPoint>(n);
    pc->crashing_files_ = std::make_unique<CrashingFiles>(pc->files_.get(), pc->crash_.get());
    pc->crashing_registry_ =
        std::make_unique<CrashingRegistry>(pc->registry_.get(), pc->crash_.get());
  }
  if (const char* at = std::getenv(kSignalAtEnvironment); at != nullptr && *at != '\0') {
    std::uint64_t n = 0;
    int signal_number = 0;
    bool group = false;
    if (!ParseSignalAt(at, &n, &signal_number, &group)) {
      return fail(std::string("bad ") + kSignalAtEnvironment + ": " + at);
    }
    pc->signalling_aspi_ =
        std::make_unique<SignallingAspi>(pc->aspi_.get(), n, signal_number, group);
  }
  if (const char* end = std::getenv(kEndOnRestartEnvironment); end != nullptr && *end == '1') {
    pc->end_on_restart_ = true;
  }
  VirtualPc* self = pc.get();
  pc->system_->set_time_source([self] { return self->clock_->Now(); });
  pc->system_->set_power_handler([self](PowerRequest request) {
    if (request == PowerRequest::kShutdown && self->settings_.power_cycle_by_hand) {
      self->aspi_->SwitchDrivesOffAndOn();
      return;
    }
    if (request != PowerRequest::kRestart || !self->end_on_restart_) return;
    self->Save();
    std::fflush(nullptr);
    ::_exit(0);
  });
  pc->aspi_->PowerOn();
  if (std::filesystem::exists(dir / "replay.jsonl", ec) && !pc->OpenReplay(&why)) return fail(why);
  return pc;
}

bool VirtualPc::OpenReplay(std::string* error) {
  Capture capture;
  std::string why;
  const auto path = dir_ / "replay.jsonl";
  if (!ReadCaptureFile(path.string(), &capture, &why)) {
    *error = "malformed " + why;
    return false;
  }
  system_->set_power_cycled_by_hand(capture.platform == "this host");
  replay_ = std::make_unique<ReplayAspi>(
      std::move(capture), clock_.get(), [this](const std::string& report) {
        ReplaceFileAtomically(dir_ / "replay.result", report, nullptr);
        // A launched program stops at the divergence: what
        // it does afterwards answers nothing recorded.
        if (!end_on_restart_) return;
        std::fflush(nullptr);
        ::_exit(1);
      });
  return true;
}

Platform VirtualPc::platform() {
  Platform p;
  p.clock = clock_.get();
  p.aspi = replay_ ? static_cast<AspiLayer*>(replay_.get()) : aspi_.get();
  p.system = system_.get();
  p.files = files_.get();
  p.registry = registry_.get();
  if (signalling_aspi_) p.aspi = signalling_aspi_.get();
  if (crash_) {
    p.files = crashing_files_.get();
    p.registry = crashing_registry_.get();
  }
  return p;
}

void VirtualPc::SetCommandLine(std::string text) {
  if (from_run_entry_) return;
  system_->set_command_line(std::move(text));
}

bool VirtualPc::Save() {
  // Each registry change was saved as it was made; only one that could not
  // be is written again.
  bool registry_saved = registry_->SaveChanges();
  bool drives_saved = aspi_->Save();
  if (replay_ && !replay_->diverged()) {
    bool identical = false;
    std::string verdict = replay_->Verdict(&identical);
    drives_saved = ReplaceFileAtomically(dir_ / "replay.result", verdict, nullptr) && drives_saved;
  }
  return registry_saved && drives_saved;
}

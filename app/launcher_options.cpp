#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/launcher.h"

namespace {

bool ParseNumber(std::string_view text, int max, int* value, std::size_t max_digits = 3) {
  if (text.empty() || text.size() > max_digits) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > max) return false;
  *value = v;
  return true;
}

bool ParseDrive(std::string_view text, LaunchOptions* options) {
  auto colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  return ParseNumber(text.substr(0, colon), 7, &options->drive_adapter) &&
         ParseNumber(text.substr(colon + 1), 7, &options->drive_target);
}

}  // namespace

const char* LauncherUsage() {
  return "usage: quorvanta [OPTIONS] [--] [IMAGE [OPTION]]\n"
         "  --machine DIR     run on the virtual PC at DIR (default: this host)\n"
         "  --ui VIEW         headless, terminal or desktop\n"
         "  --yes             autopilot: accept, update the chosen drive, exit\n"
         "  --script FILE     a scripted user (headless)\n"
         "  --drive A:T       the drive the autopilot chooses (default: the first listed)\n"
         "  --list [--json]   print the drives the main dialog would list, then end\n"
         "                    (this host without a package: every drive found)\n"
         "  --history [--json]\n"
         "                    print the update history (newest last), then end\n"
         "  --trace FILE      write every drive command to FILE\n"
         "  --record FILE     write a replayable capture of every drive command to FILE\n"
         "  --rehearse        ask the drives only read-only questions and run\n"
         "                    the whole update on its twin in a virtual PC; nothing is\n"
         "                    written to the drive\n"
         "  --family 98|nt    this host only: the Windows family the program acts as\n"
         "                    (98, the default, checks the drive's new firmware)\n"
         "  --package DIR     this host only: the folder that holds Tellumar.inf, or\n"
         "                    Tellumar.inf itself (default: the current directory;\n"
         "                    a view started without one asks for it)\n"
         "  --rehearsal-clock-rate N\n"
         "                    rehearsals against emulated drives only, never a real one\n"
         "  -h, --help, --version\n"
         "environment (this host): QUORVANTA_STATE_DIR, the state directory (default:\n"
         "  $XDG_STATE_HOME/quorvanta or ~/.local/state/quorvanta), private to its user\n"
         "The manual page quorvanta(1) tells the rest: files, environment, exit codes.\n";
}

namespace {

bool ParseOptions(int argc, const char* const* argv, LaunchOptions* options, std::string* error) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    // An image file is never called -h: it asks for help as everywhere else.
    if (!options_done && arg == "-h") {
      options->help = true;
      continue;
    }
    if (options_done || arg.size() < 2 || arg.substr(0, 2) != "--") {
      options->arguments.emplace_back(arg);
      // Once the image is named, the rest belongs to the program's own line.
      options_done = true;
      continue;
    }
    auto value = [&](const char* name, std::string* out) {
      if (i + 1 >= argc) {
        *error = std::string("option ") + name + " needs a value";
        return false;
      }
      *out = argv[++i];
      // An empty value would quietly mean "not given" (--machine "" ran on
      // this host), so it is refused as a missing one is.
      if (out->empty()) {
        *error = std::string("option ") + name + " needs a non-empty value";
        return false;
      }
      return true;
    };
    if (arg == "--") {
      options_done = true;
    } else if (arg == "--machine") {
      if (!value("--machine", &options->machine_dir)) return false;
    } else if (arg == "--ui") {
      if (!value("--ui", &options->ui)) return false;
      if (options->ui != "headless" && options->ui != "terminal" && options->ui != "desktop") {
        *error = "unknown view '" + options->ui + "' (headless, terminal or desktop)";
        return false;
      }
    } else if (arg == "--yes") {
      options->autopilot = true;
    } else if (arg == "--script") {
      if (!value("--script", &options->script_path)) return false;
    } else if (arg == "--drive") {
      std::string text;
      if (!value("--drive", &text)) return false;
      if (!ParseDrive(text, options)) {
        *error = "--drive wants A:T with adapter and target 0 to 7, not '" + text + "'";
        return false;
      }
    } else if (arg == "--family") {
      std::string text;
      if (!value("--family", &text)) return false;
      if (text != "98" && text != "nt") {
        *error = "--family wants 98 or nt, not '" + text + "'";
        return false;
      }
      options->family_98 = text == "98";
      options->family_given = true;
    } else if (arg == "--rehearsal-clock-rate") {
      std::string text;
      if (!value("--rehearsal-clock-rate", &text)) return false;
      int rate = 0;
      if (!ParseNumber(text, 1000, &rate, 4) || rate < 1) {
        *error = "--rehearsal-clock-rate wants a whole number from 1 to 1000, not '" + text + "'";
        return false;
      }
      options->rehearsal_clock_rate = rate;
    } else if (arg == "--list") {
      options->list = true;
    } else if (arg == "--history") {
      options->history = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--package") {
      if (!value("--package", &options->package_dir)) return false;
    } else if (arg == "--trace") {
      if (!value("--trace", &options->trace_path)) return false;
    } else if (arg == "--record") {
      if (!value("--record", &options->record_path)) return false;
    } else if (arg == "--rehearse") {
      options->rehearse = true;
    } else if (arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      *error = "unknown option '" + std::string(arg) + "'";
      return false;
    }
  }
  if (options->json && !options->list && !options->history) {
    *error = "--json goes with --list or --history";
    return false;
  }
  if (options->history && (options->list || options->autopilot || !options->script_path.empty() ||
                           options->rehearse || !options->arguments.empty())) {
    *error = "--history goes alone, or with --json and --machine";
    return false;
  }
  if (options->family_given && !options->machine_dir.empty()) {
    *error = "--family is for this host; a virtual PC has its own (quorvanta-sim init --os)";
    return false;
  }
  if (!options->package_dir.empty() && !options->machine_dir.empty()) {
    *error = "--package is for this host; a virtual PC keeps its package in drive_c/Quorvanta";
    return false;
  }
  if (options->rehearsal_clock_rate != 1 && !options->machine_dir.empty()) {
    *error = "--rehearsal-clock-rate is for this host; a virtual PC runs in virtual time";
    return false;
  }
  if (options->rehearse && options->list) {
    *error = "--rehearse and --list exclude each other";
    return false;
  }
  if (options->autopilot && !options->script_path.empty()) {
    *error = "--yes and --script exclude each other";
    return false;
  }
  return true;
}

}  // namespace

bool ParseLaunchOptions(int argc, const char* const* argv, LaunchOptions* options,
                        std::string* error) {
  if (ParseOptions(argc, argv, options, error)) return true;
  *error += " (see quorvanta --help)";
  return false;
}

std::string BuildWindowsCommandLine(const std::string& program_path,
                                    const std::vector<std::string>& arguments) {
  std::string line = "\"" + program_path + "\"";
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    line += ' ';
    line += arguments[i];
  }
  return line;
}

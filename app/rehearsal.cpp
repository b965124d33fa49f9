#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/recording.h"
#include "platform/posix/file_read.h"
#include "platform/posix/run_program.h"
#include "platform/posix/signal_hold.h"
#include "platform/sim/capture_reader.h"
#include "platform/sim/twin.h"

namespace fs = std::filesystem;

namespace {

// Runs `program` with `args`, its standard output into `output` (standard
// error passes through). A signal that came meanwhile (held until the child
// ended, which the terminal signalled as well) ends the rehearsal now, its
// scratch directory removed by the end hook.
int RunChild(const fs::path& program, const std::vector<std::string>& args,
             const fs::path& output) {
  const int code = RunProgram("quorvanta", program, args, [&output] {
    if (std::freopen(output.c_str(), "w", stdout) == nullptr) ::_exit(127);
  });
  if (const int signal_number = SignalHold::Instance().pending(); signal_number != 0) {
    SignalHold::Instance().EndProgram(signal_number);
  }
  return code;
}

// The file's text; empty when it cannot be read (the caller says what is
// missing).
std::string ReadText(const fs::path& path) {
  std::string text, error;
  return ReadRegularFile(path, &text, &error) ? text : std::string();
}

// Calls `each` with every line of `text`, without its line end.
template <typename Each>
void ForEachLine(const std::string& text, Each each) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    each(text.substr(at, end - at));
    at = end + 1;
  }
}

// Which update the rehearsed run sent: the loader path ends its image with
// the vendor command 0xCD FF, the direct path writes 10-byte WRITE BUFFERs.
std::string PathTaken(const Capture& capture) {
  bool loader = false, direct = false, refused_image = false;
  for (const auto& event : capture.events) {
    const auto& cdb = event.command.cdb;
    if (event.adapters || cdb.empty()) continue;
    if (cdb[0] == 0xCD && cdb.size() > 1 && cdb[1] == 0xFF) loader = true;
    if (cdb[0] == 0x3B && cdb.size() == 10) direct = true;
    if (cdb[0] == 0x3B && cdb.size() == 12) refused_image = true;
  }
  if (loader) return "two-stage (image through the loader commands, restart, loader data)";
  if (direct) return "direct (the image in WRITE BUFFER chunks, then a shutdown request)";
  if (refused_image) return "two-stage, stopped during the image";
  return "no firmware written";
}

// What a transcript line makes of the run's outcome: the last message box,
// or a power request that ends the run after it (the direct path ends with a
// shutdown, the two-stage path may restart first).
void TakeOutcome(const std::string& line, std::string* outcome) {
  if (line.rfind("message: ", 0) == 0) {
    *outcome = line.substr(9);
  } else if (line == "power: shutdown") {
    *outcome = "the computer is shut down to finish the update (power: shutdown)";
  } else if (line == "power: restart") {
    *outcome = "the computer restarts to go on with the update (power: restart)";
  } else if (line.rfind("power: ", 0) == 0) {
    *outcome = line;
  }
}

// One line for each command of the scan that never ended: a drive that
// hangs, which the real run meets in the same place.
template <typename Say>
void SayHangs(const Capture& scan, Say say) {
  for (const auto& event : scan.events) {
    const CaptureCommand& c = event.command;
    if (event.adapters || c.ended || c.cdb.empty()) continue;
    char cdb[8];
    std::snprintf(cdb, sizeof cdb, "0x%02X", c.cdb[0]);
    say("drive " + std::to_string(c.adapter) + ":" + std::to_string(c.target) +
        " hangs: it never answered command " + cdb + ", and the run gave up waiting for it");
  }
}

}  // namespace

int RunRehearsal(const LaunchOptions& options, const fs::path& scan_capture,
                 const fs::path& program, int scan_code, const std::string& scan_messages) {
  auto say = [](const std::string& line) { std::printf("rehearsal: %s\n", line.c_str()); };
  Capture scan;
  std::string error;
  if (!ReadCaptureFile(scan_capture.string(), &scan, &error)) {
    std::fprintf(stderr, "quorvanta: the rehearsal's scan cannot be read: %s\n", error.c_str());
    return 1;
  }
  int questions = 0;
  for (const auto& event : scan.events) questions += event.adapters ? 0 : 1;
  say("asked the drives " + std::to_string(questions) +
      " read-only questions (INQUIRY, vendor query 0xCC); nothing was written to them");
  SayHangs(scan, say);
  if (scan_code != 0) {
    // The scan itself stopped the run: the real run stops there as well,
    // with the same message.
    std::string outcome = "no message";
    ForEachLine(scan_messages, [&say, &outcome](const std::string& line) {
      if (line.empty()) return;
      say(line);
      TakeOutcome(line, &outcome);
    });
    say("outcome: " + outcome);
    std::fflush(stdout);
    return scan_code;
  }

  std::vector<DriveSetup> twins;
  int adapters = 0;
  if (!TwinDrives(scan, &twins, &adapters, &error)) {
    say("no drive answered: nothing to rehearse");
    return 1;
  }

  const fs::path scratch = scan_capture.parent_path();
  const fs::path pc = scratch / "twin";
  const fs::path sim = program.parent_path() / "quorvanta-sim";
  const fs::path init_out = scratch / "init.txt";
  int code = RunChild(sim, {"init", pc.string(), "--twin", scan_capture.string()}, init_out);
  if (code != 0) {
    std::fprintf(stderr, "quorvanta: cannot make the drives' twin with %s (exit code %d)\n",
                 sim.c_str(), code);
    return 1;
  }
  const fs::path show_out = scratch / "show.txt";
  RunChild(sim, {"show", pc.string()}, show_out);
  ForEachLine(ReadText(show_out), [&say](const std::string& line) {
    if (line.rfind("drive ", 0) == 0) say("twin " + line.substr(6));
  });

  std::vector<std::string> args = {"--machine", pc.string(), "--ui",
                                   "headless",  "--record",  (scratch / "twin.jsonl").string()};
  if (!options.script_path.empty()) {
    args.push_back("--script");
    args.push_back(options.script_path);
  } else {
    args.push_back("--yes");
  }
  if (options.drive_adapter >= 0) {
    args.push_back("--drive");
    args.push_back(std::to_string(options.drive_adapter) + ":" +
                   std::to_string(options.drive_target));
  }
  if (!options.arguments.empty()) {
    args.push_back("--");
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  }
  const fs::path transcript = scratch / "transcript.txt";
  code = RunChild(program, args, transcript);
  std::string outcome = "no message";
  ForEachLine(ReadText(transcript), [&say, &outcome](const std::string& line) {
    say(line);
    TakeOutcome(line, &outcome);
  });
  Capture rehearsed;
  std::string why;
  if (ReadCaptureFile((scratch / "twin.jsonl").string(), &rehearsed, &why)) {
    say("path: " + PathTaken(rehearsed));
  }
  say("outcome: " + outcome);
  std::fflush(stdout);
  return code;
}

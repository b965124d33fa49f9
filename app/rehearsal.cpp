#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/recording.h"
#include "platform/posix/file_read.h"
#include "platform/posix/run_program.h"
#include "platform/sim/twin.h"

namespace fs = std::filesystem;

namespace {

// Runs `program` with `args`, its standard output into `output` (standard
// error passes through).
int RunChild(const fs::path& program, const std::vector<std::string>& args,
             const fs::path& output) {
  return RunProgram("quorvanta", program, args, [&output] {
    if (std::freopen(output.c_str(), "w", stdout) == nullptr) ::_exit(127);
  });
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

}  // namespace

int RunRehearsal(const LaunchOptions& options, const fs::path& scan_capture,
                 const fs::path& program) {
  auto say = [](const std::string& line) { std::printf("rehearsal: %s\n", line.c_str()); };
  std::string text = ReadText(scan_capture);
  Capture scan;
  std::string error;
  if (!ParseCapture(text, &scan, &error)) {
    std::fprintf(stderr, "quorvanta: the rehearsal's scan cannot be read: %s\n", error.c_str());
    return 1;
  }
  int questions = 0;
  for (const auto& event : scan.events) questions += event.adapters ? 0 : 1;
  say("asked the drives " + std::to_string(questions) +
      " read-only questions (INQUIRY, vendor query 0xCC); nothing was written to them");

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
    if (line.rfind("message: ", 0) == 0) outcome = line.substr(9);
  });
  Capture rehearsed;
  std::string why;
  if (ParseCapture(ReadText(scratch / "twin.jsonl"), &rehearsed, &why)) {
    say("path: " + PathTaken(rehearsed));
  }
  say("outcome: " + outcome);
  std::fflush(stdout);
  return code;
}

#include "app/history.h"

#include <cstdio>
#include <string>

#include "platform/history.h"

namespace {

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

void PrintTable(const HistoryReading& reading) {
  if (reading.entries.empty()) return;
  std::printf("%-20s  %-5s  %-16s  %-14s  %s\n", "TIME", "DRIVE", "PRODUCT", "REVISION", "RESULT");
  for (const HistoryRecord& entry : reading.entries) {
    const std::string revisions =
        OrDash(entry.Get("revision_before")) + " -> " + OrDash(entry.Get("revision_after"));
    std::printf("%-20s  %-5s  %-16s  %-14s  %s\n", OrDash(entry.Get("time")).c_str(),
                OrDash(entry.Get("address")).c_str(), OrDash(entry.Get("product")).c_str(),
                revisions.c_str(), OrDash(entry.Get("result")).c_str());
  }
}

void PrintJson(const HistoryReading& reading) {
  std::string out = "[";
  for (std::size_t i = 0; i < reading.entries.size(); ++i) {
    out += i == 0 ? "\n  " : ",\n  ";
    out += HistoryRecordJson(reading.entries[i]);
  }
  out += reading.entries.empty() ? "]\n" : "\n]\n";
  std::fputs(out.c_str(), stdout);
}

}  // namespace

int RunHistoryCommand(bool json) {
  char path[kMaxPath] = {};
  HistoryFilePath(path, kMaxPath);
  HistoryReading reading;
  if (!ReadHistory(&reading)) {
    std::fprintf(stderr, "quorvanta: cannot read the update history %s\n", path);
    return 1;
  }
  if (reading.damaged_lines > 0) {
    std::fprintf(stderr,
                 "quorvanta: note: %d damaged line%s of the update history %s skipped (the "
                 "first: line %d)\n",
                 reading.damaged_lines, reading.damaged_lines == 1 ? "" : "s", path,
                 reading.first_damaged_line);
  }
  if (json) {
    PrintJson(reading);
  } else {
    PrintTable(reading);
  }
  return 0;
}

#include "app/recording.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/platform.h"

namespace {

bool ReadWholeFile(const std::filesystem::path& path, std::vector<BYTE>* out) {
  // A FIFO or device in a package file's place would hang or never end.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A file name as the package description writes it: the line without blanks
// and the carriage return around it.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
    text.pop_back();
  std::size_t start = text.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : text.substr(start);
}

void AddFile(const std::filesystem::path& dir, const std::string& name, Capture* capture) {
  if (name.empty() || name.size() > 260) return;
  for (const auto& f : capture->files) {
    if (f.name == name) return;
  }
  CaptureFile file;
  file.name = name;
  if (ReadWholeFile(dir / name, &file.bytes)) capture->files.push_back(std::move(file));
}

}  // namespace

Capture CaptureHeader(const LaunchOptions& options, const char* platform_name,
                      const std::filesystem::path& package_dir) {
  Capture header;
  header.program = std::string("quorvanta ") + QV_VERSION;
  header.platform = platform_name;
  // Windows 95/98 sets the top bit of the version, the NT family does not.
  header.family = (GetVersion() & 0x80000000u) != 0 ? "98" : "nt";
  header.lang = GetUserDefaultLangID();
  header.ticks = GetTickCount();
  if (options.autopilot) header.args.push_back("--yes");
  if (options.drive_adapter >= 0) {
    header.args.push_back("--drive");
    header.args.push_back(std::to_string(options.drive_adapter) + ":" +
                          std::to_string(options.drive_target));
  }
  if (options.list) header.args.push_back("--list");
  if (options.json) header.args.push_back("--json");
  if (!options.arguments.empty()) {
    header.args.push_back("--");
    header.args.insert(header.args.end(), options.arguments.begin(), options.arguments.end());
  }
  AddFile(package_dir, "Tellumar.inf", &header);
  std::vector<BYTE> inf;
  if (ReadWholeFile(package_dir / "Tellumar.inf", &inf)) {
    std::istringstream lines(std::string(inf.begin(), inf.end()));
    std::string line;
    for (int i = 0; i < 2 && std::getline(lines, line); ++i)
      AddFile(package_dir, Trimmed(line), &header);
  }
  if (!options.arguments.empty()) AddFile(package_dir, options.arguments[0], &header);
  return header;
}

std::unique_ptr<CaptureRecorder> StartRecording(const std::string& path, const Capture& header,
                                                std::string* error) {
  Platform platform = CurrentPlatform();
  auto recorder = CaptureRecorder::Open(path, platform.aspi, header, error);
  if (!recorder) return nullptr;
  platform.aspi = recorder.get();
  InstallPlatform(platform);
  return recorder;
}

#include "app/recording.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "package/package_files.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// The largest file of a firmware package: the image.
constexpr std::size_t kPackageFileMax = ImageFileSize;
static_assert(kPackageFileMax <= kCaptureFileMax, "a capture holds every package file");

// A package file's bytes, refusing what is not a regular file (a FIFO or
// device would hang or never end) and, by its size before reading, anything
// larger than a package file. A file that grows meanwhile is read only up to
// the size checked.
bool ReadPackageFile(const fs::path& path, std::vector<BYTE>* out, std::string* why) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    *why = path.string() + " is not a regular file";
    return false;
  }
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kPackageFileMax) {
    *why = path.string() + " is larger than any package file (" + std::to_string(kPackageFileMax) +
           " bytes)";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  out->resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(size));
  out->resize(static_cast<std::size_t>(in.gcount()));
  if (!in && !in.eof()) {
    *why = path.string() + " cannot be read";
    return false;
  }
  return true;
}

// A file name as the package description writes it: the line without blanks
// and the carriage return around it.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
    text.pop_back();
  std::size_t start = text.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : text.substr(start);
}

// `name` relative to the package folder `dir` (with '/' between its parts),
// or empty when it names a file outside it: one that climbs out, a link
// whose target lies outside, an absolute name elsewhere (an absolute name
// inside the folder is named from it).
std::string InsidePackage(const fs::path& dir, const std::string& name) {
  std::string portable = name;
  for (char& c : portable) c = c == '\\' ? '/' : c;
  const fs::path given = fs::path(portable).lexically_normal();
  // A name that is not absolute here yet has a root or a drive letter is
  // another machine's path.
  if (portable.empty() || given.empty() ||
      (!given.is_absolute() &&
       (given.has_root_path() || (portable.size() > 1 && portable[1] == ':')))) {
    return "";
  }
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(dir, ec);
  const fs::path real = fs::weakly_canonical(given.is_absolute() ? given : dir / given, ec);
  const fs::path within = real.lexically_relative(folder);
  if (ec || within.empty() || within == "." || *within.begin() == "..") return "";
  // A relative name is kept as the description writes it, so that a replay
  // finds the file where the program looks for it.
  return (given.is_absolute() ? within : given).generic_string();
}

// Adds the package file `name` to the capture, named relative to the
// package folder; a file outside the folder is left out with one line (the
// update itself reads it as it always has).
void AddFile(const fs::path& dir, const std::string& name, Capture* capture) {
  if (name.empty() || name.size() > 260) return;
  const std::string relative = InsidePackage(dir, name);
  if (relative.empty()) {
    std::fprintf(stderr, "quorvanta: %s is outside the package folder; left out of the capture\n",
                 name.c_str());
    return;
  }
  for (const auto& f : capture->files) {
    if (f.name == relative) return;
  }
  CaptureFile file;
  file.name = relative;
  std::string why;
  if (ReadPackageFile(dir / relative, &file.bytes, &why)) {
    capture->files.push_back(std::move(file));
  } else if (fs::exists(fs::symlink_status(dir / relative))) {
    std::fprintf(stderr, "quorvanta: %s; left out of the capture\n", why.c_str());
  }
}

// The last part of a path written with '/' or '\\' ("_" when it has none).
std::string LastPathPart(const std::string& word) {
  const std::size_t end = word.find_last_not_of("/\\");
  if (end == std::string::npos) return "_";
  const std::size_t slash = word.find_last_of("/\\", end);
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  return word.substr(start, end + 1 - start);
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
    // The image named on the command line, as the package folder names it:
    // no path of this machine goes into the capture.
    const std::size_t first = header.args.size() - options.arguments.size();
    std::string& image = header.args[first];
    const std::string relative = InsidePackage(package_dir, image);
    image = relative.empty() ? fs::path(image).filename().string() : relative;
    // Words after it keep only their last path part, /NON as it is (the
    // program tells no other word from another).
    for (std::size_t i = first + 1; i < header.args.size(); ++i) {
      if (header.args[i] != "/NON") header.args[i] = LastPathPart(header.args[i]);
    }
  }
  AddFile(package_dir, "Tellumar.inf", &header);
  std::vector<BYTE> inf;
  if (!header.files.empty() && header.files[0].name == "Tellumar.inf") {
    inf = header.files[0].bytes;
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

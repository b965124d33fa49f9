#include "platform/sim/sim_files.h"

#include <system_error>

namespace {

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Characters Windows never allows in a file name.
bool ValidName(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(c)) {
      if (i + 1 >= name.size()) return false;
      ++i;
      continue;
    }
    if (c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' ||
        c == '*') {
      return false;
    }
  }
  return true;
}

// Splits at '\' and '/' that are not trail bytes.
std::vector<std::string> SplitSeparators(std::string_view path) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c) && i + 1 < path.size()) {
      parts.back() += path[i];
      parts.back() += path[++i];
    } else if (c == '\\' || c == '/') {
      parts.emplace_back();
    } else {
      parts.back() += path[i];
    }
  }
  return parts;
}

}  // namespace

bool SameWindowsName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

SimFiles::SimFiles(std::filesystem::path drive_c) : root_(std::move(drive_c)) {}

bool SimFiles::Components(std::string_view path, std::vector<std::string>* out) const {
  out->clear();
  if (path.empty() || path.size() >= static_cast<std::size_t>(kMaxPath)) return false;
  std::string_view rest = path;
  bool absolute = false;
  if (rest.size() >= 2 && rest[1] == ':') {
    if (Lower(rest[0]) != 'c') return false;
    rest.remove_prefix(2);
    // "C:name" is relative to the current directory of C:, the only drive.
    absolute = !rest.empty() && (rest[0] == '\\' || rest[0] == '/');
  } else if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) {
    if (rest.size() >= 2 && (rest[1] == '\\' || rest[1] == '/')) return false;  // UNC
    absolute = true;
  }
  std::vector<std::string> parts;
  if (!absolute) {
    for (auto& part : SplitSeparators(std::string_view(current_).substr(2))) {
      if (!part.empty()) parts.push_back(part);
    }
  }
  for (auto& part : SplitSeparators(rest)) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
      continue;
    }
    if (!ValidName(part)) return false;
    parts.push_back(part);
  }
  *out = std::move(parts);
  return true;
}

bool SimFiles::Locate(const std::vector<std::string>& parts, bool for_create,
                      std::filesystem::path* out) const {
  std::filesystem::path at = root_;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    std::error_code ec;
    std::filesystem::path found;
    // The name as written is the usual case and needs no walk through the
    // directory; any other spelling is looked for among its entries. Only a
    // plain name can be an entry.
    const std::string& name = parts[i];
    if (!name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos) {
      std::filesystem::path exact = at / name;
      if (std::filesystem::exists(std::filesystem::symlink_status(exact, ec))) found = exact;
      ec.clear();
    }
    if (found.empty()) {
      for (std::filesystem::directory_iterator it(at, ec), end; !ec && it != end;
           it.increment(ec)) {
        if (SameWindowsName(it->path().filename().string(), name)) {
          found = it->path();
          break;
        }
      }
      if (ec) return false;
    }
    if (found.empty()) {
      if (!(last && for_create)) return false;
      found = at / parts[i];
    } else {
      auto status = std::filesystem::symlink_status(found, ec);
      if (ec || std::filesystem::is_symlink(status)) return false;
      if (!last && !std::filesystem::is_directory(status)) return false;
    }
    at = found;
  }
  *out = at;
  return true;
}

bool SimFiles::Map(const char* path, bool for_create, std::filesystem::path* out) {
  if (path == nullptr) return false;
  std::vector<std::string> parts;
  if (!Components(path, &parts) || parts.empty()) return false;
  return Locate(parts, for_create, out);
}

bool SimFiles::SetCurrentDirectory(const char* path) {
  if (path == nullptr) return false;
  std::vector<std::string> parts;
  std::filesystem::path host;
  if (!Components(path, &parts) || !Locate(parts, false, &host)) return false;
  std::error_code ec;
  if (!std::filesystem::is_directory(host, ec)) return false;
  std::string current = "C:";
  for (auto& part : parts) current += "\\" + part;
  if (parts.empty()) current += "\\";
  current_ = current;
  return true;
}

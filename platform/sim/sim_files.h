// The virtual PC's C: drive: Windows paths mapped into DIR/drive_c.
//
// - "C:\X\Y", "\X\Y" (root of C:) and relative paths (against the current
//   directory) are accepted, with '\' or '/' separators; other drives and
//   UNC paths are refused.
// - Components match ASCII case-insensitively, as on Windows; a component's
//   trail bytes of code page 932 characters are compared exactly and never
//   taken for separators.
// - "." is skipped, ".." goes up; going above C:\ is refused, and so is any
//   symbolic link, so no path ever leaves DIR/drive_c.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/posix_files.h"

class SimFiles final : public PosixFiles {
 public:
  explicit SimFiles(std::filesystem::path drive_c);

  bool Map(const char* path, bool for_create, std::filesystem::path* out) override;
  // Makes an existing directory current; false (and no change) otherwise.
  bool SetCurrentDirectory(const char* path);
  // "C:\..." without a trailing '\' except for the root itself.
  const std::string& current_directory() const { return current_; }

  // Normalises `path` against the current directory into its components
  // below C:\; false for a path that cannot be on C: or leaves it.
  bool Components(std::string_view path, std::vector<std::string>* out) const;

 private:
  // Finds the host path of components; all must exist except, with
  // `for_create`, the last.
  bool Locate(const std::vector<std::string>& parts, bool for_create,
              std::filesystem::path* out) const;

  std::filesystem::path root_;
  std::string current_ = "C:\\";
};

// ASCII case-insensitive comparison of code page 932 names: a lead byte's
// trail byte is compared as it is.
bool SameWindowsName(std::string_view a, std::string_view b);

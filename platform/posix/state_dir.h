// The folder where this host's program keeps its state (resume files,
// registry, lock, last-run log, remembered package folder, history), held
// open from the moment it was checked: every file in it is opened through
// that descriptor and never by looking its path up again, so that renaming
// the folder or putting a link in its place later changes nothing.
//
// The check is OpenSSH's for its own files: every folder from / down to the
// state directory belongs to root or to the user running and no one else
// may write it, except a root-owned sticky folder such as /tmp; a symbolic
// link on the way is followed only when root or the user owns it; the
// state directory itself is the user's own.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

class StateDir {
 public:
  StateDir() = default;
  ~StateDir();
  StateDir(StateDir&& other) noexcept;
  StateDir& operator=(StateDir&& other) noexcept;
  StateDir(const StateDir&) = delete;
  StateDir& operator=(const StateDir&) = delete;

  // Walks to the absolute `path` folder by folder, checking each and making
  // the missing ones (the last one mode 0700), and keeps the last one open.
  // False with one line naming the folder that was refused, before anything
  // was read or made below it.
  static bool Open(const std::filesystem::path& path, StateDir* out, std::string* error);

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The path it was opened by, for messages and for the program's own
  // paths built on it; never looked up again.
  const std::filesystem::path& path() const { return path_; }
  // Whether `host` names a file directly in this folder by its path; its
  // name there in *name.
  bool Holds(const std::filesystem::path& host, std::string* name) const;

  // openat with O_NOFOLLOW and O_CLOEXEC added: never through a link.
  int OpenFile(std::string_view name, int flags, mode_t mode = 0600) const;
  // The whole regular file `name`, at most `max_size` bytes; false with one
  // line naming it (*missing set when it is not there).
  bool ReadBounded(std::string_view name, std::string* bytes, std::string* error,
                   bool* missing = nullptr, std::size_t max_size = SIZE_MAX) const;
  // Replaces `name` whole (temporary file, fsync, rename, fsync of the folder).
  bool ReplaceAtomically(std::string_view name, std::string_view bytes, std::string* error) const;
  // Appends `bytes` to `name` (made 0600 when missing) and flushes it to disk.
  bool AppendAndFlush(std::string_view name, std::string_view bytes, std::string* error) const;
  // The lock file `name`, made when missing: a regular file of the user's
  // that no one else may write; -1 with the reason in *why_not otherwise.
  int OpenLock(std::string_view name, int flags, std::string* why_not) const;
  // Removes `name` when it is a regular file (never a link's target).
  bool Remove(std::string_view name) const;
  // Whether `name` is there (a link counts, unfollowed).
  bool Exists(std::string_view name) const;

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

// The regular file `name` in the folder `dir_fd` opened with `flags`,
// refused when it is not a regular file, not the user's own, or writable by
// others; -1 with the reason in *why_not ("it is a symbolic link", ...).
int OpenOwnRegularFileAt(int dir_fd, const char* name, int flags, mode_t mode,
                         std::string* why_not);

#include "platform/posix/state_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>

#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"

namespace fs = std::filesystem;

namespace {

// Why a folder on the way to the state directory may not be used, or null.
// Whoever may write a folder may rename what is in it and put a link of
// their own in its place, except in a root-owned sticky folder (/tmp),
// where only a name's owner may.
const char* FolderProblem(const struct stat& st, bool state_dir) {
  const uid_t me = ::geteuid();
  if (!S_ISDIR(st.st_mode)) return "is not a directory";
  if (st.st_uid != me && (state_dir || st.st_uid != 0)) return "belongs to another user";
  const bool shared_sticky = !state_dir && st.st_uid == 0 && (st.st_mode & S_ISVTX) != 0;
  if ((st.st_mode & 022) != 0 && !shared_sticky) return "is writable by group or others";
  return nullptr;
}

// The parts of a path or a link's target, without the empty ones and ".".
void PushParts(const fs::path& path, std::deque<std::string>* parts) {
  std::deque<std::string> front;
  for (const auto& part : path.relative_path()) {
    if (!part.empty() && part != ".") front.push_back(part.string());
  }
  parts->insert(parts->begin(), front.begin(), front.end());
}

bool SingleName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

}  // namespace

int OpenOwnRegularFileAt(int dir_fd, const char* name, int flags, mode_t mode,
                         std::string* why_not) {
  const int fd = ::openat(dir_fd, name, flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
  if (fd < 0) {
    *why_not = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return -1;
  }
  struct stat st;
  const char* why = nullptr;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "is not a regular file";
  } else if (st.st_uid != ::geteuid()) {
    why = "belongs to another user";
  } else if ((st.st_mode & 022) != 0) {
    why = "is writable by other users";
  }
  if (why != nullptr) {
    *why_not = std::string("it ") + why;
    ::close(fd);
    return -1;
  }
  // Only the open needed not to wait (for a FIFO's other end).
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

StateDir::~StateDir() {
  if (fd_ >= 0) ::close(fd_);
}

StateDir::StateDir(StateDir&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

StateDir& StateDir::operator=(StateDir&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

bool StateDir::Open(const fs::path& path, StateDir* out, std::string* error) {
  auto refuse = [&](const fs::path& where, const std::string& why) {
    if (error) *error = where.string() + " " + why + "; refusing to use the state directory";
    return false;
  };
  if (!path.is_absolute()) return refuse(path, "is not an absolute path");
  std::deque<std::string> parts;
  PushParts(path, &parts);
  // Each folder is opened from the one before it and checked by its open
  // descriptor: what was checked is what the next step starts from.
  int fd = -1;
  fs::path shown;
  auto restart_at_root = [&] {
    if (fd >= 0) ::close(fd);
    fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    shown = "/";
  };
  auto check = [&](const fs::path& where) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
      return refuse(where, std::string("cannot be read: ") + std::strerror(errno));
    const char* why = FolderProblem(st, parts.empty());
    return why == nullptr || refuse(where, why);
  };
  restart_at_root();
  if (fd < 0 || !check(shown)) {
    if (fd >= 0) ::close(fd);
    return fd >= 0 ? false : refuse("/", "cannot be opened");
  }
  int links = 0;
  while (!parts.empty()) {
    const std::string part = parts.front();
    parts.pop_front();
    const fs::path next = part == ".." ? shown.parent_path() : shown / part;
    struct stat st;
    if (part != ".." && ::fstatat(fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        const int saved = errno;
        ::close(fd);
        return refuse(next, std::string("cannot be read: ") + std::strerror(saved));
      }
      // Missing: made here, below folders already checked; the state
      // directory itself private from the start.
      if (::mkdirat(fd, part.c_str(), parts.empty() ? 0700 : 0755) != 0 && errno != EEXIST) {
        ::close(fd);
        return refuse(next, std::string("cannot be made: ") + std::strerror(errno));
      }
      parts.push_front(part);
      continue;
    }
    if (part != ".." && S_ISLNK(st.st_mode)) {
      // A link that someone else owns could be pointed elsewhere at will.
      if ((st.st_uid != ::geteuid() && st.st_uid != 0) || ++links > 40) {
        ::close(fd);
        return refuse(next, links > 40 ? "leads through too many links"
                                       : "is a symbolic link owned by another user");
      }
      char target[PATH_MAX];
      const ssize_t n = ::readlinkat(fd, part.c_str(), target, sizeof target - 1);
      if (n <= 0) {
        ::close(fd);
        return refuse(next, "cannot be read");
      }
      target[n] = '\0';
      const fs::path to(target);
      PushParts(to, &parts);
      if (to.is_absolute()) restart_at_root();
      if (parts.empty() && !check(shown)) {
        ::close(fd);
        return false;
      }
      continue;
    }
    const int next_fd = ::openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next_fd < 0) {
      ::close(fd);
      return refuse(next, errno == ENOTDIR
                              ? "is not a directory"
                              : std::string("cannot be opened: ") + std::strerror(errno));
    }
    ::close(fd);
    fd = next_fd;
    shown = next;
    if (!check(shown)) {
      ::close(fd);
      return false;
    }
  }
  // Opened for what is done to the folder itself (its mode, fsync).
  const int dir_fd = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int saved = errno;
  ::close(fd);
  if (dir_fd < 0) return refuse(shown, std::string("cannot be opened: ") + std::strerror(saved));
  StateDir opened;
  opened.fd_ = dir_fd;
  opened.path_ = path.lexically_normal();
  if (!opened.path_.has_filename() && opened.path_ != opened.path_.root_path()) {
    opened.path_ = opened.path_.parent_path();
  }
  *out = std::move(opened);
  return true;
}

bool StateDir::Holds(const fs::path& host, std::string* name) const {
  if (fd_ < 0 || !host.has_filename() || host.parent_path() != path_) return false;
  *name = host.filename().string();
  return SingleName(*name);
}

int StateDir::OpenFile(std::string_view name, int flags, mode_t mode) const {
  if (!SingleName(name)) {
    errno = EINVAL;
    return -1;
  }
  return ::openat(fd_, std::string(name).c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool StateDir::ReadBounded(std::string_view name, std::string* bytes, std::string* error,
                           bool* missing, std::size_t max_size) const {
  const std::string shown = (path_ / name).string();
  if (!SingleName(name)) {
    if (error) *error = shown + ": not a file name";
    return false;
  }
  return ReadRegularFileAt(fd_, std::string(name).c_str(), shown, bytes, error, missing, max_size);
}

bool StateDir::ReplaceAtomically(std::string_view name, std::string_view bytes,
                                 std::string* error) const {
  const std::string shown = (path_ / name).string();
  if (!SingleName(name)) {
    if (error) *error = shown + ": not a file name";
    return false;
  }
  return ReplaceFileAtomicallyAt(fd_, std::string(name), shown, bytes, error);
}

bool StateDir::AppendAndFlush(std::string_view name, std::string_view bytes,
                              std::string* error) const {
  const std::string shown = (path_ / name).string();
  std::string why = "not a file name";
  const int fd = SingleName(name) ? OpenOwnRegularFileAt(fd_, std::string(name).c_str(),
                                                         O_WRONLY | O_CREAT | O_APPEND, 0600, &why)
                                  : -1;
  if (fd < 0) {
    if (error) *error = "cannot write " + shown + ": " + why;
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool ok = done == bytes.size() && ::fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0 || !ok) {
    if (error) *error = "cannot write " + shown + ": " + std::strerror(ok ? errno : saved);
    return false;
  }
  return true;
}

int StateDir::OpenLock(std::string_view name, int flags, std::string* why_not) const {
  if (!SingleName(name)) {
    *why_not = "not a file name";
    return -1;
  }
  return OpenOwnRegularFileAt(fd_, std::string(name).c_str(), flags, 0600, why_not);
}

bool StateDir::Remove(std::string_view name) const {
  if (!SingleName(name)) return false;
  const std::string file(name);
  struct stat st;
  if (::fstatat(fd_, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
    return false;
  }
  return ::unlinkat(fd_, file.c_str(), 0) == 0;
}

bool StateDir::Exists(std::string_view name) const {
  struct stat st;
  return SingleName(name) &&
         ::fstatat(fd_, std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

#include "platform/posix/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool ReadFrom(int dir_fd, const char* name, int flags, const std::string& shown, std::string* bytes,
              std::string* error, bool* missing, std::size_t max_size) {
  if (missing != nullptr) *missing = false;
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = shown + ": " + why;
    return false;
  };
  const int fd = ::openat(dir_fd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags);
  if (fd < 0 && errno == ELOOP && (flags & O_NOFOLLOW) != 0) return fail("is a symbolic link");
  if (fd < 0) {
    if (errno == ENOENT && missing != nullptr) *missing = true;
    return fail(std::string("cannot be read (") + std::strerror(errno) + ")");
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const bool directory = S_ISDIR(info.st_mode);
    ::close(fd);
    return fail(directory ? "is a directory, not a file" : "is not a regular file");
  }
  if (static_cast<std::uint64_t>(info.st_size) > max_size) {
    ::close(fd);
    return fail("is larger than " + std::to_string(max_size) + " bytes; not read");
  }
  bytes->clear();
  char buffer[65536];
  for (;;) {
    // A file that grew since it was looked at is read no further.
    if (bytes->size() > max_size) {
      ::close(fd);
      return fail("is larger than " + std::to_string(max_size) + " bytes; not read");
    }
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      ::close(fd);
      return fail(std::string("cannot be read (") + std::strerror(saved) + ")");
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace

bool ReadRegularFile(const std::filesystem::path& path, std::string* bytes, std::string* error,
                     bool* missing, std::size_t max_size) {
  return ReadFrom(AT_FDCWD, path.c_str(), 0, path.string(), bytes, error, missing, max_size);
}

bool ReadRegularFileAt(int dir_fd, const char* name, const std::string& shown, std::string* bytes,
                       std::string* error, bool* missing, std::size_t max_size) {
  return ReadFrom(dir_fd, name, O_NOFOLLOW, shown, bytes, error, missing, max_size);
}

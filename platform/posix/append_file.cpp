#include "platform/posix/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool AppendToFileFlushed(const std::filesystem::path& file, std::string_view bytes,
                         std::string* error) {
  auto fail = [&](const char* what, int fd) {
    const int saved = errno;
    if (fd >= 0) ::close(fd);
    if (error) *error = std::string(what) + " " + file.string() + ": " + std::strerror(saved);
    return false;
  };
  bool made = false;
  int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) {
    fd =
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    made = fd >= 0;
  }
  if (fd < 0) return fail("cannot open", -1);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return fail("not a regular file:", fd);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write", fd);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return fail("cannot flush", fd);
  if (::close(fd) != 0) return fail("cannot flush", -1);
  if (made) {
    const std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      ::fsync(dfd);
      ::close(dfd);
    }
  }
  return true;
}

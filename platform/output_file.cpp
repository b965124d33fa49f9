#include "platform/output_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

std::FILE* CreateOutputFile(const std::string& path, const char* what, std::string* error) {
  auto refuse = [&](const std::string& why) -> std::FILE* {
    if (error != nullptr)
      *error = std::string("cannot write the ") + what + " " + path + ": " + why;
    return nullptr;
  };
#ifdef _WIN32
  std::FILE* file = std::fopen(path.c_str(), "wb");
  return file != nullptr ? file : refuse("it cannot be created");
#else
  // Non-blocking only for the open: a FIFO without a reader fails at once
  // instead of waiting, one with a reader is refused below.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    if (errno == ELOOP) return refuse("it is a symbolic link; not written");
    if (errno == ENXIO) return refuse("it is not a regular file; not written");
    return refuse(std::strerror(errno));
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return refuse("it is not a regular file; not written");
  }
  // Emptied only once it is known to be a file of its own.
  if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int saved = errno;
    ::close(fd);
    return refuse(std::strerror(saved));
  }
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    return refuse("it cannot be opened as a stream");
  }
  return file;
#endif
}

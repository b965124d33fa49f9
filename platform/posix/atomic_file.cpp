#include "platform/posix/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A fresh `name.XXXXXX` in the folder, made with O_EXCL as mkstemp makes
// its files: a name planted in the folder (a link to another file) is never
// opened, and two writers never share one temporary file.
int CreateTemporary(int dir_fd, const std::string& name, std::string* temp) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
      for (auto& r : random) r = static_cast<unsigned char>(std::rand());
    }
    *temp = name + ".";
    for (unsigned char r : random) *temp += kLetters[r % (sizeof kLetters - 1)];
    const int fd =
        ::openat(dir_fd, temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

bool ReplaceFileAtomicallyAt(int dir_fd, const std::string& name, const std::string& shown,
                             std::string_view bytes, std::string* error) {
  std::string temp;
  int fd = CreateTemporary(dir_fd, name, &temp);
  // Removes the temporary file but reports the error of the step that failed.
  auto fail = [&](const char* what, bool remove_temp) {
    const int saved = errno;
    if (remove_temp) ::unlinkat(dir_fd, temp.c_str(), 0);
    if (error) *error = std::string(what) + " " + shown + ": " + std::strerror(saved);
    return false;
  };
  if (fd < 0) return fail("cannot create", false);
  // Made 0600; the file it replaces was readable as well.
  ::fchmod(fd, 0644);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      ::close(fd);
      errno = saved;
      return fail("cannot write", true);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return fail("cannot flush", true);
  }
  // A delayed write error may only show at close.
  if (::close(fd) != 0) return fail("cannot flush", true);
  if (::renameat(dir_fd, temp.c_str(), dir_fd, name.c_str()) != 0) {
    return fail("cannot replace", true);
  }
  // The rename itself must reach the disk too. The new contents are in
  // place by now, so a folder that cannot be synced does not undo the save.
  ::fsync(dir_fd);
  return true;
}

bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                           std::string* error) {
  const std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
  int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder the user may write but not list is still written to.
  if (dir_fd < 0 && errno == EACCES) dir_fd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) {
    if (error) *error = "cannot create " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  const bool replaced =
      ReplaceFileAtomicallyAt(dir_fd, file.filename().string(), file.string(), bytes, error);
  ::close(dir_fd);
  return replaced;
}

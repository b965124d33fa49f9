#include "platform/posix/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                           std::string* error) {
  // A fresh name made with O_EXCL, as mkstemp does: a name planted in the
  // folder (a link to another file) is never opened, and two writers never
  // share one temporary file.
  std::filesystem::path temp_pattern = file;
  temp_pattern += ".XXXXXX";
  std::string temp_name = temp_pattern.string();
  int fd = ::mkostemp(temp_name.data(), O_CLOEXEC);
  const std::filesystem::path temp = temp_name;
  // Removes the temporary file but reports the error of the step that failed.
  auto fail = [&](const char* what, bool remove_temp) {
    const int saved = errno;
    if (remove_temp) ::unlink(temp.c_str());
    if (error) *error = std::string(what) + " " + file.string() + ": " + std::strerror(saved);
    return false;
  };
  if (fd < 0) return fail("cannot create", false);
  // mkostemp makes it 0600; the file it replaces was readable as well.
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
  if (::rename(temp.c_str(), file.c_str()) != 0) return fail("cannot replace", true);
  // The rename itself must reach the disk too. The new contents are in
  // place by now, so a folder that cannot be synced does not undo the save.
  std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

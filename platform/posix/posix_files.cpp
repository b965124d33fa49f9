#include "platform/posix/posix_files.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/append_file.h"
#include "platform/posix/atomic_file.h"
#include "platform/posix/file_read.h"
#include "platform/posix/state_dir.h"

namespace {

// One line naming a file the program will not use; the caller reports the
// failure itself as it always has.
void Refuse(const std::filesystem::path& host, const char* why) {
  std::fprintf(stderr, "quorvanta: %s %s\n", host.c_str(), why);
}

// An open descriptor of a regular file, or -1 (closed) with one line.
int KeepRegular(int fd, const std::filesystem::path& host) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Refuse(host, "is not a regular file; not used");
    return -1;
  }
  // Only the open needed not to wait (for a FIFO's other end).
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

PosixFiles::~PosixFiles() {
  for (auto& [id, file] : open_) ::close(file.fd);
}

PosixFiles::OpenFile* PosixFiles::Find(HANDLE file) {
  auto it = open_.find(reinterpret_cast<std::uintptr_t>(file));
  return it == open_.end() ? nullptr : &it->second;
}

HANDLE PosixFiles::Add(int fd, bool writable, std::string host_path) {
  std::uintptr_t id = next_;
  next_ += 4;
  open_[id] = OpenFile{fd, writable, std::move(host_path)};
  return reinterpret_cast<HANDLE>(id);
}

bool PosixFiles::IsOpen(const std::string& host_path) const {
  for (const auto& [id, file] : open_) {
    if (file.host_path == host_path) return true;
  }
  return false;
}

HANDLE PosixFiles::OpenExisting(const char* path) {
  if (Failing("open")) return INVALID_HANDLE_VALUE;
  std::filesystem::path host;
  if (!Map(path, false, &host) || IsOpen(host.string())) return INVALID_HANDLE_VALUE;
  // Non-blocking: a FIFO in a file's place must not hang the program.
  std::string name;
  const int dir = FolderOf(host, &name);
  // A file of a folder held open (the state directory's) is never a link.
  const bool follow = follow_links_ && dir == AT_FDCWD;
  int fd =
      ::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) return INVALID_HANDLE_VALUE;
  fd = KeepRegular(fd, host);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return Add(fd, false, host.string());
}

HANDLE PosixFiles::CreateAlways(const char* path) {
  if (Failing("create")) return INVALID_HANDLE_VALUE;
  std::filesystem::path host;
  if (!Map(path, true, &host) || IsOpen(host.string())) return INVALID_HANDLE_VALUE;
  // Never through a link (another user's link would have the program
  // overwrite its target), and emptied only once it is known to be a file.
  std::string name;
  const int dir = FolderOf(host, &name);
  int fd =
      ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    if (errno == ELOOP) Refuse(host, "is a symbolic link; not written");
    return INVALID_HANDLE_VALUE;
  }
  fd = KeepRegular(fd, host);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  if (::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return Add(fd, true, host.string());
}

BOOL PosixFiles::Read(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  if (read != nullptr) *read = 0;
  if (Failing("read")) return 0;
  OpenFile* f = Find(file);
  if (f == nullptr || f->writable || read == nullptr || (buffer == nullptr && size != 0)) return 0;
  DWORD done = 0;
  while (done < size) {
    ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  *read = done;
  return 1;
}

BOOL PosixFiles::Write(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
  if (written != nullptr) *written = 0;
  if (Failing("write")) return 0;
  OpenFile* f = Find(file);
  if (f == nullptr || !f->writable || written == nullptr || (buffer == nullptr && size != 0)) {
    return 0;
  }
  DWORD done = 0;
  while (done < size) {
    ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *written = done;
      return 0;
    }
    done += static_cast<DWORD>(n);
  }
  *written = done;
  return 1;
}

BOOL PosixFiles::Flush(HANDLE file) {
  OpenFile* f = Find(file);
  return f != nullptr && f->writable && ::fsync(f->fd) == 0 ? 1 : 0;
}

BOOL PosixFiles::ReadState(const char* path, void* buffer, DWORD size, DWORD* read) {
  *read = 0;
  std::filesystem::path host;
  if (!Map(path, true, &host)) return 0;
  std::string name, bytes, why;
  bool missing = false;
  bool good = false;
  if (const StateDir* state = StateFolderOf(host, &name)) {
    good = state->ReadBounded(name, &bytes, &why, &missing, size);
  } else {
    struct stat st {};
    if (::lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      Refuse(host, "is a symbolic link; not read");
      return 0;
    }
    good = ReadRegularFile(host, &bytes, &why, &missing, size);
  }
  if (!good) {
    if (missing) return 1;
    std::fprintf(stderr, "quorvanta: %s\n", why.c_str());
    return 0;
  }
  std::memcpy(buffer, bytes.data(), bytes.size());
  *read = static_cast<DWORD>(bytes.size());
  return 1;
}

BOOL PosixFiles::AppendState(const char* path, const void* bytes, DWORD size) {
  return WriteState(path, bytes, size, true);
}

BOOL PosixFiles::ReplaceState(const char* path, const void* bytes, DWORD size) {
  return WriteState(path, bytes, size, false);
}

BOOL PosixFiles::WriteState(const char* path, const void* bytes, DWORD size, bool append) {
  std::filesystem::path host;
  if (!Map(path, true, &host)) return 0;
  const std::string_view data(static_cast<const char*>(bytes), size);
  std::string name, why;
  bool good = false;
  if (const StateDir* state = StateFolderOf(host, &name)) {
    good = append ? state->AppendAndFlush(name, data, &why)
                  : state->ReplaceAtomically(name, data, &why);
  } else {
    good = append ? AppendToFileFlushed(host, data, &why) : ReplaceFileAtomically(host, data, &why);
  }
  if (good) return 1;
  std::fprintf(stderr, "quorvanta: %s\n", why.c_str());
  return 0;
}

DWORD PosixFiles::SeekBegin(HANDLE file, DWORD offset) {
  if (Failing("seek")) return 0xFFFFFFFF;
  OpenFile* f = Find(file);
  if (f == nullptr) return 0xFFFFFFFF;
  off_t at = ::lseek(f->fd, static_cast<off_t>(offset), SEEK_SET);
  return at < 0 ? 0xFFFFFFFF : static_cast<DWORD>(at);
}

DWORD PosixFiles::Size(HANDLE file) {
  if (Failing("size")) return 0xFFFFFFFF;
  OpenFile* f = Find(file);
  struct stat st;
  if (f == nullptr || ::fstat(f->fd, &st) != 0) return 0xFFFFFFFF;
  // A size that does not fit the 32-bit answer is reported as a failure.
  if (st.st_size >= 0xFFFFFFFF) return 0xFFFFFFFF;
  return static_cast<DWORD>(st.st_size);
}

BOOL PosixFiles::Close(HANDLE file) {
  bool fail = Failing("close");
  auto it = open_.find(reinterpret_cast<std::uintptr_t>(file));
  if (it == open_.end()) return 0;
  bool closed = ::close(it->second.fd) == 0;
  open_.erase(it);
  return (closed && !fail) ? 1 : 0;
}

BOOL PosixFiles::Delete(const char* path) {
  if (Failing("delete")) return 0;
  std::filesystem::path host;
  if (!Map(path, false, &host) || IsOpen(host.string())) return 0;
  std::string name;
  const int dir = FolderOf(host, &name);
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  if (!S_ISREG(st.st_mode) && !(follow_links_ && dir == AT_FDCWD && S_ISLNK(st.st_mode))) return 0;
  return ::unlinkat(dir, name.c_str(), 0) == 0 ? 1 : 0;
}

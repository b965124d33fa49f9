#include "platform/posix/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/state_dir.h"

namespace {

// Mutex names may hold any character; file names get the safe ones as they
// are and every other byte as %XX.
std::string FileNameOf(std::string_view name) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '_' || c == '-';
    if (safe) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    }
  }
  return out;
}

void SleepMs(int ms) {
  timespec ts{0, ms * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace

NamedMutexTable::NamedMutexTable(std::filesystem::path dir, std::string prefix)
    : dir_(std::move(dir)), prefix_(std::move(prefix)) {}

NamedMutexTable::NamedMutexTable(const StateDir* dir, std::string prefix)
    : dir_(dir->path()), state_(dir), prefix_(std::move(prefix)) {}

NamedMutexTable::~NamedMutexTable() {
  for (auto& [id, entry] : handles_) {
    if (entry.fd >= 0) ::close(entry.fd);
  }
}

std::filesystem::path NamedMutexTable::LockPath(std::string_view name) const {
  return dir_ / (prefix_ + FileNameOf(name) + ".lock");
}

// The lock file itself, never a link, a FIFO or another user's file (which
// could be held against this user for ever).
int NamedMutexTable::OpenLock(std::string_view name, int flags) {
  const std::string file = prefix_ + FileNameOf(name) + ".lock";
  if (state_ != nullptr) return state_->OpenLock(file, flags, &why_not_);
  return OpenOwnRegularFileAt(AT_FDCWD, (dir_ / file).c_str(), flags, 0600, &why_not_);
}

bool NamedMutexTable::HeldHere(std::string_view name) const {
  for (const auto& [id, entry] : handles_) {
    if (entry.fd >= 0 && entry.name == name) return true;
  }
  return false;
}

HANDLE NamedMutexTable::Add(Entry entry) {
  std::uintptr_t id = next_;
  next_ += 4;
  handles_[id] = std::move(entry);
  return reinterpret_cast<HANDLE>(id);
}

HANDLE NamedMutexTable::Open(const char* name) {
  if (name == nullptr) return nullptr;
  if (HeldHere(name)) return Add(Entry{name, -1, false});
  const std::string file = prefix_ + FileNameOf(name) + ".lock";
  int fd = state_ != nullptr
               ? state_->OpenFile(file, O_RDONLY | O_NONBLOCK)
               : ::open(LockPath(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return nullptr;
  // A shared probe conflicts only with a holder, never with another probe.
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held ? Add(Entry{name, -1, false}) : nullptr;
}

HANDLE NamedMutexTable::Create(bool initial_owner, const char* name) {
  if (name == nullptr) return nullptr;
  if (HeldHere(name)) return Add(Entry{name, -1, false});
  if (state_ == nullptr) {
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
  }
  int fd = OpenLock(name, O_RDWR | O_CREAT);
  if (fd < 0) return nullptr;
  // Another process's probe holds a shared lock for microseconds; only a
  // lock that stays taken means the name exists elsewhere.
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Add(Entry{name, fd, initial_owner});
    if (errno != EWOULDBLOCK) {
      // Not held by anyone, just not to be had: no lock at all.
      why_not_ = std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    SleepMs(1);
  }
  ::close(fd);
  return Add(Entry{name, -1, false});
}

HANDLE NamedMutexTable::CreateOrStop(bool initial_owner, const char* name) {
  HANDLE handle = Create(initial_owner, name);
  if (handle != nullptr || name == nullptr) return handle;
  // Going on without the lock would let a second copy write the same drive.
  std::fprintf(stderr, "quorvanta: cannot take the lock %s: %s\n", LockPath(name).c_str(),
               why_not_.c_str());
  std::exit(2);
}

BOOL NamedMutexTable::Release(HANDLE handle) {
  auto it = handles_.find(Id(handle));
  if (it == handles_.end() || !it->second.owned) return 0;
  it->second.owned = false;
  return 1;
}

BOOL NamedMutexTable::Close(HANDLE handle) {
  auto it = handles_.find(Id(handle));
  if (it == handles_.end()) return 0;
  if (it->second.fd >= 0) ::close(it->second.fd);
  handles_.erase(it);
  return 1;
}

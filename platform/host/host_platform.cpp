#include "platform/host/host_platform.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/events.h"
#include "platform/history.h"
#include "platform/text_convert.h"

namespace {

DWORD CopyOut(const std::string& text, char* buffer, DWORD size) {
  const DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (buffer == nullptr || size < needed) return needed;
  std::memcpy(buffer, text.c_str(), needed);
  return needed - 1;
}

const char* NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && value[0] != '\0') ? value : nullptr;
}

// The files the program keeps in the state directory must be this user's
// own regular files that nobody else may write: another user's file or link
// there could steer a root run into writing where it points. The directory
// itself, already checked, is made private when others may read it: its
// files say which drive was being written and from where. False with one
// line naming the first that is not.
bool StateIsOwnAndPrivate(const StateDir& state, std::string* error) {
  const uid_t me = ::geteuid();
  struct stat st;
  if (::fstat(state.fd(), &st) == 0 && (st.st_mode & 077) != 0) {
    if (::fchmod(state.fd(), 0700) != 0) {
      if (error)
        *error = "cannot make " + state.path().string() + " private: " + std::strerror(errno);
      return false;
    }
    std::fprintf(stderr, "quorvanta: %s was open to other users; made private (mode 0700)\n",
                 state.path().c_str());
  }
  for (const char* name : {"registry.reg", "Tellmr1.DAT", "Tellmr2.DAT", "QuorvantaInstance.lock",
                           "last-run.log", "package-folder", kHistoryFileName}) {
    if (::fstatat(state.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const char* why = nullptr;
    if (!S_ISREG(st.st_mode)) {
      why = S_ISLNK(st.st_mode) ? "is a symbolic link" : "is not a regular file";
    } else if (st.st_uid != me) {
      why = "belongs to another user";
    } else if ((st.st_mode & 022) != 0) {
      why = "is writable by group or others";
    }
    if (why != nullptr) {
      if (error) {
        *error =
            (state.path() / name).string() + " " + why + "; refusing to use the state directory";
      }
      return false;
    }
  }
  return true;
}

}  // namespace

DWORD HostClock::TickCount() {
  const std::int64_t now = MonotonicNs();
  if (rate_ == 1) return static_cast<DWORD>(now / 1000000);
  return origin_ticks_ + static_cast<DWORD>((now - origin_ns_) * rate_ / 1000000);
}

void HostClock::SetRehearsalRate(std::uint32_t rate) {
  origin_ticks_ = TickCount();
  origin_ns_ = MonotonicNs();
  rate_ = std::clamp<std::uint32_t>(rate, 1, kMaxRehearsalRate);
}

// The deadline is rounded up to the next whole nanosecond, so that the tick
// count has moved on by at least `ms` when the wait ends.
void HostClock::Wait(const SRB_ExecSCSICmd* request, DWORD ms) {
  const std::int64_t deadline =
      MonotonicNs() + (static_cast<std::int64_t>(ms) * 1000000 + rate_ - 1) / rate_;
  if (pump_ != nullptr) {
    pump_->WaitUntil(request, deadline);
  } else if (request == nullptr || request->SRB_Status == SS_PENDING) {
    SleepUntilNs(deadline);
  }
}

LANGID LanguageFromLocale(std::string_view locale) {
  return locale.substr(0, 2) == "ja" ? 0x0411 : 0x0409;
}

LANGID LanguageFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = NonEmptyEnv(name)) return LanguageFromLocale(value);
  }
  return 0x0409;
}

constexpr const char* kSgClassDir = "/sys/class/scsi_generic";

std::filesystem::path StateDirectory() {
  if (const char* dir = NonEmptyEnv("QUORVANTA_STATE_DIR")) return dir;
  // A relative value is not one (as the XDG rules say): it is ignored.
  if (const char* dir = NonEmptyEnv("XDG_STATE_HOME"); dir != nullptr && dir[0] == '/') {
    return std::filesystem::path(dir) / "quorvanta";
  }
  if (const char* home = NonEmptyEnv("HOME")) {
    return std::filesystem::path(home) / ".local" / "state" / "quorvanta";
  }
  return {};
}

std::filesystem::path WholePackagePath(const char* path) {
  std::string native = path != nullptr ? path : "";
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  std::error_code ec;
  return std::filesystem::absolute(native, ec).lexically_normal();
}

std::string PackageFileProblem(const char* path, DWORD largest) {
  std::error_code ec;
  const std::filesystem::path full = WholePackagePath(path);
  // The name as it may be printed: a folder named with escape sequences
  // shows them, it does not act on the terminal.
  const std::string where = VisibleText(full.string());
  const auto status = std::filesystem::status(full, ec);
  if (!std::filesystem::exists(status)) {
    return "no file " + where +
           ": run the program in the folder that holds Tellumar.inf and its files, or name "
           "that folder with --package DIR";
  }
  if (std::filesystem::is_directory(status)) return where + " is a folder, not a package file";
  if (largest != 0) {
    return where + " is larger than a package file of its kind can be (" + std::to_string(largest) +
           " bytes); not read";
  }
  if (::access(full.c_str(), R_OK) != 0) {
    return "cannot read " + where + ": " + std::strerror(errno);
  }
  // There and readable: the description, when it named no image file.
  if (full.filename() == "Tellumar.inf") return where + " names no firmware image file";
  return "cannot open " + where;
}

const StateDir* HostFiles::StateFolderOf(const std::filesystem::path& host, std::string* name) {
  return state_ != nullptr && state_->Holds(host, name) ? state_ : nullptr;
}

int HostFiles::FolderOf(const std::filesystem::path& host, std::string* name) {
  if (state_ != nullptr && state_->Holds(host, name)) return state_->fd();
  return PosixFiles::FolderOf(host, name);
}

bool HostFiles::Map(const char* path, bool, std::filesystem::path* out) {
  if (path == nullptr || path[0] == '\0') return false;
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  *out = native;
  return true;
}

HostSystem::HostSystem(const StateDir* state)
    : state_(state), mutexes_(state, ""), language_(LanguageFromEnvironment()) {}

DWORD HostSystem::Version() { return windows_98_ ? kVersionWindows98 : kVersionWindowsNt; }

DWORD HostSystem::WindowsDirectory(char* buffer, DWORD size) {
  return CopyOut(state_->path().string(), buffer, size);
}

BOOL HostSystem::SetCurrentDirectory(const char* path) {
  if (path == nullptr) return 0;
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return ::chdir(native.c_str()) == 0 ? 1 : 0;
}

DWORD HostSystem::CurrentDirectory(DWORD size, char* buffer) {
  char here[PATH_MAX];
  if (::getcwd(here, sizeof here) == nullptr) return 0;
  return CopyOut(here, buffer, size);
}

HANDLE HostSystem::OpenMutex(DWORD, BOOL, const char* name) { return mutexes_.Open(name); }

HANDLE HostSystem::CreateMutex(BOOL initial_owner, const char* name) {
  return mutexes_.CreateOrStop(initial_owner != 0, name);
}

BOOL HostSystem::ExitWindows(DWORD flags, DWORD) {
  const bool japanese = language_ == 0x0411;
  if ((flags & EWX_REBOOT) != 0) {
    RaisePlatformEvent(PlatformEventKind::kPowerRequest, "restart");
    // The resume files and the Run entry are in the state directory: the
    // next start of the program goes on with the update.
    RaisePlatformEvent(PlatformEventKind::kPowerNotCarriedOut,
                       japanese ? kRestartNotCarriedOutJapanese : kRestartNotCarriedOut);
  } else if ((flags & (EWX_SHUTDOWN | EWX_POWEROFF)) != 0) {
    // The drive runs its new firmware only after a power cycle, which the
    // shutdown would have given it: the update asks the user for one itself
    // (DrivePowerCycledByHand) and then looks at the drive.
    RaisePlatformEvent(PlatformEventKind::kPowerRequest, "shutdown");
  }
  return 0;
}

void HostSystem::NotePackageFileProblem(const char* path, DWORD largest) {
  ++package_problems_;
  last_package_problem_ = WholePackagePath(path).string();
  RaiseHostNote(PackageFileProblem(path, largest));
}

const char* HostDriveAccess() {
  std::error_code ec;
  // The class shows up once the driver is loaded (or built in), even before
  // a device is attached.
  return std::filesystem::is_directory(kSgClassDir, ec)
             ? "sg"
             : "none (the sg driver is not loaded: modprobe sg)";
}

std::unique_ptr<HostPlatform> HostPlatform::Create(std::string* error) {
  auto host = std::unique_ptr<HostPlatform>(new HostPlatform());
  std::filesystem::path dir = StateDirectory();
  if (dir.empty()) {
    if (error) *error = "no state directory: set QUORVANTA_STATE_DIR or HOME";
    return nullptr;
  }
  // Whole now: the program changes its directory later (--package, a resumed
  // run returning to its saved one) and must still find the same state.
  std::error_code whole;
  dir = std::filesystem::absolute(dir, whole).lexically_normal();
  if (!dir.has_filename() && dir != dir.root_path()) dir = dir.parent_path();
  // The program keeps the Windows directory and the paths built on it in
  // 261-byte buffers; a longer one would be cut into some other path.
  if (dir.string().size() + std::string_view("\\Tellmr1.DAT").size() >= kMaxPath) {
    if (error) *error = "the state directory's path is too long: " + dir.string();
    return nullptr;
  }
  // Checked folder by folder and held open from then on: the files are
  // opened through it, whatever its path names later.
  if (!StateDir::Open(dir, &host->state_, error)) return nullptr;
  if (!StateIsOwnAndPrivate(host->state_, error)) return nullptr;
  host->registry_ = RegistryStore::Load(host->state_, "registry.reg", error);
  if (!host->registry_) return nullptr;
  host->registry_->AttachFile(&host->state_, "registry.reg");
  host->files_.set_state_dir(&host->state_);
  // Standard error, or the status line of a view that owns the terminal.
  host->aspi_ = std::make_unique<SgAspi>(kSgClassDir, "/dev",
                                         [](const std::string& line) { RaiseHostNote(line); });
  host->clock_ = std::make_unique<HostClock>(host->aspi_.get());
  // The lock lives beside what it guards: two copies that share the state
  // directory share the lock, whatever else their environments say, and no
  // other user can take it first.
  host->system_ = std::make_unique<HostSystem>(&host->state_);
  return host;
}

Platform HostPlatform::platform() {
  Platform p;
  p.clock = clock_.get();
  p.aspi = aspi_.get();
  p.system = system_.get();
  p.files = &files_;
  p.registry = registry_.get();
  return p;
}

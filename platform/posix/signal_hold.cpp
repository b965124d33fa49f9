#include "platform/posix/signal_hold.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/events.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Written by the handler, read by the program: plain flags an async signal
// may set.
volatile sig_atomic_t g_pending = 0;
int g_pipe[2] = {-1, -1};
// Signals the program was started with ignored (nohup) stay ignored.
bool g_ignored[sizeof kSignals / sizeof kSignals[0]] = {};
bool g_ignored_known = false;

void OnSignal(int signal_number) {
  const int saved = errno;
  if (g_pending == 0) g_pending = signal_number;
  const char byte = static_cast<char>(signal_number);
  // A full pipe already says that a signal waits.
  [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

bool OpenPipe() {
  if (g_pipe[0] >= 0) return true;
  return ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) == 0;
}

}  // namespace

SignalHold& SignalHold::Instance() {
  static SignalHold hold;
  return hold;
}

void SignalHold::Catch(bool on) {
  if (on == caught_) return;
  if (on && !OpenPipe()) return;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  // Restarted: a drive command's read or ioctl must not fail because a
  // signal came in the middle of a write.
  action.sa_flags = SA_RESTART;
  action.sa_handler = on ? OnSignal : SIG_DFL;
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (!g_ignored_known) {
      struct sigaction old {};
      ::sigaction(kSignals[i], nullptr, &old);
      g_ignored[i] = old.sa_handler == SIG_IGN;
    }
    if (!g_ignored[i]) ::sigaction(kSignals[i], &action, nullptr);
  }
  g_ignored_known = true;
  caught_ = on;
}

void SignalHold::CatchAlways(bool on) {
  catch_always_ = on;
  if (on) {
    Catch(true);
  } else if (!held_) {
    Catch(false);
  }
}

int SignalHold::fd() {
  OpenPipe();
  return g_pipe[0];
}

int SignalHold::pending() const { return static_cast<int>(g_pending); }

void SignalHold::Drain() {
  char bytes[64];
  while (g_pipe[0] >= 0 && ::read(g_pipe[0], bytes, sizeof bytes) > 0) {
  }
}

void SignalHold::Begin(DWORD expected_ms) {
  held_ = true;
  told_ = false;
  started_ = GetTickCount();
  expected_ms_ = expected_ms;
  Catch(true);
}

void SignalHold::End() {
  held_ = false;
  // Default actions first: a signal from now on ends the program at once,
  // one that came before is acted on below.
  if (!catch_always_) Catch(false);
  Drain();
  if (g_pending != 0) EndProgram(g_pending);
}

void SignalHold::Poll() {
  if (!caught_) return;
  Drain();
  if (g_pending == 0) return;
  if (!held_) EndProgram(g_pending);
  if (told_) return;
  told_ = true;
  const DWORD elapsed = GetTickCount() - started_;
  char line[300];
  RaisePlatformEvent(PlatformEventKind::kWriteHeld,
                     HeldLine(elapsed < expected_ms_ ? expected_ms_ - elapsed : 0, line,
                              static_cast<int>(sizeof line)));
}

const char* SignalHold::HeldLine(DWORD remaining_ms, char* buffer, int size) {
  char when[64];
  const DWORD minutes = (remaining_ms + 59999) / 60000;
  if (minutes <= 1) {
    std::snprintf(when, sizeof when, "in a minute or less");
  } else {
    std::snprintf(when, sizeof when, "in about %lu minutes", static_cast<unsigned long>(minutes));
  }
  std::snprintf(buffer, static_cast<std::size_t>(size),
                "a firmware update is running and stopping it now could leave the drive "
                "unusable; the program stops as asked when the update is over, %s",
                when);
  return buffer;
}

void SignalHold::EndProgram(int signal_number) {
  // Once only: a second signal while the hook runs takes its default.
  Catch(false);
  catch_always_ = false;
  if (end_hook_ != nullptr) end_hook_(signal_number);
  std::fflush(nullptr);
  ::signal(signal_number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal_number);
  // SIGQUIT's core dump or an ignored signal aside, this is not reached.
  ::_exit(128 + signal_number);
}

#include "platform/posix/signal_hold.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/events.h"
#include "platform/held_texts.h"
#include "platform/system.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kCount = sizeof kSignals / sizeof kSignals[0];
// Held during a write only: caught (a pipe, a stop) or ignored (a background
// job's terminal access, which would otherwise stop the process).
constexpr int kStops[] = {SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr int kStopCount = sizeof kStops / sizeof kStops[0];

// Written by the handler, read by the program: plain flags an async signal
// may set.
volatile sig_atomic_t g_pending = 0;
volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_broken_pipe = 0;
int g_pipe[2] = {-1, -1};
// Signals the program was started with ignored (nohup) stay ignored.
bool g_ignored[kCount] = {};
bool g_ignored_known = false;
// What the stops did before the write (a view's own Ctrl-Z handling among
// them), put back after it.
struct sigaction g_stop_before[kStopCount];

void OnSignal(int signal_number) {
  const int saved = errno;
  if (signal_number == SIGTSTP) {
    g_stop = 1;
  } else if (signal_number == SIGPIPE) {
    g_broken_pipe = 1;
  } else if (g_pending == 0) {
    g_pending = signal_number;
  }
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
  for (int i = 0; i < kCount; ++i) {
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

void SignalHold::HoldStops(bool on) {
  for (int i = 0; i < kStopCount; ++i) {
    if (!on) {
      ::sigaction(kStops[i], &g_stop_before[i], nullptr);
      continue;
    }
    ::sigaction(kStops[i], nullptr, &g_stop_before[i]);
    // One the program was started with ignored stays so, and ends nothing.
    if (g_stop_before[i].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    const bool terminal_access = kStops[i] == SIGTTIN || kStops[i] == SIGTTOU;
    action.sa_handler = terminal_access ? SIG_IGN : OnSignal;
    ::sigaction(kStops[i], &action, nullptr);
  }
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

void SignalHold::Begin(DWORD) {
  held_ = true;
  told_ = false;
  g_stop = 0;
  g_broken_pipe = 0;
  Catch(true);
  HoldStops(true);
}

void SignalHold::End() {
  held_ = false;
  HoldStops(false);
  // Default actions first: a signal from now on ends the program at once,
  // one that came before is acted on below.
  if (!catch_always_) Catch(false);
  Drain();
  // The write is over: its line goes.
  if (told_) RaisePlatformEvent(PlatformEventKind::kWriteHeld, "");
  told_ = false;
  if (g_pending != 0) EndProgram(g_pending);
  if (g_broken_pipe != 0) EndProgram(SIGPIPE);
  if (g_stop != 0) {
    g_stop = 0;
    // What Ctrl-Z does outside a write (a view gives its terminal back
    // first), now that nothing is cut short by it.
    ::raise(SIGTSTP);
  }
}

void SignalHold::Lose() {
  if (g_pending == 0) g_pending = SIGHUP;
  if (!held_) EndProgram(g_pending);
}

void SignalHold::Poll() {
  if (!caught_) return;
  Drain();
  if (g_pending == 0 && g_stop == 0) return;
  if (!held_) {
    if (g_pending != 0) EndProgram(g_pending);
    return;
  }
  if (!told_) Tell();
}

void SignalHold::Tell() {
  told_ = true;
  DWORD percent = 0;
  DWORD remaining = 0;
  WriteHoldEstimate(&percent, &remaining);
  char line[400];
  RaisePlatformEvent(PlatformEventKind::kWriteHeld,
                     HeldLine((GetUserDefaultLangID() & 0x3FF) == 0x11, remaining, line,
                              static_cast<int>(sizeof line)));
}

const char* SignalHold::HeldLine(bool japanese, DWORD remaining_ms, char* buffer, int size) {
  char when[64];
  const DWORD minutes = (remaining_ms + 59999) / 60000;
  if (minutes <= 1) {
    std::snprintf(when, sizeof when, "%s",
                  japanese ? kHeldWithinMinuteJapanese : kHeldWithinMinute);
  } else {
    std::snprintf(when, sizeof when, japanese ? kHeldMinutesJapanese : kHeldMinutes,
                  static_cast<unsigned long>(minutes));
  }
  std::snprintf(buffer, static_cast<std::size_t>(size), "%s%s",
                japanese ? kHeldLineJapanese : kHeldLine, when);
  return buffer;
}

void SignalHold::EndProgram(int signal_number) {
  // Once only: a second signal while the hook runs takes its default.
  Catch(false);
  catch_always_ = false;
  // What the hook prints may meet a closed pipe: it must still save what
  // must be saved, so the pipe ends nothing until then.
  ::signal(SIGPIPE, SIG_IGN);
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

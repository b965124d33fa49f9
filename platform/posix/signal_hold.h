// The signals that ask a program to end (SIGINT, SIGTERM, SIGHUP, SIGQUIT),
// held during a firmware write with the self-pipe pattern: the handler only
// records the first signal and writes a byte to a pipe; the program looks
// at what came in its waits (PollWriteHold) and, in the terminal view, in
// the poll() it sleeps in.
//
// During a write the first signal gets one line (the platform event
// kWriteHeld) and nothing more; when the write is over the program ends
// the way the signal asked: the end hook restores the terminal, prints the
// transcript and saves what must be saved, then the signal's own default
// action ends the process (a shell sees 128+N). Outside a write the signals
// keep their default action, unless a view asks to catch them always (the
// terminal view, which must give the terminal back first).
//
// During a write only, the other ways a process is stopped short are held
// too: a closed pipe on standard output or error (SIGPIPE: the write fails
// and the program goes on; afterwards it ends quietly by SIGPIPE, as a
// command-line tool does), Ctrl-Z (SIGTSTP: the line, then the stop once the
// write is over) and a background job's terminal access (SIGTTIN, SIGTTOU:
// ignored, so the write goes on). A lost terminal (Lose) ends the program
// afterwards as a hang-up does.
#pragma once

#include "platform/hold.h"

class SignalHold final : public WriteHold {
 public:
  using EndHook = void (*)(int signal_number);

  // The one instance of the process (signals are the process's).
  static SignalHold& Instance();

  // What runs before the process ends for a signal (null: nothing).
  void SetEndHook(EndHook hook) { end_hook_ = hook; }
  // Outside a write as well, a signal is only recorded and ends the program
  // at the next look; off puts the default actions back (outside a write).
  void CatchAlways(bool on);
  // The pipe's read end: readable while a signal waits to be looked at.
  int fd();
  // The first signal not yet acted on; 0 for none.
  int pending() const;
  bool held() const { return held_; }
  // The terminal is gone: nobody can answer any more. The program ends as
  // for SIGHUP, at once outside a write, when it is over during one.
  void Lose();

  void Begin(DWORD expected_ms) override;
  void End() override;
  void Poll() override;

  // Runs the end hook, then ends the process by `signal_number`'s default
  // action.
  [[noreturn]] void EndProgram(int signal_number);

  // The line the first held signal gets, for `remaining_ms` left (code page
  // 932 when Japanese).
  static const char* HeldLine(bool japanese, DWORD remaining_ms, char* buffer, int size);

 private:
  SignalHold() = default;
  void Catch(bool on);
  void HoldStops(bool on);
  void Drain();
  void Tell();

  EndHook end_hook_ = nullptr;
  bool catch_always_ = false;
  bool caught_ = false;
  bool held_ = false;
  bool told_ = false;
};

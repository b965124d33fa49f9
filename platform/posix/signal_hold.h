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

  void Begin(DWORD expected_ms) override;
  void End() override;
  void Poll() override;

  // Runs the end hook, then ends the process by `signal_number`'s default
  // action.
  [[noreturn]] void EndProgram(int signal_number);

  // The line the first held signal gets, for `remaining_ms` left.
  static const char* HeldLine(DWORD remaining_ms, char* buffer, int size);

 private:
  SignalHold() = default;
  void Catch(bool on);
  void Drain();

  EndHook end_hook_ = nullptr;
  bool catch_always_ = false;
  bool caught_ = false;
  bool held_ = false;
  bool told_ = false;
  DWORD started_ = 0;
  DWORD expected_ms_ = 0;
};

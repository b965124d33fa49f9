// What the dialog model and the system group tell the views: a dialog shown,
// a message box shown and answered, a note shown, a power request. The
// platform raises them as they happen; a view, if one listens, turns them
// into what its user sees (the headless view: transcript lines).
#pragma once

#include <string_view>

enum class PlatformEventKind {
  kDialogShown,      // text: the dialog's caption (code page 932)
  kMessageShown,     // text: the message box's text (code page 932)
  kMessageAnswered,  // text: "OK" or "Cancel"
  kNoteShown,        // text: the note (code page 932)
  kPowerRequest,     // text: "restart" or "shutdown"
  // Right after a power request that this computer will not carry out (the
  // host is never restarted or shut down by the program): text is what the
  // views tell the user to do instead (code page 932). Not a transcript line.
  kPowerNotCarriedOut,
  // A request to end the program (a signal) came during a firmware write
  // and waits for its end: text is the one line the user gets (code page
  // 932), and empty once the write is over (the line goes). Not a
  // transcript line.
  kWriteHeld,
  // How far the firmware write is, about once a second while it is held:
  // text is the line (code page 932), empty once the write is over. Not a
  // transcript line.
  kWriteProgress,
  // One line of this host's own about what it found (a node refused, a
  // package file missing): text in UTF-8. Not a transcript line: standard
  // error, or the status line of a view that owns the terminal.
  kHostNote,
};

struct PlatformEvent {
  PlatformEventKind kind;
  std::string_view text;
};

// One listener at a time; null stops listening.
using PlatformEventSink = void (*)(const PlatformEvent& event);
void SetPlatformEventSink(PlatformEventSink sink);
void RaisePlatformEvent(PlatformEventKind kind, std::string_view text);
// A kHostNote to the listener, or straight to standard error when nobody
// listens.
void RaiseHostNote(std::string_view line);

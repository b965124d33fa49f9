// The views of the dialog model that the launcher chooses from. A view only
// draws the model and feeds it input; the program's dialogs run the same in
// each.
#pragma once

#include <cstdio>
#include <string>

// The primary screen the dialogs are centred on (the virtual PC's screen).
void SetScreenSize(int width, int height);

// Which drive row `row` (0..3) of the main dialog shows; false for none.
// The program that owns the rows tells the autopilot through this, so that
// the view never reads the program's own record.
using ListedDriveQuery = bool (*)(int row, int* adapter, int* target);
void SetListedDriveQuery(ListedDriveQuery query);
// The model (product id, trimmed) of the drive behind row `row`, for the
// status line of the terminal and desktop views; false for none.
using ListedDriveModelQuery = bool (*)(int row, char* product, int size);
void SetListedDriveModelQuery(ListedDriveModelQuery query);

// Headless: a scripted user and the transcript.
//
// `transcript` receives the transcript lines (dialog:, message:, answer:,
// note:); null switches them off. Exactly one user drives the dialogs:
// `script_path` (a script file, its language in the README) or `autopilot`
// (reads the agreement to its end, accepts, chooses the drive at
// drive_adapter:drive_target or the first listed one when either is -1,
// presses UPDATE, answers OK to every question, presses EXIT). With neither,
// message boxes are answered OK and the first dialog that waits for input
// ends the run as a failure.
//
// False, with a one-line reason, when the script cannot be read or parsed;
// the reason names the file and line ("FILE:LINE: ...").
bool StartHeadlessView(std::FILE* transcript, const char* script_path, bool autopilot,
                       int drive_adapter, int drive_target, std::string* error);

// Called after the program has returned. Checks what is left of the script
// (expectations still apply; actions fail, since no dialog is open) and
// gives 0 when the user finished, or 2 with the reason when an expectation
// failed, the script ran out while a dialog waited, or the autopilot could
// not go on. The launcher prints the reason on standard error and exits with
// the code. Uninstalls the user.
int FinishHeadlessView(std::string* error);

// Terminal: the dialogs drawn with ncursesw on the terminal of standard input
// and output, driven by a person's keys and mouse. False with a one-line
// reason when there is no usable terminal or it is smaller than 80x24. The
// transcript is kept while the screen is in use and printed on standard
// output when FinishTerminalView has restored the terminal.
bool StartTerminalView(std::string* error);
void FinishTerminalView();

// Desktop: one window per dialog on the X display, drawn with FLTK. False
// with a one-line reason when this build has no desktop view or the display
// cannot be opened. The transcript goes to `transcript` (null: none).
bool StartDesktopView(std::FILE* transcript, std::string* error);
void FinishDesktopView();
// Whether the desktop view is built and a display opens (DISPLAY or
// WAYLAND_DISPLAY set).
bool DesktopAvailable();

// The folder of a firmware package, asked of the person before a view
// starts (texts in UTF-8). Desktop: the system's folder chooser titled
// `title`, opened at `suggestion` (module side, AskFolderOnDesktop);
// terminal: one line on standard output, `title` and the suggestion in
// brackets, read from standard input, an empty line taking the suggestion.
// False when cancelled (Cancel, end of input) or the view is not there.
bool AskDesktopForFolder(const std::string& title, const std::string& suggestion,
                         std::string* answer);
bool AskFolderOnDesktop(const std::string& title, const std::string& suggestion,
                        std::string* answer);
bool AskTerminalForFolder(const std::string& title, const std::string& suggestion,
                          std::string* answer);

enum class ViewKind { kHeadless, kTerminal, kDesktop };
// The view of a launch: the one named by --ui, else desktop when a display
// is available, else terminal when standard input and output are a
// terminal, else headless. A scripted or autopiloted run, and the drive
// list, are headless unless --ui says otherwise.
ViewKind DefaultViewKind(const std::string& ui, bool scripted, bool display, bool terminal);

// What the terminal and desktop views share: a plain picture of an open
// dialog taken from the model, line wrapping, and the buttons and texts of a
// message box. Texts here are UTF-8, converted from the model's code page
// 932 bytes at this edge.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialogs.h"
#include "platform/dialogs/model.h"
#include "platform/dialogs/view_texts.h"

namespace view_support {

enum class Face {
  kPushButton,
  kDefaultButton,
  kRadioButton,
  kText,         // a plain static text
  kSunkenFrame,  // a sunken static, e.g. the progress bar
  kTextArea,     // a bordered static the program paints into
  kScrollBar,
  kOther,
};

// A scroll bar's state with what the views derive from it.
struct ScrollBarPicture {
  int min = 0;
  int max = 0;
  int page = 0;
  int pos = 0;
  int limit = 0;  // the highest position the thumb can take
};

struct ControlPicture {
  HWND handle = nullptr;
  int id = 0;
  Face face = Face::kOther;
  RECT rect{};    // the control's window in the dialog's client coordinates
  RECT client{};  // its client area in the same coordinates (inside edges)
  std::string text;
  bool visible = false;
  bool enabled = false;
  bool checked = false;
  bool focused = false;
  bool tab_stop = false;
  bool group_start = false;  // WS_GROUP: the first control of a group
  bool centre_vertically = false;
  ScrollBarPicture scroll;
  std::vector<dialog_model::PaintOp> painted;  // client coordinates of the control
};

struct DialogPicture {
  HWND handle = nullptr;
  std::string caption;
  RECT window{};                               // screen coordinates
  RECT client{};                               // screen coordinates of the client area
  bool close_box = false;                      // only a dialog with a system menu has one
  std::vector<dialog_model::PaintOp> painted;  // the dialog's own client area
  std::vector<ControlPicture> controls;        // template order
};

DialogPicture Snapshot(HWND dialog);

// Where Tab and Shift-Tab go in the terminal and desktop views, in template
// order: the tab stops, and in a radio group of two or more usable buttons
// that has none, the checked button (the first usable one when none is), so
// that a keyboard reaches the group; the arrows then move the check within
// it. The dialog model keeps the template's own order for the program.
std::vector<const ControlPicture*> KeyboardStops(const DialogPicture& dialog);
// Tab (or Shift-Tab with `backwards`) through KeyboardStops.
void MoveFocus(HWND dialog, bool backwards);
// When the focused control has become disabled or hidden (UPDATE during and
// after an update), the focus goes to where the keyboard goes next, so that
// it stays visible and Enter presses what is shown.
void KeepFocusUsable(HWND dialog);

// The status line of a view: which drive the focused, else the checked row
// of the main dialog is (its model, address and link), in the dialog's
// language; empty for other dialogs and when the program has not said.
std::string DriveRowStatus(const DialogPicture& dialog);
// The drive behind row `row` (0..3), as the program that owns the rows says
// (SetListedDriveQuery); false for none.
bool ListedDrive(int row, int* adapter, int* target);
// Whether the run speaks Japanese: the user's language, as the program
// itself chooses its catalogue by it.
bool JapaneseRun();
// The largest windows of the run's language in the model's pixels, frame
// and caption included, a view's status line not: the agreement, and the
// main dialog as its template has it with what the drive list adds below
// once it has grown it to its four rows (after the program has centred it).
// A view that scales its windows chooses a scale at which both fit.
struct WindowSize {
  int width = 0;
  int height = 0;
};
struct LargestDialogs {
  WindowSize agreement;
  WindowSize main;
  int main_grows_by = 0;
};
LargestDialogs LargestDialogsOfRun();
// One of the views' own texts in the run's language, its conversions filled
// as printf does, in UTF-8.
std::string ViewLine(ViewText text, ...);
// Whether the refusals may name the autopilot (--yes) among the ways to
// answer the dialogs: on a virtual PC, never on this host, where it would
// update a drive without asking anybody. Not named until said.
void OfferAutopilot(bool offer);
// Who can answer the headless view, as the refusals name them.
std::string AnswerSources();

// The lines of a self-painted text area (code page 932) as the views draw
// them, in UTF-8: lines that the text's author broke only because the next
// character did not fit the stored line (a full line ending in a wide
// character, the next one not indented) are joined again, so that a view
// can wrap them to the width it really has. Blank and indented lines,
// headings and ASCII lines stay as they are.
std::vector<std::string> JoinBrokenLines(const std::vector<std::string>& cp932_lines);

// The text the program painted into a text area (Face::kTextArea), top to
// bottom, in UTF-8: its lines joined (JoinBrokenLines) and wrapped to
// `width` as `measure` counts; as painted when that would take more rows
// than the program painted. Line i goes in bands[i], the rectangle of the
// i-th painted line from the top.
struct AreaText {
  std::vector<std::string> lines;
  std::vector<RECT> bands;
};
AreaText TextAreaLines(const ControlPicture& area, int width,
                       const std::function<int(std::string_view)>& measure);

// Splits text into lines no wider than `width` as `measure` counts: at CR LF
// and LF, then after the last blank that fits, else between characters (never
// inside one, so Japanese text without blanks still breaks, and never so that
// a line starts with closing punctuation such as "。" or "」": the character
// before it goes down with it).
std::vector<std::string> Wrap(std::string_view utf8, int width,
                              const std::function<int(std::string_view)>& measure);

// The length in bytes of the UTF-8 character starting at text[0] (1 for a
// stray byte, so a damaged text still advances).
std::size_t CharLength(std::string_view text);

struct BoxButton {
  int answer;  // IDOK or IDCANCEL
  std::string label;
};
// OK, or OK and Cancel, labelled in the box's language.
std::vector<BoxButton> BoxButtons(const dialog_model::MessageBoxRecord& box);
// The answer a box gives when it is closed without a button (Escape).
int CloseAnswer(const dialog_model::MessageBoxRecord& box);

// The keys of a message box, as each view reads them.
enum class BoxKey {
  kNext,      // Tab, Right
  kPrevious,  // Shift-Tab, Left
  kPress,     // Enter, Space: the focused button
  kClose,     // Escape
};
// Moves `focus` (an index into BoxButtons) or gives the box's answer; 0
// while the box stays up.
int BoxKeyAnswer(const dialog_model::MessageBoxRecord& box, BoxKey key, std::size_t* focus);

// The box a view shows for a power request the computer does not carry out:
// the platform's text (code page 932), OK only, captioned like the topmost
// dialog. It is the view's own: the program never sees it.
dialog_model::MessageBoxRecord PowerNoticeBox(std::string_view cp932_text);

// A run whose view is gone (the terminal closed, the display lost): its
// transcript, kept as last-run.log where the program keeps its state (the
// Windows directory), for the user to read later.
void KeepLastRun(const char* text, std::size_t size);

}  // namespace view_support

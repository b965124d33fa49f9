// The dialog model: every window and control of the program with its
// rectangle in pixels, its text (code page 932 bytes), visibility, enabled
// and checked state, scroll bar state and what was painted into it. The
// USER32/GDI32-shaped functions of platform/dialogs.h work on it; views draw
// it and feed it input through the functions below, as a person would.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace dialog_model {

// Pixels per dialog unit come from the base units of the templates' font,
// 9-point "ＭＳ Ｐゴシック" at 96 dpi: 7 pixels across and 13 down per base
// unit, as a genuine Win32 run of these templates (IPA P Gothic standing in
// for the font) maps a 4 x 8 dialog-unit rectangle to 7 x 13 pixels.
// Conversion is Windows' own: MulDiv(x, 7, 4) and MulDiv(y, 13, 8), rounding
// halves away from zero, for positions and sizes alike.
inline constexpr int kBaseUnitX = 7;
inline constexpr int kBaseUnitY = 13;
// Frame metrics of the classic Windows look at 96 dpi (SM_CXDLGFRAME,
// SM_CYCAPTION, SM_CXBORDER, SM_CXEDGE): a captioned dialog with a modal
// frame is 3 pixels wider on each side than its client area and 3 + 19
// taller on top; WS_BORDER adds 1, WS_EX_CLIENTEDGE 2, WS_EX_STATICEDGE 1.
inline constexpr int kDialogFrame = 3;
inline constexpr int kCaptionHeight = 19;
inline constexpr int kBorder = 1;
inline constexpr int kClientEdge = 2;
inline constexpr int kStaticEdge = 1;
inline constexpr int kDefaultScreenWidth = 1024;
inline constexpr int kDefaultScreenHeight = 768;

// Dialog units to pixels.
int DluToPixelsX(int x);
int DluToPixelsY(int y);

struct PaintOp {
  enum class Kind { kFill, kText };
  Kind kind;
  RECT rect;         // client coordinates of the window painted into
  COLORREF colour;   // fills
  std::string text;  // text lines, code page 932
};

struct MessageBoxRecord {
  HWND owner;
  std::string text;     // code page 932
  std::string caption;  // code page 932
  UINT style;
  LANGID language;
  int answer;  // IDOK or IDCANCEL once answered, 0 while it is up
};

struct MessageRecord {
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

// The person in front of the screen.
class User {
 public:
  virtual ~User() = default;
  // A modal dialog waits for input: give one (Click, Scroll..., PressKey) and
  // return true, or return false to give up (see GiveUp).
  virtual bool Act(HWND dialog) = 0;
  // A message box waits for its answer; IDOK or IDCANCEL.
  virtual int Answer(const MessageBoxRecord& box) = 0;
};

// Forgets every window, class and record; screen size, module name and user
// back to their defaults. For tests and for a fresh launch.
void Reset();
// Null: message boxes answer OK and a dialog waiting for input is given up.
void SetUser(User* user);
void SetScreenSize(int width, int height);
// The program's own file, which carries the version resource (default
// "Quorvanta.exe"); an empty name makes the resource unreadable.
void SetOwnModuleName(const char* name);
// The user walked away: every open dialog ends with 0 at once, later dialogs
// end with 0 as soon as they open, and questions are answered Cancel.
void GiveUp();
bool GivenUp();
// Called when painting has finished outside the modal loop's own waiting
// (a device context given back, an immediate repaint), so that a view can
// bring the screen up to date while a long update keeps the thread busy.
void SetScreenListener(std::function<void()> listener);
// A line added under a message box's text (code page 932 bytes; empty: none),
// asked for each box before it is shown: where this host has more to say
// than the box itself, it is said in the same box.
void SetBoxAddendum(std::function<std::string(const std::string& text)> addendum);

// --- input, as a person gives it (false when it reaches nothing) ---
// A mouse click on a visible, enabled control: buttons take the focus, an
// automatic radio button is checked and the others of its group cleared,
// and the dialog receives the control's notification.
bool Click(HWND dialog, int id);
// A click on a scroll bar's arrow or trough (SB_LINEUP, SB_LINEDOWN,
// SB_PAGEUP, SB_PAGEDOWN): the request, then SB_ENDSCROLL.
bool Scroll(HWND dialog, int id, int request);
// Dragging the thumb to `position` (kept within the range the page allows):
// SB_THUMBTRACK, SB_THUMBPOSITION, SB_ENDSCROLL.
bool DragThumb(HWND dialog, int id, int position);
// The keyboard brings the focus to a visible, enabled control (a view's own
// way through the dialog, e.g. to the checked one of a radio group that has
// no tab stop); nothing is sent to the dialog.
bool FocusOn(HWND dialog, int id);
// The user or the window manager moved a top-level window to (left, top) on
// the screen, size unchanged. Nothing is sent: the program only places its
// dialogs while they open.
void MovedByUser(HWND window, int left, int top);
// A key press (virtual key) routed as the dialog manager routes it: Enter,
// Escape, Tab, Space and arrows by the dialog manager; keys for a focused
// scroll bar to it; other keys to the dialog itself when it holds the focus.
void PressKey(HWND dialog, UINT key);

// --- what is on the screen ---
std::vector<HWND> OpenDialogs();  // outermost first
std::string TemplateName(HWND dialog);
std::string WindowText(HWND window);  // code page 932
HWND Focus();
// Controls of a dialog in template order.
std::vector<HWND> Controls(HWND dialog);
HWND FindControlByText(HWND dialog, const std::string& cp932_text);
std::vector<PaintOp> Painted(HWND window);
// Width in pixels of what is painted in `colour` from the window's left
// client edge (0 when nothing).
int PaintedWidth(HWND window, COLORREF colour);
// Something covered the window and went away (another window, a message
// box): what was painted in it and its controls is lost, and it is repainted
// when the program next waits for input or updates it.
void Expose(HWND window);
const std::vector<MessageBoxRecord>& MessageBoxes();
void RecordMessages(bool on);
const std::vector<MessageRecord>& Messages();
void ClearMessages();
const char* MessageName(UINT message);
int OpenDeviceContexts();
int LiveBrushes();

}  // namespace dialog_model

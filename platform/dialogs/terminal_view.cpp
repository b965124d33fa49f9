// The terminal view: the open dialog as a box of character cells scaled from
// its pixel rectangle, drawn with ncursesw, and a person's keys and mouse
// clicks fed to the model. Blocks in the terminal read while the program
// waits for input, so it costs no processor time then.
#include <langinfo.h>
// The wide-character half of ncursesw.
#define NCURSES_WIDECHAR 1
#include <ncursesw/curses.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialogs/model.h"
#include "platform/dialogs/transcript.h"
#include "platform/dialogs/view_support.h"
#include "platform/dialogs/views.h"
#include "platform/files.h"
#include "platform/hold.h"
#include "platform/posix/signal_hold.h"
#include "platform/system.h"
#include "platform/text_convert.h"

namespace {

using view_support::ControlPicture;
using view_support::DialogPicture;
using view_support::Face;

constexpr int kMinColumns = 80;
constexpr int kMinRows = 24;
// Pixels per cell at the least: about one character of the template font,
// so that a text line that fits its control on Windows fits its cells.
constexpr int kMinCellWidth = 6;
constexpr int kMinCellHeight = dialog_model::kBaseUnitY;

// How long after an input the program counts as answering it rather than
// busy with a long operation.
constexpr auto kTypeAhead = std::chrono::seconds(1);

enum Pair : short { kFace = 1, kCaption, kBar, kFocus };

// --- text in cells ---

std::wstring Wide(std::string_view utf8) {
  std::wstring out;
  std::mbstate_t state{};
  const char* at = utf8.data();
  std::size_t left = utf8.size();
  while (left > 0) {
    wchar_t wc = 0;
    std::size_t n = std::mbrtowc(&wc, at, left, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
      out += L'?';
      state = std::mbstate_t{};
      n = 1;
    } else if (n == 0) {
      n = 1;
    }
    if (wc != 0 && wc != L'\r') out += wc;
    at += n;
    left -= n;
  }
  return out;
}

int CharWidth(wchar_t wc) {
  int w = ::wcwidth(wc);
  return w < 0 ? 1 : w;
}

int Columns(std::string_view utf8) {
  int width = 0;
  for (wchar_t wc : Wide(utf8)) width += CharWidth(wc);
  return width;
}

// Puts text at (row, col), never past `max_columns` cells and never half a
// wide character.
void Put(int row, int col, std::string_view utf8, int max_columns) {
  if (row < 0 || row >= LINES) return;
  int used = 0;
  for (wchar_t wc : Wide(utf8)) {
    int w = CharWidth(wc);
    if (used + w > max_columns || col + used + w > COLS) break;
    if (col + used >= 0) {
      wchar_t one[2] = {wc, 0};
      mvaddnwstr(row, col + used, one, 1);
    }
    used += w;
  }
}

void Box(int top, int left, int rows, int cols) {
  if (rows < 2 || cols < 2) return;
  mvaddch(top, left, ACS_ULCORNER);
  mvhline(top, left + 1, ACS_HLINE, cols - 2);
  mvaddch(top, left + cols - 1, ACS_URCORNER);
  mvvline(top + 1, left, ACS_VLINE, rows - 2);
  mvvline(top + 1, left + cols - 1, ACS_VLINE, rows - 2);
  mvaddch(top + rows - 1, left, ACS_LLCORNER);
  mvhline(top + rows - 1, left + 1, ACS_HLINE, cols - 2);
  mvaddch(top + rows - 1, left + cols - 1, ACS_LRCORNER);
}

void FillCells(int top, int left, int rows, int cols) {
  for (int r = 0; r < rows; ++r) mvhline(top + r, left, ' ', cols);
}

// --- where things are on the screen, for mouse clicks ---

struct Hit {
  enum class What { kControl, kScrollUp, kScrollDown, kPageUp, kPageDown, kBoxButton };
  What what;
  int value;                     // control id or a box answer
  int top, left, bottom, right;  // cells, bottom and right exclusive
};

// One dialog laid out in cells.
struct Layout {
  int top = 0, left = 0, rows = 0, cols = 0;  // the box, border included
  int cell_width = kMinCellWidth;
  int cell_height = kMinCellHeight;

  int Row(LONG y) const { return top + 1 + static_cast<int>(y) / cell_height; }
  int Col(LONG x) const { return left + 1 + static_cast<int>(x) / cell_width; }
  // The rows a pixel band covers: at least one.
  int RowsOf(const RECT& r) const { return std::max(1, Row(r.bottom - 1) - Row(r.top) + 1); }
  int ColsOf(const RECT& r) const { return std::max(1, Col(r.right) - Col(r.left)); }
};

// The rows a control takes on the screen.
struct Band {
  int top;
  int rows;
};

Band BandOf(const Layout& l, const ControlPicture& c) {
  Band band{l.Row(c.rect.top), l.RowsOf(c.rect)};
  if (c.face == Face::kTextArea) {
    // The program paints a line per 20 pixels; the frame holds exactly as
    // many rows, so that the text fills it.
    int lines = std::max<int>(1, (c.client.bottom - c.client.top) / 20);
    band.rows = std::min(band.rows, lines + 2);
  }
  return band;
}

// A scroll bar beside a text area is as tall as the area's frame, as it is
// in pixels: the frame's rows are fewer than its pixels would give.
Band BandOf(const Layout& l, const DialogPicture& d, const ControlPicture& c) {
  if (c.face == Face::kScrollBar)
    for (const ControlPicture& area : d.controls)
      if (area.visible && area.face == Face::kTextArea && area.rect.top < c.rect.bottom &&
          c.rect.top < area.rect.bottom)
        return BandOf(l, area);
  return BandOf(l, c);
}

Layout LayOut(const DialogPicture& d) {
  Layout l;
  int width = static_cast<int>(d.client.right - d.client.left);
  int height = static_cast<int>(d.client.bottom - d.client.top);
  int avail_cols = std::max(1, COLS - 2);
  // A row below the box stays free for the status line.
  int avail_rows = std::max(1, LINES - 3);
  l.cell_width = std::max(kMinCellWidth, (width + avail_cols - 1) / avail_cols);
  l.cell_height = std::max(kMinCellHeight, (height + avail_rows - 1) / avail_rows);
  l.cols = (width + l.cell_width - 1) / l.cell_width + 2;
  l.rows = (height + l.cell_height - 1) / l.cell_height + 2;
  l.top = std::max(0, (LINES - 1 - l.rows) / 2);
  l.left = std::max(0, (COLS - l.cols) / 2);
  return l;
}

class TerminalView final : public dialog_model::User {
 public:
  bool Start(std::string* error);
  void Stop();
  // Gives the terminal back for now; the next drawing takes it again.
  void Suspend() {
    if (screen_ != nullptr && !isendwin()) endwin();
  }
  bool Started() const { return screen_ != nullptr; }
  bool Act(HWND dialog) override;
  int Answer(const dialog_model::MessageBoxRecord& box) override;
  void ScreenChanged();
  // The line a held signal gets, under the dialog until the write is over
  // (empty text takes it away).
  void ShowHeldLine(std::string_view text);
  // How far the write is, in the status line while the program works
  // (empty text takes it away); drawn now when `draw`.
  void ShowProgress(std::string_view text, bool draw);
  // A line of this host's own, in the status line of the dialog it came
  // with (or the next one to open, when none is open), until another opens.
  void ShowNote(std::string_view text);
  // The terminal was closed: nobody can answer any more.
  bool Lost() const { return lost_; }

 private:
  void DrawHeldLine();
  // What the status line says under `top`, the topmost dialog.
  std::string StatusLine(HWND top, const DialogPicture& picture);
  void Draw(const dialog_model::MessageBoxRecord* box, std::size_t box_focus);
  Layout DrawDialog(const DialogPicture& d);
  void DrawStatus(const Layout& l, const std::string& text);
  void DrawControl(const Layout& l, const ControlPicture& c, Band band);
  void DrawBox(const dialog_model::MessageBoxRecord& box, std::size_t focus);
  bool TooSmall() const { return COLS < kMinColumns || LINES < kMinRows; }
  // Reads one key or mouse event; false when input has ended.
  bool Read(int* kind, wint_t* key);
  bool Feed(HWND dialog, int kind, wint_t key);
  bool Mouse(HWND dialog);
  void LoseTerminal();

  bool colours_ = false;
  std::vector<Hit> hits_;
  std::chrono::steady_clock::time_point last_paint_{};
  std::chrono::steady_clock::time_point input_given_{};
  SCREEN* screen_ = nullptr;
  std::string held_line_;
  std::string progress_;
  std::string note_;
  HWND note_dialog_ = nullptr;  // null: the next dialog to open
  bool answering_ = false;      // a message box waits for the user
  bool lost_ = false;
};

TerminalView* g_active = nullptr;

void RestoreTerminal() {
  if (g_active != nullptr && !isendwin()) endwin();
}

// Whether the terminal just set up can put the cursor anywhere: without
// that (TERM=dumb, a printing terminal) curses can only scribble line after
// line.
bool CanAddressCursor() {
  const char* cup = tigetstr("cup");
  return cup != nullptr && cup != reinterpret_cast<const char*>(-1);
}

bool TerminalView::Start(std::string* error) {
  using view_support::ViewLine;
  if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) {
    *error = ViewLine(ViewText::kNoTerminal, view_support::AnswerSources().c_str());
    return false;
  }
  // Wide characters and their widths need a UTF-8 character type.
  std::setlocale(LC_CTYPE, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
  screen_ = newterm(nullptr, stdout, stdin);
  if (screen_ == nullptr) {
    const char* term = std::getenv("TERM");
    *error = ViewLine(ViewText::kCannotDriveTerminal, term == nullptr ? "" : term,
                      view_support::AnswerSources().c_str());
    return false;
  }
  g_active = this;
  if (!CanAddressCursor()) {
    Stop();
    const char* term = std::getenv("TERM");
    *error = ViewLine(ViewText::kNoCursorMovement, term == nullptr ? "" : term,
                      view_support::AnswerSources().c_str());
    return false;
  }
  if (TooSmall()) {
    int cols = COLS;
    int rows = LINES;
    Stop();
    *error =
        ViewLine(ViewText::kTerminalTooSmall, cols, rows, view_support::AnswerSources().c_str());
    return false;
  }
  std::atexit(RestoreTerminal);
  // A signal is only recorded; the program ends at its next look, after the
  // terminal is given back (endwin is no business of a signal handler).
  SignalHold::Instance().CatchAlways(true);
  cbreak();
  noecho();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  mousemask(BUTTON1_PRESSED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
  mouseinterval(0);
  if (has_colors()) {
    start_color();
    use_default_colors();
    init_pair(kFace, COLOR_BLACK, COLOR_WHITE);
    init_pair(kCaption, COLOR_WHITE, COLOR_BLUE);
    init_pair(kBar, COLOR_BLUE, COLOR_WHITE);
    init_pair(kFocus, COLOR_WHITE, COLOR_BLACK);
    colours_ = true;
  }
  Draw(nullptr, 0);
  return true;
}

void TerminalView::Stop() {
  if (screen_ == nullptr) return;
  endwin();
  delscreen(screen_);
  screen_ = nullptr;
  g_active = nullptr;
  SignalHold::Instance().CatchAlways(false);
}

void TerminalView::Draw(const dialog_model::MessageBoxRecord* box, std::size_t box_focus) {
  hits_.clear();
  erase();
  if (TooSmall()) {
    auto lines = view_support::Wrap(view_support::ViewLine(ViewText::kSizeNotice, COLS, LINES),
                                    COLS, Columns);
    int row = std::max(0, (LINES - static_cast<int>(lines.size())) / 2);
    for (const auto& line : lines) Put(row++, 0, line, COLS);
  } else {
    Layout top;
    std::string status;
    for (HWND dialog : dialog_model::OpenDialogs()) {
      DialogPicture picture = view_support::Snapshot(dialog);
      top = DrawDialog(picture);
      status = StatusLine(dialog, picture);
    }
    if (!status.empty()) DrawStatus(top, status);
    if (box != nullptr) DrawBox(*box, box_focus);
  }
  DrawHeldLine();
  refresh();
  last_paint_ = std::chrono::steady_clock::now();
}

Layout TerminalView::DrawDialog(const DialogPicture& d) {
  Layout l = LayOut(d);
  attrset(colours_ ? COLOR_PAIR(kFace) : A_NORMAL);
  FillCells(l.top, l.left, l.rows, l.cols);
  Box(l.top, l.left, l.rows, l.cols);
  attrset(colours_ ? COLOR_PAIR(kCaption) | A_BOLD : A_REVERSE);
  std::string caption = " " + d.caption + " ";
  Put(l.top, l.left + 2, caption, l.cols - 4);
  attrset(colours_ ? COLOR_PAIR(kFace) : A_NORMAL);
  // Scroll bars last: a neighbour's border may share their column.
  for (bool bars : {false, true})
    for (const ControlPicture& c : d.controls)
      if (c.visible && (c.face == Face::kScrollBar) == bars) DrawControl(l, c, BandOf(l, d, c));
  attrset(A_NORMAL);
  return l;
}

std::string TerminalView::StatusLine(HWND top, const DialogPicture& picture) {
  if (!progress_.empty() && !answering_) return progress_;
  if (!note_.empty() && note_dialog_ == nullptr) note_dialog_ = top;
  if (!note_.empty() && note_dialog_ != top) note_.clear();
  return note_.empty() ? view_support::DriveRowStatus(picture) : note_;
}

void TerminalView::DrawStatus(const Layout& l, const std::string& text) {
  // Just under the dialog, or as near the last row as its lines allow.
  auto lines = view_support::Wrap(text, COLS, Columns);
  const int count = static_cast<int>(lines.size());
  int row = std::max(0, std::min(l.top + l.rows, LINES - count));
  attrset(colours_ ? COLOR_PAIR(kCaption) : A_REVERSE);
  for (const auto& line : lines) {
    mvhline(row, 0, ' ', COLS);
    int width = Columns(line);
    Put(row++, std::max(0, (COLS - width) / 2), line, COLS);
  }
  attrset(A_NORMAL);
}

void TerminalView::DrawControl(const Layout& l, const ControlPicture& c, Band band) {
  const attr_t face = colours_ ? COLOR_PAIR(kFace) : A_NORMAL;
  const attr_t state = c.enabled ? A_NORMAL : A_DIM;
  const attr_t focus = c.focused ? (colours_ ? COLOR_PAIR(kFocus) : A_REVERSE) : face;
  int top = band.top;
  int left = l.Col(c.rect.left);
  int rows = band.rows;
  int cols = l.ColsOf(c.rect);
  int middle = l.Row((c.rect.top + c.rect.bottom) / 2);
  switch (c.face) {
    case Face::kPushButton:
    case Face::kDefaultButton: {
      // A disabled button loses its brackets' blanks to dashes: dim alone
      // looks like normal text in many terminals.
      std::string label = c.enabled ? "[ " + c.text + " ]" : "[-" + c.text + "-]";
      int w = Columns(label);
      int at = l.Col((c.rect.left + c.rect.right) / 2) - w / 2;
      attrset(focus | state | (c.face == Face::kDefaultButton ? A_BOLD : A_NORMAL));
      Put(middle, at, label, w);
      hits_.push_back({Hit::What::kControl, c.id, middle, at, middle + 1, at + w});
      break;
    }
    case Face::kRadioButton: {
      attrset(face | state);
      Put(middle, left, c.enabled ? (c.checked ? "(*)" : "( )") : (c.checked ? "(#)" : "(-)"), 3);
      attrset(focus | state);
      Put(middle, left + 4, c.text, std::max(cols - 4, Columns(c.text)));
      hits_.push_back(
          {Hit::What::kControl, c.id, middle, left, middle + 1, left + 4 + Columns(c.text)});
      break;
    }
    case Face::kText: {
      attrset(face | state);
      if (c.centre_vertically) {
        // One line, as Windows draws it; cells are coarser than pixels, so
        // it may run on to the dialog's edge rather than lose characters.
        Put(middle, left, c.text, std::max(cols, l.left + l.cols - 1 - left));
        hits_.push_back({Hit::What::kControl, c.id, middle, left, middle + 1, left + cols});
        break;
      }
      auto lines = view_support::Wrap(c.text, cols, Columns);
      for (std::size_t i = 0; i < lines.size() && static_cast<int>(i) < rows; ++i)
        Put(top + static_cast<int>(i), left, lines[i], cols);
      hits_.push_back({Hit::What::kControl, c.id, top, left, top + rows, left + cols});
      break;
    }
    case Face::kSunkenFrame: {
      // The bar: what the program filled, in whole cells of the frame.
      int inner = std::max(1, cols - 2);
      int client_width = std::max<int>(1, c.client.right - c.client.left);
      int filled = 0;
      for (const auto& op : c.painted)
        if (op.kind == dialog_model::PaintOp::Kind::kFill && op.rect.left <= 0)
          filled = std::max(filled, static_cast<int>(op.rect.right) * inner / client_width);
      attrset(face);
      Put(middle, left, "[", 1);
      Put(middle, left + cols - 1, "]", 1);
      attrset(colours_ ? COLOR_PAIR(kBar) : A_NORMAL);
      for (int i = 0; i < inner; ++i) Put(middle, left + 1 + i, i < filled ? "█" : "░", 1);
      break;
    }
    case Face::kTextArea: {
      attrset(face | state);
      Box(top, left, std::max(rows, 3), std::max(cols, 3));
      auto lines = view_support::TextAreaLines(c, cols - 2, Columns).lines;
      for (std::size_t i = 0; i < lines.size() && static_cast<int>(i) < rows - 2; ++i)
        Put(top + 1 + static_cast<int>(i), left + 1, lines[i], cols - 2);
      hits_.push_back({Hit::What::kControl, c.id, top, left, top + rows, left + cols});
      break;
    }
    case Face::kScrollBar: {
      attrset(focus | state);
      int bottom = top + rows - 1;
      Put(top, left, c.enabled ? "▲" : "△", 1);
      Put(bottom, left, c.enabled ? "▼" : "▽", 1);
      int trough = std::max(0, rows - 2);
      int span = std::max(1, c.scroll.limit - c.scroll.min);
      int thumb = trough > 0 ? top + 1 + (c.scroll.pos - c.scroll.min) * (trough - 1) / span : top;
      for (int r = top + 1; r < bottom; ++r) Put(r, left, r == thumb ? "█" : "░", 1);
      hits_.push_back({Hit::What::kScrollUp, c.id, top, left, top + 1, left + 1});
      hits_.push_back({Hit::What::kScrollDown, c.id, bottom, left, bottom + 1, left + 1});
      hits_.push_back({Hit::What::kPageUp, c.id, top + 1, left, thumb, left + 1});
      hits_.push_back({Hit::What::kPageDown, c.id, thumb + 1, left, bottom, left + 1});
      break;
    }
    case Face::kOther:
      break;
  }
  attrset(face);
}

void TerminalView::DrawBox(const dialog_model::MessageBoxRecord& box, std::size_t focus) {
  auto buttons = view_support::BoxButtons(box);
  int max_text = std::min(COLS - 8, 60);
  auto lines = view_support::Wrap(Cp932ToUtf8(box.text), max_text, Columns);
  // Appended piece by piece: GCC 12 at -O3 takes " " + string + " " for an
  // overlapping copy (-Wrestrict) and the release build stops.
  std::string caption = " ";
  caption += Cp932ToUtf8(box.caption);
  caption += " ";
  int width = Columns(caption) + 2;
  for (const auto& line : lines) width = std::max(width, Columns(line));
  int buttons_width = 0;
  for (const auto& b : buttons) buttons_width += Columns(b.label) + 6;
  width = std::max(width, buttons_width) + 4;
  int height = static_cast<int>(lines.size()) + 4;
  int top = std::max(0, (LINES - height) / 2);
  int left = std::max(0, (COLS - width) / 2);
  attrset(colours_ ? COLOR_PAIR(kFace) : A_NORMAL);
  FillCells(top, left, height, width);
  Box(top, left, height, width);
  attrset(colours_ ? COLOR_PAIR(kCaption) | A_BOLD : A_REVERSE);
  Put(top, left + 2, caption, width - 4);
  attrset(colours_ ? COLOR_PAIR(kFace) : A_NORMAL);
  for (std::size_t i = 0; i < lines.size(); ++i)
    Put(top + 1 + static_cast<int>(i), left + 2, lines[i], width - 4);
  int row = top + height - 2;
  int at = left + (width - buttons_width) / 2 + 1;
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    std::string label = "[ " + buttons[i].label + " ]";
    int w = Columns(label);
    attrset(i == focus ? (colours_ ? COLOR_PAIR(kFocus) : A_REVERSE)
                       : (colours_ ? COLOR_PAIR(kFace) : A_NORMAL));
    Put(row, at, label, w);
    hits_.push_back({Hit::What::kBoxButton, buttons[i].answer, row, at, row + 1, at + w});
    at += w + 2;
  }
  attrset(A_NORMAL);
}

void TerminalView::ShowHeldLine(std::string_view text) {
  const bool taken_away = text.empty() && !held_line_.empty();
  held_line_ = text;
  // Over whatever is shown (a message box among it); taken away, the screen
  // is drawn again without it.
  if (taken_away) {
    Draw(nullptr, 0);
  } else {
    DrawHeldLine();
    refresh();
  }
}

void TerminalView::ShowProgress(std::string_view text, bool draw) {
  progress_ = text;
  // Behind a box (the outcome) the write is over as far as the user sees.
  if (draw && !answering_) Draw(nullptr, 0);
}

void TerminalView::ShowNote(std::string_view text) {
  note_ = text;
  const std::vector<HWND> open = dialog_model::OpenDialogs();
  note_dialog_ = open.empty() ? nullptr : open.back();
  if (!answering_) Draw(nullptr, 0);
}

void TerminalView::DrawHeldLine() {
  if (held_line_.empty()) return;
  auto lines = view_support::Wrap(held_line_, COLS, Columns);
  int row = std::max(0, LINES - static_cast<int>(lines.size()));
  attrset(A_BOLD);
  for (const auto& line : lines) {
    mvhline(row, 0, ' ', COLS);
    Put(row++, 0, line, COLS);
  }
  attrset(A_NORMAL);
}

void TerminalView::LoseTerminal() {
  lost_ = true;
  // Outside a write the program ends here; during one, once it is over.
  SignalHold::Instance().Lose();
}

bool TerminalView::Read(int* kind, wint_t* key) {
  for (;;) {
    // A signal outside a firmware write ends the program here, once the
    // terminal is restored; during one it only gets its line.
    PollWriteHold();
    if (lost_) return false;
    // Keys ncurses has read ahead come first; then the view sleeps on the
    // terminal and the signals' pipe together.
    nodelay(stdscr, TRUE);
    int got = get_wch(key);
    nodelay(stdscr, FALSE);
    if (got == ERR) {
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {SignalHold::Instance().fd(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) continue;
      // A hang-up stays readable for ever: looking again would spin.
      if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        LoseTerminal();
        return false;
      }
      got = get_wch(key);
    }
    if (got != ERR) {
      *kind = got;
      return true;
    }
    // Readable and nothing read. A background job (its reads refused while
    // a write holds the stop) waits for the foreground or a signal;
    // anything else is the end of input.
    const pid_t foreground = ::tcgetpgrp(STDIN_FILENO);
    if (foreground > 0 && foreground != ::getpgrp()) {
      pollfd signals = {SignalHold::Instance().fd(), POLLIN, 0};
      ::poll(&signals, 1, 500);
      continue;
    }
    LoseTerminal();
    return false;
  }
}

bool TerminalView::Feed(HWND dialog, int kind, wint_t key) {
  if (kind == KEY_CODE_YES) {
    switch (key) {
      case KEY_UP:
        dialog_model::PressKey(dialog, VK_UP);
        return true;
      case KEY_DOWN:
        dialog_model::PressKey(dialog, VK_DOWN);
        return true;
      case KEY_LEFT:
        dialog_model::PressKey(dialog, VK_LEFT);
        return true;
      case KEY_RIGHT:
        dialog_model::PressKey(dialog, VK_RIGHT);
        return true;
      case KEY_PPAGE:
        dialog_model::PressKey(dialog, VK_PRIOR);
        return true;
      case KEY_NPAGE:
        dialog_model::PressKey(dialog, VK_NEXT);
        return true;
      case KEY_HOME:
        dialog_model::PressKey(dialog, VK_HOME);
        return true;
      case KEY_END:
        dialog_model::PressKey(dialog, VK_END);
        return true;
      case KEY_ENTER:
        dialog_model::PressKey(dialog, VK_RETURN);
        return true;
      case KEY_BTAB:
        view_support::MoveFocus(dialog, true);
        return true;
      case KEY_MOUSE:
        return Mouse(dialog);
      default:
        return false;
    }
  }
  switch (key) {
    case L'\t':
      view_support::MoveFocus(dialog, false);
      return true;
    case L'\n':
    case L'\r':
      dialog_model::PressKey(dialog, VK_RETURN);
      return true;
    case L' ':
      dialog_model::PressKey(dialog, VK_SPACE);
      return true;
    case 27:
      dialog_model::PressKey(dialog, VK_ESCAPE);
      return true;
    default:
      return false;
  }
}

bool TerminalView::Mouse(HWND dialog) {
  MEVENT event;
  if (getmouse(&event) != OK) return false;
  if ((event.bstate & (BUTTON4_PRESSED | BUTTON5_PRESSED)) != 0) {
    // The wheel scrolls the dialog's scroll bar, a line at a time.
    for (const ControlPicture& c : view_support::Snapshot(dialog).controls) {
      if (c.face != Face::kScrollBar || !c.visible) continue;
      return dialog_model::Scroll(dialog, c.id,
                                  (event.bstate & BUTTON4_PRESSED) != 0 ? SB_LINEUP : SB_LINEDOWN);
    }
    return false;
  }
  for (const Hit& h : hits_) {
    if (event.y < h.top || event.y >= h.bottom || event.x < h.left || event.x >= h.right) continue;
    switch (h.what) {
      case Hit::What::kControl:
        return dialog_model::Click(dialog, h.value);
      case Hit::What::kScrollUp:
        return dialog_model::Scroll(dialog, h.value, SB_LINEUP);
      case Hit::What::kScrollDown:
        return dialog_model::Scroll(dialog, h.value, SB_LINEDOWN);
      case Hit::What::kPageUp:
        return dialog_model::Scroll(dialog, h.value, SB_PAGEUP);
      case Hit::What::kPageDown:
        return dialog_model::Scroll(dialog, h.value, SB_PAGEDOWN);
      case Hit::What::kBoxButton:
        return false;
    }
  }
  return false;
}

bool TerminalView::Act(HWND dialog) {
  for (;;) {
    view_support::KeepFocusUsable(dialog);
    Draw(nullptr, 0);
    int kind = 0;
    wint_t key = 0;
    if (!Read(&kind, &key)) return false;
    if (TooSmall()) continue;
    input_given_ = std::chrono::steady_clock::now();
    if (Feed(dialog, kind, key)) return true;
  }
}

int TerminalView::Answer(const dialog_model::MessageBoxRecord& box) {
  using view_support::BoxKey;
  std::size_t focus = 0;
  struct Answering {
    bool* flag;
    bool before;
    ~Answering() { *flag = before; }
  } answering{&answering_, answering_};
  answering_ = true;
  for (;;) {
    Draw(&box, focus);
    int kind = 0;
    wint_t key = 0;
    if (!Read(&kind, &key)) return view_support::CloseAnswer(box);
    if (TooSmall()) continue;
    int answer = 0;
    if (kind == KEY_CODE_YES) {
      if (key == KEY_RIGHT) answer = view_support::BoxKeyAnswer(box, BoxKey::kNext, &focus);
      if (key == KEY_LEFT || key == KEY_BTAB)
        answer = view_support::BoxKeyAnswer(box, BoxKey::kPrevious, &focus);
      if (key == KEY_ENTER) answer = view_support::BoxKeyAnswer(box, BoxKey::kPress, &focus);
      if (answer != 0) return answer;
      if (key == KEY_MOUSE) {
        MEVENT event;
        if (getmouse(&event) != OK || (event.bstate & BUTTON1_PRESSED) == 0) continue;
        for (const Hit& h : hits_)
          if (h.what == Hit::What::kBoxButton && event.y >= h.top && event.y < h.bottom &&
              event.x >= h.left && event.x < h.right)
            return h.value;
      }
      continue;
    }
    if (key == L'\t') answer = view_support::BoxKeyAnswer(box, BoxKey::kNext, &focus);
    if (key == L'\n' || key == L'\r' || key == L' ')
      answer = view_support::BoxKeyAnswer(box, BoxKey::kPress, &focus);
    if (key == 27) answer = view_support::BoxKeyAnswer(box, BoxKey::kClose, &focus);
    if (answer != 0) return answer;
  }
}

void TerminalView::ScreenChanged() {
  // Painting while the program is busy: bring the screen up to date at most
  // every frame, and drop whatever the user typed meanwhile.
  auto now = std::chrono::steady_clock::now();
  if (now - last_paint_ < std::chrono::milliseconds(15)) return;
  Draw(nullptr, 0);
  // Keys typed ahead of a quick response (a scroll) are kept; during a long
  // operation they are dropped, as the program has always done.
  if (now - input_given_ < kTypeAhead) return;
  nodelay(stdscr, TRUE);
  wint_t key;
  while (get_wch(&key) != ERR) {
  }
  nodelay(stdscr, FALSE);
}

struct Terminal {
  std::unique_ptr<TerminalView> view;
  // The host's notes while the view owns the screen, for standard error
  // once it is given back.
  std::vector<std::string> notes;
  char* transcript_text = nullptr;
  std::size_t transcript_size = 0;
  std::FILE* transcript = nullptr;
};

Terminal& TheTerminal() {
  static Terminal terminal;
  return terminal;
}

void InstallEventSink();

// Whether the terminal has hung up (closed by its user), though nobody
// read from it since.
bool TerminalGone() {
  pollfd input = {STDIN_FILENO, POLLIN, 0};
  return ::poll(&input, 1, 0) > 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Restores the terminal and prints the transcript kept so far; later lines
// go straight to standard output.
void ReleaseTerminal(bool for_good) {
  Terminal& t = TheTerminal();
  if (t.view) {
    if (for_good) {
      t.view->Stop();
    } else {
      t.view->Suspend();
    }
  }
  if (t.transcript == nullptr) return;
  std::fclose(t.transcript);
  t.transcript = nullptr;
  if (t.transcript_text != nullptr && t.view && (t.view->Lost() || TerminalGone())) {
    // With the terminal gone, what it would have printed is kept for the
    // user to read later.
    view_support::KeepLastRun(t.transcript_text, t.transcript_size);
  }
  if (t.transcript_text != nullptr) std::fwrite(t.transcript_text, 1, t.transcript_size, stdout);
  std::free(t.transcript_text);
  t.transcript_text = nullptr;
  std::fflush(stdout);
  for (const std::string& note : t.notes) std::fprintf(stderr, "quorvanta: %s\n", note.c_str());
  t.notes.clear();
  std::fflush(stderr);
  SetTranscript(stdout);
  InstallEventSink();
}

// Takes the terminal again after a release: the transcript is kept from now
// on, and the next drawing switches the screen back.
void RetakeTerminal() {
  Terminal& t = TheTerminal();
  if (!t.view || !t.view->Started() || t.transcript != nullptr) return;
  t.transcript = open_memstream(&t.transcript_text, &t.transcript_size);
  SetTranscript(t.transcript);
  InstallEventSink();
}

// While the view owns the screen nothing is written over it: the host's
// notes and the write's progress go to the status line (the notes kept for
// standard error).
bool ToStatusLine(const PlatformEvent& event) {
  Terminal& t = TheTerminal();
  if (!t.view || !t.view->Started()) return false;
  // Followed even while the screen is given back (a power request), so that
  // the screen taken again never shows a write that is over.
  if (event.kind == PlatformEventKind::kWriteProgress) {
    t.view->ShowProgress(Cp932ToUtf8(event.text), t.transcript != nullptr);
    return true;
  }
  if (t.transcript == nullptr) return false;
  if (event.kind == PlatformEventKind::kHostNote) {
    t.notes.emplace_back(event.text);
    t.view->ShowNote(event.text);
    return true;
  }
  return false;
}

void OnEvent(const PlatformEvent& event) {
  if (ToStatusLine(event)) return;
  if (event.kind == PlatformEventKind::kWriteHeld) {
    Terminal& t = TheTerminal();
    if (t.view && t.view->Started()) {
      t.view->ShowHeldLine(Cp932ToUtf8(event.text));
    } else {
      WriteTranscriptEvent(event);
    }
    return;
  }
  WriteTranscriptEvent(event);
  // A restart request on a virtual PC ends the process at once: the terminal
  // is given back first, with what the transcript holds so far.
  if (event.kind == PlatformEventKind::kPowerRequest) ReleaseTerminal(false);
  // This host carries nothing out: the program goes on, and the user is told
  // what to do instead.
  if (event.kind == PlatformEventKind::kPowerNotCarriedOut) {
    RetakeTerminal();
    Terminal& t = TheTerminal();
    if (t.view && t.view->Started()) t.view->Answer(view_support::PowerNoticeBox(event.text));
  }
}

void InstallEventSink() { SetPlatformEventSink(OnEvent); }

}  // namespace

bool StartTerminalView(std::string* error) {
  Terminal& t = TheTerminal();
  t.view = std::make_unique<TerminalView>();
  if (!t.view->Start(error)) {
    t.view.reset();
    return false;
  }
  // The transcript would scribble over the screen: it is kept and printed
  // once the terminal is restored.
  t.transcript = open_memstream(&t.transcript_text, &t.transcript_size);
  SetTranscript(t.transcript);
  InstallEventSink();
  dialog_model::SetUser(t.view.get());
  dialog_model::SetScreenListener([view = t.view.get()] { view->ScreenChanged(); });
  return true;
}

void FinishTerminalView() {
  ReleaseTerminal(true);
  dialog_model::SetUser(nullptr);
  dialog_model::SetScreenListener(nullptr);
  SetTranscript(nullptr);
  TheTerminal() = Terminal{};
}

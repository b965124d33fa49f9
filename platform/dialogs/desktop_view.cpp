// The desktop view: one FLTK window per open dialog and per message box, at
// the model's pixel rectangles, drawn in the classic Windows look (frame,
// caption, 3-D buttons, radio buttons, scroll bar, sunken frames) from a
// picture of the model, with a person's clicks and keys fed to the model.
// Waits in Fl::wait(), which sleeps until the display sends something.
// The model's headers come before FLTK's, which bring Xlib's macros
// (Expose among them).
#include "platform/dialogs/desktop_scale.h"
#include "platform/dialogs/model.h"
#include "platform/dialogs/transcript.h"
#include "platform/dialogs/view_support.h"
#include "platform/dialogs/views.h"
#include "platform/events.h"
#include "platform/posix/signal_hold.h"
#include "platform/text_convert.h"
// Then FLTK.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// FLTK's own, declared in its X11 header, which would bring Xlib's macros.
void fl_open_display();
// desktop_probe.cpp
void CloseDesktopProbe();
void SyncDesktop();
void PresentDesktopWindow(Fl_Window* window);
// The display's loss handed to `on_lost` instead of ending the process.
void WatchForLostDisplay(void (*on_lost)());
// A window just shown waited for until drawn; false when the display was
// lost meanwhile.
bool WaitForExposeUnlessLost(Fl_Window* window, bool (*lost)());

namespace {

using view_support::ControlPicture;
using view_support::DialogPicture;
using view_support::Face;
using view_support::ViewLine;

// The classic Windows colours.
const Fl_Color kFace = fl_rgb_color(192, 192, 192);
const Fl_Color kLight = fl_rgb_color(223, 223, 223);
const Fl_Color kHighlight = fl_rgb_color(255, 255, 255);
const Fl_Color kShadow = fl_rgb_color(128, 128, 128);
const Fl_Color kDarkShadow = fl_rgb_color(0, 0, 0);
const Fl_Color kCaptionLeft = fl_rgb_color(0, 0, 128);
const Fl_Color kCaptionRight = fl_rgb_color(16, 132, 208);
const Fl_Color kGreyText = fl_rgb_color(128, 128, 128);

// 9 points at 96 dpi.
constexpr int kFontPixels = 12;
constexpr int kArrowSize = 16;
constexpr int kWheelLines = 3;
// How long after an input the program counts as answering it rather than
// busy with a long operation.
constexpr auto kTypeAhead = std::chrono::seconds(1);

Fl_Font g_font = FL_HELVETICA;
Fl_Font g_bold = FL_HELVETICA_BOLD;

// The template font through fontconfig: "ＭＳ Ｐゴシック" itself when installed,
// IPA P Gothic as its usual stand-in, else any Japanese font, with a warning.
std::string ResolveFamily() {
  if (!FcInit()) return "";
  auto japanese_family = [](const char* wanted) -> std::string {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(wanted));
    if (pattern == nullptr) return "";
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    std::string family;
    FcChar8* name = nullptr;
    FcCharSet* chars = nullptr;
    if (match != nullptr && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch &&
        FcPatternGetCharSet(match, FC_CHARSET, 0, &chars) == FcResultMatch &&
        FcCharSetHasChar(chars, 0x3042)) {
      family = reinterpret_cast<const char*>(name);
    }
    if (match != nullptr) FcPatternDestroy(match);
    return family;
  };
  for (const char* wanted : {"ＭＳ Ｐゴシック", "MS PGothic", "IPAPGothic"}) {
    std::string family = japanese_family(wanted);
    if (family == wanted) return family;
  }
  std::string any = japanese_family(":lang=ja");
  if (!any.empty()) {
    std::fprintf(stderr,
                 "quorvanta: font \"ＭＳ Ｐゴシック\" not found, drawing with \"%s\" instead\n",
                 any.c_str());
  } else {
    std::fprintf(
        stderr,
        "quorvanta: no Japanese font found (install fonts-ipafont); Japanese text may not show\n");
  }
  return any;
}

void SetUpFonts() {
  static std::string regular;
  static std::string bold;
  std::string family = ResolveFamily();
  if (family.empty()) return;
  // FLTK's Xft names lead with a style letter: blank for regular, B bold.
  regular = " " + family;
  bold = "B" + family;
  Fl::set_font(FL_FREE_FONT, regular.c_str());
  Fl::set_font(static_cast<Fl_Font>(FL_FREE_FONT + 1), bold.c_str());
  g_font = FL_FREE_FONT;
  g_bold = static_cast<Fl_Font>(FL_FREE_FONT + 1);
}

// --- the screen's scale ---

// Everything is laid out in the model's pixels at 96 dpi and drawn at the
// desktop's scale, as Windows scales a dialog with the system's dpi: each
// rectangle, frame line and font at that many screen pixels, the text
// rendered at its larger size; mouse positions go back the same way.
double g_scale = 1;
// The model's screen is the work area of the real one, its top-left corner
// the model's origin.
DesktopArea g_area{0, 0, dialog_model::kDefaultScreenWidth, dialog_model::kDefaultScreenHeight};

// Model pixels to the screen's.
int S(double v) { return static_cast<int>(std::lround(v * g_scale)); }
// A screen position to the model's.
int M(int v) { return static_cast<int>(std::floor(v / g_scale)); }
// A window's place in the model to the screen's and back.
int ScreenX(int model_x) { return g_area.x + S(model_x); }
int ScreenY(int model_y) { return g_area.y + S(model_y); }
int ModelX(int screen_x) { return M(screen_x - g_area.x); }
int ModelY(int screen_y) { return M(screen_y - g_area.y); }
// A window that opens or grows (its status line taking the held line) so
// that it would hang off the work area moves in, as a window manager moves
// it; the model learns the move as the user's. Where the user has put a
// window is left alone.
void KeepInside(int* left, int* top, int width, int height) {
  *left = std::max(g_area.x, std::min(*left, g_area.x + g_area.width - width));
  *top = std::max(g_area.y, std::min(*top, g_area.y + g_area.height - height));
}
// The width of a line on the screen for fl_line_style: 0, X's own thin
// line, at the model's size.
int LineWidth() { return S(1) > 1 ? S(1) : 0; }

// --- drawing helpers, all in model pixels ---

// Edges are scaled, not sizes, so that neighbours meet without a gap.
void RectF(int x, int y, int w, int h) {
  if (w > 0 && h > 0) fl_rectf(S(x), S(y), S(x + w) - S(x), S(y + h) - S(y));
}
void Clip(int x, int y, int w, int h) {
  fl_push_clip(S(x), S(y), std::max(0, S(x + w) - S(x)), std::max(0, S(y + h) - S(y)));
}
void Polygon(int x1, int y1, int x2, int y2, int x3, int y3) {
  fl_polygon(S(x1), S(y1), S(x2), S(y2), S(x3), S(y3));
}
void Loop(int x1, int y1, int x2, int y2, int x3, int y3) {
  fl_line_style(FL_SOLID, LineWidth());
  fl_loop(S(x1), S(y1), S(x2), S(y2), S(x3), S(y3));
  fl_line_style(0);
}
void Line(int x1, int y1, int x2, int y2) {
  fl_line_style(FL_SOLID, LineWidth());
  fl_line(S(x1), S(y1), S(x2), S(y2));
  fl_line_style(0);
}
void Arc(int x, int y, int w, int h, double a1, double a2) {
  fl_line_style(FL_SOLID, LineWidth());
  fl_arc(S(x), S(y), S(w), S(h), a1, a2);
  fl_line_style(0);
}
void Pie(int x, int y, int w, int h) { fl_pie(S(x), S(y), S(w), S(h), 0, 360); }
void SetFont(Fl_Font font, int pixels) { fl_font(font, S(pixels)); }
int FontHeight() { return static_cast<int>(std::lround(fl_height() / g_scale)); }
int FontDescent() { return static_cast<int>(std::lround(fl_descent() / g_scale)); }
void DrawAt(std::string_view utf8, int x, int baseline) {
  fl_draw(utf8.data(), static_cast<int>(utf8.size()), S(x), S(baseline));
}

void Frame(int x, int y, int w, int h, Fl_Color top_left, Fl_Color bottom_right) {
  if (w <= 0 || h <= 0) return;
  fl_color(top_left);
  RectF(x, y, w, 1);
  RectF(x, y, 1, h);
  fl_color(bottom_right);
  RectF(x, y + h - 1, w, 1);
  RectF(x + w - 1, y, 1, h);
}

void Raised(int x, int y, int w, int h) {
  Frame(x, y, w, h, kHighlight, kDarkShadow);
  Frame(x + 1, y + 1, w - 2, h - 2, kLight, kShadow);
}

void Sunken(int x, int y, int w, int h) {
  Frame(x, y, w, h, kShadow, kHighlight);
  Frame(x + 1, y + 1, w - 2, h - 2, kDarkShadow, kLight);
}

void Outline(int x, int y, int w, int h) { Frame(x, y, w, h, fl_color(), fl_color()); }

void DottedRect(int x, int y, int w, int h) {
  fl_color(kDarkShadow);
  fl_line_style(FL_DOT, LineWidth());
  fl_rect(S(x), S(y), S(x + w) - S(x), S(y + h) - S(y));
  fl_line_style(0);
}

int TextWidth(std::string_view utf8) {
  return static_cast<int>(fl_width(utf8.data(), static_cast<int>(utf8.size())) / g_scale);
}

void Text(std::string_view utf8, int x, int baseline, bool enabled) {
  if (!enabled) {
    fl_color(kHighlight);
    DrawAt(utf8, x + 1, baseline + 1);
    fl_color(kGreyText);
  } else {
    fl_color(kDarkShadow);
  }
  DrawAt(utf8, x, baseline);
}

// Wrapped lines from the top (or centred vertically), as a static draws.
void TextBlock(const std::string& text, int x, int y, int w, int h, bool centre_vertically,
               bool centre_horizontally, bool enabled) {
  auto lines = view_support::Wrap(text, w, TextWidth);
  int line_height = FontHeight();
  int top = centre_vertically ? y + (h - line_height * static_cast<int>(lines.size())) / 2 : y;
  Clip(x, y, w, h);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    int left = centre_horizontally ? x + (w - TextWidth(lines[i])) / 2 : x;
    Text(lines[i], left, top + static_cast<int>(i) * line_height + line_height - FontDescent(),
         enabled);
  }
  fl_pop_clip();
}

void Caption(const std::string& caption, int x, int y, int w) {
  const int h = dialog_model::kCaptionHeight - 1;
  uchar r1, g1, b1, r2, g2, b2;
  Fl::get_color(kCaptionLeft, r1, g1, b1);
  Fl::get_color(kCaptionRight, r2, g2, b2);
  // The gradient runs over the screen's pixels, one column each.
  const int left = S(x);
  const int width = S(x + w) - left;
  for (int i = 0; i < width; ++i) {
    auto mix = [&](uchar a, uchar b) {
      return static_cast<uchar>(a + (b - a) * i / std::max(1, width - 1));
    };
    fl_color(mix(r1, r2), mix(g1, g2), mix(b1, b2));
    fl_yxline(left + i, S(y), S(y + h) - 1);
  }
  SetFont(g_bold, kFontPixels);
  fl_color(FL_WHITE);
  Clip(x, y, w, h);
  DrawAt(caption, x + 3, y + (h + FontHeight()) / 2 - FontDescent());
  fl_pop_clip();
  SetFont(g_font, kFontPixels);
}

// The scroll bar's parts in its own coordinates.
struct ScrollParts {
  int arrow;        // height of each arrow button
  int trough_top;   // first pixel below the up arrow
  int trough_size;  // pixels between the arrows
  int thumb_top;    // relative to the control
  int thumb_size;
  int limit;  // the highest position the thumb can take
};

ScrollParts PartsOf(const ControlPicture& c, int drag_position) {
  ScrollParts p{};
  int h = c.rect.bottom - c.rect.top;
  p.arrow = std::min(kArrowSize, h / 2);
  p.trough_top = p.arrow;
  p.trough_size = std::max(0, h - 2 * p.arrow);
  int span = std::max(1, c.scroll.max - c.scroll.min + 1);
  p.limit = c.scroll.limit;
  p.thumb_size = c.scroll.page > 0 ? std::max(8, p.trough_size * c.scroll.page / span) : 8;
  p.thumb_size = std::min(p.thumb_size, p.trough_size);
  int pos = drag_position >= 0 ? drag_position : c.scroll.pos;
  int range = std::max(1, p.limit - c.scroll.min);
  p.thumb_top = p.trough_top + (pos - c.scroll.min) * (p.trough_size - p.thumb_size) / range;
  return p;
}

void Arrow(int x, int y, int w, int h, bool up, bool enabled) {
  Raised(x, y, w, h);
  fl_color(enabled ? kDarkShadow : kShadow);
  int cx = x + w / 2;
  int cy = y + h / 2;
  if (up) {
    Polygon(cx - 4, cy + 2, cx + 4, cy + 2, cx, cy - 2);
  } else {
    Polygon(cx - 4, cy - 2, cx + 4, cy - 2, cx, cy + 2);
  }
}

// --- the display lost ---

// The X connection breaks at any moment (the X server ends at logout, an
// ssh -X link drops, a client kills the window): from then on the view
// draws nothing and waits for nothing. A firmware write goes on to its end,
// a box shown meanwhile takes its default answer, and the program then ends
// as for a hang-up; outside a write it ends at once, the same way.
bool g_display_lost = false;
bool DisplayLost() { return g_display_lost; }

// --- the windows ---

class DesktopView;

constexpr int kFrame = dialog_model::kDialogFrame;
// The view's own status line below a dialog's frame: which drive the
// focused or checked row is, or why the window does not close.
constexpr int kStatusHeight = 20;
// The line a held request to stop gets (UTF-8), in every window's status
// line until the write is over; it takes up to this many rows there.
std::string g_held_line;
constexpr int kHeldRows = 3;
int StatusHeight() { return g_held_line.empty() ? kStatusHeight : kStatusHeight * kHeldRows; }
// How far the firmware write is (UTF-8), in every window's status line while
// the program works; empty outside a write.
std::string g_progress_line;

// The scale, and the model's screen made the real one in the model's
// pixels, so that the program's own centring puts a window in the middle of
// where the user looks.
void PlaceOnScreen() {
  g_scale = DesktopViewScale();
  g_area = DesktopWorkArea();
  dialog_model::SetScreenSize(M(g_area.width), M(g_area.height));
}

class DialogWindow final : public Fl_Double_Window {
 public:
  DialogWindow(DesktopView* view, HWND dialog, const DialogPicture& picture);
  void SetPicture(DialogPicture picture) {
    // The window keeps its own copy of the title: the picture's goes.
    if (picture.caption != picture_.caption) copy_label(picture.caption.c_str());
    picture_ = std::move(picture);
    status_ = view_support::DriveRowStatus(picture_);
    redraw();
  }
  const DialogPicture& picture() const { return picture_; }
  // Shown in the status line instead of the drive until the program next
  // waits for input; empty clears it.
  void SetNotice(std::string notice) {
    notice_ = std::move(notice);
    redraw();
  }
  const std::string& StatusText() const;
  // The model's rectangle that the window last took; the view follows the
  // window manager's and the user's moves after it.
  RECT placed{};

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  void DrawControl(const ControlPicture& c);
  const ControlPicture* ControlAt(int x, int y) const;  // client coordinates
  // The position of the held thumb for the pointer at client row y.
  int DragPosition(int y) const;
  int ClientX() const { return picture_.client.left - picture_.window.left; }
  // The close box of a dialog with a system menu, in window coordinates.
  RECT CloseBox() const {
    int right = Width() - kFrame - 2;
    return RECT{right - 16, kFrame + 2, right, kFrame + 16};
  }
  int ClientY() const { return picture_.client.top - picture_.window.top; }
  // The dialog's size in the model's pixels, the status line not counted.
  int Width() const { return picture_.window.right - picture_.window.left; }
  int Height() const { return picture_.window.bottom - picture_.window.top; }

  DesktopView* view_;
  HWND dialog_;
  DialogPicture picture_;
  int pressed_ = 0;      // the control a button-down landed on
  int dragging_ = 0;     // the scroll bar whose thumb is held
  int drag_offset_ = 0;  // where on the thumb it was taken
  int drag_position_ = -1;
  bool moving_ = false;  // the caption is held
  int move_dx_ = 0;      // where on the window it was taken
  int move_dy_ = 0;
  std::string status_;
  std::string notice_;
};

class BoxWindow final : public Fl_Double_Window {
 public:
  // At (x, y) on the screen, w x h of the model's pixels.
  BoxWindow(const dialog_model::MessageBoxRecord& box, int x, int y, int w, int h,
            std::vector<std::string> lines);
  int answer() const { return answer_; }
  // Screen rectangles of the buttons, for the layout record.
  std::vector<std::pair<std::string, RECT>> ButtonRects() const;

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  RECT ButtonRect(std::size_t i) const;

  dialog_model::MessageBoxRecord box_;
  std::vector<view_support::BoxButton> buttons_;
  std::vector<std::string> lines_;
  int width_;  // in the model's pixels
  int height_;
  std::size_t focus_ = 0;
  int pressed_ = -1;
  int answer_ = 0;
};

class DesktopView final : public dialog_model::User {
 public:
  bool Start(std::FILE* transcript, std::string* error);
  void Stop();
  bool Act(HWND dialog) override;
  int Answer(const dialog_model::MessageBoxRecord& box) override;
  void ScreenChanged();
  // Brings every window up to date with the model (and the held line).
  void Sync();
  // The transcript lines written since the last call, passed on to the
  // stream the view was given (and, once the display is lost, to standard
  // error too: the outcome must reach someone).
  void ForwardTranscript();
  // The box waiting for an answer when the display went (the outcome, say):
  // its transcript line again on standard error, before the default answer.
  void RepeatWaitingBox();
  // The program is at work and takes no input (an update).
  bool Busy() const { return !accepting_ && !answering_; }
  // Input from a window; dropped unless the program waits for it.
  void Give(std::function<void()> input) {
    // Input typed ahead of a quick response (a scroll) is kept; during a
    // long operation it is dropped, as the program has always done.
    if (accepting_ || std::chrono::steady_clock::now() - input_given_ < kTypeAhead)
      inputs_.push_back(std::move(input));
  }

 private:
  void RecordLayout(const char* what, HWND dialog);

  std::map<HWND, std::unique_ptr<DialogWindow>> windows_;
  std::deque<std::function<void()>> inputs_;
  bool accepting_ = false;
  bool answering_ = false;  // a message box waits
  std::chrono::steady_clock::time_point last_paint_{};
  std::chrono::steady_clock::time_point input_given_{};
  std::FILE* layout_ = nullptr;
  // The whole transcript, kept for last-run.log should the display be lost.
  std::FILE* out_ = nullptr;
  std::FILE* kept_ = nullptr;
  char* kept_text_ = nullptr;
  std::size_t kept_size_ = 0;
  std::size_t forwarded_ = 0;
};

DialogWindow::DialogWindow(DesktopView* view, HWND dialog, const DialogPicture& picture)
    : Fl_Double_Window(S(picture.window.left), S(picture.window.top),
                       S(picture.window.right - picture.window.left),
                       S(picture.window.bottom - picture.window.top + StatusHeight())),
      view_(view),
      dialog_(dialog),
      picture_(picture),
      status_(view_support::DriveRowStatus(picture)) {
  // The frame and caption are the dialog's own, drawn here, so that every
  // pixel stands where the model says.
  border(0);
  copy_label(picture_.caption.c_str());
  // No close box: closing from the window manager does nothing, but says so
  // while the program is busy, so the window does not look dead.
  callback([](Fl_Widget* widget, void*) {
    auto* window = static_cast<DialogWindow*>(widget);
    if (window->view_->Busy()) window->SetNotice(view_support::ViewLine(ViewText::kCannotClose));
  });
  end();
}

const std::string& DialogWindow::StatusText() const {
  // Behind a box (the outcome) the write is over as far as the user sees.
  if (!g_progress_line.empty() && view_->Busy()) return g_progress_line;
  return notice_.empty() ? status_ : notice_;
}

void DialogWindow::draw() {
  const int w = Width();
  const int status_height = StatusHeight();
  const int h = Height();
  SetFont(g_font, kFontPixels);
  // The status line: a sunken field under the frame, as a Windows status bar.
  fl_color(kFace);
  RectF(0, h, w, status_height);
  Sunken(1, h + 1, w - 2, status_height - 2);
  Clip(4, h + 2, w - 8, status_height - 4);
  if (!g_held_line.empty()) {
    // The held line, wrapped over the taller field, a little smaller.
    SetFont(g_font, kFontPixels - 2);
    auto lines = view_support::Wrap(g_held_line, w - 10, TextWidth);
    for (int i = 0; i < kHeldRows && i < static_cast<int>(lines.size()); ++i) {
      Text(lines[i], 5, h + kStatusHeight * i + (kStatusHeight + FontHeight()) / 2 - FontDescent(),
           true);
    }
  } else {
    // A line too long for a narrow dialog is drawn a little smaller.
    if (TextWidth(StatusText()) > w - 10) SetFont(g_font, kFontPixels - 2);
    Text(StatusText(), 5, h + (kStatusHeight + FontHeight()) / 2 - FontDescent(), true);
  }
  SetFont(g_font, kFontPixels);
  fl_pop_clip();
  fl_color(kFace);
  RectF(0, 0, w, h);
  Frame(0, 0, w, h, kLight, kDarkShadow);
  Frame(1, 1, w - 2, h - 2, kHighlight, kShadow);
  Caption(picture_.caption, kFrame, kFrame, w - 2 * kFrame);
  if (picture_.close_box) {
    RECT r = CloseBox();
    fl_color(kFace);
    RectF(r.left, r.top, r.right - r.left, r.bottom - r.top);
    Raised(r.left, r.top, r.right - r.left, r.bottom - r.top);
    fl_color(kDarkShadow);
    Line(r.left + 4, r.top + 3, r.right - 6, r.bottom - 4);
    Line(r.right - 6, r.top + 3, r.left + 4, r.bottom - 4);
  }
  for (const auto& op : picture_.painted) {
    if (op.kind != dialog_model::PaintOp::Kind::kFill) continue;
    fl_color(static_cast<uchar>(op.colour & 0xFF), static_cast<uchar>((op.colour >> 8) & 0xFF),
             static_cast<uchar>((op.colour >> 16) & 0xFF));
    RectF(ClientX() + op.rect.left, ClientY() + op.rect.top, op.rect.right - op.rect.left,
          op.rect.bottom - op.rect.top);
  }
  for (const ControlPicture& c : picture_.controls)
    if (c.visible) DrawControl(c);
}

// A line of text the program painted, in its band of the client area at
// (cx, cy).
void PaintedLine(std::string_view utf8, int cx, int cy, const RECT& band) {
  Clip(cx + band.left, cy + band.top, band.right - band.left, band.bottom - band.top);
  fl_color(kDarkShadow);
  DrawAt(utf8, cx + band.left, cy + band.top + FontHeight() - FontDescent());
  fl_pop_clip();
}

void DialogWindow::DrawControl(const ControlPicture& c) {
  const int x = ClientX() + c.rect.left;
  const int y = ClientY() + c.rect.top;
  const int w = c.rect.right - c.rect.left;
  const int h = c.rect.bottom - c.rect.top;
  SetFont(g_font, kFontPixels);
  switch (c.face) {
    case Face::kPushButton:
    case Face::kDefaultButton: {
      bool pressed = pressed_ == c.id && c.enabled;
      int bx = x, by = y, bw = w, bh = h;
      fl_color(kFace);
      RectF(x, y, w, h);
      if (c.face == Face::kDefaultButton || c.focused) {
        fl_color(kDarkShadow);
        Outline(x, y, w, h);
        bx += 1, by += 1, bw -= 2, bh -= 2;
      }
      if (pressed) {
        Frame(bx, by, bw, bh, kShadow, kShadow);
      } else {
        Raised(bx, by, bw, bh);
      }
      int shift = pressed ? 1 : 0;
      TextBlock(c.text, bx + 2 + shift, by + 2 + shift, bw - 4, bh - 4, true, true, c.enabled);
      if (c.focused) DottedRect(bx + 3, by + 3, bw - 6, bh - 6);
      break;
    }
    case Face::kRadioButton: {
      const int d = 12;
      int cy = y + (h - d) / 2;
      fl_color(kShadow);
      Arc(x, cy, d, d, 45, 225);
      fl_color(kHighlight);
      Arc(x, cy, d, d, 225, 405);
      fl_color(c.enabled ? kHighlight : kFace);
      Pie(x + 2, cy + 2, d - 4, d - 4);
      fl_color(kDarkShadow);
      Arc(x + 1, cy + 1, d - 2, d - 2, 45, 225);
      if (c.checked) {
        fl_color(c.enabled ? kDarkShadow : kShadow);
        Pie(x + 4, cy + 4, 4, 4);
      }
      int tx = x + d + 4;
      TextBlock(c.text, tx, y, w - (tx - x), h, true, false, c.enabled);
      if (c.focused)
        DottedRect(tx - 1, y + (h - FontHeight()) / 2 - 1, TextWidth(c.text) + 3, FontHeight() + 2);
      break;
    }
    case Face::kText:
      if (c.centre_vertically) {
        // One line, as Windows draws a static centred vertically.
        Clip(x, y, w, h);
        Text(c.text, x, y + (h + FontHeight()) / 2 - FontDescent(), c.enabled);
        fl_pop_clip();
      } else {
        TextBlock(c.text, x, y, w, h, false, false, c.enabled);
      }
      break;
    case Face::kSunkenFrame:
      Frame(x, y, w, h, kShadow, kHighlight);
      break;
    case Face::kTextArea:
      fl_color(kDarkShadow);
      Outline(x, y, w, h);
      Sunken(x + 1, y + 1, w - 2, h - 2);
      break;
    case Face::kScrollBar: {
      ScrollParts p = PartsOf(c, dragging_ == c.id ? drag_position_ : -1);
      fl_color(fl_rgb_color(224, 224, 224));
      RectF(x, y, w, h);
      Arrow(x, y, w, p.arrow, true, c.enabled);
      Arrow(x, y + h - p.arrow, w, p.arrow, false, c.enabled);
      if (p.trough_size > 0 && c.enabled) {
        fl_color(kFace);
        RectF(x, y + p.thumb_top, w, p.thumb_size);
        Raised(x, y + p.thumb_top, w, p.thumb_size);
      }
      if (c.focused) DottedRect(x + 2, y + p.thumb_top + 2, w - 4, p.thumb_size - 4);
      break;
    }
    case Face::kOther:
      break;
  }
  // What the program painted into the control's client area.
  int cx = ClientX() + c.client.left;
  int cy = ClientY() + c.client.top;
  Clip(cx, cy, c.client.right - c.client.left, c.client.bottom - c.client.top);
  // A text area's lines go over its fills, wrapped to its width.
  const bool area = c.face == Face::kTextArea;
  for (const auto& op : c.painted) {
    if (op.kind == dialog_model::PaintOp::Kind::kFill) {
      fl_color(static_cast<uchar>(op.colour & 0xFF), static_cast<uchar>((op.colour >> 8) & 0xFF),
               static_cast<uchar>((op.colour >> 16) & 0xFF));
      RectF(cx + op.rect.left, cy + op.rect.top, op.rect.right - op.rect.left,
            op.rect.bottom - op.rect.top);
    } else if (!area) {
      PaintedLine(Cp932ToUtf8(op.text), cx, cy, op.rect);
    }
  }
  if (area) {
    auto text = view_support::TextAreaLines(c, c.client.right - c.client.left, TextWidth);
    for (std::size_t i = 0; i < text.lines.size(); ++i)
      PaintedLine(text.lines[i], cx, cy, text.bands[i]);
  }
  fl_pop_clip();
}

const ControlPicture* DialogWindow::ControlAt(int x, int y) const {
  for (auto it = picture_.controls.rbegin(); it != picture_.controls.rend(); ++it)
    if (it->visible && x >= it->rect.left && x < it->rect.right && y >= it->rect.top &&
        y < it->rect.bottom)
      return &*it;
  return nullptr;
}

int DialogWindow::DragPosition(int y) const {
  for (const ControlPicture& c : picture_.controls) {
    if (c.id != dragging_ || c.face != Face::kScrollBar) continue;
    ScrollParts p = PartsOf(c, -1);
    int room = std::max(1, p.trough_size - p.thumb_size);
    int top = y - c.rect.top - drag_offset_ - p.trough_top;
    return c.scroll.min + std::clamp(top, 0, room) * (p.limit - c.scroll.min) / room;
  }
  return 0;
}

int DialogWindow::handle(int event) {
  // The pointer in the model's pixels of the window and of its client area.
  const int ex = M(Fl::event_x());
  const int ey = M(Fl::event_y());
  const int x = ex - ClientX();
  const int y = ey - ClientY();
  HWND dialog = dialog_;
  switch (event) {
    case FL_FOCUS:
    case FL_UNFOCUS:
    case FL_ENTER:
    case FL_LEAVE:
    case FL_MOVE:
      return 1;
    case FL_PUSH: {
      if (Fl::event_button() != FL_LEFT_MOUSE) return 1;
      if (picture_.close_box) {
        // Closing a dialog is its cancel command, as Escape gives it.
        RECT r = CloseBox();
        if (ex >= r.left && ex < r.right && ey >= r.top && ey < r.bottom) {
          view_->Give([=] { dialog_model::PressKey(dialog, VK_ESCAPE); });
          return 1;
        }
      }
      if (ey >= kFrame && ey < ClientY()) {
        // The drawn caption moves the window, as a title bar does.
        moving_ = true;
        move_dx_ = Fl::event_x_root() - this->x();
        move_dy_ = Fl::event_y_root() - this->y();
        return 1;
      }
      const ControlPicture* c = ControlAt(x, y);
      if (c == nullptr) return 1;
      int id = c->id;
      if (c->face == Face::kScrollBar) {
        ScrollParts p = PartsOf(*c, -1);
        int at = y - c->rect.top;
        int h = c->rect.bottom - c->rect.top;
        if (at < p.arrow) {
          view_->Give([=] { dialog_model::Scroll(dialog, id, SB_LINEUP); });
        } else if (at >= h - p.arrow) {
          view_->Give([=] { dialog_model::Scroll(dialog, id, SB_LINEDOWN); });
        } else if (at < p.thumb_top) {
          view_->Give([=] { dialog_model::Scroll(dialog, id, SB_PAGEUP); });
        } else if (at >= p.thumb_top + p.thumb_size) {
          view_->Give([=] { dialog_model::Scroll(dialog, id, SB_PAGEDOWN); });
        } else {
          dragging_ = id;
          drag_offset_ = at - p.thumb_top;
          drag_position_ = c->scroll.pos;
        }
        return 1;
      }
      pressed_ = c->enabled ? id : 0;
      redraw();
      return 1;
    }
    case FL_DRAG:
      if (moving_) {
        position(Fl::event_x_root() - move_dx_, Fl::event_y_root() - move_dy_);
        return 1;
      }
      if (dragging_ != 0) {
        drag_position_ = DragPosition(y);
        redraw();
      }
      return 1;
    case FL_RELEASE: {
      if (moving_) {
        moving_ = false;
        return 1;
      }
      if (dragging_ != 0) {
        int id = dragging_;
        int position = DragPosition(y);
        dragging_ = 0;
        drag_position_ = -1;
        view_->Give([=] { dialog_model::DragThumb(dialog, id, position); });
        return 1;
      }
      const ControlPicture* c = ControlAt(x, y);
      int pressed = pressed_;
      pressed_ = 0;
      redraw();
      if (c != nullptr && c->id == pressed)
        view_->Give([=] { dialog_model::Click(dialog, pressed); });
      return 1;
    }
    case FL_MOUSEWHEEL: {
      for (const ControlPicture& c : picture_.controls) {
        if (c.face != Face::kScrollBar || !c.visible) continue;
        int id = c.id;
        int request = Fl::event_dy() < 0 ? SB_LINEUP : SB_LINEDOWN;
        for (int i = 0; i < kWheelLines; ++i)
          view_->Give([=] { dialog_model::Scroll(dialog, id, request); });
        break;
      }
      return 1;
    }
    case FL_SHORTCUT:
    case FL_KEYBOARD: {
      UINT key = 0;
      switch (Fl::event_key()) {
        case FL_Tab: {
          bool backwards = Fl::event_state(FL_SHIFT) != 0;
          view_->Give([=] { view_support::MoveFocus(dialog, backwards); });
          return 1;
        }
        case FL_Enter:
        case FL_KP_Enter:
          key = VK_RETURN;
          break;
        case FL_Escape:
          key = VK_ESCAPE;
          break;
        case ' ':
          key = VK_SPACE;
          break;
        case FL_Up:
          key = VK_UP;
          break;
        case FL_Down:
          key = VK_DOWN;
          break;
        case FL_Left:
          key = VK_LEFT;
          break;
        case FL_Right:
          key = VK_RIGHT;
          break;
        case FL_Page_Up:
          key = VK_PRIOR;
          break;
        case FL_Page_Down:
          key = VK_NEXT;
          break;
        case FL_Home:
          key = VK_HOME;
          break;
        case FL_End:
          key = VK_END;
          break;
        default:
          return 1;
      }
      view_->Give([=] { dialog_model::PressKey(dialog, key); });
      return 1;
    }
    default:
      return Fl_Double_Window::handle(event);
  }
}

BoxWindow::BoxWindow(const dialog_model::MessageBoxRecord& box, int x, int y, int w, int h,
                     std::vector<std::string> lines)
    : Fl_Double_Window(x, y, S(w), S(h)),
      box_(box),
      buttons_(view_support::BoxButtons(box)),
      lines_(std::move(lines)),
      width_(w),
      height_(h) {
  border(0);
  callback([](Fl_Widget*, void*) {});
  end();
}

constexpr int kBoxButtonWidth = 75;
constexpr int kBoxButtonHeight = 23;
constexpr int kBoxMargin = 12;
// A box's text is wrapped to this width.
constexpr int kBoxTextWidth = 480;

RECT BoxWindow::ButtonRect(std::size_t i) const {
  int count = static_cast<int>(buttons_.size());
  int total = count * kBoxButtonWidth + (count - 1) * 6;
  int left = (width_ - total) / 2 + static_cast<int>(i) * (kBoxButtonWidth + 6);
  int top = height_ - kFrame - kBoxMargin - kBoxButtonHeight;
  return RECT{left, top, left + kBoxButtonWidth, top + kBoxButtonHeight};
}

std::vector<std::pair<std::string, RECT>> BoxWindow::ButtonRects() const {
  std::vector<std::pair<std::string, RECT>> out;
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    RECT r = ButtonRect(i);
    out.push_back({buttons_[i].label,
                   RECT{S(r.left) + x(), S(r.top) + y(), S(r.right) + x(), S(r.bottom) + y()}});
  }
  return out;
}

void BoxWindow::draw() {
  SetFont(g_font, kFontPixels);
  fl_color(kFace);
  RectF(0, 0, width_, height_);
  Frame(0, 0, width_, height_, kLight, kDarkShadow);
  Frame(1, 1, width_ - 2, height_ - 2, kHighlight, kShadow);
  Caption(Cp932ToUtf8(box_.caption), kFrame, kFrame, width_ - 2 * kFrame);
  int top = kFrame + dialog_model::kCaptionHeight + kBoxMargin;
  // The exclamation sign of the box's style.
  int icon = 0;
  if ((box_.style & 0xF0) == MB_ICONEXCLAMATION) {
    icon = 32 + kBoxMargin;
    int ix = kFrame + kBoxMargin;
    fl_color(fl_rgb_color(255, 255, 0));
    Polygon(ix + 16, top, ix, top + 30, ix + 32, top + 30);
    fl_color(kDarkShadow);
    Loop(ix + 16, top, ix, top + 30, ix + 32, top + 30);
    RectF(ix + 15, top + 9, 3, 12);
    RectF(ix + 15, top + 24, 3, 3);
  }
  for (std::size_t i = 0; i < lines_.size(); ++i)
    Text(lines_[i], kFrame + kBoxMargin + icon,
         top + static_cast<int>(i + 1) * FontHeight() - FontDescent(), true);
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    RECT r = ButtonRect(i);
    int bx = r.left, by = r.top, bw = r.right - r.left, bh = r.bottom - r.top;
    if (i == focus_) {
      fl_color(kDarkShadow);
      Outline(bx, by, bw, bh);
      bx += 1, by += 1, bw -= 2, bh -= 2;
    }
    if (pressed_ == static_cast<int>(i)) {
      Frame(bx, by, bw, bh, kShadow, kShadow);
    } else {
      Raised(bx, by, bw, bh);
    }
    TextBlock(buttons_[i].label, bx, by, bw, bh, true, true, true);
    if (i == focus_) DottedRect(bx + 3, by + 3, bw - 6, bh - 6);
  }
}

int BoxWindow::handle(int event) {
  auto at = [&]() -> int {
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
      RECT r = ButtonRect(i);
      const int x = M(Fl::event_x());
      const int y = M(Fl::event_y());
      if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return static_cast<int>(i);
    }
    return -1;
  };
  switch (event) {
    case FL_FOCUS:
    case FL_UNFOCUS:
    case FL_ENTER:
    case FL_LEAVE:
    case FL_MOVE:
    case FL_DRAG:
      return 1;
    case FL_PUSH:
      pressed_ = at();
      redraw();
      return 1;
    case FL_RELEASE: {
      int released = at();
      if (released >= 0 && released == pressed_)
        answer_ = buttons_[static_cast<std::size_t>(released)].answer;
      pressed_ = -1;
      redraw();
      return 1;
    }
    case FL_SHORTCUT:
    case FL_KEYBOARD: {
      using view_support::BoxKey;
      BoxKey key;
      switch (Fl::event_key()) {
        case FL_Tab:
          key = Fl::event_state(FL_SHIFT) != 0 ? BoxKey::kPrevious : BoxKey::kNext;
          break;
        case FL_Left:
          key = BoxKey::kPrevious;
          break;
        case FL_Right:
          key = BoxKey::kNext;
          break;
        case FL_Enter:
        case FL_KP_Enter:
        case ' ':
          key = BoxKey::kPress;
          break;
        case FL_Escape:
          key = BoxKey::kClose;
          break;
        default:
          return 1;
      }
      answer_ = view_support::BoxKeyAnswer(box_, key, &focus_);
      redraw();
      return 1;
    }
    default:
      return Fl_Double_Window::handle(event);
  }
}

DesktopView* g_desktop = nullptr;

void OnDisplayLost() {
  if (g_display_lost) return;
  g_display_lost = true;
  const bool writing = SignalHold::Instance().held();
  std::fputs(writing ? "quorvanta: the display was lost; the firmware write goes on to its end, "
                       "and what the run shows is kept in last-run.log in the state directory\n"
                     : "quorvanta: the display was lost\n",
             stderr);
  std::fflush(stderr);
  if (g_desktop != nullptr) g_desktop->RepeatWaitingBox();
  // Returns only during a write.
  SignalHold::Instance().Lose();
}

// The program's icon for the window manager and the taskbar: a disc with
// its hole and a blue sector, drawn once.
const Fl_RGB_Image& Icon() {
  constexpr int kSize = 32;
  static uchar pixels[kSize * kSize * 4];
  static Fl_RGB_Image icon(pixels, kSize, kSize, 4);
  static bool drawn = false;
  if (drawn) return icon;
  drawn = true;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      uchar* p = pixels + (y * kSize + x) * 4;
      int dx = 2 * x + 1 - kSize;
      int dy = 2 * y + 1 - kSize;
      int r2 = dx * dx + dy * dy;  // in half pixels
      bool disc = r2 <= (kSize - 2) * (kSize - 2) && r2 > 8 * 8;
      bool sector = disc && dx > 0 && dy < 0;
      p[0] = sector ? 0 : 192;
      p[1] = sector ? 0 : 192;
      p[2] = sector ? 255 : 200;
      p[3] = disc ? 255 : 0;
    }
  }
  return icon;
}

// The transcript, and for a power request that this host does not carry
// out, a box that tells the user what to do instead.
void OnEvent(const PlatformEvent& event) {
  if (event.kind == PlatformEventKind::kWriteProgress) {
    g_progress_line = Cp932ToUtf8(event.text);
    if (g_desktop != nullptr) g_desktop->Sync();
    return;
  }
  WriteTranscriptEvent(event);
  if (g_desktop != nullptr) g_desktop->ForwardTranscript();
  if (event.kind == PlatformEventKind::kWriteHeld) {
    g_held_line = Cp932ToUtf8(event.text);
    if (g_desktop != nullptr) g_desktop->Sync();
    return;
  }
  if (event.kind == PlatformEventKind::kPowerNotCarriedOut && g_desktop != nullptr)
    g_desktop->Answer(view_support::PowerNoticeBox(event.text));
}

bool DesktopView::Start(std::FILE* transcript, std::string* error) {
  if (!DesktopAvailable()) {
    *error = ViewLine(ViewText::kNoDisplay, view_support::AnswerSources().c_str());
    return false;
  }
  fl_open_display();
  CloseDesktopProbe();
  PlaceOnScreen();
  SetUpFonts();
  Fl::visual(FL_DOUBLE | FL_RGB);
  // The window manager's class for the windows (WM_CLASS quorvanta,
  // Quorvanta), and their icon.
  Fl_Window::default_xclass("quorvanta");
  Fl_Window::default_icon(&Icon());
  g_display_lost = false;
  WatchForLostDisplay(OnDisplayLost);
  out_ = transcript;
  kept_ = open_memstream(&kept_text_, &kept_size_);
  SetTranscript(kept_ != nullptr ? kept_ : transcript);
  SetPlatformEventSink(OnEvent);
  if (const char* path = std::getenv("QV_VIEW_LAYOUT"); path != nullptr && *path != '\0')
    layout_ = std::fopen(path, "w");
  return true;
}

void DesktopView::Stop() {
  if (g_display_lost) {
    // Nothing is sent over a broken connection: the windows go with the
    // process.
    for (auto& entry : windows_) static_cast<void>(entry.second.release());
    windows_.clear();
  } else {
    windows_.clear();
    Fl::flush();
  }
  if (layout_ != nullptr) std::fclose(layout_);
  layout_ = nullptr;
  SetTranscript(nullptr);
  if (kept_ != nullptr) {
    ForwardTranscript();
    std::fclose(kept_);
    kept_ = nullptr;
    if (g_display_lost && kept_text_ != nullptr) view_support::KeepLastRun(kept_text_, kept_size_);
    std::free(kept_text_);
    kept_text_ = nullptr;
  }
}

// Whether two streams write to the same file (standard output and error on
// one terminal): a line goes to it once.
bool SameFile(std::FILE* a, std::FILE* b) {
  if (a == nullptr || b == nullptr) return a == b;
  struct stat sa {};
  struct stat sb {};
  return ::fstat(fileno(a), &sa) == 0 && ::fstat(fileno(b), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void DesktopView::ForwardTranscript() {
  if (kept_ == nullptr) return;
  std::fflush(kept_);
  if (kept_text_ == nullptr || kept_size_ <= forwarded_) return;
  const char* fresh = kept_text_ + forwarded_;
  const std::size_t size = kept_size_ - forwarded_;
  forwarded_ = kept_size_;
  if (out_ != nullptr) {
    std::fwrite(fresh, 1, size, out_);
    std::fflush(out_);
  }
  if (g_display_lost && !SameFile(out_, stderr)) {
    std::fwrite(fresh, 1, size, stderr);
    std::fflush(stderr);
  }
}

void DesktopView::RepeatWaitingBox() {
  if (!answering_ || kept_ == nullptr) return;
  std::fflush(kept_);
  if (kept_text_ == nullptr || SameFile(out_, stderr)) return;
  std::string_view text(kept_text_, kept_size_);
  if (text.empty() || text.back() != '\n') return;
  text.remove_suffix(1);
  const std::size_t start = text.rfind('\n') + 1;  // npos + 1: the first line
  const std::string_view line = text.substr(start);
  if (line.rfind("message: ", 0) != 0) return;
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void DesktopView::Sync() {
  if (g_display_lost) return;
  std::vector<HWND> open = dialog_model::OpenDialogs();
  for (auto it = windows_.begin(); it != windows_.end();) {
    if (std::find(open.begin(), open.end(), it->first) == open.end()) {
      it = windows_.erase(it);
    } else {
      ++it;
    }
  }
  for (HWND dialog : open) {
    DialogPicture picture = view_support::Snapshot(dialog);
    auto& window = windows_[dialog];
    bool fresh = !window;
    if (fresh) {
      window = std::make_unique<DialogWindow>(this, dialog, picture);
      window->placed = picture.window;
    }
    // The model's rectangle places the window; after that the window stays
    // where the window manager or the user put it, and the model learns the
    // move, unless the program itself moves the dialog again.
    RECT r = picture.window;
    const RECT& placed = window->placed;
    bool program_moved = r.left != placed.left || r.top != placed.top;
    if (!fresh && !program_moved &&
        (window->x() != ScreenX(r.left) || window->y() != ScreenY(r.top))) {
      dialog_model::MovedByUser(dialog, ModelX(window->x()), ModelY(window->y()));
      picture = view_support::Snapshot(dialog);
      r = picture.window;
    }
    window->placed = r;
    const int width = S(r.right - r.left);
    const int height = S(r.bottom - r.top + StatusHeight());
    int left = ScreenX(r.left);
    int top = ScreenY(r.top);
    if (fresh || window->h() != height) KeepInside(&left, &top, width, height);
    if (window->x() != left || window->y() != top || window->w() != width || window->h() != height)
      window->resize(left, top, width, height);
    window->SetPicture(std::move(picture));
    if (fresh) {
      window->show();
      if (!WaitForExposeUnlessLost(window.get(), DisplayLost)) return;
      PresentDesktopWindow(window.get());
    }
  }
  Fl::flush();
  SyncDesktop();
  last_paint_ = std::chrono::steady_clock::now();
}

// For tests and screenshots: where the model put each window and control, in
// screen pixels, with their state, every time the program waits.
void DesktopView::RecordLayout(const char* what, HWND dialog) {
  if (layout_ == nullptr) return;
  DialogPicture d = view_support::Snapshot(dialog);
  std::fprintf(layout_, "%s %s %ld %ld %ld %ld\n", what, dialog_model::TemplateName(dialog).c_str(),
               static_cast<long>(d.window.left), static_cast<long>(d.window.top),
               static_cast<long>(d.window.right - d.window.left),
               static_cast<long>(d.window.bottom - d.window.top));
  if (auto it = windows_.find(dialog); it != windows_.end())
    std::fprintf(layout_, "status %ld %ld %ld %d %s\n", static_cast<long>(d.window.left),
                 static_cast<long>(d.window.bottom),
                 static_cast<long>(d.window.right - d.window.left), StatusHeight(),
                 g_held_line.empty() ? it->second->StatusText().c_str() : g_held_line.c_str());
  for (const ControlPicture& c : d.controls) {
    int bar = dialog_model::PaintedWidth(c.handle, 0xFF0000);
    std::fprintf(
        layout_, "control %d %ld %ld %ld %ld %s%s%s%s pos=%d bar=%d text=%zu\n", c.id,
        static_cast<long>(d.client.left + c.rect.left),
        static_cast<long>(d.client.top + c.rect.top), static_cast<long>(c.rect.right - c.rect.left),
        static_cast<long>(c.rect.bottom - c.rect.top), c.visible ? "v" : "-", c.enabled ? "e" : "-",
        c.checked ? "c" : "-", c.focused ? "f" : "-", c.scroll.pos, bar, c.text.size());
  }
  std::fflush(layout_);
}

bool DesktopView::Act(HWND dialog) {
  view_support::KeepFocusUsable(dialog);
  for (auto& [handle, window] : windows_) window->SetNotice("");
  Sync();
  RecordLayout("wait", dialog);
  accepting_ = true;
  while (inputs_.empty() && !g_display_lost) {
    if (Fl::wait() < 0) break;
    if (Fl::first_window() == nullptr) break;
  }
  accepting_ = false;
  if (inputs_.empty()) return false;
  auto input = std::move(inputs_.front());
  inputs_.pop_front();
  input_given_ = std::chrono::steady_clock::now();
  input();
  return true;
}

int DesktopView::Answer(const dialog_model::MessageBoxRecord& box) {
  Sync();
  if (g_display_lost) return view_support::CloseAnswer(box);
  SetFont(g_font, kFontPixels);
  std::string text = Cp932ToUtf8(box.text);
  auto lines = view_support::Wrap(text, kBoxTextWidth, TextWidth);
  int text_width = 0;
  for (const auto& line : lines) text_width = std::max(text_width, TextWidth(line));
  int icon = (box.style & 0xF0) == MB_ICONEXCLAMATION ? 32 + kBoxMargin : 0;
  int buttons = static_cast<int>(view_support::BoxButtons(box).size());
  int width = std::max({icon + text_width + 2 * kBoxMargin,
                        buttons * (kBoxButtonWidth + 6) + 2 * kBoxMargin,
                        TextWidth(Cp932ToUtf8(box.caption)) + 40}) +
              2 * kFrame;
  int height = kFrame * 2 + dialog_model::kCaptionHeight + kBoxMargin * 3 + kBoxButtonHeight +
               std::max(static_cast<int>(lines.size()) * FontHeight(), icon > 0 ? 32 : 0);
  // Over the dialog it belongs to, where that window stands now (the user
  // may have moved it), else over the work area; never off it.
  std::vector<HWND> open = dialog_model::OpenDialogs();
  DialogWindow* owner = nullptr;
  if (auto it = open.empty() ? windows_.end() : windows_.find(open.back()); it != windows_.end())
    owner = it->second.get();
  const int screen_width = S(width);
  const int screen_height = S(height);
  int x = owner != nullptr ? owner->x() + (owner->w() - screen_width) / 2
                           : g_area.x + (g_area.width - screen_width) / 2;
  int y = owner != nullptr ? owner->y() + (owner->h() - screen_height) / 2
                           : g_area.y + (g_area.height - screen_height) / 2;
  x = std::clamp(x, g_area.x, g_area.x + std::max(0, g_area.width - screen_width));
  y = std::clamp(y, g_area.y, g_area.y + std::max(0, g_area.height - screen_height));
  BoxWindow window(box, x, y, width, height, std::move(lines));
  if (owner != nullptr) window.set_modal();
  window.show();
  if (!WaitForExposeUnlessLost(&window, DisplayLost)) return view_support::CloseAnswer(box);
  PresentDesktopWindow(&window);
  Fl::flush();
  SyncDesktop();
  if (layout_ != nullptr) {
    std::fprintf(layout_, "box %d %d %d %d\n", x, y, screen_width, screen_height);
    for (const auto& [label, r] : window.ButtonRects())
      std::fprintf(layout_, "button %s %ld %ld %ld %ld\n", label.c_str(), static_cast<long>(r.left),
                   static_cast<long>(r.top), static_cast<long>(r.right - r.left),
                   static_cast<long>(r.bottom - r.top));
    std::fflush(layout_);
  }
  answering_ = true;
  while (window.answer() == 0 && !g_display_lost) {
    if (Fl::wait() < 0) break;
  }
  answering_ = false;
  if (g_display_lost) return view_support::CloseAnswer(box);
  int answer = window.answer() != 0 ? window.answer() : view_support::CloseAnswer(box);
  window.hide();
  // The keyboard goes back to the dialog under the box, not to the root
  // window that X hands it to when the box goes.
  if (owner != nullptr) PresentDesktopWindow(owner);
  Fl::flush();
  return answer;
}

void DesktopView::ScreenChanged() {
  // Painting while the program is busy: bring the windows up to date at most
  // every frame; events are handled so the windows stay drawn, but any input
  // they carry is dropped (accepting_ is false).
  // While the layout is recorded every change is drawn and recorded, so a
  // test can follow the bar through an update that virtual time makes short.
  if (g_display_lost) return;
  auto now = std::chrono::steady_clock::now();
  if (layout_ == nullptr && now - last_paint_ < std::chrono::milliseconds(15)) return;
  Sync();
  Fl::check();
  std::vector<HWND> open = dialog_model::OpenDialogs();
  if (!open.empty()) RecordLayout("paint", open.back());
}

std::unique_ptr<DesktopView>& TheDesktop() {
  static std::unique_ptr<DesktopView> view;
  return view;
}

}  // namespace

bool StartDesktopView(std::FILE* transcript, std::string* error) {
  auto& view = TheDesktop();
  view = std::make_unique<DesktopView>();
  g_desktop = view.get();
  if (!view->Start(transcript, error)) {
    g_desktop = nullptr;
    view.reset();
    return false;
  }
  dialog_model::SetUser(view.get());
  dialog_model::SetScreenListener([v = view.get()] { v->ScreenChanged(); });
  return true;
}

void FinishDesktopView() {
  auto& view = TheDesktop();
  dialog_model::SetUser(nullptr);
  dialog_model::SetScreenListener(nullptr);
  if (view) view->Stop();
  g_desktop = nullptr;
  view.reset();
}

double DesktopViewScale() {
  const view_support::LargestDialogs largest = view_support::LargestDialogsOfRun();
  // The program centres a dialog on the screen; the status line hangs below
  // it and the main dialog grows down by its drive rows. The height that
  // must fit is twice the larger reach below the screen's middle. (The held
  // line's taller status line, during a write, is kept inside by Sync.)
  const int agreement_below = (largest.agreement.height + 1) / 2 + kStatusHeight;
  const int main_below = (largest.main.height + 1) / 2 + largest.main_grows_by + kStatusHeight;
  // A box is at most its text's width, its icon and margins wide.
  const int widest_box = kBoxTextWidth + 32 + 3 * kBoxMargin + 2 * kFrame;
  return DesktopScale(std::max({largest.agreement.width, largest.main.width, widest_box}),
                      2 * std::max(agreement_below, main_below));
}
